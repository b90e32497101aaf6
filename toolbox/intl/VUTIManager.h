// VUTIManager: the process-wide registry of uniform type identifiers (VUTI), keyed by identifier.
// It answers which types carry a tag (a file-name extension, a MIME type or an OS type), which
// single type is preferred for a tag, and whether a file conforms to a type. Two sources fill it:
// - the program's own declarations, property-list files read by LoadXMLFile (a bundle's
//   Info.plist "UTExportedTypeDeclarations" and "UTImportedTypeDeclarations"; reader in
//   VUTIManagerXMLHandler.h); each declared type is also registered as a private file kind with
//   VFileKindManager;
// - the system's own types, from shared-mime-info's freedesktop.org.xml (VSharedMimeInfoReader.h
//   holds the table that maps MIME types to identifiers), so that "public.jpeg",
//   "public.plain-text" or "com.adobe.pdf", their MIME types and their extensions are known on
//   any machine. They are not registered as file kinds (the file layer has its own table).
//
// Choices made:
// - The singleton is made by the first GetUTIManager, under a process-wide mutex, so that tasks
//   asking at once all get the same object; DeInit (or Delete) releases it and a later
//   GetUTIManager makes a new one. The pointer handed out carries no reference. Making it reads
//   no file: a program that never looks a type up (the updater) pays for neither source.
// - The system's types are read once, on the first look-up (GetUTI, the tag look-ups, file
//   conformance) or declaration file, whichever comes first, and come before any declaration:
//   a program that declares (or imports) a type the system knows keeps the system's. When the
//   file is missing, too large (over VSharedMimeInfoReader::kMaxFileSize) or malformed, the
//   registry holds the declared types only; its errors are not reported to the look-up's caller.
// - The registry itself takes no lock: it is filled and read by one task (start-up, or the caller
//   of the declaration reader).
// - A declaration file is taken whole or not at all: when its parse fails (malformed, truncated,
//   refused by the parser's limits) the types it had added are removed again, the parser's
//   'xmlc' error stays on the caller's error context, nothing is linked or registered as a file
//   kind, and LoadXMLFile answers false.
// - AddNewUTI keeps the first declaration of an identifier and ignores later ones; a type without
//   identifier is not registered. The registry holds a reference on each type; the manager's
//   destruction detaches every type from the graph (VUTI::_Detach) before releasing it.
// - Linking (ProcessExtractedUTIs) makes every declared conformance whose type is registered,
//   except where the type already descends from it, and refuses a link that would close a loop (a
//   type declared to conform to one of its own descendants): that placeholder stays temporary, so
//   every walk ends and the graph can be torn down. A type that already descends from one of the
//   other type's ancestors is linked too: skipping it would lose the declared conformance whenever
//   the ancestor's identifier sorts first.
// - Preferred type: among the types found for a tag, the public ones ("public..." identifiers)
//   when there are public and non-public ones, then the first in identifier order.
// - File conformance goes by the file's extension. The OS-type branch is kept for declarations
//   that carry OS types, but contributes nothing on Linux: files have no OS type there
//   (VFile::MAC_GetKind gives 0, which names no type).
// - The localization manager that translates type descriptions is kept without a reference:
//   its owner (the program's start-up) outlives the registry's use of it.
#pragma once

#include "toolbox/intl/VUTI.h"
#include "toolbox/kernel/base/IRefCountable.h"
#include "toolbox/kernel/base/VObject.h"
#include "toolbox/kernel/base/VRefPtr.h"

#include <memory>
#include <set>
#include <vector>

namespace zorn
{

class IFile;
class VFile;
class VLocalizationManager;
class VUTIManagerXMLHandler;
class VXMLParser;

class VUTIManager : public VObject, public IRefCountable
{
public:
    // The tag classes.
    static const VString& GetExtensionTagClass(); // "public.filename-extension"
    static const VString& GetMIMETypeTagClass();  // "public.mime-type"
    static const VString& GetOSTypeTagClass();    // "com.apple.ostype"

    // The singleton, made on first use.
    static VUTIManager* GetUTIManager();
    // Release the singleton; DeInit answers true.
    static bool DeInit();
    static void Delete();

    // Reads a declaration file, links its types and registers them as file kinds. False for a
    // null file, one that does not exist, or one whose parse failed (then the registry is as it
    // was, and the parser's error is on the caller's context).
    bool LoadXMLFile(VFile* inFile);
    // Reads a declaration file into the registry without linking its types nor registering file
    // kinds; answers false.
    bool AnalyzeXMLFile(const VFile* inFile);
    // Links placeholder parents to the registered types they name, then registers every declared
    // type as a private file kind (description localized as a strings-file key when the
    // localization manager knows it).
    void ProcessExtractedUTIs();

    // Registers the type under its identifier (the registry takes a reference); true only when it
    // was added.
    bool AddNewUTI(VUTI* inType);
    // The registered type of that identifier (no reference added), or null.
    VUTI* GetUTI(const VString& inIdentifier);
    // The number of types registered so far (reads no source).
    size_t GetUTICount() const { return fUTIs.size(); }

    // The registered types that carry the tag, or conform to a type that does, in identifier
    // order; null when the tag class or the tag is empty; empty for another tag class. The third
    // argument is not used.
    std::unique_ptr<std::vector<VRefPtr<VUTI>>>
    UTTypeCreateAllIdentifiersForTag(const VString& inTagClass, const VString& inTag,
                                     const VString& inConformingTo);
    // The preferred type for the tag (see above), conforming to inConformingTo when that is not
    // empty; one reference for the caller, or null.
    VUTI* UTTypeCreatePreferredIdentifierForTag(const VString& inTagClass, const VString& inTag,
                                                const VString& inConformingTo);
    // Whether the file exists and its type (by its extension) conforms to the identifier.
    bool UTTypeConformsTo(VFile* inFile, const VString& inIdentifier);

    static bool UTTypeEqual(const VString& inA, const VString& inB) { return inA.EqualToString(inB, false); }

    // The localization manager of the descriptions (not retained; may be null).
    void SetLocalizationManager(VLocalizationManager* inManager) { fLocalizationManager = inManager; }
    VLocalizationManager* GetLocalizationManager() const { return fLocalizationManager; }

    // The file of the system's types, instead of the one found on the machine
    // (platform/SharedMimeInfo.h); null for none. It counts only before the system's types are
    // first read.
    void SetSystemTypesFile(VFile* inFile);

private:
    VUTIManager();
    ~VUTIManager() override;

    // Reads the system's types once.
    void _LoadSystemTypes();
    // Parses a declaration file into the registry, undoing its additions when the parse fails.
    bool _ParseDeclarations(IFile* inFile);
    void _LinkPlaceholders();
    void _RegisterFileKinds();
    void _RemoveUTI(const VString& inIdentifier);

    VUTIMap fUTIs;
    std::unique_ptr<VXMLParser> fParser;
    VRefPtr<VUTIManagerXMLHandler> fRootHandler;
    VLocalizationManager* fLocalizationManager = nullptr;

    bool fSystemTypesRead = false;
    bool fSystemTypesFileSet = false;
    VRefPtr<VFile> fSystemTypesFile;
    // Identifiers of the system's types: not registered as file kinds.
    std::set<VString, VUTIIdentifierLess> fSystemIdentifiers;
    // While a declaration file is parsed: the identifiers it added.
    std::vector<VString>* fAddedByParse = nullptr;
};

} // namespace zorn
