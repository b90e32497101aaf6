#include "platform/SharedMimeInfo.h"

#include <sys/stat.h>

#include <cstdlib>
#include <string_view>

namespace zorn::platform
{

std::string FindSharedMimeInfoDatabase()
{
    const char* variable = std::getenv("XDG_DATA_DIRS");
    std::string_view folders =
        variable != nullptr && *variable != 0 ? variable : "/usr/local/share/:/usr/share/";
    while (!folders.empty())
    {
        const size_t colon = folders.find(':');
        std::string folder(folders.substr(0, colon));
        folders = colon == std::string_view::npos ? std::string_view() : folders.substr(colon + 1);
        if (folder.empty() || folder.front() != '/')
        {
            continue;
        }
        if (folder.back() != '/')
        {
            folder += '/';
        }
        std::string path = folder + "mime/packages/freedesktop.org.xml";
        struct stat status = {};
        if (::stat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode))
        {
            return path;
        }
    }
    return {};
}

} // namespace zorn::platform
