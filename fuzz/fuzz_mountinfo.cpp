// Feeds arbitrary text to the mount table's line parser. Every entry it accepts has an absolute
// mount point and a type, survives being written back with the kernel's escapes and read again,
// and the mount found for a path below its mount point holds that path.
#include "toolbox/files/linux/XLinuxVolumes.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace
{

std::string Escape(const std::string& inText)
{
    std::string text;
    for (char c : inText)
    {
        switch (c)
        {
        case ' ':
            text += "\\040";
            break;
        case '\t':
            text += "\\011";
            break;
        case '\n':
            text += "\\012";
            break;
        case '\\':
            text += "\\134";
            break;
        default:
            text += c;
            break;
        }
    }
    return text;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using zorn::XLinuxMountEntry;
    using zorn::XLinuxVolumes;
    std::string_view text(reinterpret_cast<const char*>(data), size);
    std::vector<XLinuxMountEntry> entries;
    const size_t skipped = XLinuxVolumes::ParseMountInfo(text, entries);
    if (entries.size() + skipped > size)
    {
        __builtin_trap();
    }
    for (const XLinuxMountEntry& entry : entries)
    {
        if (entry.fMountPoint.empty() || entry.fMountPoint[0] != '/' || entry.fType.empty())
        {
            __builtin_trap();
        }
        std::string line = std::to_string(entry.fMountID) + " " + std::to_string(entry.fParentID) + " " +
                           std::to_string(entry.fMajor) + ":" + std::to_string(entry.fMinor) + " " +
                           Escape(entry.fRoot) + " " + Escape(entry.fMountPoint) + " " +
                           Escape(entry.fOptions);
        for (const std::string& field : entry.fOptionalFields)
        {
            line += " " + Escape(field);
        }
        line += " - " + Escape(entry.fType) + " " + Escape(entry.fSource) + " " + Escape(entry.fSuperOptions);
        XLinuxMountEntry again;
        if (!XLinuxVolumes::ParseMountInfoLine(line, again) || again.fRoot != entry.fRoot ||
            again.fMountPoint != entry.fMountPoint || again.fOptionalFields != entry.fOptionalFields ||
            again.fSource != entry.fSource || again.fSuperOptions != entry.fSuperOptions)
        {
            __builtin_trap();
        }
        const std::string below = entry.fMountPoint == "/" ? "/x" : entry.fMountPoint + "/x";
        const XLinuxMountEntry* holder = XLinuxVolumes::FindMountOfPath(entries, below);
        if (holder == nullptr || holder->fMountPoint.size() < entry.fMountPoint.size() ||
            below.compare(0, holder->fMountPoint.size(), holder->fMountPoint) != 0)
        {
            __builtin_trap();
        }
    }
    return 0;
}
