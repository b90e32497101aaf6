#include "toolbox/files/VFileKind.h"

#include "toolbox/files/VFileKindManager.h"
#include "toolbox/files/linux/XLinuxFile.h"

namespace zorn
{

VFileKind::VFileKind(const VString& inID, const std::vector<VString>& inOsKinds, const VString& inDescription,
                     const std::vector<VString>& inExtensions, const std::vector<VString>& inParentIDs,
                     bool inPublic)
    : fDescription(inDescription), fID(inID), fOsKinds(inOsKinds), fExtensions(inExtensions),
      fParentIDs(inParentIDs), fPublic(inPublic)
{
}

VFileKind* VFileKind::Create(const VString& inID, const std::vector<VString>& inOsKinds,
                             const VString& inDescription, const std::vector<VString>& inExtensions,
                             const std::vector<VString>& inParentIDs, bool inPublic)
{
    return new VFileKind(inID, inOsKinds, inDescription, inExtensions, inParentIDs, inPublic);
}

bool VFileKind::MatchExtension(const VString& inExtension) const
{
    for (const VString& extension : fExtensions)
    {
        if (extension.EqualToString(inExtension, false))
        {
            return true;
        }
    }
    return false;
}

bool VFileKind::MatchOsKind(const VString& inOsKind) const
{
    for (const VString& osKind : fOsKinds)
    {
        if (osKind.EqualToString(inOsKind, true))
        {
            return true;
        }
    }
    return false;
}

bool VFileKind::GetPreferredExtension(VString& outExtension) const
{
    if (fExtensions.empty())
    {
        outExtension.Clear();
        return false;
    }
    outExtension = fExtensions.front();
    return true;
}

bool VFileKind::GetPreferredOsKind(VString& outOsKind) const
{
    if (fOsKinds.empty())
    {
        outOsKind.Clear();
        return false;
    }
    outOsKind = fOsKinds.front();
    return true;
}

bool VFileKind::GetParentIDs(std::vector<VString>& outIDs) const
{
    outIDs = fParentIDs;
    return !outIDs.empty();
}

bool VFileKind::ConformsTo(const VFileKind& inKind) const
{
    return XLinuxFile::IsFileKindConformsTo(*this, inKind);
}

bool VFileKind::ConformsTo(const VString& inID) const
{
    VRefPtr<VFileKind> kind(VFileKindManager::Get()->RetainFileKind(inID), true);
    return kind && ConformsTo(*kind);
}

} // namespace zorn
