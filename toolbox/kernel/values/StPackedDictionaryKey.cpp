#include "toolbox/kernel/values/StPackedDictionaryKey.h"

#include "toolbox/kernel/memory/VMemoryBuffer.h"
#include "toolbox/kernel/strings/VString.h"

#include <cstring>
#include <new>

namespace zorn
{

StPackedDictionaryKey::StPackedDictionaryKey(const char* inCString)
{
    size_t length = inCString == nullptr ? 0 : std::strlen(inCString);
    if (length > kMaxLength)
    {
        fRefused = true;
    }
    else if (length > 0)
    {
        fKey = inCString;
        fLength = length;
    }
    fHash = GetHashCode(fKey, fLength);
}

StPackedDictionaryKey::StPackedDictionaryKey(const char* inBytes, size_t inLength)
{
    _Own(inBytes, inLength);
}

StPackedDictionaryKey::StPackedDictionaryKey(const wchar_t* inText) : StPackedDictionaryKey(VString(inText))
{
}

StPackedDictionaryKey::StPackedDictionaryKey(const VString& inText)
{
    VMemoryBuffer<> utf8;
    if (inText.ToBuffer(utf8, CharSet::VTC_UTF_8))
    {
        _Own(static_cast<const char*>(utf8.GetDataPtr()), utf8.GetDataSize());
    }
    else
    {
        _Own(nullptr, 0);
    }
}

StPackedDictionaryKey::StPackedDictionaryKey(const StPackedDictionaryKey& inOther)
{
    _CopyFrom(inOther);
}

StPackedDictionaryKey& StPackedDictionaryKey::operator=(const StPackedDictionaryKey& inOther)
{
    if (this != &inOther)
    {
        _Free();
        _CopyFrom(inOther);
    }
    return *this;
}

StPackedDictionaryKey::~StPackedDictionaryKey()
{
    _Free();
}

bool StPackedDictionaryKey::Equals(const char* inBytes, size_t inLength) const
{
    return inLength == fLength && (fLength == 0 || std::memcmp(inBytes, fKey, fLength) == 0);
}

uint32_t StPackedDictionaryKey::GetHashCode(const char* inBytes, size_t inLength)
{
    const auto* bytes = reinterpret_cast<const unsigned char*>(inBytes);
    uint32_t hash = static_cast<uint32_t>(inLength);
    auto mix = [&hash](const unsigned char* inFrom, size_t inCount)
    {
        for (size_t i = 0; i < inCount; ++i)
        {
            hash = hash * 257 + inFrom[i];
        }
    };
    if (inLength <= 16)
    {
        mix(bytes, inLength);
    }
    else
    {
        mix(bytes, 8);
        mix(bytes + inLength - 8, 8);
    }
    return hash;
}

void StPackedDictionaryKey::_CopyFrom(const StPackedDictionaryKey& inOther)
{
    fRefused = inOther.fRefused;
    if (inOther.fOwned != nullptr)
    {
        _Own(inOther.fKey, inOther.fLength);
    }
    else
    {
        fKey = inOther.fKey;
        fLength = inOther.fLength;
        fOwned = nullptr;
        fHash = inOther.fHash;
    }
}

void StPackedDictionaryKey::_Own(const char* inBytes, size_t inLength)
{
    fKey = "";
    fLength = 0;
    fOwned = nullptr;
    if (inLength > kMaxLength)
    {
        fRefused = true;
    }
    else if (inLength > 0)
    {
        fOwned = new (std::nothrow) char[inLength + 1];
        fRefused = fOwned == nullptr;
        if (fOwned != nullptr)
        {
            std::memcpy(fOwned, inBytes, inLength);
            fOwned[inLength] = 0;
            fKey = fOwned;
            fLength = inLength;
        }
    }
    fHash = GetHashCode(fKey, fLength);
}

void StPackedDictionaryKey::_Free()
{
    delete[] fOwned;
    fOwned = nullptr;
}

} // namespace zorn
