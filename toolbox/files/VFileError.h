// VFileError: the error every file, descriptor and folder operation pushes, carrying the path of
// the object concerned, and the one rule by which those operations turn a back end's code into a
// pushed file error.
//
// Choices made where several were possible:
// - The parameters "name" and "path" (the ':' path text) are set at construction; both are
//   "n/a" for an empty path, such as that of a descriptor whose file is not known.
// - The description is the base one: the path travels in the parameters, not in the text.
#pragma once

#include "toolbox/files/VFilePath.h"
#include "toolbox/kernel/errors/VErrorBase.h"

#include <functional>

namespace zorn
{

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

} // namespace zorn
