#include "toolbox/intl/IXMLDomWrapper.h"

#include "toolbox/files/VFile.h"
#include "toolbox/files/VURL.h"
#include "toolbox/intl/IXMLHandler.h"
#include "toolbox/intl/VXMLParser.h"
#include "toolbox/intl/VXMLSecurity.h"
#include "toolbox/kernel/errors/VErrorBase.h"
#include "toolbox/kernel/streams/VStream.h"
#include "toolbox/kernel/values/VBlob.h"
#include "toolbox/kernel/values/VDuration.h"
#include "toolbox/kernel/values/VReal.h"
#include "toolbox/kernel/values/VScalarValues.h"
#include "toolbox/kernel/values/VTime.h"

#include <xercesc/dom/DOM.hpp>
#include <xercesc/framework/MemBufFormatTarget.hpp>
#include <xercesc/framework/MemBufInputSource.hpp>
#include <xercesc/framework/Wrapper4InputSource.hpp>
#include <xercesc/parsers/DOMLSParserImpl.hpp>
#include <xercesc/util/OutOfMemoryException.hpp>
#include <xercesc/util/XMLUni.hpp>
#include <xercesc/validators/DTD/DTDAttDef.hpp>
#include <xercesc/validators/DTD/DTDElementDecl.hpp>

#include <memory>
#include <new>
#include <vector>

namespace zorn
{

namespace xml = XERCES_CPP_NAMESPACE;

namespace
{

const XMLCh kXMLNamespace[] = u"http://www.w3.org/XML/1998/namespace";
const XMLCh kXMLNSNamespace[] = u"http://www.w3.org/2000/xmlns/";

xml::DOMNode* _Node(VXMLDOMNode_opaque* inNode)
{
    return reinterpret_cast<xml::DOMNode*>(inNode);
}

xml::DOMElement* _Element(VXMLDOMElement_opaque* inElement)
{
    return reinterpret_cast<xml::DOMElement*>(inElement);
}

VXMLDOMElement_opaque* _Opaque(xml::DOMElement* inElement)
{
    return reinterpret_cast<VXMLDOMElement_opaque*>(inElement);
}

VXMLDOMDocument_opaque* _Opaque(xml::DOMDocument* inDocument)
{
    return reinterpret_cast<VXMLDOMDocument_opaque*>(inDocument);
}

const XMLCh* _X(const VString& inText)
{
    const UniChar* text = inText.GetCPointer();
    return text != nullptr ? reinterpret_cast<const XMLCh*>(text) : u"";
}

VString _ToVString(const XMLCh* inText)
{
    return inText == nullptr ? VString() : VString(reinterpret_cast<const UniChar*>(inText));
}

xml::DOMDocument* _DocumentOf(xml::DOMNode* inNode)
{
    if (inNode == nullptr)
    {
        return nullptr;
    }
    if (inNode->getNodeType() == xml::DOMNode::DOCUMENT_NODE)
    {
        return static_cast<xml::DOMDocument*>(inNode);
    }
    return inNode->getOwnerDocument();
}

// The namespace of a prefixed name on the element: its declaration in scope, else the standard
// namespace of "xml" and "xmlns"; null for a name without prefix or an unknown prefix.
const XMLCh* _NamespaceOfPrefix(const xml::DOMElement* inElement, const VString& inName,
                                VString& outLocalName)
{
    int32_t colon = inName.FindUniChar(u':');
    outLocalName = inName;
    if (colon < 2)
    {
        return nullptr;
    }
    VString prefix;
    inName.GetSubString(1, colon - 1, prefix);
    inName.GetSubString(colon + 1, inName.GetLength() - colon, outLocalName);
    const XMLCh* uri = inElement->lookupNamespaceURI(_X(prefix));
    if (uri == nullptr && prefix.EqualToString(VString("xml"), true))
    {
        uri = kXMLNamespace;
    }
    else if (uri == nullptr && prefix.EqualToString(VString("xmlns"), true))
    {
        uri = kXMLNSNamespace;
    }
    return uri;
}

// Declares the attribute an ID, by namespace when it has one.
void _DeclareID(xml::DOMElement* inElement, const VString& inName, const XMLCh* inNamespace,
                const VString& inLocal)
{
    if (inNamespace != nullptr && inElement->getAttributeNodeNS(inNamespace, _X(inLocal)) != nullptr)
    {
        inElement->setIdAttributeNS(inNamespace, _X(inLocal), true);
    }
    else if (inElement->getAttributeNode(_X(inName)) != nullptr)
    {
        inElement->setIdAttribute(_X(inName), true);
    }
}

// The library's DOM parser under the toolbox's limits: the document type's declarations and each
// element pass through VXMLSecurity first.
class HardenedDOMParser : public xml::DOMLSParserImpl
{
public:
    explicit HardenedDOMParser(VXMLSecurity& inSecurity)
        : xml::DOMLSParserImpl(nullptr, VXMLSecurity::GetMemoryManager()), fSecurity(inSecurity)
    {
        fSecurity.Install(*getScanner());
    }

    void startElement(const xml::XMLElementDecl& inDecl, const unsigned int inURIId,
                      const XMLCh* const inPrefix, const xml::RefVectorOf<xml::XMLAttr>& inAttributes,
                      const XMLSize_t inAttributeCount, const bool inIsEmpty, const bool inIsRoot) override
    {
        if (!inIsEmpty)
        {
            fSecurity.StartElement(*getScanner());
        }
        xml::DOMLSParserImpl::startElement(inDecl, inURIId, inPrefix, inAttributes, inAttributeCount,
                                           inIsEmpty, inIsRoot);
    }
    void endElement(const xml::XMLElementDecl& inDecl, const unsigned int inURIId, const bool inIsRoot,
                    const XMLCh* const inPrefix) override
    {
        fSecurity.EndElement();
        xml::DOMLSParserImpl::endElement(inDecl, inURIId, inIsRoot, inPrefix);
    }
    void doctypeDecl(const xml::DTDElementDecl& inElement, const XMLCh* const inPublicID,
                     const XMLCh* const inSystemID, const bool inHasIntSubset,
                     const bool inHasExtSubset) override
    {
        fSecurity.DoctypeDecl(*getScanner(), inHasIntSubset, inHasExtSubset);
        xml::DOMLSParserImpl::doctypeDecl(inElement, inPublicID, inSystemID, inHasIntSubset, inHasExtSubset);
    }
    void startIntSubset() override
    {
        fSecurity.StartIntSubset(*getScanner());
        xml::DOMLSParserImpl::startIntSubset();
    }
    void endIntSubset() override
    {
        fSecurity.EndIntSubset(*getScanner());
        xml::DOMLSParserImpl::endIntSubset();
    }
    void startExtSubset() override
    {
        fSecurity.StartExtSubset();
        xml::DOMLSParserImpl::startExtSubset();
    }
    void endExtSubset() override
    {
        fSecurity.EndExtSubset(*getScanner());
        xml::DOMLSParserImpl::endExtSubset();
    }
    void entityDecl(const xml::DTDEntityDecl& inDecl, const bool inIsParameter,
                    const bool inIsIgnored) override
    {
        fSecurity.EntityDecl(*getScanner(), inDecl, inIsParameter);
        xml::DOMLSParserImpl::entityDecl(inDecl, inIsParameter, inIsIgnored);
    }
    void attDef(const xml::DTDElementDecl& inElement, const xml::DTDAttDef& inAttribute,
                const bool inIgnoring) override
    {
        fSecurity.AttributeDefault(*getScanner(), inAttribute.getValue());
        xml::DOMLSParserImpl::attDef(inElement, inAttribute, inIgnoring);
    }

private:
    VXMLSecurity& fSecurity;
};

// Pushes the library's errors like the SAX path does, and counts them.
class DOMErrors : public xml::DOMErrorHandler
{
public:
    bool handleError(const xml::DOMError& inError) override
    {
        if (inError.getSeverity() == xml::DOMError::DOM_SEVERITY_WARNING)
        {
            return true;
        }
        ++fCount;
        bool fatal = inError.getSeverity() == xml::DOMError::DOM_SEVERITY_FATAL_ERROR;
        auto* error = new VErrorBase(fatal ? VE_XML_FATAL_ERROR : VE_XML_ERROR);
        error->SetString(VString("message"), _ToVString(inError.getMessage()));
        const xml::DOMLocator* where = inError.getLocation();
        error->SetString(VString("systemID"), where != nullptr ? _ToVString(where->getURI()) : VString());
        error->SetString(VString("publicID"), VString());
        error->SetLong8(VString("line"), where != nullptr ? static_cast<int64_t>(where->getLineNumber()) : 0);
        error->SetLong8(VString("column"),
                        where != nullptr ? static_cast<int64_t>(where->getColumnNumber()) : 0);
        _PushRetainedError(error);
        return !fatal;
    }
    int32_t GetCount() const { return fCount; }

private:
    int32_t fCount = 0;
};

xml::DOMImplementation* _Implementation()
{
    static const XMLCh kLS[] = u"LS";
    return xml::DOMImplementationRegistry::getDOMImplementation(kLS);
}

// The text of a value for a text node.
VString _ValueText(const VValueSingle& inValue, uint32_t inOptions)
{
    VString text;
    switch (inValue.GetValueKind())
    {
    case VK_BOOLEAN:
        text = inValue.GetBoolean() ? VString("true") : VString("false");
        break;
    case VK_BYTE:
    case VK_WORD:
    case VK_LONG:
    case VK_LONG8:
        text.FromLong8(inValue.GetLong8());
        break;
    case VK_REAL:
        VReal::RealToXMLString(inValue.GetReal(), text);
        break;
    case VK_TIME:
    case VK_DURATION:
        inValue.GetXMLString(text, inOptions);
        break;
    default:
        inValue.GetString(text);
        break;
    }
    return text;
}

// The text of the element's first child when it is of the node type, else empty.
VString _FirstChildText(VXMLDOMElement_opaque* inElement, xml::DOMNode::NodeType inType)
{
    try
    {
        xml::DOMElement* element = _Element(inElement);
        xml::DOMNode* first = element != nullptr ? element->getFirstChild() : nullptr;
        if (first != nullptr && first->getNodeType() == inType)
        {
            return _ToVString(first->getNodeValue());
        }
    }
    catch (...)
    {
    }
    return VString();
}

bool _SetText(VXMLDOMElement_opaque* inElement, const VString& inText)
{
    try
    {
        xml::DOMElement* element = _Element(inElement);
        if (element == nullptr)
        {
            return false;
        }
        xml::DOMNode* first = element->getFirstChild();
        if (first != nullptr && first->getNodeType() == xml::DOMNode::TEXT_NODE)
        {
            first->setNodeValue(_X(inText));
            return true;
        }
        while (xml::DOMNode* child = element->getFirstChild())
        {
            element->removeChild(child)->release();
        }
        element->appendChild(element->getOwnerDocument()->createTextNode(_X(inText)));
        return true;
    }
    catch (...)
    {
        return false;
    }
}

VXMLDOMElement_opaque* _AddWithText(VXMLDOMElement_opaque* inParent, const VString& inName,
                                    const VString* inText)
{
    try
    {
        xml::DOMElement* parent = _Element(inParent);
        if (parent == nullptr)
        {
            return nullptr;
        }
        VXMLDOMElement_opaque* created = IXMLDomWrapper::CreateElement(_Opaque(parent->getOwnerDocument()),
                                                                       inParent, inName.GetCPointer());
        if (created == nullptr)
        {
            return nullptr;
        }
        parent->appendChild(_Element(created));
        if (inText != nullptr)
        {
            _Element(created)->appendChild(parent->getOwnerDocument()->createTextNode(_X(*inText)));
        }
        return created;
    }
    catch (...)
    {
        return nullptr;
    }
}

// The unit width of an encoding for line-end conversion, 0 when it is not converted.
size_t _UnitWidth(const VString& inEncoding)
{
    if (inEncoding.EqualToString(VString("UTF-8"), false))
    {
        return 1;
    }
    if (inEncoding.EqualToString(VString("UTF-16"), false))
    {
        return 2;
    }
    for (const char* name : {"UTF-32", "UCS4", "UCS-4", "UCS_4"})
    {
        if (inEncoding.EqualToString(VString(name), false))
        {
            return 4;
        }
    }
    return 0;
}

// Every line end (LF, CR LF, lone CR) becomes one CR, in units of the width (native order).
template <class TUnit>
void _ConvertLineEnds(const uint8_t* inBytes, size_t inSize, std::vector<uint8_t>& outBytes)
{
    const auto* units = reinterpret_cast<const TUnit*>(inBytes);
    size_t count = inSize / sizeof(TUnit);
    std::vector<TUnit> out;
    out.reserve(count);
    for (size_t i = 0; i < count; ++i)
    {
        TUnit unit = units[i];
        if (unit == TUnit('\r') && i + 1 < count && units[i + 1] == TUnit('\n'))
        {
            continue; // the LF that follows is written as the CR
        }
        out.push_back(unit == TUnit('\n') ? TUnit('\r') : unit);
    }
    const auto* bytes = reinterpret_cast<const uint8_t*>(out.data());
    outBytes.assign(bytes, bytes + out.size() * sizeof(TUnit));
    // A trailing partial unit is kept as it was.
    outBytes.insert(outBytes.end(), inBytes + count * sizeof(TUnit), inBytes + inSize);
}

} // namespace

// -----------------------------------------------------------------------------------------------
// Documents
// -----------------------------------------------------------------------------------------------

VXMLDOMDocument_opaque* IXMLDomWrapper::CreateNodeDocumentFromBuffer(const void* inData, size_t inSize,
                                                                     const VString* inSystemID)
{
    StXMLParserInit use;
    static const XMLByte kEmpty[1] = {0};
    VXMLSecurity security(inSize, false, false);
    xml::DOMDocument* document = nullptr;
    try
    {
        HardenedDOMParser parser(security);
        DOMErrors errors;
        xml::DOMConfiguration* config = parser.getDomConfig();
        config->setParameter(xml::XMLUni::fgDOMEntities, true);
        config->setParameter(xml::XMLUni::fgDOMNamespaces, true);
        config->setParameter(xml::XMLUni::fgXercesValidationErrorAsFatal, true);
        config->setParameter(xml::XMLUni::fgXercesContinueAfterFatalError, false);
        config->setParameter(xml::XMLUni::fgDOMValidate, false);
        config->setParameter(xml::XMLUni::fgXercesLoadExternalDTD, false);
        config->setParameter(xml::XMLUni::fgXercesUserAdoptsDOMDocument, true);
        config->setParameter(xml::XMLUni::fgXercesDisableDefaultEntityResolution, true);
        config->setParameter(xml::XMLUni::fgDOMErrorHandler, static_cast<xml::DOMErrorHandler*>(&errors));

        xml::MemBufInputSource source(inData != nullptr ? static_cast<const XMLByte*>(inData) : kEmpty,
                                      inData != nullptr ? inSize : 0, u"Blob", false);
        if (inSystemID != nullptr)
        {
            source.setSystemId(_X(*inSystemID));
        }
        xml::Wrapper4InputSource input(&source, false);
        try
        {
            document = parser.parse(&input);
        }
        catch (const VXMLSecurity::Refusal& refusal)
        {
            VXMLSecurity::ReportRefusal(refusal);
            document = parser.adoptDocument();
            if (document == nullptr)
            {
                document = parser.getDocument();
            }
            if (document != nullptr)
            {
                document->release();
            }
            return nullptr;
        }
        if (document != nullptr && errors.GetCount() > 0)
        {
            document->release();
            document = nullptr;
        }
    }
    catch (const xml::OutOfMemoryException&)
    {
        auto* error = new VErrorBase(VE_XML_FATAL_ERROR);
        error->SetString(VString("message"), security.WasAllocationRefused()
                                                 ? security.GetAllocationRefusalMessage()
                                                 : VString("out of memory"));
        _PushRetainedError(error);
        document = nullptr;
    }
    catch (...)
    {
        document = nullptr;
    }
    return _Opaque(document);
}

VXMLDOMDocument_opaque* IXMLDomWrapper::CloneNodeDocument(VXMLDOMNode_opaque* inNode)
{
    try
    {
        xml::DOMDocument* document = _DocumentOf(_Node(inNode));
        if (document == nullptr)
        {
            return nullptr;
        }
        auto* clone = static_cast<xml::DOMDocument*>(document->cloneNode(true));
        if (clone != nullptr)
        {
            clone->setDocumentURI(document->getDocumentURI());
        }
        return _Opaque(clone);
    }
    catch (...)
    {
        return nullptr;
    }
}

void IXMLDomWrapper::ReleaseNode(VXMLDOMNode_opaque* inNode)
{
    try
    {
        if (xml::DOMNode* node = _Node(inNode))
        {
            node->release();
        }
    }
    catch (...)
    {
    }
}

VXMLDOMNode_opaque* IXMLDomWrapper::FromDocument(VXMLDOMDocument_opaque* inDocument)
{
    auto* document = reinterpret_cast<xml::DOMDocument*>(inDocument);
    return reinterpret_cast<VXMLDOMNode_opaque*>(static_cast<xml::DOMNode*>(document));
}

VXMLDOMDocument_opaque* IXMLDomWrapper::GetNodeDocument(VXMLDOMNode_opaque* inNode)
{
    try
    {
        return _Opaque(_DocumentOf(_Node(inNode)));
    }
    catch (...)
    {
        return nullptr;
    }
}

VXMLDOMElement_opaque* IXMLDomWrapper::GetRootNodeElement(VXMLDOMNode_opaque* inNode)
{
    try
    {
        xml::DOMDocument* document = _DocumentOf(_Node(inNode));
        return document != nullptr ? _Opaque(document->getDocumentElement()) : nullptr;
    }
    catch (...)
    {
        return nullptr;
    }
}

bool IXMLDomWrapper::GetDocumentURL(VXMLDOMNode_opaque* inNode, VURL& outURL)
{
    try
    {
        xml::DOMDocument* document = _DocumentOf(_Node(inNode));
        if (document == nullptr)
        {
            return false;
        }
        VString uri = _ToVString(document->getDocumentURI());
        outURL.FromString(uri, uri.BeginsWith(VString("file://"), true));
        return outURL.IsConform();
    }
    catch (...)
    {
        return false;
    }
}

VXMLDOMElement_opaque* IXMLDomWrapper::FindNodeElementByID(VXMLDOMNode_opaque* inNode, const VString& inID)
{
    try
    {
        xml::DOMDocument* document = _DocumentOf(_Node(inNode));
        return document != nullptr ? _Opaque(document->getElementById(_X(inID))) : nullptr;
    }
    catch (...)
    {
        return nullptr;
    }
}

void IXMLDomWrapper::RegisterNodeIDs(VXMLDOMNode_opaque* inNode)
{
    try
    {
        std::vector<xml::DOMNode*> pending;
        if (xml::DOMNode* node = _Node(inNode))
        {
            pending.push_back(node);
        }
        while (!pending.empty())
        {
            xml::DOMNode* node = pending.back();
            pending.pop_back();
            // Children are pushed last first, so that they come out in document order.
            for (xml::DOMNode* child = node->getLastChild(); child != nullptr;
                 child = child->getPreviousSibling())
            {
                pending.push_back(child);
            }
            if (node->getNodeType() != xml::DOMNode::ELEMENT_NODE)
            {
                continue;
            }
            auto* element = static_cast<xml::DOMElement*>(node);
            xml::DOMNamedNodeMap* attributes = element->getAttributes();
            for (XMLSize_t i = 0; attributes != nullptr && i < attributes->getLength(); ++i)
            {
                VString name = _ToVString(attributes->item(i)->getNodeName());
                VString local;
                const XMLCh* uri = _NamespaceOfPrefix(element, name, local);
                if (uri != nullptr && local.EqualToString(VString("id"), true))
                {
                    _DeclareID(element, name, uri, local);
                }
                else if (name.EqualToString(VString("id"), true))
                {
                    _DeclareID(element, name, nullptr, name);
                }
            }
        }
    }
    catch (...)
    {
    }
}

// -----------------------------------------------------------------------------------------------
// Navigation
// -----------------------------------------------------------------------------------------------

int32_t IXMLDomWrapper::GetNumberOfChildrenNodes(VXMLDOMNode_opaque* inNode)
{
    try
    {
        xml::DOMNode* node = _Node(inNode);
        return node != nullptr ? static_cast<int32_t>(node->getChildNodes()->getLength()) : 0;
    }
    catch (...)
    {
        return 0;
    }
}

VXMLDOMNode_opaque* IXMLDomWrapper::GetChildNode(VXMLDOMNode_opaque* inNode, int32_t inIndex)
{
    try
    {
        xml::DOMNode* node = _Node(inNode);
        if (node == nullptr || inIndex < 0)
        {
            return nullptr;
        }
        return reinterpret_cast<VXMLDOMNode_opaque*>(
            node->getChildNodes()->item(static_cast<XMLSize_t>(inIndex)));
    }
    catch (...)
    {
        return nullptr;
    }
}

VXMLDOMElement_opaque* IXMLDomWrapper::GetNodeElement(VXMLDOMNode_opaque* inNode)
{
    xml::DOMNode* node = _Node(inNode);
    return node != nullptr && node->getNodeType() == xml::DOMNode::ELEMENT_NODE
               ? _Opaque(static_cast<xml::DOMElement*>(node))
               : nullptr;
}

VXMLDOMNode_opaque* IXMLDomWrapper::GetNodeFromNodeElement(VXMLDOMElement_opaque* inElement)
{
    return reinterpret_cast<VXMLDOMNode_opaque*>(static_cast<xml::DOMNode*>(_Element(inElement)));
}

void IXMLDomWrapper::GetNodeElementName(VXMLDOMElement_opaque* inElement, VString& outName)
{
    outName.Clear();
    try
    {
        if (xml::DOMElement* element = _Element(inElement))
        {
            outName = _ToVString(element->getNodeName());
        }
    }
    catch (...)
    {
        outName.Clear();
    }
}

// -----------------------------------------------------------------------------------------------
// Walking
// -----------------------------------------------------------------------------------------------

bool IXMLDomWrapper::Parse(VXMLDOMNode_opaque* inNode, IXMLHandler* inHandler)
{
    xml::DOMNode* start = _Node(inNode);
    if (start == nullptr || inHandler == nullptr)
    {
        return false;
    }
    // One frame per node whose children are being walked; an element's frame owns its handler.
    struct Frame
    {
        IXMLHandler* fHandler;
        xml::DOMNode* fNext;
        VString fName;
        bool fOwnsHandler;
        bool fResult;
    };
    std::vector<Frame> frames;
    // Opens an element under the handler: false when the handler refuses it.
    auto open = [&frames](xml::DOMElement* inElement, IXMLHandler* inParent)
    {
        VString name = _ToVString(inElement->getNodeName());
        IXMLHandler* child = inParent->StartElement(name);
        if (child == nullptr)
        {
            return false;
        }
        xml::DOMNamedNodeMap* attributes = inElement->getAttributes();
        for (XMLSize_t i = 0; attributes != nullptr && i < attributes->getLength(); ++i)
        {
            xml::DOMNode* attribute = attributes->item(i);
            child->SetAttribute(_ToVString(attribute->getNodeName()), _ToVString(attribute->getNodeValue()));
        }
        frames.push_back(Frame{child, inElement->getFirstChild(), name, true, true});
        return true;
    };
    bool result = true;
    try
    {
        if (start->getNodeType() == xml::DOMNode::ELEMENT_NODE)
        {
            if (!open(static_cast<xml::DOMElement*>(start), inHandler))
            {
                return false;
            }
        }
        else
        {
            frames.push_back(Frame{inHandler, start->getFirstChild(), VString(), false, true});
        }
        while (!frames.empty())
        {
            xml::DOMNode* node = frames.back().fNext;
            if (node == nullptr)
            {
                Frame done = frames.back();
                frames.pop_back();
                if (done.fOwnsHandler)
                {
                    done.fHandler->EndElement(done.fName);
                    done.fHandler->Release();
                }
                if (frames.empty())
                {
                    result = done.fResult;
                }
                else
                {
                    frames.back().fResult = done.fResult;
                }
                continue;
            }
            frames.back().fNext = node->getNextSibling();
            IXMLHandler* handler = frames.back().fHandler;
            switch (node->getNodeType())
            {
            case xml::DOMNode::ELEMENT_NODE:
                if (!open(static_cast<xml::DOMElement*>(node), handler))
                {
                    frames.back().fResult = false;
                }
                break;
            case xml::DOMNode::TEXT_NODE:
            case xml::DOMNode::CDATA_SECTION_NODE:
                handler->SetText(_ToVString(node->getNodeValue()));
                break;
            case xml::DOMNode::PROCESSING_INSTRUCTION_NODE:
            {
                const XMLCh* target = node->getNodeName();
                const XMLCh* data = node->getNodeValue();
                if (target != nullptr && data != nullptr)
                {
                    handler->processingInstruction(_ToVString(target), _ToVString(data));
                }
                break;
            }
            default:
                break;
            }
        }
    }
    catch (...)
    {
        result = false;
    }
    for (Frame& frame : frames)
    {
        if (frame.fOwnsHandler)
        {
            frame.fHandler->Release();
        }
    }
    return result;
}

// -----------------------------------------------------------------------------------------------
// Editing
// -----------------------------------------------------------------------------------------------

VXMLDOMElement_opaque* IXMLDomWrapper::CreateElement(VXMLDOMDocument_opaque* inDocument,
                                                     VXMLDOMElement_opaque* inParent,
                                                     const UniChar* inQualifiedName)
{
    try
    {
        auto* document = reinterpret_cast<xml::DOMDocument*>(inDocument);
        if (document == nullptr || inQualifiedName == nullptr)
        {
            return nullptr;
        }
        VString name(inQualifiedName);
        if (xml::DOMElement* parent = _Element(inParent))
        {
            int32_t colon = name.FindUniChar(u':');
            VString prefix;
            if (colon > 0)
            {
                name.GetSubString(1, colon - 1, prefix);
            }
            const XMLCh* uri = parent->lookupNamespaceURI(prefix.IsEmpty() ? nullptr : _X(prefix));
            if (uri != nullptr)
            {
                return _Opaque(document->createElementNS(uri, _X(name)));
            }
        }
        return _Opaque(document->createElement(_X(name)));
    }
    catch (...)
    {
        return nullptr;
    }
}

VXMLDOMElement_opaque* IXMLDomWrapper::AddNodeElement(VXMLDOMElement_opaque* inParent, const VString& inName)
{
    return _AddWithText(inParent, inName, nullptr);
}

VXMLDOMElement_opaque* IXMLDomWrapper::AddNodeElement(VXMLDOMElement_opaque* inParent, const VString& inName,
                                                      const VString& inValue)
{
    return _AddWithText(inParent, inName, &inValue);
}

VXMLDOMElement_opaque* IXMLDomWrapper::AddNodeElement(VXMLDOMElement_opaque* inParent, const VString& inName,
                                                      const VDuration& inValue, uint32_t inOptions)
{
    VString text = _ValueText(inValue, inOptions);
    return _AddWithText(inParent, inName, &text);
}

VXMLDOMElement_opaque* IXMLDomWrapper::AddNodeElement(VXMLDOMElement_opaque* inParent, const VString& inName,
                                                      const VTime& inValue, uint32_t inOptions)
{
    VString text = _ValueText(inValue, inOptions);
    return _AddWithText(inParent, inName, &text);
}

VXMLDOMElement_opaque* IXMLDomWrapper::AddNodeElement(VXMLDOMElement_opaque* inParent, const VString& inName,
                                                      double inValue)
{
    VString text = _ValueText(VReal(inValue), 0);
    return _AddWithText(inParent, inName, &text);
}

VXMLDOMElement_opaque* IXMLDomWrapper::AddNodeElement(VXMLDOMElement_opaque* inParent, const VString& inName,
                                                      bool inValue)
{
    VString text = _ValueText(VBoolean(inValue), 0);
    return _AddWithText(inParent, inName, &text);
}

VXMLDOMElement_opaque* IXMLDomWrapper::AddNodeElement(VXMLDOMElement_opaque* inParent, const VString& inName,
                                                      int inValue)
{
    VString text = _ValueText(VLong(inValue), 0);
    return _AddWithText(inParent, inName, &text);
}

VXMLDOMElement_opaque* IXMLDomWrapper::AddNodeElement(VXMLDOMElement_opaque* inParent, const VString& inName,
                                                      const VValueSingle* inValue)
{
    if (inValue == nullptr)
    {
        return _AddWithText(inParent, inName, nullptr);
    }
    VString text = _ValueText(*inValue, 0);
    return _AddWithText(inParent, inName, &text);
}

bool IXMLDomWrapper::SetNodeElementValue(VXMLDOMElement_opaque* inElement, const VString& inValue)
{
    return _SetText(inElement, inValue);
}

bool IXMLDomWrapper::SetNodeElementValue(VXMLDOMElement_opaque* inElement, bool inValue)
{
    return _SetText(inElement, _ValueText(VBoolean(inValue), 0));
}

bool IXMLDomWrapper::SetNodeElementValue(VXMLDOMElement_opaque* inElement, int inValue)
{
    return _SetText(inElement, _ValueText(VLong(inValue), 0));
}

bool IXMLDomWrapper::SetNodeElementValue(VXMLDOMElement_opaque* inElement, double inValue)
{
    return _SetText(inElement, _ValueText(VReal(inValue), 0));
}

bool IXMLDomWrapper::SetNodeElementValue(VXMLDOMElement_opaque* inElement, const VTime& inValue,
                                         uint32_t inOptions)
{
    return _SetText(inElement, _ValueText(inValue, inOptions));
}

bool IXMLDomWrapper::SetNodeElementValue(VXMLDOMElement_opaque* inElement, const VDuration& inValue,
                                         uint32_t inOptions)
{
    return _SetText(inElement, _ValueText(inValue, inOptions));
}

VString IXMLDomWrapper::GetNodeElementValueString(VXMLDOMElement_opaque* inElement)
{
    return _FirstChildText(inElement, xml::DOMNode::TEXT_NODE);
}

bool IXMLDomWrapper::GetNodeElementValueBoolean(VXMLDOMElement_opaque* inElement)
{
    VBoolean value(false);
    value.FromXMLString(_FirstChildText(inElement, xml::DOMNode::TEXT_NODE));
    return value.GetBoolean();
}

int32_t IXMLDomWrapper::GetNodeElementValueLong(VXMLDOMElement_opaque* inElement)
{
    return _FirstChildText(inElement, xml::DOMNode::TEXT_NODE).GetLong();
}

double IXMLDomWrapper::GetNodeElementValueReal(VXMLDOMElement_opaque* inElement)
{
    return _FirstChildText(inElement, xml::DOMNode::TEXT_NODE).GetReal();
}

void IXMLDomWrapper::GetNodeElementValueTime(VXMLDOMElement_opaque* inElement, VTime& outValue)
{
    outValue.FromXMLString(_FirstChildText(inElement, xml::DOMNode::TEXT_NODE));
}

void IXMLDomWrapper::GetNodeElementValueDuration(VXMLDOMElement_opaque* inElement, VDuration& outValue)
{
    outValue.FromXMLString(_FirstChildText(inElement, xml::DOMNode::TEXT_NODE));
}

void IXMLDomWrapper::GetNodeElementCDATA(VXMLDOMElement_opaque* inElement, VString& outValue)
{
    outValue = _FirstChildText(inElement, xml::DOMNode::CDATA_SECTION_NODE);
}

bool IXMLDomWrapper::GetNodeElementAttribute(VXMLDOMElement_opaque* inElement, const VString& inName,
                                             VString& outValue)
{
    try
    {
        xml::DOMElement* element = _Element(inElement);
        if (element == nullptr)
        {
            return false;
        }
        VString local;
        const XMLCh* uri = _NamespaceOfPrefix(element, inName, local);
        xml::DOMAttr* attribute = uri != nullptr ? element->getAttributeNodeNS(uri, _X(local))
                                                 : element->getAttributeNode(_X(inName));
        if (attribute == nullptr)
        {
            return false;
        }
        outValue = _ToVString(attribute->getValue());
        return true;
    }
    catch (...)
    {
        return false;
    }
}

bool IXMLDomWrapper::SetNodeElementAttribute(VXMLDOMElement_opaque* inElement, const VString& inName,
                                             const VString& inValue, bool inRemoveWhenEmpty, bool* outIsID)
{
    if (outIsID != nullptr)
    {
        *outIsID = false;
    }
    try
    {
        xml::DOMElement* element = _Element(inElement);
        if (element == nullptr || inName.IsEmpty())
        {
            return false;
        }
        VString local;
        const XMLCh* uri = _NamespaceOfPrefix(element, inName, local);
        if (inValue.IsEmpty() && inRemoveWhenEmpty)
        {
            if (uri != nullptr)
            {
                element->removeAttributeNS(uri, _X(local));
            }
            else
            {
                element->removeAttribute(_X(inName));
            }
            return true;
        }
        if (uri != nullptr)
        {
            element->setAttributeNS(uri, _X(inName), _X(inValue));
        }
        else
        {
            element->setAttribute(_X(inName), _X(inValue));
        }
        if (local.EqualToString(VString("id"), true))
        {
            _DeclareID(element, inName, uri, local);
            if (outIsID != nullptr)
            {
                *outIsID = true;
            }
        }
        return true;
    }
    catch (...)
    {
        return false;
    }
}

// -----------------------------------------------------------------------------------------------
// Output
// -----------------------------------------------------------------------------------------------

bool IXMLDomWrapper::SerializeToBlob(VXMLDOMNode_opaque* inNode, VBlob* ioBlob, int32_t inOffset,
                                     size_t& outSize, bool inPrettyPrint)
{
    outSize = 0;
    StXMLParserInit use;
    try
    {
        xml::DOMNode* node = _Node(inNode);
        xml::DOMDocument* document = _DocumentOf(node);
        if (node == nullptr || document == nullptr || ioBlob == nullptr)
        {
            return false;
        }
        VString encoding = _ToVString(document->getXmlEncoding());
        if (encoding.IsEmpty())
        {
            encoding = VString("UTF-8");
        }
        auto* implementation = static_cast<xml::DOMImplementationLS*>(_Implementation());
        std::unique_ptr<xml::DOMLSSerializer, void (*)(xml::DOMLSSerializer*)> serializer(
            implementation->createLSSerializer(),
            [](xml::DOMLSSerializer* inSerializer) { inSerializer->release(); });
        xml::DOMConfiguration* config = serializer->getDomConfig();
        if (config->canSetParameter(xml::XMLUni::fgDOMWRTFormatPrettyPrint, inPrettyPrint))
        {
            config->setParameter(xml::XMLUni::fgDOMWRTFormatPrettyPrint, inPrettyPrint);
        }
        config->setParameter(xml::XMLUni::fgDOMWRTBOM, false);
        serializer->setNewLine(u"\n");
        xml::MemBufFormatTarget target(1023);
        std::unique_ptr<xml::DOMLSOutput, void (*)(xml::DOMLSOutput*)> output(
            implementation->createLSOutput(), [](xml::DOMLSOutput* inOutput) { inOutput->release(); });
        output->setByteStream(&target);
        output->setEncoding(_X(encoding));
        if (!serializer->write(node, output.get()))
        {
            return false;
        }
        return CopyMemBufFormatTargetToBlob(ioBlob, inOffset, outSize,
                                            reinterpret_cast<VXMLMemBufFormatTarget_opaque*>(&target),
                                            encoding, true);
    }
    catch (...)
    {
        outSize = 0;
        return false;
    }
}

bool IXMLDomWrapper::SerializeToFile(VXMLDOMNode_opaque* inNode, VStream& ioStream, size_t& outSize,
                                     bool inPrettyPrint)
{
    VBlobWithPtr bytes;
    if (!SerializeToBlob(inNode, &bytes, 0, outSize, inPrettyPrint))
    {
        return false;
    }
    ioStream.PutData(bytes.GetDataPtr(), outSize);
    return ioStream.GetLastError() == VE_OK;
}

bool IXMLDomWrapper::WriteToFile(VXMLDOMNode_opaque* inNode, const VFile& inFile, bool inPrettyPrint)
{
    VBlobWithPtr bytes;
    size_t size = 0;
    if (!SerializeToBlob(inNode, &bytes, 0, size, inPrettyPrint))
    {
        return false;
    }
    if (inFile.Exists() && inFile.Delete() != VE_OK)
    {
        return false;
    }
    return inFile.SetContent(bytes.GetDataPtr(), size) == VE_OK;
}

bool IXMLDomWrapper::CopyMemBufFormatTargetToBlob(VBlob* ioBlob, int32_t inOffset, size_t& outSize,
                                                  VXMLMemBufFormatTarget_opaque* inTarget,
                                                  const VString& inEncoding, bool inConvertLineEnds)
{
    outSize = 0;
    auto* target = reinterpret_cast<xml::MemBufFormatTarget*>(inTarget);
    if (ioBlob == nullptr || target == nullptr || inOffset < 0)
    {
        return false;
    }
    const uint8_t* bytes = target->getRawBuffer();
    size_t size = target->getLen();
    std::vector<uint8_t> converted;
    size_t width = inConvertLineEnds ? _UnitWidth(inEncoding) : 0;
    try
    {
        switch (width)
        {
        case 1:
            _ConvertLineEnds<uint8_t>(bytes, size, converted);
            break;
        case 2:
            _ConvertLineEnds<char16_t>(bytes, size, converted);
            break;
        case 4:
            _ConvertLineEnds<char32_t>(bytes, size, converted);
            break;
        default:
            converted.assign(bytes, bytes + size);
            break;
        }
    }
    catch (const std::bad_alloc&)
    {
        _ThrowError(VE_MEMORY_FULL);
        return false;
    }
    if (ioBlob->PutData(converted.data(), converted.size(), static_cast<size_t>(inOffset)) != VE_OK)
    {
        return false;
    }
    outSize = converted.size();
    return true;
}

} // namespace zorn
