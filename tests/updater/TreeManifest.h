// Trees as the updater's tests compare them: a folder as a text of every item under it with its
// type, mode, and link text or content hash (so that "the same tree" means the same paths, kinds,
// modes, links and bytes), and the staging folders an update leaves beside a bundle.
#pragma once

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <system_error>
#include <vector>

namespace zorn::test
{

// One line per item under inRoot, sorted: relative path, type (d, f, l), mode, then the link
// text or a hash of the content. Links are not followed. Empty when inRoot does not exist.
inline std::string Manifest(const std::string& inRoot)
{
    namespace fs = std::filesystem;
    std::vector<std::string> lines;
    std::error_code error;
    for (fs::recursive_directory_iterator it(inRoot, error), end; !error && it != end; it.increment(error))
    {
        const std::string path = it->path().string();
        struct stat status = {};
        if (::lstat(path.c_str(), &status) != 0)
        {
            continue;
        }
        char mode[16];
        std::snprintf(mode, sizeof(mode), " %04o ", status.st_mode & 07777);
        std::string line = path.substr(inRoot.size());
        if (S_ISLNK(status.st_mode))
        {
            line += std::string(" l") + mode + fs::read_symlink(path, error).string();
        }
        else if (S_ISDIR(status.st_mode))
        {
            line += std::string(" d") + mode;
        }
        else
        {
            std::ifstream file(path, std::ios::binary);
            std::ostringstream content;
            content << file.rdbuf();
            line += std::string(" f") + mode + std::to_string(std::hash<std::string>()(content.str()));
        }
        lines.push_back(line);
    }
    std::sort(lines.begin(), lines.end());
    std::string manifest;
    for (const std::string& line : lines)
    {
        manifest += line + "\n";
    }
    return manifest;
}

// The names in inFolder of staged items (".partial-<pid>-<n>"), and of the older staging forms
// (".<name>.update-<pid>", ".<name>.partial-<pid>-<n>").
inline std::vector<std::string> StagingLeftIn(const std::string& inFolder)
{
    std::vector<std::string> names;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(inFolder, error))
    {
        const std::string name = entry.path().filename().string();
        if (name.find(".update-") != std::string::npos || name.find(".partial-") != std::string::npos)
        {
            names.push_back(name);
        }
    }
    return names;
}

} // namespace zorn::test
