// The XLIFF reader: the handlers that turn the elements of an XLIFF file into the entries of a
// localization manager (texts by resource name, by numeric group and unit ids, by group, and
// value bags describing whole groups). Only a subset of XLIFF is read: "file", "group",
// "trans-unit", "source", "target" and "alt-trans", and a few attributes; every other element is
// ignored with what it holds, except that text around inline markup inside "source" and "target"
// ("<g>", "<x/>") is kept: the text outside inline elements, the inline elements' own text dropped.
//
// - VLocalizationXMLHandler, the root (one per manager, reused for every file): follows the file's
//   "target-language" against the manager's dialect and hands "group" and "trans-unit" to new
//   handlers when the language matched (or checking is avoided); otherwise every element comes
//   back to it and nothing is stored. The language flags start as "no match, exact" at the start
//   of every file (ResetLanguage), so a file without "target-language" loads the same whatever
//   file came before it.
// - VLocalizationGroupHandler, for an outermost "group": the group id, a stack of resource names
//   (one per open group level) and, when the group has a resource type, its bag of attributes and
//   units, handed to the manager when the group ends.
// - VLocalizationTransUnitHandler, for a "trans-unit": its id, resource name, source and target
//   texts and platform filters; it stores the text when the unit ends.
// - VLocalizationAltTransHandler, for an "alt-trans" inside a unit: a bag added to the unit's bag.
//
// Platform filters ("qz:includeIf", "qz:excludeIf") name the words "mac", "win" and "linux",
// compared without regard to case or accents; this build's word is kPlatformWord ("linux"). A
// value that names none of the three words filters nothing.
// Texts already in the manager are replaced only when the language matched exactly.
#pragma once

#include "toolbox/intl/IXMLHandler.h"
#include "toolbox/kernel/base/VObject.h"
#include "toolbox/kernel/base/VRefPtr.h"
#include "toolbox/kernel/strings/VString.h"
#include "toolbox/kernel/values/VValueBag.h"

#include <cstdint>
#include <vector>

namespace zorn
{

class VLocalizationManager;

class VLocalizationXMLHandler : public VObject, public IXMLHandler
{
public:
    explicit VLocalizationXMLHandler(VLocalizationManager* inManager) : fManager(inManager) {}

    IXMLHandler* StartElement(const VString& inElementName) override;
    void SetAttribute(const VString& inName, const VString& inValue) override;

    // Set by the manager before each file and cleared after it.
    void SetAvoidLanguageChecking(bool inAvoid) { fAvoidLanguageChecking = inAvoid; }
    bool IsAvoidingLanguageChecking() const { return fAvoidLanguageChecking; }
    // Back to "no match, exact", at the start of each file.
    void ResetLanguage();
    bool IsLanguageMatching() const { return fLanguageMatch; }
    bool IsLanguageExact() const { return fExactLanguage; }
    VLocalizationManager* GetManager() const { return fManager; }

private:
    VLocalizationManager* fManager; // not retained: the manager owns this handler
    bool fLanguageMatch = false;
    bool fExactLanguage = true;
    VString fLastElementName; // kept only when it is "file"
    bool fAvoidLanguageChecking = false;
};

class VLocalizationGroupHandler : public VObject, public IXMLHandler
{
public:
    VLocalizationGroupHandler(bool inReplace, VLocalizationManager* inManager);
    ~VLocalizationGroupHandler() override;

    IXMLHandler* StartElement(const VString& inElementName) override;
    void EndElement(const VString& inElementName) override;
    void SetAttribute(const VString& inName, const VString& inValue) override;

private:
    VLocalizationManager* fManager;
    bool fReplace;
    uint32_t fGroupID = 0;
    std::vector<VString> fResNames; // one per open group level, innermost last
    VValueBag* fGroupBag = nullptr; // made at the first attribute, owned until handed over
    VString fResType;
};

class VLocalizationTransUnitHandler : public VObject, public IXMLHandler
{
public:
    static const char* const kPlatformWord;

    VLocalizationTransUnitHandler(bool inReplace, VLocalizationManager* inManager);
    // inGroupBag, when given, receives the unit's bag at its end.
    VLocalizationTransUnitHandler(uint32_t inGroupID, const std::vector<VString>& inResNames,
                                  VValueBag* inGroupBag, bool inReplace, VLocalizationManager* inManager);

    IXMLHandler* StartElement(const VString& inElementName) override;
    void EndElement(const VString& inElementName) override;
    void SetAttribute(const VString& inName, const VString& inValue) override;
    void SetText(const VString& inText) override;

    // Marks *ioExcluded when the filter value names a platform word and, for an include filter,
    // not inPlatformWord, or for an exclude filter, inPlatformWord.
    static void CheckPlatformTag(const VString& inValue, bool inInclude, bool* ioExcluded,
                                 const VString& inPlatformWord);
    static void CheckPlatformTag(const VString& inValue, bool inInclude, bool* ioExcluded);

protected:
    // What units and alternative translations share.
    void _SetCommonAttribute(const VString& inName, const VString& inValue, VValueBag* ioBag);
    // The target text when one was read, else the source text, else empty.
    VString _GetText() const;

    VLocalizationManager* fManager;
    VString fElementName;
    uint32_t fGroupID = 0;
    std::vector<VString> fResNames;
    VRefPtr<VValueBag> fGroupBag;
    VRefPtr<VValueBag> fUnitBag;
    uint32_t fUnitID = 0;
    VString fResName;
    VString fSource{true};
    VString fTarget{true};
    bool fReplace;
    bool fExcluded = false;
};

class VLocalizationAltTransHandler : public VLocalizationTransUnitHandler
{
public:
    // inUnitBag, when given, receives the alternative's bag at its end.
    VLocalizationAltTransHandler(uint32_t inGroupID, const std::vector<VString>& inResNames,
                                 VValueBag* inUnitBag, bool inReplace, VLocalizationManager* inManager);

    IXMLHandler* StartElement(const VString& inElementName) override;
    void EndElement(const VString& inElementName) override;
    void SetAttribute(const VString& inName, const VString& inValue) override;
};

} // namespace zorn
