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
