#include "toolbox/files/VFileJSONHooks.h"

#include <atomic>

namespace zorn
{

namespace
{

// Atomic so that a late installation is still seen whole by readers on other threads.
std::atomic<FileExtractor> sExtractFile{nullptr};
std::atomic<FolderExtractor> sExtractFolder{nullptr};
std::atomic<FileWrapper> sWrapFile{nullptr};
std::atomic<FolderWrapper> sWrapFolder{nullptr};

} // namespace

void SetFileFolderExtractorAndWrapper(FileExtractor inExtractFile, FolderExtractor inExtractFolder,
                                      FileWrapper inWrapFile, FolderWrapper inWrapFolder)
{
    sExtractFile.store(inExtractFile);
    sExtractFolder.store(inExtractFolder);
    sWrapFile.store(inWrapFile);
    sWrapFolder.store(inWrapFolder);
}

IFile* ExtractFile(const VJSONValue& inValue)
{
    FileExtractor hook = sExtractFile.load();
    return hook != nullptr ? hook(inValue) : nullptr;
}

IFolder* ExtractFolder(const VJSONValue& inValue)
{
    FolderExtractor hook = sExtractFolder.load();
    return hook != nullptr ? hook(inValue) : nullptr;
}

VJSONValue WrapFile(IFile* inFile)
{
    FileWrapper hook = sWrapFile.load();
    return hook != nullptr ? hook(inFile) : VJSONValue(JSON_undefined);
}

VJSONValue WrapFolder(IFolder* inFolder)
{
    FolderWrapper hook = sWrapFolder.load();
    return hook != nullptr ? hook(inFolder) : VJSONValue(JSON_undefined);
}

} // namespace zorn
