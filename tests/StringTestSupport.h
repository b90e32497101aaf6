// Helpers shared by the test suites for reading strings.
#pragma once

#include "toolbox/kernel/strings/VString.h"

#include <cstdio>
#include <string>

namespace zorn::test
{

// The string's units, for comparing with u"" literals in assertions.
inline std::u16string Text(const VString& inString)
{
    return std::u16string(reinterpret_cast<const char16_t*>(inString.GetCPointer()),
                          static_cast<size_t>(inString.GetLength()));
}

// The units of an ASCII string as bytes, for comparing with "" literals.
inline std::string Ascii(const VString& inString)
{
    std::string text;
    for (int32_t i = 0; i < inString.GetLength(); ++i)
    {
        text.push_back(static_cast<char>(inString.GetCPointer()[i]));
    }
    return text;
}

// Bytes as upper-case hexadecimal pairs, each followed by a space, for failure messages.
inline std::string Hex(const std::string& inBytes)
{
    std::string hex;
    char buffer[4];
    for (unsigned char b : inBytes)
    {
        std::snprintf(buffer, sizeof(buffer), "%02X ", b);
        hex += buffer;
    }
    return hex;
}

} // namespace zorn::test
