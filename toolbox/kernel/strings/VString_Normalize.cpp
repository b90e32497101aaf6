// Unicode canonical composition and decomposition of a VString, through ICU's normalizers.

#include "toolbox/kernel/strings/VString.h"

#include <unicode/unorm2.h>

namespace zorn
{

namespace
{

// Rewrites the string in the normalizer's form; the string is untouched when it is already in
// that form or when ICU fails.
void Normalize(VString& ioString, const UNormalizer2* inNormalizer)
{
    if (inNormalizer == nullptr || ioString.IsEmpty())
    {
        return;
    }
    const UChar* source = reinterpret_cast<const UChar*>(ioString.GetCPointer());
    const int32_t length = ioString.GetLength();
    UErrorCode status = U_ZERO_ERROR;
    // Most text is already in the form: a quick check spares the copy.
    int32_t normalizedPrefix = unorm2_spanQuickCheckYes(inNormalizer, source, length, &status);
    if (U_FAILURE(status) || normalizedPrefix == length)
    {
        return;
    }
    // A first guess that covers most text; ICU tells the exact size when it is short.
    int64_t guess = static_cast<int64_t>(length) + length / 2 + 16;
    VString result;
    for (int attempt = 0; attempt < 2; ++attempt)
    {
        if (guess > 0x7FFFFFFC || !result.EnsureSize(static_cast<int32_t>(guess), false))
        {
            return;
        }
        UChar* target = reinterpret_cast<UChar*>(result.GetCPointerForWrite(static_cast<int32_t>(guess)));
        status = U_ZERO_ERROR;
        int32_t produced =
            unorm2_normalize(inNormalizer, source, length, target, static_cast<int32_t>(guess), &status);
        if (status == U_BUFFER_OVERFLOW_ERROR)
        {
            guess = produced;
            continue;
        }
        if (U_FAILURE(status))
        {
            return;
        }
        result.Validate(produced);
        ioString = std::move(result);
        return;
    }
}

} // namespace

void VString::Compose()
{
    UErrorCode status = U_ZERO_ERROR;
    Normalize(*this, unorm2_getNFCInstance(&status));
}

void VString::Decompose()
{
    UErrorCode status = U_ZERO_ERROR;
    Normalize(*this, unorm2_getNFDInstance(&status));
}

} // namespace zorn
