// VJSONSingleObjectWriter: builds the text of one flat JSON object, member by member, straight from
// typed values, without making VJSONValue trees.
//
// Choices and limits:
// - The text starts as "{"; GetObject closes it with "}" and hands out a copy. Members added
//   afterwards reopen it (the "}" goes) and the writer goes on, "," before every member but the
//   first.
// - A member's value text is the value's GetJSONString with the caller's options (0x1 quotes
//   strings, 0x10 leaves them raw, 0x400 escapes & and '). A value whose text fails, or an empty
//   name, adds nothing (false).
// - Names are written as JSON strings, escaped as the JSON writer escapes strings (option 0x400
//   taken from the caller's options), so that a name holding a quote, a backslash or a control
//   character still gives a readable object. Names are not checked for repeats.
#pragma once

#include "toolbox/kernel/base/VObject.h"
#include "toolbox/kernel/strings/VString.h"

#include <cstdint>

namespace zorn
{

class VValueSingle;

class VJSONSingleObjectWriter : public VObject
{
public:
    VJSONSingleObjectWriter();
    ~VJSONSingleObjectWriter() override;

    bool AddMember(const VString& inName, const VValueSingle& inValue, uint32_t inOptions);
    // Appends "}" once and copies the text.
    void GetObject(VString& outText);

private:
    VString fText;
    bool fClosed = false;
    int32_t fMemberCount = 0;
};

} // namespace zorn
