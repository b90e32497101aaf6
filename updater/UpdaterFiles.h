// The updater's small library of file helpers: copies that make their destination folder and
// report failures with the paths concerned, a search for a file by extension, and a debugging
// alert. The update itself copies with the folder operations directly; these belong to the
// updater's interface for its embedders.
//
// Choices and limits:
// - RobustCopyFile and RobustCopyFolderContent push their failures (ThrowErrorWithPath(s)) on
//   top of the file layer's own errors; FindFileByExt only returns its codes.
// - Copies go through the toolbox's copy engine: staged under a hidden sibling, so a failed copy
//   leaves no partial item under the destination's name.
// - Extensions are compared through the current task's collator, case and accents ignored.
#pragma once

#include "toolbox/kernel/errors/VError.h"

#include <cstdint>

namespace zorn
{

class VFilePath;
class VFolder;
class VString;

// Copies the file inSource to inDestination, making the destination's folder when missing.
// Returns 0, the folder's creation error (pushed with "path" = that folder), or
// VE_UPDATER_FILE_COPY_FAILED (pushed with "srcPath" and "dstPath").
VError RobustCopyFile(const VFilePath& inSource, const VFilePath& inDestination, uint32_t inOptions);

// Copies the contents of inSource into inDestination (VFolder::CopyContentsTo with inOptions),
// making the destination when missing. False on failure: a missing source pushes
// VE_FOLDER_NOT_FOUND with its "path"; a creation or copy failure pushes that error again with the
// destination's "path".
bool RobustCopyFolderContent(const VFolder& inSource, const VFolder& inDestination, uint32_t inOptions);
bool RobustCopyFolderContent(const VFilePath& inSource, const VFilePath& inDestination, uint32_t inOptions);

// The first file directly in the folder whose extension equals inExtension: 0 with its path in
// outFound, else VE_FILE_NOT_FOUND with outFound cleared. A path that is no valid folder path
// gives VE_INVALID_PARAMETER.
VError FindFileByExt(const VFilePath& inFolder, const VString& inExtension, VFilePath& outFound);
VError FindFileByExt(const VFolder& inFolder, const VString& inExtension, VFilePath& outFound);

// Shows inText (UTF-8) in an alert titled "Debug" with one OK button, without waiting for it.
void DisplayMessage(const char* inText);

} // namespace zorn
