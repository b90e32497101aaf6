// VFolder: the reference-counted handle on one folder named by a path ending with ':'. What files
// need of it so far: construction, the path, existence (a final link is followed), creation and
// the parent. Folder listing and the other folder operations come with the folder back end.
//
// Choices made where several were possible:
// - Create makes one folder with mode 0755 (less the umask) and gives 0 when it exists already;
//   CreateRecursive makes the missing ancestors first. Failures push a VFileError 607 with the
//   native code.
#pragma once

#include "toolbox/files/IFile.h"
#include "toolbox/files/VFilePath.h"
#include "toolbox/kernel/base/VObject.h"

namespace zorn
{

class VFolder : public VObject, public IFolder
{
public:
    explicit VFolder(const VFilePath& inPath, VFileSystem* inFileSystem = nullptr);
    VFolder(const VString& inFullPath, FilePathStyle inStyle = FPS_NATIVE);
    VFolder(const VFolder& inOther);
    VFolder& operator=(const VFolder&) = delete;
    ~VFolder() override;

    VFilePath GetPath() const override { return fPath; }
    VFileSystem* GetFileSystem() const override { return fFileSystem; }
    void GetPlatformPath(VString& outPath, FilePathStyle inStyle) const override;
    VString GetPathWithFileSystem() const override;
    IFolder* RetainParentFolder(bool inCheckAccess) const override;
    bool Exists() const override;
    VError GetTimeAttributes(VTime* outModified, VTime* outCreated, VTime* outAccessed) const override;

    const VFilePath& GetPathRef() const { return fPath; }

    // What files and folders share: a path's platform form (FPS_POSIX, FPS_NATIVE, else empty);
    // "/" + the file system's name + "/" + the path below its root, else inPosixPath; a new folder
    // for the parent, bound to the file system (null when none, or refused with inCheckAccess).
    static void GetPlatformPathOf(const VFilePath& inPath, FilePathStyle inStyle, VString& outPath);
    static VString PathWithFileSystem(const VFilePath& inPath, const VFileSystem* inFileSystem,
                                      const VString& inPosixPath);
    static IFolder* RetainParentOf(const VFilePath& inPath, VFileSystem* inFileSystem, bool inCheckAccess);
    VError Create() const;
    VError CreateRecursive() const;

private:
    VFilePath fPath;
    VFileSystem* fFileSystem = nullptr;
};

} // namespace zorn
