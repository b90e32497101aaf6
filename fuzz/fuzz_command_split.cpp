// Command lines from outside (the updater's restart command, callers' texts) through the
// launcher's splitter, on raw bytes and through the launcher's strings. Besides the sanitizers'
// checks:
// - the arguments never hold more bytes than the text;
// - there are never more arguments than blank-separated pieces plus quote characters: only a
//   quoted argument can end inside a piece (the character glued to its closing quote is dropped
//   and the next argument starts there), so a text without quotes never gives more than its pieces;
// - a text without quotes and backslashes gives exactly its blank-separated pieces;
// - through the launcher, the binary path is the first argument.
//
// Input: byte 0 holds the flags (bit 0: the rest is UTF-16LE units, which reach characters at and
// above U+0800 and lone surrogates; otherwise it is bytes, split raw and decoded as UTF-8).

#include "toolbox/process/posix/XPosixProcessLauncher.h"

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

using namespace zorn;

namespace
{

void Check(bool inCondition)
{
    if (!inCondition)
    {
        __builtin_trap();
    }
}

std::vector<std::string> Pieces(const std::string& inText)
{
    std::vector<std::string> pieces;
    size_t start = 0;
    while (start < inText.size())
    {
        size_t end = inText.find(' ', start);
        if (end == std::string::npos)
        {
            end = inText.size();
        }
        if (end > start)
        {
            pieces.push_back(inText.substr(start, end - start));
        }
        start = end + 1;
    }
    return pieces;
}

void CheckSplit(const std::string& inText)
{
    std::vector<std::string> arguments = XPosixProcessLauncher::SplitCommandLine(inText);
    size_t bytes = 0;
    for (const std::string& argument : arguments)
    {
        bytes += argument.size();
    }
    Check(bytes <= inText.size());
    std::vector<std::string> pieces = Pieces(inText);
    size_t quotes = 0;
    size_t backslashes = 0;
    for (char c : inText)
    {
        quotes += (c == '"' || c == '\'') ? 1 : 0;
        backslashes += c == '\\' ? 1 : 0;
    }
    Check(arguments.size() <= pieces.size() + quotes);
    if (quotes == 0 && backslashes == 0)
    {
        Check(arguments == pieces);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* inData, size_t inSize)
{
    if (inSize == 0)
    {
        return 0;
    }
    const bool units = (inData[0] & 1) != 0;
    const uint8_t* text = inData + 1;
    size_t size = inSize - 1;
    VString line;
    if (units)
    {
        std::vector<UniChar> chars(size / 2);
        for (size_t i = 0; i < chars.size(); ++i)
        {
            chars[i] = static_cast<UniChar>(text[2 * i] | (text[2 * i + 1] << 8));
        }
        line.FromUniCString(chars.data(), static_cast<int32_t>(chars.size()));
    }
    else
    {
        CheckSplit(std::string(reinterpret_cast<const char*>(text), size));
        line.FromBlock(text, size, CharSet::VTC_UTF_8);
    }
    const std::string utf8 = to_string(line);
    CheckSplit(utf8);

    XPosixProcessLauncher launcher;
    launcher.CreateArgumentsFromFullCommandLine(line);
    const std::vector<VString>& arguments = launcher.GetArguments();
    Check(arguments.size() == XPosixProcessLauncher::SplitCommandLine(utf8).size() || line.IsEmpty());
    if (!arguments.empty())
    {
        Check(launcher.GetBinaryPath() == to_string(arguments[0]));
    }
    return 0;
}
