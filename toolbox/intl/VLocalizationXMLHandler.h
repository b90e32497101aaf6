// VLocalizationXMLHandler: the root handler of the XLIFF files a localization manager reads; one
// per manager, reused for every file. It keeps the manager (not retained), the language flags of
// the file being read and whether language checking is avoided for it.
//
// Choices and limits:
// - It makes no child handler yet: every element comes back to it, so an XLIFF file parses
//   cleanly and stores nothing. The group and unit readers take their place in StartElement.
#pragma once

#include "toolbox/intl/IXMLHandler.h"
#include "toolbox/kernel/base/VObject.h"
#include "toolbox/kernel/strings/VString.h"

namespace zorn
{

class VLocalizationManager;

class VLocalizationXMLHandler : public VObject, public IXMLHandler
{
public:
    explicit VLocalizationXMLHandler(VLocalizationManager* inManager) : fManager(inManager) {}

    IXMLHandler* StartElement(const VString& inElementName) override;

    // Set by the manager before each file and cleared after it.
    void SetAvoidLanguageChecking(bool inAvoid) { fAvoidLanguageChecking = inAvoid; }
    bool IsAvoidingLanguageChecking() const { return fAvoidLanguageChecking; }
    VLocalizationManager* GetManager() const { return fManager; }

private:
    VLocalizationManager* fManager; // not retained: the manager owns this handler
    VString fLastElementName;
    bool fAvoidLanguageChecking = false;
};

} // namespace zorn
