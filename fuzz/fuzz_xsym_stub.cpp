// Feeds arbitrary bytes to the "XSym" stub reader of frameworks and to the component requirement
// block reader. The first byte picks the stub entry's folder; the same bytes, taken as 32-bit
// words in a block of exactly their size, are read as a requirement block. Every target the stub
// reader accepts must be relative and stay inside the framework folder, checked here on its own.
#include "toolbox/files/linux/XLinuxLibrary.h"
#include "toolbox/process/VComponentManager.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace
{

// Whether inTarget, resolved from inFolder, names something strictly below the framework.
bool StaysInside(std::string_view inFolder, std::string_view inTarget)
{
    if (inTarget.empty() || inTarget.front() == '/' || inTarget.find('\0') != std::string_view::npos)
    {
        return false;
    }
    std::vector<std::string_view> stack;
    for (std::string_view path : {inFolder, inTarget})
    {
        size_t start = 0;
        while (start <= path.size())
        {
            size_t end = path.find('/', start);
            if (end == std::string_view::npos)
            {
                end = path.size();
            }
            std::string_view part = path.substr(start, end - start);
            if (part == "..")
            {
                if (stack.empty())
                {
                    return false;
                }
                stack.pop_back();
            }
            else if (!part.empty() && part != ".")
            {
                stack.push_back(part);
            }
            start = end + 1;
        }
    }
    return !stack.empty();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
    {
        return 0;
    }
    static constexpr std::string_view kFolders[] = {"", "Versions"};
    const std::string_view folder = kFolders[data[0] & 1];
    const std::string_view content(reinterpret_cast<const char*>(data + 1), size - 1);
    std::string target;
    const auto kind = zorn::XLinuxLibrary::ReadXSymStub(content, folder, target);
    if (kind == zorn::XLinuxLibrary::EXSymStub::kTarget)
    {
        if (!StaysInside(folder, target) || content.find(target) == std::string_view::npos)
        {
            std::abort();
        }
    }
    else if (!target.empty())
    {
        std::abort();
    }

    const size_t count = size / sizeof(int32_t);
    std::unique_ptr<int32_t[]> words(new int32_t[count == 0 ? 1 : count]);
    std::memcpy(words.get(), data, count * sizeof(int32_t));
    int32_t version = 0;
    std::vector<zorn::VComponentManager::Requirement> requirements;
    if (zorn::VComponentManager::ReadRequirementBlock(count == 0 ? nullptr : words.get(), count, version,
                                                      requirements) &&
        (requirements.size() > zorn::VComponentManager::kMaxRequirements ||
         11 + 2 * requirements.size() > count))
    {
        std::abort();
    }
    return 0;
}
