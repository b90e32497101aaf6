// VUTIManager: the process-wide registry of uniform type identifiers (VUTI), keyed by identifier.
// The program obtains it with GetUTIManager at start-up; type declarations, read from
// property-list files by the declaration reader, fill it through AddNewUTI. Until such a file is
// read the registry is empty.
//
// Choices made:
// - The singleton is made by the first GetUTIManager, under a process-wide mutex, so that tasks
//   asking at once all get the same object; DeInit (or Delete) releases it and a later
//   GetUTIManager makes a new one. The pointer handed out carries no reference.
// - The registry itself takes no lock: it is filled and read by one task (start-up, or the caller
//   of the declaration reader).
// - The manager holds the XML parser that declaration files are read with; the library's start
//   is counted through VXMLParser::Init and DeInit.
// - AddNewUTI keeps the first declaration of an identifier and ignores later ones; a type without
//   identifier is not registered. The registry holds a reference on each type; the manager's
//   destruction detaches every type from the graph (VUTI::_Detach) before releasing it.
// - The localization manager that will translate type descriptions is kept without a reference:
//   its owner (the program's start-up) outlives the registry's use of it.
#pragma once

#include "toolbox/intl/VUTI.h"
#include "toolbox/kernel/base/IRefCountable.h"
#include "toolbox/kernel/base/VObject.h"

#include <memory>

namespace zorn
{

class VLocalizationManager;
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

    // Registers the type under its identifier (the registry takes a reference); true only when it
    // was added.
    bool AddNewUTI(VUTI* inType);
    // The registered type of that identifier (no reference added), or null.
    VUTI* GetUTI(const VString& inIdentifier) const;
    size_t GetUTICount() const { return fUTIs.size(); }

    // The localization manager of the descriptions (not retained; may be null).
    void SetLocalizationManager(VLocalizationManager* inManager) { fLocalizationManager = inManager; }
    VLocalizationManager* GetLocalizationManager() const { return fLocalizationManager; }

    static bool UTTypeEqual(const VString& inA, const VString& inB) { return inA.EqualToString(inB, false); }

private:
    VUTIManager();
    ~VUTIManager() override;

    VUTIMap fUTIs;
    std::unique_ptr<VXMLParser> fParser;
    VLocalizationManager* fLocalizationManager = nullptr;
};

} // namespace zorn
