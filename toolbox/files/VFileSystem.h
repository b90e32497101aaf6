// VFileSystem: a named root folder with access rules. Files and folders bound to it may not leave
// its root; it may be writable (Request and Relinquish, which a writer calls around the space it
// takes or frees, check a byte quota), may carry a shared attribute cache, and may delete its root
// when it goes away (VFileSystemNamespace registers them by name).
//
// Choices and limits:
// - remaining starts at quota - used, 0 when more is used than the quota allows; Relinquish never
//   raises it above the quota.
// - IsAuthorized compares paths exactly (VFilePath::IsSameOrChildOf); it is lexical and does not
//   look at links. IsRealPathAuthorized also follows them, for callers that hand out items by
//   text from outside.
// - With kDeleteRootOnClose the destructor deletes an existing VFolder root with its contents
//   (links inside are removed, not followed), keeping no error.
#pragma once

#include "toolbox/files/VFileAttributesCache.h"
#include "toolbox/files/VFilePath.h"
#include "toolbox/kernel/base/IRefCountable.h"
#include "toolbox/kernel/base/VObject.h"
#include "toolbox/kernel/base/VRefPtr.h"

#include <cstddef>
#include <mutex>

namespace zorn
{

class IFolder;

constexpr VError VE_FS_NOT_WRITABLE = MakeVError(kCOMPONENT_ZORN, 684);
constexpr VError VE_FS_QUOTA_EXCEEDED = MakeVError(kCOMPONENT_ZORN, 685);
constexpr VError VE_FS_BAD_NAME = MakeVError(kCOMPONENT_ZORN, 686);

class VFileSystem : public VObject, public IRefCountable
{
public:
    static constexpr uint32_t kWritable = 0x1;
    static constexpr uint32_t kDeleteRootOnClose = 0x4;
    static constexpr uint32_t kPrivate = 0x10;
    static constexpr uint32_t kAttributesCache = 0x20;

    // A new file system (one reference), or null with 686 ("name") pushed for a null or empty name
    // or one holding '/'. With kAttributesCache, the root's file system's cache when it has one,
    // else a new empty cache.
    static VFileSystem* Create(const VString& inName, IFolder* inRoot, uint32_t inOptions, size_t inQuota = 0,
                               size_t inUsed = 0, VError* outError = nullptr);
    ~VFileSystem() override;
    VFileSystem(const VFileSystem&) = delete;
    VFileSystem& operator=(const VFileSystem&) = delete;

    const VString& GetName() const { return fName; }
    uint32_t GetOptions() const { return fOptions; }
    VFilePath GetRoot() const;
    // The root bound to this file system (one reference).
    IFolder* RetainRootFolder() const;
    VFileAttributesCache* GetAttributesCache() const { return fCache.Get(); }
    bool IsAuthorized(const VFilePath& inPath) const;
    // IsAuthorized, and the item's real path (links resolved; for a missing item, that of its
    // nearest existing parent with the rest appended) lies under the root's real path.
    bool IsRealPathAuthorized(const VFilePath& inPath) const;
    // Whether the item's real path (as above) lies under, or is, the folder's real path.
    static bool IsRealPathInside(const VFilePath& inPath, const VFilePath& inFolder);

    VError Request(size_t inBytes);
    VError Relinquish(size_t inBytes);

private:
    VFileSystem(const VString& inName, IFolder* inRoot, uint32_t inOptions, size_t inQuota, size_t inUsed);

    VString fName;
    IFolder* fRoot;
    VRefPtr<VFileAttributesCache> fCache;
    size_t fQuota;
    uint32_t fOptions;
    std::mutex fMutex; // guards fRemaining
    size_t fRemaining;
};

} // namespace zorn
