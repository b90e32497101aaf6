#include "toolbox/intl/VLocalizationManager.h"

#include "toolbox/files/VFile.h"
#include "toolbox/files/VFolder.h"
#include "toolbox/intl/LocalizationFolders.h"
#include "toolbox/intl/VLocalizationXMLHandler.h"
#include "toolbox/intl/VXMLParser.h"
#include "toolbox/kernel/charsets/VTextConverters.h"
#include "toolbox/kernel/errors/VErrorContext.h"
#include "toolbox/kernel/hooks/IProcessServices.h"

#include <algorithm>
#include <cstring>
#include <string>

namespace zorn
{

namespace
{

// Made at program load, compared through IFileSystemObject::MatchExtension.
const VString& XLIFFExtension()
{
    static const VString sExtension("xlf");
    return sExtension;
}

const VString& DotStringsExtension()
{
    static const VString sExtension("strings");
    return sExtension;
}

constexpr uint32_t kFilesOnly = 4; // folder iteration: files, one level, no invisible items

VString ErrorKey(VError inError)
{
    VString key("ERR_");
    const OsType component = ComponentOfVError(inError);
    for (int shift = 24; shift >= 0; shift -= 8)
    {
        key.AppendUniChar(static_cast<UniChar>((component >> shift) & 0xFF));
    }
    key.AppendUniChar('_');
    key.AppendCString(std::to_string(static_cast<int32_t>(static_cast<uint32_t>(inError))).c_str());
    return key;
}

// Paths are the same when their texts are (Linux file systems tell case apart).
bool SamePath(const VFilePath& inFirst, const VFilePath& inSecond)
{
    VString first;
    VString second;
    inFirst.GetPath(first);
    inSecond.GetPath(second);
    return first.EqualToStringRaw(second);
}

// Removes a leading and a trailing '"' pair by taking off the first and the last unit.
void StripQuotes(VString& ioPiece)
{
    if (ioPiece.GetUniChar(1) == '"')
    {
        ioPiece.SubString(2, ioPiece.GetLength() - 2);
        if (ioPiece.GetLength() < 0)
        {
            ioPiece.Clear();
        }
    }
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Orders and lifetime
// ---------------------------------------------------------------------------------------------

bool VLocalizationManager::RawLess::operator()(const VString& inFirst, const VString& inSecond) const
{
    const UniChar* first = inFirst.GetCPointer();
    const UniChar* second = inSecond.GetCPointer();
    const size_t firstLength = first == nullptr ? 0 : static_cast<size_t>(inFirst.GetLength());
    const size_t secondLength = second == nullptr ? 0 : static_cast<size_t>(inSecond.GetLength());
    return std::lexicographical_compare(first, first + firstLength, second, second + secondLength);
}

bool VLocalizationManager::PathLess::operator()(const VFilePath& inFirst, const VFilePath& inSecond) const
{
    VString first;
    VString second;
    inFirst.GetPath(first);
    inSecond.GetPath(second);
    return RawLess()(first, second);
}

VLocalizationManager::VLocalizationManager(uint32_t inDialectCode)
    : fDialectCode(inDialectCode), fParser(std::make_unique<VXMLParser>()),
      fRootHandler(new VLocalizationXMLHandler(this), true)
{
    VXMLParser::Init();
}

VLocalizationManager::~VLocalizationManager()
{
    fLanguageFolders.clear();
    fRootHandler = nullptr;
    fParser.reset();
    VXMLParser::DeInit();
}

// ---------------------------------------------------------------------------------------------
// Loading
// ---------------------------------------------------------------------------------------------

bool VLocalizationManager::LoadDefaultLocalizationFoldersForComponentOrPlugin(IFolder* inBundleFolder)
{
    if (inBundleFolder == nullptr || !inBundleFolder->Exists())
    {
        return false;
    }
    VRefPtr<IFolder> contents(inBundleFolder->RetainRelativeFolder(VString("Contents:"), FPS_NATIVE, nullptr),
                              true);
    if (contents == nullptr)
    {
        return false;
    }
    VRefPtr<IFolder> resources(contents->RetainRelativeFolder(VString("Resources:"), FPS_NATIVE, nullptr),
                               true);
    LoadDefaultLocalizationFolders(contents.Get());
    return LoadDefaultLocalizationFolders(resources.Get());
}

bool VLocalizationManager::LoadDefaultLocalizationFolders(IFolder* inFolder)
{
    if (inFolder == nullptr || !inFolder->Exists())
    {
        return false;
    }
    ScanAndLoadFolder(inFolder, true);
    std::vector<VRefPtr<IFolder>> folders;
    GetLocalizationFoldersWithDialect(fDialectCode, inFolder, folders);
    fLanguageFolders = folders;
    bool scanned = false;
    for (const VRefPtr<IFolder>& folder : folders)
    {
        scanned = ScanAndLoadFolder(folder.Get(), false) == VE_OK || scanned;
    }
    return scanned;
}

VError VLocalizationManager::ScanAndLoadFolder(IFolder* inFolder, bool inAvoidLanguageChecking)
{
    if (inFolder == nullptr)
    {
        return VE_INVALID_PARAMETER;
    }
    if (!inFolder->Exists())
    {
        return VE_FILE_NOT_FOUND;
    }
    inFolder->IterateFiles(
        [this, inAvoidLanguageChecking](IFile* inFile, IFileAttributeAccessor*)
        {
            _LoadFile(inFile, true, inAvoidLanguageChecking);
            return true;
        },
        kFilesOnly);
    // A folder path names the same folder when its text is the same (IFolder::IsSameFolder).
    const VFilePath mine = inFolder->GetPath();
    const bool registered =
        std::any_of(fRegisteredPaths.begin(), fRegisteredPaths.end(),
                    [&mine](const VFilePath& inPath) { return inPath.IsFolder() && SamePath(inPath, mine); });
    if (!registered)
    {
        fRegisteredPaths.push_back(inFolder->GetPath());
    }
    return VE_OK;
}

VError VLocalizationManager::LoadFile(IFile* inFile, bool inAvoidLanguageChecking)
{
    return _LoadFile(inFile, false, inAvoidLanguageChecking);
}

VError VLocalizationManager::_LoadFile(IFile* inFile, bool inDoNotRegister, bool inAvoidLanguageChecking)
{
    if (inFile == nullptr)
    {
        return VE_INVALID_PARAMETER;
    }
    if (!inFile->Exists())
    {
        return VE_FILE_NOT_FOUND;
    }
    if (inFile->MatchExtension(XLIFFExtension()))
    {
        if (AnalyzeXLIFFFile(inFile, inAvoidLanguageChecking) == VE_OK)
        {
            const VFilePath path = inFile->GetPath();
            if (!inDoNotRegister &&
                std::none_of(fRegisteredPaths.begin(), fRegisteredPaths.end(),
                             [&path](const VFilePath& inPath) { return SamePath(inPath, path); }))
            {
                fRegisteredPaths.push_back(path);
            }
            VTime modified;
            if (inFile->GetTimeAttributes(&modified, nullptr, nullptr) == VE_OK)
            {
                fFileTimes[path] = modified;
            }
        }
        return VE_OK;
    }
    if (inFile->MatchExtension(DotStringsExtension()))
    {
        return AnalyzeDotStringsFile(inFile);
    }
    return VE_LOCALIZATION_UNKNOWN_FILE_KIND;
}

VError VLocalizationManager::AnalyzeXLIFFFile(IFile* inFile, bool inAvoidLanguageChecking)
{
    if (inFile == nullptr)
    {
        return VE_INVALID_PARAMETER;
    }
    fRootHandler->SetAvoidLanguageChecking(inAvoidLanguageChecking);
    fRootHandler->ResetLanguage();
    VString text;
    VError error = inFile->GetContentAsString(text, CharSet::VTC_UTF_8, eCRM_NONE);
    if (error == VE_OK)
    {
        // What the parser finds wrong stays here: a bad file contributes what it can.
        StErrorContextInstaller parseErrors(false, true);
        // Localization files never need a document type of their own, which could declare entities.
        fParser->Parse(text, fRootHandler.Get(), XML_ValidationNever | XML_RefuseInternalSubset);
    }
    fRootHandler->SetAvoidLanguageChecking(false);
    return error;
}

VError VLocalizationManager::AnalyzeDotStringsFile(IFile* inFile)
{
    if (inFile == nullptr)
    {
        return VE_INVALID_PARAMETER;
    }
    if (!inFile->Exists())
    {
        return VE_FILE_NOT_FOUND;
    }
    VFileContentBuffer content;
    VError error = inFile->GetContent(content);
    if (error != VE_OK)
    {
        return error;
    }
    VString text;
    error = DecodeDotStrings(content.GetDataPtr(), content.GetDataSize(), text);
    if (error == VE_OK)
    {
        AnalyzeDotStringsText(text);
    }
    return error;
}

// ---------------------------------------------------------------------------------------------
// Strings files
// ---------------------------------------------------------------------------------------------

VError VLocalizationManager::DecodeDotStrings(const void* inBytes, size_t inSize, VString& outText)
{
    const auto* bytes = static_cast<const uint8_t*>(inBytes);
    size_t markSize = 0;
    CharSet charSet = CharSet::VTC_UNKNOWN;
    if (!VTextConverters::ParseBOM(bytes, inSize, markSize, charSet))
    {
        markSize = 0;
        const bool hasNul = inSize > 0 && std::memchr(bytes, 0, inSize) != nullptr;
        charSet = !hasNul && VTextConverters::DetectUTF8(bytes, inSize) ? CharSet::VTC_UTF_8
                                                                        : CharSet::VTC_UTF_16_BIGENDIAN;
    }
    if (!outText.FromBlock(inSize > markSize ? bytes + markSize : nullptr, inSize - markSize, charSet))
    {
        outText.Clear();
        return VE_FILE_CANNOT_CONVERT_TEXT;
    }
    outText.ConvertCarriageReturns(eCRM_LF);
    return VE_OK;
}

void VLocalizationManager::AnalyzeDotStringsText(const VString& inText)
{
    std::vector<VString> lines;
    inText.GetSubStrings(UniChar('\n'), lines, false, false);
    VString key;
    VString text;
    for (const VString& line : lines)
    {
        if (ParseDotStringsLine(line, key, text))
        {
            fKeyMap[key] = text;
        }
    }
}

bool VLocalizationManager::ParseDotStringsLine(const VString& inLine, VString& outKey, VString& outText)
{
    VString line(inLine);
    line.Truncate(line.GetLength() - 1);
    std::vector<VString> pieces;
    line.GetSubStrings(VString("="), pieces, false, false);
    if (pieces.size() != 2)
    {
        return false;
    }
    VString key = pieces[0];
    VString text = pieces[1];
    key.Trim();
    text.Trim();
    StripQuotes(key);
    StripQuotes(text);
    if (key.IsEmpty() || text.IsEmpty())
    {
        return false;
    }
    outKey = key;
    outText = text;
    return true;
}

// ---------------------------------------------------------------------------------------------
// Look-ups
// ---------------------------------------------------------------------------------------------

bool VLocalizationManager::LocalizeStringWithKey(const VString& inKey, VString& outText)
{
    StLocker<VCriticalSection> lock(&fLock);
    auto found = fKeyMap.find(inKey);
    if (found == fKeyMap.end())
    {
        return false;
    }
    outText = found->second;
    return true;
}

bool VLocalizationManager::LocalizeStringWithDotStringsKey(const VString& inKey, VString& outText)
{
    StLocker<VCriticalSection> lock(&fLock);
    auto found = fDotStringsMap.find(inKey);
    if (found == fDotStringsMap.end())
    {
        return false;
    }
    outText = found->second;
    return true;
}

bool VLocalizationManager::LocalizeErrorMessage(VError inError, VString& outText)
{
    return LocalizeStringWithKey(ErrorKey(inError), outText);
}

bool VLocalizationManager::LocalizeStringWithSTRSharpCodes(const STRSharpCodes& inCodes, VString& outText)
{
    StLocker<VCriticalSection> lock(&fLock);
    auto found = fNumericMap.find(inCodes);
    if (found == fNumericMap.end())
    {
        return false;
    }
    outText = found->second;
    return true;
}

bool VLocalizationManager::LocalizeGroupOfStringsWithAStrSharpID(int32_t inGroupID,
                                                                 std::vector<VString>& outTexts)
{
    StLocker<VCriticalSection> lock(&fLock);
    outTexts.clear();
    for (uint32_t unit = 1; unit != 0; ++unit)
    {
        auto found = fNumericMap.find(STRSharpCodes{static_cast<uint32_t>(inGroupID), unit});
        if (found == fNumericMap.end())
        {
            break;
        }
        outTexts.push_back(found->second);
    }
    return !outTexts.empty();
}

bool VLocalizationManager::GetOrderedStringsOfGroup(const VString& inResName, std::vector<VString>& outTexts)
{
    StLocker<VCriticalSection> lock(&fLock);
    outTexts.clear();
    auto found = fGroupMap.find(inResName);
    if (found == fGroupMap.end())
    {
        return false;
    }
    for (const auto& [unit, text] : found->second)
    {
        outTexts.push_back(text);
    }
    return !outTexts.empty();
}

const VValueBag* VLocalizationManager::RetainGroupBag(const VString& inResName)
{
    StLocker<VCriticalSection> lock(&fLock);
    for (const auto& [name, bag] : fBagsByResName)
    {
        if (name.CompareToString(inResName, false) == CR_EQUAL)
        {
            bag->Retain();
            return bag.Get();
        }
    }
    return nullptr;
}

void VLocalizationManager::RetainGroupBagsByRestype(const VString& inResType,
                                                    std::vector<VRefPtr<const VValueBag>>& outBags)
{
    StLocker<VCriticalSection> lock(&fLock);
    auto [first, last] = fBagsByResType.equal_range(inResType);
    for (auto it = first; it != last; ++it)
    {
        outBags.push_back(it->second);
    }
}

// ---------------------------------------------------------------------------------------------
// Store operations
// ---------------------------------------------------------------------------------------------

bool VLocalizationManager::_InsertSTRSharpCodeAndString(const STRSharpCodes& inCodes, const VString& inText,
                                                        bool inReplace)
{
    auto [entry, inserted] = fNumericMap.emplace(inCodes, inText);
    if (!inserted && inReplace)
    {
        entry->second = inText;
    }
    return true;
}

bool VLocalizationManager::_InsertObjectURLAndString(const VString& inKey, const VString& inText,
                                                     bool inReplace)
{
    auto [entry, inserted] = fKeyMap.emplace(inKey, inText);
    if (!inserted && inReplace)
    {
        entry->second = inText;
    }
    return true;
}

bool VLocalizationManager::_InsertIDAndStringInAGroup(uint32_t inID, const VString& inText,
                                                      const VString& inResName, bool /*inReplace*/)
{
    fGroupMap[inResName][inID] = inText;
    return true;
}

void VLocalizationManager::_InsertGroupBag(const VString& inResName, const VString& inResType,
                                           const VValueBag* inBag)
{
    VRefPtr<const VValueBag> bag(inBag);
    if (!inResName.IsNull() && !inResName.IsEmpty() &&
        std::none_of(fBagsByResName.begin(), fBagsByResName.end(),
                     [&inResName](const auto& inEntry)
                     { return inEntry.first.CompareToString(inResName, false) == CR_EQUAL; }))
    {
        fBagsByResName.emplace_back(inResName, bag);
    }
    fBagsByResType.emplace(inResType, bag);
}

// ---------------------------------------------------------------------------------------------
// Reloading
// ---------------------------------------------------------------------------------------------

bool VLocalizationManager::DoesNeedAnUpdate()
{
    StLocker<VCriticalSection> lock(&fLock);
    return _DoesNeedAnUpdate();
}

bool VLocalizationManager::_DoesNeedAnUpdate()
{
    bool changed = false;
    std::map<VFilePath, VTime, PathLess> times;
    for (const auto& [path, recorded] : fFileTimes)
    {
        VRefPtr<VFile> file(new VFile(path), true);
        if (!file->Exists())
        {
            changed = true;
            continue;
        }
        VTime modified;
        StErrorContextInstaller quiet(false, true);
        if (file->GetTimeAttributes(&modified, nullptr, nullptr) == VE_OK)
        {
            changed = changed || modified.CompareTo(recorded) != CR_EQUAL;
            times[path] = modified;
        }
    }
    fFileTimes = std::move(times);
    for (size_t i = 0; !changed && i < fRegisteredPaths.size(); ++i)
    {
        const VFilePath& path = fRegisteredPaths[i];
        if (!path.IsFolder())
        {
            continue;
        }
        VRefPtr<VFolder> folder(new VFolder(path), true);
        if (!folder->Exists())
        {
            continue;
        }
        folder->IterateFiles(
            [this, &changed](IFile* inFile, IFileAttributeAccessor*)
            {
                if (inFile->MatchExtension(XLIFFExtension()) && fFileTimes.count(inFile->GetPath()) == 0)
                {
                    changed = true;
                }
                return !changed;
            },
            kFilesOnly);
    }
    return changed;
}

bool VLocalizationManager::UpdateIfNeeded()
{
    StLocker<VCriticalSection> lock(&fLock);
    if (!_DoesNeedAnUpdate())
    {
        return false;
    }
    ClearLocalizations();
    // The loads below may register paths: walk a copy of the list as it stood.
    const std::vector<VFilePath> paths = fRegisteredPaths;
    for (const VFilePath& path : paths)
    {
        if (!path.IsValid())
        {
            continue;
        }
        if (path.IsFolder())
        {
            VRefPtr<VFolder> folder(new VFolder(path), true);
            if (folder->Exists())
            {
                ScanAndLoadFolder(folder.Get(), false);
            }
        }
        else if (path.IsFile())
        {
            VRefPtr<VFile> file(new VFile(path), true);
            if (file->Exists())
            {
                _LoadFile(file.Get(), false, false);
            }
        }
    }
    return true;
}

void VLocalizationManager::ClearLocalizations()
{
    StLocker<VCriticalSection> lock(&fLock);
    fNumericMap.clear();
    fKeyMap.clear();
    fGroupMap.clear();
    fDotStringsMap.clear();
    fBagsByResName.clear();
    fBagsByResType.clear();
}

// ---------------------------------------------------------------------------------------------
// The process's localizer
// ---------------------------------------------------------------------------------------------

VString LocalizeString(const VString& inKey, const char* inDefault)
{
    VString text;
    IProcessServices* process = IProcessServices::Get();
    ILocalizer* localizer = process == nullptr ? nullptr : process->GetLocalizer();
    bool found = localizer != nullptr && localizer->LocalizeStringWithKey(inKey, text);
    if (!found && inDefault != nullptr)
    {
        text.FromBlock(inDefault, std::strlen(inDefault), CharSet::VTC_UTF_8);
    }
    return text;
}

} // namespace zorn
