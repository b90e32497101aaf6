// IXMLDomWrapper: static operations over the Xerces-C DOM, so that toolbox code handles documents,
// nodes and elements only through opaque handles (the library's DOMNode, DOMElement, DOMDocument
// and MemBufFormatTarget). It loads a document from memory, walks a node into an IXMLHandler tree,
// creates and edits elements, attributes and text values, registers "id" attributes for look-up,
// and serializes with optional pretty-printing and line-end conversion.
//
// Choices and limits:
// - A document handle is owned by the caller once created or cloned; ReleaseNode releases it.
//   Every operation catches the library's exceptions and yields its failure value (null, false,
//   0 or an empty string).
// - Loading runs under the same limits as VXMLParser (VXMLSecurity: entity expansions by count
//   and characters, no parameter entities in the internal subset, at most 1000 levels, bounded
//   allocations); no external DTD or entity is ever read. A document with an error gives null,
//   and its errors ('xmlc' 2 and 3, with "message", "line" and "column") stay on the task's
//   error context.
// - Parse walks without recursion; an element whose handler refuses a child element makes that
//   child's walk fail, and a walk's result is that of its last element child.
// - Children are counted and indexed from 0, as the DOM does.
// - Serialized documents end every line with CR (line-end conversion, for UTF-8, UTF-16 and the
//   UTF-32 names); no byte-order mark. SerializeToFile writes to any VStream; WriteToFile replaces
//   the file whole.
// - The prefixes "xml" and "xmlns" resolve to their standard namespaces where the element has no
//   declaration of them.
#pragma once

#include "toolbox/kernel/strings/VString.h"

#include <xercesc/util/XercesDefs.hpp>

#include <cstddef>
#include <cstdint>

XERCES_CPP_NAMESPACE_BEGIN
class DOMElement;
XERCES_CPP_NAMESPACE_END

namespace zorn
{

class IXMLHandler;
class VBlob;
class VDuration;
class VFile;
class VStream;
class VTime;
class VURL;
class VValueSingle;

// Opaque handles: the library's DOMNode, DOMElement, DOMDocument and MemBufFormatTarget.
struct VXMLDOMNode_opaque;
struct VXMLDOMElement_opaque;
struct VXMLDOMDocument_opaque;
struct VXMLMemBufFormatTarget_opaque;

class IXMLDomWrapper
{
public:
    IXMLDomWrapper() = delete;

    // DOM node types used here.
    enum : uint16_t
    {
        kElementNode = 1,
        kTextNode = 3,
        kCDATANode = 4,
        kProcessingInstructionNode = 7,
        kDocumentNode = 9,
    };

    // Documents.
    static VXMLDOMDocument_opaque* CreateNodeDocumentFromBuffer(const void* inData, size_t inSize,
                                                                const VString* inSystemID);
    static VXMLDOMDocument_opaque* CloneNodeDocument(VXMLDOMNode_opaque* inNode);
    static void ReleaseNode(VXMLDOMNode_opaque* inNode);
    static VXMLDOMDocument_opaque* GetNodeDocument(VXMLDOMNode_opaque* inNode);
    static VXMLDOMElement_opaque* GetRootNodeElement(VXMLDOMNode_opaque* inNode);
    // The document URI, read as encoded when it begins with "file://"; whether the URL conforms.
    static bool GetDocumentURL(VXMLDOMNode_opaque* inNode, VURL& outURL);
    static VXMLDOMElement_opaque* FindNodeElementByID(VXMLDOMNode_opaque* inNode, const VString& inID);
    static void RegisterNodeIDs(VXMLDOMNode_opaque* inNode);
    // The document as a node (the handles of one object differ).
    static VXMLDOMNode_opaque* FromDocument(VXMLDOMDocument_opaque* inDocument);

    // Navigation.
    static int32_t GetNumberOfChildrenNodes(VXMLDOMNode_opaque* inNode);
    static VXMLDOMNode_opaque* GetChildNode(VXMLDOMNode_opaque* inNode, int32_t inIndex);
    static VXMLDOMElement_opaque* GetNodeElement(VXMLDOMNode_opaque* inNode);
    static VXMLDOMNode_opaque* GetNodeFromNodeElement(VXMLDOMElement_opaque* inElement);
    static void GetNodeElementName(VXMLDOMElement_opaque* inElement, VString& outName);

    // Walks the node into the handler tree (see the choices above).
    static bool Parse(VXMLDOMNode_opaque* inNode, IXMLHandler* inHandler);

    // Editing. CreateElement makes an element (in the namespace its prefix, or the default one,
    // has on the parent) without inserting it; AddNodeElement appends one, with a text child
    // holding the value when one is given.
    static VXMLDOMElement_opaque* CreateElement(VXMLDOMDocument_opaque* inDocument,
                                                VXMLDOMElement_opaque* inParent,
                                                const UniChar* inQualifiedName);
    static VXMLDOMElement_opaque* AddNodeElement(VXMLDOMElement_opaque* inParent, const VString& inName);
    static VXMLDOMElement_opaque* AddNodeElement(VXMLDOMElement_opaque* inParent, const VString& inName,
                                                 const VString& inValue);
    static VXMLDOMElement_opaque* AddNodeElement(VXMLDOMElement_opaque* inParent, const VString& inName,
                                                 const VDuration& inValue, uint32_t inOptions);
    static VXMLDOMElement_opaque* AddNodeElement(VXMLDOMElement_opaque* inParent, const VString& inName,
                                                 const VTime& inValue, uint32_t inOptions);
    static VXMLDOMElement_opaque* AddNodeElement(VXMLDOMElement_opaque* inParent, const VString& inName,
                                                 double inValue);
    static VXMLDOMElement_opaque* AddNodeElement(VXMLDOMElement_opaque* inParent, const VString& inName,
                                                 bool inValue);
    static VXMLDOMElement_opaque* AddNodeElement(VXMLDOMElement_opaque* inParent, const VString& inName,
                                                 int inValue);
    static VXMLDOMElement_opaque* AddNodeElement(VXMLDOMElement_opaque* inParent, const VString& inName,
                                                 const VValueSingle* inValue);
    static bool SetNodeElementValue(VXMLDOMElement_opaque* inElement, const VString& inValue);
    static bool SetNodeElementValue(VXMLDOMElement_opaque* inElement, bool inValue);
    static bool SetNodeElementValue(VXMLDOMElement_opaque* inElement, int inValue);
    static bool SetNodeElementValue(VXMLDOMElement_opaque* inElement, double inValue);
    static bool SetNodeElementValue(VXMLDOMElement_opaque* inElement, const VTime& inValue,
                                    uint32_t inOptions);
    static bool SetNodeElementValue(VXMLDOMElement_opaque* inElement, const VDuration& inValue,
                                    uint32_t inOptions);
    // Values read from the first child, which must be a text node (a CDATA section for CDATA);
    // otherwise the text is empty.
    static VString GetNodeElementValueString(VXMLDOMElement_opaque* inElement);
    static bool GetNodeElementValueBoolean(VXMLDOMElement_opaque* inElement);
    static int32_t GetNodeElementValueLong(VXMLDOMElement_opaque* inElement);
    static double GetNodeElementValueReal(VXMLDOMElement_opaque* inElement);
    static void GetNodeElementValueTime(VXMLDOMElement_opaque* inElement, VTime& outValue);
    static void GetNodeElementValueDuration(VXMLDOMElement_opaque* inElement, VDuration& outValue);
    static void GetNodeElementCDATA(VXMLDOMElement_opaque* inElement, VString& outValue);
    static bool GetNodeElementAttribute(VXMLDOMElement_opaque* inElement, const VString& inName,
                                        VString& outValue);
    // Sets a non-empty value; an empty one removes the attribute when asked, else sets it empty.
    // An attribute set whose local name is "id" is declared an ID (*outIsID true).
    static bool SetNodeElementAttribute(VXMLDOMElement_opaque* inElement, const VString& inName,
                                        const VString& inValue, bool inRemoveWhenEmpty, bool* outIsID);

    // Output.
    static bool SerializeToBlob(VXMLDOMNode_opaque* inNode, VBlob* ioBlob, int32_t inOffset, size_t& outSize,
                                bool inPrettyPrint);
    static bool SerializeToFile(VXMLDOMNode_opaque* inNode, VStream& ioStream, size_t& outSize,
                                bool inPrettyPrint);
    static bool WriteToFile(VXMLDOMNode_opaque* inNode, const VFile& inFile, bool inPrettyPrint);
    static bool CopyMemBufFormatTargetToBlob(VBlob* ioBlob, int32_t inOffset, size_t& outSize,
                                             VXMLMemBufFormatTarget_opaque* inTarget,
                                             const VString& inEncoding, bool inConvertLineEnds);
};

} // namespace zorn
