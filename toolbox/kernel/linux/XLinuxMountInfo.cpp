// Linux back end of the kernel, its only folder that calls the system: portable kernel files use
// the C and C++ libraries and ICU only; system calls, /proc, glibc extensions and ABI calls live here.

#include "toolbox/kernel/linux/XLinuxMountInfo.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace zorn
{

namespace
{

// A decimal number of at most 32 bits, nothing else.
bool ParseNumber(std::string_view inText, uint32_t& outValue)
{
    if (inText.empty() || inText.size() > 10)
    {
        return false;
    }
    uint64_t value = 0;
    for (char c : inText)
    {
        if (c < '0' || c > '9')
        {
            return false;
        }
        value = value * 10 + static_cast<uint64_t>(c - '0');
    }
    if (value > UINT32_MAX)
    {
        return false;
    }
    outValue = static_cast<uint32_t>(value);
    return true;
}

// The fields of a line, split at every single space.
std::vector<std::string_view> SplitFields(std::string_view inLine)
{
    std::vector<std::string_view> fields;
    size_t start = 0;
    for (;;)
    {
        const size_t space = inLine.find(' ', start);
        if (space == std::string_view::npos)
        {
            fields.push_back(inLine.substr(start));
            return fields;
        }
        fields.push_back(inLine.substr(start, space - start));
        start = space + 1;
    }
}

} // namespace

std::string XLinuxMountInfo::DecodeEscapes(std::string_view inText)
{
    std::string text;
    text.reserve(inText.size());
    for (size_t i = 0; i < inText.size(); ++i)
    {
        if (inText[i] == '\\' && i + 3 < inText.size())
        {
            const std::string_view code = inText.substr(i + 1, 3);
            char decoded = 0;
            if (code == "040")
            {
                decoded = ' ';
            }
            else if (code == "011")
            {
                decoded = '\t';
            }
            else if (code == "012")
            {
                decoded = '\n';
            }
            else if (code == "134")
            {
                decoded = '\\';
            }
            if (decoded != 0)
            {
                text += decoded;
                i += 3;
                continue;
            }
        }
        text += inText[i];
    }
    return text;
}

bool XLinuxMountInfo::ParseLine(std::string_view inLine, XLinuxMountEntry& outEntry)
{
    const std::vector<std::string_view> fields = SplitFields(inLine);
    // Six fixed fields, the separator, three more.
    if (fields.size() < 10)
    {
        return false;
    }
    size_t separator = 6;
    while (separator < fields.size() && fields[separator] != "-")
    {
        ++separator;
    }
    if (separator + 4 != fields.size())
    {
        return false;
    }
    const std::string_view device = fields[2];
    const size_t colon = device.find(':');
    if (colon == std::string_view::npos || !ParseNumber(fields[0], outEntry.fMountID) ||
        !ParseNumber(fields[1], outEntry.fParentID) ||
        !ParseNumber(device.substr(0, colon), outEntry.fMajor) ||
        !ParseNumber(device.substr(colon + 1), outEntry.fMinor))
    {
        return false;
    }
    if (fields[4].empty() || fields[4][0] != '/' || fields[3].empty())
    {
        return false;
    }
    outEntry.fRoot = DecodeEscapes(fields[3]);
    outEntry.fMountPoint = DecodeEscapes(fields[4]);
    outEntry.fOptions = DecodeEscapes(fields[5]);
    outEntry.fOptionalFields.clear();
    for (size_t i = 6; i < separator; ++i)
    {
        if (fields[i].empty())
        {
            return false;
        }
        outEntry.fOptionalFields.push_back(DecodeEscapes(fields[i]));
    }
    outEntry.fType = DecodeEscapes(fields[separator + 1]);
    outEntry.fSource = DecodeEscapes(fields[separator + 2]);
    outEntry.fSuperOptions = DecodeEscapes(fields[separator + 3]);
    return !outEntry.fType.empty();
}

size_t XLinuxMountInfo::Parse(std::string_view inText, std::vector<XLinuxMountEntry>& outEntries)
{
    outEntries.clear();
    size_t skipped = 0;
    size_t start = 0;
    while (start < inText.size())
    {
        size_t end = inText.find('\n', start);
        if (end == std::string_view::npos)
        {
            end = inText.size();
        }
        const std::string_view line = inText.substr(start, end - start);
        start = end + 1;
        if (line.empty())
        {
            continue;
        }
        XLinuxMountEntry entry;
        if (ParseLine(line, entry))
        {
            outEntries.push_back(std::move(entry));
        }
        else
        {
            ++skipped;
        }
    }
    return skipped;
}

bool XLinuxMountInfo::Read(std::vector<XLinuxMountEntry>& outEntries)
{
    const int fd = ::open("/proc/self/mountinfo", O_RDONLY | O_CLOEXEC);
    if (fd < 0)
    {
        return false;
    }
    std::string text;
    char buffer[8192];
    ssize_t count;
    while ((count = ::read(fd, buffer, sizeof(buffer))) != 0)
    {
        if (count < 0)
        {
            if (errno == EINTR)
            {
                continue;
            }
            break;
        }
        text.append(buffer, static_cast<size_t>(count));
    }
    ::close(fd);
    if (count != 0)
    {
        return false;
    }
    Parse(text, outEntries);
    return true;
}

} // namespace zorn
