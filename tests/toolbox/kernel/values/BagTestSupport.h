// What the value-bag tests share: a bag held for a test's duration.
#pragma once

#include "toolbox/kernel/values/VValueBag.h"

namespace zorn::test
{

// A new empty bag, released at the end of the scope; usable where a VValueBag* is asked.
struct Bag
{
    Bag() : fBag(new VValueBag()) {}
    ~Bag() { fBag->Release(); }
    Bag(const Bag&) = delete;
    Bag& operator=(const Bag&) = delete;
    VValueBag* operator->() const { return fBag; }
    VValueBag& operator*() const { return *fBag; }
    operator VValueBag*() const { return fBag; }
    VValueBag* fBag;
};

} // namespace zorn::test
