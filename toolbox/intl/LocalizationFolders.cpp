#include "toolbox/intl/LocalizationFolders.h"

#include "toolbox/kernel/locale/VIntlMgr.h"

namespace zorn
{

namespace
{

const VString& LprojExtension()
{
    static const VString sExtension(".lproj");
    return sExtension;
}

// The sub-folders of one parent, listed once and only when a candidate is not found by its name.
class SubFolderFinder
{
public:
    explicit SubFolderFinder(const IFolder* inParent) : fParent(inParent) {}

    VRefPtr<IFolder> Find(const VString& inName)
    {
        VRefPtr<IFolder> exact(fParent->RetainRelativeFolder(inName, FPS_NATIVE, nullptr), true);
        if (exact != nullptr && exact->Exists())
        {
            return exact;
        }
        if (!fListed)
        {
            fParent->GetElements(nullptr, &fListing, true);
            fListed = true;
        }
        VRefPtr<IFolder> best;
        VString bestName;
        for (const VRefPtr<IFolder>& folder : fListing)
        {
            VString name;
            folder->GetName(name);
            if (name.CompareToStringRawCase(inName) == CR_EQUAL &&
                (best == nullptr || name.CompareToStringRaw(bestName) == CR_SMALLER))
            {
                best = folder;
                bestName = name;
            }
        }
        return best;
    }

private:
    const IFolder* fParent;
    bool fListed = false;
    std::vector<VRefPtr<IFolder>> fListing;
};

} // namespace

void GetLocalizationFolderNames(uint32_t inDialectCode, std::vector<VString>& outNames)
{
    outNames.clear();
    VString previous;
    auto add = [&](bool inFound, VString inName)
    {
        if (!inFound || inName.IsEmpty())
        {
            return;
        }
        inName.AppendString(LprojExtension());
        if (!inName.EqualToStringRaw(previous))
        {
            outNames.push_back(inName);
        }
        previous = inName;
    };
    VString code;
    bool hasCode = VIntlMgr::GetRFC3066BisLanguageCodeWithDialectCode(inDialectCode, code, '-');
    add(hasCode, code);
    hasCode = VIntlMgr::GetRFC3066BisLanguageCodeWithDialectCode(inDialectCode, code, '_');
    add(hasCode, code);
    VString language;
    bool hasLanguage = VIntlMgr::GetISO6391LanguageCode(inDialectCode, language);
    add(hasLanguage, language);
    VString region;
    if (hasLanguage && VIntlMgr::GetISO3166RegionCode(inDialectCode, region))
    {
        add(true, language + VString("_") + region);
    }
    VString englishName;
    if (VIntlMgr::GetISOLanguageName(inDialectCode, englishName))
    {
        VString first;
        englishName.GetSubString(1, 1, first);
        VIntlMgr::ToUpperLowerCaseNoDialect(first, true);
        englishName.Replace(first, 1, 1);
        add(true, englishName);
    }
}

bool GetLocalizationFoldersWithDialect(uint32_t inDialectCode, const IFolder* inParent,
                                       std::vector<VRefPtr<IFolder>>& outFolders)
{
    if (inParent == nullptr)
    {
        return false;
    }
    std::vector<VString> names;
    GetLocalizationFolderNames(inDialectCode, names);
    SubFolderFinder finder(inParent);
    bool found = false;
    std::vector<VRefPtr<IFolder>> mine;
    for (const VString& name : names)
    {
        VRefPtr<IFolder> folder = finder.Find(name);
        if (folder == nullptr)
        {
            continue;
        }
        bool listed = false;
        for (const VRefPtr<IFolder>& other : mine)
        {
            listed = listed || other->IsSameFolder(folder.Get());
        }
        if (!listed)
        {
            mine.push_back(folder);
            outFolders.push_back(folder);
            found = true;
        }
    }
    return found;
}

IFile* RetainLocalizationFile(const IFolder* inParent, const VString& inFileName, uint32_t inDialectCode,
                              bool* outFolderFound)
{
    std::vector<VRefPtr<IFolder>> folders;
    bool found = GetLocalizationFoldersWithDialect(inDialectCode, inParent, folders);
    if (outFolderFound != nullptr)
    {
        *outFolderFound = found;
    }
    for (auto it = folders.rbegin(); it != folders.rend(); ++it)
    {
        VRefPtr<IFile> file((*it)->_RetainRelativeIFile(inFileName, FPS_NATIVE), true);
        if (file != nullptr && file->Exists())
        {
            return file.Forget();
        }
    }
    return nullptr;
}

} // namespace zorn
