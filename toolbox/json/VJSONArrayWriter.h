// VJSONArrayWriter: builds the text of one JSON array straight from typed values, without making
// VJSONValue trees. Each element's text is appended with a "," after it; closing drops the last
// "," and adds "]".
//
// Choices and limits:
// - A new writer holds the open text "["; Close and GetArray close it ("[]" when nothing was
//   added). Adding to a closed text reopens it: the "]" goes and, when the text holds elements,
//   the "," that closing took is put back, so that adding after reading the text keeps the
//   elements apart ([1] then 2 gives [1,2]).
// - Texts come from the values' own JSON forms: Add and AddString use GetJSONString with the
//   caller's options (0x1 quotes strings, 0x10 leaves them raw, 0x400 escapes & and '), numbers
//   use the JSON writer's number text (VReal::RealToJSONString), so that a real reads back as the
//   same number. NaN and the infinities, which JSON cannot hold, are written "null" as the JSON
//   writer writes them.
// - A value whose text fails (Add: its GetJSONString reports an error; AddString: the text cannot
//   be allocated) appends nothing.
// - The writer checks nothing else: without option 0x1 strings are written bare, as given.
#pragma once

#include "toolbox/kernel/base/VObject.h"
#include "toolbox/kernel/strings/VString.h"

#include <cstdint>
#include <vector>

namespace zorn
{

class VValueSingle;

class VJSONArrayWriter : public VObject
{
public:
    VJSONArrayWriter();
    ~VJSONArrayWriter() override;

    void Add(const VValueSingle& inValue, uint32_t inOptions);
    void AddString(const VString& inString, uint32_t inOptions);
    // A null pointer appends nothing.
    void AddString(const char* inCString, uint32_t inOptions);
    void AddBool(bool inValue);
    void AddLong(int32_t inValue);
    void AddReal(double inValue);
    // Each element as by the single operation; nothing when the pointer is null or inCount < 1.
    void AddLongs(const int32_t* inValues, int inCount);
    void AddWords(const int16_t* inValues, int inCount);
    // Each char is a boolean: non-zero is true.
    void AddBools(const char* inValues, int inCount);
    void AddReals(const double* inValues, int inCount);
    void AddStrings(const std::vector<VString>& inStrings, uint32_t inOptions);
    // Closes ioOther and appends its text as one element; ioOther is left as the closed "[]".
    void AddJSONArray(VJSONArrayWriter& ioOther);

    void Close();
    // Closes and copies the text; without inKeep the writer is left as the closed "[]".
    void GetArray(VString& outText, bool inKeep);

private:
    // Reopens a closed text and appends one element's text with its ",".
    void _AppendElement(const VString& inText);
    void _AppendElement(const char* inText);
    void _Reopen();

    VString fText;
    bool fClosed = false;
};

} // namespace zorn
