// Reads arbitrary text with the JSON importer and hands what it gives to
// VFileSystemNamespace::LoadFromJSONArray, in a namespace whose parent holds one file system,
// "tmp", over a fresh temporary folder (with a folder "a" and a link "out" to "/" in it). The
// array is loaded whole, and again one element at a time: every file system registered must be
// named (non-empty, no '/') and rooted at a folder path; a root defined under a parent must lie
// inside that parent's root by its real path, so nothing defined under "tmp" leaves the temporary
// folder; both ways must register the same roots; and loading creates and deletes nothing.
#include "fuzz/FuzzTasks.h"
#include "toolbox/files/VFileSystem.h"
#include "toolbox/files/VFileSystemNamespace.h"
#include "toolbox/files/VFolder.h"
#include "toolbox/files/linux/XLinuxFile.h"
#include "toolbox/json/VJSONArray.h"
#include "toolbox/json/VJSONImporter.h"
#include "toolbox/json/VJSONValue.h"
#include "toolbox/kernel/errors/VErrorContext.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

using namespace zorn;
using zorn::fuzz::Check;

namespace
{

std::vector<std::string> Tree(const std::string& inRoot)
{
    std::vector<std::string> items;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(inRoot))
    {
        items.push_back(entry.path().string());
    }
    return items;
}

bool Inside(const std::string& inReal, const std::string& inRootReal)
{
    return inReal == inRootReal || inReal.compare(0, inRootReal.size() + 1, inRootReal + "/") == 0;
}

std::string RealPathOf(const VFilePath& inPath)
{
    std::string real;
    XLinuxFile::RealPath(XLinuxFile::AllocatePosixPathFromFilePath(inPath), false, real);
    while (real.size() > 1 && real.back() == '/')
    {
        real.pop_back();
    }
    return real;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    zorn::fuzz::StartTasks();
    char folder[] = "/tmp/zorn-fuzz-fsjson-XXXXXX";
    Check(::mkdtemp(folder) != nullptr);
    const std::string temp = folder;
    Check(::mkdir((temp + "/a").c_str(), 0755) == 0);
    Check(::symlink("/", (temp + "/out").c_str()) == 0);
    const std::vector<std::string> before = Tree(temp);
    {
        StErrorContextInstaller errors(false, true);
        VJSONValue definitions;
        VJSONImporter::ParseString(zorn::fuzz::TextOfInput(data, size), definitions, 0);
        const VJSONArray* array = definitions.GetArray();

        VRefPtr<VFileSystemNamespace> parent(new VFileSystemNamespace(), true);
        VRefPtr<VFolder> tempFolder(new VFolder(VString((temp + "/").c_str()), FPS_POSIX), true);
        Check(parent->RegisterFileSystem(VString("tmp"), tempFolder.Get(), 0) == VE_OK);

        // The whole array at once.
        VRefPtr<VFileSystemNamespace> whole(new VFileSystemNamespace(parent.Get()), true);
        whole->LoadFromJSONArray(array);

        // The same one element at a time, checking each registration against its parent.
        VRefPtr<VFileSystemNamespace> stepwise(new VFileSystemNamespace(parent.Get()), true);
        for (size_t index = 0; array != nullptr && index < array->GetCount(); ++index)
        {
            const VJSONValue element = array->GetAt(index);
            VString name;
            VString parentName;
            if (element.IsObject())
            {
                const VJSONValue nameValue = element.GetProperty(VString("name"));
                const VJSONValue parentValue = element.GetProperty(VString("parent"));
                if (nameValue.IsString())
                {
                    nameValue.GetString(name);
                }
                if (parentValue.IsString())
                {
                    parentValue.GetString(parentName);
                }
            }
            VRefPtr<VFileSystem> previous(stepwise->RetainFileSystem(name, 0), true);
            VRefPtr<VFileSystem> parentSystem(
                parentName.IsEmpty()
                    ? nullptr
                    : stepwise->RetainFileSystem(parentName, VFileSystemNamespace::kSearchParents),
                true);
            VRefPtr<VJSONArray> one(new VJSONArray(), true);
            one->Push(element);
            stepwise->LoadFromJSONArray(one.Get());

            VRefPtr<VFileSystem> now(stepwise->RetainFileSystem(name, 0), true);
            if (now.Get() == previous.Get())
            {
                continue; // nothing registered
            }
            Check(element.IsObject() && !name.IsEmpty() && name.FindUniChar(u'/') == 0);
            Check(now->GetRoot().IsFolder());
            Check((now->GetOptions() & ~VFileSystem::kWritable) == 0);
            if (!parentName.IsEmpty())
            {
                Check(parentSystem.Get() != nullptr);
                Check(Inside(RealPathOf(now->GetRoot()), RealPathOf(parentSystem->GetRoot())));
            }
        }

        // Both ways register the same file systems at the same roots.
        VFileSystemNamespace::FileSystemMap wholeMap;
        VFileSystemNamespace::FileSystemMap stepMap;
        whole->RetainMapOfFileSystems(wholeMap, 0);
        stepwise->RetainMapOfFileSystems(stepMap, 0);
        Check(wholeMap.size() == stepMap.size());
        for (const auto& [name, fileSystem] : wholeMap)
        {
            auto other = stepMap.find(name);
            Check(other != stepMap.end());
            VString mine;
            VString theirs;
            fileSystem->GetRoot().GetPath(mine);
            other->second->GetRoot().GetPath(theirs);
            Check(mine.EqualToStringRaw(theirs) && fileSystem->GetOptions() == other->second->GetOptions());
        }
    }
    Check(Tree(temp) == before);
    Check(std::system((std::string("rm -rf ") + folder).c_str()) == 0);
    return 0;
}
