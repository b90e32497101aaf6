// IXMLHandler: what a reader of XML implements to receive one element's events from VXMLParser.
// Each element goes to the handler that its parent's handler returned from StartElement, so a
// reader is a small tree of handler classes. VNullXMLHandler swallows a whole subtree.
//
// Choices and limits:
// - StartElement returns the child's handler with a reference for the caller, or null to ignore
//   the element and everything inside it.
// - SetText may be called several times for one element: once per chunk the parser reports,
//   CDATA sections included.
// - ResolveEntity answers only with a file inside this handler's entities folder (the default
//   goes through VXMLParser::ResolveEntityFromFolder); the parser checks that again for an
//   override and refuses any other file.
// - processingInstruction by default reads an "xml-stylesheet" instruction's pseudo-attributes
//   into StartStyleSheet / SetStyleSheetAttribute / EndStyleSheet; other targets are ignored.
#pragma once

#include "toolbox/files/VFolder.h"
#include "toolbox/kernel/base/IRefCountable.h"
#include "toolbox/kernel/base/VObject.h"
#include "toolbox/kernel/base/VRefPtr.h"
#include "toolbox/kernel/strings/VString.h"

namespace zorn
{

class VFile;

class IXMLHandler : public IRefCountable
{
public:
    IXMLHandler() = default;
    IXMLHandler(const IXMLHandler&) = delete;
    IXMLHandler& operator=(const IXMLHandler&) = delete;
    ~IXMLHandler() override = default;

    virtual IXMLHandler* StartElement(const VString& inElementName);
    virtual void EndElement(const VString& inElementName);
    virtual void SetAttribute(const VString& inName, const VString& inValue);
    virtual void SetText(const VString& inText);
    // A retained file for the system ID, or null.
    virtual VFile* ResolveEntity(const VString& inSystemID);
    // Named like the SAX call it receives.
    // NOLINTNEXTLINE(readability-identifier-naming)
    virtual void processingInstruction(const VString& inTarget, const VString& inData);
    virtual void StartStyleSheet();
    virtual void SetStyleSheetAttribute(const VString& inName, const VString& inValue);
    virtual void EndStyleSheet();

    // Retains the new folder, releases the old one and keeps the base URL.
    void SetEntitiesLocalFolder(const VString& inBaseURL, VFolder* inFolder);
    VFolder* GetEntitiesFolder() const { return fEntitiesFolder.Get(); }

    // The XML 1.0 "Char" production.
    static bool IsXMLChar(UniChar inChar);
    // U+0020, U+0009, U+000A, U+000C, U+000D.
    static bool WCharIsSpace(UniChar inChar);

private:
    VString fEntitiesBaseURL;
    VRefPtr<VFolder> fEntitiesFolder;
};

class VNullXMLHandler : public VObject, public IXMLHandler
{
public:
    IXMLHandler* StartElement(const VString& inElementName) override;
};

} // namespace zorn
