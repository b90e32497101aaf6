// Linux back end of the kernel, its only folder that calls the system: portable kernel files use
// the C and C++ libraries and ICU only; system calls, /proc, glibc extensions and ABI calls live here.

#include "toolbox/kernel/linux/XLinuxTextConverter.h"

#include "toolbox/kernel/charsets/VTextConverters.h"
#include "toolbox/kernel/errors/VError.h"
#include "toolbox/kernel/strings/VString.h"

#include <unicode/ucnv.h>
#include <unicode/ucnv_cb.h>

#include <algorithm>
#include <limits>
#include <vector>

namespace zorn
{

namespace
{

static_assert(sizeof(UChar) == sizeof(UniChar));

// Both callbacks note the substitution in the converter object, then let ICU substitute.
void U_CALLCONV ToUnicodeCallback(const void* inContext, UConverterToUnicodeArgs* ioArgs, const char* inUnits,
                                  int32_t inLength, UConverterCallbackReason inReason, UErrorCode* ioError)
{
    if (inReason <= UCNV_IRREGULAR)
    {
        *static_cast<bool*>(const_cast<void*>(inContext)) = true;
    }
    UCNV_TO_U_CALLBACK_SUBSTITUTE(nullptr, ioArgs, inUnits, inLength, inReason, ioError);
}

void U_CALLCONV FromUnicodeCallback(const void* inContext, UConverterFromUnicodeArgs* ioArgs,
                                    const UChar* inUnits, int32_t inLength, UChar32 inCodePoint,
                                    UConverterCallbackReason inReason, UErrorCode* ioError)
{
    if (inReason <= UCNV_IRREGULAR)
    {
        *static_cast<bool*>(const_cast<void*>(inContext)) = true;
    }
    UCNV_FROM_U_CALLBACK_SUBSTITUTE(nullptr, ioArgs, inUnits, inLength, inCodePoint, inReason, ioError);
}

// Opens the first ICU converter that one of the set's names gives, or null.
template <class Open>
void OpenForCharSet(CharSet inCharSet, Open inOpen)
{
    for (const detail::CharSetName* row = detail::CharSetNames(); row->fName != nullptr; ++row)
    {
        if (row->fCharSet == inCharSet && inOpen(row->fName))
        {
            return;
        }
    }
}

// After the whole source was converted into a scratch buffer with ICU's offsets (the source
// position of the character behind each output item), the number of items, at most inMax, that
// hold whole characters only, and the source position where the first character left out
// begins.
size_t WholeCharacterPrefix(const std::vector<int32_t>& inOffsets, size_t inTotal, size_t inMax,
                            int64_t inSourceSize, int64_t& outConsumed)
{
    if (inTotal <= inMax)
    {
        outConsumed = inSourceSize;
        return inTotal;
    }
    // An item with the offset of the one before it, or with none (-1), continues its character.
    size_t count = inMax;
    while (count > 0 && (inOffsets[count] < 0 || inOffsets[count] == inOffsets[count - 1]))
    {
        --count;
    }
    outConsumed = count == 0 ? 0 : inOffsets[count];
    return count;
}

} // namespace

// To Unicode

XLinuxToUnicodeConverter::XLinuxToUnicodeConverter(CharSet inCharSet)
{
    OpenForCharSet(inCharSet,
                   [this](const char* inName)
                   {
                       _Open(inName);
                       return fConverter != nullptr;
                   });
}

XLinuxToUnicodeConverter::XLinuxToUnicodeConverter(const char* inConverterName)
{
    _Open(inConverterName);
}

void XLinuxToUnicodeConverter::_Open(const char* inConverterName)
{
    UErrorCode error = U_ZERO_ERROR;
    UConverter* converter = ucnv_open(inConverterName, &error);
    if (U_FAILURE(error) || converter == nullptr)
    {
        return;
    }
    ucnv_setToUCallBack(converter, ToUnicodeCallback, &fSubstituted, nullptr, nullptr, &error);
    if (U_FAILURE(error))
    {
        ucnv_close(converter);
        return;
    }
    fConverter = converter;
}

XLinuxToUnicodeConverter::~XLinuxToUnicodeConverter()
{
    if (fConverter != nullptr)
    {
        ucnv_close(fConverter);
    }
}

int32_t XLinuxToUnicodeConverter::GetCharSize() const
{
    return fConverter == nullptr ? 1 : ucnv_getMinCharSize(fConverter);
}

bool XLinuxToUnicodeConverter::ConvertString(const void* inSource, size_t inSourceBytes, size_t* outConsumed,
                                             VString& ioString)
{
    if (outConsumed != nullptr)
    {
        *outConsumed = 0;
    }
    if (fConverter == nullptr)
    {
        ioString.Clear();
        return false;
    }
    std::lock_guard<std::mutex> lock(fMutex);
    ucnv_resetToUnicode(fConverter);
    fSubstituted = false;

    const char* source = static_cast<const char*>(inSource);
    const char* sourceEnd = source + (inSource == nullptr ? 0 : inSourceBytes);
    // One unit per byte holds the text of every set but a few rare ones; the loop grows the
    // string for those.
    int64_t capacity = static_cast<int64_t>(sourceEnd - source) + 16;
    int32_t written = 0;
    for (;;)
    {
        // The first round replaces the text, so the old units need not be kept; later rounds
        // keep what was written.
        UniChar* units = nullptr;
        if (capacity <= INT32_MAX &&
            (written > 0 || ioString.EnsureSize(static_cast<int32_t>(capacity), false)))
        {
            units = ioString.GetCPointerForWrite(static_cast<int32_t>(capacity));
        }
        if (units == nullptr)
        {
            CVSTR_struct what(u"conversion failed (EnsureSize failed).");
            _ThrowError(VE_CHARSET_CONVERSION_FAILED, &what);
            ioString.Clear();
            return false;
        }
        UChar* target = reinterpret_cast<UChar*>(units + written);
        UChar* targetEnd = reinterpret_cast<UChar*>(units + capacity);
        UErrorCode error = U_ZERO_ERROR;
        ucnv_toUnicode(fConverter, &target, targetEnd, &source, sourceEnd, nullptr, true, &error);
        written = static_cast<int32_t>(reinterpret_cast<UniChar*>(target) - units);
        // The units written so far become the string's length, so that growing keeps them.
        ioString.Validate(written);
        if (error != U_BUFFER_OVERFLOW_ERROR)
        {
            if (U_FAILURE(error))
            {
                return false;
            }
            break;
        }
        capacity *= 2;
    }
    if (outConsumed != nullptr)
    {
        *outConsumed = inSourceBytes;
    }
    return !fSubstituted;
}

bool XLinuxToUnicodeConverter::Convert(const void* inSource, size_t inSourceBytes, size_t* outConsumed,
                                       UniChar* outTarget, int32_t inMaxUnits, int32_t* outProduced)
{
    size_t produced = 0;
    int64_t consumed = 0;
    bool ok = false;
    size_t maxUnits = static_cast<size_t>(inMaxUnits > 0 ? inMaxUnits : 0);
    if (fConverter != nullptr &&
        inSourceBytes <= static_cast<size_t>(std::numeric_limits<int32_t>::max() / 2))
    {
        std::lock_guard<std::mutex> lock(fMutex);
        const char* sourceBegin = static_cast<const char*>(inSource);
        const char* sourceEnd = sourceBegin + inSourceBytes;
        ucnv_resetToUnicode(fConverter);
        fSubstituted = false;
        const char* source = sourceBegin;
        UChar* target = reinterpret_cast<UChar*>(outTarget);
        UErrorCode error = U_ZERO_ERROR;
        ucnv_toUnicode(fConverter, &target, target + maxUnits, &source, sourceEnd, nullptr, true, &error);
        if (error == U_BUFFER_OVERFLOW_ERROR)
        {
            // The target is too small: convert the whole source aside, with offsets, and keep
            // the whole characters that fit.
            std::vector<UChar> units;
            std::vector<int32_t> offsets;
            size_t scratchSize = inSourceBytes * 2 + 16;
            do
            {
                units.resize(scratchSize);
                offsets.resize(scratchSize);
                scratchSize *= 2;
                ucnv_resetToUnicode(fConverter);
                source = sourceBegin;
                target = units.data();
                error = U_ZERO_ERROR;
                ucnv_toUnicode(fConverter, &target, units.data() + units.size(), &source, sourceEnd,
                               offsets.data(), true, &error);
            } while (error == U_BUFFER_OVERFLOW_ERROR);
            if (U_SUCCESS(error))
            {
                size_t total = static_cast<size_t>(target - units.data());
                produced = WholeCharacterPrefix(offsets, total, maxUnits, static_cast<int64_t>(inSourceBytes),
                                                consumed);
                std::copy(units.begin(), units.begin() + static_cast<std::ptrdiff_t>(produced), outTarget);
            }
        }
        else if (U_SUCCESS(error))
        {
            produced = static_cast<size_t>(target - reinterpret_cast<UChar*>(outTarget));
            consumed = static_cast<int64_t>(inSourceBytes);
            ok = !fSubstituted;
        }
    }
    if (outConsumed != nullptr)
    {
        *outConsumed = static_cast<size_t>(consumed);
    }
    if (outProduced != nullptr)
    {
        *outProduced = static_cast<int32_t>(produced);
    }
    return ok;
}

// From Unicode

XLinuxFromUnicodeConverter::XLinuxFromUnicodeConverter(CharSet inCharSet)
{
    OpenForCharSet(inCharSet,
                   [this](const char* inName)
                   {
                       _Open(inName);
                       return fConverter != nullptr;
                   });
}

XLinuxFromUnicodeConverter::XLinuxFromUnicodeConverter(const char* inConverterName)
{
    _Open(inConverterName);
}

void XLinuxFromUnicodeConverter::_Open(const char* inConverterName)
{
    UErrorCode error = U_ZERO_ERROR;
    UConverter* converter = ucnv_open(inConverterName, &error);
    if (U_FAILURE(error) || converter == nullptr)
    {
        return;
    }
    ucnv_setFromUCallBack(converter, FromUnicodeCallback, &fSubstituted, nullptr, nullptr, &error);
    if (U_FAILURE(error))
    {
        ucnv_close(converter);
        return;
    }
    // '?' where the set can write it; a set without one keeps ICU's substitute.
    UErrorCode substError = U_ZERO_ERROR;
    static const UChar kQuestionMark[] = {u'?'};
    ucnv_setSubstString(converter, kQuestionMark, 1, &substError);
    fConverter = converter;
}

XLinuxFromUnicodeConverter::~XLinuxFromUnicodeConverter()
{
    if (fConverter != nullptr)
    {
        ucnv_close(fConverter);
    }
}

int32_t XLinuxFromUnicodeConverter::GetCharSize() const
{
    return fConverter == nullptr ? 1 : ucnv_getMaxCharSize(fConverter);
}

bool XLinuxFromUnicodeConverter::Convert(const UniChar* inSource, int32_t inSourceUnits, int32_t* outConsumed,
                                         void* outTarget, size_t inMaxBytes, size_t* outProduced)
{
    size_t produced = 0;
    int64_t consumed = 0;
    bool ok = false;
    size_t sourceUnits = static_cast<size_t>(inSourceUnits > 0 ? inSourceUnits : 0);
    // ICU counts target bytes in int32: a larger target is used up to that limit.
    size_t maxBytes = std::min(inMaxBytes, static_cast<size_t>(std::numeric_limits<int32_t>::max()));
    if (fConverter != nullptr)
    {
        std::lock_guard<std::mutex> lock(fMutex);
        const UChar* sourceBegin = reinterpret_cast<const UChar*>(inSource);
        const UChar* sourceEnd = sourceBegin + sourceUnits;
        ucnv_resetFromUnicode(fConverter);
        fSubstituted = false;
        const UChar* source = sourceBegin;
        char* target = static_cast<char*>(outTarget);
        UErrorCode error = U_ZERO_ERROR;
        ucnv_fromUnicode(fConverter, &target, target + maxBytes, &source, sourceEnd, nullptr, true, &error);
        if (error == U_BUFFER_OVERFLOW_ERROR)
        {
            // As for decoding: the whole text aside, then the whole characters that fit.
            std::vector<char> bytes(
                UCNV_GET_MAX_BYTES_FOR_STRING(sourceUnits, ucnv_getMaxCharSize(fConverter)));
            std::vector<int32_t> offsets(bytes.size());
            ucnv_resetFromUnicode(fConverter);
            source = sourceBegin;
            target = bytes.data();
            error = U_ZERO_ERROR;
            ucnv_fromUnicode(fConverter, &target, bytes.data() + bytes.size(), &source, sourceEnd,
                             offsets.data(), true, &error);
            if (U_SUCCESS(error))
            {
                size_t total = static_cast<size_t>(target - bytes.data());
                produced = WholeCharacterPrefix(offsets, total, maxBytes, static_cast<int64_t>(sourceUnits),
                                                consumed);
                std::copy(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(produced),
                          static_cast<char*>(outTarget));
            }
        }
        else if (U_SUCCESS(error))
        {
            produced = static_cast<size_t>(target - static_cast<char*>(outTarget));
            consumed = static_cast<int64_t>(sourceUnits);
            ok = !fSubstituted;
        }
    }
    if (outConsumed != nullptr)
    {
        *outConsumed = static_cast<int32_t>(consumed);
    }
    if (outProduced != nullptr)
    {
        *outProduced = produced;
    }
    return ok;
}

} // namespace zorn
