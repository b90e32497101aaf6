// VJSONArrayReader: reads the scalar elements of a JSON array text as a list of texts, without
// making VJSONValue trees, and converts them to C arrays of numbers or booleans.
//
// Choices and limits:
// - The text is split by the JSON importer's lenient tokenizer: anything before the first "[" is
//   passed over; each quoted string (unescaped) or bare word (as written: 1, true, null) up to the
//   closing "]" is one element. A nested array is skipped whole; the braces, colons and commas
//   of an object inside the array are passed over, so its names and scalar values become elements
//   ([1,{"k":2}] gives 1, k, 2). Nothing after the closing "]" is read.
// - An empty text, a text without "[", or one that ends before the array (or a nested one) is
//   closed gives 'zorn' 550 and no elements. The error is kept by the reader and handed out by
//   GetCountOfElements and the conversions; nothing is pushed on the task's error context.
// - Conversions read each text with VString::GetWord, GetLong and GetReal (so a text that is no
//   number gives 0), booleans as 1 for "true" (compared by the current task's collation, accents
//   not counting) and 0 otherwise. The caller's array must have room for every element.
// - Time and memory grow linearly with the text.
#pragma once

#include "toolbox/kernel/base/VObject.h"
#include "toolbox/kernel/errors/VError.h"
#include "toolbox/kernel/strings/VString.h"

#include <cstdint>
#include <vector>

namespace zorn
{

class VJSONArrayReader : public VObject
{
public:
    VJSONArrayReader();
    explicit VJSONArrayReader(const VString& inText);
    ~VJSONArrayReader() override;

    // Forgets the error and the elements, then reads the text.
    void FromJSONString(const VString& inText);

    // The element count; the kept error goes to *outError when given.
    int32_t GetCountOfElements(VError* outError) const;

    // With a null destination or a kept error nothing is written and the kept error is returned.
    VError ToArrayShort(int16_t* outValues) const;
    VError ToArrayLong(int32_t* outValues) const;
    VError ToArrayReal(double* outValues) const;
    VError ToArrayBool(char* outValues) const;
    // Copies the element texts, after ioTexts' content with inAppend, in place of it otherwise.
    void ToArrayString(std::vector<VString>& ioTexts, bool inAppend) const;

private:
    void _Parse(const VString& inText);
    template <class T, class TConvert>
    VError _Convert(T* outValues, TConvert inConvert) const;

    VError fError = VE_OK;
    std::vector<VString> fElements;
    int32_t fCount = 0;
};

} // namespace zorn
