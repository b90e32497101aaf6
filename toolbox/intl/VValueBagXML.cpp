#include "toolbox/intl/VValueBagXML.h"

#include "toolbox/files/IFile.h"
#include "toolbox/files/VFolder.h"
#include "toolbox/intl/VXMLParser.h"
#include "toolbox/kernel/errors/VErrorContext.h"
#include "toolbox/kernel/streams/VStream.h"
#include "toolbox/kernel/tasks/VTask.h"
#include "toolbox/kernel/values/VBagArray.h"
#include "toolbox/kernel/values/VValueBag.h"

namespace zorn
{

namespace
{

constexpr int32_t kStreamVersion = 1;

// The bag's XML under the element name, without declaration (indented from level 0, or not at all).
VError _BagToXML(const VValueBag& inBag, const VString& inElementName, bool inIndent, VString& outXML)
{
    outXML.Clear();
    return inBag.DumpXML(outXML, inElementName, inIndent);
}

// Holds back the calling task's debug reports and breaks for the scope.
class StQuietDebugReports
{
public:
    StQuietDebugReports() : fTask(VTask::GetCurrent())
    {
        if (fTask != nullptr)
        {
            fTask->GetDebugContext().StartLowLevelMode();
            fTask->GetDebugContext().DisableBreak();
        }
    }
    ~StQuietDebugReports()
    {
        if (fTask != nullptr)
        {
            fTask->GetDebugContext().EnableBreak();
            fTask->GetDebugContext().StopLowLevelMode();
        }
    }
    StQuietDebugReports(const StQuietDebugReports&) = delete;
    StQuietDebugReports& operator=(const StQuietDebugReports&) = delete;

private:
    VTask* fTask;
};

template <class TParse>
VError _LoadBag(const TParse& inParse, const VString& inElementName, VValueBag& outBag,
                const VString* inEntitiesBaseURL, VFolder* inEntitiesFolder)
{
    StQuietDebugReports quiet;
    StErrorContextInstaller errors;
    VXMLParser parser;
    auto* handler = new VXMLBagHandler_UniqueElement(&outBag, inElementName);
    if (inEntitiesBaseURL != nullptr && inEntitiesFolder != nullptr && inEntitiesFolder->Exists())
    {
        handler->SetEntitiesLocalFolder(*inEntitiesBaseURL, inEntitiesFolder);
    }
    inParse(parser, handler);
    handler->Release();
    return errors.GetLastError();
}

} // namespace

// -----------------------------------------------------------------------------------------------
// Writing
// -----------------------------------------------------------------------------------------------

VError WriteBagToFileInXML(const VValueBag& inBag, const VString& inElementName, IFile* inFile, bool inIndent)
{
    if (inFile == nullptr)
    {
        return VE_OK;
    }
    VString xml;
    VError error = _BagToXML(inBag, inElementName, inIndent, xml);
    if (error != VE_OK)
    {
        return error;
    }
    VString text("<?xml version=\"1.0\" encoding=\"UTF-8\"?>");
    text.AppendString(xml);
    // SetContent stages the bytes and swaps them in whole: on failure the old file stays as it
    // was, or no file is left.
    return inFile->SetContentAsString(text, CharSet::VTC_UTF_8, eCRM_NONE, false);
}

VError WriteBagToStreamInXML(const VValueBag& inBag, VStream* inStream)
{
    if (inStream == nullptr)
    {
        return VE_INVALID_PARAMETER;
    }
    VString xml;
    VError error = _BagToXML(inBag, VString("bag"), false, xml);
    if (error != VE_OK)
    {
        return error;
    }
    VString text("<?xml version=\"1.0\" encoding=\"UTF-16\"?>");
    text.AppendString(xml);
    int32_t version = kStreamVersion;
    inStream->PutLongs(&version, 1);
    text.WriteToStream(inStream);
    return inStream->GetLastError();
}

// -----------------------------------------------------------------------------------------------
// Reading
// -----------------------------------------------------------------------------------------------

VError ReadBagFromStreamInXML(VValueBag& outBag, VStream* inStream)
{
    if (inStream == nullptr)
    {
        return VE_INVALID_PARAMETER;
    }
    int32_t version = 0;
    VError error = inStream->GetLong(version);
    if (error != VE_OK)
    {
        return error;
    }
    if (version != kStreamVersion)
    {
        // An unknown form is no success: the bag stays as it was.
        return _ThrowError(VE_STREAM_BAD_SIGNATURE);
    }
    VString text;
    error = text.ReadFromStream(inStream);
    if (error != VE_OK)
    {
        return error;
    }
    StErrorContextInstaller errors;
    VXMLParser parser;
    auto* handler = new VXMLBagHandler_UniqueElement(&outBag, VString("bag"));
    parser.Parse(text, handler, XML_RefuseInternalSubset);
    handler->Release();
    error = errors.GetLastError();
    return error;
}

VError LoadBagFromXML(const VString& inText, const VString& inElementName, VValueBag& outBag,
                      uint32_t inParseFlags, const VString* inEntitiesBaseURL, VFolder* inEntitiesFolder)
{
    return _LoadBag([&](VXMLParser& parser, IXMLHandler* handler)
                    { parser.Parse(inText, handler, inParseFlags | XML_RefuseInternalSubset); },
                    inElementName, outBag, inEntitiesBaseURL, inEntitiesFolder);
}

VError LoadBagFromXML(IFile* inFile, const VString& inElementName, VValueBag& outBag, uint32_t inParseFlags,
                      const VString* inEntitiesBaseURL, VFolder* inEntitiesFolder)
{
    return _LoadBag([&](VXMLParser& parser, IXMLHandler* handler)
                    { parser.Parse(inFile, handler, inParseFlags | XML_RefuseInternalSubset); },
                    inElementName, outBag, inEntitiesBaseURL, inEntitiesFolder);
}

// -----------------------------------------------------------------------------------------------
// DOM forms
// -----------------------------------------------------------------------------------------------

VError WriteBagToDomXML(const VValueBag& inBag, VXMLDOMNode_opaque* inNode,
                        std::vector<VXMLDOMNode_opaque*>* inCreatedElements)
{
    VXMLDOMElement_opaque* element = IXMLDomWrapper::GetNodeElement(inNode);
    if (element == nullptr)
    {
        return VE_INVALID_PARAMETER;
    }
    auto* domElement = reinterpret_cast<XERCES_CPP_NAMESPACE::DOMElement*>(element);
    return WriteBagToDomXMLElement(inBag, domElement, inCreatedElements) ? VE_OK : VE_UNKNOWN_ERROR;
}

bool WriteBagToDomXMLElement(const VValueBag& inBag, XERCES_CPP_NAMESPACE::DOMElement* inElement,
                             std::vector<VXMLDOMNode_opaque*>* inCreatedElements)
{
    // Each step: a bag and the element it is written into; children are queued rather than
    // written by recursion, in document order.
    struct Step
    {
        const VValueBag* fBag;
        VXMLDOMElement_opaque* fElement;
    };
    auto* root = reinterpret_cast<VXMLDOMElement_opaque*>(inElement);
    if (root == nullptr ||
        IXMLDomWrapper::GetNodeDocument(IXMLDomWrapper::GetNodeFromNodeElement(root)) == nullptr)
    {
        return false;
    }
    std::vector<Step> pending{{&inBag, root}};
    while (!pending.empty())
    {
        Step step = pending.back();
        pending.pop_back();
        const VValueBag& bag = *step.fBag;
        for (int32_t i = 1; i <= bag.GetAttributesCount(); ++i)
        {
            VString name;
            const VValueSingle* value = bag.GetNthAttribute(i, &name);
            if (value == nullptr)
            {
                continue;
            }
            if (name.EqualToStringRaw(VString("<>")))
            {
                // The bag's text becomes the element's text, as in the text form.
                VString text;
                value->GetString(text);
                if (!IXMLDomWrapper::SetNodeElementValue(step.fElement, text))
                {
                    return false;
                }
                continue;
            }
            VString text;
            if (value->GetValueKind() == VK_STRING)
            {
                value->GetString(text);
            }
            else
            {
                value->GetXMLString(text, 0);
                text.TranscodeFromXML();
            }
            if (!IXMLDomWrapper::SetNodeElementAttribute(step.fElement, name, text, false, nullptr))
            {
                return false;
            }
        }
        std::vector<Step> children;
        for (int32_t i = 1; i <= bag.GetElementNamesCount(); ++i)
        {
            VString name;
            const VBagArray* list = bag.GetNthElementName(i, &name);
            for (int32_t j = 1; list != nullptr && j <= list->GetCount(); ++j)
            {
                const VValueBag* child = list->GetNth(j);
                if (child == nullptr)
                {
                    continue;
                }
                VXMLDOMElement_opaque* created = IXMLDomWrapper::AddNodeElement(step.fElement, name);
                if (created == nullptr)
                {
                    return false;
                }
                if (inCreatedElements != nullptr)
                {
                    inCreatedElements->push_back(IXMLDomWrapper::GetNodeFromNodeElement(created));
                }
                children.push_back(Step{child, created});
            }
        }
        pending.insert(pending.end(), children.rbegin(), children.rend());
    }
    return true;
}

VError ReadBagFromDomXML(VXMLDOMNode_opaque* inNode, VValueBag& outBag)
{
    VXMLDOMElement_opaque* element = IXMLDomWrapper::GetNodeElement(inNode);
    if (element == nullptr)
    {
        return VE_XML_ERROR;
    }
    VString name;
    IXMLDomWrapper::GetNodeElementName(element, name);
    StErrorContextInstaller errors;
    auto* handler = new VXMLBagHandler_UniqueElement(&outBag, name);
    bool walked = IXMLDomWrapper::Parse(inNode, handler);
    handler->Release();
    VError error = errors.GetLastError();
    if (error != VE_OK)
    {
        return error;
    }
    return walked ? VE_OK : VE_XML_ERROR;
}

// -----------------------------------------------------------------------------------------------
// Handlers
// -----------------------------------------------------------------------------------------------

VXMLBagHandler::VXMLBagHandler(VValueBag* inBag) : fBags(new VBagArray)
{
    fBags->AddTail(inBag);
    fTexts.emplace_back();
}

VXMLBagHandler::~VXMLBagHandler()
{
    // A parse that stopped early still leaves the text it read.
    while (fBags->GetCount() > 0)
    {
        _FlushText();
        fBags->DeleteNth(fBags->GetCount());
    }
    fBags->Release();
}

void VXMLBagHandler::_FlushText()
{
    if (fTexts.empty())
    {
        return;
    }
    VValueBag* top = fBags->GetNth(fBags->GetCount());
    if (top != nullptr && !fTexts.back().IsEmpty())
    {
        top->AppendToCData(fTexts.back());
    }
    fTexts.pop_back();
}

IXMLHandler* VXMLBagHandler::StartElement(const VString& inElementName)
{
    VValueBag* top = fBags->GetNth(fBags->GetCount());
    if (top == nullptr)
    {
        return nullptr;
    }
    auto* child = new VValueBag;
    top->AddElement(VValueBag::StKey(inElementName), child);
    fBags->AddTail(child);
    fTexts.emplace_back();
    child->Release();
    Retain();
    return this;
}

void VXMLBagHandler::EndElement(const VString& /*inElementName*/)
{
    if (fBags->GetCount() > 0)
    {
        _FlushText();
        fBags->DeleteNth(fBags->GetCount());
    }
}

void VXMLBagHandler::SetAttribute(const VString& inName, const VString& inValue)
{
    if (VValueBag* top = fBags->GetNth(fBags->GetCount()))
    {
        top->SetString(VValueBag::StKey(inName), inValue);
    }
}

void VXMLBagHandler::SetText(const VString& inText)
{
    if (!fTexts.empty())
    {
        fTexts.back().AppendString(inText);
    }
}

VXMLBagHandler_UniqueElement::VXMLBagHandler_UniqueElement(VValueBag* inBag, const VString& inElementName)
    : fBag(inBag), fElementName(inElementName)
{
    fBag->Retain();
}

VXMLBagHandler_UniqueElement::~VXMLBagHandler_UniqueElement()
{
    fBag->Release();
}

IXMLHandler* VXMLBagHandler_UniqueElement::StartElement(const VString& inElementName)
{
    ++fRootCount;
    if (fRootCount > 1 || (!fElementName.IsEmpty() && !fElementName.EqualToString(inElementName, false)))
    {
        return nullptr;
    }
    if (fElementName.IsEmpty())
    {
        fElementName = inElementName;
    }
    return new VXMLBagHandler(fBag);
}

} // namespace zorn
