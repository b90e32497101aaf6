// VValueInfo: the descriptor of one value kind. It creates empty values of its kind, reads them
// from raw (packed) data, swaps and compares raw data without building values, and reports sizes.
// Every info registers itself under its true kind when built and unregisters when destroyed, so
// VValue::ValueInfoFromValueKind finds the kinds that exist in the program.
//
// VValueInfo_default and VValueInfo_scalar are the generic descriptors for a value class; the
// scalar one handles raw data that is one field of a plain storage type.
#pragma once

#include "toolbox/kernel/values/VValue.h"

#include <cstring>
#include <type_traits>

namespace zorn
{

class VValueInfo : public VObject
{
public:
    VValueInfo(ValueKind inKind, ValueKind inTrueKind);
    explicit VValueInfo(ValueKind inKind) : VValueInfo(inKind, inKind) {}
    ~VValueInfo() override;
    VValueInfo(const VValueInfo&) = delete;
    VValueInfo& operator=(const VValueInfo&) = delete;

    ValueKind GetKind() const { return fKind; }
    ValueKind GetTrueKind() const { return fTrueKind; }

    // A new empty value of the kind.
    virtual VValue* Generate() const = 0;
    virtual VValue* Generate(VBlob* inBlob) const = 0;
    // A new value read from raw data.
    virtual VValue* LoadFromPtr(const void* inData, bool inRefOnly) const = 0;
    // Swaps raw data in place; inFromHost tells that the data is in host order before the swap.
    // Returns the address just past the data.
    virtual void* ByteSwapPtr(void* inData, bool inFromHost) const = 0;

    // Raw comparisons; the defaults answer equal (0), and the pattern and beginning variants
    // forward to CompareTwoPtrToData.
    virtual CompareResult CompareTwoPtrToData(const void* inPtr1, const void* inPtr2,
                                              bool inDiacritical = false) const;
    virtual CompareResult CompareTwoPtrToDataBegining(const void* inPtr1, const void* inPtr2,
                                                      bool inDiacritical = false) const;
    virtual CompareResult CompareTwoPtrToData_Like(const void* inPtr1, const void* inPtr2,
                                                   bool inDiacritical = false) const;
    virtual CompareResult CompareTwoPtrToDataBegining_Like(const void* inPtr1, const void* inPtr2,
                                                           bool inDiacritical = false) const;
    virtual CompareResult CompareTwoPtrToDataWithOptions(const void* inPtr1, const void* inPtr2,
                                                         const VCompareOptions& inOptions) const;
    virtual size_t GetSizeOfValueDataPtr(const void* inPtr) const;
    virtual size_t GetAvgSpace() const;

private:
    ValueKind fKind;
    ValueKind fTrueKind;
};

// Generic descriptor for a value class that can be default-constructed.
template <class TValue, ValueKind kKind>
class VValueInfo_default : public VValueInfo
{
public:
    VValueInfo_default() : VValueInfo(kKind) {}

    VValue* Generate() const override { return new TValue(); }
    VValue* Generate(VBlob* /*inBlob*/) const override { return new TValue(); }
    VValue* LoadFromPtr(const void* inData, bool inRefOnly) const override
    {
        TValue* value = new TValue();
        value->LoadFromPtr(inData, inRefOnly);
        return value;
    }
    void* ByteSwapPtr(void* inData, bool /*inFromHost*/) const override { return inData; }
};

// Generic descriptor for a value whose raw data is one field of TStorage.
template <class TValue, ValueKind kKind, class TStorage>
class VValueInfo_scalar : public VValueInfo_default<TValue, kKind>
{
    static_assert(std::is_trivially_copyable_v<TStorage>);

public:
    void* ByteSwapPtr(void* inData, bool /*inFromHost*/) const override
    {
        unsigned char* bytes = static_cast<unsigned char*>(inData);
        for (size_t i = 0; i < sizeof(TStorage) / 2; ++i)
        {
            std::swap(bytes[i], bytes[sizeof(TStorage) - 1 - i]);
        }
        return bytes + sizeof(TStorage);
    }
    CompareResult CompareTwoPtrToData(const void* inPtr1, const void* inPtr2,
                                      bool /*inDiacritical*/ = false) const override
    {
        TStorage a;
        TStorage b;
        std::memcpy(&a, inPtr1, sizeof(TStorage));
        std::memcpy(&b, inPtr2, sizeof(TStorage));
        return a < b ? CR_SMALLER : (b < a ? CR_BIGGER : CR_EQUAL);
    }
    size_t GetSizeOfValueDataPtr(const void* /*inPtr*/) const override { return sizeof(TStorage); }
    size_t GetAvgSpace() const override { return sizeof(TStorage); }
};

} // namespace zorn
