// Portable files use the C and C++ libraries and ICU only; system calls, /proc and glibc
// extensions live in this linux/ back end.
//
// The copy, move and trash operations of XLinuxFile, carried out by the copy engine.
#include "toolbox/files/VFile.h"
#include "toolbox/files/VFilePath.h"
#include "toolbox/files/linux/XLinuxCopyEngine.h"
#include "toolbox/files/linux/XLinuxFile.h"

#include <cerrno>

namespace zorn
{

VError XLinuxFile::_CopyOrMove(bool inCopy, const VFilePath& inDestination, VFileSystem* inFileSystem,
                               VFile** outNew, uint32_t inOptions, std::string* outFailedItem) const
{
    if (outNew != nullptr)
    {
        *outNew = nullptr;
    }
    VFilePath target(inDestination);
    if (!target.IsFile() && fOwner != nullptr)
    {
        VString name;
        fOwner->GetPath().GetName(name);
        target.ToSubFile(name);
    }
    const std::string to = AllocatePosixPathFromFilePath(target);
    if (to.empty() || fPosixPath.empty())
    {
        return MakeVErrorFromErrno(EINVAL);
    }
    const bool replace = (inOptions & kCopyReplace) != 0;
    VError code = VE_OK;
    XLinuxCopyEngine::RunBlockingOffFiber(
        [&]
        {
            code = inCopy ? XLinuxCopyEngine::Copy(fPosixPath, to, replace, outFailedItem)
                          : XLinuxCopyEngine::Move(fPosixPath, to, replace, outFailedItem);
        });
    if (code == VE_OK && outNew != nullptr)
    {
        *outNew = new VFile(target, inFileSystem);
    }
    return code;
}

VError XLinuxFile::Copy(const VFilePath& inDestination, VFileSystem* inFileSystem, VFile** outNew,
                        uint32_t inOptions, std::string* outFailedItem) const
{
    return _CopyOrMove(true, inDestination, inFileSystem, outNew, inOptions, outFailedItem);
}

VError XLinuxFile::Move(const VFilePath& inDestination, VFileSystem* inFileSystem, VFile** outNew,
                        uint32_t inOptions, std::string* outFailedItem) const
{
    return _CopyOrMove(false, inDestination, inFileSystem, outNew, inOptions, outFailedItem);
}

VError XLinuxFile::MoveToTrash() const
{
    VError code = VE_OK;
    XLinuxCopyEngine::RunBlockingOffFiber([&] { code = XLinuxCopyEngine::MoveToTrash(fPosixPath); });
    return code;
}

} // namespace zorn
