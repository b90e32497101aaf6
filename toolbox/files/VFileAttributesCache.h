// VFileAttributesCache: the times of a file system's files, collected once and consulted by the
// files bound to that file system instead of asking the disk.
//
// Choices made where several were possible:
// - Keys are ':' path texts, ordered by the string comparison with diacritics ignored; a path is
//   known when its text is a key.
// - Readers take the shared lock and never block each other; SwapMap and Clear take the exclusive
//   lock. A cache is filled by collecting into a map of one's own, then swapping it in, so readers
//   never see a half-filled cache.
// - Collecting from a folder walks its files one level deep (IterateFiles with option 4, invisible
//   files left out) and takes each file's times from the walker.
#pragma once

#include "toolbox/kernel/base/IRefCountable.h"
#include "toolbox/kernel/base/VObject.h"
#include "toolbox/kernel/strings/VString.h"
#include "toolbox/kernel/values/VTime.h"

#include <map>
#include <shared_mutex>

namespace zorn
{

class IFile;
class IFolder;
class VFilePath;

class VFileAttributesCache : public VObject, public IRefCountable
{
public:
    struct Attributes
    {
        VTime fModified;
        VTime fCreated;
        VTime fAccessed;
    };
    struct KeyLess
    {
        bool operator()(const VString& inLeft, const VString& inRight) const
        {
            return inLeft.CompareToString(inRight, false) == CR_SMALLER;
        }
    };
    using Map = std::map<VString, Attributes, KeyLess>;

    bool FileExists(const VFilePath& inPath) const;
    // Copies the stored times into the given non-null pointers; false when the path is unknown.
    bool GetTimeAttributes(const VFilePath& inPath, VTime* outModified, VTime* outCreated,
                           VTime* outAccessed) const;

    // Add the times of the folder's files, or of one file, to ioMap; a key already there keeps its
    // value, and files whose times cannot be read are skipped.
    static void CollectFileAttributes(Map& ioMap, const IFolder* inFolder);
    static void CollectFileAttributes(Map& ioMap, const IFile* inFile);

    // Exchanges the cache's map with ioMap.
    void SwapMap(Map& ioMap);
    void Clear();

private:
    mutable std::shared_mutex fMutex;
    Map fMap;
};

} // namespace zorn
