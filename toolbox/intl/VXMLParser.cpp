#include "toolbox/intl/VXMLParser.h"

#include "toolbox/files/VFile.h"
#include "toolbox/files/VFolder.h"
#include "toolbox/intl/IXMLHandler.h"
#include "toolbox/intl/VXMLSecurity.h"
#include "toolbox/kernel/errors/VErrorBase.h"

#include <xercesc/framework/LocalFileInputSource.hpp>
#include <xercesc/framework/MemBufInputSource.hpp>
#include <xercesc/framework/XMLAttr.hpp>
#include <xercesc/framework/XMLDocumentHandler.hpp>
#include <xercesc/framework/XMLElementDecl.hpp>
#include <xercesc/parsers/SAXParser.hpp>
#include <xercesc/sax/EntityResolver.hpp>
#include <xercesc/sax/ErrorHandler.hpp>
#include <xercesc/sax/SAXParseException.hpp>
#include <xercesc/util/OutOfMemoryException.hpp>
#include <xercesc/util/PlatformUtils.hpp>
#include <xercesc/util/XMLException.hpp>
#include <xercesc/util/XMLUni.hpp>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <system_error>
#include <vector>

namespace zorn
{

namespace xml = XERCES_CPP_NAMESPACE;

static_assert(VXMLParser::kEntityExpansionLimit == VXMLSecurity::kEntityExpansionLimit);

// -----------------------------------------------------------------------------------------------
// Library initialisation
// -----------------------------------------------------------------------------------------------

namespace
{

std::mutex sInitLock;
int32_t sInitCount = 0;
int32_t sLibraryInitializations = 0;

} // namespace

bool VXMLParser::Init()
{
    std::lock_guard<std::mutex> lock(sInitLock);
    if (sInitCount++ == 0)
    {
        try
        {
            xml::XMLPlatformUtils::Initialize();
            ++sLibraryInitializations;
        }
        catch (...)
        {
            // The library keeps its own state; the next parse reports what fails.
        }
    }
    return true;
}

void VXMLParser::DeInit()
{
    std::lock_guard<std::mutex> lock(sInitLock);
    if (sInitCount > 0 && --sInitCount == 0)
    {
        xml::XMLPlatformUtils::Terminate();
    }
}

int32_t VXMLParser::GetInitCount()
{
    std::lock_guard<std::mutex> lock(sInitLock);
    return sInitCount;
}

int32_t VXMLParser::GetLibraryInitializations()
{
    std::lock_guard<std::mutex> lock(sInitLock);
    return sLibraryInitializations;
}

// -----------------------------------------------------------------------------------------------
// Entities
// -----------------------------------------------------------------------------------------------

namespace
{

VString _ToVString(const XMLCh* inText)
{
    if (inText == nullptr)
    {
        return VString();
    }
    return VString(reinterpret_cast<const UniChar*>(inText));
}

VString _ToVString(const XMLCh* inText, XMLSize_t inLength)
{
    return VString(reinterpret_cast<const UniChar*>(inText), static_cast<int32_t>(inLength));
}

// The file lies inside the folder, both by its path text and on disk (a link inside the folder
// that points outside it does not count).
bool _IsInsideFolder(const VFile* inFile, const VFolder* inFolder)
{
    if (inFile == nullptr || inFolder == nullptr || !inFile->GetPathRef().IsChildOf(inFolder->GetPathRef()))
    {
        return false;
    }
    VString filePath;
    VString folderPath;
    inFile->GetPlatformPath(filePath, FPS_POSIX);
    inFolder->GetPlatformPath(folderPath, FPS_POSIX);
    std::string fileUTF8 = to_string(filePath);
    std::string folderUTF8 = to_string(folderPath);
    std::error_code error;
    std::filesystem::path realFile = std::filesystem::canonical(fileUTF8, error);
    if (error)
    {
        return false;
    }
    std::filesystem::path realFolder = std::filesystem::canonical(folderUTF8, error);
    if (error)
    {
        return false;
    }
    auto [folderEnd, fileAt] =
        std::mismatch(realFolder.begin(), realFolder.end(), realFile.begin(), realFile.end());
    return folderEnd == realFolder.end() && fileAt != realFile.end();
}

} // namespace

void VXMLParser::SetEntitiesLocalFolder(const VString& inBaseURL, VFolder* inFolder)
{
    fEntitiesFolder.Set(inFolder);
    fEntitiesBaseURL = inBaseURL;
}

VFile* VXMLParser::ResolveEntity(const VString& inSystemID)
{
    return ResolveEntityFromFolder(fEntitiesBaseURL, fEntitiesFolder.Get(), inSystemID);
}

VFile* VXMLParser::ResolveEntityFromFolder(const VString& inBaseURL, VFolder* inFolder,
                                           const VString& inSystemID)
{
    if (inFolder == nullptr || !inSystemID.BeginsWith(inBaseURL, false))
    {
        return nullptr;
    }
    VString relative(inSystemID);
    if (!inBaseURL.IsEmpty())
    {
        int32_t at = relative.Find(inBaseURL, 1, false);
        if (at > 0)
        {
            relative.Remove(at, inBaseURL.GetLength());
        }
    }
    relative.Exchange(u'/', u':');
    // "a//b" becomes "a::b", which climbs back up: only what stays inside the folder counts.
    VFilePath path(inFolder->GetPathRef(), relative, FPS_NATIVE, true);
    if (!path.IsValid() || !path.IsFile() || !path.IsChildOf(inFolder->GetPathRef()))
    {
        return nullptr;
    }
    auto* file = new VFile(path);
    if (!file->Exists() || !_IsInsideFolder(file, inFolder))
    {
        file->Release();
        return nullptr;
    }
    return file;
}

// -----------------------------------------------------------------------------------------------
// The SAX handlers of one parse
// -----------------------------------------------------------------------------------------------

namespace
{

// The parser of one parse and the receiver of its events: the library's SAX parser, whose
// document and document-type callbacks are overridden here so that each event goes straight to
// the handler stack (and the security checks), plus the entity resolver and error handler.
class SAX_Handlers : public xml::SAXParser, public xml::EntityResolver, public xml::ErrorHandler
{
public:
    SAX_Handlers(VXMLParser* inOwner, IXMLHandler* inRoot, VXMLSecurity& inSecurity)
        : xml::SAXParser(nullptr, VXMLSecurity::GetMemoryManager()), fOwner(inOwner), fSecurity(inSecurity),
          fPassUnspecified(inOwner != nullptr && inOwner->IsPassUnspecifiedAttributes())
    {
        inRoot->Retain();
        fStack.push_back(inRoot);
        setEntityResolver(this);
        setErrorHandler(this);
        // Every event comes straight here, the document type's declarations included.
        _Scanner().setDocHandler(this);
        _Scanner().setDocTypeHandler(this);
        fSecurity.Install(_Scanner());
    }
    SAX_Handlers(const SAX_Handlers&) = delete;
    SAX_Handlers& operator=(const SAX_Handlers&) = delete;
    ~SAX_Handlers() override
    {
        for (IXMLHandler* handler : fStack)
        {
            if (handler != nullptr)
            {
                handler->Release();
            }
        }
    }

    int32_t GetRefusedCount() const { return fRefusedCount; }

    // The parser's own overloads of the names that the resolver and error handler share.
    using xml::SAXParser::error;
    using xml::SAXParser::resolveEntity;

    // Document events.
    void startElement(const xml::XMLElementDecl& inDecl, const unsigned int /*inURIId*/,
                      const XMLCh* const /*inPrefix*/, const xml::RefVectorOf<xml::XMLAttr>& inAttributes,
                      const XMLSize_t inAttributeCount, const bool inIsEmpty,
                      const bool /*inIsRoot*/) override
    {
        if (!inIsEmpty)
        {
            fSecurity.StartElement(getScanner());
        }
        IXMLHandler* top = fStack.back();
        if (top == nullptr)
        {
            if (!inIsEmpty)
            {
                fStack.push_back(nullptr);
            }
            return;
        }
        VString name = _ToVString(inDecl.getFullName());
        IXMLHandler* child = top->StartElement(name);
        if (child == nullptr)
        {
            if (!inIsEmpty)
            {
                fStack.push_back(nullptr);
            }
            return;
        }
        if (!inIsEmpty)
        {
            child->Retain();
            fStack.push_back(child);
        }
        for (XMLSize_t i = 0; i < inAttributeCount; ++i)
        {
            const xml::XMLAttr* attribute = inAttributes.elementAt(i);
            if (attribute->getSpecified() || fPassUnspecified)
            {
                child->SetAttribute(_ToVString(attribute->getQName()), _ToVString(attribute->getValue()));
            }
        }
        if (inIsEmpty)
        {
            child->EndElement(name);
        }
        child->Release();
    }

    void endElement(const xml::XMLElementDecl& inDecl, const unsigned int /*inURIId*/,
                    const bool /*inIsRoot*/, const XMLCh* const /*inPrefix*/) override
    {
        fSecurity.EndElement();
        // The root handler stays below every element's entry.
        if (fStack.size() <= 1)
        {
            return;
        }
        IXMLHandler* top = fStack.back();
        if (top != nullptr)
        {
            top->EndElement(_ToVString(inDecl.getFullName()));
            top->Release();
        }
        fStack.pop_back();
    }

    void docCharacters(const XMLCh* const inChars, const XMLSize_t inLength, const bool /*inCData*/) override
    {
        IXMLHandler* top = fStack.back();
        if (top != nullptr)
        {
            top->SetText(_ToVString(inChars, inLength));
        }
    }

    void docPI(const XMLCh* const inTarget, const XMLCh* const inData) override
    {
        IXMLHandler* top = fStack.back();
        if (top != nullptr && inTarget != nullptr && inData != nullptr)
        {
            top->processingInstruction(_ToVString(inTarget), _ToVString(inData));
        }
    }

    void ignorableWhitespace(const XMLCh* const /*inChars*/, const XMLSize_t /*inLength*/,
                             const bool /*inCData*/) override
    {
    }

    // Document type: the security checks, then the library's own handling.
    void doctypeDecl(const xml::DTDElementDecl& inElement, const XMLCh* const inPublicID,
                     const XMLCh* const inSystemID, const bool inHasIntSubset,
                     const bool inHasExtSubset) override
    {
        fSecurity.DoctypeDecl(_Scanner(), inHasIntSubset, inHasExtSubset);
        xml::SAXParser::doctypeDecl(inElement, inPublicID, inSystemID, inHasIntSubset, inHasExtSubset);
    }
    void startIntSubset() override
    {
        fSecurity.StartIntSubset(getScanner());
        xml::SAXParser::startIntSubset();
    }
    void endIntSubset() override
    {
        fSecurity.EndIntSubset(_Scanner());
        xml::SAXParser::endIntSubset();
    }
    void startExtSubset() override
    {
        fSecurity.StartExtSubset();
        xml::SAXParser::startExtSubset();
    }
    void endExtSubset() override
    {
        fSecurity.EndExtSubset(_Scanner());
        xml::SAXParser::endExtSubset();
    }
    void entityDecl(const xml::DTDEntityDecl& inDecl, const bool inIsParameter,
                    const bool inIsIgnored) override
    {
        fSecurity.EntityDecl(getScanner(), inDecl, inIsParameter);
        xml::SAXParser::entityDecl(inDecl, inIsParameter, inIsIgnored);
    }
    void attDef(const xml::DTDElementDecl& inElement, const xml::DTDAttDef& inAttribute,
                const bool inIgnoring) override
    {
        fSecurity.AttributeDefault(getScanner(), inAttribute.getValue());
        xml::SAXParser::attDef(inElement, inAttribute, inIgnoring);
    }

    // The resolver chain is the only way to an external entity: the top handler, then the
    // parser's folder, each accepted only inside the folder that answered. Anything else is
    // refused and reads as empty, so the library never opens a file or a connection itself.
    xml::InputSource* resolveEntity(const XMLCh* const /*inPublicID*/, const XMLCh* const inSystemID) override
    {
        VString systemID = _ToVString(inSystemID);
        VFile* file = nullptr;
        IXMLHandler* top = fStack.back();
        if (top != nullptr)
        {
            file = _Accept(top->ResolveEntity(systemID), top->GetEntitiesFolder());
        }
        if (file == nullptr && fOwner != nullptr)
        {
            file = _Accept(fOwner->ResolveEntity(systemID), fOwner->GetEntitiesFolder());
        }
        if (file != nullptr)
        {
            VString path;
            file->GetPlatformPath(path, FPS_POSIX);
            file->Release();
            return new xml::LocalFileInputSource(reinterpret_cast<const XMLCh*>(path.GetCPointer()));
        }
        ++fRefusedCount;
        auto* error = new VErrorBase(VE_XML_ERROR);
        error->SetString(VString("message"), VString("external entity refused: ") + systemID);
        error->SetString(VString("systemID"), systemID);
        error->SetString(VString("publicID"), VString());
        error->SetLong8(VString("line"), 0);
        error->SetLong8(VString("column"), 0);
        _PushRetainedError(error);
        static const XMLByte kEmpty[1] = {0};
        return new xml::MemBufInputSource(kEmpty, 0, inSystemID != nullptr ? inSystemID : u"", false);
    }

    void warning(const xml::SAXParseException& /*inException*/) override {}
    void error(const xml::SAXParseException& inException) override { _Report(VE_XML_ERROR, inException); }
    void fatalError(const xml::SAXParseException& inException) override
    {
        _Report(VE_XML_FATAL_ERROR, inException);
    }
    void resetErrors() override {}

private:
    // The scanner, to change its limits and validation as the document type is read.
    xml::XMLScanner& _Scanner() { return const_cast<xml::XMLScanner&>(getScanner()); }

    static VFile* _Accept(VFile* inFile, VFolder* inFolder)
    {
        if (inFile != nullptr && !_IsInsideFolder(inFile, inFolder))
        {
            inFile->Release();
            return nullptr;
        }
        return inFile;
    }

    static void _Report(VError inCode, const xml::SAXParseException& inException)
    {
        auto* error = new VErrorBase(inCode);
        error->SetString(VString("message"), _ToVString(inException.getMessage()));
        error->SetString(VString("systemID"), _ToVString(inException.getSystemId()));
        error->SetString(VString("publicID"), _ToVString(inException.getPublicId()));
        error->SetLong8(VString("line"), static_cast<int64_t>(inException.getLineNumber()));
        error->SetLong8(VString("column"), static_cast<int64_t>(inException.getColumnNumber()));
        _PushRetainedError(error);
    }

    VXMLParser* fOwner;
    VXMLSecurity& fSecurity;
    bool fPassUnspecified;
    // Never empty: the root handler stays at the bottom.
    std::vector<IXMLHandler*> fStack;
    int32_t fRefusedCount = 0;
};

// An error that escaped the library as an exception, reported like a fatal parse error.
void _ReportException(const VString& inMessage)
{
    auto* error = new VErrorBase(VE_XML_FATAL_ERROR);
    error->SetString(VString("message"), inMessage);
    _PushRetainedError(error);
}

} // namespace

// -----------------------------------------------------------------------------------------------
// Parsing
// -----------------------------------------------------------------------------------------------

class VXMLParser::_SourceMaker
{
public:
    _SourceMaker(size_t inSize, std::function<xml::InputSource*()> inMake)
        : fSize(inSize), fMake(std::move(inMake))
    {
    }
    size_t GetSize() const { return fSize; }
    xml::InputSource* Make() const { return fMake(); }

private:
    size_t fSize;
    std::function<xml::InputSource*()> fMake;
};

bool VXMLParser::_Parse(const _SourceMaker& inSource, IXMLHandler* inHandler, uint32_t inFlags)
{
    if (inHandler == nullptr)
    {
        return false;
    }
    StXMLParserInit use;
    bool ok = false;
    fPassUnspecifiedAttributes = (inFlags & XML_PassUnspecifiedAttributes) != 0;
    VXMLSecurity security(inSource.GetSize(), (inFlags & XML_RefuseInternalSubset) != 0,
                          (inFlags & XML_LoadExternalDTD) != 0);
    try
    {
        std::unique_ptr<xml::InputSource> source(inSource.Make());
        SAX_Handlers parser(this, inHandler, security);
        parser.setDisableDefaultEntityResolution(true);

        if ((inFlags & XML_ValidationAlways) != 0)
        {
            parser.setValidationScheme(xml::SAXParser::Val_Always);
        }
        else if ((inFlags & XML_ValidationNever) != 0)
        {
            parser.setValidationScheme(xml::SAXParser::Val_Never);
        }
        else
        {
            parser.setValidationScheme(xml::SAXParser::Val_Auto);
        }
        bool namespaces = (inFlags & XML_DoNamespaces) != 0;
        parser.setDoSchema(false);
        if ((inFlags & XML_DoSchema) != 0 && (inFlags & XML_ValidationNever) == 0)
        {
            parser.setDoSchema(true);
            if (!fExternalSchemaLocation.IsEmpty())
            {
                parser.setExternalSchemaLocation(
                    reinterpret_cast<const XMLCh*>(fExternalSchemaLocation.GetCPointer()));
            }
            if (!fExternalNoNamespaceSchemaLocation.IsEmpty())
            {
                parser.setExternalNoNamespaceSchemaLocation(
                    reinterpret_cast<const XMLCh*>(fExternalNoNamespaceSchemaLocation.GetCPointer()));
            }
            namespaces = true;
        }
        parser.setDoNamespaces(namespaces);
        parser.setLoadExternalDTD((inFlags & XML_LoadExternalDTD) != 0);

        bool refused = false;
        try
        {
            parser.parse(*source);
        }
        catch (const VXMLSecurity::Refusal& refusal)
        {
            VXMLSecurity::ReportRefusal(refusal);
            refused = true;
        }
        ok = !refused && parser.getErrorCount() == 0 && parser.GetRefusedCount() == 0;
    }
    catch (const xml::OutOfMemoryException&)
    {
        _ReportException(security.WasAllocationRefused() ? security.GetAllocationRefusalMessage()
                                                         : VString("out of memory"));
    }
    catch (const xml::XMLException& exception)
    {
        _ReportException(_ToVString(exception.getMessage()));
    }
    catch (const xml::SAXParseException& exception)
    {
        _ReportException(_ToVString(exception.getMessage()));
    }
    catch (...)
    {
        _ReportException(VString("unexpected failure of the XML parser"));
    }
    return ok;
}

bool VXMLParser::Parse(IFile* inFile, IXMLHandler* inHandler, uint32_t inFlags)
{
    if (inFile == nullptr)
    {
        return false;
    }
    VString path;
    inFile->GetPlatformPath(path, FPS_POSIX);
    if (dynamic_cast<VFile*>(inFile) != nullptr)
    {
        std::error_code sizeError;
        auto fileSize = std::filesystem::file_size(to_string(path), sizeError);
        return _Parse(_SourceMaker(sizeError ? 0 : static_cast<size_t>(fileSize),
                                   [&path]() {
                                       return new xml::LocalFileInputSource(
                                           reinterpret_cast<const XMLCh*>(path.GetCPointer()));
                                   }),
                      inHandler, inFlags);
    }
    VFileContentBuffer content;
    if (inFile->GetContent(content) != VE_OK)
    {
        return false;
    }
    return _Parse(_SourceMaker(content.GetDataSize(),
                               [&content, &path]()
                               {
                                   return new xml::MemBufInputSource(
                                       static_cast<const XMLByte*>(content.GetDataPtr()),
                                       content.GetDataSize(),
                                       reinterpret_cast<const XMLCh*>(path.GetCPointer()), false);
                               }),
                  inHandler, inFlags);
}

bool VXMLParser::Parse(const void* inData, size_t inSize, IXMLHandler* inHandler, uint32_t inFlags)
{
    static const XMLByte kEmpty[1] = {0};
    const auto* bytes = inData != nullptr ? static_cast<const XMLByte*>(inData) : kEmpty;
    size_t size = inData != nullptr ? inSize : 0;
    return _Parse(_SourceMaker(size, [bytes, size]()
                               { return new xml::MemBufInputSource(bytes, size, "frommem", false); }),
                  inHandler, inFlags);
}

bool VXMLParser::Parse(const VString& inText, IXMLHandler* inHandler, uint32_t inFlags)
{
    static const XMLByte kEmpty[2] = {0, 0};
    const auto* bytes =
        inText.GetCPointer() != nullptr ? reinterpret_cast<const XMLByte*>(inText.GetCPointer()) : kEmpty;
    size_t size = static_cast<size_t>(inText.GetLength()) * 2;
    return _Parse(_SourceMaker(size,
                               [bytes, size]()
                               {
                                   auto* source = new xml::MemBufInputSource(bytes, size, "frommem", false);
                                   source->setEncoding(xml::XMLUni::fgUTF16LEncodingString);
                                   return source;
                               }),
                  inHandler, inFlags);
}

} // namespace zorn
