// The file side of JSON pointers: documents named by a "$ref" text are files relative to the
// folder of the document that refers to them, or, with a namespace of file systems, found through
// it; each is parsed once per file cache. Installed into the
// kernel's hook table before main in every program linked with the file layer (its link options
// name the anchor below), so the JSON layer reaches files without depending on them.
#include "toolbox/files/IFile.h"
#include "toolbox/files/VFile.h"
#include "toolbox/files/VFilePath.h"
#include "toolbox/files/VFileSystem.h"
#include "toolbox/files/VFileSystemNamespace.h"
#include "toolbox/json/VJSONImporter.h"
#include "toolbox/json/VJSONPointerResolver.h"
#include "toolbox/kernel/errors/VErrorContext.h"
#include "toolbox/kernel/hooks/VKernelHooks.h"

#include <string>

namespace zorn
{

namespace
{

std::u16string KeyOf(const VString& inText)
{
    return {reinterpret_cast<const char16_t*>(inText.GetCPointer()), static_cast<size_t>(inText.GetLength())};
}

// The file at a '/'-separated path relative to the folder, confined to the folder's file system
// when it has one; null when the path names no file.
IFile* RetainRelativeFile(const IFolder& inFolder, const VString& inRelativePath)
{
    VFilePath path(inFolder.GetPath(), inRelativePath, FPS_POSIX, true);
    if (!path.IsValid() || !path.IsFile())
    {
        return nullptr;
    }
    VFileSystem* fileSystem = inFolder.GetFileSystem();
    if (fileSystem != nullptr && !fileSystem->IsAuthorized(path))
    {
        return nullptr;
    }
    return new VFile(path, fileSystem);
}

IRefCountable* FolderRefCount(IFolder* inFolder)
{
    return inFolder;
}

IRefCountable* NamespaceRefCount(VFileSystemNamespace* inNamespace)
{
    return inNamespace;
}

bool LoadFileDocument(VJSONPointerResolver& ioResolver, VJSONPointerContext& ioContext, const VString& inText,
                      const VString& inDocumentPart, VJSONValue& outRoot,
                      VRefPtr<IRefCountable>& outFolderHold, IFolder*& outFolder)
{
    return ioResolver._LoadFileDocument(ioContext, inText, inDocumentPart, outRoot, outFolderHold, outFolder);
}

void CollectFiles(const VJSONPointerContext& inContext, std::vector<VRefPtr<IFile>>& ioFiles)
{
    for (const auto& [path, loaded] : inContext.fLoadedFiles)
    {
        ioFiles.emplace_back(loaded.fFile);
    }
}

const detail::VJSONDocumentAccess kDocumentAccess{&FolderRefCount, &NamespaceRefCount, &LoadFileDocument,
                                                  &CollectFiles};

[[maybe_unused]] const bool sInstalledBeforeMain =
    (detail::KernelHooks().fJSONDocumentAccess.store(&kDocumentAccess, std::memory_order_release), true);

} // namespace

// ---------------------------------------------------------------------------------------------
// The cache by file

VJSONValue VJSONFileCache::GetValue(const VFilePath& inPath) const
{
    VString posixPath;
    inPath.GetPosixPath(posixPath);
    return GetValueForPosixPath(posixPath);
}

void VJSONFileCache::SetValue(const VFilePath& inPath, const VJSONValue& inValue)
{
    VString posixPath;
    inPath.GetPosixPath(posixPath);
    SetValueForPosixPath(posixPath, inValue);
}

// ---------------------------------------------------------------------------------------------
// Loading a document

bool VJSONPointerResolver::_LoadFileDocument(Context& ioContext, const VString& inText,
                                             const VString& inDocumentPart, VJSONValue& outRoot,
                                             VRefPtr<IRefCountable>& outFolderHold, IFolder*& outFolder)
{
    // With a namespace, only what it finds (a relative path in the base folder, or a file-system
    // path; never a full path). Without one, a relative path is looked up in the base folder; a
    // full path, or any path without a base folder, names no file a reference may read.
    VRefPtr<IFile> file;
    if (fFileSystems != nullptr)
    {
        file.Adopt(fFileSystems->RetainFile(
            inDocumentPart, fBaseFolder,
            VFileSystemNamespace::kExcludePrivate | VFileSystemNamespace::kSearchParents, false));
    }
    else if (fBaseFolder != nullptr && inDocumentPart.GetCPointer()[0] != u'/')
    {
        file.Adopt(RetainRelativeFile(*fBaseFolder, inDocumentPart));
    }
    // A relative path stays inside the referring document's folder, by its text and by its real
    // path (links resolved): "..", or a link inside the folder, must not reach other files.
    if (file.Get() != nullptr && inDocumentPart.GetCPointer()[0] != u'/' &&
        (fBaseFolder == nullptr || !file->GetPath().IsChildOf(fBaseFolder->GetPath()) ||
         !VFileSystem::IsRealPathInside(file->GetPath(), fBaseFolder->GetPath())))
    {
        file.Clear();
    }
    if (file.Get() == nullptr)
    {
        _ThrowError(VE_JSON_POINTER_NO_DOCUMENT, &inText, &inDocumentPart);
        return false;
    }
    VFilePath path = file->GetPath();
    VString posixPath;
    path.GetPosixPath(posixPath);
    ioContext.fLoadedFiles.try_emplace(
        KeyOf(posixPath), VJSONPointerContext::LoadedFile{file.Get(), VRefPtr<IRefCountable>(file.Get())});

    VJSONValue root = fCache->GetValue(path);
    if (root.IsUndefined())
    {
        if (!file->Exists())
        {
            _ThrowError(VE_JSON_POINTER_NO_DOCUMENT, &inText, &posixPath);
            return false;
        }
        VError error = VE_OK;
        {
            // The parser's own errors stay here: the record says what failed.
            StErrorContextInstaller parseErrors(false, true);
            error = VJSONImporter::ParseFile(file.Get(), root,
                                             VJSONImporter::kUndefinedOnError | VJSONImporter::kStrict |
                                                 VJSONImporter::kISODates);
        }
        if (error != VE_OK || root.IsUndefined())
        {
            _ThrowError(VE_JSON_POINTER_BAD_DOCUMENT, &inText, &posixPath);
            return false;
        }
        fCache->SetValue(path, root);
    }
    outRoot = root;
    outFolder = file->RetainParentFolder(true);
    outFolderHold.Adopt(outFolder);
    return true;
}

} // namespace zorn

// Named by the file layer's link options, so that the linker takes this file into every program.
extern "C" const bool zorn_files_json_documents_anchor = true;
