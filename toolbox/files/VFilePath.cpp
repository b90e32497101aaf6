#include "toolbox/files/VFilePath.h"

#include "toolbox/files/VURL.h"
#include "toolbox/files/linux/XLinuxFile.h"
#include "toolbox/kernel/errors/VError.h"
#include "toolbox/kernel/hooks/VKernelHooks.h"
#include "toolbox/kernel/locale/VIntlMgr.h"

#include <string>
#include <utility>
#include <vector>

namespace zorn
{

namespace
{

using Units = std::u16string;

bool IsDot(const UniChar* inName, int32_t inLength)
{
    return inLength == 1 && inName[0] == '.';
}

bool IsDotDot(const UniChar* inName, int32_t inLength)
{
    return inLength == 2 && inName[0] == '.' && inName[1] == '.';
}

void Append(Units& ioOut, const UniChar* inUnits, int32_t inCount)
{
    ioOut.append(reinterpret_cast<const char16_t*>(inUnits), static_cast<size_t>(inCount));
}

void Append(Units& ioOut, const VString& inText)
{
    Append(ioOut, inText.GetCPointer(), inText.GetLength());
}

void Assign(VString& outText, const Units& inUnits)
{
    outText.FromUniString(reinterpret_cast<const UniChar*>(inUnits.data()),
                          static_cast<int32_t>(inUnits.size()));
}

// 0-based index of the last inUnit in [0, inEnd), or -1.
int32_t LastIndexOf(const UniChar* inUnits, int32_t inEnd, UniChar inUnit)
{
    for (int32_t i = inEnd - 1; i >= 0; --i)
    {
        if (inUnits[i] == inUnit)
        {
            return i;
        }
    }
    return -1;
}

// A name that may stand as one component: not empty, not "." or "..", no ':' and no NUL.
bool IsAcceptableName(const UniChar* inName, int32_t inLength)
{
    if (inLength == 0 || IsDot(inName, inLength) || IsDotDot(inName, inLength))
    {
        return false;
    }
    for (int32_t i = 0; i < inLength; ++i)
    {
        if (inName[i] == ':' || inName[i] == 0)
        {
            return false;
        }
    }
    return true;
}

bool RefuseName(const VString& inName)
{
    _ThrowError(VE_FILE_BAD_NAME, &inName);
    return false;
}

} // namespace

// ------------------------------------------------------------------------------------------------
// Construction

VFilePath::VFilePath(const VString& inFullPath, FilePathStyle inStyle, bool inUnused)
{
    FromFullPath(inFullPath, inStyle, inUnused);
}

VFilePath::VFilePath(const VFilePath& inBase, const VString& inRelativePath, FilePathStyle inStyle,
                     bool inFullPathForbidden)
{
    FromRelativePath(inBase, inRelativePath, inStyle, inFullPathForbidden);
}

VFilePath& VFilePath::FromFilePath(const VFilePath& inOther)
{
    fPath.FromString(inOther.fPath);
    fIsValid = inOther.fIsValid;
    return *this;
}

VFilePath& VFilePath::FromFullPath(const VString& inFullPath, FilePathStyle inStyle, bool)
{
    if (inStyle == FPS_POSIX)
    {
        VString colonForm;
        if (BadChar(inFullPath) || !XLinuxFile::PosixFullPathToHFS(inFullPath, false, colonForm))
        {
            fPath.FromString(inFullPath);
            fIsValid = false;
            return *this;
        }
        _SetNative(colonForm);
    }
    else
    {
        _SetNative(inFullPath);
    }
    return *this;
}

VFilePath& VFilePath::FromRelativePath(const VFilePath& inBase, const VString& inRelativePath,
                                       FilePathStyle inStyle, bool inFullPathForbidden)
{
    const bool posix = inStyle == FPS_POSIX;
    const bool beginsWithSlash = inRelativePath.GetUniChar(1) == '/';
    if (posix && beginsWithSlash && !inFullPathForbidden)
    {
        return FromFullPath(inRelativePath, FPS_POSIX);
    }
    // inBase may be this path.
    const bool baseIsFolder = inBase.IsFolder();
    VString text(inBase.fPath);
    if (posix)
    {
        VString relative(inRelativePath);
        VURL::POSIX_to_HFS(relative, true);
        text.AppendString(relative);
    }
    else
    {
        text.AppendString(inRelativePath);
    }
    if (!baseIsFolder || (posix && beginsWithSlash) || BadChar(inRelativePath))
    {
        fPath.FromString(text);
        fIsValid = false;
        return *this;
    }
    _SetNative(text);
    return *this;
}

void VFilePath::Clear()
{
    fPath.Clear();
    fIsValid = false;
}

void VFilePath::_SetNative(const VString& inText)
{
    fPath.FromString(inText);
    fIsValid = !BadChar(fPath) && _Resolve(fPath) && !fPath.IsEmpty();
}

// ------------------------------------------------------------------------------------------------
// Checks and resolution

bool VFilePath::BadChar(const VString& inPath, FilePathStyle, bool)
{
    const UniChar* units = inPath.GetCPointer();
    for (int32_t i = 0; i < inPath.GetLength(); ++i)
    {
        if (units[i] == 0)
        {
            return true;
        }
    }
    return false;
}

bool VFilePath::ValidFullPath(const VString& inPath, FilePathStyle inStyle)
{
    if (inStyle == FPS_POSIX)
    {
        return inPath.GetUniChar(1) == '/';
    }
    return !inPath.IsEmpty() && inPath.GetUniChar(1) != ':';
}

bool VFilePath::ValidRelativePath(const VString& inPath, FilePathStyle inStyle)
{
    return inStyle != FPS_POSIX || inPath.GetUniChar(1) != '/';
}

bool VFilePath::_Resolve(VString& ioPath)
{
    const UniChar* units = ioPath.GetCPointer();
    const int32_t length = ioPath.GetLength();
    if (length == 0 || units[0] == ':')
    {
        return false;
    }
    int32_t volumeEnd = 0;
    while (volumeEnd < length && units[volumeEnd] != ':')
    {
        ++volumeEnd;
    }
    if (IsDot(units, volumeEnd) || IsDotDot(units, volumeEnd))
    {
        return false;
    }
    // Most texts hold nothing to resolve: no "::" and no component beginning with '.' that is
    // "." or "..".
    bool needed = false;
    for (int32_t i = volumeEnd; i + 1 < length && !needed; ++i)
    {
        if (units[i] != ':')
        {
            continue;
        }
        if (units[i + 1] == ':')
        {
            needed = true;
        }
        else if (units[i + 1] == '.')
        {
            int32_t end = i + 1;
            while (end < length && units[end] != ':')
            {
                ++end;
            }
            needed = IsDot(units + i + 1, end - i - 1) || IsDotDot(units + i + 1, end - i - 1);
        }
    }
    if (!needed)
    {
        return true;
    }

    // The components after the volume as (start, length); an empty one (from "::") and ".." take
    // off the one before, "." is dropped. The text after the last ':' is the file name, or makes
    // the path a folder when it is empty, "." or "..".
    std::vector<std::pair<int32_t, int32_t>> kept;
    bool folder = false;
    int32_t i = volumeEnd + 1;
    for (;;)
    {
        const int32_t start = i;
        while (i < length && units[i] != ':')
        {
            ++i;
        }
        const int32_t count = i - start;
        const bool last = i == length;
        const bool up = (count == 0 && !last) || IsDotDot(units + start, count);
        if (up)
        {
            if (kept.empty())
            {
                return false; // above the volume
            }
            kept.pop_back();
        }
        else if (count > 0 && !IsDot(units + start, count))
        {
            kept.emplace_back(start, count);
        }
        if (last)
        {
            folder = count == 0 || up || IsDot(units + start, count);
            break;
        }
        ++i;
    }
    Units out;
    out.reserve(static_cast<size_t>(length));
    Append(out, units, volumeEnd);
    out.push_back(u':');
    for (const auto& [start, count] : kept)
    {
        Append(out, units + start, count);
        out.push_back(u':');
    }
    if (!folder)
    {
        out.pop_back();
    }
    Assign(ioPath, out);
    return true;
}

void VFilePath::ResolveRelativePosix(VString& ioPath)
{
    const UniChar* units = ioPath.GetCPointer();
    const int32_t length = ioPath.GetLength();
    if (length == 0)
    {
        return;
    }
    const bool absolute = units[0] == '/';
    std::vector<std::pair<int32_t, int32_t>> kept;
    bool folder = false;
    int32_t i = 0;
    while (i < length)
    {
        while (i < length && units[i] == '/')
        {
            ++i;
        }
        const int32_t start = i;
        while (i < length && units[i] != '/')
        {
            ++i;
        }
        const int32_t count = i - start;
        folder = true;
        if (count == 0 || IsDot(units + start, count))
        {
            continue;
        }
        if (IsDotDot(units + start, count))
        {
            if (!kept.empty() && !IsDotDot(units + kept.back().first, kept.back().second))
            {
                kept.pop_back();
            }
            else
            {
                kept.emplace_back(start, count);
            }
            continue;
        }
        kept.emplace_back(start, count);
        folder = i < length;
    }
    Units out;
    out.reserve(static_cast<size_t>(length));
    if (absolute)
    {
        out.push_back(u'/');
    }
    for (const auto& [start, count] : kept)
    {
        Append(out, units + start, count);
        out.push_back(u'/');
    }
    if (!folder && !kept.empty())
    {
        out.pop_back();
    }
    Assign(ioPath, out);
}

// ------------------------------------------------------------------------------------------------
// Queries

bool VFilePath::IsFolder() const
{
    return fIsValid && fPath.GetUniChar(fPath.GetLength()) == ':';
}

bool VFilePath::IsFile() const
{
    return fIsValid && !fPath.IsEmpty() && fPath.GetUniChar(fPath.GetLength()) != ':';
}

bool VFilePath::HasParent() const
{
    return fIsValid && fPath.GetLength() >= 2 && _ParentColon() > 0;
}

int32_t VFilePath::_ParentColon() const
{
    return LastIndexOf(fPath.GetCPointer(), fPath.GetLength() - 1, ':') + 1;
}

int32_t VFilePath::_LastComponentStart() const
{
    const int32_t length = fPath.GetLength();
    const int32_t end = fPath.GetUniChar(length) == ':' ? length - 1 : length;
    return LastIndexOf(fPath.GetCPointer(), end, ':') + 2;
}

VString VFilePath::GetPath(FilePathStyle inStyle) const
{
    if (inStyle == FPS_POSIX)
    {
        VString posix;
        GetPosixPath(posix);
        return posix;
    }
    return fPath;
}

void VFilePath::GetPosixPath(VString& outPath) const
{
    if (fIsValid)
    {
        XLinuxFile::HFSFullPathToPosix(fPath, outPath);
    }
    else
    {
        outPath.Clear();
    }
}

int32_t VFilePath::GetDepth() const
{
    if (!fIsValid)
    {
        return 0;
    }
    const UniChar* units = fPath.GetCPointer();
    const int32_t length = fPath.GetLength();
    int32_t depth = units[length - 1] == ':' ? 0 : 1;
    for (int32_t i = 0; i < length; ++i)
    {
        depth += units[i] == ':' ? 1 : 0;
    }
    return depth;
}

void VFilePath::GetName(VString& outName) const
{
    if (!fIsValid)
    {
        outName.Clear();
        return;
    }
    const int32_t start = _LastComponentStart();
    const int32_t end = IsFolder() ? fPath.GetLength() - 1 : fPath.GetLength();
    fPath.GetSubString(start, end - start + 1, outName);
    if (end < start)
    {
        outName.Clear();
    }
}

namespace
{

// The name without the text from its last '.' on (a name without '.' whole).
void CutExtension(VString& ioName)
{
    int32_t dot = LastIndexOf(ioName.GetCPointer(), ioName.GetLength(), '.');
    if (dot >= 0)
    {
        ioName.Truncate(dot);
    }
}

// What follows the last '.' of the name; empty without one.
void ExtensionOf(const VString& inName, VString& outExtension)
{
    int32_t dot = LastIndexOf(inName.GetCPointer(), inName.GetLength(), '.');
    if (dot < 0)
    {
        outExtension.Clear();
    }
    else
    {
        inName.GetSubString(dot + 2, inName.GetLength() - dot - 1, outExtension);
    }
}

} // namespace

void VFilePath::GetFileName(VString& outName, bool inWithExtension) const
{
    if (!IsFile())
    {
        outName.Clear();
        return;
    }
    GetName(outName);
    if (!inWithExtension)
    {
        CutExtension(outName);
    }
}

void VFilePath::GetFolderName(VString& outName, bool inWithExtension) const
{
    if (!IsFolder())
    {
        outName.Clear();
        return;
    }
    if (_ParentColon() == 0)
    {
        outName.FromString(fPath); // a volume root
        return;
    }
    GetName(outName);
    if (!inWithExtension)
    {
        CutExtension(outName);
    }
}

void VFilePath::GetExtension(VString& outExtension) const
{
    VString name;
    GetName(name);
    ExtensionOf(name, outExtension);
}

bool VFilePath::MatchExtension(const VString& inExtension, bool inDiacritical) const
{
    if (!fIsValid)
    {
        return false;
    }
    if (inExtension.IsEmpty())
    {
        VString name;
        GetName(name);
        return LastIndexOf(name.GetCPointer(), name.GetLength(), '.') < 0;
    }
    VString suffix(CVSTR("."));
    suffix.AppendString(inExtension);
    if (IsFolder())
    {
        suffix.AppendUniChar(':');
    }
    return fPath.EndsWith(suffix, inDiacritical);
}

bool VFilePath::IsSameOrChildOf(const VFilePath& inBase) const
{
    return fIsValid && inBase.IsFolder() && fPath.BeginsWithRawString(inBase.fPath);
}

bool VFilePath::IsChildOf(const VFilePath& inBase) const
{
    return IsSameOrChildOf(inBase) && fPath.GetLength() > inBase.fPath.GetLength();
}

bool VFilePath::IsChildOfRawPath(const VFilePath& inBase) const
{
    return IsChildOf(inBase);
}

bool VFilePath::GetRelativePath(const VFilePath& inBase, VString& outRelative) const
{
    if (IsSameOrChildOf(inBase))
    {
        const int32_t baseLength = inBase.fPath.GetLength();
        fPath.GetSubString(baseLength + 1, fPath.GetLength() - baseLength, outRelative);
        if (fPath.GetLength() == baseLength)
        {
            outRelative.Clear();
        }
        return true;
    }
    outRelative.FromString(fPath);
    return false;
}

bool VFilePath::GetRelativePosixPath(const VFilePath& inBase, VString& outRelative) const
{
    if (GetRelativePath(inBase, outRelative))
    {
        VURL::HFS_to_POSIX(outRelative, true);
        return true;
    }
    GetPosixPath(outRelative);
    return false;
}

// ------------------------------------------------------------------------------------------------
// Changes

bool VFilePath::ToParent()
{
    if (!fIsValid)
    {
        return false;
    }
    const int32_t colon = _ParentColon();
    if (colon == 0)
    {
        Clear();
        return false;
    }
    fPath.Truncate(colon);
    return fIsValid;
}

bool VFilePath::ToFolder()
{
    if (!fIsValid || IsFolder())
    {
        return fIsValid;
    }
    const int32_t colon = LastIndexOf(fPath.GetCPointer(), fPath.GetLength(), ':') + 1;
    if (colon == 0)
    {
        Clear();
        return false;
    }
    fPath.Truncate(colon);
    return fIsValid;
}

bool VFilePath::GetParent(VFilePath& outParent) const
{
    outParent.FromFilePath(*this);
    return outParent.ToParent();
}

bool VFilePath::GetFolder(VFilePath& outFolder) const
{
    outFolder.FromFilePath(*this);
    return outFolder.ToFolder();
}

bool VFilePath::ToSubFolder(const VString& inName)
{
    if (!IsFolder())
    {
        return false;
    }
    if (!IsAcceptableName(inName.GetCPointer(), inName.GetLength()))
    {
        return RefuseName(inName);
    }
    fPath.AppendString(inName);
    fPath.AppendUniChar(':');
    return true;
}

bool VFilePath::ToSubFile(const VString& inName)
{
    if (!IsFolder())
    {
        return false;
    }
    if (!IsAcceptableName(inName.GetCPointer(), inName.GetLength()))
    {
        return RefuseName(inName);
    }
    fPath.AppendString(inName);
    return true;
}

bool VFilePath::_ReplaceLastComponent(const VString& inComponent)
{
    if (!IsAcceptableName(inComponent.GetCPointer(), inComponent.GetLength()))
    {
        return RefuseName(inComponent);
    }
    const bool folder = IsFolder();
    Units out;
    Append(out, fPath.GetCPointer(), _LastComponentStart() - 1);
    Append(out, inComponent);
    if (folder)
    {
        out.push_back(u':');
    }
    Assign(fPath, out);
    return true;
}

bool VFilePath::SetName(const VString& inName)
{
    if (!fIsValid)
    {
        return false;
    }
    if (!IsAcceptableName(inName.GetCPointer(), inName.GetLength()))
    {
        return RefuseName(inName);
    }
    if (_LastComponentStart() == 1)
    {
        Clear(); // a volume root or a text without ':' has no component to cut
        return false;
    }
    return _ReplaceLastComponent(inName);
}

VString VFilePath::_NameWithOldExtension(const VString& inName, bool inWithExtension) const
{
    VString name(inName);
    if (!inWithExtension)
    {
        VString extension;
        GetExtension(extension);
        if (!extension.IsEmpty())
        {
            name.AppendUniChar('.');
            name.AppendString(extension);
        }
    }
    return name;
}

bool VFilePath::SetFileName(const VString& inName, bool inWithExtension)
{
    if (!fIsValid)
    {
        return false;
    }
    if (IsFolder())
    {
        return ToSubFile(inName);
    }
    return _ReplaceLastComponent(_NameWithOldExtension(inName, inWithExtension));
}

bool VFilePath::SetFolderName(const VString& inName, bool inWithExtension)
{
    return IsFolder() && _ReplaceLastComponent(_NameWithOldExtension(inName, inWithExtension));
}

bool VFilePath::SetExtension(const VString& inExtension)
{
    if (!fIsValid || fPath.IsEmpty())
    {
        return false;
    }
    return IsFolder() ? SetFolderExtension(inExtension) : SetFileExtension(inExtension);
}

bool VFilePath::_ChangeExtension(const VString& inExtension)
{
    // The last '.' of the last component: replaced after it, added when there is none, removed
    // with it for an empty extension.
    VString name;
    GetName(name);
    const int32_t dot = LastIndexOf(name.GetCPointer(), name.GetLength(), '.');
    if (inExtension.IsEmpty())
    {
        if (dot < 0)
        {
            return true;
        }
        name.Truncate(dot);
    }
    else
    {
        if (dot >= 0)
        {
            name.Truncate(dot + 1);
        }
        else
        {
            name.AppendUniChar('.');
        }
        name.AppendString(inExtension);
    }
    return _ReplaceLastComponent(name);
}

bool VFilePath::SetFileExtension(const VString& inExtension)
{
    return IsFile() && _ChangeExtension(inExtension);
}

bool VFilePath::SetFolderExtension(const VString& inExtension)
{
    return IsFolder() && _ChangeExtension(inExtension);
}

bool VFilePath::RemoveBlanks()
{
    if (!fIsValid)
    {
        return false;
    }
    const VIntlMgr* manager = VIntlMgr::GetCurrent();
    auto isSpace = [manager](UniChar inUnit)
    { return manager != nullptr ? manager->IsSpace(inUnit) : (inUnit == ' ' || inUnit == '\t'); };
    const UniChar* units = fPath.GetCPointer();
    const int32_t length = fPath.GetLength();
    Units out;
    out.reserve(static_cast<size_t>(length));
    int32_t i = 0;
    for (;;)
    {
        int32_t start = i;
        int32_t end = i;
        while (end < length && units[end] != ':')
        {
            ++end;
        }
        i = end;
        while (start < end && isSpace(units[start]))
        {
            ++start;
        }
        while (end > start && isSpace(units[end - 1]))
        {
            --end;
        }
        Append(out, units + start, end - start);
        if (i == length)
        {
            break;
        }
        out.push_back(u':');
        ++i;
    }
    VString text;
    Assign(text, out);
    _SetNative(text);
    return fIsValid;
}

CharSet VFilePath::DebugDump(char* ioBuffer, int& ioSize) const
{
    return fPath.DebugDump(ioBuffer, ioSize);
}

namespace
{

// The kernel's executable search (VSystem::SearchExecutablePath) fills paths through this entry. A
// program that holds a VFilePath links this file, so the entry is there before main.
[[maybe_unused]] const bool sKernelHookInstalled =
    (detail::KernelHooks().fSetFilePathFromPosix.store(
         [](const char* inPosixPath, VFilePath& outPath)
         { XLinuxFile::GetFilePathFromPosixPath(inPosixPath, false, outPath); }),
     true);

} // namespace

std::string VFilePath::GetSystemPathBytes() const
{
    return XLinuxFile::AllocatePosixPathFromFilePath(*this);
}

VFilePath VFilePath::FromSystemPathBytes(const char* inBytes, bool inIsFolder)
{
    VFilePath path;
    XLinuxFile::GetFilePathFromPosixPath(inBytes, inIsFolder, path);
    return path;
}

} // namespace zorn
