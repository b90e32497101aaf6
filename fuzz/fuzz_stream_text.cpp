// Reads text from arbitrary bytes through a memory stream: the character set is guessed from the
// leading bytes (the first input byte chooses the default and whether UTF-8 is detected), then
// lines, counted text, the rest as a whole and a value are read. Every read must end and keep the
// position within the data. The same bytes, taken as UTF-16 units, must come back unchanged from
// decoding their file-name coding, and decoding arbitrary text must not fail.

#include "toolbox/files/FileNameCoding.h"
#include "toolbox/kernel/streams/VConstPtrStream.h"
#include "toolbox/kernel/strings/VString.h"
#include "toolbox/kernel/values/VArrayValue.h"
#include "toolbox/kernel/values/VValue.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

using namespace zorn;

namespace
{

void CheckPosition(const VConstPtrStream& inStream, size_t inSize)
{
    if (inStream.GetPos() < 0 || static_cast<size_t>(inStream.GetPos()) > inSize)
    {
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
    {
        return 0;
    }
    static constexpr CharSet kDefaults[] = {CharSet::VTC_UTF_8,    CharSet::VTC_UTF_16_BIGENDIAN,
                                            CharSet::VTC_UTF_16,   CharSet::VTC_UTF_32,
                                            CharSet::VTC_MacRoman, CharSet::VTC_StdLib_char};
    const uint8_t mode = data[0];
    ++data;
    --size;
    VConstPtrStream stream(data, size);
    if (stream.OpenReading() != VE_OK)
    {
        return 0;
    }
    bool foundBOM = false;
    stream.GuessCharSetFromLeadingBytes(kDefaults[mode % std::size(kDefaults)], (mode & 0x80) != 0,
                                        &foundBOM);
    CheckPosition(stream, size);

    VString text;
    UniChar lineEnd = (mode & 0x40) != 0 ? ';' : 0;
    for (int lines = 0; lines < 4 && stream.GetTextLine(text, (mode & 0x20) != 0, &lineEnd) == VE_OK; ++lines)
    {
        CheckPosition(stream, size);
    }
    if (stream.GetLastError() == VE_OK)
    {
        VArrayString fields;
        stream.GetTTRLine(fields);
        stream.GetText(text, mode & 0x1F, (mode & 0x08) != 0);
        CheckPosition(stream, size);
        stream.GetText(text);
        CheckPosition(stream, size);
    }

    VConstPtrStream values(data, size);
    if (values.OpenReading() == VE_OK)
    {
        std::unique_ptr<VValue> value(values.GetValue());
    }

    if (size < 2)
    {
        return 0;
    }
    std::vector<UniChar> units(size / 2);
    std::memcpy(units.data(), data, units.size() * sizeof(UniChar));
    VString name(units.data(), static_cast<int32_t>(units.size()));
    VString decoded = DecodeReservedFileCharacters(EncodeReservedFileCharacters(name));
    if (decoded.GetLength() != name.GetLength() ||
        std::memcmp(decoded.GetCPointer(), name.GetCPointer(), units.size() * sizeof(UniChar)) != 0)
    {
        std::abort();
    }
    DecodeReservedFileCharacters(name);
    return 0;
}
