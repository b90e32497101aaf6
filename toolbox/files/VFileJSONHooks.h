// The hooks through which a scripting layer converts files and folders to and from JSON values.
// The layer installs its four functions once at start-up, before any reader; until then the
// extractors give null and the wrappers an undefined value (JSONType 7).
#pragma once

#include "toolbox/json/VJSONValue.h"

namespace zorn
{

class IFile;
class IFolder;

using FileExtractor = IFile* (*)(const VJSONValue& inValue);
using FolderExtractor = IFolder* (*)(const VJSONValue& inValue);
using FileWrapper = VJSONValue (*)(IFile* inFile);
using FolderWrapper = VJSONValue (*)(IFolder* inFolder);

void SetFileFolderExtractorAndWrapper(FileExtractor inExtractFile, FolderExtractor inExtractFolder,
                                      FileWrapper inWrapFile, FolderWrapper inWrapFolder);

IFile* ExtractFile(const VJSONValue& inValue);
IFolder* ExtractFolder(const VJSONValue& inValue);
VJSONValue WrapFile(IFile* inFile);
VJSONValue WrapFolder(IFolder* inFolder);

} // namespace zorn
