// Portable files use the C and C++ libraries and ICU only; system calls, /proc and glibc
// extensions live in this linux/ back end.
//
// The system folders of XLinuxFolder: the XDG base directories and user directories.
#include "platform/Bundle.h"
#include "toolbox/files/linux/XLinuxFile.h"
#include "toolbox/files/linux/XLinuxFolder.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <vector>

namespace zorn
{

namespace
{

std::string WithFinalSlash(std::string inPath)
{
    if (!inPath.empty() && inPath.back() != '/')
    {
        inPath += '/';
    }
    return inPath;
}

// An environment variable holding an absolute path; empty otherwise (the XDG rule: relative
// values are ignored).
std::string AbsoluteVariable(const char* inName)
{
    const char* value = ::getenv(inName);
    return value != nullptr && value[0] == '/' ? std::string(value) : std::string();
}

std::string HomeFolder()
{
    const char* home = ::getenv("HOME");
    if (home != nullptr && home[0] == '/')
    {
        return WithFinalSlash(home);
    }
    struct passwd entry = {};
    struct passwd* found = nullptr;
    std::vector<char> text(16384);
    if (::getpwuid_r(::getuid(), &entry, text.data(), text.size(), &found) == 0 && found != nullptr &&
        found->pw_dir != nullptr && found->pw_dir[0] == '/')
    {
        return WithFinalSlash(found->pw_dir);
    }
    return {};
}

// The value of one XDG_<NAME>_DIR line of user-dirs.dirs: "$HOME/..." or an absolute path, in
// double quotes; empty when absent or of another form.
std::string UserDirectory(const char* inKey, const std::string& inHome)
{
    std::string config = AbsoluteVariable("XDG_CONFIG_HOME");
    if (config.empty())
    {
        if (inHome.empty())
        {
            return {};
        }
        config = inHome + ".config";
    }
    std::ifstream file(WithFinalSlash(config) + "user-dirs.dirs");
    const std::string key = std::string(inKey) + "=";
    std::string line;
    std::string found;
    while (std::getline(file, line))
    {
        const size_t start = line.find_first_not_of(" \t");
        if (start == std::string::npos || line.compare(start, key.size(), key) != 0)
        {
            continue;
        }
        std::string value = line.substr(start + key.size());
        while (!value.empty() && (value.back() == ' ' || value.back() == '\t' || value.back() == '\r'))
        {
            value.pop_back();
        }
        if (value.size() < 2 || value.front() != '"' || value.back() != '"')
        {
            continue;
        }
        value = value.substr(1, value.size() - 2);
        if (value.compare(0, 5, "$HOME") == 0 && (value.size() == 5 || value[5] == '/'))
        {
            if (inHome.empty())
            {
                continue;
            }
            value = inHome + value.substr(value.size() > 5 ? 6 : 5);
        }
        else if (value.empty() || value[0] != '/')
        {
            continue;
        }
        // The last line naming the key holds, as with a shell reading the file.
        found = WithFinalSlash(value);
    }
    return found;
}

std::string UnderHome(const std::string& inHome, const char* inRelative)
{
    return inHome.empty() ? std::string() : inHome + inRelative;
}

std::string VariableOrHome(const char* inVariable, const std::string& inHome, const char* inRelative)
{
    std::string value = AbsoluteVariable(inVariable);
    return value.empty() ? UnderHome(inHome, inRelative) : WithFinalSlash(value);
}

// mkdir -p; folders under the home folder are made private to the user.
void MakeChain(const std::string& inPath, const std::string& inHome)
{
    const mode_t mode = !inHome.empty() && inPath.compare(0, inHome.size(), inHome) == 0 ? 0700 : 0755;
    for (size_t slash = inPath.find('/', 1); slash != std::string::npos; slash = inPath.find('/', slash + 1))
    {
        const std::string part = inPath.substr(0, slash);
        if (::mkdir(part.c_str(), mode) != 0 && errno != EEXIST)
        {
            return;
        }
    }
}

} // namespace

std::string XLinuxFolder::GetSystemFolderPosixPath(ESystemFolderKind inKind, bool inCreate)
{
    const std::string home = HomeFolder();
    std::string path;
    bool creatable = true;
    switch (inKind)
    {
    case eFK_Executable:
    {
        creatable = false;
        const std::string executable = platform::GetMainExecutablePath();
        const size_t slash = executable.find_last_of('/');
        if (slash != std::string::npos)
        {
            path = executable.substr(0, slash + 1);
        }
        break;
    }
    case eFK_UserDocuments:
        path = UserDirectory("XDG_DOCUMENTS_DIR", home);
        if (path.empty())
        {
            path = UnderHome(home, "Documents/");
        }
        break;
    case eFK_Temporary:
        creatable = false;
        path = AbsoluteVariable("TMPDIR");
        path = path.empty() ? std::string("/tmp/") : WithFinalSlash(path);
        break;
    case eFK_CommonPreferences:
    case eFK_CommonApplicationData:
    {
        const char* dirs = ::getenv("XDG_DATA_DIRS");
        std::string first = dirs != nullptr ? std::string(dirs).substr(0, std::string(dirs).find(':')) : "";
        path = !first.empty() && first[0] == '/' ? WithFinalSlash(first) : std::string("/usr/local/share/");
        break;
    }
    case eFK_UserPreferences:
    case eFK_UserApplicationData:
        path = VariableOrHome("XDG_DATA_HOME", home, ".local/share/");
        break;
    case eFK_Desktop:
        path = UserDirectory("XDG_DESKTOP_DIR", home);
        if (path.empty())
        {
            path = UnderHome(home, "Desktop/");
        }
        break;
    case eFK_Applications:
        path = "/opt/";
        break;
    case eFK_CommonCache:
        path = "/var/cache/";
        break;
    case eFK_UserCache:
        path = VariableOrHome("XDG_CACHE_HOME", home, ".cache/");
        break;
    case eFK_Library:
        path = UnderHome(home, ".local/");
        break;
    case eFK_Home:
        creatable = false;
        path = home;
        break;
    default:
        break;
    }
    if (inCreate && creatable && !path.empty())
    {
        MakeChain(path, home);
    }
    return path;
}

} // namespace zorn
