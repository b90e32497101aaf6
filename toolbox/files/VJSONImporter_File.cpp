// The file forms of the JSON importer, built here because they need files.
#include "toolbox/files/IFile.h"
#include "toolbox/json/VJSONImporter.h"
#include "toolbox/json/VJSONValue.h"
#include "toolbox/kernel/errors/VErrorContext.h"
#include "toolbox/kernel/strings/VString.h"

namespace zorn
{

VError VJSONImporter::ParseFile(IFile* inFile, VJSONValue& outValue, uint32_t inOptions)
{
    if (inFile == nullptr)
    {
        outValue.SetUndefined();
        return VE_OK;
    }
    VFileContentBuffer content;
    VError code = VE_OK;
    {
        // As IFile::GetContentAsString: the read's errors stay with it and its last one is returned.
        StErrorContextInstaller scope(true, false);
        inFile->GetContent(content);
        code = scope.GetLastError();
    }
    if (code != VE_OK)
    {
        return code;
    }
    VString path;
    inFile->GetPlatformPath(path, FPS_POSIX);
    VString text;
    code = DecodeUTF8(content.GetDataPtr(), content.GetDataSize(), inOptions, path, text);
    if (code != VE_OK)
    {
        outValue.SetUndefined();
        return code;
    }
    VJSONImporter importer(text, inOptions);
    importer.SetSourceName(path);
    return importer.Parse(outValue);
}

VError VJSONValue::LoadFromFile(IFile* inFile, bool inDates)
{
    return VJSONImporter::ParseFile(inFile, *this,
                                    inDates ? VJSONImporter::kMarkedDates | VJSONImporter::kISODates : 0);
}

} // namespace zorn
