#include "toolbox/intl/VLocalizationXMLHandler.h"

#include "toolbox/intl/VLocalizationManager.h"
#include "toolbox/kernel/locale/VIntlMgr.h"

namespace zorn
{

namespace
{

bool Is(const VString& inName, const char* inLiteral)
{
    return inName.EqualToUSASCIICString(inLiteral);
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Root
// ---------------------------------------------------------------------------------------------

void VLocalizationXMLHandler::ResetLanguage()
{
    fLanguageMatch = false;
    fExactLanguage = true;
    fLastElementName.Clear();
}

IXMLHandler* VLocalizationXMLHandler::StartElement(const VString& inElementName)
{
    if (Is(inElementName, "file"))
    {
        fLastElementName = inElementName;
    }
    else
    {
        fLastElementName.Clear();
    }
    if (fLanguageMatch || fAvoidLanguageChecking)
    {
        if (Is(inElementName, "group"))
        {
            return new VLocalizationGroupHandler(fExactLanguage, fManager);
        }
        if (Is(inElementName, "trans-unit"))
        {
            return new VLocalizationTransUnitHandler(fExactLanguage, fManager);
        }
    }
    Retain();
    return this;
}

void VLocalizationXMLHandler::SetAttribute(const VString& inName, const VString& inValue)
{
    if (!Is(fLastElementName, "file") || !Is(inName, "target-language"))
    {
        return;
    }
    VString code;
    if (!VIntlMgr::GetRFC3066BisLanguageCodeWithDialectCode(fManager->GetLocalizationLanguage(), code, '-'))
    {
        return;
    }
    switch (VIntlMgr::Compare2RFC3066LanguageCodes(code, inValue))
    {
    case 4:
        fLanguageMatch = true;
        fExactLanguage = true;
        break;
    case 1:
    case 2:
    case 3:
        fLanguageMatch = true;
        fExactLanguage = false;
        break;
    default:
        fLanguageMatch = false;
        break;
    }
}

// ---------------------------------------------------------------------------------------------
// Groups
// ---------------------------------------------------------------------------------------------

VLocalizationGroupHandler::VLocalizationGroupHandler(bool inReplace, VLocalizationManager* inManager)
    : fManager(inManager), fReplace(inReplace), fResNames(1)
{
}

VLocalizationGroupHandler::~VLocalizationGroupHandler()
{
    if (fGroupBag != nullptr)
    {
        fGroupBag->Release();
    }
}

void VLocalizationGroupHandler::SetAttribute(const VString& inName, const VString& inValue)
{
    if (fGroupBag == nullptr)
    {
        fGroupBag = new VValueBag;
    }
    fGroupBag->SetString(VValueBag::StKey(inName), inValue);
    if (Is(inName, "id"))
    {
        const auto id = static_cast<uint32_t>(inValue.GetLong());
        if (id != 0)
        {
            fGroupID = id;
        }
    }
    else if (Is(inName, "resname"))
    {
        if (!inValue.IsEmpty())
        {
            fResNames.back() = inValue;
        }
    }
    else if (Is(inName, "restype"))
    {
        fResType = inValue;
    }
}

IXMLHandler* VLocalizationGroupHandler::StartElement(const VString& inElementName)
{
    if (Is(inElementName, "trans-unit"))
    {
        return new VLocalizationTransUnitHandler(
            fGroupID, fResNames, fResType.IsEmpty() ? nullptr : fGroupBag, fReplace, fManager);
    }
    if (Is(inElementName, "group"))
    {
        fResNames.emplace_back();
        Retain();
        return this;
    }
    return nullptr;
}

void VLocalizationGroupHandler::EndElement(const VString& /*inElementName*/)
{
    const VString top = fResNames.empty() ? VString() : fResNames.back();
    if (fGroupBag != nullptr)
    {
        if (!fResType.IsEmpty())
        {
            if (!top.IsEmpty())
            {
                fGroupBag->SetString(VValueBag::StKey("resname"), top);
            }
            fManager->_InsertGroupBag(top, fResType, fGroupBag);
        }
        fGroupBag->Release();
        fGroupBag = nullptr;
    }
    fResType.Clear();
    if (!fResNames.empty())
    {
        fResNames.pop_back();
    }
}

// ---------------------------------------------------------------------------------------------
// Units
// ---------------------------------------------------------------------------------------------

const char* const VLocalizationTransUnitHandler::kPlatformWord = "linux";

VLocalizationTransUnitHandler::VLocalizationTransUnitHandler(bool inReplace, VLocalizationManager* inManager)
    : fManager(inManager), fResNames(1), fReplace(inReplace)
{
}

VLocalizationTransUnitHandler::VLocalizationTransUnitHandler(uint32_t inGroupID,
                                                             const std::vector<VString>& inResNames,
                                                             VValueBag* inGroupBag, bool inReplace,
                                                             VLocalizationManager* inManager)
    : fManager(inManager), fGroupID(inGroupID), fResNames(inResNames), fGroupBag(inGroupBag),
      fReplace(inReplace)
{
    if (inGroupBag != nullptr)
    {
        fUnitBag = VRefPtr<VValueBag>(new VValueBag, true);
    }
}

void VLocalizationTransUnitHandler::CheckPlatformTag(const VString& inValue, bool inInclude, bool* ioExcluded,
                                                     const VString& inPlatformWord)
{
    std::vector<VString> words;
    inValue.GetSubStrings(UniChar(' '), words, false, true);
    static const char* const sWords[] = {"mac", "win", "linux"};
    bool named = false;
    bool platform = false;
    for (const VString& word : words)
    {
        for (const char* known : sWords)
        {
            named = named || word.EqualToString(VString(known), false);
        }
        platform = platform || word.EqualToString(inPlatformWord, false);
    }
    if (!named || ioExcluded == nullptr)
    {
        return;
    }
    if (inInclude ? !platform : platform)
    {
        *ioExcluded = true;
    }
}

void VLocalizationTransUnitHandler::CheckPlatformTag(const VString& inValue, bool inInclude, bool* ioExcluded)
{
    CheckPlatformTag(inValue, inInclude, ioExcluded, VString(kPlatformWord));
}

void VLocalizationTransUnitHandler::_SetCommonAttribute(const VString& inName, const VString& inValue,
                                                        VValueBag* ioBag)
{
    if (ioBag != nullptr)
    {
        ioBag->SetString(VValueBag::StKey(inName), inValue);
    }
    if (Is(inName, "qz:excludeIf"))
    {
        CheckPlatformTag(inValue, false, &fExcluded);
    }
    else if (Is(inName, "qz:includeIf"))
    {
        CheckPlatformTag(inValue, true, &fExcluded);
    }
}

void VLocalizationTransUnitHandler::SetAttribute(const VString& inName, const VString& inValue)
{
    _SetCommonAttribute(inName, inValue, fUnitBag.Get());
    if (Is(inName, "id"))
    {
        const int32_t id = inValue.GetLong();
        if (id > 0)
        {
            fUnitID = static_cast<uint32_t>(id);
        }
    }
    else if (Is(inName, "resname"))
    {
        fResName = inValue;
    }
}

IXMLHandler* VLocalizationTransUnitHandler::StartElement(const VString& inElementName)
{
    if (Is(inElementName, "source") || Is(inElementName, "target"))
    {
        fElementName = inElementName;
        Retain();
        return this;
    }
    if (Is(inElementName, "alt-trans"))
    {
        fElementName = inElementName;
        return new VLocalizationAltTransHandler(fGroupID, fResNames, fUnitBag.Get(), fReplace, fManager);
    }
    // Inline markup inside a text ("<g>", "<x/>") and other elements are skipped whole; the
    // element being read stays, so the text that follows them still counts.
    return nullptr;
}

void VLocalizationTransUnitHandler::SetText(const VString& inText)
{
    if (Is(fElementName, "source"))
    {
        fSource.AppendString(inText);
    }
    else if (Is(fElementName, "target"))
    {
        fTarget.AppendString(inText);
    }
}

VString VLocalizationTransUnitHandler::_GetText() const
{
    if (!fTarget.IsNull())
    {
        return fTarget;
    }
    if (!fSource.IsNull())
    {
        return fSource;
    }
    return VString();
}

void VLocalizationTransUnitHandler::EndElement(const VString& inElementName)
{
    if (Is(inElementName, "source") || Is(inElementName, "target"))
    {
        fElementName.Clear();
        return;
    }
    if (fExcluded)
    {
        return;
    }
    const VString text = _GetText();
    if (fUnitBag != nullptr)
    {
        fUnitBag->SetString(VValueBag::StKey("target"), text);
        fGroupBag->AddElement(VValueBag::StKey("trans-unit"), fUnitBag.Get());
    }
    if (fUnitID != 0 && fGroupID != 0)
    {
        fManager->_InsertSTRSharpCodeAndString(STRSharpCodes{fGroupID, fUnitID}, text, fReplace);
    }
    if (text.IsEmpty())
    {
        return;
    }
    const size_t levels = fResNames.size();
    if (levels >= 2 && !fResName.IsEmpty() && !fResNames[levels - 1].IsEmpty())
    {
        const VString& enclosing = fResNames[levels - 2];
        if (!enclosing.IsEmpty() && enclosing.GetUniChar(1) == '[' &&
            enclosing.GetUniChar(enclosing.GetLength()) == ']')
        {
            const VString separator("#}[{@");
            fManager->_InsertObjectURLAndString(
                enclosing + separator + fResNames[levels - 1] + separator + fResName, text, fReplace);
            return;
        }
    }
    if (!fResName.IsEmpty())
    {
        fManager->_InsertObjectURLAndString(fResName, text, fReplace);
    }
    for (auto name = fResNames.rbegin(); name != fResNames.rend(); ++name)
    {
        fManager->_InsertIDAndStringInAGroup(fUnitID, text, *name, fReplace);
    }
}

// ---------------------------------------------------------------------------------------------
// Alternative translations
// ---------------------------------------------------------------------------------------------

VLocalizationAltTransHandler::VLocalizationAltTransHandler(uint32_t inGroupID,
                                                           const std::vector<VString>& inResNames,
                                                           VValueBag* inUnitBag, bool inReplace,
                                                           VLocalizationManager* inManager)
    : VLocalizationTransUnitHandler(inGroupID, inResNames, inUnitBag, inReplace, inManager)
{
}

void VLocalizationAltTransHandler::SetAttribute(const VString& inName, const VString& inValue)
{
    _SetCommonAttribute(inName, inValue, fUnitBag.Get());
}

IXMLHandler* VLocalizationAltTransHandler::StartElement(const VString& inElementName)
{
    if (Is(inElementName, "source") || Is(inElementName, "target"))
    {
        fElementName = inElementName;
        Retain();
        return this;
    }
    return nullptr;
}

void VLocalizationAltTransHandler::EndElement(const VString& inElementName)
{
    if (Is(inElementName, "source") || Is(inElementName, "target"))
    {
        fElementName.Clear();
        return;
    }
    // Here the group-bag slot holds the unit's bag and the unit-bag slot this alternative's own.
    if (fExcluded || fUnitBag == nullptr)
    {
        return;
    }
    fUnitBag->SetString(VValueBag::StKey("target"), _GetText());
    fGroupBag->AddElement(VValueBag::StKey("alt-trans"), fUnitBag.Get());
}

} // namespace zorn
