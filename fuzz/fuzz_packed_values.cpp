// Reads blobs, UUIDs and packed-dictionary key tables from arbitrary bytes, in either byte order
// and in their packed forms, and drives an attribute dictionary through appends, replacements,
// removals and copies against a plain map. Whatever reads successfully is written and read again
// and must come back equal. The first byte chooses the form; its bit 7 the byte order.

#include "toolbox/kernel/base/IRefCountable.h"
#include "toolbox/kernel/streams/VConstPtrStream.h"
#include "toolbox/kernel/streams/VPtrStream.h"
#include "toolbox/kernel/strings/VString.h"
#include "toolbox/kernel/values/VBlob.h"
#include "toolbox/kernel/values/VPackedDictionary.h"
#include "toolbox/kernel/values/VScalarValues.h"
#include "toolbox/kernel/values/VUUID.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>

using namespace zorn;

namespace
{

void Check(bool inCondition)
{
    if (!inCondition)
    {
        std::abort();
    }
}

// Writes the value to a stream of the given order and reads it back into outValue.
void RoundTrip(const VValue& inValue, VValue& outValue, bool inSwap)
{
    VPtrStream stream;
    stream.SetNeedSwap(inSwap);
    Check(stream.OpenWriting() == VE_OK);
    Check(inValue.WriteToStream(&stream) == VE_OK);
    stream.CloseWriting();
    VConstPtrStream reader(stream.GetDataPtr(), stream.GetDataSize());
    reader.SetNeedSwap(inSwap);
    Check(reader.OpenReading() == VE_OK);
    Check(outValue.ReadFromStream(&reader) == VE_OK);
    Check(reader.GetPos() == reader.GetSize());
}

// Whether the value reads from the bytes as a stream of the given order.
bool ReadsFromStream(VValue& ioValue, const uint8_t* inData, size_t inSize, bool inSwap)
{
    VConstPtrStream stream(inData, inSize);
    stream.SetNeedSwap(inSwap);
    Check(stream.OpenReading() == VE_OK);
    return ioValue.ReadFromStream(&stream) == VE_OK;
}

void FuzzBlob(const uint8_t* inData, size_t inSize, bool inSwap)
{
    VBlobWithPtr blob;
    if (ReadsFromStream(blob, inData, inSize, inSwap))
    {
        VBlobWithPtr again;
        RoundTrip(blob, again, inSwap);
        Check(again.EqualToSameKind(&blob));
    }
    // The packed form, where the data holds the length it announces.
    uint32_t length;
    if (inSize >= 4 && (std::memcpy(&length, inData, 4), length <= inSize - 4))
    {
        Check(VBlob::Info().GetSizeOfValueDataPtr(inData) == size_t{length} + 4);
        VBlobWithPtr packed;
        Check(packed.LoadFromPtr(inData) == inData + 4 + length);
        std::string written(packed.GetSpace(), '\0');
        Check(packed.WriteToPtr(written.data()) == written.data() + written.size());
        Check(std::memcmp(written.data(), inData, written.size()) == 0);
    }
}

void FuzzUUID(const uint8_t* inData, size_t inSize, bool inSwap)
{
    VUUID uuid;
    if (ReadsFromStream(uuid, inData, inSize, inSwap))
    {
        VUUID again;
        RoundTrip(uuid, again, inSwap);
        Check(again == uuid && !again.IsNull());
    }
    // The packed form: the 16 bytes, null exactly when all are zero.
    if (inSize >= 16)
    {
        VUUID packed;
        Check(packed.LoadFromPtr(inData) == inData + 16);
        Check(packed.IsNull() == packed.GetBuffer().IsZero());
        uint8_t written[16];
        packed.WriteToPtr(written);
        Check(std::memcmp(written, inData, 16) == 0);
    }
    // The text readers, and the text form read back.
    VString text(inData, inSize & ~size_t{1}, CharSet::VTC_UTF_16);
    VUUID fromText(text);
    VString written;
    fromText.GetString(written);
    Check(VUUID::IsUUIDString(written, true));
    VUUID reread(written);
    Check(reread == fromText);
    std::string cString(reinterpret_cast<const char*>(inData), inSize);
    VUUID fromCString(cString.c_str());
    Check(fromCString.IsNull() == fromCString.GetBuffer().IsZero());
}

class List : public IRefCountable
{
};

void FuzzKeyTable(const uint8_t* inData, size_t inSize, bool inSwap)
{
    VConstPtrStream stream(inData, inSize);
    stream.SetNeedSwap(inSwap);
    Check(stream.OpenReading() == VE_OK);
    VPackedDictionary<List> dictionary;
    if (dictionary._ReadKeysFromStream(&stream) != VE_OK)
    {
        Check(dictionary.IsEmpty());
        return;
    }
    for (size_t i = 0; i < dictionary.GetCount(); ++i)
    {
        size_t length;
        const char* key = dictionary.GetKeyAt(i, &length);
        Check(dictionary.Contains(StPackedDictionaryKey(key, length)));
    }
    VPtrStream written;
    written.SetNeedSwap(inSwap);
    Check(written.OpenWriting() == VE_OK);
    Check(dictionary._WriteKeysToStream(&written, true) == VE_OK);
    written.CloseWriting();
    VConstPtrStream reader(written.GetDataPtr(), written.GetDataSize());
    reader.SetNeedSwap(inSwap);
    Check(reader.OpenReading() == VE_OK);
    VPackedDictionary<List> again;
    Check(again._ReadKeysFromStream(&reader) == VE_OK);
    Check(again.GetKeyBlock() == dictionary.GetKeyBlock());
    Check(again.GetHashIndex().GetCells() == dictionary.GetHashIndex().GetCells());
}

std::string Ascii(const VString& inText)
{
    std::string text;
    for (int32_t i = 0; i < inText.GetLength(); ++i)
    {
        text.push_back(static_cast<char>(inText.GetCPointer()[i]));
    }
    return text;
}

// Operations of 3 bytes: operation, key (one of 32 names), value (a string or a number of several
// sizes). The dictionary must always hold what the map holds.
void FuzzDictionaryOperations(const uint8_t* inData, size_t inSize)
{
    VPackedDictionary_with_backstore dictionary;
    std::map<std::string, std::string> model; // the text of each value
    for (size_t at = 0; at + 3 <= inSize; at += 3)
    {
        std::string name = "k" + std::to_string(inData[at + 1] % 32);
        StPackedDictionaryKey key(name.data(), name.size());
        uint8_t seed = inData[at + 2];
        VString text(std::string(seed % 7, static_cast<char>('a' + seed % 26)).c_str());
        VLong number(seed);
        const VValueSingle& value = (seed & 1) != 0 ? static_cast<const VValueSingle&>(text) : number;
        VString valueText;
        value.GetString(valueText);
        const bool present = model.count(name) != 0;
        switch (inData[at] % 5)
        {
        case 0:
            if (!present)
            {
                Check(dictionary.Append(key, value));
                model[name] = Ascii(valueText);
            }
            break;
        case 1:
            Check(dictionary.SetExistingValue(key, value) == present);
            if (present)
            {
                model[name] = Ascii(valueText);
            }
            break;
        case 2:
            dictionary.Clear(key);
            model.erase(name);
            break;
        case 3:
            Check(dictionary.Repack());
            Check(!dictionary.NeedsRepack());
            break;
        default:
        {
            VPackedDictionary_with_backstore copy(dictionary);
            dictionary = copy;
            break;
        }
        }
        Check(dictionary.GetCount() == model.size());
        for (const auto& [modelName, modelText] : model)
        {
            VString stored;
            Check(dictionary.GetValue(StPackedDictionaryKey(modelName.data(), modelName.size()), stored));
            Check(Ascii(stored) == modelText);
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
    {
        return 0;
    }
    const uint8_t mode = data[0];
    const bool swap = (mode & 0x80) != 0;
    ++data;
    --size;
    switch (mode % 4)
    {
    case 0:
        FuzzBlob(data, size, swap);
        break;
    case 1:
        FuzzUUID(data, size, swap);
        break;
    case 2:
        FuzzKeyTable(data, size, swap);
        break;
    default:
        FuzzDictionaryOperations(data, size);
        break;
    }
    return 0;
}
