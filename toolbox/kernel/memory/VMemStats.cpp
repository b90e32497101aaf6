#include "toolbox/kernel/memory/VMemStats.h"

#include "toolbox/kernel/streams/VStream.h"
#include "toolbox/kernel/strings/VString.h"

#include <cstdio>
#include <string>

namespace zorn
{

void VMemStats::Clear()
{
    fFreeMem = 0;
    fUsedMem = 0;
    fNbPages = 0;
    fNbObjects = 0;
    fNbSmallBlocks = 0;
    fNbFreeSmallBlocks = 0;
    fNbUsedSmallBlocks = 0;
    fNbBigBlocks = 0;
    fNbFreeBigBlocks = 0;
    fNbUsedBigBlocks = 0;
    fBiggestBlock = 0;
    fBiggestFreeBlock = 0;
}

namespace
{

void AppendNumber(std::string& ioText, uint64_t inValue)
{
    ioText += std::to_string(inValue);
}

void AppendLine(std::string& ioText, const char* inLabel, uint64_t inValue)
{
    ioText += inLabel;
    AppendNumber(ioText, inValue);
    ioText += '\n';
}

void AppendSigned(std::string& ioText, const char* inLabel, int32_t inValue)
{
    ioText += inLabel;
    ioText += std::to_string(inValue);
    ioText += '\n';
}

void AppendInfoLine(std::string& ioText, const std::string& inName, const VObjectInfo& inInfo)
{
    ioText += inName;
    ioText += " : ";
    ioText += std::to_string(inInfo.fCount);
    ioText += "   ,  mem = ";
    AppendNumber(ioText, inInfo.fTotalSize);
    ioText += '\n';
}

std::string TagText(int32_t inTag)
{
    std::string text;
    for (int shift = 24; shift >= 0; shift -= 8)
    {
        text += static_cast<char>((static_cast<uint32_t>(inTag) >> shift) & 0xFF);
    }
    return text;
}

void AppendClassLines(std::string& ioText, const VMemStats& inStats)
{
    for (const auto& [type, info] : inStats.fClassMap)
    {
        AppendInfoLine(ioText, type != nullptr ? type->name() : "", info);
    }
}

void AppendTagLines(std::string& ioText, const VMemStats& inStats)
{
    for (const auto& [tag, info] : inStats.fTagMap)
    {
        AppendInfoLine(ioText, TagText(tag), info);
    }
}

void AppendCountLines(std::string& ioText, const std::map<uint64_t, VMemBlockCounts>& inMap,
                      const char* inFirst, const char* inSecond)
{
    for (const auto& [size, counts] : inMap)
    {
        AppendNumber(ioText, size);
        ioText += inFirst;
        ioText += std::to_string(counts.fUsedOrFull);
        ioText += inSecond;
        ioText += std::to_string(counts.fFreeOrPartial);
        ioText += '\n';
    }
}

} // namespace

VError VMemStats::DumpToStream(VStream* inStream) const
{
    if (inStream == nullptr)
    {
        return 0;
    }
    std::string text;
    AppendLine(text, "Used Mem = ", fUsedMem);
    AppendLine(text, "Free Mem = ", fFreeMem);
    AppendLine(text, "Biggest Free Block = ", fBiggestFreeBlock);
    text += "\n\n";
    AppendSigned(text, "Nb Objects = ", fNbObjects);
    text += "\n\n";
    AppendClassLines(text, *this);
    text += "\n\n";
    text += "Blocks by Tags";
    text += "\n\n";
    AppendTagLines(text, *this);
    VString string;
    string.FromBlock(text.data(), text.size(), CharSet::VTC_UTF_8);
    return inStream->PutText(string);
}

std::string VMemStats::_ComposeDump() const
{
    std::string text = "\n";
    AppendLine(text, "Used Mem = ", fUsedMem);
    AppendLine(text, "Free Mem = ", fFreeMem);
    AppendSigned(text, "Nb Big Blocks = ", fNbBigBlocks);
    AppendSigned(text, "Nb Used Big Blocks = ", fNbUsedBigBlocks);
    AppendSigned(text, "Nb Free Big Blocks = ", fNbFreeBigBlocks);
    AppendSigned(text, "Nb Pages containing small blocks = ", fNbPages);
    AppendSigned(text, "Nb Small Blocks = ", fNbSmallBlocks);
    AppendSigned(text, "Nb Used Small Blocks = ", fNbUsedSmallBlocks);
    AppendSigned(text, "Nb Free Small Blocks = ", fNbFreeSmallBlocks);
    AppendLine(text, "Biggest Block = ", fBiggestBlock);
    AppendLine(text, "Biggest Free Block = ", fBiggestFreeBlock);
    AppendSigned(text, "Nb Objects = ", fNbObjects);
    AppendClassLines(text, *this);
    text += "Blocks by Tags\n";
    AppendTagLines(text, *this);
    text += "Small Blocks\n";
    AppendCountLines(text, fSmallBlockMap, " : NbUsed = ", " , NbFree = ");
    text += "Allocation Pages\n";
    AppendCountLines(text, fPageMap, " : NbFull = ", " , NbPartial = ");
    text += "Other Big Blocks\n";
    AppendCountLines(text, fBigBlockMap, " : NbUsed = ", " , NbFree = ");
    return text;
}

void VMemStats::GetDumpText(VString& outText) const
{
    std::string text = _ComposeDump();
    outText.FromBlock(text.data(), text.size(), CharSet::VTC_UTF_8);
}

void VMemStats::Dump() const
{
    std::string text = _ComposeDump();
    std::fwrite(text.data(), 1, text.size(), stderr);
}

} // namespace zorn
