// VLocalizationManager: the translated texts of one dialect, read from XLIFF files (extension
// "xlf", through the root handler VLocalizationXMLHandler) and strings files (extension
// "strings", one key = text pair per line), answering look-ups by key, by numeric group and unit
// ids, by group and by error code. It is the localizer (ILocalizer) that the process and the
// error components ask for texts, and it reloads its files when they change on disk.
//
// Choices and limits:
// - One recursive lock (VCriticalSection) guards the maps: every look-up, ClearLocalizations,
//   DoesNeedAnUpdate, RetainGroupBagsByRestype and UpdateIfNeeded, which holds it across the
//   clearing and the reloading, so a reader sees the old texts or the new, never a half-filled
//   map. The loaders and the store operations (the _Insert... calls of the XLIFF readers) take no
//   lock of their own: load before sharing the manager, or through UpdateIfNeeded.
// - Strings files: a byte-order mark tells the character set; without one, bytes that are valid
//   UTF-8 and hold no NUL byte are UTF-8 (a UTF-16 file of Latin text is full of NULs), anything
//   else is UTF-16 big-endian. Text that does not decode whole in the chosen set gives
//   VE_FILE_CANNOT_CONVERT_TEXT and stores nothing. Line ends become LF; empty lines are dropped.
// - A strings line: its last character goes (the ';' that ends an entry, whatever it is); the rest
//   is split at "=" through the current collator, empty pieces dropped; only a line of exactly
//   two pieces counts (so a text holding "=" makes its line ignored); each piece loses white space
//   at both ends and then, when it starts with '"', its first and its last character. A pair
//   whose key or text is then empty is dropped; the last line for a key wins. No escape is read.
// - The key map is shared by strings keys and XLIFF resource names and ordered by UTF-16 code
//   units (whole keys, embedded NULs included).
// - Error keys are "ERR_" + the four characters of the error's component (the high 32 bits, most
//   significant byte first) + "_" + the number (low 32 bits) as a signed decimal, of any length.
// - Loaders return their error without raising it: ScanAndLoadFolder hands every file of a folder
//   to the loader, and most files of a bundle folder are not localization files ('zorn' 613).
//   XLIFF parse errors are neither reported nor left on the caller's error context.
// - Registered paths and file times compare paths exactly (Linux file systems tell case apart).
#pragma once

#include "toolbox/files/IFile.h"
#include "toolbox/files/VFilePath.h"
#include "toolbox/kernel/base/IRefCountable.h"
#include "toolbox/kernel/base/VObject.h"
#include "toolbox/kernel/base/VRefPtr.h"
#include "toolbox/kernel/errors/ILocalizer.h"
#include "toolbox/kernel/errors/VError.h"
#include "toolbox/kernel/locks/VCriticalSection.h"
#include "toolbox/kernel/strings/VString.h"
#include "toolbox/kernel/values/VTime.h"
#include "toolbox/kernel/values/VValueBag.h"

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <vector>

namespace zorn
{

class VXMLParser;
class VLocalizationXMLHandler;

// A file that is neither an XLIFF file nor a strings file.
constexpr VError VE_LOCALIZATION_UNKNOWN_FILE_KIND = MakeVError(kCOMPONENT_ZORN, 613);

// Key of the numeric texts: a group id and a unit id, ordered by group, then unit.
struct STRSharpCodes
{
    uint32_t fGroupID = 0;
    uint32_t fUnitID = 0;

    bool operator<(const STRSharpCodes& inOther) const
    {
        return fGroupID != inOther.fGroupID ? fGroupID < inOther.fGroupID : fUnitID < inOther.fUnitID;
    }
};

class VLocalizationManager : public VObject, public IRefCountable, public ILocalizer
{
public:
    // Strict order of code units over the whole text.
    struct RawLess
    {
        bool operator()(const VString& inFirst, const VString& inSecond) const;
    };
    using StringMap = std::map<VString, VString, RawLess>;

    // One reference for the caller; empty maps. The XML library is held for the manager's life.
    explicit VLocalizationManager(uint32_t inDialectCode);
    VLocalizationManager(const VLocalizationManager&) = delete;
    VLocalizationManager& operator=(const VLocalizationManager&) = delete;

    // Loading. The bundle form loads "Contents", then "Resources" below it; false for a null or
    // missing folder, else the result of the second load.
    bool LoadDefaultLocalizationFoldersForComponentOrPlugin(IFolder* inBundleFolder);
    // Scans the folder itself without language checks, then its localization folders for the
    // manager's dialect (kept, replacing the previous list) with them. True when at least one
    // localization folder was scanned without error.
    bool LoadDefaultLocalizationFolders(IFolder* inFolder);
    // Hands every file of the folder to the loader, whatever each result, then registers the
    // folder unless a registered path names the same folder. VE_INVALID_PARAMETER for null,
    // VE_FILE_NOT_FOUND for a missing folder.
    VError ScanAndLoadFolder(IFolder* inFolder, bool inAvoidLanguageChecking);
    // Loads one file and registers an XLIFF file for updates.
    VError LoadFile(IFile* inFile, bool inAvoidLanguageChecking = false);
    // Reads an XLIFF file (UTF-8 unless a mark says otherwise) into the root handler; the read's
    // error, never the parse's.
    VError AnalyzeXLIFFFile(IFile* inFile, bool inAvoidLanguageChecking);
    // Reads a strings file into the key map.
    VError AnalyzeDotStringsFile(IFile* inFile);

    // The strings file's text form, for the loader and for tests. DecodeDotStrings chooses the
    // character set and decodes (VE_FILE_CANNOT_CONVERT_TEXT, text empty, when that fails);
    // AnalyzeDotStringsText stores the pairs of every line; ParseDotStringsLine reads one line
    // (LF removed) and tells whether it gives a pair.
    static VError DecodeDotStrings(const void* inBytes, size_t inSize, VString& outText);
    void AnalyzeDotStringsText(const VString& inText);
    static bool ParseDotStringsLine(const VString& inLine, VString& outKey, VString& outText);

    // Look-ups, each under the lock. A miss answers false (or null) and leaves the output alone.
    bool LocalizeStringWithKey(const VString& inKey, VString& outText) override;
    bool LocalizeStringWithDotStringsKey(const VString& inKey, VString& outText) override;
    bool LocalizeErrorMessage(VError inError, VString& outText) override;
    uint32_t GetLocalizationLanguage() override { return fDialectCode; }
    const VValueBag* RetainGroupBag(const VString& inResName) override;
    bool LocalizeStringWithSTRSharpCodes(const STRSharpCodes& inCodes, VString& outText);
    // Clears outTexts, then appends the texts of units 1, 2, ... of the group up to the first
    // missing one; whether there was any.
    bool LocalizeGroupOfStringsWithAStrSharpID(int32_t inGroupID, std::vector<VString>& outTexts);
    // Clears outTexts; the texts of the named group (exact name) by ascending unit id; whether
    // there was any.
    bool GetOrderedStringsOfGroup(const VString& inResName, std::vector<VString>& outTexts);
    // Appends the bags recorded under the resource type, in the order they were recorded.
    void RetainGroupBagsByRestype(const VString& inResType, std::vector<VRefPtr<const VValueBag>>& outBags);

    // Store operations of the XLIFF readers, without the lock. An existing text is replaced only
    // with inReplace; a group's unit text is always replaced. Each returns true.
    bool _InsertSTRSharpCodeAndString(const STRSharpCodes& inCodes, const VString& inText, bool inReplace);
    bool _InsertObjectURLAndString(const VString& inKey, const VString& inText, bool inReplace);
    bool _InsertIDAndStringInAGroup(uint32_t inID, const VString& inText, const VString& inResName,
                                    bool inReplace);
    // Records the bag (retained) under its resource name unless that name is empty or has a bag
    // already, and always under its resource type.
    void _InsertGroupBag(const VString& inResName, const VString& inResType, const VValueBag* inBag);

    // Reloading. DoesNeedAnUpdate: whether a loaded XLIFF file vanished or got another
    // modification time (the recorded times are renewed as it looks), or, when none did, whether
    // a registered folder holds an XLIFF file with no recorded time. UpdateIfNeeded: when it does,
    // clears the texts and reloads every registered path in order; returns the answer.
    bool DoesNeedAnUpdate();
    bool UpdateIfNeeded();
    // Empties the texts and bags; registered paths, file times and language folders stay.
    void ClearLocalizations();

    VLocalizationXMLHandler* GetRootHandler() const { return fRootHandler.Get(); }

protected:
    ~VLocalizationManager() override;

private:
    struct PathLess
    {
        bool operator()(const VFilePath& inFirst, const VFilePath& inSecond) const;
    };
    using GroupMap = std::map<VString, std::map<uint32_t, VString>, RawLess>;

    VError _LoadFile(IFile* inFile, bool inDoNotRegister, bool inAvoidLanguageChecking);
    bool _DoesNeedAnUpdate();

    VCriticalSection fLock;
    const uint32_t fDialectCode;
    std::map<STRSharpCodes, VString> fNumericMap;
    StringMap fKeyMap;
    GroupMap fGroupMap;
    StringMap fDotStringsMap;
    std::unique_ptr<VXMLParser> fParser;
    VRefPtr<VLocalizationXMLHandler> fRootHandler;
    std::vector<VFilePath> fRegisteredPaths;
    std::map<VFilePath, VTime, PathLess> fFileTimes;
    // Bags by resource name (compared through the collator, without diacritics, at look-up) and by
    // resource type in recording order.
    std::vector<std::pair<VString, VRefPtr<const VValueBag>>> fBagsByResName;
    std::multimap<VString, VRefPtr<const VValueBag>, RawLess> fBagsByResType;
    std::vector<VRefPtr<IFolder>> fLanguageFolders;
};

// The text of the key from the process's localizer; when there is none or it does not know the
// key, the default (UTF-8) when given, else empty.
VString LocalizeString(const VString& inKey, const char* inDefault = nullptr);

} // namespace zorn
