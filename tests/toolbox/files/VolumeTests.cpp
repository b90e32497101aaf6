// The mount table: lines of /proc/self/mountinfo as the kernel writes them, the mount that holds a
// path, and the refresh that sees a file system mounted meanwhile.
#include "toolbox/files/linux/XLinuxVolumes.h"

#include <gtest/gtest.h>

#include <sched.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

namespace zorn
{
namespace
{

TEST(MountInfoLine, ReadsTheKernelsLines)
{
    struct Case
    {
        const char* fWhat;
        const char* fLine;
        uint32_t fMountID, fParentID, fMajor, fMinor;
        const char* fRoot;
        const char* fMountPoint;
        size_t fOptionalCount;
        const char* fType;
        const char* fSource;
        const char* fSuperOptions;
    };
    const Case cases[] = {
        {"the root, no optional field", "27 1 254:0 / / rw,relatime - ext4 /dev/vda rw,discard", 27, 1, 254,
         0, "/", "/", 0, "ext4", "/dev/vda", "rw,discard"},
        {"a bind mount of a sub-folder, two optional fields",
         "36 35 98:0 /mnt1 /mnt2 rw,noatime master:1 shared:7 - ext3 /dev/root rw,errors=continue", 36, 35,
         98, 0, "/mnt1", "/mnt2", 2, "ext3", "/dev/root", "rw,errors=continue"},
        {"space and tab escaped in the mount point",
         "40 27 0:45 / /media/My\\040Disk\\011x rw - vfat /dev/sdb1 rw", 40, 27, 0, 45, "/",
         "/media/My Disk\tx", 0, "vfat", "/dev/sdb1", "rw"},
        {"backslash and newline escaped, an unknown escape kept",
         "41 27 0:46 /a\\134b /c\\012d\\101 rw shared:3 - fuse.x my\\040src rw", 41, 27, 0, 46, "/a\\b",
         "/c\nd\\101", 1, "fuse.x", "my src", "rw"},
        {"a deleted mount point", "50 27 0:47 /gone//deleted /mnt/old\\040(deleted) rw - tmpfs tmpfs rw", 50,
         27, 0, 47, "/gone//deleted", "/mnt/old (deleted)", 0, "tmpfs", "tmpfs", "rw"},
        {"a namespace file as root", "60 27 0:4 net:[4026532281] /run/netns/a rw - nsfs nsfs rw", 60, 27, 0,
         4, "net:[4026532281]", "/run/netns/a", 0, "nsfs", "nsfs", "rw"},
        {"an empty source", "70 27 0:50 / /x rw - tmpfs  rw", 70, 27, 0, 50, "/", "/x", 0, "tmpfs", "", "rw"},
        {"a source named \"-\"", "71 27 0:51 / /y rw master:2 - tmpfs - rw", 71, 27, 0, 51, "/", "/y", 1,
         "tmpfs", "-", "rw"},
        {"the largest numbers", "4294967295 0 4095:1048575 / /z rw - ext4 /dev/z rw", 4294967295u, 0, 4095,
         1048575, "/", "/z", 0, "ext4", "/dev/z", "rw"},
    };
    for (const Case& c : cases)
    {
        XLinuxMountEntry entry;
        ASSERT_TRUE(XLinuxVolumes::ParseMountInfoLine(c.fLine, entry)) << c.fWhat;
        EXPECT_EQ(entry.fMountID, c.fMountID) << c.fWhat;
        EXPECT_EQ(entry.fParentID, c.fParentID) << c.fWhat;
        EXPECT_EQ(entry.fMajor, c.fMajor) << c.fWhat;
        EXPECT_EQ(entry.fMinor, c.fMinor) << c.fWhat;
        EXPECT_EQ(entry.fRoot, c.fRoot) << c.fWhat;
        EXPECT_EQ(entry.fMountPoint, c.fMountPoint) << c.fWhat;
        EXPECT_EQ(entry.fOptionalFields.size(), c.fOptionalCount) << c.fWhat;
        EXPECT_EQ(entry.fType, c.fType) << c.fWhat;
        EXPECT_EQ(entry.fSource, c.fSource) << c.fWhat;
        EXPECT_EQ(entry.fSuperOptions, c.fSuperOptions) << c.fWhat;
    }
}

TEST(MountInfoLine, RefusesMalformedLines)
{
    struct Case
    {
        const char* fWhat;
        const char* fLine;
    };
    const Case cases[] = {
        {"no separator", "27 1 254:0 / / rw ext4 /dev/vda rw"},
        {"a field missing after the separator", "27 1 254:0 / / rw - ext4 /dev/vda"},
        {"a field too many after the separator", "27 1 254:0 / / rw - ext4 /dev/vda rw extra"},
        {"a mount ID that is not a number", "2x 1 254:0 / / rw - ext4 /dev/vda rw"},
        {"a negative parent", "27 -1 254:0 / / rw - ext4 /dev/vda rw"},
        {"a number past 32 bits", "4294967296 1 254:0 / / rw - ext4 /dev/vda rw"},
        {"a device without ':'", "27 1 2540 / / rw - ext4 /dev/vda rw"},
        {"a device with an empty minor", "27 1 254: / / rw - ext4 /dev/vda rw"},
        {"a relative mount point", "27 1 254:0 / mnt rw - ext4 /dev/vda rw"},
        {"an empty root", "27 1 254:0  / rw - ext4 /dev/vda rw"},
        {"an empty optional field", "27 1 254:0 / / rw  - ext4 /dev/vda rw"},
        {"an empty type", "27 1 254:0 / / rw -  /dev/vda rw"},
        {"too few fields", "27 1 254:0 / /"},
        {"an empty line", ""},
    };
    for (const Case& c : cases)
    {
        XLinuxMountEntry entry;
        EXPECT_FALSE(XLinuxVolumes::ParseMountInfoLine(c.fLine, entry)) << c.fWhat;
    }
    // A whole text keeps its good lines, counts the bad ones, and needs no final newline.
    std::vector<XLinuxMountEntry> entries;
    EXPECT_EQ(XLinuxVolumes::ParseMountInfo("27 1 254:0 / / rw - ext4 /dev/vda rw\n"
                                            "bad line\n"
                                            "\n"
                                            "28 27 0:25 / /tmp rw - tmpfs tmpfs rw",
                                            entries),
              1u);
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[1].fMountPoint, "/tmp");
}

TEST(MountTable, TheMountHoldingAPathIsTheLongestPrefixAtASlash)
{
    std::vector<XLinuxMountEntry> entries;
    XLinuxVolumes::ParseMountInfo("1 0 8:1 / / rw - ext4 /dev/sda1 rw\n"
                                  "2 1 8:2 / /a rw - ext4 /dev/sda2 rw\n"
                                  "3 2 8:3 / /a/b rw - ext4 /dev/sda3 rw\n"
                                  "4 1 0:40 / /a rw - tmpfs tmpfs rw\n",
                                  entries);
    ASSERT_EQ(entries.size(), 4u);
    struct Case
    {
        const char* fPath;
        uint32_t fMountID; // 0: none
    };
    const Case cases[] = {
        {"/a/bc", 4},    // not under "/a/b": the prefix ends inside a name
        {"/a/b", 3},     // the mount point itself
        {"/a/b/c/d", 3}, // deeper
        {"/a", 4},       // two mounts at "/a": the last listed is on top
        {"/ab", 1},      // only the root
        {"/", 1},        //
        {"a/b", 0},      // not absolute
        {"", 0},         //
    };
    for (const Case& c : cases)
    {
        const XLinuxMountEntry* entry = XLinuxVolumes::FindMountOfPath(entries, c.fPath);
        EXPECT_EQ(entry != nullptr ? entry->fMountID : 0u, c.fMountID) << c.fPath;
    }
}

TEST(MountTable, TheRootIsTheOnlyVolumeName)
{
    VString name;
    EXPECT_TRUE(XLinuxVolumes::GetVolumeNameFromMountPath("/", name));
    EXPECT_TRUE(name.EqualToStringRaw(VString("Root")));
    EXPECT_FALSE(XLinuxVolumes::GetVolumeNameFromMountPath("/mnt", name));
    std::string mount;
    EXPECT_TRUE(XLinuxVolumes::GetMountPathFromVolumeName(VString("Root"), mount));
    EXPECT_EQ(mount, "/");
    EXPECT_FALSE(XLinuxVolumes::GetMountPathFromVolumeName(VString("root"), mount));
}

TEST(MountTable, ReadsTheTableAgainOnlyAfterTwoSeconds)
{
    char folder[] = "/tmp/zorn-volumes-XXXXXX";
    ASSERT_NE(::mkdtemp(folder), nullptr);
    const std::string mountPoint = folder;
    // In a child with a mount namespace of its own (a user namespace too when not root).
    pid_t child = ::fork();
    if (child == 0)
    {
        XLinuxVolumes volumes;
        XLinuxMountEntry entry;
        const bool before = volumes.GetMountEntry(mountPoint, entry);
        const int flags = ::geteuid() == 0 ? CLONE_NEWNS : CLONE_NEWNS | CLONE_NEWUSER;
        if (::unshare(flags) != 0 || ::mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            ::mount("tmpfs", folder, "tmpfs", 0, "size=64k") != 0)
        {
            ::_exit(77);
        }
        // Read well within two seconds of the first: the table is not read again.
        const bool soon = volumes.GetMountEntry(mountPoint, entry);
        std::this_thread::sleep_for(std::chrono::milliseconds(2500));
        const bool later = volumes.GetMountEntry(mountPoint, entry) && entry.fType == "tmpfs";
        XLinuxMountEntry holder;
        const bool holds =
            volumes.GetMountEntryOfPath(mountPoint + "/file", holder) && holder.fMountID == entry.fMountID;
        ::umount(folder);
        ::_exit(before ? 1 : soon ? 2 : !later ? 3 : !holds ? 4 : 0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ::rmdir(folder);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == 77)
    {
        GTEST_SKIP() << "the kernel refuses a mount namespace with a tmpfs here";
    }
    // 1: mounted before; 2: seen at once (no cache); 3: not seen after 2.5 s; 4: path look-up.
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

} // namespace
} // namespace zorn
