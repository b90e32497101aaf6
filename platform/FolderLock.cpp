#include "platform/FolderLock.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace zorn::platform
{

FolderLock::~FolderLock()
{
    Unlock();
}

FolderLock::Outcome FolderLock::TryLock(const std::string& inFolder)
{
    Unlock();
    fErrno = 0;
    const int descriptor = ::open(inFolder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (descriptor < 0)
    {
        fErrno = errno;
        return Outcome::kFailed;
    }
    int result = 0;
    do
    {
        result = ::flock(descriptor, LOCK_EX | LOCK_NB);
    } while (result != 0 && errno == EINTR);
    if (result != 0)
    {
        fErrno = errno;
        ::close(descriptor);
        return fErrno == EWOULDBLOCK ? Outcome::kHeld : Outcome::kFailed;
    }
    fDescriptor = descriptor;
    return Outcome::kLocked;
}

void FolderLock::Unlock()
{
    if (fDescriptor >= 0)
    {
        ::close(fDescriptor);
        fDescriptor = -1;
    }
}

} // namespace zorn::platform
