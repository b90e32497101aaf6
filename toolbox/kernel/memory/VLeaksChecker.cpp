#include "toolbox/kernel/memory/VLeaksChecker.h"

#include "platform/Bundle.h"

#include <ctime>
#include <new>

namespace zorn
{

bool VLeaksChecker::SetLeaksCheck(bool inEnabled)
{
    bool previous = fEnabled;
    fEnabled = inEnabled;
    return previous;
}

void VLeaksChecker::RegisterBlock(XLinuxStackCrawl& ioCrawl)
{
    if (!fEnabled)
    {
        return;
    }
    ioCrawl.LoadFrames(fFramesToSkip < 0 ? 0 : static_cast<uint32_t>(fFramesToSkip), kMaxFrames);
    if (ioCrawl.GetCount() >= 1)
    {
        ++fRecordedBlocks;
    }
}

void VLeaksChecker::UnregisterBlock(const XLinuxStackCrawl& inCrawl)
{
    if (inCrawl.GetCount() >= 1)
    {
        --fRecordedBlocks;
    }
}

std::string VLeaksChecker::GetDumpFilePath(const char* inName)
{
    std::string path = platform::GetMainBundleFolder();
    if (path.empty())
    {
        return path;
    }
    size_t slash = path.rfind('/');
    size_t dot = path.rfind('.');
    if (dot != std::string::npos && (slash == std::string::npos || dot > slash + 1))
    {
        path.erase(dot);
    }
    return path + "." + (inName != nullptr ? inName : "") + ".leaks";
}

FILE* VLeaksChecker::OpenDumpFile(const char* inName) const
{
    std::string path = GetDumpFilePath(inName);
    if (path.empty())
    {
        return nullptr;
    }
    FILE* file = std::fopen(path.c_str(), "w");
    if (file == nullptr)
    {
        return nullptr;
    }
    std::time_t now = std::time(nullptr);
    std::tm local = {};
    localtime_r(&now, &local);
    char date[128];
    if (std::strftime(date, sizeof(date), "%A, %B %d, %Y %I:%M:%S %p\n", &local) != 0)
    {
        std::fputs(date, file);
    }
    if (fRecordedBlocks == 0)
    {
        std::fputs("No memory leaks.\n", file);
    }
    else if (fRecordedBlocks == 1)
    {
        std::fputs("You have one leak:\n\n", file);
    }
    else
    {
        std::fprintf(file, "You have %i leaks:\n\n", fRecordedBlocks);
    }
    return file;
}

void VDebugBlockInfoPool::Add(const void* inBlock, const VDebugBlockInfo& inInfo)
{
    try
    {
        fInfos[inBlock] = inInfo;
    }
    catch (const std::bad_alloc&)
    {
        // Out of memory: the block goes unrecorded.
    }
}

bool VDebugBlockInfoPool::Remove(const void* inBlock, VDebugBlockInfo& outInfo)
{
    auto found = fInfos.find(inBlock);
    if (found == fInfos.end())
    {
        return false;
    }
    outInfo = found->second;
    fInfos.erase(found);
    return true;
}

void VDebugBlockInfoPool::Dump(FILE* inFile) const
{
    for (const auto& [block, info] : fInfos)
    {
        char tag[5];
        for (int i = 0; i < 4; ++i)
        {
            char c = static_cast<char>((static_cast<uint32_t>(info.fTag) >> (24 - 8 * i)) & 0xFF);
            tag[i] = c >= 0x20 && c <= 0x7E ? c : '.';
        }
        tag[4] = 0;
        std::fprintf(inFile, "Block %p, size %zu, tag '%s'\n", block, info.fSize, tag);
        info.fCrawl.Dump(inFile);
        std::fputs("\n", inFile);
    }
}

} // namespace zorn
