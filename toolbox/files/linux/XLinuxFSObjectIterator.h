// Portable files use the C and C++ libraries and ICU only; system calls, /proc and glibc
// extensions live in this linux/ back end.
//
// XLinuxFSObjectIterator: the walker under the folder iterators. It lists one folder level, in
// the order the file system gives, and builds an item's paths (colon and POSIX forms) only when
// the item is accepted; the iterators make the files and folders of them. Option bits: 2 folders, 4 files
// (regular files and links), 8 invisible items (a name beginning with '.'), 16 links resolved to their real
// targets. Other bits are ignored.
//
// Choices and limits:
// - The walker holds the folder's descriptor (opendir), rebuilds the folder's path from its real
//   path (/proc/self/fd) and builds item paths as strings of any length: no item is ever delivered
//   under a cut or another item's name.
// - The entry's d_type spares a stat per entry; DT_UNKNOWN (file systems without types, or the
//   test seam) is answered with fstatat(AT_SYMLINK_NOFOLLOW) relative to the descriptor.
// - FIFOs, devices and sockets are never listed, also when a link resolves to one; nothing is
//   opened to resolve a link (realpath), so a FIFO is never opened. A dangling link or a loop
//   is skipped with option 16 and listed as a file without it.
// - Confinement: with a file system's root, an item whose real path lies outside the file system's root
//   (compared exactly, the root followed by '/', or the root itself) is skipped.
// - Names are bytes: decoded at the system boundary (invalid UTF-8 kept as escapes) and ':' in a
//   name becomes '/' in the colon form.
// - A folder that cannot be opened gives an empty walk; a read error ends the walk.
#pragma once

#include "toolbox/files/VFilePath.h"

#include <dirent.h>
#include <sys/stat.h>

#include <cstdint>
#include <string>

namespace zorn
{

class XLinuxFSObjectIterator
{
public:
    static constexpr uint32_t kFolders = 2;
    static constexpr uint32_t kFiles = 4;
    static constexpr uint32_t kInvisible = 8;
    static constexpr uint32_t kResolveLinks = 16;

    // The folder at inPosixPath, whose colon form is inPath; inRoot, when given, is the root of
    // the file system the walk is confined to.
    XLinuxFSObjectIterator(const std::string& inPosixPath, const VFilePath& inPath, const VFilePath* inRoot,
                           uint32_t inOptions);
    ~XLinuxFSObjectIterator();
    XLinuxFSObjectIterator(const XLinuxFSObjectIterator&) = delete;
    XLinuxFSObjectIterator& operator=(const XLinuxFSObjectIterator&) = delete;

    // The next accepted item: its path and its POSIX path (a folder's ending with '/'); false at
    // the end or on a read error.
    bool GetNextPath(VFilePath& outPath, std::string& outPosixPath, bool& outIsFolder);

    // For tests: every entry is read as DT_UNKNOWN, as on a file system that gives no types.
    static void SetIgnoreEntryTypesForTests(bool inIgnore);

private:
    // The item accepted, with its kind; false to skip it.
    bool _Accept(const dirent& inEntry, VFilePath& outPath, std::string& outPosixPath, bool& outIsFolder);
    bool _IsConfined(const std::string& inRealPath) const;

    uint32_t fOptions;
    bool fConfined;
    VFilePath fRoot;
    DIR* fStream = nullptr;
    std::string fRealPath;
    VFilePath fFolderPath;
    std::string fRootRealPath;
    bool fHasRootPath = false;
};

} // namespace zorn
