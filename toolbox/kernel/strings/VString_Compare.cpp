// VString: raw comparisons of the units, and collated comparisons, which are always handed to
// an international manager's collator: the current task's, or the one that comparison options
// carry. No collated comparison takes a shortcut of its own (equal lengths or identical buffers
// still go to the collator), since collation may find different texts equal.

#include "toolbox/kernel/locale/VCollator.h"
#include "toolbox/kernel/locale/VIntlMgr.h"
#include "toolbox/kernel/strings/VString.h"
#include "toolbox/kernel/values/VCompareOptions.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace zorn
{

namespace
{

// The units of a stored string (an int32 length followed by the units). Units that are not
// aligned for UTF-16 access are copied out first.
class StStoredText
{
public:
    explicit StStoredText(const void* inData)
    {
        const unsigned char* bytes = static_cast<const unsigned char*>(inData);
        int32_t length = 0;
        std::memcpy(&length, bytes, sizeof(length));
        fLength = std::max(length, 0);
        const unsigned char* units = bytes + sizeof(length);
        if (reinterpret_cast<uintptr_t>(units) % alignof(UniChar) == 0)
        {
            fUnits = reinterpret_cast<const UniChar*>(units);
            return;
        }
        UniChar* copy = fCopy.GetCPointerForWrite(fLength);
        if (copy == nullptr)
        {
            fLength = 0;
            return;
        }
        std::memcpy(copy, units, static_cast<size_t>(fLength) * sizeof(UniChar));
        fCopy.Validate(fLength);
        fUnits = fCopy.GetCPointer();
    }
    StStoredText(const StStoredText&) = delete;
    StStoredText& operator=(const StStoredText&) = delete;

    const UniChar* Units() const { return fUnits; }
    int32_t Length() const { return fLength; }

private:
    VString fCopy;
    const UniChar* fUnits = nullptr;
    int32_t fLength = 0;
};

const VCollator* CollatorOf(const VCompareOptions& inOptions)
{
    VIntlMgr* manager = inOptions.GetIntlManager();
    return manager != nullptr ? manager->GetCollator() : VIntlMgr::GetCurrentCollator();
}

CompareResult Compare(const UniChar* inText1, int32_t inLength1, const UniChar* inText2, int32_t inLength2,
                      bool inDiacritical)
{
    return VIntlMgr::GetCurrentCollator()->CompareString(inText1, inLength1, inText2, inLength2,
                                                         inDiacritical);
}

CompareResult CompareLike(const UniChar* inText1, int32_t inLength1, const UniChar* inText2,
                          int32_t inLength2, bool inDiacritical)
{
    return VIntlMgr::GetCurrentCollator()->CompareString_Like(inText1, inLength1, inText2, inLength2,
                                                              inDiacritical);
}

bool Equal(const UniChar* inText1, int32_t inLength1, const UniChar* inText2, int32_t inLength2,
           bool inDiacritical)
{
    return VIntlMgr::GetCurrentCollator()->EqualString(inText1, inLength1, inText2, inLength2, inDiacritical);
}

bool EqualLike(const UniChar* inText1, int32_t inLength1, const UniChar* inText2, int32_t inLength2,
               bool inDiacritical)
{
    return VIntlMgr::GetCurrentCollator()->EqualString_Like(inText1, inLength1, inText2, inLength2,
                                                            inDiacritical);
}

CompareResult CompareWithOptions(const UniChar* inText1, int32_t inLength1, const UniChar* inText2,
                                 int32_t inLength2, const VCompareOptions& inOptions)
{
    const VCollator* collator = CollatorOf(inOptions);
    return inOptions.IsLike()
               ? collator->CompareString_Like(inText1, inLength1, inText2, inLength2,
                                              inOptions.IsDiacritical())
               : collator->CompareString(inText1, inLength1, inText2, inLength2, inOptions.IsDiacritical());
}

bool EqualWithOptions(const UniChar* inText1, int32_t inLength1, const UniChar* inText2, int32_t inLength2,
                      const VCompareOptions& inOptions)
{
    const VCollator* collator = CollatorOf(inOptions);
    return inOptions.IsLike()
               ? collator->EqualString_Like(inText1, inLength1, inText2, inLength2, inOptions.IsDiacritical())
               : collator->EqualString(inText1, inLength1, inText2, inLength2, inOptions.IsDiacritical());
}

// Unit-by-unit three-way comparison up to and including the first 0 unit; the end of a string
// reads as a 0 unit, so nothing past either length is read.
template <class Fold>
CompareResult CompareUnitsToZero(const UniChar* inText1, int32_t inLength1, const UniChar* inText2,
                                 int32_t inLength2, Fold inFold)
{
    for (int32_t i = 0;; ++i)
    {
        UniChar a = inFold(i < inLength1 ? inText1[i] : 0);
        UniChar b = inFold(i < inLength2 ? inText2[i] : 0);
        if (a != b)
        {
            return a < b ? CR_SMALLER : CR_BIGGER;
        }
        if (a == 0)
        {
            return CR_EQUAL;
        }
    }
}

const VString& AsString(const VValue* inValue)
{
    return *static_cast<const VString*>(inValue);
}

} // namespace

// Raw comparisons

bool VString::EqualToStringRaw(const VString& inString) const
{
    return fLength == inString.fLength && std::equal(fString, fString + fLength, inString.fString);
}

CompareResult VString::CompareToStringRaw(const VString& inString) const
{
    return CompareUnitsToZero(fString, fLength, inString.fString, inString.fLength,
                              [](UniChar inUnit) { return inUnit; });
}

CompareResult VString::CompareToStringRawCase(const VString& inString) const
{
    return CompareUnitsToZero(
        fString, fLength, inString.fString, inString.fLength,
        [](UniChar inUnit)
        { return inUnit >= 'A' && inUnit <= 'Z' ? static_cast<UniChar>(inUnit + ('a' - 'A')) : inUnit; });
}

bool VString::EqualToUSASCIICString(const char* inCString) const
{
    if (inCString == nullptr)
    {
        return fLength == 0;
    }
    int32_t i = 0;
    for (; inCString[i] != 0; ++i)
    {
        UniChar widened = static_cast<UniChar>(static_cast<int16_t>(static_cast<signed char>(inCString[i])));
        if (i >= fLength || fString[i] != widened)
        {
            return false;
        }
    }
    return i == fLength;
}

double VString::SimilarToString(const VString& inString) const
{
    if (fLength == 0 || inString.fLength == 0)
    {
        return 0;
    }
    // Longest common subsequence over two rows of this string's length + 1 counters.
    const size_t columns = static_cast<size_t>(fLength) + 1;
    uint64_t* previous = static_cast<uint64_t*>(std::calloc(columns, sizeof(uint64_t)));
    uint64_t* current = static_cast<uint64_t*>(std::calloc(columns, sizeof(uint64_t)));
    double similarity = 0;
    if (previous != nullptr && current != nullptr)
    {
        for (int32_t row = 0; row < inString.fLength; ++row)
        {
            UniChar unit = inString.fString[row];
            for (size_t column = 1; column < columns; ++column)
            {
                current[column] = fString[column - 1] == unit
                                      ? previous[column - 1] + 1
                                      : std::max(previous[column], current[column - 1]);
            }
            std::swap(previous, current);
        }
        similarity = static_cast<double>(previous[columns - 1]) / fLength;
    }
    std::free(previous);
    std::free(current);
    return similarity;
}

// Collated comparisons through the current task's manager

CompareResult VString::CompareToString(const VString& inString, bool inDiacritical) const
{
    return Compare(fString, fLength, inString.fString, inString.fLength, inDiacritical);
}

CompareResult VString::CompareToString_Like(const VString& inString, bool inDiacritical) const
{
    return CompareLike(fString, fLength, inString.fString, inString.fLength, inDiacritical);
}

bool VString::EqualToString(const VString& inString, bool inDiacritical) const
{
    return Equal(fString, fLength, inString.fString, inString.fLength, inDiacritical);
}

bool VString::EqualToString_Like(const VString& inString, bool inDiacritical) const
{
    return EqualLike(fString, fLength, inString.fString, inString.fLength, inDiacritical);
}

CompareResult VString::CompareTo(const VValueSingle& inValue, bool inDiacritical) const
{
    VStr<255> text;
    inValue.GetString(text);
    return Compare(fString, fLength, text.GetCPointer(), text.GetLength(), inDiacritical);
}

// Value model: other strings

CompareResult VString::CompareToSameKind(const VValue* inValue, bool inDiacritical) const
{
    const VString& other = AsString(inValue);
    return Compare(fString, fLength, other.fString, other.fLength, inDiacritical);
}

CompareResult VString::CompareBeginingToSameKind(const VValue* inValue, bool inDiacritical) const
{
    const VString& other = AsString(inValue);
    return Compare(fString, std::min(fLength, other.fLength), other.fString, other.fLength, inDiacritical);
}

bool VString::EqualToSameKind(const VValue* inValue, bool inDiacritical) const
{
    const VString& other = AsString(inValue);
    return Equal(fString, fLength, other.fString, other.fLength, inDiacritical);
}

CompareResult VString::CompareToSameKind_Like(const VValue* inValue, bool inDiacritical) const
{
    const VString& other = AsString(inValue);
    return CompareLike(fString, fLength, other.fString, other.fLength, inDiacritical);
}

CompareResult VString::CompareBeginingToSameKind_Like(const VValue* inValue, bool inDiacritical) const
{
    const VString& other = AsString(inValue);
    return CompareLike(fString, std::min(fLength, other.fLength), other.fString, other.fLength,
                       inDiacritical);
}

bool VString::EqualToSameKind_Like(const VValue* inValue, bool inDiacritical) const
{
    const VString& other = AsString(inValue);
    return EqualLike(fString, fLength, other.fString, other.fLength, inDiacritical);
}

// Value model: stored forms

CompareResult VString::CompareToSameKindPtr(const void* inPtrToValueData, bool inDiacritical) const
{
    StStoredText stored(inPtrToValueData);
    return Compare(fString, fLength, stored.Units(), stored.Length(), inDiacritical);
}

CompareResult VString::Swap_CompareToSameKindPtr(const void* inPtrToValueData, bool inDiacritical) const
{
    StStoredText stored(inPtrToValueData);
    return Compare(stored.Units(), stored.Length(), fString, fLength, inDiacritical);
}

CompareResult VString::CompareBeginingToSameKindPtr(const void* inPtrToValueData, bool inDiacritical) const
{
    StStoredText stored(inPtrToValueData);
    return Compare(fString, std::min(fLength, stored.Length()), stored.Units(), stored.Length(),
                   inDiacritical);
}

CompareResult VString::IsTheBeginingToSameKindPtr(const void* inPtrToValueData, bool inDiacritical) const
{
    StStoredText stored(inPtrToValueData);
    return Compare(fString, fLength, stored.Units(), std::min(fLength, stored.Length()), inDiacritical);
}

bool VString::EqualToSameKindPtr(const void* inPtrToValueData, bool inDiacritical) const
{
    StStoredText stored(inPtrToValueData);
    return Equal(fString, fLength, stored.Units(), stored.Length(), inDiacritical);
}

CompareResult VString::CompareToSameKindPtr_Like(const void* inPtrToValueData, bool inDiacritical) const
{
    StStoredText stored(inPtrToValueData);
    return CompareLike(fString, fLength, stored.Units(), stored.Length(), inDiacritical);
}

CompareResult VString::Swap_CompareToSameKindPtr_Like(const void* inPtrToValueData, bool inDiacritical) const
{
    StStoredText stored(inPtrToValueData);
    return CompareLike(stored.Units(), stored.Length(), fString, fLength, inDiacritical);
}

CompareResult VString::CompareBeginingToSameKindPtr_Like(const void* inPtrToValueData,
                                                         bool inDiacritical) const
{
    StStoredText stored(inPtrToValueData);
    return CompareLike(fString, std::min(fLength, stored.Length()), stored.Units(), stored.Length(),
                       inDiacritical);
}

CompareResult VString::IsTheBeginingToSameKindPtr_Like(const void* inPtrToValueData, bool inDiacritical) const
{
    StStoredText stored(inPtrToValueData);
    return CompareLike(fString, fLength, stored.Units(), std::min(fLength, stored.Length()), inDiacritical);
}

bool VString::EqualToSameKindPtr_Like(const void* inPtrToValueData, bool inDiacritical) const
{
    StStoredText stored(inPtrToValueData);
    return EqualLike(fString, fLength, stored.Units(), stored.Length(), inDiacritical);
}

bool VString::Swap_EqualToSameKindPtr_Like(const void* inPtrToValueData, bool inDiacritical) const
{
    StStoredText stored(inPtrToValueData);
    return EqualLike(stored.Units(), stored.Length(), fString, fLength, inDiacritical);
}

// Value model: with options. The options' manager decides; the begins-with flag limits lengths.

CompareResult VString::CompareToSameKindWithOptions(const VValue* inValue,
                                                    const VCompareOptions& inOptions) const
{
    const VString& other = AsString(inValue);
    int32_t length = inOptions.IsBeginsWith() ? std::min(fLength, other.fLength) : fLength;
    return CompareWithOptions(fString, length, other.fString, other.fLength, inOptions);
}

bool VString::EqualToSameKindWithOptions(const VValue* inValue, const VCompareOptions& inOptions) const
{
    const VString& other = AsString(inValue);
    return EqualWithOptions(fString, fLength, other.fString, other.fLength, inOptions);
}

CompareResult VString::CompareToSameKindPtrWithOptions(const void* inPtrToValueData,
                                                       const VCompareOptions& inOptions) const
{
    StStoredText stored(inPtrToValueData);
    int32_t length = fLength;
    int32_t storedLength = stored.Length();
    if (inOptions.IsBeginsWith())
    {
        length = storedLength = std::min(length, storedLength);
    }
    return CompareWithOptions(fString, length, stored.Units(), storedLength, inOptions);
}

bool VString::EqualToSameKindPtrWithOptions(const void* inPtrToValueData,
                                            const VCompareOptions& inOptions) const
{
    StStoredText stored(inPtrToValueData);
    return EqualWithOptions(fString, fLength, stored.Units(), stored.Length(), inOptions);
}

CompareResult VString::Swap_CompareToSameKindPtrWithOptions(const void* inPtrToValueData,
                                                            const VCompareOptions& inOptions) const
{
    StStoredText stored(inPtrToValueData);
    int32_t length = fLength;
    int32_t storedLength = stored.Length();
    if (inOptions.IsBeginsWith())
    {
        length = storedLength = std::min(length, storedLength);
    }
    return CompareWithOptions(stored.Units(), storedLength, fString, length, inOptions);
}

// Descriptor of kind 10: two stored forms

CompareResult VString_info::CompareTwoPtrToData(const void* inPtr1, const void* inPtr2,
                                                bool inDiacritical) const
{
    StStoredText first(inPtr1);
    StStoredText second(inPtr2);
    return Compare(first.Units(), first.Length(), second.Units(), second.Length(), inDiacritical);
}

CompareResult VString_info::CompareTwoPtrToDataBegining(const void* inPtr1, const void* inPtr2,
                                                        bool inDiacritical) const
{
    StStoredText first(inPtr1);
    StStoredText second(inPtr2);
    return Compare(first.Units(), std::min(first.Length(), second.Length()), second.Units(), second.Length(),
                   inDiacritical);
}

CompareResult VString_info::CompareTwoPtrToData_Like(const void* inPtr1, const void* inPtr2,
                                                     bool inDiacritical) const
{
    StStoredText first(inPtr1);
    StStoredText second(inPtr2);
    return CompareLike(first.Units(), first.Length(), second.Units(), second.Length(), inDiacritical);
}

CompareResult VString_info::CompareTwoPtrToDataBegining_Like(const void* inPtr1, const void* inPtr2,
                                                             bool inDiacritical) const
{
    StStoredText first(inPtr1);
    StStoredText second(inPtr2);
    return CompareLike(first.Units(), std::min(first.Length(), second.Length()), second.Units(),
                       second.Length(), inDiacritical);
}

CompareResult VString_info::CompareTwoPtrToDataWithOptions(const void* inPtr1, const void* inPtr2,
                                                           const VCompareOptions& inOptions) const
{
    StStoredText first(inPtr1);
    StStoredText second(inPtr2);
    int32_t length1 = first.Length();
    int32_t length2 = second.Length();
    if (inOptions.IsBeginsWith())
    {
        length1 = length2 = std::min(length1, length2);
    }
    return CompareWithOptions(first.Units(), length1, second.Units(), length2, inOptions);
}

} // namespace zorn
