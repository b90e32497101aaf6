// Portable files use the C and C++ libraries and ICU only; system calls, /proc and glibc
// extensions live in this linux/ back end.
//
// The copy, move and trash operations of XLinuxFile, carried out by the copy engine.
#include "toolbox/files/linux/XLinuxCopyEngine.h"
#include "toolbox/files/linux/XLinuxFile.h"

#include <cerrno>

namespace zorn
{

VError XLinuxFile::_CopyOrMove(bool inCopy, const std::string& inTo, uint32_t inOptions,
                               std::string* outFailedItem) const
{
    if (inTo.empty() || fPosixPath.empty())
    {
        return MakeVErrorFromErrno(EINVAL);
    }
    const bool replace = (inOptions & kCopyReplace) != 0;
    VError code = VE_OK;
    XLinuxCopyEngine::RunBlockingOffFiber(
        [&]
        {
            code = inCopy ? XLinuxCopyEngine::Copy(fPosixPath, inTo, replace, outFailedItem)
                          : XLinuxCopyEngine::Move(fPosixPath, inTo, replace, outFailedItem);
        });
    return code;
}

VError XLinuxFile::Copy(const std::string& inTo, uint32_t inOptions, std::string* outFailedItem) const
{
    return _CopyOrMove(true, inTo, inOptions, outFailedItem);
}

VError XLinuxFile::Move(const std::string& inTo, uint32_t inOptions, std::string* outFailedItem) const
{
    return _CopyOrMove(false, inTo, inOptions, outFailedItem);
}

VError XLinuxFile::MoveToTrash() const
{
    VError code = VE_OK;
    XLinuxCopyEngine::RunBlockingOffFiber([&] { code = XLinuxCopyEngine::MoveToTrash(fPosixPath); });
    return code;
}

} // namespace zorn
