// Portable files use the C and C++ libraries and ICU only; the POSIX calls of the process layer
// live in this posix/ back end.
//
// XPosixTerminal: what the command-line parser asks of the terminal.
#pragma once

namespace zorn
{

class XPosixTerminal
{
public:
    // Whether standard output (descriptor 1) is a terminal, so that colours can be used.
    static bool IsStandardOutputTerminal();
};

} // namespace zorn
