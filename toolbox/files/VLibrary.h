// VLibrary: the reference-counted handle on one loadable code module, a plain shared object (a
// file path) or a bundle folder (a framework or any other bundle; a folder path). It loads the
// module on demand, finds exported functions by name, gives the bundle's standard folders and
// unloads the module. The component manager loads its plug-ins through it. The system side,
// dlopen and the bundle layout, is XLinuxLibrary's (held in place, named here by declaration only) (see there
// for the layout and the repair of frameworks whose links were flattened into "XSym" stubs).
//
// Choices made:
// - One lock per library serialises loading, unloading and every query; libraries are
//   independent of each other.
// - Load on a loaded library does nothing and answers true; a failed load pushes 'zorn' 1010 for
//   the module's path, with "reason" the loader's text, and answers false.
// - Lookups on a library that is not loaded answer null, without error.
// - IsSameFile compares the two paths' texts exactly, as Linux file systems compare names.
// - No module has a resource file on this system: RetainResourceFile records that it was asked
//   and answers null.
// - The bundle reference of the design's platform has no counterpart here and is not offered.
#pragma once

#include "toolbox/files/VBackEndStorage.h"
#include "toolbox/files/VFilePath.h"
#include "toolbox/kernel/base/IRefCountable.h"
#include "toolbox/kernel/base/VObject.h"
#include "toolbox/kernel/locks/VCriticalSection.h"

#include <cstdint>

namespace zorn
{

class VFile;
class VFolder;
class VString;
class XLinuxLibrary;

// The standard folders of a bundle (RetainFolder). Other values (0, 4, 8 and more) name none.
enum BundleFolderKind : uint32_t
{
    kBUNDLE_FOLDER = 1,            // the bundle folder itself
    kBUNDLE_EXECUTABLE_FOLDER = 2, // the folder of the bundle's executable
    kBUNDLE_RESOURCES_FOLDER = 3,  // Contents/Resources
    kBUNDLE_PLUGINS_FOLDER = 5,    // Contents/PlugIns
    kBUNDLE_FRAMEWORKS_FOLDER = 6, // Contents/Frameworks
    kBUNDLE_SUPPORT_FOLDER = 7     // Contents/SharedSupport
};

class VLibrary : public VObject, public IRefCountable
{
public:
    explicit VLibrary(const VFilePath& inPath);
    ~VLibrary() override;
    VLibrary(const VLibrary&) = delete;
    VLibrary& operator=(const VLibrary&) = delete;

    bool Load();
    void Unload();
    bool IsLoaded() const;

    // The exported function or variable of that name, or null.
    void* GetProcAddress(const VString& inName) const;
    bool IsSameFile(const VFilePath& inPath) const;
    const VFilePath& GetPath() const { return fPath; }

    // A standard folder of a loaded bundle, retained; null for a plain library, a library not
    // loaded or a kind that names no folder.
    VFolder* RetainFolder(BundleFolderKind inKind) const;
    // The executable of a loaded bundle, retained; null otherwise.
    VFile* RetainExecutableFile() const;
    // Always null (see above).
    VFile* RetainResourceFile();
    bool WasResourceFileRequested() const;

private:
    mutable VCriticalSection fLock;
    VFilePath fPath;
    VBackEndStorage<XLinuxLibrary, 80, alignof(void*)> fImpl;
    bool fResourceFileRequested = false;
    bool fLoaded = false;
};

} // namespace zorn
