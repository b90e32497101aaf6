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

    // Empties both maps, releasing every type they held.
    void _Detach();

private:
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
