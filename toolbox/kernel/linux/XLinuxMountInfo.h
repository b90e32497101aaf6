// Linux back end of the kernel, its only folder that calls the system: portable kernel files use
// the C and C++ libraries and ICU only; system calls, /proc, glibc extensions and ABI calls live here.
//
// XLinuxMountInfo: the reader of /proc/self/mountinfo, the table of mounted file systems that the
// file layer's volumes and the system's partition inventory both stand on.
//
// A line is "ID PARENT MAJOR:MINOR ROOT MOUNTPOINT OPTIONS [OPTIONAL...] - TYPE SOURCE SUPER",
// fields separated by single spaces (an empty field stays empty). In ROOT, MOUNTPOINT, SOURCE and
// the option texts the kernel's escapes \040 (space), \011 (tab), \012 (newline) and \134
// (backslash) are decoded; any other backslash stays as it is. A line that does not have this form
// (a missing "-", a number that is not decimal or does not fit 32 bits, a mount point not beginning
// with '/') is skipped, never guessed at.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace zorn
{

// One line of /proc/self/mountinfo, escapes decoded.
struct XLinuxMountEntry
{
    uint32_t fMountID = 0;
    uint32_t fParentID = 0;
    uint32_t fMajor = 0;
    uint32_t fMinor = 0;
    std::string fRoot;                        // the folder of the file system seen at the mount point
    std::string fMountPoint;                  // relative to the process's root
    std::string fOptions;                     // per-mount options
    std::vector<std::string> fOptionalFields; // "shared:N", "master:N", ...
    std::string fType;
    std::string fSource;
    std::string fSuperOptions; // per-file-system options
};

class XLinuxMountInfo
{
public:
    XLinuxMountInfo() = delete;

    // One line, without its final newline; false, outEntry unspecified, for a malformed line.
    static bool ParseLine(std::string_view inLine, XLinuxMountEntry& outEntry);
    // Every well-formed line of a whole file, replacing outEntries; returns the number of lines
    // skipped as malformed.
    static size_t Parse(std::string_view inText, std::vector<XLinuxMountEntry>& outEntries);
    // inText with the kernel's four escapes decoded.
    static std::string DecodeEscapes(std::string_view inText);
    // The process's table now, in the kernel's order; false (outEntries untouched) when it cannot
    // be read.
    static bool Read(std::vector<XLinuxMountEntry>& outEntries);
};

} // namespace zorn
