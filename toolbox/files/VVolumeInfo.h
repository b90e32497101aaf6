// VVolumeInfo: one measure of a volume's space, as a file caches it for its free-space queries
// (VFile::GetVolumeFreeSpace). Never changed once made; shared by reference counting, so a record
// that one thread reads stays valid while another thread replaces the file's cached one.
#pragma once

#include "toolbox/kernel/base/IRefCountable.h"
#include "toolbox/kernel/base/VObject.h"

#include <cstdint>

namespace zorn
{

class VVolumeInfo : public VObject, public IRefCountable
{
public:
    // inStamp: VSystem::GetCurrentTime() when measured; inWithQuotas: whether the free space is
    // what unprivileged users may still use (reserved blocks left out) or every free block.
    VVolumeInfo(uint32_t inStamp, bool inWithQuotas, int64_t inFree, int64_t inTotal)
        : fStamp(inStamp), fWithQuotas(inWithQuotas), fFree(inFree), fTotal(inTotal)
    {
    }

    uint32_t GetStamp() const { return fStamp; }
    bool IsWithQuotas() const { return fWithQuotas; }
    int64_t GetFree() const { return fFree; }
    int64_t GetTotal() const { return fTotal; }

private:
    const uint32_t fStamp;
    const bool fWithQuotas;
    const int64_t fFree;
    const int64_t fTotal;
};

} // namespace zorn
