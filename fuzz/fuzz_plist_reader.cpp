// Feeds arbitrary bytes to the Info.plist reader and walks whatever it accepts.
#include "platform/PropertyList.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace
{
size_t Walk(const zorn::platform::PlistValue& inValue)
{
    size_t count = 1 + inValue.GetText().size();
    for (const auto& item : inValue.GetArray())
    {
        count += Walk(item);
    }
    for (const auto& [key, value] : inValue.GetDict())
    {
        count += key.size() + Walk(value);
    }
    return count;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    zorn::platform::PlistValue root;
    std::string error;
    if (zorn::platform::ParsePropertyList(std::string_view(reinterpret_cast<const char*>(data), size), root,
                                          &error))
    {
        volatile size_t sink = Walk(root);
        (void)sink;
    }
    return 0;
}
