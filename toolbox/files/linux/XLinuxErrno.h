// XLinuxErrno: the toolbox error of an errno value for the Linux file back ends, VE_OK for 0, so
// that a call's result maps to an error in one way everywhere (MakeVErrorFromErrno does the mapping).
#pragma once

#include "toolbox/kernel/errors/VError.h"

#include <cerrno>

namespace zorn::xlinux
{

inline VError Errno(int inErrno)
{
    return inErrno == 0 ? VE_OK : MakeVErrorFromErrno(inErrno);
}

// The error of the errno value the last failed call left.
inline VError LastErrno()
{
    return Errno(errno);
}

} // namespace zorn::xlinux
