// Shared pieces of the type-registry tests: a fixture that starts each test with a new registry
// and a new file-kind manager over the localization fixture's scratch folder, and the texts of
// look-up results.
#pragma once

#include "tests/toolbox/intl/LocalizationTestSupport.h"
#include "toolbox/files/VFileKindManager.h"
#include "toolbox/intl/VUTI.h"
#include "toolbox/intl/VUTIManager.h"

#include <string>
#include <vector>

namespace zorn::test
{

// "a,b,c".
inline std::string Joined(const std::vector<VString>& inTexts)
{
    std::string joined;
    for (const VString& text : inTexts)
    {
        joined += (joined.empty() ? "" : ",") + Utf8(text);
    }
    return joined;
}

class UTITest : public LocalizationTest
{
protected:
    void SetUp() override
    {
        LocalizationTest::SetUp();
        VUTIManager::DeInit();
        VFileKindManager::DeInit();
        fManager = VUTIManager::GetUTIManager();
    }
    void TearDown() override
    {
        VUTIManager::DeInit();
        VFileKindManager::DeInit();
        LocalizationTest::TearDown();
    }

    // The preferred type's identifier, or "<none>".
    std::string Preferred(const VString& inTagClass, const char* inTag, const char* inConformingTo = "")
    {
        VRefPtr<VUTI> type(fManager->UTTypeCreatePreferredIdentifierForTag(inTagClass, VString(inTag),
                                                                           VString(inConformingTo)),
                           true);
        return type ? Utf8(type->GetIdentifier()) : std::string("<none>");
    }

    VUTIManager* fManager = nullptr;
};

} // namespace zorn::test
