// Builds a small tree from arbitrary bytes in a temporary folder, then walks it with the folder
// iterators. Each record is an operation byte, a name length and the name's bytes (any bytes but
// '/' and NUL: invalid UTF-8, ':', names beginning with '.'), and for links a target choice:
//   op % 5 == 0 a folder (entered), 1 a file, 2 a link to a chosen earlier item, to "..", to "/",
//   to itself or to another link (loops), 3 back up one folder, 4 a FIFO.
// The walks (recursive without link resolution, flat per folder with it, each with and without
// invisible items) must list only items that exist at their POSIX path, whose path and POSIX path
// agree, and, for the walks confined to a file system at the root, whose real path lies inside it.
#include "fuzz/FuzzTasks.h"
#include "toolbox/files/VFSObjectIterator.h"
#include "toolbox/files/VFileSystem.h"
#include "toolbox/files/VFolder.h"
#include "toolbox/files/linux/XLinuxFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

using namespace zorn;
using zorn::fuzz::Check;

namespace
{

std::string RealPathOf(const std::string& inPath)
{
    std::unique_ptr<char, decltype(&std::free)> real(::realpath(inPath.c_str(), nullptr), &std::free);
    return real != nullptr ? std::string(real.get()) : std::string();
}

void BuildTree(const std::string& inRoot, const uint8_t* inData, size_t inSize)
{
    std::vector<std::string> items;
    std::string current = inRoot;
    size_t at = 0;
    while (at + 2 <= inSize && items.size() < 64)
    {
        const uint8_t op = inData[at] % 5;
        const size_t length = 1 + inData[at + 1] % 12;
        at += 2;
        if (op == 3)
        {
            if (current != inRoot)
            {
                current.erase(current.find_last_of('/'));
            }
            continue;
        }
        std::string name;
        for (; name.size() < length && at < inSize; ++at)
        {
            const char byte = static_cast<char>(inData[at]);
            name += byte == '/' || byte == '\0' ? '_' : byte;
        }
        if (name == "." || name == "..")
        {
            continue;
        }
        const std::string path = current + "/" + name;
        if (op == 0 && ::mkdir(path.c_str(), 0755) == 0)
        {
            current = path;
        }
        else if (op == 1)
        {
            ::close(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644));
        }
        else if (op == 2)
        {
            const uint8_t choice = at < inSize ? inData[at++] : 0;
            std::string target;
            switch (choice % 5)
            {
            case 0:
                target = items.empty() ? name : items[choice % items.size()];
                break;
            case 1:
                target = "..";
                break;
            case 2:
                target = "/";
                break;
            case 3:
                target = name; // itself
                break;
            default:
                target = items.empty() ? "missing" : items.back(); // often a link: chains, loops
                break;
            }
            ::symlink(target.c_str(), path.c_str());
        }
        else if (op == 4)
        {
            ::mkfifo(path.c_str(), 0644);
        }
        items.push_back(path);
    }
}

template <class Iterator>
void CheckWalk(const VFolder* inFolder, uint32_t inOptions, const std::string& inRootReal,
               std::vector<VRefPtr<VFolder>>* outFolders)
{
    for (Iterator it(inFolder, inOptions); it.IsValid(); ++it)
    {
        VString text;
        it->GetPlatformPath(text, FPS_POSIX);
        const std::string posix = XLinuxFile::AllocatePosixPathFromString(text);
        Check(XLinuxFile::AllocatePosixPathFromFilePath(it->GetPath()) == posix);
        struct stat status = {};
        Check(::lstat(posix.c_str(), &status) == 0);
        Check(!S_ISFIFO(status.st_mode) && !S_ISSOCK(status.st_mode) && !S_ISCHR(status.st_mode) &&
              !S_ISBLK(status.st_mode));
        if (!inRootReal.empty() && (inOptions & 16) != 0)
        {
            const std::string real = RealPathOf(posix);
            Check(real == inRootReal || real.compare(0, inRootReal.size() + 1, inRootReal + "/") == 0);
        }
        if (outFolders != nullptr)
        {
            outFolders->emplace_back(reinterpret_cast<VFolder*>(it.Current()));
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    zorn::fuzz::StartTasks();
    char folder[] = "/tmp/zorn-fuzz-walk-XXXXXX";
    Check(::mkdtemp(folder) != nullptr);
    const std::string root = std::string(folder) + "/root";
    Check(::mkdir(root.c_str(), 0755) == 0);
    BuildTree(root, data, size);
    {
        VFilePath rootPath;
        XLinuxFile::GetFilePathFromPosixPath((root + "/").c_str(), true, rootPath);
        VRefPtr<VFolder> plain(new VFolder(rootPath), true);
        VRefPtr<VFileSystem> fileSystem(VFileSystem::Create(VString("fuzz"), plain.Get(), 0), true);
        VRefPtr<VFolder> confined(new VFolder(rootPath, fileSystem.Get()), true);
        const std::string rootReal = RealPathOf(root);

        // Every folder of the tree, reached without resolving links.
        std::vector<VRefPtr<VFolder>> folders{confined};
        for (size_t index = 0; index < folders.size() && index < 200; ++index)
        {
            CheckWalk<VFolderIterator>(folders[index].Get(), 2 | 8, rootReal, &folders);
        }
        for (const VRefPtr<VFolder>& each : folders)
        {
            for (uint32_t options : {4U, 4U | 8U, 4U | 16U, 4U | 8U | 16U})
            {
                CheckWalk<VFileIterator>(each.Get(), options, rootReal, nullptr);
            }
            for (uint32_t options : {2U, 2U | 16U, 2U | 8U | 16U})
            {
                CheckWalk<VFolderIterator>(each.Get(), options, rootReal, nullptr);
            }
        }
        // Recursion without resolution ends (links to folders are files then).
        size_t count = 0;
        plain->IterateFiles(
            [&](IFile*, IFileAttributeAccessor*)
            {
                ++count;
                return true;
            },
            1 | 2 | 8);
        Check(count <= 64);
    }
    Check(std::system((std::string("rm -rf ") + folder).c_str()) == 0);
    return 0;
}
