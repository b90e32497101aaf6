// Splitting a command line into arguments, without a shell. Portable code: it only walks bytes.
#include "toolbox/process/posix/XPosixProcessLauncher.h"

namespace zorn
{

namespace
{
// The bytes of the UTF-8 character at inPos: its lead byte and the continuation bytes after it
// (at most three), so that malformed text never makes a character run past the end.
size_t CharacterSize(const std::string& inText, size_t inPos)
{
    size_t end = inPos + 1;
    while (end < inText.size() && end - inPos < 4 && (static_cast<unsigned char>(inText[end]) & 0xC0) == 0x80)
    {
        ++end;
    }
    return end - inPos;
}
} // namespace

std::vector<std::string> XPosixProcessLauncher::SplitCommandLine(const std::string& inText)
{
    std::vector<std::string> arguments;
    const size_t size = inText.size();
    size_t pos = 0;
    for (;;)
    {
        while (pos < size && inText[pos] == ' ')
        {
            ++pos;
        }
        if (pos >= size)
        {
            break;
        }
        char quote = 0;
        if (inText[pos] == '"' || inText[pos] == '\'')
        {
            quote = inText[pos];
            ++pos;
        }
        std::string argument;
        // Characters of the argument met so far: a backslash escapes only from the third one on,
        // so the first two characters are always taken as they are.
        int characters = 0;
        bool closed = false;
        while (pos < size)
        {
            char c = inText[pos];
            size_t length = CharacterSize(inText, pos);
            ++characters;
            if (quote != 0 ? c == quote : c == ' ')
            {
                closed = true;
                break;
            }
            if (c == '\\' && characters > 2)
            {
                ++pos; // the backslash goes; at the end of the text nothing follows it
                if (pos >= size)
                {
                    break;
                }
                length = CharacterSize(inText, pos);
                ++characters;
            }
            argument.append(inText, pos, length);
            pos += length;
        }
        arguments.push_back(std::move(argument));
        if (quote != 0 && closed)
        {
            ++pos; // the closing quote
            if (pos < size)
            {
                pos += CharacterSize(inText, pos); // the character after it is lost
            }
        }
    }
    return arguments;
}

} // namespace zorn
