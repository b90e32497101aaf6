#include "toolbox/files/linux/XLinuxVolumes.h"
#include "toolbox/files/linux/XLinuxFd.h"

#include "toolbox/files/linux/XLinuxFile.h"
#include "toolbox/kernel/system/VSystem.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

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

bool ReadWholeFile(const char* inPath, std::string& outText)
{
    const XLinuxFd fd(::open(inPath, O_RDONLY | O_CLOEXEC));
    if (!fd.IsOpen())
    {
        return false;
    }
    outText.clear();
    char buffer[8192];
    bool ok = true;
    for (;;)
    {
        const ssize_t count = ::read(fd.Get(), buffer, sizeof(buffer));
        if (count > 0)
        {
            outText.append(buffer, static_cast<size_t>(count));
        }
        else if (count == 0)
        {
            break;
        }
        else if (errno != EINTR)
        {
            ok = false;
            break;
        }
    }
    return ok;
}

} // namespace

XLinuxVolumes& XLinuxVolumes::Get()
{
    static XLinuxVolumes sVolumes;
    return sVolumes;
}

// ---------------------------------------------------------------------------------------------
// Parsing
// ---------------------------------------------------------------------------------------------

std::string XLinuxVolumes::DecodeEscapes(std::string_view inText)
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

bool XLinuxVolumes::ParseMountInfoLine(std::string_view inLine, XLinuxMountEntry& outEntry)
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

size_t XLinuxVolumes::ParseMountInfo(std::string_view inText, std::vector<XLinuxMountEntry>& outEntries)
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
        if (ParseMountInfoLine(line, entry))
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

const XLinuxMountEntry* XLinuxVolumes::FindMountOfPath(const std::vector<XLinuxMountEntry>& inEntries,
                                                       const std::string& inPath)
{
    if (inPath.empty() || inPath[0] != '/')
    {
        return nullptr;
    }
    const XLinuxMountEntry* best = nullptr;
    for (const XLinuxMountEntry& entry : inEntries)
    {
        const std::string& point = entry.fMountPoint;
        // "/" holds everything; "/a/b" holds "/a/b" and "/a/b/..." but not "/a/bc".
        const bool holds = point == "/" || (inPath.compare(0, point.size(), point) == 0 &&
                                            (inPath.size() == point.size() || inPath[point.size()] == '/'));
        if (holds && (best == nullptr || point.size() >= best->fMountPoint.size()))
        {
            best = &entry;
        }
    }
    return best;
}

// ---------------------------------------------------------------------------------------------
// The table
// ---------------------------------------------------------------------------------------------

bool XLinuxVolumes::_Reload()
{
    const uint32_t now = VSystem::GetCurrentTime();
    std::string text;
    if (!ReadWholeFile("/proc/self/mountinfo", text))
    {
        return false;
    }
    ParseMountInfo(text, fEntries);
    fLastReload = now;
    fLoaded = true;
    return true;
}

void XLinuxVolumes::_ReloadIfDue()
{
    if (!fLoaded || VSystem::GetCurrentTime() - fLastReload > kRefreshMs)
    {
        _Reload();
    }
}

bool XLinuxVolumes::Reload()
{
    StLocker<VCriticalSection> locker(&fLock);
    return _Reload();
}

bool XLinuxVolumes::GetMountEntry(const std::string& inMountPoint, XLinuxMountEntry& outEntry)
{
    StLocker<VCriticalSection> locker(&fLock);
    _ReloadIfDue();
    for (auto entry = fEntries.rbegin(); entry != fEntries.rend(); ++entry)
    {
        if (entry->fMountPoint == inMountPoint)
        {
            outEntry = *entry;
            return true;
        }
    }
    return false;
}

bool XLinuxVolumes::GetMountEntryOfPath(const std::string& inPath, XLinuxMountEntry& outEntry)
{
    StLocker<VCriticalSection> locker(&fLock);
    _ReloadIfDue();
    const XLinuxMountEntry* entry = FindMountOfPath(fEntries, inPath);
    if (entry == nullptr)
    {
        return false;
    }
    outEntry = *entry;
    return true;
}

void XLinuxVolumes::GetMountEntries(std::vector<XLinuxMountEntry>& outEntries)
{
    StLocker<VCriticalSection> locker(&fLock);
    _ReloadIfDue();
    outEntries = fEntries;
}

bool XLinuxVolumes::GetVolumeNameFromMountPath(const std::string& inMountPath, VString& outName)
{
    if (inMountPath != "/")
    {
        return false;
    }
    outName = VString(reinterpret_cast<const UniChar*>(XLinuxFile::kRootVolumeName));
    return true;
}

bool XLinuxVolumes::GetMountPathFromVolumeName(const VString& inName, std::string& outMountPath)
{
    if (!inName.EqualToStringRaw(VString(reinterpret_cast<const UniChar*>(XLinuxFile::kRootVolumeName))))
    {
        return false;
    }
    outMountPath = "/";
    return true;
}

} // namespace zorn
