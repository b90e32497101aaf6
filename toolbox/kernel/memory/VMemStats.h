// VMemStats: the figures the memory manager's allocator back ends gather about their blocks
// (VCppMemMgr::GetStatistics). The scalar counters describe one gathering; the collections add up
// across gatherings into the same record, since Clear leaves them as they are.
//
// Text forms: DumpToStream writes the short form (memory figures, objects by class and blocks by
// tag); GetDumpText composes the full form (every counter and every map but the block map and the
// virtual-table map), which Dump writes to the standard error. Classes are named by their type
// records' (mangled) names and ordered by the records' addresses; tags by their four bytes, most
// significant first, read as UTF-8.
#pragma once

#include "toolbox/kernel/errors/VError.h"

#include <cstdint>
#include <map>
#include <string>
#include <typeinfo>
#include <vector>

namespace zorn
{

class VStream;
class VString;

// A count of blocks and their bytes.
struct VObjectInfo
{
    int32_t fCount = 0;
    uint64_t fTotalSize = 0;
};

// Used and free counts of blocks (or of full and partial pages) of one size.
struct VMemBlockCounts
{
    int32_t fUsedOrFull = 0;
    int32_t fFreeOrPartial = 0;
};

// One entry of the block map: a size or address and two small numbers whose meaning depends on the
// entry (a region, a free block, a page, a plain used block).
struct VMemBlockMapEntry
{
    uint64_t fValue = 0;
    int16_t fFirst = 0;
    int16_t fSecond = 0;
};

class VMemStats
{
public:
    // Zeroes the scalar counters; the collections keep their entries.
    void Clear();

    // Writes the short form with PutText; returns the stream's error.
    VError DumpToStream(VStream* inStream) const;
    // The full form, starting with a line feed.
    void GetDumpText(VString& outText) const;
    void Dump() const;

    uint64_t fFreeMem = 0;
    uint64_t fUsedMem = 0;
    int32_t fNbPages = 0;
    int32_t fNbObjects = 0;
    int32_t fNbSmallBlocks = 0;
    int32_t fNbFreeSmallBlocks = 0;
    int32_t fNbUsedSmallBlocks = 0;
    int32_t fNbBigBlocks = 0;
    int32_t fNbFreeBigBlocks = 0;
    int32_t fNbUsedBigBlocks = 0;
    uint64_t fBiggestBlock = 0;
    uint64_t fBiggestFreeBlock = 0;

    // Keyed by the address of the class's type record.
    std::map<const std::type_info*, VObjectInfo> fClassMap;
    std::map<int32_t, VObjectInfo> fTagMap;
    std::map<uint64_t, VMemBlockCounts> fSmallBlockMap;
    std::map<uint64_t, VMemBlockCounts> fPageMap;
    std::map<uint64_t, VMemBlockCounts> fBigBlockMap;
    std::vector<VMemBlockMapEntry> fBlockMap;
    std::map<const void*, const std::type_info*> fVirtualTableMap;

private:
    std::string _ComposeDump() const;
};

} // namespace zorn
