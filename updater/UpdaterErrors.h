// The updater's own errors (component 'UPZq') and the functions that raise them with their named
// path parameters. Their texts come from the bundle's localization files ("ERR_UPZq_<n>").
#pragma once

#include "toolbox/kernel/base/ZornTypes.h"
#include "toolbox/kernel/errors/VError.h"

#include <cstdint>

namespace zorn
{

class VFilePath;
class VString;

constexpr OsType kUpdaterErrorComponent = MakeOsType('U', 'P', 'Z', 'q');
// The signature that marks the updater's own log records.
constexpr OsType kUpdaterLogSignature = MakeOsType('Z', 'q', 'U', 'P');

constexpr VError MakeUpdaterError(int32_t inNumber)
{
    return MakeVError(kUpdaterErrorComponent, inNumber);
}

constexpr VError VE_UPDATER_WAIT_TIMED_OUT = MakeUpdaterError(1);    // the caller did not quit in time
constexpr VError VE_UPDATER_UPTODATE_MISSING = MakeUpdaterError(2);  // "path"
constexpr VError VE_UPDATER_OUTDATED_MISSING = MakeUpdaterError(3);  // "path"
constexpr VError VE_UPDATER_NOT_A_BUNDLE = MakeUpdaterError(4);      // "path"
constexpr VError VE_UPDATER_FILE_COPY_FAILED = MakeUpdaterError(8);  // "srcPath", "dstPath"
constexpr VError VE_UPDATER_RENAME_FAILED = MakeUpdaterError(11);    // "srcPath", "dstPath"
constexpr VError VE_UPDATER_PARENT_MISSING = MakeUpdaterError(12);   // "path"
constexpr VError VE_UPDATER_COPY_FAILED = MakeUpdaterError(13);      // "from", "to"
constexpr VError VE_UPDATER_SAME_BUNDLE = MakeUpdaterError(14);      // "path"
constexpr VError VE_UPDATER_ALREADY_RUNNING = MakeUpdaterError(15);  // "path"
constexpr VError VE_UPDATER_BAD_CLIENT_INFO = MakeUpdaterError(41);  // none
constexpr VError VE_UPDATER_INSTALL_FAILED = MakeUpdaterError(100);  // none
constexpr VError VE_UPDATER_LOG_NOT_STARTED = MakeUpdaterError(101); // none
constexpr VError VE_UPDATER_RESTART_FAILED = MakeUpdaterError(120);  // none

// Each pushes an error of that code on the current context with its parameters and returns the
// code; a zero code does nothing and returns 0. Paths are given in their POSIX form, as users
// know them on this system.
VError ThrowErrorWithPath(VError inError, const VFilePath& inPath);
VError ThrowErrorWithPaths(VError inError, const VFilePath& inSource, const VFilePath& inDestination);
VError ThrowServiceError(VError inError, const VString& inServiceName);

} // namespace zorn
