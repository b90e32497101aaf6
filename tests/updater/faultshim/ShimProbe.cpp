// A tiny program for the fault shim's test: in the folder given as its argument it makes a
// folder, creates two files, copies one into the other, renames one and removes it, printing
// "<function> <result> <errno>" after each call (a descriptor shows as 0), then "done".
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{
void Report(const char* inFunction, long inResult)
{
    std::printf("%s %ld %d\n", inFunction, inResult < 0 ? -1L : inResult, inResult < 0 ? errno : 0);
    std::fflush(stdout);
}
} // namespace

int main(int argc, char** argv)
{
    if (argc != 2)
    {
        return 2;
    }
    const int folder = open(argv[1], O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    Report("mkdirat", mkdirat(folder, "made", 0755));
    const int source = openat(folder, "source", O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    Report("openat", source < 0 ? source : 0);
    const int target = openat(folder, "target", O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    Report("openat", target < 0 ? target : 0);
    if (source >= 0)
    {
        (void)!write(source, "hello", 5);
        lseek(source, 0, SEEK_SET);
    }
    Report("copy_file_range", copy_file_range(source, nullptr, target, nullptr, 5, 0));
    Report("renameat2", renameat2(folder, "target", folder, "renamed", RENAME_NOREPLACE));
    Report("unlinkat", unlinkat(folder, "renamed", 0));
    std::printf("done\n");
    return 0;
}
