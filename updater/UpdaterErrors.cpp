#include "updater/UpdaterErrors.h"

#include "toolbox/files/VFilePath.h"
#include "toolbox/kernel/errors/VErrorBase.h"
#include "toolbox/kernel/strings/VString.h"

namespace zorn
{

namespace
{
VError PushWithStrings(VError inError, std::initializer_list<std::pair<const char*, VString>> inStrings)
{
    if (inError == VE_OK)
    {
        return VE_OK;
    }
    auto* error = new VErrorBase(inError);
    for (const auto& [name, value] : inStrings)
    {
        error->SetString(VString(name), value);
    }
    _PushRetainedError(error);
    return inError;
}
} // namespace

VError ThrowErrorWithPath(VError inError, const VFilePath& inPath)
{
    return PushWithStrings(inError, {{"path", inPath.GetPath(FPS_POSIX)}});
}

VError ThrowErrorWithPaths(VError inError, const VFilePath& inSource, const VFilePath& inDestination)
{
    return PushWithStrings(
        inError, {{"srcPath", inSource.GetPath(FPS_POSIX)}, {"dstPath", inDestination.GetPath(FPS_POSIX)}});
}

VError ThrowServiceError(VError inError, const VString& inServiceName)
{
    return PushWithStrings(inError, {{"ServiceName", inServiceName}});
}

} // namespace zorn
