#include "toolbox/intl/VXMLSecurity.h"

#include "toolbox/kernel/errors/VErrorBase.h"

#include <xercesc/framework/XMLAttDef.hpp>
#include <xercesc/sax/Locator.hpp>
#include <xercesc/util/OutOfMemoryException.hpp>
#include <xercesc/util/PlatformUtils.hpp>
#include <xercesc/util/XMLString.hpp>

#include <algorithm>
#include <new>

namespace zorn
{

namespace xml = XERCES_CPP_NAMESPACE;

namespace
{

VString _ToVString(const XMLCh* inText)
{
    return inText == nullptr ? VString() : VString(reinterpret_cast<const UniChar*>(inText));
}

thread_local VXMLSecurity* sCurrent = nullptr;

class LimitedMemoryManager : public xml::MemoryManager
{
public:
    xml::MemoryManager* getExceptionMemoryManager() override
    {
        return xml::XMLPlatformUtils::fgMemoryManager;
    }
    void* allocate(XMLSize_t inSize) override
    {
        if (sCurrent != nullptr && !sCurrent->AcceptAllocation(inSize))
        {
            throw xml::OutOfMemoryException();
        }
        try
        {
            return ::operator new(inSize);
        }
        catch (const std::bad_alloc&)
        {
            throw xml::OutOfMemoryException();
        }
    }
    void deallocate(void* inBlock) override { ::operator delete(inBlock); }
};

} // namespace

xml::MemoryManager* VXMLSecurity::GetMemoryManager()
{
    // Never destroyed: documents made through it may be released at any time.
    static auto* sManager = new LimitedMemoryManager;
    return sManager;
}

VXMLSecurity::VXMLSecurity(size_t inInputSize, bool inRefuseInternalSubset, bool inLoadExternalDTD)
    : fCharacterLimit(CharacterLimitFor(inInputSize)),
      fAllocationLimit(std::max((inInputSize * 4 + fCharacterLimit) * sizeof(XMLCh), kMinAllocationLimit)),
      fRefuseInternalSubset(inRefuseInternalSubset), fLoadExternalDTD(inLoadExternalDTD), fOuter(sCurrent)
{
    fSecurityManager.setEntityExpansionLimit(kEntityExpansionLimit);
    sCurrent = this;
}

size_t VXMLSecurity::CharacterLimitFor(size_t inInputSize)
{
    return std::clamp(inInputSize * 10, kMinEntityCharacters, kMaxEntityCharacters);
}

VXMLSecurity::~VXMLSecurity()
{
    sCurrent = fOuter;
}

VString VXMLSecurity::GetAllocationRefusalMessage() const
{
    VString message("the document needs a buffer larger than ");
    message.AppendLong8(static_cast<int64_t>(fAllocationLimit));
    message.AppendString(VString(" bytes (entity expansion or text too large for its input)"));
    return message;
}

void VXMLSecurity::Install(xml::XMLScanner& ioScanner)
{
    ioScanner.setSecurityManager(&fSecurityManager);
}

void VXMLSecurity::Refuse(const xml::XMLScanner& inScanner, const VString& inMessage)
{
    Refusal refusal;
    refusal.fMessage = inMessage;
    if (const xml::Locator* locator = inScanner.getLocator())
    {
        refusal.fLine = static_cast<uint64_t>(locator->getLineNumber());
        refusal.fColumn = static_cast<uint64_t>(locator->getColumnNumber());
        refusal.fSystemID = _ToVString(locator->getSystemId());
    }
    throw refusal;
}

void VXMLSecurity::ReportRefusal(const Refusal& inRefusal)
{
    auto* error = new VErrorBase(MakeVError(kCOMPONENT_XML, 3));
    error->SetString(VString("message"), inRefusal.fMessage);
    error->SetString(VString("systemID"), inRefusal.fSystemID);
    error->SetString(VString("publicID"), VString());
    error->SetLong8(VString("line"), static_cast<int64_t>(inRefusal.fLine));
    error->SetLong8(VString("column"), static_cast<int64_t>(inRefusal.fColumn));
    _PushRetainedError(error);
}

void VXMLSecurity::_RefuseDepth(const xml::XMLScanner& inScanner) const
{
    VString message("elements nest deeper than ");
    message.AppendLong(static_cast<int32_t>(kMaxDepth));
    message.AppendString(VString(" levels"));
    Refuse(inScanner, message);
}

void VXMLSecurity::DoctypeDecl(xml::XMLScanner& ioScanner, bool inHasIntSubset, bool inHasExtSubset)
{
    if (inHasIntSubset && fRefuseInternalSubset)
    {
        Refuse(ioScanner, VString("a document type with an internal subset is not accepted here"));
    }
    // Validation "auto" against a grammar whose external part is never read would report every
    // element as undeclared: such a document is read without validation.
    if (inHasExtSubset && !fLoadExternalDTD && ioScanner.getValidationScheme() == xml::XMLScanner::Val_Auto)
    {
        ioScanner.setValidationScheme(xml::XMLScanner::Val_Never);
    }
}

void VXMLSecurity::StartIntSubset(const xml::XMLScanner& inScanner)
{
    if (fRefuseInternalSubset)
    {
        Refuse(inScanner, VString("a document type with an internal subset is not accepted here"));
    }
}

void VXMLSecurity::EndIntSubset(xml::XMLScanner& ioScanner)
{
    _ApplyCharacterBudget(ioScanner);
}

void VXMLSecurity::EndExtSubset(xml::XMLScanner& ioScanner)
{
    fInExternalSubset = false;
    _ApplyCharacterBudget(ioScanner);
}

void VXMLSecurity::EntityDecl(const xml::XMLScanner& inScanner, const xml::DTDEntityDecl& inDecl,
                              bool inIsParameter)
{
    if (inIsParameter && !fInExternalSubset)
    {
        VString message("parameter entity \"");
        message.AppendString(_ToVString(inDecl.getName()));
        message.AppendString(VString("\" declared in the internal subset"));
        Refuse(inScanner, message);
    }
    if (!inIsParameter && !inDecl.isExternal())
    {
        fLongestEntity = std::max(fLongestEntity, static_cast<size_t>(inDecl.getValueLen()));
    }
}

void VXMLSecurity::AttributeDefault(const xml::XMLScanner& inScanner, const XMLCh* inValue)
{
    if (inValue == nullptr)
    {
        return;
    }
    fDefaultCharacters += xml::XMLString::stringLen(inValue);
    if (fDefaultCharacters > fCharacterLimit)
    {
        VString message("default attribute values exceed ");
        message.AppendLong8(static_cast<int64_t>(fCharacterLimit));
        message.AppendString(VString(" characters"));
        Refuse(inScanner, message);
    }
}

void VXMLSecurity::_ApplyCharacterBudget(xml::XMLScanner& ioScanner)
{
    size_t limit = kEntityExpansionLimit;
    if (fLongestEntity > 0)
    {
        size_t budget = fCharacterLimit > fDefaultCharacters ? fCharacterLimit - fDefaultCharacters : 0;
        limit = std::min(limit, std::max<size_t>(budget / fLongestEntity, 1));
    }
    fSecurityManager.setEntityExpansionLimit(static_cast<XMLSize_t>(limit));
    // The scanner copies the limit when the manager is installed (and restarts its count).
    ioScanner.setSecurityManager(&fSecurityManager);
}

} // namespace zorn
