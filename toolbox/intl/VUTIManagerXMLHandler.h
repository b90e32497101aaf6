// The type-declaration reader: the handlers that turn property-list XML declaring uniform type
// identifiers (an Info.plist's "UTExportedTypeDeclarations" and "UTImportedTypeDeclarations")
// into VUTI objects offered to VUTIManager::AddNewUTI. Only the two declaration arrays are read;
// every other part of the document is passed over.
//
// - VUTIManagerXMLHandler, the root (one per manager, reused for every file; Reset at the start
//   of each): follows the keys at every level of the document and hands the "array" that comes
//   directly after one of the two declaration keys to a VUTIManagerArrayHandler. An array after
//   another element (even a second array after the same key) is passed over.
// - VUTIManagerArrayHandler, the declaration array: one VUTIManagerUTIHandler per "dict"; any
//   other element is ignored with its content.
// - VUTIManagerDictHandler, what both dict readers below share: the element being read, the text
//   of the last "key" and the key a "string" value belongs to.
// - VUTIManagerUTIHandler, one declaration dict: "UTTypeIdentifier" and "UTTypeDescription"
//   strings, the "UTTypeConformsTo" array (each string a temporary parent, resolved later by
//   VUTIManager::ProcessExtractedUTIs) and the "UTTypeTagSpecification" dict; any other key
//   (icon file, reference URL, version...) is passed over. At the end of the dict the type is
//   offered to the manager, which drops it without identifier or when the identifier is known.
// - VUTIManagerUTIKeyUTISpecificationHandler, the tag specification: each tag class
//   ("public.filename-extension", "com.apple.ostype", "public.mime-type") with a string or an
//   array of strings. A string after a key that is not a tag class goes to the previous tag class.
// - VUTIManagerUTIKeyArrayStringHandler, an array of strings under a key: conformance or tags.
//
// Choices and limits:
// - Element names and keys compare exactly (code units); declarations read alike whether
//   exported or imported. A "UTTypeConformsTo" given as a single string is ignored.
// - A value belongs to the element that directly follows its key: the key is forgotten at the
//   next element, whatever it is.
// - Nothing is reported: unknown keys, elements and value kinds are passed over. XML errors are
//   the parser's; the manager undoes a failed file's declarations.
// - The handlers that offer types hold the manager without a reference (the manager owns the
//   root handler and outlives every parse); those that fill a type hold it with one.
#pragma once

#include "toolbox/intl/IXMLHandler.h"
#include "toolbox/intl/VUTI.h"
#include "toolbox/kernel/base/VObject.h"
#include "toolbox/kernel/base/VRefPtr.h"
#include "toolbox/kernel/strings/VString.h"

#include <vector>

namespace zorn
{

class VUTIManager;

class VUTIManagerXMLHandler : public VObject, public IXMLHandler
{
public:
    explicit VUTIManagerXMLHandler(VUTIManager* inManager) : fManager(inManager) {}

    IXMLHandler* StartElement(const VString& inElementName) override;
    void EndElement(const VString& inElementName) override;
    void SetAttribute(const VString& inName, const VString& inValue) override;
    void SetText(const VString& inText) override;

    // Forgets the previous document's last key.
    void Reset();

private:
    VUTIManager* fManager;
    VString fElementName;
    VString fKeyText;
    bool fInKey = false;
};

class VUTIManagerArrayHandler : public VObject, public IXMLHandler
{
public:
    explicit VUTIManagerArrayHandler(VUTIManager* inManager) : fManager(inManager) {}

    IXMLHandler* StartElement(const VString& inElementName) override;
    void EndElement(const VString& inElementName) override;
    void SetText(const VString& inText) override;

private:
    VUTIManager* fManager;
};

// A dict of a declaration: keys, and the values that directly follow them.
class VUTIManagerDictHandler : public VObject, public IXMLHandler
{
public:
    void SetAttribute(const VString& inName, const VString& inValue) override;
    // A key's text is gathered as the last key; a string's goes to _SetStringText.
    void SetText(const VString& inText) override;

protected:
    // The element begins: it is the one whose text comes next (when it is a key or a string).
    void _EnterElement(const VString& inElementName);
    // The key is forgotten at the element after it; the element is read by the child, or by
    // this handler (one more reference) when there is none.
    IXMLHandler* _HandElementTo(IXMLHandler* inChild);
    virtual void _SetStringText(const VString& inText) = 0;

    VString fElementName;
    VString fLastKey;
    VString fValueKey; // the key of the string being read
    bool fTextFlag = false;
};

class VUTIManagerUTIHandler : public VUTIManagerDictHandler
{
public:
    // Creates the new, empty type.
    explicit VUTIManagerUTIHandler(VUTIManager* inManager);

    IXMLHandler* StartElement(const VString& inElementName) override;
    void EndElement(const VString& inElementName) override;

private:
    void _SetStringText(const VString& inText) override;
    // Appends the text gathered for the identifier or description to the type. The text of one
    // string is gathered here and given to the type at the next event, so that a long text
    // arriving in many pieces is not copied again for each piece.
    void _FlushValue();

    VUTIManager* fManager;
    VRefPtr<VUTI> fUTI;
    std::vector<VString> fOpenElements;
    VString fValueText;
};

class VUTIManagerUTIKeyUTISpecificationHandler : public VUTIManagerDictHandler
{
public:
    explicit VUTIManagerUTIKeyUTISpecificationHandler(VUTI* inUTI);

    IXMLHandler* StartElement(const VString& inElementName) override;
    void EndElement(const VString& inElementName) override;

private:
    void _SetStringText(const VString& inText) override;

    VRefPtr<VUTI> fUTI;
    VString fExtension;
    VString fOSType;
    VString fMIMEType;
};

class VUTIManagerUTIKeyArrayStringHandler : public VObject, public IXMLHandler
{
public:
    VUTIManagerUTIKeyArrayStringHandler(VUTI* inUTI, const VString& inKey);

    IXMLHandler* StartElement(const VString& inElementName) override;
    void EndElement(const VString& inElementName) override;
    void SetAttribute(const VString& inName, const VString& inValue) override;
    void SetText(const VString& inText) override;

private:
    VRefPtr<VUTI> fUTI;
    VString fKey;
    VString fElementName;
    bool fTextFlag = false;
    VString fConformance;
    VString fExtension;
    VString fOSType;
    VString fMIMEType;
};

} // namespace zorn
