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

void VFolder::GetPlatformPath(VString& outPath, FilePathStyle inStyle) const
{
    if (inStyle == FPS_POSIX)
    {
        fPath.GetPosixPath(outPath);
    }
    else if (inStyle == FPS_NATIVE)
    {
        fPath.GetPath(outPath);
    }
    else
    {
        outPath.Clear();
    }
}

VString VFolder::GetPathWithFileSystem() const
{
    VString result;
    fPath.GetPosixPath(result);
    VString relative;
    if (fFileSystem != nullptr && fPath.IsSameOrChildOf(fFileSystem->GetRoot()) &&
        fPath.GetRelativePosixPath(fFileSystem->GetRoot(), relative))
    {
        result = VString("/") + fFileSystem->GetName() + VString("/") + relative;
    }
    return result;
}

IFolder* VFolder::RetainParentFolder(bool inCheckAccess) const
{
    VFilePath parent;
    if (!fPath.GetParent(parent))
    {
        return nullptr;
    }
    if (inCheckAccess && fFileSystem != nullptr && !fFileSystem->IsAuthorized(parent))
    {
        return nullptr;
    }
    return new VFolder(parent, fFileSystem);
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
