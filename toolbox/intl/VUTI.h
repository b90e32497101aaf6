// VUTI: one uniform type identifier of the type registry (VUTIManager): a reverse-DNS type name
// with its description, reference, icon path, tags (OS types, file-name extensions, MIME types)
// and its place in the conformance graph (the types it conforms to, its parents, and those that
// conform to it, its children).
//
// Choices made:
// - Tags keep their insertion order; a tag equal to one present (VString::EqualToString, case and
//   accents not counted) is not added again. The vector setters replace the vectors as given.
// - Parents and children are maps ordered by identifier (code units compared exactly), each
//   holding a reference on its type; an entry is added only for a non-empty identifier not yet
//   present. The map getters return copies whose pointers carry no reference.
// - Parents and children refer to each other, so a graph is torn down with _Detach, which empties
//   both maps and releases what they held, before the types are released.
// - Temporary types are placeholders for identifiers named in a conformance list before their
//   own declaration is known: every walk below skips them (only CouldBeAParent and
//   CouldBeAChild count them, at the first level).
// - The walks (conformance, tag look-ups, ancestry) follow parents or children in identifier
//   order, depth first, and visit each type once: a diamond-shaped graph costs what its number of
//   types and links costs, not the number of its paths, and a graph that loops (which the
//   registry never builds, but a caller may) still ends. They run on an explicit stack, so a long
//   chain of declarations cannot exhaust the thread's stack. Visiting a type once gives the same
//   answers as the plain recursive definitions, since a type reached again can add nothing.
// - Identifiers and tags compare with VString::EqualToString, case and accents not counted.
// - A type is used by one task at a time (no lock).
#pragma once

#include "toolbox/files/VFilePath.h"
#include "toolbox/kernel/base/IRefCountable.h"
#include "toolbox/kernel/base/VObject.h"
#include "toolbox/kernel/strings/VString.h"

#include <map>
#include <vector>

namespace zorn
{

class VUTI;

// Orders identifiers by their code units.
struct VUTIIdentifierLess
{
    bool operator()(const VString& inA, const VString& inB) const
    {
        return inA.CompareToStringRaw(inB) == CR_SMALLER;
    }
};

using VUTIMap = std::map<VString, VUTI*, VUTIIdentifierLess>;

class VUTI : public VObject, public IRefCountable
{
public:
    VUTI() = default;
    explicit VUTI(const VString& inIdentifier) : fIdentifier(inIdentifier) {}
    ~VUTI() override;
    VUTI(const VUTI&) = delete;
    VUTI& operator=(const VUTI&) = delete;

    const VString& GetIdentifier() const { return fIdentifier; }
    void SetIdentifier(const VString& inIdentifier) { fIdentifier = inIdentifier; }
    const VString& GetDescription() const { return fDescription; }
    void SetDescription(const VString& inDescription) { fDescription = inDescription; }
    const VString& GetReference() const { return fReference; }
    void SetReference(const VString& inReference) { fReference = inReference; }
    const VFilePath& GetImagePath() const { return fImagePath; }
    void SetImagePath(const VFilePath& inPath) { fImagePath = inPath; }
    bool IsTemporary() const { return fTemporary; }
    void SetTemporary(bool inTemporary) { fTemporary = inTemporary; }
    bool IsDynamic() const { return fDynamic; }
    void SetDynamic(bool inDynamic) { fDynamic = inDynamic; }
    // The identifier begins with "public" (case and accents not counted).
    bool IsPublic() const;

    std::vector<VString> GetExtensionsVector() const { return fExtensions; }
    void SetExtensionsVector(const std::vector<VString>& inTags) { fExtensions = inTags; }
    std::vector<VString> GetOSTypesVector() const { return fOSTypes; }
    void SetOSTypesVector(const std::vector<VString>& inTags) { fOSTypes = inTags; }
    std::vector<VString> GetMIMETypesVector() const { return fMIMETypes; }
    void SetMIMETypesVector(const std::vector<VString>& inTags) { fMIMETypes = inTags; }
    void AddExtension(const VString& inTag) { _AddTag(fExtensions, inTag); }
    void AddOSType(const VString& inTag) { _AddTag(fOSTypes, inTag); }
    void AddMIMEType(const VString& inTag) { _AddTag(fMIMETypes, inTag); }

    VUTIMap GetParentUTIsMap() const { return fParents; }
    void SetParentUTIsMap(const VUTIMap& inMap) { _ReplaceMap(fParents, inMap); }
    VUTIMap GetChildrenUTIsMap() const { return fChildren; }
    void SetChildrenUTIsMap(const VUTIMap& inMap) { _ReplaceMap(fChildren, inMap); }
    // Each answers whether the type was added.
    bool AddParentUTI(VUTI* inParent) { return _AddToMap(fParents, inParent); }
    bool AddChildUTI(VUTI* inChild) { return _AddToMap(fChildren, inChild); }

    // Whether this type is inIdentifier or conforms to it through its non-temporary parents.
    bool ConformsToIdentifier(const VString& inIdentifier) const;
    // The type nearest this one (itself first, then its non-temporary parents in identifier order,
    // depth first) that carries the tag, with a reference for the caller; null when none does.
    VUTI* GetHighestParentThatConformsToExtension(const VString& inTag);
    VUTI* GetHighestParentThatConformsToOSType(const VString& inTag);
    VUTI* GetHighestParentThatConformsToMIMEType(const VString& inTag);
    bool ConformsToExtension(const VString& inTag) const;
    bool ConformsToOSType(const VString& inTag) const;
    bool ConformsToMIMEType(const VString& inTag) const;
    // Appends the type's own extensions, then those of its non-temporary ancestors (identifier
    // order, depth first), each only when no equal one is in the vector yet.
    void GetAllExtensionsVector(std::vector<VString>& ioExtensions) const;

    // Whether a non-temporary ancestor (IsParent) or descendant (IsChild) has inOther's identifier.
    bool IsParent(const VUTI* inOther) const;
    bool IsChild(const VUTI* inOther) const;
    // The same, a temporary direct parent or child counting too.
    bool CouldBeAParent(const VUTI* inOther) const;
    bool CouldBeAChild(const VUTI* inOther) const;
    // Whether this type or one of its non-temporary ancestors has inOther among its descendants.
    bool IsChildOrChildOfAParent(const VUTI* inOther) const;
    // Removes the parent entry and the child entry under that identifier where they hold a
    // temporary type.
    void RemoveTemporaryUTI(const VString& inIdentifier);

    // Empties both maps, releasing every type they held.
    void _Detach();

private:
    enum class ETagKind
    {
        kExtension,
        kOSType,
        kMIMEType
    };
    const std::vector<VString>& _TagsOf(ETagKind inKind) const;
    // The first type of the walk from this one over non-temporary parents (inUp) or children,
    // itself included when inIncludeSelf, for which inMatch holds; null when none.
    template <class TMatch>
    const VUTI* _FindInWalk(bool inUp, bool inIncludeSelf, const TMatch& inMatch) const;
    VUTI* _RetainHolderOfTag(ETagKind inKind, const VString& inTag) const;
    static bool _HasTag(const std::vector<VString>& inTags, const VString& inTag);
    bool _HasRelative(const VUTIMap& inFirstLevel, bool inUp, const VUTI* inOther,
                      bool inCountTemporary) const;

    static void _AddTag(std::vector<VString>& ioTags, const VString& inTag);
    static bool _AddToMap(VUTIMap& ioMap, VUTI* inType);
    static void _ReplaceMap(VUTIMap& ioMap, const VUTIMap& inNew);
    static void _ReleaseAll(VUTIMap& ioMap);

    bool fTemporary = false;
    VString fIdentifier;
    VString fDescription;
    VString fReference;
    VFilePath fImagePath;
    bool fDynamic = false;
    std::vector<VString> fOSTypes;
    std::vector<VString> fExtensions;
    std::vector<VString> fMIMETypes;
    VUTIMap fParents;
    VUTIMap fChildren;
};

} // namespace zorn
