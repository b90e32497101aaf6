#include "toolbox/files/VFileError.h"

#include "toolbox/kernel/strings/VString.h"

namespace zorn
{

VFileError::VFileError(const VFilePath& inPath, VError inError) : VErrorBase(inError), fPath(inPath)
{
    VString pathText;
    fPath.GetPath(pathText);
    VString name("n/a");
    if (pathText.GetLength() > 0)
    {
        fPath.GetName(name);
    }
    else
    {
        pathText = name;
    }
    SetString(VString("name"), name);
    SetString(VString("path"), pathText);
    // The path as users of this system write it, for messages shown to them.
    SetString(VString("posixPath"), pathText.GetLength() > 0 ? fPath.GetPath(FPS_POSIX) : pathText);
}

VError PushFileErrorForCode(const VFilePath& inPath, VError inCode, VError inDefault,
                            const std::function<void(VFileError&)>& inAddParameters)
{
    if ((inCode & 0xFFFFFFFFU) == 0)
    {
        return VE_OK;
    }
    const auto family = static_cast<OsType>(inCode >> 32);
    if (family != kNATIVE_POSIX && family != kNATIVE_MACH && family != kNATIVE_CARBON &&
        family != kNATIVE_COCOA)
    {
        return inCode;
    }
    auto* error = new VFileError(inPath, EncodedNativeErrorToVError(inCode, inDefault));
    if (inAddParameters)
    {
        inAddParameters(*error);
    }
    VError code = error->GetError();
    _PushRetainedError(error, inCode);
    return code;
}

} // namespace zorn
