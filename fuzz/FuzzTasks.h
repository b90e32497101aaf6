// What fuzz targets share: the calling thread made the main task of a bare process once, so that
// the errors a reader pushes have a context to go to.
#pragma once

#include "toolbox/kernel/hooks/IProcessServices.h"
#include "toolbox/kernel/tasks/VTaskMgr.h"

#include <cstdlib>

namespace zorn::fuzz
{

// Aborts, so that the fuzzer reports the input.
inline void Check(bool inCondition)
{
    if (!inCondition)
    {
        std::abort();
    }
}

class FuzzProcess final : public IProcessServices
{
public:
    VIntlMgr* GetIntlMgr() const override { return nullptr; }
    ILogger* GetLogger() const override { return nullptr; }
    ILocalizer* GetLocalizer() const override { return nullptr; }
    VJSONClassStore* GetClassStore() const override { return nullptr; }
    bool IsFibersEnabled() const override { return false; }
};

inline void StartTasks()
{
    static const bool sStarted = []
    {
        static FuzzProcess sProcess;
        IProcessServices::Set(&sProcess);
        return VTaskMgr::Get()->Init(&sProcess);
    }();
    Check(sStarted);
}

} // namespace zorn::fuzz
