// Value bags as XML: one element per bag, its attributes as XML attributes, each child bag as a
// child element named by its list, and the bag's text (its CDATA attribute "<>") as the element's
// text. The reader is an IXMLHandler pair that fills a bag while VXMLParser runs.
//
// Choices and limits:
// - Every value read back is a string, whatever kind was written; text split into several chunks
//   is concatenated into the CDATA attribute.
// - LoadBagFromXML takes the first root element only, and only when its name matches the
//   expected one (through the collator, not diacritical; an empty name accepts any root). Another
//   root leaves the bag untouched and is no error. It returns the last error of the parse, under
//   a local error context, with the task's debug reports held back for the duration. A bag
//   needs no document type of its own: an internal subset is refused (an external DTD from the
//   entities folder, with parse flag 8, still serves).
// - Stream form: a 32-bit version word 1 in the stream's byte order, then the XML text (with the
//   UTF-16 declaration, element "bag") as a VString. Another version is refused with 'zorn' 207
//   and leaves the bag unchanged.
// - The writers put the bag's own XML (VValueBag::DumpXML: a line feed before each child element,
//   tabs only when indenting) after the declaration; DumpXML's error is returned and nothing is
//   written. Read back, those line feeds become the parent's character data, as all text does.
//   A file is written through its staged SetContent: a failed rewrite leaves the old file as it
//   was, a failed first write leaves no file. A null file returns 0 and writes nothing.
#pragma once

#include "toolbox/intl/IXMLDomWrapper.h"
#include "toolbox/intl/IXMLHandler.h"
#include "toolbox/kernel/errors/VError.h"
#include "toolbox/kernel/strings/VString.h"

#include <cstdint>
#include <vector>

namespace zorn
{

class IFile;
class VBagArray;
class VFolder;
class VStream;
class VValueBag;

VError WriteBagToFileInXML(const VValueBag& inBag, const VString& inElementName, IFile* inFile,
                           bool inIndent);
VError WriteBagToStreamInXML(const VValueBag& inBag, VStream* inStream);
VError ReadBagFromStreamInXML(VValueBag& outBag, VStream* inStream);

VError LoadBagFromXML(const VString& inText, const VString& inElementName, VValueBag& outBag,
                      uint32_t inParseFlags, const VString* inEntitiesBaseURL = nullptr,
                      VFolder* inEntitiesFolder = nullptr);
VError LoadBagFromXML(IFile* inFile, const VString& inElementName, VValueBag& outBag, uint32_t inParseFlags,
                      const VString* inEntitiesBaseURL = nullptr, VFolder* inEntitiesFolder = nullptr);

// DOM forms. WriteBagToDomXML needs an element node ('zorn' 3 otherwise) and returns 'zorn' 1 when
// writing fails; attributes are set as text (a string unchanged, another kind by its XML form
// with the escapes undone, since the serializer escapes), the bag's text the element's text (set
// before the children are added, so it comes first), each child bag becomes a child element
// named by its list (appended to inCreatedElements when given). ReadBagFromDomXML needs an
// element node ('xmlc' 2 otherwise) and reads it as LoadBagFromXML would, with the element's
// name as the expected one.
VError WriteBagToDomXML(const VValueBag& inBag, VXMLDOMNode_opaque* inNode,
                        std::vector<VXMLDOMNode_opaque*>* inCreatedElements);
bool WriteBagToDomXMLElement(const VValueBag& inBag, XERCES_CPP_NAMESPACE::DOMElement* inElement,
                             std::vector<VXMLDOMNode_opaque*>* inCreatedElements);
VError ReadBagFromDomXML(VXMLDOMNode_opaque* inNode, VValueBag& outBag);

// Fills bags below the one it was made with: each child element becomes a new bag added to the
// current one under the element's name.
class VXMLBagHandler : public VObject, public IXMLHandler
{
public:
    explicit VXMLBagHandler(VValueBag* inBag);
    ~VXMLBagHandler() override;

    IXMLHandler* StartElement(const VString& inElementName) override;
    void EndElement(const VString& inElementName) override;
    void SetAttribute(const VString& inName, const VString& inValue) override;
    void SetText(const VString& inText) override;

private:
    void _FlushText();

    VBagArray* fBags; // one reference per entry
    // The text of each open bag, set into its CDATA attribute once, when the element ends: the
    // parser's chunks are gathered here rather than re-copied into the bag one by one.
    std::vector<VString> fTexts;
};

// The document-level handler: the root element's attributes and content go into the bag itself.
class VXMLBagHandler_UniqueElement : public VObject, public IXMLHandler
{
public:
    VXMLBagHandler_UniqueElement(VValueBag* inBag, const VString& inElementName);
    ~VXMLBagHandler_UniqueElement() override;

    IXMLHandler* StartElement(const VString& inElementName) override;
    // The expected name, or the root's name once it was seen when none was expected.
    const VString& GetElementName() const { return fElementName; }

private:
    VValueBag* fBag; // retained
    VString fElementName;
    uint32_t fRootCount = 0;
};

} // namespace zorn
