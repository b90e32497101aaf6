// Feeds arbitrary bytes to the readers of system text files: os-release, /proc/cpuinfo,
// /proc/<pid>/stat, /proc/self/maps, /proc/meminfo, /proc/stat, /proc/net/dev, and a dialog
// program's standard output with its exit code.
#include "platform/Dialogs.h"
#include "toolbox/kernel/linux/XLinuxSystem.h"
#include "toolbox/kernel/linux/XLinuxSystemInfo.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using zorn::XLinuxSystem;
    std::string_view text(reinterpret_cast<const char*>(data), size);

    std::string value = XLinuxSystem::ParseOSReleaseValue(text, "PRETTY_NAME");
    if (value.size() > text.size())
    {
        __builtin_trap();
    }
    std::string model = XLinuxSystem::ParseCPUModelName(text);
    if (model.size() > text.size() || XLinuxSystem::CountPhysicalCores(text) < 0)
    {
        __builtin_trap();
    }
    // A state, when there is one, is the letter right after the last ')' and one blank.
    if (char state = XLinuxSystem::ParseProcessState(text))
    {
        size_t close = text.rfind(')');
        if (close + 2 >= text.size() || text[close + 2] != state)
        {
            __builtin_trap();
        }
    }

    using zorn::XLinuxSystemInfo;
    uintptr_t start = 0;
    uintptr_t end = 0;
    if (XLinuxSystemInfo::ParseMapsLine(text, start, end) && end <= start)
    {
        __builtin_trap();
    }
    uint64_t bytes = 0;
    XLinuxSystemInfo::ParseMemInfoValue(text, "MemAvailable", bytes);
    // Each entry comes from a line of its own.
    std::vector<XLinuxSystemInfo::ProcessorTicks> ticks;
    XLinuxSystemInfo::ParseProcStat(text, ticks);
    std::vector<XLinuxSystemInfo::InterfaceCounters> counters;
    XLinuxSystemInfo::ParseNetDev(text, counters);
    const size_t lines = static_cast<size_t>(std::count(text.begin(), text.end(), '\n')) + 1;
    if (ticks.size() > lines || counters.size() > lines)
    {
        __builtin_trap();
    }

    if (size >= 2)
    {
        // Two bytes choose the dialog (program, flags) and how it ended; the rest is its output.
        auto program = (data[0] & 128) != 0 ? zorn::platform::DialogProgram::kKDialog
                                            : zorn::platform::DialogProgram::kZenity;
        uint32_t flags = (data[0] & 63) | ((data[0] & 64) != 0 ? 512u : 0u);
        int exitCode = data[1] == 255 ? -1 : data[1];
        auto command = zorn::platform::BuildDialogCommand(program, "t", "m", flags, "");
        int32_t answer = zorn::platform::ReadDialogAnswer(command, exitCode, text.substr(2));
        if (answer < zorn::platform::kDialogAnswerNone || answer > zorn::platform::kDialogAnswerCancelled)
        {
            __builtin_trap();
        }
    }
    return 0;
}
