// VFileSystemNamespace: a registry of file systems by name, chained to a parent namespace, through
// which texts of the form "/" + file-system name + "/" + relative path become files and folders
// bound to that file system. The process's root namespace also reads the definition file
// "fileSystems.json" (LoadFromDefinitionFile), a JSON array of objects {"name", "path", "parent",
// "writable"}.
//
// Choices and limits:
// - Names are compared exactly (hash map and ordered map alike).
// - Look-up bits: kExcludePrivate (1) leaves out file systems with VFileSystem::kPrivate; a
//   private one found under that bit ends the search with null, it does not uncover a file system
//   of the same name in a parent. kSearchParents (2) goes on in the parent chain after a miss.
// - Confinement: a relative part that leaves its root by "..", or by a full path, names nothing;
//   paths compare exactly ("/srv/docs2" and "/srv/DOCS" are not under "/srv/docs/"). Files and
//   folders handed out bound to a file system must also lie under the root by their real paths
//   (VFileSystem::IsRealPathAuthorized), so a link inside a root that leads out gives null, as any
//   other refusal does.
// - Definition elements that are not objects, name a missing parent or a path that leaves the
//   parent's root are skipped silently; a bad name is reported (686) and skipped; the rest goes on.
//   A definition file that does not parse pushes 687 ("path") and registers nothing.
// - Each namespace's map has its own recursive lock, held only for the map; look-ups in the parent
//   chain take one lock at a time. LoadFromJSONArray holds its own lock for the whole array and
//   takes the ancestors' locks inside it (always a namespace, then one of its ancestors).
#pragma once

#include "toolbox/files/VFileSystem.h"
#include "toolbox/kernel/base/IRefCountable.h"
#include "toolbox/kernel/base/VObject.h"
#include "toolbox/kernel/base/VRefPtr.h"
#include "toolbox/kernel/locks/VCriticalSection.h"
#include "toolbox/kernel/strings/VString.h"
#include "toolbox/kernel/strings/hasher_VString.h"

#include <map>
#include <string_view>
#include <unordered_map>

namespace zorn
{

class IFile;
class IFolder;
class VJSONArray;

constexpr VError VE_FS_BAD_DEFINITION_FILE = MakeVError(kCOMPONENT_ZORN, 687);

class VFileSystemNamespace : public VObject, public IRefCountable
{
public:
    static constexpr uint32_t kExcludePrivate = 0x1;
    static constexpr uint32_t kSearchParents = 0x2;

    // Names in code-unit order.
    struct NameLess
    {
        bool operator()(const VString& inLeft, const VString& inRight) const
        {
            return hasher_VString::Units(inLeft) < hasher_VString::Units(inRight);
        }
    };
    using FileSystemMap = std::map<VString, VRefPtr<VFileSystem>, NameLess>;

    // An empty namespace (one reference); the parent, when given, is retained.
    explicit VFileSystemNamespace(VFileSystemNamespace* inParent = nullptr);
    ~VFileSystemNamespace() override;
    VFileSystemNamespace(const VFileSystemNamespace&) = delete;
    VFileSystemNamespace& operator=(const VFileSystemNamespace&) = delete;

    VFileSystemNamespace* GetParent() const { return fParent; }

    // Registers the file system under its name (retained), replacing one of the same name; null
    // does nothing.
    void RegisterFileSystem(VFileSystem* inFileSystem);
    // VFileSystem::Create without quota, then registration; the creation's error (686).
    VError RegisterFileSystem(const VString& inName, IFolder* inRoot, uint32_t inOptions);
    // A missing name does nothing.
    void UnregisterFileSystem(const VString& inName);

    // The file system (one reference) or null.
    VFileSystem* RetainFileSystem(const VString& inName, uint32_t inLookup) const;
    // The found file system's root bound to it (one reference), or null.
    IFolder* RetainFileSystemRootFolder(const VString& inName, uint32_t inLookup) const;
    // Writes the file systems into ioMap, replacing entries of the same name; with kSearchParents
    // the ancestors' first, so nearer namespaces win.
    void RetainMapOfFileSystems(FileSystemMap& ioMap, uint32_t inLookup) const;

    // "/" + name + "/" + relative: true, with the file system and the normalised relative POSIX
    // path ("" for the root itself), when the name is found and the relative part stays inside
    // the root; else false with the outputs untouched.
    bool ParsePathWithFileSystem(const VString& inPath, VRefPtr<VFileSystem>& outFileSystem,
                                 VString& outRelative, uint32_t inLookup) const;

    // A file (one reference) or null. A relative path goes to inBase (confined to its file
    // system), else, with inAllowFullPath, is taken as a full POSIX path. A path beginning with
    // '/' is first a file-system path (a non-empty relative part not ending with '/'); otherwise,
    // with inAllowFullPath and no base, a full POSIX path. Full paths give items without file
    // system.
    IFile* RetainFile(const VString& inPath, IFolder* inBase, uint32_t inLookup, bool inAllowFullPath) const;
    // The same for folders; a '/' is appended to the path when missing, and "/" + name + "/" is
    // the root itself.
    IFolder* RetainFolder(const VString& inPath, IFolder* inBase, uint32_t inLookup,
                          bool inAllowFullPath) const;
    // With a namespace, the member forms. Without: an empty path gives null; with a base, the
    // path relative to it; else the path as a full POSIX path, without file system.
    static IFile* RetainFile(const VFileSystemNamespace* inNamespace, const VString& inPath, IFolder* inBase,
                             uint32_t inLookup, bool inAllowFullPath);
    static IFolder* RetainFolder(const VFileSystemNamespace* inNamespace, const VString& inPath,
                                 IFolder* inBase, uint32_t inLookup, bool inAllowFullPath);

    // Null: throws 'zorn' 1 and returns it. A parse failure pushes 687 ("path", the native path)
    // and returns the parser's error. A top-level array is loaded; any other value is ignored.
    VError LoadFromDefinitionFile(IFile* inFile);
    // The definitions of the array in order (null does nothing).
    void LoadFromJSONArray(const VJSONArray* inArray);

private:
    using Map = std::unordered_map<VString, VRefPtr<VFileSystem>, hasher_VString, hasher_VString>;

    mutable VCriticalSection fLock;
    Map fMap;
    VFileSystemNamespace* fParent;
};

} // namespace zorn
