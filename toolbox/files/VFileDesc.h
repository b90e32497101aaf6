// VFileDesc: an open file, read and written at positions, with a current position of its own.
// Destroying it closes the descriptor; there is no separate close. Failures are pushed as
// VFileErrors naming the file, and the count, offset and size of the transfer.
//
// Choices made where several were possible:
// - Files hand out descriptors that retain them; a descriptor may also be made from a path alone,
//   which may be empty (errors then carry "n/a" for the name and path).
// - Error codes follow the file layer's rule (PushFileErrorForCode) with these defaults: reading
//   215, writing 216, SetSize 219, Flush 217, GetSize 218. The absolute GetData also pushes the
//   end of data ('zorn' 200); GetDataAtPos returns it without a push.
// - "count" is a 32-bit parameter, "offset" and "size" 64-bit; "size" is added only when the
//   file's size can be read at the time of the failure.
// - GetPos and SetPos only touch the stored position and never fail.
// - The transfers are the back end's (XLinuxFileDesc, held in place, named here by declaration
//   only); tests inject faults into them through the back ends' one table of system calls.
#pragma once

#include "toolbox/files/VBackEndStorage.h"
#include "toolbox/files/VFileAccess.h"
#include "toolbox/files/VFilePath.h"
#include "toolbox/kernel/base/VObject.h"

namespace zorn
{

class VFileError;
class VFile;
class XLinuxFileDesc;

constexpr VError VE_FILE_CANNOT_GET_POS = MakeVError(kCOMPONENT_ZORN, 213);
constexpr VError VE_FILE_CANNOT_SET_POS = MakeVError(kCOMPONENT_ZORN, 214);
constexpr VError VE_FILE_CANNOT_READ = MakeVError(kCOMPONENT_ZORN, 215);
constexpr VError VE_FILE_CANNOT_WRITE = MakeVError(kCOMPONENT_ZORN, 216);
constexpr VError VE_FILE_CANNOT_FLUSH = MakeVError(kCOMPONENT_ZORN, 217);
constexpr VError VE_FILE_CANNOT_GET_SIZE = MakeVError(kCOMPONENT_ZORN, 218);
constexpr VError VE_FILE_CANNOT_SET_SIZE = MakeVError(kCOMPONENT_ZORN, 219);

class VFileDesc : public VObject
{
public:
    // Takes over inFd.
    VFileDesc(const VFilePath& inPath, int inFd);
    // Takes over inFd and retains the file (which may be null); inAccess is the access asked for.
    VFileDesc(const VFile* inFile, int inFd, FileAccess inAccess);
    ~VFileDesc() override;
    VFileDesc(const VFileDesc&) = delete;
    VFileDesc& operator=(const VFileDesc&) = delete;

    // The size, 0 (with an error pushed) when it cannot be read.
    int64_t GetSize() const;
    VError SetSize(int64_t inSize) const;
    // At the absolute position; the current position does not move.
    VError GetData(void* outBuffer, size_t inCount, int64_t inPosition, size_t* outRead = nullptr) const;
    VError PutData(const void* inBuffer, size_t inCount, int64_t inPosition,
                   size_t* outWritten = nullptr) const;
    // At the current position + inOffset; the position advances by the bytes transferred.
    VError GetDataAtPos(void* outBuffer, size_t inCount, int64_t inOffset = 0,
                        size_t* outRead = nullptr) const;
    VError PutDataAtPos(const void* inBuffer, size_t inCount, int64_t inOffset = 0,
                        size_t* outWritten = nullptr) const;
    int64_t GetPos() const;
    // inFromStart: the position becomes inPosition; else it moves by inPosition.
    VError SetPos(int64_t inPosition, bool inFromStart) const;
    VError Flush() const;

    const VFilePath& GetPath() const { return fPath; }
    // The file the descriptor was opened from (not retained for the caller), null when none.
    const VFile* GetParentVFile() const { return fFile; }
    FileAccess GetMode() const { return fAccess; }

private:
    // The file's free-space query measures the open descriptor's file system.
    friend class VFile;

    // Pushes per the file layer's rule, adding count, offset and size.
    VError _Report(VError inCode, VError inDefault, size_t inCount, int64_t inOffset) const;

    VFilePath fPath;
    const VFile* fFile = nullptr;
    FileAccess fAccess = FA_READ;
    mutable VBackEndStorage<XLinuxFileDesc, 64, alignof(void*)> fImpl;
};

} // namespace zorn
