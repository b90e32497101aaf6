// The percent coding of characters that may not stand in a file name: the controls 0x00-0x1F and
// " % * / : < > ? \ | become '%' and two upper-case hexadecimal digits; every other character,
// including all above 128, is kept.
//
// Decoding replaces '%' and two hexadecimal digits by the character of that code. A '%' that is
// not followed by two hexadecimal digits (too near the end, or "%zz") is kept as it stands with
// what follows: reading other characters as a code would change the name.
#pragma once

namespace zorn
{

class VString;

VString EncodeReservedFileCharacters(const VString& inName);
VString DecodeReservedFileCharacters(const VString& inName);

} // namespace zorn
