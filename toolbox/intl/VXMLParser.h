// VXMLParser: reads XML by streaming, running the Xerces-C SAX parser over a file, a memory block
// or a string and handing each element to a stack of IXMLHandler objects (see IXMLHandler.h).
// Parse errors become toolbox errors 'xmlc' 2 (error) and 'xmlc' 3 (fatal), with the string
// fields "message", "systemID", "publicID" and the number fields "line", "column", pushed on the
// calling task's error context.
//
// Choices and limits:
// - Init / DeInit are counted process-wide under one lock: the library is initialised by the
//   first user and terminated when the last one leaves, whichever threads they run on. Each Parse
//   also holds a use of its own, so a parse without a prior Init is safe (only slower).
// - Parse flags (u32): 1 validation "always"; 2 validation "never" (when 1 is clear; neither:
//   "auto"); 4 namespaces; 8 load external DTDs; 16 pass attributes the document did not specify
//   (DTD defaults) to the handlers; 32 schema processing, only when 2 is clear, which also forces
//   namespaces on and hands over the external schema locations that are set; 64 refuse a
//   document type with an internal subset (for formats that never need one).
// - Hardening, on every parse: the limits of VXMLSecurity (entity expansions by count and by the
//   characters they produce, parameter entities, nesting depth, allocation size), each refusal
//   an 'xmlc' 3 error naming the line. Without flag 8 an external DTD is never read, and a
//   document naming one parses. The library never resolves an external entity itself (nor
//   fetches anything); the only way to an external
//   entity or DTD is the resolver chain (the top handler, then this parser's folder), and a file
//   is accepted only when it lies inside the entities folder that answered. Any other system ID
//   (network schemes, absolute paths, "..", a file outside the folder) is refused with an
//   'xmlc' 2 error naming it, and the entity reads as empty.
// - Parse returns true when neither the library nor the resolver reported an error.
// - A parse runs entirely on the calling thread; a parser and its handlers serve one parse at a
//   time.
#pragma once

#include "toolbox/files/VFolder.h"
#include "toolbox/kernel/base/VObject.h"
#include "toolbox/kernel/base/VRefPtr.h"
#include "toolbox/kernel/errors/VError.h"
#include "toolbox/kernel/strings/VString.h"

#include <cstddef>
#include <cstdint>

namespace zorn
{

class IFile;
class IXMLHandler;
class VFile;

constexpr VError VE_XML_ERROR = MakeVError(kCOMPONENT_XML, 2);
constexpr VError VE_XML_FATAL_ERROR = MakeVError(kCOMPONENT_XML, 3);

enum : uint32_t
{
    XML_ValidationAlways = 1,
    XML_ValidationNever = 2,
    XML_DoNamespaces = 4,
    XML_LoadExternalDTD = 8,
    XML_PassUnspecifiedAttributes = 16,
    XML_DoSchema = 32,
    // Refuse a document type with an internal subset (for formats that never need one).
    XML_RefuseInternalSubset = 64,
};

class VXMLParser : public VObject
{
public:
    static constexpr size_t kEntityExpansionLimit = 10000; // the same as VXMLSecurity's

    VXMLParser() = default;
    VXMLParser(const VXMLParser&) = delete;
    VXMLParser& operator=(const VXMLParser&) = delete;
    ~VXMLParser() override = default;

    // Counted initialisation and termination of the XML library; Init returns true.
    static bool Init();
    static void DeInit();
    // The current count of users, and how often the library was initialised (for diagnostics).
    static int32_t GetInitCount();
    static int32_t GetLibraryInitializations();

    // A VFile is read by the library from its path; another IFile is read whole and parsed from
    // memory with its path as system ID (a read failure returns false without parsing).
    bool Parse(IFile* inFile, IXMLHandler* inHandler, uint32_t inFlags);
    // System ID "frommem".
    bool Parse(const void* inData, size_t inSize, IXMLHandler* inHandler, uint32_t inFlags);
    // The string's UTF-16 units, system ID "frommem".
    bool Parse(const VString& inText, IXMLHandler* inHandler, uint32_t inFlags);

    void SetEntitiesLocalFolder(const VString& inBaseURL, VFolder* inFolder);
    VFolder* GetEntitiesFolder() const { return fEntitiesFolder.Get(); }
    // A retained file for the system ID from this parser's folder, or null.
    VFile* ResolveEntity(const VString& inSystemID);
    // The file that the system ID names inside the folder: the base URL (compared through the
    // collator, not diacritical) is removed once, the rest is a path relative to the folder with
    // "/" as separator. Null without a folder, for another base URL, for a path that leaves the
    // folder, or when no such file exists.
    static VFile* ResolveEntityFromFolder(const VString& inBaseURL, VFolder* inFolder,
                                          const VString& inSystemID);

    bool IsPassUnspecifiedAttributes() const { return fPassUnspecifiedAttributes; }
    const VString& GetExternalSchemaLocation() const { return fExternalSchemaLocation; }
    const VString& GetExternalNoNamespaceSchemaLocation() const { return fExternalNoNamespaceSchemaLocation; }

private:
    class _SourceMaker;
    bool _Parse(const _SourceMaker& inSource, IXMLHandler* inHandler, uint32_t inFlags);

    VString fEntitiesBaseURL;
    VRefPtr<VFolder> fEntitiesFolder;
    bool fPassUnspecifiedAttributes = false;
    VString fExternalSchemaLocation;
    VString fExternalNoNamespaceSchemaLocation;
};

// One use of the XML library for the scope.
class StXMLParserInit
{
public:
    StXMLParserInit() { VXMLParser::Init(); }
    ~StXMLParserInit() { VXMLParser::DeInit(); }
    StXMLParserInit(const StXMLParserInit&) = delete;
    StXMLParserInit& operator=(const StXMLParserInit&) = delete;
};

} // namespace zorn
