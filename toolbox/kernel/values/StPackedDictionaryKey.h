// Keys of the packed dictionaries (attributes and element names of value bags): UTF-8 bytes, their
// length and a 32-bit hash computed once at construction. A key either borrows the caller's bytes
// (a C string) or owns a copy, which it frees when it goes out of scope.
//
// Choices made where several were possible:
// - A dictionary stores a key's length in one byte, so a key holds at most 255 bytes. A longer
//   key, from whatever source, becomes the empty key and is marked refused (IsRefused); the
//   dictionaries refuse such keys (nothing is stored under them and nothing is found), so a long
//   name can never wrap the length byte or land under the empty name.
// - The hash (GetHashCode), in unsigned 32-bit arithmetic: h = length, then h = h * 257 + b for
//   every byte when the key has at most 16 bytes, else for its first 8 and its last 8 bytes only.
//   Keys that differ only in their middle bytes share a hash; lookups compare the bytes.
//
// StBagKeyNoDefault and StBagKeyWithDefault are the typed keys of static key tables: a key plus
// the value class an attribute is read and written as, and (for the second) the value to use when
// the attribute is missing and further names the attribute may carry.
#pragma once

#include "toolbox/kernel/errors/ILogger.h"
#include "toolbox/kernel/values/VScalarValues.h"
#include "toolbox/kernel/values/VTime.h"
#include "toolbox/kernel/values/VUUID.h"

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <vector>

namespace zorn
{

class VString;

class StPackedDictionaryKey
{
public:
    static constexpr size_t kMaxLength = 255;

    // Borrows the zero-terminated text, which must outlive the key.
    explicit StPackedDictionaryKey(const char* inCString);
    // Copies the bytes.
    StPackedDictionaryKey(const char* inBytes, size_t inLength);
    // Converts the text to UTF-8 into a copy.
    explicit StPackedDictionaryKey(const wchar_t* inText);
    explicit StPackedDictionaryKey(const VString& inText);
    // An owned source is copied; a borrowing source is borrowed again.
    StPackedDictionaryKey(const StPackedDictionaryKey& inOther);
    StPackedDictionaryKey& operator=(const StPackedDictionaryKey& inOther);
    ~StPackedDictionaryKey();

    const char* GetKey() const { return fKey; }
    size_t GetKeyLength() const { return fLength; }
    uint32_t GetHash() const { return fHash; }
    // Whether the key was longer than 255 bytes, or its copy could not be allocated: it is then
    // empty, and the dictionaries refuse it.
    bool IsRefused() const { return fRefused; }
    bool Equals(const char* inBytes, size_t inLength) const;

    static uint32_t GetHashCode(const char* inBytes, size_t inLength);

private:
    void _CopyFrom(const StPackedDictionaryKey& inOther);
    // Takes a copy of the bytes, or becomes the empty, too-long key.
    void _Own(const char* inBytes, size_t inLength);
    void _Free();

    const char* fKey = "";
    size_t fLength = 0;
    char* fOwned = nullptr;
    uint32_t fHash = 0;
    bool fRefused = false;
};

// A key naming an attribute read and written as TValue (a value class) from or into TNative.
template <class TNative, class TValue>
class StBagKeyNoDefault : public StPackedDictionaryKey
{
public:
    using NativeType = TNative;
    using ValueType = TValue;

    using StPackedDictionaryKey::StPackedDictionaryKey;
};

// As StBagKeyNoDefault, with the value a missing attribute stands for and further names.
template <class TNative, class TValue>
class StBagKeyWithDefault : public StPackedDictionaryKey
{
public:
    using NativeType = TNative;
    using ValueType = TValue;

    StBagKeyWithDefault(const char* inName, const TNative& inDefault,
                        std::initializer_list<const char*> inOtherNames = {})
        : StPackedDictionaryKey(inName), fDefault(inDefault)
    {
        fOtherKeys.reserve(inOtherNames.size());
        for (const char* name : inOtherNames)
        {
            fOtherKeys.emplace_back(name);
        }
    }

    const TNative& Get_Default() const { return fDefault; }
    const std::vector<StPackedDictionaryKey>& GetOtherKeys() const { return fOtherKeys; }

private:
    std::vector<StPackedDictionaryKey> fOtherKeys;
    TNative fDefault;
};

// The instances the toolbox uses.
using StBagKey_VString = StBagKeyNoDefault<VString, VString>;
using StBagKey_bool = StBagKeyNoDefault<bool, VBoolean>;
using StBagKey_int = StBagKeyNoDefault<int32_t, VLong>;
using StBagKey_uint = StBagKeyNoDefault<uint32_t, VLong>;
using StBagKey_int64 = StBagKeyNoDefault<int64_t, VLong8>;
using StBagKey_uint64 = StBagKeyNoDefault<uint64_t, VLong8>;
using StBagKey_VUUID = StBagKeyNoDefault<VUUID, VUUID>;
using StBagKey_VTime = StBagKeyNoDefault<VTime, VTime>;
using StBagKey_cstring = StBagKeyNoDefault<const char*, const char*>;
using StBagKeyWithDefault_EMessageLevel = StBagKeyWithDefault<EMessageLevel, VLong>;
using StBagKeyWithDefault_VUUID = StBagKeyWithDefault<VUUID, VUUID>;

} // namespace zorn
