// Helpers shared by the test suites for reading strings.
#pragma once

#include "toolbox/kernel/strings/VString.h"

#include <string>

namespace zorn::test
{

// The string's units, for comparing with u"" literals in assertions.
inline std::u16string Text(const VString& inString)
{
    return std::u16string(reinterpret_cast<const char16_t*>(inString.GetCPointer()),
                          static_cast<size_t>(inString.GetLength()));
}

} // namespace zorn::test
