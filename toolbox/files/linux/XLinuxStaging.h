// Portable files use the C and C++ libraries and ICU only; system calls, /proc and glibc
// extensions live in this linux/ back end.
//
// XLinuxStaging: how the back ends put a whole new item in place without ever showing a half-made
// one: the item is made under a staging name beside its destination, made durable by the caller,
// then renamed into place. Whole-content writes, staged copies and moves, and application swaps
// share the naming, the placing and the removal of what killed processes left.
//
// Choices and limits:
// - Staging names are ".partial-<pid>-<n>": at most 30 bytes whatever the destination's name, so
//   a destination of NAME_MAX bytes can be staged too. The pid says whose it is: a name whose
//   process is gone is a leftover, removed (a tree with all it holds) by the next staging into that
//   folder. Names of the older form ".<name>.partial-<pid>-<n>" are recognised and removed too.
// - A folder is listed for leftovers again only when its modification time changed since this
//   process last saw it (folders are known by device, inode and birth time; without a birth time
//   every call lists it), so that many stagings into one folder stay linear.
// - Placing: kNoReplace is renameat2(RENAME_NOREPLACE), kReplace a plain rename (atomic over a
//   file), kExchange renameat2(RENAME_EXCHANGE), after which the staging name holds the old item.
//   Busy failures (EBUSY, ETXTBSY, EAGAIN, EINTR) are tried again, five times in all, with a
//   growing pause (10 ms, doubled each time), unless the caller gives its own way to retry. Where the file
//   system refuses the flag (EINVAL or ENOTSUP: FAT, exFAT, some FUSE and network file systems), no-replace
//   becomes "link, then unlink" and, where hard links are refused too, "check absent, then rename"; exchange
//   becomes two renames (the old item aside under a staging name, the new one in), undone when the second
//   fails. Between those two renames the destination is briefly absent.
// - Results are errno values (0 for success), as the back ends' other helpers return them.
#pragma once

#include <sys/types.h>

#include <functional>
#include <string>

namespace zorn
{

struct XLinuxCopyCalls;

class XLinuxStaging
{
public:
    enum class Placement
    {
        kNoReplace,
        kReplace,
        kExchange
    };

    // How a rename that meets a busy item tries again: attempts in all, and what runs before each
    // new attempt (given the number of the attempt that failed); without it, a growing pause.
    struct Retry
    {
        int fAttempts = 5;
        std::function<void(int)> fBeforeRetry;
    };

    // A new staging name (above), unique in this process.
    static std::string MakeName();
    // Whether inName is a staging name; its process in outPid.
    static bool IsStagingName(const std::string& inName, pid_t& outPid);
    // Removes from the folder open at inDir the staging items of processes that are gone.
    static void RemoveLeftovers(int inDir);
    // Notes the folder's present state after this process's own change to it (see above).
    static void NoteChanged(int inDir);
    // Renames inFrom (in inFromDir) to inTo (in inToDir) as inPlacement says, with the calls of
    // inCalls (the back ends' fault seam), busy items tried again as inRetry says (the default
    // above when null); 0 or the errno.
    static int Place(const XLinuxCopyCalls& inCalls, int inFromDir, const char* inFrom, int inToDir,
                     const char* inTo, Placement inPlacement, const Retry* inRetry = nullptr);
};

} // namespace zorn
