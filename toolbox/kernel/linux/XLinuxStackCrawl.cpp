#include "toolbox/kernel/linux/XLinuxStackCrawl.h"

#include "toolbox/kernel/strings/VString.h"
#include "toolbox/kernel/system/VSystem.h"

#include <algorithm>
#include <cinttypes>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <execinfo.h>

namespace zorn
{

__attribute__((noinline)) void XLinuxStackCrawl::LoadFrames(uint32_t inSkip, uint32_t inCount)
{
    void* frames[kMaxCapturedFrames];
    const int captured = std::max(::backtrace(frames, static_cast<int>(kMaxCapturedFrames)), 0);
    // The capture begins inside this function, or deeper where a sanitizer wraps backtrace: the
    // caller's frame is the one that returns where this call returns.
    void* const callerFrame = __builtin_return_address(0);
    void** found = std::find(frames, frames + captured, callerFrame);
    const uint32_t callerIndex = found != frames + captured ? static_cast<uint32_t>(found - frames) : 1;
    const uint32_t first = std::min<uint32_t>(callerIndex + inSkip, static_cast<uint32_t>(captured));
    fCount = std::min({static_cast<uint32_t>(captured) - first, inCount, kMaxFrames});
    std::copy_n(frames + first, fCount, fFrames);
}

void XLinuxStackCrawl::Dump(FILE* inFile) const
{
    if (inFile == nullptr || fCount == 0)
    {
        return;
    }
    char** symbols = ::backtrace_symbols(fFrames, static_cast<int>(fCount));
    for (uint32_t i = 0; i < fCount; ++i)
    {
        std::fprintf(inFile, "  :: frame %u: %s\n", i, symbols != nullptr ? symbols[i] : "?");
    }
    std::free(symbols);
}

void XLinuxStackCrawl::Dump(VString& outText) const
{
    outText.Clear();
    for (uint32_t i = 0; i < fCount; ++i)
    {
        char line[64];
        std::snprintf(line, sizeof(line), "   {%u} 0x%016" PRIxPTR " - ", fCount - 1 - i,
                      reinterpret_cast<uintptr_t>(fFrames[i]));
        outText.AppendCString(line);
        _AppendName(i, outText);
        outText.AppendCString("\n");
    }
}

void XLinuxStackCrawl::DumpNames(VString& outText) const
{
    outText.Clear();
    for (uint32_t i = 0; i < fCount; ++i)
    {
        _AppendName(i, outText);
        outText.AppendCString("\n");
    }
}

void XLinuxStackCrawl::_AppendName(uint32_t inIndex, VString& ioText) const
{
    Dl_info info{};
    if (::dladdr(fFrames[inIndex], &info) != 0 && info.dli_sname != nullptr)
    {
        VString name;
        VSystem::DemangleSymbol(info.dli_sname, name);
        ioText.AppendString(name);
    }
    else
    {
        ioText.AppendCString("<inline>");
    }
}

bool XLinuxStackCrawl::operator<(const XLinuxStackCrawl& inOther) const
{
    if (fCount != inOther.fCount)
    {
        return fCount < inOther.fCount;
    }
    return std::lexicographical_compare(
        fFrames, fFrames + fCount, inOther.fFrames, inOther.fFrames + fCount,
        [](void* a, void* b) { return reinterpret_cast<uintptr_t>(a) < reinterpret_cast<uintptr_t>(b); });
}

} // namespace zorn
