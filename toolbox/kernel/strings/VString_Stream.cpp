// The stream form of VString. Lengths read from a stream are outside input: nothing is allocated
// for more than the stream can still deliver, and a stream that cannot tell its size is read in
// bounded chunks, so a lying length never reserves more than about what it delivered.

#include "toolbox/kernel/base/ByteSwap.h"
#include "toolbox/kernel/streams/VStream.h"
#include "toolbox/kernel/strings/VString.h"

#include <algorithm>

namespace zorn
{

namespace
{

// Units asked for at once from a stream that cannot tell how much it still holds.
constexpr int64_t kChunkUnits = 64 * 1024;
// The longest text a string can hold.
constexpr int64_t kMaxUnits = 0x7FFFFFFC;

// Bytes the stream can still deliver; -1 when it cannot tell (its size lies before the position).
int64_t Available(VStream& ioStream)
{
    int64_t size = ioStream.GetSize();
    int64_t position = ioStream.GetPos();
    return size >= position ? size - position : -1;
}

bool ReadInt32(VStream& ioStream, int32_t& outValue)
{
    int32_t value = 0;
    size_t count = 0;
    if (ioStream.GetData(&value, sizeof(value), &count) != VE_OK || count != sizeof(value))
    {
        return false;
    }
    outValue = ioStream.NeedSwap() ? ByteSwapped(value) : value;
    return true;
}

// Reads up to inWanted units into ioString, replacing its content; ioString ends up with the units
// read. Never asks for more than the stream can deliver plus one unit (so that a short stream
// reports its end), or a chunk when it cannot tell. False when the string could not grow ('zorn'
// 107 raised); the units read so far are then kept.
bool ReadUnits(VStream& ioStream, VString& ioString, int64_t inWanted)
{
    int32_t read = 0;
    bool first = true;
    while (read < inWanted)
    {
        int64_t available = Available(ioStream);
        int64_t limit = available >= 0 ? available / 2 + 1 : kChunkUnits;
        int64_t chunk = std::min({inWanted - read, limit, kMaxUnits - read});
        if (chunk <= 0)
        {
            _ThrowError(VE_STRING_ALLOC_FAILED); // longer than any string
            return false;
        }
        int32_t size = read + static_cast<int32_t>(chunk);
        if (!ioString.EnsureSize(size, !first))
        {
            return false;
        }
        first = false;
        UniChar* units = ioString.GetCPointerForWrite(size);
        int32_t count = static_cast<int32_t>(chunk);
        ioStream.GetWords(reinterpret_cast<int16_t*>(units + read), &count);
        read += count;
        ioString.Validate(read);
        if (count < chunk || ioStream.GetLastError() != VE_OK)
        {
            break;
        }
    }
    if (first)
    {
        ioString.Validate(0);
    }
    return true;
}

// Moves past inBytes bytes: by position within what the stream holds, else by reading through
// them, so that a stream that would grow when positioned past its end never does.
void Skip(VStream& ioStream, int64_t inBytes)
{
    if (inBytes <= 0)
    {
        return;
    }
    int64_t available = Available(ioStream);
    if (available >= inBytes)
    {
        ioStream.SetPosByOffset(inBytes);
        return;
    }
    char scratch[4096];
    while (inBytes > 0 && ioStream.GetLastError() == VE_OK)
    {
        size_t wanted = static_cast<size_t>(std::min<int64_t>(inBytes, sizeof(scratch)));
        size_t count = 0;
        ioStream.GetData(scratch, wanted, &count);
        inBytes -= static_cast<int64_t>(count);
        if (count < wanted)
        {
            break;
        }
    }
}

} // namespace

VError VString::WriteToStream(VStream* ioStream, int32_t) const
{
    if (ioStream == nullptr)
    {
        return VE_OK;
    }
    int32_t negated = -fLength;
    if (ioStream->NeedSwap())
    {
        negated = ByteSwapped(negated);
    }
    if (ioStream->PutData(&negated, sizeof(negated)) == VE_OK && fLength > 0)
    {
        ioStream->PutWords(reinterpret_cast<const int16_t*>(fString), fLength);
    }
    return ioStream->GetLastError();
}

VError VString::ReadFromStream(VStream* ioStream, int32_t)
{
    if (ioStream == nullptr)
    {
        return VE_OK;
    }
    int32_t first = 0;
    if (!ReadInt32(*ioStream, first))
    {
        return ioStream->GetLastError();
    }
    if (first == 0)
    {
        Clear();
        return ioStream->GetLastError();
    }
    if (first < 0)
    {
        // In 64 bits: INT32_MIN negated does not fit an int32.
        if (!ReadUnits(*ioStream, *this, -static_cast<int64_t>(first)))
        {
            Clear();
            return ioStream->GetLastError() != VE_OK ? ioStream->GetLastError() : VE_STRING_ALLOC_FAILED;
        }
        return ioStream->GetLastError();
    }

    // The older form: a positive length and a form code.
    int32_t code = 0;
    if (!ReadInt32(*ioStream, code))
    {
        return ioStream->GetLastError();
    }
    const int64_t length = first;
    if (code != 1 && code != 2)
    {
        Skip(*ioStream, length + 1); // one byte a character: not read
        return ioStream->GetLastError();
    }
    // Read apart, so that a string that cannot grow is left as it was.
    VString text;
    if (!ReadUnits(*ioStream, text, length + 1))
    {
        Skip(*ioStream, 2 * (length + 1 - text.GetLength()));
        return ioStream->GetLastError() != VE_OK ? ioStream->GetLastError() : VE_STRING_ALLOC_FAILED;
    }
    if (text.GetLength() > length)
    {
        text.Truncate(static_cast<int32_t>(length)); // the terminator
    }
    *this = std::move(text);
    return ioStream->GetLastError();
}

size_t VString::GetSizeInStream() const
{
    return fLength == 0 ? 4 : 2 * static_cast<size_t>(fLength) + 10;
}

} // namespace zorn
