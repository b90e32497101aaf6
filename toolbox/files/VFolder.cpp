#include "toolbox/files/VFolder.h"

#include "toolbox/files/VFileError.h"
#include "toolbox/files/VFileSystem.h"
#include "toolbox/files/linux/XLinuxFile.h"
#include "toolbox/kernel/strings/VString.h"

namespace zorn
{

namespace
{

constexpr VError kCannotCreateFolder = MakeVError(kCOMPONENT_ZORN, 607);

} // namespace

VFolder::VFolder(const VFilePath& inPath, VFileSystem* inFileSystem)
    : fPath(inPath), fFileSystem(RetainRefCountable(inFileSystem))
{
}

VFolder::VFolder(const VString& inFullPath, FilePathStyle inStyle) : fPath(inFullPath, inStyle) {}

VFolder::VFolder(const VFolder& inOther)
    : VObject(inOther), IFolder(inOther), fPath(inOther.fPath),
      fFileSystem(RetainRefCountable(inOther.fFileSystem))
{
}

VFolder::~VFolder()
{
    ReleaseRefCountable(&fFileSystem);
}

void VFolder::GetPlatformPathOf(const VFilePath& inPath, FilePathStyle inStyle, VString& outPath)
{
    if (inStyle == FPS_POSIX)
    {
        inPath.GetPosixPath(outPath);
    }
    else if (inStyle == FPS_NATIVE)
    {
        inPath.GetPath(outPath);
    }
    else
    {
        outPath.Clear();
    }
}

VString VFolder::PathWithFileSystem(const VFilePath& inPath, const VFileSystem* inFileSystem,
                                    const VString& inPosixPath)
{
    VString relative;
    if (inFileSystem != nullptr && inPath.IsSameOrChildOf(inFileSystem->GetRoot()) &&
        inPath.GetRelativePosixPath(inFileSystem->GetRoot(), relative))
    {
        return VString("/") + inFileSystem->GetName() + VString("/") + relative;
    }
    return inPosixPath;
}

IFolder* VFolder::RetainParentOf(const VFilePath& inPath, VFileSystem* inFileSystem, bool inCheckAccess)
{
    VFilePath parent;
    if (!inPath.GetParent(parent))
    {
        return nullptr;
    }
    if (inCheckAccess && inFileSystem != nullptr && !inFileSystem->IsAuthorized(parent))
    {
        return nullptr;
    }
    return new VFolder(parent, inFileSystem);
}

void VFolder::GetPlatformPath(VString& outPath, FilePathStyle inStyle) const
{
    GetPlatformPathOf(fPath, inStyle, outPath);
}

VString VFolder::GetPathWithFileSystem() const
{
    VString posix;
    fPath.GetPosixPath(posix);
    return PathWithFileSystem(fPath, fFileSystem, posix);
}

IFolder* VFolder::RetainParentFolder(bool inCheckAccess) const
{
    return RetainParentOf(fPath, fFileSystem, inCheckAccess);
}

bool VFolder::Exists() const
{
    return fPath.IsFolder() &&
           XLinuxFile::FolderExists(XLinuxFile::AllocatePosixPathFromFilePath(fPath).c_str());
}

VError VFolder::GetTimeAttributes(VTime* outModified, VTime* outCreated, VTime* outAccessed) const
{
    VError code = XLinuxFile::GetTimeAttributes(XLinuxFile::AllocatePosixPathFromFilePath(fPath).c_str(),
                                                true, outModified, outCreated, outAccessed);
    return PushFileErrorForCode(fPath, code, MakeVError(kCOMPONENT_ZORN, 608));
}

VError VFolder::Create() const
{
    VError code = XLinuxFile::MakeFolder(XLinuxFile::AllocatePosixPathFromFilePath(fPath).c_str());
    return PushFileErrorForCode(fPath, code, kCannotCreateFolder);
}

VError VFolder::CreateRecursive() const
{
    if (Exists())
    {
        return VE_OK;
    }
    VFilePath parent;
    if (fPath.GetParent(parent))
    {
        VFolder parentFolder(parent, fFileSystem);
        VError code = parentFolder.CreateRecursive();
        if (code != VE_OK)
        {
            return code;
        }
    }
    return Create();
}

} // namespace zorn
