// VError: the toolbox's 64-bit error code (component signature in the high 32 bits, number in
// the low 32), the codes the core runtime raises, and _ThrowError, which puts an error on the
// current task's error context.
#pragma once

#include "toolbox/kernel/base/ZornTypes.h"

namespace zorn
{

class VString;

using VError = uint64_t;

constexpr VError VE_OK = 0;

constexpr VError MakeVError(OsType inComponent, int32_t inNumber)
{
    return (static_cast<VError>(inComponent) << 32) | static_cast<uint32_t>(inNumber);
}
constexpr OsType ComponentOfVError(VError inError)
{
    return static_cast<OsType>(inError >> 32);
}
constexpr int32_t NumberOfVError(VError inError)
{
    return static_cast<int32_t>(static_cast<uint32_t>(inError & 0xFFFFFFFFu));
}

// Component signatures.
constexpr OsType kCOMPONENT_ZORN = MakeOsType('z', 'o', 'r', 'n');   // the toolbox
constexpr OsType kCOMPONENT_SCRIPT = MakeOsType('Z', 'q', 'R', 'T'); // script objects
constexpr OsType kCOMPONENT_UPDATER = MakeOsType('U', 'P', 'Z', 'q');
constexpr OsType kCOMPONENT_XML = MakeOsType('x', 'm', 'l', 'c');
// Native error families: the native code sits in the low 32 bits.
constexpr OsType kNATIVE_POSIX = MakeOsType('P', 'O', 'S', 'X'); // errno
constexpr OsType kNATIVE_MACH = MakeOsType('M', 'A', 'C', 'H');
constexpr OsType kNATIVE_CARBON = MakeOsType('C', 'A', 'R', 'B');
constexpr OsType kNATIVE_COCOA = MakeOsType('C', 'O', 'C', 'O');

constexpr VError MakeVErrorFromErrno(int inErrno)
{
    return MakeVError(kNATIVE_POSIX, inErrno);
}

constexpr VError VE_UNKNOWN_ERROR = MakeVError(kCOMPONENT_ZORN, 1);
// A virtual operation that this kind of value does not support.
constexpr VError VE_UNIMPLEMENTED = MakeVError(kCOMPONENT_ZORN, 2);
// A parameter outside what the operation accepts (a position before the start of a stream...).
constexpr VError VE_INVALID_PARAMETER = MakeVError(kCOMPONENT_ZORN, 3);
constexpr VError VE_ACCESS_DENIED = MakeVError(kCOMPONENT_ZORN, 5);
constexpr VError VE_USER_ABORT = MakeVError(kCOMPONENT_ZORN, 6);
// A block allocation failed.
constexpr VError VE_MEMORY_FULL = MakeVError(kCOMPONENT_ZORN, 100);
// A string could not be given the buffer it needs (negative length, size limit, no memory).
constexpr VError VE_STRING_ALLOC_FAILED = MakeVError(kCOMPONENT_ZORN, 107);
constexpr VError VE_STREAM_EOF = MakeVError(kCOMPONENT_ZORN, 200);
// Base64 text holds a character that is not ASCII.
constexpr VError VE_BASE64_NOT_ASCII = MakeVError(kCOMPONENT_ZORN, 210);
// A character-set converter could not get the memory for its output.
constexpr VError VE_CHARSET_CONVERSION_FAILED = MakeVError(kCOMPONENT_ZORN, 300);
constexpr VError VE_RES_NOT_FOUND = MakeVError(kCOMPONENT_ZORN, 401);
constexpr VError VE_FILE_NOT_FOUND = MakeVError(kCOMPONENT_ZORN, 600);
constexpr VError VE_FILE_BAD_NAME = MakeVError(kCOMPONENT_ZORN, 614);
constexpr VError VE_FOLDER_NOT_FOUND = MakeVError(kCOMPONENT_ZORN, 650);
constexpr VError VE_DISK_FULL = MakeVError(kCOMPONENT_ZORN, 658);

// Raises an error on the current task's innermost error context and returns its code. Raising
// never fails visibly: without a process object it does nothing, and without a current task the
// error is dropped. Each non-null string becomes the parameter "p1", "p2" or "p3".
VError _ThrowError(VError inError, const VString* inP1 = nullptr, const VString* inP2 = nullptr,
                   const VString* inP3 = nullptr);

// The toolbox code for a native code ('POSX' errno, 'CARB', 'MACH', 'COCO'); inFallback when the
// native code has no toolbox equivalent.
VError EncodedNativeErrorToVError(VError inNativeError, VError inFallback);
// A Carbon status as a 'CARB' code, mapped to the toolbox code where one exists; 0 stays 0.
VError MAC_MapCarbonErrorToVError(int32_t inStatus);

} // namespace zorn
