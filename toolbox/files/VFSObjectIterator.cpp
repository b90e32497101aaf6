#include "toolbox/files/VFSObjectIterator.h"

#include "toolbox/files/VFileSystem.h"
#include "toolbox/files/linux/XLinuxFSObjectIterator.h"
#include "toolbox/files/linux/XLinuxFolder.h"

#include <string>

namespace zorn
{

VFSObjectWalk::VFSObjectWalk(const VFolder& inFolder, uint32_t inOptions, bool inFolders)
    : fFileSystem(inFolder.GetFileSystem())
{
    // The folder walk drops the file bit, the file walk the folder bit.
    const uint32_t options =
        inOptions & ~(inFolders ? XLinuxFSObjectIterator::kFiles : XLinuxFSObjectIterator::kFolders);
    const std::string& posix = inFolder.fImpl->GetPosixPathBytes();
    const VFilePath root = fFileSystem != nullptr ? fFileSystem->GetRoot() : VFilePath();
    fWalker = std::make_unique<XLinuxFSObjectIterator>(posix, inFolder.GetPathRef(),
                                                       fFileSystem != nullptr ? &root : nullptr, options);
}

VFSObjectWalk::~VFSObjectWalk() = default;

VFile* VFSObjectWalk::NextFile()
{
    VFilePath path;
    std::string posix;
    bool isFolder = false;
    return fWalker->GetNextPath(path, posix, isFolder) ? new VFile(posix.c_str(), path, fFileSystem)
                                                       : nullptr;
}

VFolder* VFSObjectWalk::NextFolder()
{
    VFilePath path;
    std::string posix;
    bool isFolder = false;
    return fWalker->GetNextPath(path, posix, isFolder) ? new VFolder(posix.c_str(), path, fFileSystem)
                                                       : nullptr;
}

} // namespace zorn
