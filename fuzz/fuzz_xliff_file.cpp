// Feeds arbitrary bytes to the localization manager as the product reads them: written to a
// ".xlf" file and loaded with LoadFile (read as text, parsed without validation and without an
// internal subset), with language checking on and then off. Loading must answer 0, look-ups must answer
// without fault, and no text may be stored under an empty key.

#include "fuzz/FuzzTasks.h"
#include "toolbox/files/VFile.h"
#include "toolbox/intl/VLocalizationManager.h"
#include "toolbox/kernel/errors/VErrorContext.h"
#include "toolbox/kernel/values/VValueBag.h"

#include <unistd.h>

#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

using namespace zorn;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* inData, size_t inSize)
{
    fuzz::StartTasks();
    static VLocalizationManager* sManager = new VLocalizationManager(1033);
    static const std::string sPath = "/tmp/zorn-fuzz-xliff-" + std::to_string(::getpid()) + ".xlf";
    {
        std::ofstream out(sPath, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(inData), static_cast<std::streamsize>(inSize));
    }
    VRefPtr<VFile> file(new VFile(VString(sPath.c_str()), FPS_POSIX), true);
    StErrorContextInstaller quiet(false, true);
    for (bool avoid : {false, true})
    {
        sManager->ClearLocalizations();
        // An XLIFF file that exists loads as far as it can and answers 0, whatever its bytes.
        fuzz::Check(sManager->LoadFile(file.Get(), avoid) == VE_OK);

        VString text;
        fuzz::Check(!sManager->LocalizeStringWithKey(VString(), text));
        sManager->LocalizeStringWithKey(VString("k"), text);
        std::vector<VString> texts;
        sManager->LocalizeGroupOfStringsWithAStrSharpID(1, texts);
        sManager->GetOrderedStringsOfGroup(VString("g"), texts);
        if (const VValueBag* bag = sManager->RetainGroupBag(VString("g")))
        {
            bag->Release();
        }
    }
    ::unlink(sPath.c_str());
    return 0;
}
