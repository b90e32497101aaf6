// VFileError: the error every file, descriptor and folder operation pushes, carrying the path of
// the object concerned, and the one rule by which those operations turn a back end's code into a
// pushed file error.
//
// Choices made where several were possible:
// - The parameters "name", "path" (the ':' path text) and "posixPath" (the '/' text users
//   see) are set at construction; all are "n/a" for an empty path, such as that of a descriptor
//   whose file is not known.
// - The description is the base one: the path travels in the parameters, not in the text.
#pragma once

#include "toolbox/files/VFilePath.h"
#include "toolbox/kernel/errors/VErrorBase.h"
#include "toolbox/kernel/errors/VErrorContext.h"

#include <functional>

#include <cstdint>

namespace zorn
{

// The file operations' own codes (VFile states which operation gives which).
constexpr VError VE_FILE_CANNOT_RENAME = MakeVError(kCOMPONENT_ZORN, 601);
constexpr VError VE_FILE_CANNOT_OPEN = MakeVError(kCOMPONENT_ZORN, 602);
constexpr VError VE_FILE_CANNOT_DELETE = MakeVError(kCOMPONENT_ZORN, 604);
constexpr VError VE_FILE_CANNOT_COPY = MakeVError(kCOMPONENT_ZORN, 605);
constexpr VError VE_FILE_CANNOT_MOVE = MakeVError(kCOMPONENT_ZORN, 606);
constexpr VError VE_FILE_CANNOT_CREATE = MakeVError(kCOMPONENT_ZORN, 607);
constexpr VError VE_FILE_CANNOT_GET_ATTRIBUTES = MakeVError(kCOMPONENT_ZORN, 608);
constexpr VError VE_FILE_CANNOT_SET_ATTRIBUTES = MakeVError(kCOMPONENT_ZORN, 609);
constexpr VError VE_FILE_CANNOT_CREATE_ALIAS = MakeVError(kCOMPONENT_ZORN, 610);
constexpr VError VE_FILE_CANNOT_RESOLVE_ALIAS = MakeVError(kCOMPONENT_ZORN, 611);
constexpr VError VE_FILE_CANNOT_REVEAL = MakeVError(kCOMPONENT_ZORN, 612);
constexpr VError VE_FILE_ALIAS_TO_FOLDER = MakeVError(kCOMPONENT_ZORN, 617);

class VFileError : public VErrorBase
{
public:
    VFileError(const VFilePath& inPath, VError inError);

    const VFilePath& GetFilePath() const { return fPath; }

private:
    VFilePath fPath;
};

// The conversion rule of the file layer for a code a back end returned:
// - 0 in the low 32 bits: success, 0 returned;
// - a native code ('POSX', 'MACH', 'CARB', 'COCO'): a VFileError for inPath with the toolbox code
//   of EncodedNativeErrorToVError(code, inDefault), given its parameters by inAddParameters
//   (when set), is pushed together with the native code; its toolbox code is returned;
// - any other code is returned as it is, without a push.
VError PushFileErrorForCode(const VFilePath& inPath, VError inCode, VError inDefault,
                            const std::function<void(VFileError&)>& inAddParameters = {});

// What a file operation's failure was, named by the file layer so that its callers need no
// system codes. kBusy: the item is in use (worth trying again); kNoSpace: the disk or a quota is
// full; kNotPermitted: permissions, a read-only file system or a locked item; kUnsupported: the
// file system cannot do it; kExists: the name is taken; kMissing: an item or a folder on the way
// is not there; kOther: anything else.
enum class EFileFailure : uint8_t
{
    kNone,
    kBusy,
    kNoSpace,
    kNotPermitted,
    kUnsupported,
    kExists,
    kMissing,
    kOther
};

// The kind of a native code (kNone for 0, kOther for a code that is no native one).
EFileFailure GetFileFailure(VError inNativeCode);
// The kind of the first native error in the list of inContext (kNone when it holds none).
EFileFailure GetFileFailure(const VErrorContext& inContext);

// How an operation that meets a busy item tries again: attempts in all, and what runs between two
// attempts (a pause, a log line), given the number of the attempt that failed. Without
// fBeforeRetry the file layer pauses briefly on its own.
struct VBusyRetry
{
    int fAttempts = 5;
    std::function<void(int)> fBeforeRetry;
};

} // namespace zorn
