// VJSONReleaseQueue: releases the children of a JSON container that is being destroyed without
// recursing. A container's destructor opens a scope and defers its object and array values to
// the thread's pending list; the outermost scope on the thread drains that list, so a child whose
// last reference goes there is destroyed from the drain loop, not from inside its parent's
// destructor, and the stack stays flat whatever the depth of the tree. Scalars and strings are
// released in place (they hold no further values).
#pragma once

#include "toolbox/json/VJSONValue.h"

#include <vector>

namespace zorn
{

class VJSONReleaseQueue
{
public:
    // Open while a container releases its values.
    class StScope
    {
    public:
        StScope();
        ~StScope();
        StScope(const StScope&) = delete;
        StScope& operator=(const StScope&) = delete;

    private:
        std::vector<VJSONValue> fPending; // the thread's list, when this scope is the outermost
        bool fOuter;
    };

    // Moves an object or array value to the pending list of the open scope (the value becomes
    // null); other values are left as they are. Called only inside a scope.
    static void Defer(VJSONValue& ioValue);
};

} // namespace zorn
