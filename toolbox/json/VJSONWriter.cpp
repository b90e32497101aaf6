#include "toolbox/json/VJSONWriter.h"

#include "toolbox/json/IJSONObject.h"
#include "toolbox/json/StJSONNestingGuard.h"
#include "toolbox/json/VJSONArray.h"
#include "toolbox/json/VJSONClass.h"
#include "toolbox/json/VJSONErrors.h"
#include "toolbox/json/VJSONObject.h"
#include "toolbox/json/VJSONPropertyIterator.h"
#include "toolbox/kernel/values/VReal.h"
#include "toolbox/kernel/values/VTime.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

namespace zorn
{

namespace
{

// Past this many open containers the path is also kept in a hash set.
constexpr size_t kLinearPathLimit = 32;

// Strings are escaped this many units at a time, so that the room reserved for their escaped
// form (six units per unit) stays small however long they are.
constexpr size_t kEscapeChunk = 4096;

// The longest text a string can hold.
constexpr size_t kMaxTextLength = 0x7FFFFFFC;

template <size_t N>
std::u16string_view Literal(const char16_t (&inText)[N])
{
    return {inText, N - 1};
}

} // namespace

// -------------------------------------------------------------------------------------------------
// The text being written

// Chunks of growing size (up to kLargestChunkUnits), each written once, then joined into the
// output string with one copy. No block is ever moved: growing one large block costs a copy per
// doubling (the memory manager's Realloc moves every block it grows) and fresh pages each time,
// while chunks of this size come back from the C library's free lists from one text to the next.
class VJSONWriter::TextOut
{
public:
    TextOut() = default;
    TextOut(const TextOut&) = delete;
    TextOut& operator=(const TextOut&) = delete;
    ~TextOut() = default;

    // Room for inCount more units at the returned write position; SetEnd then says how many were
    // written. Throws std::bad_alloc when the text cannot grow.
    UniChar* Reserve(size_t inCount)
    {
        if (static_cast<size_t>(fLimit - fEnd) < inCount)
        {
            _NewChunk(inCount);
        }
        return fEnd;
    }
    void SetEnd(UniChar* inEnd) { fEnd = inEnd; }

    void Push(UniChar inUnit)
    {
        *Reserve(1) = inUnit;
        ++fEnd;
    }
    void Append(const UniChar* inUnits, size_t inCount)
    {
        UniChar* d = Reserve(inCount);
        if (inCount != 0)
        {
            std::memcpy(d, inUnits, inCount * sizeof(UniChar));
        }
        fEnd = d + inCount;
    }
    void Append(std::u16string_view inUnits)
    {
        Append(reinterpret_cast<const UniChar*>(inUnits.data()), inUnits.size());
    }
    void Append(const VString& inText)
    {
        Append(inText.GetCPointer(), static_cast<size_t>(inText.GetLength()));
    }

    size_t GetSize() const { return fDone + static_cast<size_t>(fEnd - fBegin); }

    // Replaces outText with the text; false, outText unchanged, when it cannot be had.
    bool MoveTo(VString& outText);

private:
    static constexpr size_t kFirstChunkUnits = 256;
    // 64 KB, below the size the C library maps and unmaps for each block.
    static constexpr size_t kLargestChunkUnits = 32768;

    struct Chunk
    {
        std::unique_ptr<UniChar[]> fUnits;
        size_t fLength;
    };

    void _NewChunk(size_t inCount);

    // The chunks written before the current one, and their units in all.
    std::vector<Chunk> fChunks;
    size_t fDone = 0;
    std::unique_ptr<UniChar[]> fCurrent;
    size_t fCurrentUnits = 0;
    UniChar* fBegin = nullptr;
    UniChar* fEnd = nullptr;
    UniChar* fLimit = nullptr;
};

void VJSONWriter::TextOut::_NewChunk(size_t inCount)
{
    const size_t size = GetSize();
    if (inCount > kMaxTextLength - size)
    {
        throw std::bad_alloc();
    }
    const size_t units = std::max(
        inCount, fCurrentUnits == 0 ? kFirstChunkUnits : std::min(2 * fCurrentUnits, kLargestChunkUnits));
    auto chunk = std::make_unique_for_overwrite<UniChar[]>(units);
    if (fCurrent != nullptr)
    {
        const auto length = static_cast<size_t>(fEnd - fBegin);
        fChunks.push_back({std::move(fCurrent), length});
        fDone += length;
    }
    fCurrent = std::move(chunk);
    fCurrentUnits = units;
    fBegin = fEnd = fCurrent.get();
    fLimit = fBegin + units;
}

bool VJSONWriter::TextOut::MoveTo(VString& outText)
{
    const size_t length = GetSize();
    VString text;
    if (length != 0)
    {
        UniChar* d = text.GetCPointerForWrite(static_cast<int32_t>(length));
        if (d == nullptr)
        {
            return false; // raised by the string
        }
        for (const Chunk& chunk : fChunks)
        {
            std::memcpy(d, chunk.fUnits.get(), chunk.fLength * sizeof(UniChar));
            d += chunk.fLength;
        }
        std::memcpy(d, fBegin, static_cast<size_t>(fEnd - fBegin) * sizeof(UniChar));
        text.Validate(static_cast<int32_t>(length));
    }
    outText = std::move(text);
    return true;
}

VJSONWriter::VJSONWriter(VDBLanguageContext* inContext, uint32_t inOptions)
    : fContext(inContext), fOptions(inOptions)
{
}

VJSONWriter::~VJSONWriter() = default;

// -------------------------------------------------------------------------------------------------
// Levels and indentation

void VJSONWriter::IncrementLevel()
{
    ++fLevel;
}

void VJSONWriter::DecrementLevel()
{
    --fLevel;
}

VString VJSONWriter::_GetLinePrefix() const
{
    VString prefix(static_cast<UniChar>('\n'));
    for (int32_t level = 0; level < fLevel; ++level)
    {
        prefix.AppendUniChar('\t');
    }
    return prefix;
}

void VJSONWriter::InsertIndentString(VString& ioText) const
{
    if ((fOptions & kPretty) != 0)
    {
        ioText.Insert(_GetLinePrefix(), 0);
    }
}

void VJSONWriter::AppendIndentString(VString& ioText) const
{
    if ((fOptions & kPretty) != 0)
    {
        ioText.AppendString(_GetLinePrefix());
    }
}

inline void VJSONWriter::_AppendIndent(TextOut& ioOut) const
{
    if ((fOptions & kPretty) != 0)
    {
        // The tabs go four at a time, the last group possibly past the prefix (within the room
        // reserved), to be written over by what follows.
        constexpr uint64_t kFourTabs = 0x0009000900090009;
        const size_t tabs = static_cast<size_t>(std::max(0, fLevel));
        UniChar* d = ioOut.Reserve(tabs + 4);
        *d++ = '\n';
        for (size_t i = 0; i < tabs; i += 4)
        {
            std::memcpy(d + i, &kFourTabs, sizeof(kFourTabs));
        }
        ioOut.SetEnd(d + tabs);
    }
}

// -------------------------------------------------------------------------------------------------
// Public operations: each writes into its own buffer and replaces the output only on success.

// Only an allocation can throw: running out of memory ends the call with 'zorn' 107 and no
// exception, the path and level put back as the unwinding left them.
template <class TWrite>
VError VJSONWriter::_WriteAndReplace(TWrite&& inWrite, VString& outText)
{
    const size_t depth = fOpen.size();
    const int32_t level = fLevel;
    try
    {
        TextOut text;
        VError error = inWrite(text);
        if (error != VE_OK)
        {
            return error;
        }
        return text.MoveTo(outText) ? VE_OK : VE_STRING_ALLOC_FAILED; // raised by the string
    }
    catch (const std::exception&)
    {
        while (fOpen.size() > depth)
        {
            _PopOpen();
        }
        fLevel = level;
        return _ThrowError(VE_STRING_ALLOC_FAILED);
    }
}

VError VJSONWriter::StringifyValue(const VJSONValue& inValue, VString& outText)
{
    return _WriteAndReplace([&](TextOut& ioOut) { return _AppendValue(inValue, ioOut); }, outText);
}

VError VJSONWriter::StringifyObject(const VJSONObject* inObject, VString& outText)
{
    return _WriteAndReplace([&](TextOut& ioOut) { return _AppendObject(inObject, ioOut); }, outText);
}

VError VJSONWriter::StringifyArray(const VJSONArray* inArray, VString& outText)
{
    return _WriteAndReplace([&](TextOut& ioOut) { return _AppendArray(inArray, ioOut); }, outText);
}

// -------------------------------------------------------------------------------------------------
// Values

VError VJSONWriter::_AppendValue(const VJSONValue& inValue, TextOut& ioOut)
{
    switch (inValue.GetType())
    {
    case JSON_null:
    case JSON_undefined:
        ioOut.Append(Literal(u"null"));
        return VE_OK;
    case JSON_false:
        ioOut.Append(Literal(u"false"));
        return VE_OK;
    case JSON_true:
        ioOut.Append(Literal(u"true"));
        return VE_OK;
    case JSON_string:
        _AppendJSONString(inValue.GetStringUnits(), ioOut);
        return VE_OK;
    case JSON_number:
    {
        UniChar* d = ioOut.Reserve(VReal::kMaxJSONUnits);
        ioOut.SetEnd(d + VReal::RealToJSONUnits(inValue.GetNumber(), d));
        return VE_OK;
    }
    case JSON_object:
        return _AppendObject(inValue.GetObject(), ioOut);
    case JSON_array:
        return _AppendArray(inValue.GetArray(), ioOut);
    case JSON_date:
        return _AppendDate(inValue, ioOut);
    }
    return VE_OK;
}

// The string's JSON form escaped straight into the output, as VString::GetJSONString writes it.
void VJSONWriter::_AppendJSONString(std::u16string_view inUnits, TextOut& ioOut) const
{
    const bool quoted = (fOptions & kQuoted) != 0;
    const auto* units = reinterpret_cast<const UniChar*>(inUnits.data());
    size_t count = inUnits.size();
    if ((fOptions & kRaw) != 0)
    {
        UniChar* d = ioOut.Reserve(count + 2);
        if (quoted)
        {
            *d++ = '"';
        }
        if (count != 0)
        {
            std::memcpy(d, units, count * sizeof(UniChar));
        }
        d += count;
        if (quoted)
        {
            *d++ = '"';
        }
        ioOut.SetEnd(d);
        return;
    }
    if (count <= kEscapeChunk)
    {
        UniChar* d = ioOut.Reserve(6 * count + 2);
        if (quoted)
        {
            *d++ = '"';
        }
        d = VString::WriteJSONEscapedUnits(units, static_cast<int32_t>(count), d, fOptions);
        if (quoted)
        {
            *d++ = '"';
        }
        ioOut.SetEnd(d);
        return;
    }
    size_t chunk = kEscapeChunk;
    UniChar* d = ioOut.Reserve(6 * chunk + 2);
    if (quoted)
    {
        *d++ = '"';
    }
    for (;;)
    {
        d = VString::WriteJSONEscapedUnits(units, static_cast<int32_t>(chunk), d, fOptions);
        units += chunk;
        count -= chunk;
        if (count == 0)
        {
            break;
        }
        ioOut.SetEnd(d);
        chunk = std::min(count, kEscapeChunk);
        d = ioOut.Reserve(6 * chunk + 1);
    }
    if (quoted)
    {
        *d++ = '"';
    }
    ioOut.SetEnd(d);
}

VError VJSONWriter::_AppendDate(const VJSONValue& inValue, TextOut& ioOut)
{
    short year = 0;
    short month = 0;
    short day = 0;
    inValue.GetDate(&year, &month, &day);
    VTime time;
    if ((fOptions & kLocalDates) != 0)
    {
        time.FromLocalTime(year, month, day, 0, 0, 0, 0);
    }
    else
    {
        time.FromUTCTime(year, month, day, 0, 0, 0, 0);
    }
    VString text;
    VError error = time.GetJSONString(text, fOptions);
    if (error == VE_OK)
    {
        ioOut.Append(text);
    }
    return error;
}

// -------------------------------------------------------------------------------------------------
// The open path and the character count

inline bool VJSONWriter::_IsOpen(const void* inContainer) const
{
    if (!fOpenSet.empty())
    {
        return fOpenSet.contains(inContainer);
    }
    return std::find(fOpen.begin(), fOpen.end(), inContainer) != fOpen.end();
}

inline void VJSONWriter::_PushOpen(const void* inContainer)
{
    fOpen.push_back(inContainer);
    if (fOpen.size() > kLinearPathLimit)
    {
        if (fOpenSet.empty())
        {
            fOpenSet.insert(fOpen.begin(), fOpen.end());
        }
        else
        {
            fOpenSet.insert(inContainer);
        }
    }
}

inline void VJSONWriter::_PopOpen()
{
    if (!fOpenSet.empty())
    {
        fOpenSet.erase(fOpen.back());
        if (fOpen.size() <= kLinearPathLimit + 1)
        {
            fOpenSet.clear();
        }
    }
    fOpen.pop_back();
}

inline bool VJSONWriter::_CountAndCheckStop(size_t inLength, uint32_t inThreshold)
{
    if ((fOptions & kTruncate) == 0)
    {
        return false;
    }
    if (fCharacterCount >= inThreshold)
    {
        return true;
    }
    fCharacterCount += static_cast<uint32_t>(inLength);
    return false;
}

void VJSONWriter::_CloseContainer(TextOut& ioOut, bool inTruncated, UniChar inClose)
{
    _AppendIndent(ioOut);
    if (!inTruncated)
    {
        ioOut.Push(inClose);
    }
    else if (!fEllipsisWritten)
    {
        ioOut.Append(Literal(u"..."));
        fEllipsisWritten = true;
    }
}

// -------------------------------------------------------------------------------------------------
// Arrays

VError VJSONWriter::_AppendArray(const VJSONArray* inArray, TextOut& ioOut)
{
    if (inArray == nullptr)
    {
        ioOut.Append(VJSONValue::UndefinedString());
        return VE_OK;
    }
    if (inArray->GetCount() == 0)
    {
        ioOut.Append(Literal(u"[]"));
        return VE_OK;
    }
    if (_IsOpen(inArray))
    {
        return _ThrowError(VE_JSON_CIRCULAR_ARRAY);
    }
    StJSONNestingGuard guard;
    if (guard.Failed())
    {
        return guard.GetError();
    }
    _PushOpen(inArray);
    IncrementLevel();
    ioOut.Push('[');
    VError error = VE_OK;
    bool truncated = false;
    auto appendElement = [&](size_t inIndex, const VJSONValue& inElement)
    {
        if (inIndex > 0)
        {
            ioOut.Push(',');
        }
        const size_t start = ioOut.GetSize();
        _AppendIndent(ioOut);
        error = _AppendValue(inElement, ioOut);
        if (error == VE_OK && _CountAndCheckStop(ioOut.GetSize() - start, kTruncateCount + 1))
        {
            truncated = true;
        }
        return error == VE_OK && !truncated;
    };
    if (!inArray->HasStorageLocker())
    {
        // A plain array is read by reference: only its own task changes it.
        const std::span<const VJSONValue> elements = inArray->GetElements();
        for (size_t i = 0; i < elements.size() && appendElement(i, elements[i]); ++i)
        {
        }
    }
    else
    {
        // A shared array may change under another task that holds its locker: each element is
        // copied under the read lock (GetAt), and the walk ends where the array ends then.
        VJSONValue element;
        for (size_t i = 0; inArray->GetAt(i, element) && appendElement(i, element); ++i)
        {
        }
    }
    DecrementLevel();
    _PopOpen();
    if (error == VE_OK)
    {
        _CloseContainer(ioOut, truncated, ']');
    }
    return error;
}

// -------------------------------------------------------------------------------------------------
// Objects

VError VJSONWriter::_AppendObject(const VJSONObject* inObject, TextOut& ioOut)
{
    if (inObject == nullptr)
    {
        ioOut.Append(VJSONValue::UndefinedString());
        return VE_OK;
    }
    if (_IsOpen(inObject))
    {
        if ((fOptions & kCircularText) != 0)
        {
            ioOut.Append(Literal(u"\"[circular]\""));
            return VE_OK;
        }
        return _ThrowError(VE_JSON_CIRCULAR_ARRAY);
    }
    if ((fOptions & kRefuseRepeats) != 0 && !fSeen.insert(inObject).second)
    {
        return _ThrowError(VE_JSON_OBJECT_REPEATED);
    }
    StJSONNestingGuard guard;
    if (guard.Failed())
    {
        return guard.GetError();
    }
    _PushOpen(inObject);
    VError error = VE_OK;
    bool handled = false;
    if ((fOptions & kGenericOnly) != 0 && !inObject->IsGenericObject())
    {
        error = _ThrowError(VE_JSON_NOT_GENERIC);
        handled = true;
    }
    else if (IJSONObject* implementation = inObject->GetImplementation())
    {
        if ((fOptions & kRefuseBinary) != 0 && implementation->IJSON_GetBinarySignature() != 0)
        {
            error = _ThrowError(VE_JSON_BINARY_OBJECT);
            handled = true;
        }
        else
        {
            VString text;
            VError stored = VE_OK;
            if (implementation->IJSON_Stringify(inObject, *this, text, &stored) != eJSONStatusNotHandled)
            {
                handled = true;
                error = stored;
                if (error == VE_OK)
                {
                    ioOut.Append(text);
                }
            }
        }
    }
    if (!handled)
    {
        // An object with no implementation, no getters and no locker is empty when it has no own
        // properties; any other answers IsEmpty.
        const VJSONClass* theClass = inObject->GetClass();
        const bool plain = inObject->GetImplementation() == nullptr && !inObject->HasStorageLocker() &&
                           (theClass == nullptr || !theClass->HasGetters());
        if (plain ? inObject->GetOwnProperties().empty() : inObject->IsEmpty())
        {
            ioOut.Append(Literal(u"{}"));
        }
        else
        {
            IncrementLevel();
            ioOut.Push('{');
            bool truncated = false;
            error = _AppendMembers(inObject, plain, ioOut, truncated);
            DecrementLevel();
            if (error == VE_OK)
            {
                _CloseContainer(ioOut, truncated, '}');
            }
        }
    }
    _PopOpen();
    return error;
}

VError VJSONWriter::_AppendMembers(const VJSONObject* inObject, bool inPlain, TextOut& ioOut,
                                   bool& outTruncated)
{
    VError error = VE_OK;
    bool first = true;
    if (inPlain)
    {
        // What the ordered walk gives for an object with no implementation, no getters and no
        // locker: its own properties in insertion order, read in place (no iterator to build).
        for (const VJSONObject::OwnProperty& property : inObject->GetOwnProperties())
        {
            if (!first)
            {
                ioOut.Push(',');
            }
            first = false;
            error = _AppendMember(property.fKey.GetUnits(), property.fValue, ioOut, outTruncated);
            if (error != VE_OK || outTruncated)
            {
                break;
            }
        }
        return error;
    }
    // The ordered walk with everything (option 0): the implementation's names, the own properties
    // in insertion order, then the class's getters. An own property of a plain object is read by
    // reference; any other name (those of a shared object included) is read with GetProperty,
    // under the object's lock, so that implementations and getters answer.
    for (VJSONPropertyConstOrderedIterator i(inObject, 0); i.IsValid(); ++i)
    {
        if (!first)
        {
            ioOut.Push(',');
        }
        first = false;
        if (const VJSONValue* stored = i.GetOwnValue())
        {
            error = _AppendMember(i.GetNameUnits(), *stored, ioOut, outTruncated);
        }
        else
        {
            error = _AppendMember(i.GetNameUnits(), i.GetValue(fContext), ioOut, outTruncated);
        }
        if (error != VE_OK || outTruncated)
        {
            break;
        }
    }
    return error;
}

VError VJSONWriter::_AppendMember(std::u16string_view inName, const VJSONValue& inValue, TextOut& ioOut,
                                  bool& outTruncated)
{
    const size_t start = ioOut.GetSize();
    _AppendIndent(ioOut);
    _AppendJSONString(inName, ioOut);
    ioOut.Push(':');
    if ((fOptions & kPretty) != 0)
    {
        ioOut.Push(' ');
    }
    VError error = _AppendValue(inValue, ioOut);
    if (error == VE_OK)
    {
        outTruncated = _CountAndCheckStop(ioOut.GetSize() - start, kTruncateCount + 1);
    }
    return error;
}

} // namespace zorn
