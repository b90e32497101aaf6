// XLinuxStackCrawl: the return addresses of a call stack, captured with the C library's backtrace,
// for the assert file and error reports.
//
// Choices and limits: a capture asks the system for at most 58 frames and keeps at most 48 (the
// frames that do not fit are lost, innermost kept). Frame 0 is the caller of LoadFrames. Names come
// from the program's dynamic symbol table (dladdr): a function that is not exported there (static
// functions, or a program linked without -rdynamic) has no name and is shown as "<inline>".
#pragma once

#include <cstdint>
#include <cstdio>

namespace zorn
{

class VString;

class XLinuxStackCrawl
{
public:
    static constexpr uint32_t kMaxFrames = 48;
    static constexpr uint32_t kMaxCapturedFrames = 58;

    XLinuxStackCrawl() = default;

    // Captures the calling stack: drops the inSkip innermost frames (beyond LoadFrames itself) and
    // keeps at most inCount of the rest, and at most 48.
    void LoadFrames(uint32_t inSkip, uint32_t inCount);

    uint32_t GetCount() const { return fCount; }
    void* GetFrame(uint32_t inIndex) const { return inIndex < fCount ? fFrames[inIndex] : nullptr; }

    // One line per frame, innermost first: "  :: frame N: <symbolic name>\n".
    void Dump(FILE* inFile) const;
    // One line per frame, innermost first, numbered from count - 1 down to 0:
    // "   {N} 0x<address> - <demangled name>\n", "<inline>" for a frame without a name. Empty for
    // an empty crawl.
    void Dump(VString& outText) const;
    // Only the names, one line per frame, innermost first: "<demangled name>\n", "<inline>" for a
    // frame without a name. This is the form log records condense.
    void DumpNames(VString& outText) const;

    // Orders by count, then by the addresses from the innermost frame out.
    bool operator<(const XLinuxStackCrawl& inOther) const;

private:
    void _AppendName(uint32_t inIndex, VString& ioText) const;

    void* fFrames[kMaxFrames] = {};
    uint32_t fCount = 0;
};

} // namespace zorn
