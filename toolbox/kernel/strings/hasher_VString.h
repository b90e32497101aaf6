// hasher_VString: hash and equality of VStrings by their exact UTF-16 units (no collation, no
// case folding), for hash maps keyed by strings. One type serves as both the hasher and the
// key-equality predicate of a std::unordered_map.
#pragma once

#include "toolbox/kernel/strings/VString.h"

#include <functional>
#include <string_view>

namespace zorn
{

struct hasher_VString
{
    static std::u16string_view Units(const VString& inString)
    {
        return {reinterpret_cast<const char16_t*>(inString.GetCPointer()),
                static_cast<size_t>(inString.GetLength())};
    }
    size_t operator()(const VString& inString) const
    {
        return std::hash<std::u16string_view>()(Units(inString));
    }
    bool operator()(const VString& inA, const VString& inB) const { return Units(inA) == Units(inB); }
};

} // namespace zorn
