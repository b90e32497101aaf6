// Loads arbitrary bytes as a DOM document (IXMLDomWrapper, under the parser's limits), then walks
// it: IDs registered and looked up, the whole tree walked into handlers, the root read as a value
// bag, and the document serialized. A deep copy must serialize when the original does, and a bag
// read from the document must survive being written into a fresh element.

#include "fuzz/FuzzTasks.h"
#include "toolbox/intl/IXMLDomWrapper.h"
#include "toolbox/intl/IXMLHandler.h"
#include "toolbox/intl/VValueBagXML.h"
#include "toolbox/intl/VXMLParser.h"
#include "toolbox/kernel/errors/VErrorContext.h"
#include "toolbox/kernel/values/VBlob.h"
#include "toolbox/kernel/values/VValueBag.h"

#include <cstdint>

using namespace zorn;

namespace
{

bool Serializes(VXMLDOMNode_opaque* inNode)
{
    VBlobWithPtr bytes;
    size_t size = 0;
    return IXMLDomWrapper::SerializeToBlob(inNode, &bytes, 0, size, true);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* inData, size_t inSize)
{
    fuzz::StartTasks();
    static const bool sLibrary = VXMLParser::Init();
    (void)sLibrary;
    StErrorContextInstaller quiet(false, true);
    VXMLDOMDocument_opaque* document = IXMLDomWrapper::CreateNodeDocumentFromBuffer(inData, inSize, nullptr);
    if (document == nullptr)
    {
        return 0;
    }
    VXMLDOMNode_opaque* node = IXMLDomWrapper::FromDocument(document);
    IXMLDomWrapper::RegisterNodeIDs(node);
    IXMLDomWrapper::FindNodeElementByID(node, VString("a"));

    auto* handler = new VNullXMLHandler;
    IXMLDomWrapper::Parse(node, handler);
    handler->Release();

    VXMLDOMElement_opaque* root = IXMLDomWrapper::GetRootNodeElement(node);
    VValueBag bag;
    if (root != nullptr && ReadBagFromDomXML(IXMLDomWrapper::GetNodeFromNodeElement(root), bag) == VE_OK)
    {
        // Names that XML accepted as attributes and elements are accepted again.
        static const char kFresh[] = "<fresh/>";
        VXMLDOMDocument_opaque* fresh =
            IXMLDomWrapper::CreateNodeDocumentFromBuffer(kFresh, sizeof(kFresh) - 1, nullptr);
        fuzz::Check(fresh != nullptr);
        VXMLDOMNode_opaque* freshRoot = IXMLDomWrapper::GetNodeFromNodeElement(
            IXMLDomWrapper::GetRootNodeElement(IXMLDomWrapper::FromDocument(fresh)));
        fuzz::Check(WriteBagToDomXML(bag, freshRoot, nullptr) == VE_OK);
        IXMLDomWrapper::ReleaseNode(IXMLDomWrapper::FromDocument(fresh));
    }

    VXMLDOMDocument_opaque* clone = IXMLDomWrapper::CloneNodeDocument(node);
    fuzz::Check(clone != nullptr);
    // The library's copy turns defaulted attributes into written ones: only the outcome compares.
    fuzz::Check(Serializes(node) == Serializes(IXMLDomWrapper::FromDocument(clone)));
    IXMLDomWrapper::ReleaseNode(IXMLDomWrapper::FromDocument(clone));
    IXMLDomWrapper::ReleaseNode(node);
    return 0;
}
