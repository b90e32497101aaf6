#include "updater/UpdaterFiles.h"

#include "toolbox/files/VFile.h"
#include "toolbox/files/VFilePath.h"
#include "toolbox/files/VFolder.h"
#include "toolbox/kernel/strings/VString.h"
#include "toolbox/kernel/system/VSystem.h"
#include "updater/UpdaterErrors.h"

#include <cstring>

namespace zorn
{

namespace
{
// Walker option: files only.
constexpr uint32_t kListFiles = 4;
} // namespace

VError RobustCopyFile(const VFilePath& inSource, const VFilePath& inDestination, uint32_t inOptions)
{
    VFilePath folderPath(inDestination);
    folderPath.ToFolder();
    VFolder folder(folderPath);
    if (!folder.Exists())
    {
        VError error = folder.CreateRecursive(false);
        if (error != VE_OK)
        {
            return ThrowErrorWithPath(error, folderPath);
        }
    }
    VFile source(inSource);
    if (source.CopyTo(inDestination, nullptr, inOptions) != VE_OK)
    {
        return ThrowErrorWithPaths(VE_UPDATER_FILE_COPY_FAILED, inSource, inDestination);
    }
    return VE_OK;
}

bool RobustCopyFolderContent(const VFolder& inSource, const VFolder& inDestination, uint32_t inOptions)
{
    if (!inSource.Exists())
    {
        ThrowErrorWithPath(VE_FOLDER_NOT_FOUND, inSource.GetPathRef());
        return false;
    }
    if (!inDestination.Exists())
    {
        VError error = inDestination.CreateRecursive(false);
        if (error != VE_OK)
        {
            ThrowErrorWithPath(error, inDestination.GetPathRef());
            return false;
        }
    }
    VError error = inSource.CopyContentsTo(inDestination, inOptions);
    if (error != VE_OK)
    {
        ThrowErrorWithPath(error, inDestination.GetPathRef());
        return false;
    }
    return true;
}

bool RobustCopyFolderContent(const VFilePath& inSource, const VFilePath& inDestination, uint32_t inOptions)
{
    VFolder source(inSource);
    VFolder destination(inDestination);
    return RobustCopyFolderContent(source, destination, inOptions);
}

VError FindFileByExt(const VFilePath& inFolder, const VString& inExtension, VFilePath& outFound)
{
    if (!inFolder.IsValid() || !inFolder.IsFolder())
    {
        return VE_INVALID_PARAMETER;
    }
    VFolder folder(inFolder);
    return FindFileByExt(folder, inExtension, outFound);
}

VError FindFileByExt(const VFolder& inFolder, const VString& inExtension, VFilePath& outFound)
{
    outFound.Clear();
    bool found = false;
    inFolder.IterateFiles(
        [&](IFile* inFile, IFileAttributeAccessor*)
        {
            VString extension;
            inFile->GetExtension(extension);
            if (extension.EqualToString(inExtension, false))
            {
                outFound = inFile->GetPath();
                found = true;
            }
            return !found;
        },
        kListFiles);
    return found ? VE_OK : VE_FILE_NOT_FOUND;
}

void DisplayMessage(const char* inText)
{
    const VString text(inText, inText != nullptr ? std::strlen(inText) : 0, CharSet::VTC_UTF_8);
    VSystem::DisplayNotification(VString("Debug"), text, 0);
}

} // namespace zorn
