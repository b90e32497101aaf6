// Feeds arbitrary bytes to the type registry as a program reads its declarations: written to a
// file and loaded with LoadXMLFile into a registry that already holds a few declared types. A
// file that does not load must leave the registry as it was; one that loads must give types with
// identifiers whose walks end, and the look-ups must answer without fault.

#include "fuzz/FuzzTasks.h"
#include "toolbox/files/VFile.h"
#include "toolbox/files/VFileKindManager.h"
#include "toolbox/intl/VUTI.h"
#include "toolbox/intl/VUTIManager.h"
#include "toolbox/intl/VXMLParser.h"
#include "toolbox/kernel/errors/VErrorContext.h"

#include <unistd.h>

#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

using namespace zorn;

namespace
{

const char kBase[] = "<plist><dict><key>UTExportedTypeDeclarations</key><array>"
                     "<dict><key>UTTypeIdentifier</key><string>com.example.base</string>"
                     "<key>UTTypeTagSpecification</key><dict><key>public.filename-extension</key>"
                     "<string>zbase</string></dict></dict>"
                     "<dict><key>UTTypeIdentifier</key><string>public.zdata</string>"
                     "<key>UTTypeConformsTo</key><array><string>com.example.base</string></array></dict>"
                     "</array></dict></plist>";

VRefPtr<VFile> Write(const std::string& inPath, const void* inData, size_t inSize)
{
    std::ofstream out(inPath, std::ios::binary | std::ios::trunc);
    out.write(static_cast<const char*>(inData), static_cast<std::streamsize>(inSize));
    return VRefPtr<VFile>(new VFile(VString(inPath.c_str()), FPS_POSIX), true);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* inData, size_t inSize)
{
    fuzz::StartTasks();
    // The XML library stays up between inputs.
    static StXMLParserInit sXML;
    static const std::string sPath = "/tmp/zorn-fuzz-uti-" + std::to_string(::getpid()) + ".plist";
    StErrorContextInstaller quiet(false, true);

    VUTIManager* manager = VUTIManager::GetUTIManager();
    manager->SetSystemTypesFile(nullptr);
    fuzz::Check(manager->LoadXMLFile(Write(sPath, kBase, sizeof(kBase) - 1).Get()));
    const size_t before = manager->GetUTICount();
    VUTI* base = manager->GetUTI(VString("com.example.base"));
    const size_t baseChildren = base->GetChildrenUTIsMap().size();

    VRefPtr<VFile> file = Write(sPath, inData, inSize);
    if (!manager->LoadXMLFile(file.Get()))
    {
        fuzz::Check(manager->GetUTICount() == before);
        fuzz::Check(base->GetChildrenUTIsMap().size() == baseChildren);
    }
    std::vector<VString> tags;
    for (const VString& identifier : {VString("com.example.base"), VString("public.zdata"), VString("a")})
    {
        if (VUTI* type = manager->GetUTI(identifier))
        {
            fuzz::Check(type->ConformsToIdentifier(identifier));
        }
    }
    // The types that carry the base's extension, or descend from one that does: walk each, and
    // collect its tags to look them up below.
    size_t checked = 0;
    auto all = manager->UTTypeCreateAllIdentifiersForTag(VUTIManager::GetExtensionTagClass(),
                                                         VString("zbase"), VString());
    fuzz::Check(all != nullptr);
    for (const VRefPtr<VUTI>& type : *all)
    {
        fuzz::Check(!type->GetIdentifier().IsEmpty() && type->ConformsToExtension(VString("zbase")));
        std::vector<VString> extensions;
        type->GetAllExtensionsVector(extensions);
        tags.insert(tags.end(), extensions.begin(), extensions.end());
        for (const VString& mime : type->GetMIMETypesVector())
        {
            tags.push_back(mime);
        }
        if (++checked > 64)
        {
            break;
        }
    }
    for (const VString& tag : tags)
    {
        for (const VString* tagClass :
             {&VUTIManager::GetExtensionTagClass(), &VUTIManager::GetMIMETypeTagClass(),
              &VUTIManager::GetOSTypeTagClass()})
        {
            VRefPtr<VUTI> preferred(manager->UTTypeCreatePreferredIdentifierForTag(*tagClass, tag, VString()),
                                    true);
            if (preferred)
            {
                fuzz::Check(!preferred->GetIdentifier().IsEmpty());
            }
        }
    }
    manager->UTTypeConformsTo(file.Get(), VString("com.example.base"));
    VUTIManager::DeInit();
    VFileKindManager::DeInit();
    ::unlink(sPath.c_str());
    return 0;
}
