// VFileKind: a class of documents named by a uniform type identifier ("public.xml"), with its
// description, file-name extensions (without dot), four-character OS type codes (as text) and the
// identifiers it conforms to. Public kinds come from the built-in type table of the back end
// (XLinuxFile::CreatePublicFileKind); private kinds are those the program registers itself with
// VFileKindManager. A kind never changes once made and is shared by reference counting.
//
// Choices and limits:
// - MatchExtension compares through the current task's collator ignoring case and accents ("XLF"
//   matches "xlf"); MatchOsKind makes case and accents count ("TEXT" is not "text").
// - ConformsTo follows the conforms-to links (XLinuxFile::IsFileKindConformsTo): a kind conforms
//   to itself and to every identifier reachable through its parents, the parents of a registered
//   private kind included. Identifiers compare with ASCII case ignored.
#pragma once

#include "toolbox/kernel/base/IRefCountable.h"
#include "toolbox/kernel/base/VObject.h"
#include "toolbox/kernel/strings/VString.h"

#include <vector>

namespace zorn
{

class VFileKind : public VObject, public IRefCountable
{
public:
    VFileKind(const VString& inID, const std::vector<VString>& inOsKinds, const VString& inDescription,
              const std::vector<VString>& inExtensions, const std::vector<VString>& inParentIDs,
              bool inPublic);
    VFileKind(const VFileKind&) = delete;
    VFileKind& operator=(const VFileKind&) = delete;

    // A new kind with one reference for the caller.
    static VFileKind* Create(const VString& inID, const std::vector<VString>& inOsKinds,
                             const VString& inDescription, const std::vector<VString>& inExtensions,
                             const std::vector<VString>& inParentIDs, bool inPublic);

    const VString& GetID() const { return fID; }
    const VString& GetDescription() const { return fDescription; }
    const std::vector<VString>& GetOsKinds() const { return fOsKinds; }
    const std::vector<VString>& GetExtensions() const { return fExtensions; }
    bool IsPublic() const { return fPublic; }

    bool MatchExtension(const VString& inExtension) const;
    bool MatchOsKind(const VString& inOsKind) const;
    // The first extension or OS kind; false, with the output emptied, when there is none.
    bool GetPreferredExtension(VString& outExtension) const;
    bool GetPreferredOsKind(VString& outOsKind) const;
    // Replaces the vector's content with the parent IDs; whether there are any.
    bool GetParentIDs(std::vector<VString>& outIDs) const;

    bool ConformsTo(const VFileKind& inKind) const;
    // Through the kind of that ID (VFileKindManager::RetainFileKind); false when there is none.
    bool ConformsTo(const VString& inID) const;

private:
    const VString fDescription;
    const VString fID;
    const std::vector<VString> fOsKinds;
    const std::vector<VString> fExtensions;
    const std::vector<VString> fParentIDs;
    const bool fPublic;
};

} // namespace zorn
