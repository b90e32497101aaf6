// VJSONStamp: the change counter of a tree of JSON objects and arrays. The containers of one tree
// share it (each holds one reference); every change anywhere in the tree increments it, so one
// number tells whether anything in the tree changed. It is guarded as its containers are: plain
// containers belong to one task at a time.
#pragma once

#include "toolbox/kernel/base/IRefCountable.h"
#include "toolbox/kernel/base/VObject.h"

#include <cstdint>

namespace zorn
{

class VJSONStamp : public VObject, public IRefCountable
{
public:
    VJSONStamp() = default;

    uint32_t GetValue() const { return fValue; }
    // Counts one change (wrapping).
    void Increment() { ++fValue; }

private:
    uint32_t fValue = 0;
};

} // namespace zorn
