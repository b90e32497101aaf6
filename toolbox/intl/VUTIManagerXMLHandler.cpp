#include "toolbox/intl/VUTIManagerXMLHandler.h"

#include "toolbox/intl/VUTIManager.h"

namespace zorn
{

namespace
{

bool Is(const VString& inText, const char* inLiteral)
{
    return inText.EqualToUSASCIICString(inLiteral);
}

constexpr const char* kKey = "key";
constexpr const char* kArray = "array";
constexpr const char* kDict = "dict";
constexpr const char* kString = "string";

constexpr const char* kIdentifierKey = "UTTypeIdentifier";
constexpr const char* kDescriptionKey = "UTTypeDescription";
constexpr const char* kConformsToKey = "UTTypeConformsTo";
constexpr const char* kTagSpecificationKey = "UTTypeTagSpecification";

bool IsTagClass(const VString& inKey)
{
    return inKey.EqualToStringRaw(VUTIManager::GetExtensionTagClass()) ||
           inKey.EqualToStringRaw(VUTIManager::GetOSTypeTagClass()) ||
           inKey.EqualToStringRaw(VUTIManager::GetMIMETypeTagClass());
}

// The buffer of a tag class among three, or null for another key.
VString* BufferOfTagClass(const VString& inKey, VString& ioExtension, VString& ioOSType, VString& ioMIMEType)
{
    if (inKey.EqualToStringRaw(VUTIManager::GetExtensionTagClass()))
    {
        return &ioExtension;
    }
    if (inKey.EqualToStringRaw(VUTIManager::GetOSTypeTagClass()))
    {
        return &ioOSType;
    }
    if (inKey.EqualToStringRaw(VUTIManager::GetMIMETypeTagClass()))
    {
        return &ioMIMEType;
    }
    return nullptr;
}

// Adds the first non-empty buffer to the type as the tag of its class.
void AddFirstTag(VUTI& ioUTI, const VString& inExtension, const VString& inOSType, const VString& inMIMEType)
{
    if (!inExtension.IsEmpty())
    {
        ioUTI.AddExtension(inExtension);
    }
    else if (!inOSType.IsEmpty())
    {
        ioUTI.AddOSType(inOSType);
    }
    else if (!inMIMEType.IsEmpty())
    {
        ioUTI.AddMIMEType(inMIMEType);
    }
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Document level
// ---------------------------------------------------------------------------------------------

void VUTIManagerXMLHandler::Reset()
{
    fElementName.Clear();
    fKeyText.Clear();
    fInKey = false;
}

IXMLHandler* VUTIManagerXMLHandler::StartElement(const VString& inElementName)
{
    const bool declarations =
        Is(fKeyText, "UTExportedTypeDeclarations") || Is(fKeyText, "UTImportedTypeDeclarations");
    // The key is used up by the element that follows it, so only that one array is read.
    fKeyText.Clear();
    if (declarations && Is(inElementName, kArray))
    {
        return new VUTIManagerArrayHandler(fManager);
    }
    if (Is(inElementName, kKey))
    {
        fInKey = true;
    }
    fElementName = inElementName;
    Retain();
    return this;
}

void VUTIManagerXMLHandler::EndElement(const VString&)
{
    // The key text stays for the element that follows the key.
    fInKey = false;
}

void VUTIManagerXMLHandler::SetAttribute(const VString&, const VString&) {}

void VUTIManagerXMLHandler::SetText(const VString& inText)
{
    if (fInKey && Is(fElementName, kKey))
    {
        fKeyText.AppendString(inText);
    }
}

// ---------------------------------------------------------------------------------------------
// Declaration array
// ---------------------------------------------------------------------------------------------

IXMLHandler* VUTIManagerArrayHandler::StartElement(const VString& inElementName)
{
    return Is(inElementName, kDict) ? new VUTIManagerUTIHandler(fManager) : nullptr;
}

void VUTIManagerArrayHandler::EndElement(const VString&) {}

void VUTIManagerArrayHandler::SetText(const VString&) {}

// ---------------------------------------------------------------------------------------------
// A dict: keys and their values
// ---------------------------------------------------------------------------------------------

void VUTIManagerDictHandler::SetAttribute(const VString&, const VString&) {}

void VUTIManagerDictHandler::SetText(const VString& inText)
{
    if (!fTextFlag)
    {
        return;
    }
    if (Is(fElementName, kKey))
    {
        fLastKey.AppendString(inText);
    }
    else if (Is(fElementName, kString))
    {
        _SetStringText(inText);
    }
}

void VUTIManagerDictHandler::_EnterElement(const VString& inElementName)
{
    fElementName = inElementName;
    if (Is(inElementName, kKey) || Is(inElementName, kString))
    {
        fTextFlag = true;
    }
}

IXMLHandler* VUTIManagerDictHandler::_HandElementTo(IXMLHandler* inChild)
{
    fLastKey.Clear();
    if (inChild != nullptr)
    {
        return inChild;
    }
    Retain();
    return this;
}

// ---------------------------------------------------------------------------------------------
// One declaration
// ---------------------------------------------------------------------------------------------

VUTIManagerUTIHandler::VUTIManagerUTIHandler(VUTIManager* inManager)
    : fManager(inManager), fUTI(new VUTI(), true)
{
}

void VUTIManagerUTIHandler::_FlushValue()
{
    if (fValueText.IsEmpty())
    {
        return;
    }
    if (Is(fValueKey, kIdentifierKey))
    {
        VString identifier = fUTI->GetIdentifier();
        identifier.AppendString(fValueText);
        fUTI->SetIdentifier(identifier);
    }
    else if (Is(fValueKey, kDescriptionKey))
    {
        VString description = fUTI->GetDescription();
        description.AppendString(fValueText);
        fUTI->SetDescription(description);
    }
    fValueText.Clear();
}

IXMLHandler* VUTIManagerUTIHandler::StartElement(const VString& inElementName)
{
    _FlushValue();
    _EnterElement(inElementName);
    fOpenElements.push_back(inElementName);
    IXMLHandler* child = nullptr;
    if (fLastKey.IsEmpty())
    {
        fValueKey.Clear();
    }
    else if (Is(inElementName, kString) && (Is(fLastKey, kIdentifierKey) || Is(fLastKey, kDescriptionKey)))
    {
        fValueKey = fLastKey;
    }
    else if (Is(inElementName, kArray) && Is(fLastKey, kConformsToKey))
    {
        child = new VUTIManagerUTIKeyArrayStringHandler(fUTI.Get(), fLastKey);
        fOpenElements.pop_back();
    }
    else if (Is(inElementName, kDict) && Is(fLastKey, kTagSpecificationKey))
    {
        child = new VUTIManagerUTIKeyUTISpecificationHandler(fUTI.Get());
        fOpenElements.pop_back();
    }
    else
    {
        fValueKey.Clear();
    }
    return _HandElementTo(child);
}

void VUTIManagerUTIHandler::EndElement(const VString&)
{
    _FlushValue();
    fTextFlag = false;
    if (fOpenElements.empty())
    {
        // The end of the declaration dict.
        fManager->AddNewUTI(fUTI.Get());
        return;
    }
    fOpenElements.pop_back();
}

void VUTIManagerUTIHandler::_SetStringText(const VString& inText)
{
    if (Is(fValueKey, kIdentifierKey) || Is(fValueKey, kDescriptionKey))
    {
        fValueText.AppendString(inText);
    }
}

// ---------------------------------------------------------------------------------------------
// Tag specification
// ---------------------------------------------------------------------------------------------

VUTIManagerUTIKeyUTISpecificationHandler::VUTIManagerUTIKeyUTISpecificationHandler(VUTI* inUTI) : fUTI(inUTI)
{
}

IXMLHandler* VUTIManagerUTIKeyUTISpecificationHandler::StartElement(const VString& inElementName)
{
    _EnterElement(inElementName);
    IXMLHandler* child = nullptr;
    if (!fLastKey.IsEmpty())
    {
        if (Is(inElementName, kString))
        {
            // A key that is not a tag class leaves the previous class in force.
            if (IsTagClass(fLastKey))
            {
                fValueKey = fLastKey;
            }
        }
        else if (Is(inElementName, kArray))
        {
            child = new VUTIManagerUTIKeyArrayStringHandler(fUTI.Get(), fLastKey);
        }
    }
    return _HandElementTo(child);
}

void VUTIManagerUTIKeyUTISpecificationHandler::EndElement(const VString&)
{
    AddFirstTag(*fUTI, fExtension, fOSType, fMIMEType);
    fTextFlag = false;
    fExtension.Clear();
    fOSType.Clear();
    fMIMEType.Clear();
}

void VUTIManagerUTIKeyUTISpecificationHandler::_SetStringText(const VString& inText)
{
    if (VString* buffer = BufferOfTagClass(fValueKey, fExtension, fOSType, fMIMEType); buffer != nullptr)
    {
        buffer->AppendString(inText);
    }
}

// ---------------------------------------------------------------------------------------------
// Array of strings under a key
// ---------------------------------------------------------------------------------------------

VUTIManagerUTIKeyArrayStringHandler::VUTIManagerUTIKeyArrayStringHandler(VUTI* inUTI, const VString& inKey)
    : fUTI(inUTI), fKey(inKey)
{
}

IXMLHandler* VUTIManagerUTIKeyArrayStringHandler::StartElement(const VString& inElementName)
{
    if (Is(inElementName, kString))
    {
        fTextFlag = true;
    }
    fElementName = inElementName;
    Retain();
    return this;
}

void VUTIManagerUTIKeyArrayStringHandler::EndElement(const VString&)
{
    if (Is(fElementName, kString))
    {
        if (Is(fKey, kConformsToKey))
        {
            if (!fConformance.IsEmpty())
            {
                // A placeholder until ProcessExtractedUTIs finds the declared type.
                VRefPtr<VUTI> placeholder(new VUTI(fConformance), true);
                placeholder->SetTemporary(true);
                fUTI->AddParentUTI(placeholder.Get());
            }
        }
        else
        {
            AddFirstTag(*fUTI, fExtension, fOSType, fMIMEType);
        }
    }
    fConformance.Clear();
    fExtension.Clear();
    fOSType.Clear();
    fMIMEType.Clear();
    fTextFlag = false;
}

void VUTIManagerUTIKeyArrayStringHandler::SetAttribute(const VString&, const VString&) {}

void VUTIManagerUTIKeyArrayStringHandler::SetText(const VString& inText)
{
    if (!fTextFlag || !Is(fElementName, kString))
    {
        return;
    }
    if (Is(fKey, kConformsToKey))
    {
        fConformance.AppendString(inText);
    }
    else if (VString* buffer = BufferOfTagClass(fKey, fExtension, fOSType, fMIMEType); buffer != nullptr)
    {
        buffer->AppendString(inText);
    }
}

} // namespace zorn
