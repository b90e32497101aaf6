// VXMLSecurity: the limits that every XML parse of the toolbox runs under, whether it streams
// (VXMLParser) or builds a document (IXMLDomWrapper). One object serves one parse, on the thread
// that parses: it owns the library's security manager, sets the limit of the memory manager that
// every parser is made with (GetMemoryManager), and is told of the document type's declarations
// and of each element by the parser, so that a small hostile file can neither stall the parse
// nor exhaust memory. A refusal ends the parse by throwing VXMLSecurity::Refusal, which the parse
// driver turns into an 'xmlc' 3 error naming the line.
//
// Choices and limits:
// - Entity expansions: at most kEntityExpansionLimit (counted by the library). The characters
//   they produce are capped too, at GetCharacterLimit(): 10 times the input's size, at least
//   kMinEntityCharacters and at most kMaxEntityCharacters. The library cannot say which entity
//   it expands, so once the document type is read the count limit becomes the character limit
//   divided by the longest replacement text declared: the expansions of the body can then
//   produce no more than the character limit, however they nest or wherever they stand
//   (content or attribute values). A document with one very long entity may therefore use it
//   only a few times.
// - Default attribute values of the document type (expanded while it is read, outside the
//   library's count) add their length to the same character budget; and no single allocation
//   of the library may exceed GetAllocationLimit() (4 times the input plus the character limit,
//   in UTF-16, at least 1 MiB), which stops one runaway value early.
// - Parameter entities may not be declared in the internal subset (the document's own); an
//   external document type, which only the entities folder can supply, may use them.
// - RefuseInternalSubset: for readers of formats that never need one (localization files,
//   value bags), any internal subset is refused. A document type naming only an external DTD
//   is accepted.
// - Without LoadExternalDTD an external DTD is read only to validate "always" (and then only
//   through the resolvers); under the validation scheme "auto" a document naming one is read
//   without validation (its grammar would be incomplete), rather than failing.
// - Elements nest at most kMaxDepth deep.
#pragma once

#include "toolbox/kernel/strings/VString.h"

#include <xercesc/framework/MemoryManager.hpp>
#include <xercesc/internal/XMLScanner.hpp>
#include <xercesc/util/SecurityManager.hpp>
#include <xercesc/validators/DTD/DTDEntityDecl.hpp>

#include <cstddef>
#include <cstdint>

namespace zorn
{

class VXMLSecurity
{
public:
    static constexpr size_t kEntityExpansionLimit = 10000;
    static constexpr size_t kMinEntityCharacters = 256 * 1024;
    static constexpr size_t kMaxEntityCharacters = 4 * 1024 * 1024;
    static constexpr size_t kMinAllocationLimit = 1024 * 1024;
    static constexpr uint32_t kMaxDepth = 1000;

    // Thrown from the parser's callbacks to end the parse.
    struct Refusal
    {
        VString fMessage;
        uint64_t fLine = 0;
        uint64_t fColumn = 0;
        VString fSystemID;
    };

    VXMLSecurity(size_t inInputSize, bool inRefuseInternalSubset, bool inLoadExternalDTD);
    VXMLSecurity(const VXMLSecurity&) = delete;
    VXMLSecurity& operator=(const VXMLSecurity&) = delete;
    ~VXMLSecurity();

    // The memory manager of every parser and of the documents they build (they outlive the
    // parse): it refuses an allocation above the limit of the parse running on the calling
    // thread, and none outside a parse.
    static xercesc::MemoryManager* GetMemoryManager();

    // The character limit of a parse of so many bytes.
    static size_t CharacterLimitFor(size_t inInputSize);
    size_t GetCharacterLimit() const { return fCharacterLimit; }
    size_t GetAllocationLimit() const { return fAllocationLimit; }
    // Set once a too large allocation was refused (the library then reports "out of memory").
    bool WasAllocationRefused() const { return fAllocationRefused; }
    // The text of that refusal, for the error.
    VString GetAllocationRefusalMessage() const;

    // Installs the limits on the parser's scanner before the parse.
    void Install(xercesc::XMLScanner& ioScanner);

    // The parser's document-type and element callbacks report here first.
    void DoctypeDecl(xercesc::XMLScanner& ioScanner, bool inHasIntSubset, bool inHasExtSubset);
    void StartIntSubset(const xercesc::XMLScanner& inScanner);
    void EndIntSubset(xercesc::XMLScanner& ioScanner);
    void StartExtSubset() { fInExternalSubset = true; }
    void EndExtSubset(xercesc::XMLScanner& ioScanner);
    void EntityDecl(const xercesc::XMLScanner& inScanner, const xercesc::DTDEntityDecl& inDecl,
                    bool inIsParameter);
    void AttributeDefault(const xercesc::XMLScanner& inScanner, const XMLCh* inValue);
    void StartElement(const xercesc::XMLScanner& inScanner)
    {
        if (++fDepth > kMaxDepth)
        {
            _RefuseDepth(inScanner);
        }
    }
    void EndElement()
    {
        if (fDepth > 0)
        {
            --fDepth;
        }
    }

    [[noreturn]] static void Refuse(const xercesc::XMLScanner& inScanner, const VString& inMessage);
    // Pushes the refusal as an 'xmlc' 3 error with "message", "systemID", "publicID", "line" and
    // "column", like the library's own fatal errors.
    static void ReportRefusal(const Refusal& inRefusal);

    // Called by the memory manager for each allocation of this parse.
    bool AcceptAllocation(size_t inSize)
    {
        if (inSize > fAllocationLimit)
        {
            fAllocationRefused = true;
            return false;
        }
        return true;
    }

private:
    [[noreturn]] void _RefuseDepth(const xercesc::XMLScanner& inScanner) const;
    // Count limit from the character budget and the longest replacement text (see above).
    void _ApplyCharacterBudget(xercesc::XMLScanner& ioScanner);

    xercesc::SecurityManager fSecurityManager;
    size_t fCharacterLimit;
    size_t fAllocationLimit;
    size_t fDefaultCharacters = 0;
    size_t fLongestEntity = 0;
    uint32_t fDepth = 0;
    bool fRefuseInternalSubset;
    bool fLoadExternalDTD;
    bool fInExternalSubset = false;
    bool fAllocationRefused = false;
    VXMLSecurity* fOuter; // the parse this one runs inside, on the same thread
};

} // namespace zorn
