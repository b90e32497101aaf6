#include "platform/Bundle.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

namespace zorn::platform
{

namespace
{

// The parent of a path without a trailing '/': "/a/b" -> "/a", "/a" -> "/", "a" -> "".
std::string_view ParentOf(std::string_view inPath)
{
    size_t slash = inPath.rfind('/');
    if (slash == std::string_view::npos)
    {
        return {};
    }
    return slash == 0 ? inPath.substr(0, 1) : inPath.substr(0, slash);
}

std::string_view LastNameOf(std::string_view inPath)
{
    size_t slash = inPath.rfind('/');
    return slash == std::string_view::npos ? inPath : inPath.substr(slash + 1);
}

// Reads a whole file into outBytes, refusing files larger than a property list may be.
bool ReadSmallFile(const std::string& inPath, std::string& outBytes)
{
    FILE* file = std::fopen(inPath.c_str(), "rbe");
    if (file == nullptr)
    {
        return false;
    }
    outBytes.clear();
    char buffer[8192];
    bool ok = true;
    for (;;)
    {
        size_t count = std::fread(buffer, 1, sizeof(buffer), file);
        outBytes.append(buffer, count);
        if (outBytes.size() > kMaxPropertyListSize)
        {
            errno = EFBIG;
            ok = false;
            break;
        }
        if (count < sizeof(buffer))
        {
            ok = std::ferror(file) == 0;
            break;
        }
    }
    std::fclose(file);
    return ok;
}

struct MainBundle
{
    std::mutex fMutex;
    bool fLoaded = false;
    std::string fTestFolder; // empty: the running program's bundle
    std::string fFolder;
    bool fInsideBundle = false;
    PlistValue fInfo = PlistValue::MakeDict({});

    // Finds the bundle and reads its Info.plist; called with the mutex held.
    void Load()
    {
        if (fLoaded)
        {
            return;
        }
        fLoaded = true;
        fInfo = PlistValue::MakeDict({});
        if (!fTestFolder.empty())
        {
            fFolder = fTestFolder;
            fInsideBundle = true;
        }
        else
        {
            fFolder = BundleFolderOfExecutable(GetMainExecutablePath(), fInsideBundle);
        }
        if (!fInsideBundle)
        {
            return;
        }
        PlistValue root;
        if (ReadBundleInfo(fFolder, root))
        {
            fInfo = std::move(root);
        }
    }
};

std::string ContentsOf(std::string_view inBundleFolder)
{
    std::string path(inBundleFolder);
    if (path.empty() || path.back() != '/')
    {
        path += '/';
    }
    return path + "Contents/";
}

// Built on first use, so that it exists whenever the first caller comes, even before main.
MainBundle& TheMainBundle()
{
    static MainBundle sMainBundle;
    return sMainBundle;
}

} // namespace

std::string BundleFolderOfExecutable(std::string_view inExecutablePath, bool& outInsideBundle)
{
    std::string_view folder = ParentOf(inExecutablePath);
    std::string_view contents = ParentOf(folder);
    outInsideBundle =
        LastNameOf(folder) == "MacOS" && LastNameOf(contents) == "Contents" && contents != "Contents";
    if (outInsideBundle)
    {
        return std::string(ParentOf(contents));
    }
    return std::string(folder);
}

std::string GetMainExecutablePath()
{
    std::string path(256, '\0');
    for (;;)
    {
        ssize_t length = ::readlink("/proc/self/exe", path.data(), path.size());
        if (length < 0)
        {
            return {};
        }
        if (static_cast<size_t>(length) < path.size())
        {
            path.resize(static_cast<size_t>(length));
            return path;
        }
        if (path.size() >= 65536)
        {
            return {};
        }
        path.resize(path.size() * 2);
    }
}

std::string GetMainBundleFolder()
{
    MainBundle& bundle = TheMainBundle();
    std::lock_guard lock(bundle.fMutex);
    bundle.Load();
    return bundle.fFolder;
}

bool IsMainBundleInsideBundle()
{
    MainBundle& bundle = TheMainBundle();
    std::lock_guard lock(bundle.fMutex);
    bundle.Load();
    return bundle.fInsideBundle;
}

std::optional<PlistValue> GetMainBundleInfoValue(std::string_view inKey)
{
    MainBundle& bundle = TheMainBundle();
    std::lock_guard lock(bundle.fMutex);
    bundle.Load();
    if (const PlistValue* value = bundle.fInfo.Find(inKey))
    {
        return *value;
    }
    return std::nullopt;
}

std::optional<std::string> GetMainBundleInfoString(std::string_view inKey)
{
    MainBundle& bundle = TheMainBundle();
    std::lock_guard lock(bundle.fMutex);
    bundle.Load();
    const PlistValue* value = bundle.fInfo.Find(inKey);
    if (value == nullptr || !value->IsString())
    {
        return std::nullopt;
    }
    return value->GetText();
}

void SetMainBundleFolderForTests(std::string_view inFolder)
{
    MainBundle& bundle = TheMainBundle();
    std::lock_guard lock(bundle.fMutex);
    bundle.fTestFolder.assign(inFolder);
    while (bundle.fTestFolder.size() > 1 && bundle.fTestFolder.back() == '/')
    {
        bundle.fTestFolder.pop_back();
    }
    bundle.fLoaded = false;
}

bool ReadBundleInfo(std::string_view inBundleFolder, PlistValue& outInfo, std::string* outError)
{
    const std::string path = ContentsOf(inBundleFolder) + "Info.plist";
    std::string bytes;
    if (!ReadSmallFile(path, bytes))
    {
        if (outError != nullptr)
        {
            *outError = "cannot read " + path + (errno != 0 ? std::string(": ") + std::strerror(errno) : "");
        }
        return false;
    }
    std::string reason;
    PlistValue root;
    if (!ParsePropertyList(bytes, root, &reason) || root.GetType() != PlistValue::Type::Dict)
    {
        if (outError != nullptr)
        {
            *outError = path + ": " + (reason.empty() ? "the root is not a dict" : reason);
        }
        return false;
    }
    outInfo = std::move(root);
    return true;
}

std::string GetBundleExecutablePath(std::string_view inBundleFolder, std::string* outError)
{
    auto fail = [outError](std::string inReason)
    {
        if (outError != nullptr)
        {
            *outError = std::move(inReason);
        }
        return std::string();
    };
    PlistValue info;
    std::string reason;
    if (!ReadBundleInfo(inBundleFolder, info, &reason))
    {
        return fail(reason);
    }
    const PlistValue* name = info.Find("CFBundleExecutable");
    if (name == nullptr || !name->IsString() || name->GetText().empty())
    {
        return fail("no CFBundleExecutable in " + ContentsOf(inBundleFolder) + "Info.plist");
    }
    const std::string& text = name->GetText();
    if (text.find('/') != std::string::npos || text == "." || text == ".." ||
        text.find('\0') != std::string::npos)
    {
        return fail("CFBundleExecutable is not a plain file name: " + text);
    }
    const std::string path = ContentsOf(inBundleFolder) + "MacOS/" + text;
    struct stat status = {};
    if (::lstat(path.c_str(), &status) != 0 || !S_ISREG(status.st_mode))
    {
        return fail("not a regular file: " + path);
    }
    return path;
}

} // namespace zorn::platform
