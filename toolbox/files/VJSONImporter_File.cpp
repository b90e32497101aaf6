// The file forms of the JSON importer, built here because they need files.
#include "toolbox/files/IFile.h"
#include "toolbox/json/VJSONImporter.h"
#include "toolbox/json/VJSONValue.h"
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
    VString text;
    VError code = inFile->GetContentAsString(text, CharSet::VTC_UTF_8, eCRM_NONE);
    if (code != VE_OK)
    {
        return code;
    }
    VJSONImporter importer(text, inOptions);
    VString path;
    inFile->GetPlatformPath(path, FPS_POSIX);
    importer.SetSourceName(path);
    return importer.Parse(outValue);
}

VError VJSONValue::LoadFromFile(IFile* inFile, bool inDates)
{
    return VJSONImporter::ParseFile(inFile, *this,
                                    inDates ? VJSONImporter::kMarkedDates | VJSONImporter::kISODates : 0);
}

} // namespace zorn
