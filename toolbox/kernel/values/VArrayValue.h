// Typed value arrays: values of kinds 100 to 111 holding one contiguous block of elements of one
// scalar kind, addressed by 1-based indices, with conversion of each element to and from any
// single value, searching, statistics, sorting and a stream form. Every array is also an
// ISortable, through which one multi-criteria sort orders it, alone or together with parallel
// arrays (columns of one table).
//
// Kinds: VArrayBoolean (100, bits), VArrayByte (101), VArrayWord (102), VArrayLong (103),
// VArrayLong8 (104), VArrayReal (105), VArrayTime (107, VTime stamps), VArrayDuration (108,
// milliseconds), VArrayString (109, owned VString pointers, null for a missing string) and
// VArrayBlob (110, owned VBlobWithPtr pointers) and VArrayImage (111, owned values of kind 12,
// images; no value class of kind 12 exists in this program, see VArrayImage). Kind 106 does not
// exist.
//
// Choices made where several were possible:
// - Indices are 1-based; an invalid index makes getters answer 0 (or clear the output) and
//   setters do nothing. Insert takes a position from 1 to count + 1; Delete trims its count to
//   the elements that exist. Nothing raises an error but the stream reader.
// - The element block comes from the process memory manager (tag 'varr'), zero-filled when it
//   grows; an array of count 0 holds no block. A failed allocation leaves the array unchanged
//   (SetCount, Insert) or empty (Copy, constructors) and answers false.
// - Sort bounds: the typed Sort of the numeric arrays and of VArrayBoolean counts from 1; the
//   Sort of the others (strings, times, durations, blobs) counts from 0, as the multi-criteria
//   sort does. Bounds outside the array, or first above last, are refused (false).
// - Integer arrays sort with std::sort on the raw block: equal integers cannot be told apart, so
//   any correct sort gives the same array, and the library's introsort is the fastest at hand.
//   Reals keep the shared quicksort, whose order of equal but distinct values (0.0 and -0.0) and
//   of NaNs the callers see.
// - Booleans order false before true, both in element comparison and in the whole-array Sort
//   (which regroups the bits and keeps the count of set bits); descending puts true first.
// - Blobs order by their bytes (shorter first when one is a prefix of the other).
// - GetStdDev is the square root of the mean squared deviation (1, 2, 3 give sqrt(2/3)).
// - Statistics answer doubles for every numeric kind (a sum of 64-bit numbers cannot overflow);
//   an empty array gives 0. GetMax of an empty array is the type's lowest value, GetMin its
//   highest.
// - SynchronizedSort takes its following arrays as a list (at most 14) instead of a
//   null-terminated variadic list; each must have at least as many elements as the key array.
//
// Stream form (32-bit numbers in the stream's byte order): the kind as a 32-bit number when the
// writer's parameter is 'VVAL' (the reader never reads it: whoever met it chose the class), the
// count, then the elements: bytes as they are; words, longs, long8s, reals, times and durations
// through the stream's swapping writers; booleans as (count + 8) / 8 bytes of bits (bit i in
// byte i / 8, lowest first); strings as the marker 2 and the string's stream form, or the marker
// 'NULL' for a missing one; blobs as their stream form. The reader checks the count against the
// bytes left before it allocates and fails with 'zorn' 200 when the data is short, and with
// VE_VALUE_ARRAY_STREAM_INVALID for a negative count or an unknown string marker. A failed read
// leaves the array empty.
#pragma once

#include "toolbox/kernel/values/VArraySort.h"
#include "toolbox/kernel/values/VBlob.h"
#include "toolbox/kernel/values/VDuration.h"
#include "toolbox/kernel/values/VReal.h"
#include "toolbox/kernel/values/VScalarValues.h"
#include "toolbox/kernel/values/VTime.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <limits>
#include <type_traits>

namespace zorn
{

class VString;
class VBlob;

constexpr ValueKind VK_ARRAY_BOOLEAN = 100;
constexpr ValueKind VK_ARRAY_BYTE = 101;
constexpr ValueKind VK_ARRAY_WORD = 102;
constexpr ValueKind VK_ARRAY_LONG = 103;
constexpr ValueKind VK_ARRAY_LONG8 = 104;
constexpr ValueKind VK_ARRAY_REAL = 105;
constexpr ValueKind VK_ARRAY_TIME = 107;
constexpr ValueKind VK_ARRAY_DURATION = 108;
constexpr ValueKind VK_ARRAY_STRING = 109;
constexpr ValueKind VK_ARRAY_BLOB = 110;
constexpr ValueKind VK_ARRAY_IMAGE = 111;
// The kind of the values an image array holds. No value class of that kind is built here: a
// program that has images registers its own descriptor of kind 12.
constexpr ValueKind VK_IMAGE = 12;

constexpr OsType kTagValueArray = MakeOsType('v', 'a', 'r', 'r');
constexpr OsType kTagSort = MakeOsType('s', 'o', 'r', 't');
// The parameter that makes WriteToStream put the kind first.
constexpr int32_t kStreamParamWithKind = static_cast<int32_t>(MakeOsType('V', 'V', 'A', 'L'));
// A string element's marker in the stream form.
constexpr int32_t kStreamStringPresent = 2;
constexpr int32_t kStreamStringMissing = static_cast<int32_t>(MakeOsType('N', 'U', 'L', 'L'));

// A stream form of an array that does not hold together (negative count, unknown marker). 222,
// as 219 is VFileDesc's "cannot set the size".
constexpr VError VE_VALUE_ARRAY_STREAM_INVALID = MakeVError(kCOMPONENT_ZORN, 222);

// How Find matches an element e with the searched value v.
using CompareMethod = int32_t;
constexpr CompareMethod CM_BIGGER_OR_EQUAL = -2; // e >= v
constexpr CompareMethod CM_BIGGER = -1;          // e > v
constexpr CompareMethod CM_EQUAL = 0;            // e == v
constexpr CompareMethod CM_SMALLER = 1;          // e < v
constexpr CompareMethod CM_SMALLER_OR_EQUAL = 2; // e <= v

// What the multi-criteria sort needs of an array. Element positions count from 0.
class ISortable
{
public:
    virtual ~ISortable() = default;

    virtual void* LockAndGetData() = 0;
    virtual void UnlockData() = 0;
    virtual void SwapElements(void* ioData, int32_t inA, int32_t inB) = 0;
    virtual CompareResult CompareElements(const void* inData, int32_t inA, int32_t inB) const = 0;

    // The three-way compare of rows a and b over the first inKeyCount arrays (each key ascending
    // unless its flag says descending); all keys equal give 0.
    static CompareResult MultiCriteriaCompare(ISortable* const* inArrays, void* const* inBlocks,
                                              const uint8_t* inDescending, int32_t inKeyCount, int32_t inA,
                                              int32_t inB);
    // Swaps rows a and b in every array of the null-terminated list.
    static void MultiCriteriaSwap(ISortable* const* inArrays, void* const* inBlocks, int32_t inA,
                                  int32_t inB);
    // Sorts rows inFirst to inLast (0-based, inclusive) of the null-terminated list of arrays on
    // its first inKeyCount arrays; the others follow the swaps. The caller guarantees that the
    // range lies inside every array; nothing happens when the block list cannot be allocated.
    static void MultiCriteriaQSort(ISortable* const* inArrays, const uint8_t* inDescending,
                                   int32_t inKeyCount, int32_t inFirst, int32_t inLast);
};

class VArrayValue : public VValueMultiple, public ISortable
{
public:
    // An empty array whose elements are inElemSize bytes (0 for bits).
    explicit VArrayValue(uint8_t inElemSize) : fElemSize(inElemSize) {}
    VArrayValue(const VArrayValue& inOther) = delete;
    VArrayValue& operator=(const VArrayValue&) = delete;
    ~VArrayValue() override;

    bool CanBeStreamed() const override { return true; }
    void Clear() override { SetCount(0); }
    void Destroy() { SetCount(0); }

    int32_t GetCount() const override { return fCount; }
    bool ValidIndex(int32_t inIndex) const { return inIndex >= 1 && inIndex <= fCount; }
    // The value kind of the elements.
    virtual ValueKind GetElemValueKind() const = 0;

    // Resizes to inCount elements (negative: 0); new elements are zero (missing for pointers).
    virtual bool SetCount(int32_t inCount);
    // Opens inCount zero elements at inAt (1 to count + 1).
    virtual bool Insert(int32_t inAt, int32_t inCount = 1);
    // Deletes inCount elements from inAt; the rest move down.
    virtual void Delete(int32_t inAt, int32_t inCount = 1);
    // Moves inCount elements from 0-based inFrom to inTo; nothing for a range outside the count.
    virtual void MoveElements(int32_t inFrom, int32_t inTo, int32_t inCount);
    // This array becomes a copy of the other, which must be of the same kind.
    virtual bool Copy(const VArrayValue& inOther);
    size_t GetDataSize() const { return fDataSize; }
    // Resizes the block (new bytes zero) without changing the count.
    bool SetDataSize(size_t inSize);

    // Element n to and from single values.
    virtual void FromValue(const VValueSingle& inValue, int32_t inElement) = 0;
    virtual void GetValue(VValueSingle& outValue, int32_t inElement) const = 0;
    // A new value of the element kind holding element n, or null for an invalid n.
    virtual VValueSingle* CloneValue(int32_t inElement) const = 0;
    using VValueMultiple::CompareTo;
    virtual CompareResult CompareTo(const VValueSingle& inValue, bool inDiacritical,
                                    int32_t inElement) const = 0;
    // The 1-based index of the first element matching inValue by inMethod, scanning from inStart
    // forward or backward, or -1. Arrays that cannot search (booleans, blobs) answer -1.
    virtual int32_t Find(const VValueSingle& inValue, int32_t inStart = 1, bool inForward = true,
                         CompareMethod inMethod = CM_EQUAL) const;

    // Appends one element set from the value; the new count (the old one when memory fails).
    int32_t AppendBoolean(bool inValue)
    {
        return _Append([&](int32_t n) { FromBoolean(inValue, n); });
    }
    int32_t AppendByte(int8_t inValue)
    {
        return _Append([&](int32_t n) { FromByte(inValue, n); });
    }
    int32_t AppendWord(int16_t inValue)
    {
        return _Append([&](int32_t n) { FromWord(inValue, n); });
    }
    int32_t AppendLong(int32_t inValue)
    {
        return _Append([&](int32_t n) { FromLong(inValue, n); });
    }
    int32_t AppendLong8(int64_t inValue)
    {
        return _Append([&](int32_t n) { FromLong8(inValue, n); });
    }
    int32_t AppendReal(double inValue)
    {
        return _Append([&](int32_t n) { FromReal(inValue, n); });
    }
    int32_t AppendDuration(const VDuration& inValue)
    {
        return _Append([&](int32_t n) { FromDuration(inValue, n); });
    }
    int32_t AppendTime(const VTime& inValue)
    {
        return _Append([&](int32_t n) { FromTime(inValue, n); });
    }
    int32_t AppendString(const VString& inValue)
    {
        return _Append([&](int32_t n) { FromString(inValue, n); });
    }

    // Sorts elements inFirst to inLast, counted from 0 (the typed arrays that override it count
    // from 1). False when the bounds are refused.
    virtual bool Sort(int32_t inFirst, int32_t inLast, bool inDescending = false);
    // Sorts inKeys on its whole range and applies the same swaps to each following array.
    static bool SynchronizedSort(bool inDescending, VArrayValue* inKeys,
                                 std::initializer_list<VArrayValue*> inFollowers = {});
    // A fixed scrambling of the elements (the same for a given count).
    virtual void Unsort();

    void* LockAndGetData() override { return fData; }
    void UnlockData() override {}
    const void* GetDataPtr() const { return fData; }

protected:
    // Deletes what elements [inAt, inAt + inCount) own (0-based); the default owns nothing.
    virtual void DeleteElements(int32_t /*inAt*/, int32_t /*inCount*/) {}
    // Makes the copied elements independent of the source (pointer arrays clone each object).
    virtual void CloneElements() {}
    // The block size that holds inCount elements.
    virtual size_t _BlockSizeFor(int32_t inCount) const { return static_cast<size_t>(inCount) * fElemSize; }
    bool _ResizeBlock(size_t inSize);
    // The argument checks of Insert, Delete (which trims ioCount to the elements that exist) and
    // MoveElements.
    bool _CanInsert(int32_t inAt, int32_t inCount) const
    {
        return inCount >= 1 && inAt >= 1 && inAt <= fCount + 1 &&
               inCount <= std::numeric_limits<int32_t>::max() - fCount;
    }
    bool _ClampDeletion(int32_t inAt, int32_t& ioCount) const
    {
        ioCount = std::min(ioCount, fCount - inAt + 1);
        return ValidIndex(inAt) && ioCount >= 1;
    }
    bool _CanMove(int32_t inFrom, int32_t inTo, int32_t inCount) const
    {
        return inFrom >= 0 && inTo >= 0 && inCount >= 1 && inFrom != inTo && inFrom <= fCount - inCount &&
               inTo <= fCount - inCount;
    }
    // The fewest stream bytes that inCount elements take.
    virtual int64_t _MinStreamBytesFor(int32_t inCount) const { return int64_t{inCount} * fElemSize; }
    // Empties the array, reads the count and, when the stream still holds that many elements,
    // sizes the array; otherwise raises and returns the error, leaving the array empty.
    VError _BeginStreamRead(VStream* ioStream, int32_t& outCount);
    // Empties the array and raises the stream's error, or inError when the stream has none.
    VError _FailStreamRead(VStream* ioStream, VError inError);
    // Writes the kind when asked, then the count.
    VError _WriteHeader(VStream* ioStream, int32_t inParam) const;

    uint8_t fElemSize;
    int32_t fCount = 0;
    void* fData = nullptr;
    size_t fDataSize = 0;

private:
    template <class TSet>
    int32_t _Append(TSet inSet)
    {
        if (!Insert(fCount + 1, 1))
        {
            return fCount;
        }
        inSet(fCount);
        return fCount;
    }
};

namespace detail
{

// How an element type reads from and writes to single values.
template <class TElem>
struct ArrayElementTraits;

template <>
struct ArrayElementTraits<VByte>
{
    using Type = int8_t;
    static Type Read(const VValueSingle& inValue) { return inValue.GetByte(); }
    static void Write(VValueSingle& outValue, Type inValue) { outValue.FromByte(inValue); }
};
template <>
struct ArrayElementTraits<VWord>
{
    using Type = int16_t;
    static Type Read(const VValueSingle& inValue) { return inValue.GetWord(); }
    static void Write(VValueSingle& outValue, Type inValue) { outValue.FromWord(inValue); }
};
template <>
struct ArrayElementTraits<VLong>
{
    using Type = int32_t;
    static Type Read(const VValueSingle& inValue) { return inValue.GetLong(); }
    static void Write(VValueSingle& outValue, Type inValue) { outValue.FromLong(inValue); }
};
template <>
struct ArrayElementTraits<VLong8>
{
    using Type = int64_t;
    static Type Read(const VValueSingle& inValue) { return inValue.GetLong8(); }
    static void Write(VValueSingle& outValue, Type inValue) { outValue.FromLong8(inValue); }
};
template <>
struct ArrayElementTraits<VReal>
{
    using Type = double;
    static Type Read(const VValueSingle& inValue) { return inValue.GetReal(); }
    static void Write(VValueSingle& outValue, Type inValue) { outValue.FromReal(inValue); }
};
template <>
struct ArrayElementTraits<VTime>
{
    using Type = uint64_t;
    static Type Read(const VValueSingle& inValue)
    {
        VTime time;
        inValue.GetTime(time);
        return time.GetStamp();
    }
    static void Write(VValueSingle& outValue, Type inValue) { outValue.FromTime(VTime(inValue)); }
};
template <>
struct ArrayElementTraits<VDuration>
{
    using Type = int64_t;
    static Type Read(const VValueSingle& inValue)
    {
        VDuration duration;
        inValue.GetDuration(duration);
        return duration.ConvertToMilliseconds();
    }
    static void Write(VValueSingle& outValue, Type inValue) { outValue.FromDuration(VDuration(inValue)); }
};

// Whether element e matches v by the method.
template <class T>
bool MatchesByMethod(CompareResult inCompare, CompareMethod inMethod)
{
    switch (inMethod)
    {
    case CM_BIGGER_OR_EQUAL:
        return inCompare >= 0;
    case CM_BIGGER:
        return inCompare > 0;
    case CM_EQUAL:
        return inCompare == 0;
    case CM_SMALLER:
        return inCompare < 0;
    case CM_SMALLER_OR_EQUAL:
        return inCompare <= 0;
    default:
        return false;
    }
}

template <class T>
CompareResult CompareNumbers(T inA, T inB)
{
    return inA < inB ? CR_SMALLER : (inB < inA ? CR_BIGGER : CR_EQUAL);
}

} // namespace detail

// The arrays of fixed-size numbers: bytes, words, longs, long8s, reals, times and durations.
// TElem is the element value class.
template <class TArray, class TElem, ValueKind kKind>
class VArrayNumberOf : public VArrayValue
{
public:
    using Traits = detail::ArrayElementTraits<TElem>;
    using Type = typename Traits::Type;

    explicit VArrayNumberOf(int32_t inCount = 0) : VArrayValue(sizeof(Type)) { SetCount(inCount); }
    VArrayNumberOf(const VArrayNumberOf& inOther) : VArrayValue(sizeof(Type)) { Copy(inOther); }

    const VValueInfo* GetValueInfo() const override { return &TArray::Info(); }
    VValue* Clone() const override { return new TArray(static_cast<const TArray&>(*this)); }
    ValueKind GetElemValueKind() const override { return TElem::Info().GetKind(); }

    // Element n, or 0 for an invalid n.
    Type GetElement(int32_t inElement) const
    {
        return ValidIndex(inElement) ? Data()[inElement - 1] : Type{};
    }
    void SetElement(Type inValue, int32_t inElement)
    {
        if (ValidIndex(inElement))
        {
            Data()[inElement - 1] = inValue;
        }
    }
    const Type* Data() const { return static_cast<const Type*>(fData); }
    Type* Data() { return static_cast<Type*>(fData); }

    using VArrayValue::FromValue;
    void FromBoolean(bool inValue, int32_t inElement) override { _SetVia<VBoolean>(inValue, inElement); }
    void FromByte(int8_t inValue, int32_t inElement) override { _SetVia<VByte>(inValue, inElement); }
    void FromWord(int16_t inValue, int32_t inElement) override { _SetVia<VWord>(inValue, inElement); }
    void FromLong(int32_t inValue, int32_t inElement) override { _SetVia<VLong>(inValue, inElement); }
    void FromLong8(int64_t inValue, int32_t inElement) override { _SetVia<VLong8>(inValue, inElement); }
    void FromReal(double inValue, int32_t inElement) override { _SetVia<VReal>(inValue, inElement); }
    void FromString(const VString& inValue, int32_t inElement) override { FromValue(inValue, inElement); }
    void FromDuration(const VDuration& inValue, int32_t inElement) override { FromValue(inValue, inElement); }
    void FromTime(const VTime& inValue, int32_t inElement) override { FromValue(inValue, inElement); }
    void FromValue(const VValueSingle& inValue, int32_t inElement) override
    {
        if (ValidIndex(inElement))
        {
            Data()[inElement - 1] = Traits::Read(inValue);
        }
    }
    void GetValue(VValueSingle& outValue, int32_t inElement) const override
    {
        if (ValidIndex(inElement))
        {
            Traits::Write(outValue, Data()[inElement - 1]);
        }
    }
    VValueSingle* CloneValue(int32_t inElement) const override
    {
        if (!ValidIndex(inElement))
        {
            return nullptr;
        }
        TElem* value = new TElem();
        Traits::Write(*value, Data()[inElement - 1]);
        return value;
    }
    CompareResult CompareTo(const VValueSingle& inValue, bool /*inDiacritical*/,
                            int32_t inElement) const override
    {
        return detail::CompareNumbers(GetElement(inElement), Traits::Read(inValue));
    }

    using VArrayValue::Find;
    int32_t Find(const VValueSingle& inValue, int32_t inStart = 1, bool inForward = true,
                 CompareMethod inMethod = CM_EQUAL) const override
    {
        return FindElement(Traits::Read(inValue), inStart, inForward, inMethod);
    }
    int32_t FindElement(Type inValue, int32_t inStart = 1, bool inForward = true,
                        CompareMethod inMethod = CM_EQUAL) const
    {
        if (!ValidIndex(inStart))
        {
            return -1;
        }
        const Type* data = Data();
        const int32_t step = inForward ? 1 : -1;
        for (int32_t i = inStart - 1; i >= 0 && i < fCount; i += step)
        {
            if (detail::MatchesByMethod<Type>(detail::CompareNumbers(data[i], inValue), inMethod))
            {
                return i + 1;
            }
        }
        return -1;
    }
    // Halving search in an array sorted ascending: the 1-based index of an equal element, or -1.
    int32_t QuickFind(Type inValue) const
    {
        const Type* data = Data();
        int32_t lo = 0;
        int32_t hi = fCount - 1;
        while (lo <= hi)
        {
            int32_t mid = lo + (hi - lo) / 2;
            if (data[mid] < inValue)
            {
                lo = mid + 1;
            }
            else if (inValue < data[mid])
            {
                hi = mid - 1;
            }
            else
            {
                return mid + 1;
            }
        }
        return -1;
    }

    Type GetMin() const
    {
        Type result = std::numeric_limits<Type>::max();
        for (int32_t i = 0; i < fCount; ++i)
        {
            result = Data()[i] < result ? Data()[i] : result;
        }
        return result;
    }
    Type GetMax() const
    {
        Type result = std::numeric_limits<Type>::lowest();
        for (int32_t i = 0; i < fCount; ++i)
        {
            result = result < Data()[i] ? Data()[i] : result;
        }
        return result;
    }
    double GetSum() const
    {
        double sum = 0;
        for (int32_t i = 0; i < fCount; ++i)
        {
            sum += static_cast<double>(Data()[i]);
        }
        return sum;
    }
    double GetAverage() const { return fCount == 0 ? 0 : GetSum() / fCount; }
    double GetSquareSum() const
    {
        const double average = GetAverage();
        double sum = 0;
        for (int32_t i = 0; i < fCount; ++i)
        {
            const double deviation = static_cast<double>(Data()[i]) - average;
            sum += deviation * deviation;
        }
        return sum;
    }
    double GetStdDev() const { return fCount == 0 ? 0 : std::sqrt(GetSquareSum() / fCount); }

    void SwapElements(void* ioData, int32_t inA, int32_t inB) override
    {
        Type* data = static_cast<Type*>(ioData);
        Type held = data[inA];
        data[inA] = data[inB];
        data[inB] = held;
    }
    CompareResult CompareElements(const void* inData, int32_t inA, int32_t inB) const override
    {
        const Type* data = static_cast<const Type*>(inData);
        return detail::CompareNumbers(data[inA], data[inB]);
    }

    VError WriteToStream(VStream* ioStream, int32_t inParam = 0) const override;
    VError ReadFromStream(VStream* ioStream, int32_t inParam = 0) override;

    // Numbers sort on their raw values with 1-based bounds; times and durations go to the
    // multi-criteria sort with 0-based bounds.
    bool Sort(int32_t inFirst, int32_t inLast, bool inDescending = false) override
    {
        if constexpr (std::is_same_v<TElem, VTime> || std::is_same_v<TElem, VDuration>)
        {
            return VArrayValue::Sort(inFirst, inLast, inDescending);
        }
        else
        {
            return _SortNumbers(inFirst, inLast, inDescending);
        }
    }

private:
    // Sorts elements inFirst to inLast (1-based) on the raw numbers.
    bool _SortNumbers(int32_t inFirst, int32_t inLast, bool inDescending)
    {
        if (inFirst < 1 || inLast > fCount || inFirst > inLast)
        {
            return false;
        }
        Type* data = Data();
        if constexpr (std::is_integral_v<Type>)
        {
            if (inDescending)
            {
                std::sort(data + inFirst - 1, data + inLast, std::greater<Type>());
            }
            else
            {
                std::sort(data + inFirst - 1, data + inLast);
            }
            return true;
        }
        auto swap = [data](int32_t a, int32_t b)
        {
            Type held = data[a];
            data[a] = data[b];
            data[b] = held;
        };
        if (inDescending)
        {
            detail::QuickSortRange(
                inFirst - 1, inLast - 1,
                [data](int32_t a, int32_t b) { return detail::CompareNumbers(data[b], data[a]); }, swap);
        }
        else
        {
            detail::QuickSortRange(
                inFirst - 1, inLast - 1,
                [data](int32_t a, int32_t b) { return detail::CompareNumbers(data[a], data[b]); }, swap);
        }
        return true;
    }

    template <class TVia, class TIn>
    void _SetVia(TIn inValue, int32_t inElement)
    {
        if (ValidIndex(inElement))
        {
            TVia via(inValue);
            Data()[inElement - 1] = Traits::Read(via);
        }
    }
};

template <class TArray>
class VValueInfo_array;

class VArrayByte : public VArrayNumberOf<VArrayByte, VByte, VK_ARRAY_BYTE>
{
public:
    using VArrayNumberOf::VArrayNumberOf;
    static const VValueInfo_array<VArrayByte>& Info();
    int8_t GetByte(int32_t inElement) const { return GetElement(inElement); }
};

class VArrayWord : public VArrayNumberOf<VArrayWord, VWord, VK_ARRAY_WORD>
{
public:
    using VArrayNumberOf::VArrayNumberOf;
    static const VValueInfo_array<VArrayWord>& Info();
    int16_t GetWord(int32_t inElement) const { return GetElement(inElement); }
};

class VArrayLong : public VArrayNumberOf<VArrayLong, VLong, VK_ARRAY_LONG>
{
public:
    using VArrayNumberOf::VArrayNumberOf;
    static const VValueInfo_array<VArrayLong>& Info();
    int32_t GetLong(int32_t inElement) const { return GetElement(inElement); }
};

class VArrayLong8 : public VArrayNumberOf<VArrayLong8, VLong8, VK_ARRAY_LONG8>
{
public:
    using VArrayNumberOf::VArrayNumberOf;
    static const VValueInfo_array<VArrayLong8>& Info();
    int64_t GetLong8(int32_t inElement) const { return GetElement(inElement); }
};

class VArrayReal : public VArrayNumberOf<VArrayReal, VReal, VK_ARRAY_REAL>
{
public:
    using VArrayNumberOf::VArrayNumberOf;
    static const VValueInfo_array<VArrayReal>& Info();
    double GetReal(int32_t inElement) const { return GetElement(inElement); }
};

// Times are kept as their stamps; Sort counts from 0 (the multi-criteria sort).
class VArrayTime : public VArrayNumberOf<VArrayTime, VTime, VK_ARRAY_TIME>
{
public:
    using VArrayNumberOf::VArrayNumberOf;
    static const VValueInfo_array<VArrayTime>& Info();
    void GetTime(VTime& outValue, int32_t inElement) const { outValue.FromStamp(GetElement(inElement)); }
};

// Durations are kept as milliseconds; Sort counts from 0 (the multi-criteria sort).
class VArrayDuration : public VArrayNumberOf<VArrayDuration, VDuration, VK_ARRAY_DURATION>
{
public:
    using VArrayNumberOf::VArrayNumberOf;
    static const VValueInfo_array<VArrayDuration>& Info();
    void GetDuration(VDuration& outValue, int32_t inElement) const
    {
        outValue.FromNbMilliseconds(GetElement(inElement));
    }
};

// Bits: element i is bit i % 8 of byte i / 8; the block holds (count + 8) / 8 bytes.
class VArrayBoolean : public VArrayValue
{
public:
    explicit VArrayBoolean(int32_t inCount = 0) : VArrayValue(0) { SetCount(inCount); }
    VArrayBoolean(const VArrayBoolean& inOther) : VArrayValue(0) { Copy(inOther); }

    static const VValueInfo_array<VArrayBoolean>& Info();
    const VValueInfo* GetValueInfo() const override;
    VValue* Clone() const override { return new VArrayBoolean(*this); }
    ValueKind GetElemValueKind() const override { return VK_BOOLEAN; }

    bool GetBoolean(int32_t inElement) const { return ValidIndex(inElement) && _Bit(inElement - 1); }

    bool Insert(int32_t inAt, int32_t inCount = 1) override;
    void Delete(int32_t inAt, int32_t inCount = 1) override;
    void MoveElements(int32_t inFrom, int32_t inTo, int32_t inCount) override;

    void FromBoolean(bool inValue, int32_t inElement) override;
    void FromByte(int8_t inValue, int32_t inElement) override { FromBoolean(inValue != 0, inElement); }
    void FromWord(int16_t inValue, int32_t inElement) override { FromBoolean(inValue != 0, inElement); }
    void FromLong(int32_t inValue, int32_t inElement) override { FromBoolean(inValue != 0, inElement); }
    void FromLong8(int64_t inValue, int32_t inElement) override { FromBoolean(inValue != 0, inElement); }
    void FromReal(double inValue, int32_t inElement) override { FromBoolean(inValue != 0, inElement); }
    void FromString(const VString& inValue, int32_t inElement) override;
    void FromValue(const VValueSingle& inValue, int32_t inElement) override
    {
        FromBoolean(inValue.GetBoolean(), inElement);
    }
    void GetValue(VValueSingle& outValue, int32_t inElement) const override;
    VValueSingle* CloneValue(int32_t inElement) const override;
    CompareResult CompareTo(const VValueSingle& inValue, bool inDiacritical,
                            int32_t inElement) const override;

    // 1-based. The whole array regroups its bits (clear bits first, or set bits first when
    // descending); a part goes to the multi-criteria sort.
    bool Sort(int32_t inFirst, int32_t inLast, bool inDescending = false) override;

    void SwapElements(void* ioData, int32_t inA, int32_t inB) override;
    CompareResult CompareElements(const void* inData, int32_t inA, int32_t inB) const override;

    VError WriteToStream(VStream* ioStream, int32_t inParam = 0) const override;
    VError ReadFromStream(VStream* ioStream, int32_t inParam = 0) override;

protected:
    size_t _BlockSizeFor(int32_t inCount) const override { return (static_cast<size_t>(inCount) + 8) / 8; }
    int64_t _MinStreamBytesFor(int32_t inCount) const override { return (int64_t{inCount} + 8) / 8; }

private:
    bool _Bit(int32_t inIndex) const
    {
        return (static_cast<const uint8_t*>(fData)[inIndex / 8] >> (inIndex % 8) & 1) != 0;
    }
    void _SetBit(int32_t inIndex, bool inValue);
};

// Arrays of owned objects (strings, blobs, images): each element is a pointer, null for a missing
// one. TArray is the array class (its descriptor, its copies), kElemKind its elements' kind. Between
// elements a missing one comes first and two present ones compare by TArray::ComparePresent.
template <class TArray, class TObject, ValueKind kElemKind>
class VArrayPointersOf : public VArrayValue
{
public:
    explicit VArrayPointersOf(int32_t inCount = 0) : VArrayValue(sizeof(TObject*)) { SetCount(inCount); }
    VArrayPointersOf(const VArrayPointersOf& inOther) : VArrayValue(sizeof(TObject*)) { Copy(inOther); }
    ~VArrayPointersOf() override { SetCount(0); }

    const VValueInfo* GetValueInfo() const override { return &TArray::Info(); }
    VValue* Clone() const override { return new TArray(static_cast<const TArray&>(*this)); }
    ValueKind GetElemValueKind() const override { return kElemKind; }

    TObject* GetObject(int32_t inElement) const
    {
        return ValidIndex(inElement) ? Data()[inElement - 1] : nullptr;
    }

    CompareResult CompareElements(const void* inData, int32_t inA, int32_t inB) const override
    {
        const TObject* const* data = static_cast<const TObject* const*>(inData);
        const TObject* a = data[inA];
        const TObject* b = data[inB];
        if (a == nullptr || b == nullptr)
        {
            return a == b ? CR_EQUAL : (a == nullptr ? CR_SMALLER : CR_BIGGER);
        }
        return TArray::ComparePresent(*a, *b);
    }

    void SwapElements(void* ioData, int32_t inA, int32_t inB) override
    {
        TObject** data = static_cast<TObject**>(ioData);
        TObject* held = data[inA];
        data[inA] = data[inB];
        data[inB] = held;
    }

protected:
    TObject* const* Data() const { return static_cast<TObject* const*>(fData); }
    TObject** Data() { return static_cast<TObject**>(fData); }

    void DeleteElements(int32_t inAt, int32_t inCount) override
    {
        for (int32_t i = inAt; i < inAt + inCount; ++i)
        {
            delete Data()[i];
            Data()[i] = nullptr;
        }
    }
    // A marker (strings) or a length (blobs) at least.
    int64_t _MinStreamBytesFor(int32_t inCount) const override { return int64_t{inCount} * 4; }
    void CloneElements() override
    {
        for (int32_t i = 0; i < fCount; ++i)
        {
            if (Data()[i] != nullptr)
            {
                Data()[i] = static_cast<TObject*>(Data()[i]->Clone());
            }
        }
    }
};

class VArrayString : public VArrayPointersOf<VArrayString, VString, VK_STRING>
{
public:
    using VArrayPointersOf::VArrayPointersOf;

    static const VValueInfo_array<VArrayString>& Info();

    // The element, or a cleared string for an invalid index or a missing element.
    void GetString(VString& outValue, int32_t inElement) const;

    void FromBoolean(bool inValue, int32_t inElement) override { _SetVia(VBoolean(inValue), inElement); }
    void FromByte(int8_t inValue, int32_t inElement) override { _SetVia(VByte(inValue), inElement); }
    void FromWord(int16_t inValue, int32_t inElement) override { _SetVia(VWord(inValue), inElement); }
    void FromLong(int32_t inValue, int32_t inElement) override { _SetVia(VLong(inValue), inElement); }
    void FromLong8(int64_t inValue, int32_t inElement) override { _SetVia(VLong8(inValue), inElement); }
    void FromReal(double inValue, int32_t inElement) override { _SetVia(VReal(inValue), inElement); }
    void FromDuration(const VDuration& inValue, int32_t inElement) override { _SetVia(inValue, inElement); }
    void FromTime(const VTime& inValue, int32_t inElement) override { _SetVia(inValue, inElement); }
    // Creates a missing element.
    void FromString(const VString& inValue, int32_t inElement) override;
    void FromValue(const VValueSingle& inValue, int32_t inElement) override { _SetVia(inValue, inElement); }
    void GetValue(VValueSingle& outValue, int32_t inElement) const override;
    VValueSingle* CloneValue(int32_t inElement) const override;
    // An invalid index gives -1.
    CompareResult CompareTo(const VValueSingle& inValue, bool inDiacritical,
                            int32_t inElement) const override;

    // Missing strings are skipped; CM_EQUAL compares by EqualToString, the others by
    // CompareToString, both without the diacritical option.
    int32_t Find(const VValueSingle& inValue, int32_t inStart = 1, bool inForward = true,
                 CompareMethod inMethod = CM_EQUAL) const override;

    // Between elements, a missing string comes before any string; strings compare with the
    // diacritical option.
    static CompareResult ComparePresent(const VString& inA, const VString& inB);

    VError WriteToStream(VStream* ioStream, int32_t inParam = 0) const override;
    VError ReadFromStream(VStream* ioStream, int32_t inParam = 0) override;

private:
    void _SetVia(const VValueSingle& inValue, int32_t inElement);
};

class VArrayBlob : public VArrayPointersOf<VArrayBlob, VBlob, VK_BLOB>
{
public:
    using VArrayPointersOf::VArrayPointersOf;

    static const VValueInfo_array<VArrayBlob>& Info();

    // Sets element n from a blob (a missing element is created); other values are ignored.
    void FromValue(const VValueSingle& inValue, int32_t inElement) override;
    void GetValue(VValueSingle& outValue, int32_t inElement) const override;
    VValueSingle* CloneValue(int32_t inElement) const override;
    // Blobs are not ordered against single values: CR_UNRELEVANT.
    CompareResult CompareTo(const VValueSingle& inValue, bool inDiacritical,
                            int32_t inElement) const override;

    // Between elements, by bytes (a missing blob before any blob).
    static CompareResult ComparePresent(const VBlob& inA, const VBlob& inB);

    VError WriteToStream(VStream* ioStream, int32_t inParam = 0) const override;
    VError ReadFromStream(VStream* ioStream, int32_t inParam = 0) override;
};

// Images: each element an owned value of kind 12 (made by whatever descriptor of that kind is
// registered), null for a missing one.
// - Elements are set from values of kind 12 only (a copy is stored); other values are ignored.
//   GetValue hands the element to the output's FromValue (a missing element clears the output).
// - Images are not ordered against single values (CR_UNRELEVANT); between elements a missing
//   image comes first and two images compare by their own CompareToSameKind.
// - Stream form: never the kind, even for 'VVAL'; the count, then each image's own stream form,
//   or 8 zero bytes for a missing one. Each image is read by a new value of the registered kind
//   12, which must take at least one byte. With no such kind registered the images cannot be
//   read, nor passed over (their length is their class's business), so a non-empty image array
//   is refused with 'zorn' 2 (VE_UNIMPLEMENTED) rather than leaving the stream inside them; an
//   empty one reads as empty.
class VArrayImage : public VArrayPointersOf<VArrayImage, VValueSingle, VK_IMAGE>
{
public:
    using VArrayPointersOf::VArrayPointersOf;

    static const VValueInfo_array<VArrayImage>& Info();

    void FromValue(const VValueSingle& inValue, int32_t inElement) override;
    void GetValue(VValueSingle& outValue, int32_t inElement) const override;
    // A copy of the image, or null for an invalid index or a missing image.
    VValueSingle* CloneValue(int32_t inElement) const override;
    CompareResult CompareTo(const VValueSingle& inValue, bool inDiacritical,
                            int32_t inElement) const override;
    static CompareResult ComparePresent(const VValueSingle& inA, const VValueSingle& inB)
    {
        return inA.CompareToSameKind(&inB);
    }

    VError WriteToStream(VStream* ioStream, int32_t inParam = 0) const override;
    VError ReadFromStream(VStream* ioStream, int32_t inParam = 0) override;

protected:
    int64_t _MinStreamBytesFor(int32_t inCount) const override { return inCount; }
};

// The descriptor of an array kind: Generate and LoadFromPtr give a new empty array (the raw data
// is not read: arrays have no packed form) and ByteSwapPtr does nothing.
template <class TArray>
class VValueInfo_array : public VValueInfo
{
public:
    explicit VValueInfo_array(ValueKind inKind) : VValueInfo(inKind) {}
    VValue* Generate() const override { return new TArray(); }
    VValue* Generate(VBlob* /*inBlob*/) const override { return new TArray(); }
    VValue* LoadFromPtr(const void* /*inData*/, bool /*inRefOnly*/) const override { return new TArray(); }
    void* ByteSwapPtr(void* inData, bool /*inFromHost*/) const override { return inData; }
};

// Registers the descriptors of every array kind (done before the first kind look-up).
void InitArrayValueInfos();

} // namespace zorn
