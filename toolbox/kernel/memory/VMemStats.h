// VMemStats: the figures the memory manager's allocator back ends gather about their blocks
// (VCppMemMgr::GetStatistics). The scalar counters describe one gathering; the collections add up
// across gatherings into the same record, since Clear leaves them as they are.
#pragma once

#include <cstdint>
#include <map>
#include <typeinfo>
#include <vector>

namespace zorn
{

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
};

} // namespace zorn
