#include "toolbox/files/linux/XLinuxVolumes.h"

#include "toolbox/files/linux/XLinuxFile.h"
#include "toolbox/kernel/system/VSystem.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace zorn
{

namespace
{

bool ReadWholeFile(const char* inPath, std::string& outText)
{
    const int fd = ::open(inPath, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
    {
        return false;
    }
    outText.clear();
    char buffer[8192];
    bool ok = true;
    for (;;)
    {
        const ssize_t count = ::read(fd, buffer, sizeof(buffer));
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
    ::close(fd);
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
    return XLinuxMountInfo::DecodeEscapes(inText);
}

bool XLinuxVolumes::ParseMountInfoLine(std::string_view inLine, XLinuxMountEntry& outEntry)
{
    return XLinuxMountInfo::ParseLine(inLine, outEntry);
}

size_t XLinuxVolumes::ParseMountInfo(std::string_view inText, std::vector<XLinuxMountEntry>& outEntries)
{
    return XLinuxMountInfo::Parse(inText, outEntries);
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
