// Feeds arbitrary bytes to the reader of shared-mime-info's database. A database that reads must
// give types with identifiers, which the registry then links; the MIME types of every registered
// type must find a type, and the look-ups of their extensions must answer without fault.

#include "fuzz/FuzzTasks.h"
#include "toolbox/files/VFileKindManager.h"
#include "toolbox/intl/VSharedMimeInfoReader.h"
#include "toolbox/intl/VUTI.h"
#include "toolbox/intl/VUTIManager.h"
#include "toolbox/intl/VXMLParser.h"
#include "toolbox/kernel/errors/VErrorContext.h"

#include <cstdint>
#include <vector>

using namespace zorn;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* inData, size_t inSize)
{
    fuzz::StartTasks();
    static StXMLParserInit sXML;
    StErrorContextInstaller quiet(false, true);

    std::vector<VRefPtr<VUTI>> types;
    if (!VSharedMimeInfoReader::ReadTypes(inData, inSize, types))
    {
        fuzz::Check(types.empty());
        return 0;
    }
    VUTIManager* manager = VUTIManager::GetUTIManager();
    manager->SetSystemTypesFile(nullptr);
    // A type whose identifier an earlier one took is not registered.
    std::vector<VUTI*> registered;
    for (const VRefPtr<VUTI>& type : types)
    {
        fuzz::Check(!type->GetIdentifier().IsEmpty());
        if (manager->AddNewUTI(type.Get()))
        {
            registered.push_back(type.Get());
        }
    }
    manager->ProcessExtractedUTIs();
    size_t checked = 0;
    for (VUTI* type : registered)
    {
        fuzz::Check(type->ConformsToIdentifier(type->GetIdentifier()));
        for (const VString& mime : type->GetMIMETypesVector())
        {
            VRefPtr<VUTI> preferred(manager->UTTypeCreatePreferredIdentifierForTag(
                                        VUTIManager::GetMIMETypeTagClass(), mime, VString()),
                                    true);
            fuzz::Check(preferred.Get() != nullptr);
        }
        for (const VString& extension : type->GetExtensionsVector())
        {
            VRefPtr<VUTI> preferred(
                manager->UTTypeCreatePreferredIdentifierForTag(VUTIManager::GetExtensionTagClass(), extension,
                                                               VString("public.data")),
                true);
        }
        if (++checked > 64)
        {
            break;
        }
    }
    VUTIManager::DeInit();
    VFileKindManager::DeInit();
    return 0;
}
