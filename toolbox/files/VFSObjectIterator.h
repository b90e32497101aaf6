// VFSObjectIterator: lists a folder's files (VFileIterator) or sub-folders (VFolderIterator) one
// level deep, one item at a time, through the Linux walker (XLinuxFSObjectIterator, which states
// the option bits: 2 folders, 4 files, 8 invisible items, 16 links resolved). The walker hands out
// paths; the iterator makes the files and folders of them, bound to the listed folder's file
// system. Recursion is the callers' (VFolder::IterateFiles, IterateFolders).
//
// Choices made where several were possible:
// - The first item is fetched at construction; an iterator whose current item is null is over,
//   and the walker (with its open descriptor) is released as soon as it is.
// - The count is the number of items delivered so far, the current one included.
// - A null folder, or one that cannot be opened, gives an iterator over from the start.
// - GetTime answers 'zorn' 3 when there is no current item, else asks the current item.
// - An iterator belongs to one thread.
#pragma once

#include "toolbox/files/VFile.h"
#include "toolbox/files/VFolder.h"
#include "toolbox/kernel/base/VObject.h"
#include "toolbox/kernel/base/VRefPtr.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <type_traits>

namespace zorn
{

class VTime;
class XLinuxFSObjectIterator;

// Handed to iteration callbacks with the current item: its times.
class IFileAttributeAccessor
{
public:
    virtual ~IFileAttributeAccessor() = default;
    virtual VError GetTime(VTime* outModified, VTime* outCreated, VTime* outAccessed) const = 0;
};

constexpr VError VE_ITERATOR_OVER = MakeVError(kCOMPONENT_ZORN, 3);

// What both iterators share: the walker over one folder, for files or for folders, handing out
// the next item made whole (one reference), null at the end.
class VFSObjectWalk
{
public:
    VFSObjectWalk(const VFolder& inFolder, uint32_t inOptions, bool inFolders);
    ~VFSObjectWalk();
    VFSObjectWalk(const VFSObjectWalk&) = delete;
    VFSObjectWalk& operator=(const VFSObjectWalk&) = delete;

    VFile* NextFile();
    VFolder* NextFolder();
    VFile* Next(VFile*) { return NextFile(); }
    VFolder* Next(VFolder*) { return NextFolder(); }

private:
    std::unique_ptr<XLinuxFSObjectIterator> fWalker;
    VFileSystem* fFileSystem;
};

template <class T>
class VFSObjectIterator : public VObject, public IFileAttributeAccessor
{
public:
    VFSObjectIterator(const VFolder* inFolder, uint32_t inOptions)
        : fFolder(const_cast<VFolder*>(inFolder)), fOptions(inOptions)
    {
        if (inFolder != nullptr)
        {
            fImpl.emplace(*inFolder, inOptions, std::is_same_v<T, VFolder>);
            _Advance();
        }
    }
    ~VFSObjectIterator() override = default;
    VFSObjectIterator(const VFSObjectIterator&) = delete;
    VFSObjectIterator& operator=(const VFSObjectIterator&) = delete;

    bool IsValid() const { return fCurrent.Get() != nullptr; }
    T* Current() const { return fCurrent.Get(); }
    T* operator->() const { return fCurrent.Get(); }
    T& operator*() const { return *fCurrent.Get(); }
    VFSObjectIterator& operator++()
    {
        _Advance();
        return *this;
    }
    uint32_t GetCount() const { return fCount; }
    uint32_t GetOptions() const { return fOptions; }
    VFolder* GetFolder() const { return fFolder.Get(); }

    VError GetTime(VTime* outModified, VTime* outCreated, VTime* outAccessed) const override
    {
        if (fCurrent.Get() == nullptr)
        {
            return VE_ITERATOR_OVER;
        }
        return fCurrent->GetTimeAttributes(outModified, outCreated, outAccessed);
    }

private:
    void _Advance()
    {
        if (!fImpl)
        {
            fCurrent = nullptr;
            return;
        }
        fCurrent.Adopt(fImpl->Next(static_cast<T*>(nullptr)));
        if (fCurrent.Get() == nullptr)
        {
            fImpl.reset();
        }
        else
        {
            ++fCount;
        }
    }

    VRefPtr<VFolder> fFolder;
    VRefPtr<T> fCurrent;
    uint32_t fCount = 0;
    uint32_t fOptions;
    std::optional<VFSObjectWalk> fImpl;
};

using VFileIterator = VFSObjectIterator<VFile>;
using VFolderIterator = VFSObjectIterator<VFolder>;

} // namespace zorn
