// VBootLogListener: the log listener that start-up attaches to the process logger, keeping the
// records of the process's first moments so that they can be handed to the logger's own output
// once that exists (VProcess::CleanBootLogListener).
//
// Choices and limits:
// - It keeps the first kMaxRecords records and drops later ones: nothing may ever hand them on, and
//   a long-running process must not grow without bound. GetDroppedCount tells how many were lost.
// - Records are retained, never copied; the destructor releases them.
// - Put is never entered by two tasks at once (the logger's delivery task); the readers run when
//   the listener is no longer attached.
#pragma once

#include "toolbox/kernel/base/VObject.h"
#include "toolbox/kernel/errors/ILogger.h"

#include <cstddef>
#include <vector>

namespace zorn
{

class VValueBag;

class VBootLogListener : public VObject, public ILogListener
{
public:
    static constexpr size_t kMaxRecords = 1000;

    VBootLogListener() = default;
    ~VBootLogListener() override;
    VBootLogListener(const VBootLogListener&) = delete;
    VBootLogListener& operator=(const VBootLogListener&) = delete;

    void Put(const std::vector<const VValueBag*>& inRecords) override;

    const std::vector<const VValueBag*>& GetRecords() const { return fRecords; }
    size_t GetDroppedCount() const { return fDropped; }

private:
    std::vector<const VValueBag*> fRecords;
    size_t fDropped = 0;
};

} // namespace zorn
