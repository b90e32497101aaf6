// Parses arbitrary bytes as an XLIFF file into a localization manager's root handler, with
// language checking on and then off. Look-ups afterwards must answer without fault, and no text
// may be stored under an empty key.

#include "fuzz/FuzzTasks.h"
#include "toolbox/intl/VLocalizationManager.h"
#include "toolbox/intl/VLocalizationXMLHandler.h"
#include "toolbox/intl/VXMLParser.h"
#include "toolbox/kernel/errors/VErrorContext.h"
#include "toolbox/kernel/values/VValueBag.h"

#include <cstdint>
#include <vector>

using namespace zorn;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* inData, size_t inSize)
{
    fuzz::StartTasks();
    static VLocalizationManager* sManager = new VLocalizationManager(1033);
    StErrorContextInstaller quiet(false, true);
    for (bool avoid : {false, true})
    {
        sManager->ClearLocalizations();
        VLocalizationXMLHandler* root = sManager->GetRootHandler();
        root->ResetLanguage();
        root->SetAvoidLanguageChecking(avoid);
        VXMLParser parser;
        parser.Parse(inData, inSize, root, XML_ValidationNever);
        root->SetAvoidLanguageChecking(false);

        VString text;
        fuzz::Check(!sManager->LocalizeStringWithKey(VString(), text));
        sManager->LocalizeStringWithKey(VString("k"), text);
        sManager->LocalizeErrorMessage(MakeVError(kCOMPONENT_UPDATER, 1), text);
        std::vector<VString> texts;
        sManager->LocalizeGroupOfStringsWithAStrSharpID(1, texts);
        sManager->GetOrderedStringsOfGroup(VString(), texts);
        sManager->GetOrderedStringsOfGroup(VString("g"), texts);
        if (const VValueBag* bag = sManager->RetainGroupBag(VString("g")))
        {
            bag->Release();
        }
        std::vector<VRefPtr<const VValueBag>> bags;
        sManager->RetainGroupBagsByRestype(VString("t"), bags);
    }
    return 0;
}
