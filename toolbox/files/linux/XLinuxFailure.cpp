// Portable files use the C and C++ libraries and ICU only; system calls, /proc and glibc
// extensions live in this linux/ back end.
//
// The failure kinds of the file layer (VFileError.h) from errno values: the one place that sorts
// system codes for the layer's callers.
#include "toolbox/files/VFileError.h"

#include <cerrno>

namespace zorn
{

EFileFailure GetFileFailure(VError inNativeCode)
{
    if (inNativeCode == VE_OK)
    {
        return EFileFailure::kNone;
    }
    if (ComponentOfVError(inNativeCode) != kNATIVE_POSIX)
    {
        return EFileFailure::kOther;
    }
    switch (static_cast<int>(NumberOfVError(inNativeCode)))
    {
    case EBUSY:
    case ETXTBSY:
    case EAGAIN:
    case EINTR:
        return EFileFailure::kBusy;
    case ENOSPC:
    case EDQUOT:
        return EFileFailure::kNoSpace;
    case EACCES:
    case EPERM:
    case EROFS:
        return EFileFailure::kNotPermitted;
    case EINVAL:
    case ENOTSUP:
    case ENOSYS:
    case EXDEV:
        return EFileFailure::kUnsupported;
    case EEXIST:
    case ENOTEMPTY:
        return EFileFailure::kExists;
    case ENOENT:
    case ENOTDIR:
        return EFileFailure::kMissing;
    default:
        return EFileFailure::kOther;
    }
}

EFileFailure GetFileFailure(const VErrorContext& inContext)
{
    for (const VErrorBase* error : inContext.GetErrorList())
    {
        if (ComponentOfVError(error->GetError()) == kNATIVE_POSIX)
        {
            return GetFileFailure(error->GetError());
        }
    }
    return EFileFailure::kNone;
}

} // namespace zorn
