#include "toolbox/json/VJSONReleaseQueue.h"

#include <utility>

namespace zorn
{

namespace
{

// The pending list of the thread's outermost scope; null outside any scope. A plain pointer, so
// that it needs no destruction at the thread's end.
thread_local std::vector<VJSONValue>* tPending = nullptr;

} // namespace

VJSONReleaseQueue::StScope::StScope() : fOuter(tPending == nullptr)
{
    if (fOuter)
    {
        tPending = &fPending;
    }
}

VJSONReleaseQueue::StScope::~StScope()
{
    if (!fOuter)
    {
        return;
    }
    // Each value is moved out before it is released: its release may defer more values, which
    // can grow (and move) the list.
    while (!fPending.empty())
    {
        VJSONValue value(std::move(fPending.back()));
        fPending.pop_back();
    }
    tPending = nullptr;
}

void VJSONReleaseQueue::Defer(VJSONValue& ioValue)
{
    if ((ioValue.IsObject() || ioValue.IsArray()) && tPending != nullptr)
    {
        tPending->push_back(std::move(ioValue));
    }
}

} // namespace zorn
