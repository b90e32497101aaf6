#include "toolbox/files/VFileAttributesCache.h"

#include "toolbox/files/IFile.h"
#include "toolbox/files/VFSObjectIterator.h"
#include "toolbox/files/VFilePath.h"

#include <mutex>

namespace zorn
{

namespace
{

VString KeyOf(const VFilePath& inPath)
{
    VString key;
    inPath.GetPath(key);
    return key;
}

} // namespace

bool VFileAttributesCache::FileExists(const VFilePath& inPath) const
{
    VString key = KeyOf(inPath);
    std::shared_lock lock(fMutex);
    return fMap.find(key) != fMap.end();
}

bool VFileAttributesCache::GetTimeAttributes(const VFilePath& inPath, VTime* outModified, VTime* outCreated,
                                             VTime* outAccessed) const
{
    VString key = KeyOf(inPath);
    std::shared_lock lock(fMutex);
    auto found = fMap.find(key);
    if (found == fMap.end())
    {
        return false;
    }
    const Attributes& times = found->second;
    if (outModified != nullptr)
    {
        outModified->FromTime(times.fModified);
    }
    if (outCreated != nullptr)
    {
        outCreated->FromTime(times.fCreated);
    }
    if (outAccessed != nullptr)
    {
        outAccessed->FromTime(times.fAccessed);
    }
    return true;
}

void VFileAttributesCache::CollectFileAttributes(Map& ioMap, const IFolder* inFolder)
{
    if (inFolder == nullptr)
    {
        return;
    }
    inFolder->IterateFiles(
        [&ioMap](IFile* inFile, IFileAttributeAccessor* inAccessor)
        {
            Attributes times;
            if (inAccessor->GetTime(&times.fModified, &times.fCreated, &times.fAccessed) == VE_OK)
            {
                ioMap.emplace(KeyOf(inFile->GetPath()), times);
            }
            return true;
        },
        4);
}

void VFileAttributesCache::CollectFileAttributes(Map& ioMap, const IFile* inFile)
{
    if (inFile == nullptr)
    {
        return;
    }
    Attributes times;
    if (inFile->GetTimeAttributes(&times.fModified, &times.fCreated, &times.fAccessed) == VE_OK)
    {
        ioMap.emplace(KeyOf(inFile->GetPath()), times);
    }
}

void VFileAttributesCache::SwapMap(Map& ioMap)
{
    std::unique_lock lock(fMutex);
    fMap.swap(ioMap);
}

void VFileAttributesCache::Clear()
{
    Map empty;
    {
        std::unique_lock lock(fMutex);
        fMap.swap(empty);
    }
}

} // namespace zorn
