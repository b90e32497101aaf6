// Portable files use the C and C++ libraries and ICU only; system calls, /proc and glibc
// extensions live in this linux/ back end.
//
// XLinuxVolumes: the process-wide table of mounted file systems, read from /proc/self/mountinfo.
// It answers which mount sits at a mount point and which mount holds a path, for the system
// information listings and for the trash, which must stay on the mount of the item it trashes.
//
// Choices and limits:
// - One instance, built on first use (Get); more can be built (tests). A VCriticalSection guards
//   the table and its stamp; look-ups hand out copies of entries.
// - The table is read again at most every 2000 ms: a look-up reads it when the time since the last
//   read (VSystem::GetCurrentTime, an unsigned 32-bit difference) exceeds 2000 ms, and always on
//   the first look-up, so a table is never used empty because the clock started near 0. Reload
//   reads it at once. A failed read keeps the previous table.
// - Lines are read by XLinuxMountInfo (its header tells the form and what is skipped).
// - A mount point whose folder was deleted is listed by the kernel with " (deleted)" appended; it
//   is kept as written: no live path lies under it, and a folder really named that way stays
//   reachable.
// - The mount holding a path is the entry whose mount point is the path's longest prefix ending at
//   a '/' boundary (or the whole path); among entries with the same mount point the last listed,
//   which is mounted on top, wins. The comparison is lexical: callers pass a resolved absolute path
//   (XLinuxFile::RealPath), as mountinfo lists resolved mount points.
// - Linux has one volume in the colon form, the root "/" (XLinuxFile::kRootVolumeName); other
//   mounts are folders under it and have no volume name. There is no translocation.
#pragma once

#include "toolbox/kernel/base/VObject.h"
#include "toolbox/kernel/linux/XLinuxMountInfo.h"
#include "toolbox/kernel/locks/VCriticalSection.h"
#include "toolbox/kernel/strings/VString.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace zorn
{

class XLinuxVolumes : public VObject
{
public:
    // Milliseconds a table read serves before the next look-up reads it again.
    static constexpr uint32_t kRefreshMs = 2000;

    XLinuxVolumes() = default;
    ~XLinuxVolumes() override = default;
    XLinuxVolumes(const XLinuxVolumes&) = delete;
    XLinuxVolumes& operator=(const XLinuxVolumes&) = delete;

    // The process-wide table.
    static XLinuxVolumes& Get();

    // The entry mounted at inMountPoint (the top one); false when none.
    bool GetMountEntry(const std::string& inMountPoint, XLinuxMountEntry& outEntry);
    // The mount that holds the absolute path inPath (above); false when the table is empty or the
    // path is not absolute.
    bool GetMountEntryOfPath(const std::string& inPath, XLinuxMountEntry& outEntry);
    // A copy of the whole table, in the kernel's order.
    void GetMountEntries(std::vector<XLinuxMountEntry>& outEntries);
    // Reads the table now; false, the previous table kept, when it cannot be read.
    bool Reload();

    // The colon-form volume name of a mount point: kRootVolumeName for "/", none for the rest.
    static bool GetVolumeNameFromMountPath(const std::string& inMountPath, VString& outName);
    // The mount point of a colon-form volume name: "/" for kRootVolumeName (compared exactly).
    static bool GetMountPathFromVolumeName(const VString& inName, std::string& outMountPath);

    // The parsers of XLinuxMountInfo, for the table and for tests.
    // One line, without its final newline; false, outEntry unspecified, for a malformed line.
    static bool ParseMountInfoLine(std::string_view inLine, XLinuxMountEntry& outEntry);
    // Every well-formed line of a whole file; returns the number of lines skipped as malformed.
    static size_t ParseMountInfo(std::string_view inText, std::vector<XLinuxMountEntry>& outEntries);
    // inText with the kernel's four escapes decoded.
    static std::string DecodeEscapes(std::string_view inText);
    // The entry holding inPath in a table (above); null when none.
    static const XLinuxMountEntry* FindMountOfPath(const std::vector<XLinuxMountEntry>& inEntries,
                                                   const std::string& inPath);

private:
    // Reads the table when due (the caller holds the lock).
    void _ReloadIfDue();
    bool _Reload();

    VCriticalSection fLock;
    std::vector<XLinuxMountEntry> fEntries;
    uint32_t fLastReload = 0;
    bool fLoaded = false;
};

} // namespace zorn
