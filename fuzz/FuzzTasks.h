// What fuzz targets share: the calling thread made the main task of a bare process once, so that
// the errors a reader pushes have a context to go to; a working folder for the time of one input.
#pragma once

#include "toolbox/kernel/hooks/IProcessServices.h"
#include "toolbox/kernel/strings/VString.h"
#include "toolbox/kernel/tasks/VTaskMgr.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace zorn::fuzz
{

// Aborts, so that the fuzzer reports the input, after naming the line of the failed check.
inline void Check(bool inCondition, int inLine = __builtin_LINE())
{
    if (!inCondition)
    {
        std::fprintf(stderr, "check failed at line %d\n", inLine);
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

// The input as text: valid UTF-8 as such, anything else two bytes a UTF-16 unit.
inline VString TextOfInput(const uint8_t* inData, size_t inSize)
{
    VString text;
    if (!text.FromBlock(inData, inSize, CharSet::VTC_UTF_8))
    {
        text.FromBlock(inData, inSize & ~size_t{1}, CharSet::VTC_UTF_16);
    }
    return text;
}

// Makes inFolder the working folder for the scope, then returns to the one before (so that the
// fuzzer's own relative paths, its corpus and its crash files, keep their meaning).
class StWorkingFolder
{
public:
    explicit StWorkingFolder(const char* inFolder)
        : fPrevious(::open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC))
    {
        Check(fPrevious >= 0 && ::chdir(inFolder) == 0);
    }
    ~StWorkingFolder()
    {
        Check(::fchdir(fPrevious) == 0);
        ::close(fPrevious);
    }
    StWorkingFolder(const StWorkingFolder&) = delete;
    StWorkingFolder& operator=(const StWorkingFolder&) = delete;

private:
    int fPrevious;
};

} // namespace zorn::fuzz
