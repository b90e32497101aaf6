// VFileKindManager: the process-wide registry of file kinds: the private kinds the program
// registers (for instance from its type declarations) and the public kinds it has looked up in
// the built-in type table, kept by ID in an ordered map. It answers which kind has an extension
// or an OS type, and hands out the two labels of the "All" choices of file dialogs.
//
// Choices and limits:
// - One manager, built on first use (Get) or by Init; DeInit releases it. Nothing may use the
//   manager while DeInit runs (the process calls it at its end).
// - IDs are ordered by VString::CompareToString with accents and case ignored; the walks of the
//   look-ups follow that order.
// - A shared mutex guards the map and the labels: look-ups share it; stores, which may come from
//   a look-up that makes a public kind, take it alone. A kind made outside the lock is stored only
//   when no other task stored one for the same look-up meanwhile, so a public kind is made and
//   stored once however many tasks ask for it together.
// - RetainFirstFileKindMatchingWithExtension stores the public kind it makes;
//   RetainFirstFileKindMatchingWithOsKind does not (and the table knows no OS type, so it finds
//   only registered kinds).
// - A label is changed only by a non-empty text for which 0 or 1.
#pragma once

#include "toolbox/files/VFileKind.h"
#include "toolbox/kernel/base/IRefCountable.h"
#include "toolbox/kernel/base/VObject.h"
#include "toolbox/kernel/base/VRefPtr.h"
#include "toolbox/kernel/strings/VString.h"

#include <atomic>
#include <map>
#include <shared_mutex>
#include <vector>

namespace zorn
{

class VFileKindManager : public VObject, public IRefCountable
{
public:
    VFileKindManager();
    ~VFileKindManager() override;
    VFileKindManager(const VFileKindManager&) = delete;
    VFileKindManager& operator=(const VFileKindManager&) = delete;

    // Builds the manager when there is none; true.
    static bool Init();
    // Releases the manager; the next Get builds a new one.
    static void DeInit();
    // The manager, built on first use; no reference for the caller.
    static VFileKindManager* Get();

    // The registered or stored kind of that ID, else the table's kind stored (one reference);
    // null when the table does not know the ID either.
    VFileKind* RetainFileKind(const VString& inID);
    // Stores a private kind under its ID, replacing the kind stored there.
    void RegisterPrivateFileKind(const VString& inID, const std::vector<VString>& inOsKinds,
                                 const VString& inDescription, const std::vector<VString>& inExtensions,
                                 const std::vector<VString>& inParentIDs);
    void RegisterPrivateFileKind(const VString& inID, const VString& inDescription,
                                 const std::vector<VString>& inExtensions,
                                 const std::vector<VString>& inParentIDs);
    // The first stored kind (in ID order) having the extension, else the table's kind for it, stored;
    // null when none (one reference).
    VFileKind* RetainFirstFileKindMatchingWithExtension(const VString& inExtension);
    // The first stored kind having the OS kind, else the table's (not stored); null when none.
    VFileKind* RetainFirstFileKindMatchingWithOsKind(const VString& inOsKind);

    // Labels: 0 "All", 1 "All readable documents".
    void RegisterLocalizedString(long inWhich, const VString& inText);
    // Copies label 0 or 1; another value leaves outText as it was.
    void GetLocalizedString(long inWhich, VString& outText) const;

private:
    struct IDLess
    {
        bool operator()(const VString& inA, const VString& inB) const;
    };
    using KindMap = std::map<VString, VRefPtr<VFileKind>, IDLess>;

    // The first kind of the map matching inMatch, with a reference; the caller holds the mutex.
    template <class TMatch>
    VFileKind* _RetainFirstMatching(const TMatch& inMatch) const;
    void _Store(VFileKind* inKind);

    static std::atomic<VFileKindManager*> sManager;

    mutable std::shared_mutex fMutex;
    KindMap fKinds;
    VString fLabelAll;
    VString fLabelAllReadable;
};

} // namespace zorn
