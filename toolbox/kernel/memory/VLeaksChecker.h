// VLeaksChecker: counts the blocks of the memory manager whose allocation call stack was recorded
// while leak checking is on, and opens the leak report beside the application bundle.
// VDebugBlockInfoPool: the manager's records of those blocks (address, size, tag, call stack),
// from which it lists the blocks still allocated after the report's head.
//
// Choices and limits: a call stack keeps at most 8 frames, after the frames to skip (4 by default:
// the checker and the manager's own). The report is "<bundle path without extension>.<name>.leaks"
// beside the bundle, replaced when it exists. Neither class locks: the manager guards them with
// its mutex. The records come from the standard operator new, never from the manager.
#pragma once

#include "toolbox/kernel/linux/XLinuxStackCrawl.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <unordered_map>

namespace zorn
{

class VLeaksChecker
{
public:
    static constexpr uint32_t kMaxFrames = 8;

    VLeaksChecker() = default;
    virtual ~VLeaksChecker() = default;

    // Returns the previous state.
    bool SetLeaksCheck(bool inEnabled);
    bool IsLeaksCheckEnabled() const { return fEnabled; }
    void SetStackFramesToSkip(int inCount) { fFramesToSkip = inCount; }

    // When enabled, fills ioCrawl with the caller's stack; a crawl with a frame is counted.
    void RegisterBlock(XLinuxStackCrawl& ioCrawl);
    // A crawl with a frame is no longer counted.
    void UnregisterBlock(const XLinuxStackCrawl& inCrawl);
    int32_t GetRecordedBlockCount() const { return fRecordedBlocks; }

    // Opens the report of inName and writes its head (the local date and time, then how many
    // leaks there are); the caller writes the leaks and closes the file. Null when the bundle has
    // no path or the file cannot be opened.
    FILE* OpenDumpFile(const char* inName) const;
    // The report's path for inName; empty without a bundle path.
    static std::string GetDumpFilePath(const char* inName);

private:
    int32_t fFramesToSkip = 4;
    int32_t fRecordedBlocks = 0;
    bool fEnabled = false;
};

// One recorded block.
struct VDebugBlockInfo
{
    size_t fSize = 0;
    int32_t fTag = 0;
    XLinuxStackCrawl fCrawl;
};

class VDebugBlockInfoPool
{
public:
    void Add(const void* inBlock, const VDebugBlockInfo& inInfo);
    // Takes the record of inBlock out into outInfo; false when there is none.
    bool Remove(const void* inBlock, VDebugBlockInfo& outInfo);
    bool IsEmpty() const { return fInfos.empty(); }
    size_t GetCount() const { return fInfos.size(); }

    // Writes one paragraph per recorded block: its address, size and tag, then its call stack.
    void Dump(FILE* inFile) const;

private:
    std::unordered_map<const void*, VDebugBlockInfo> fInfos;
};

} // namespace zorn
