// Path texts from outside (command lines, JSON, links, directory listings) through VFilePath in
// both styles, the URL path-style conversions and the name coding at the system boundary.
// Besides the sanitizers' checks:
// - a valid path never holds NUL, "::" or a component "." or "..", and never begins with ':';
// - POSIX -> colon -> POSIX is stable after one normalisation, and a valid path's bytes name it
//   again;
// - a relative path that lies in its base in the colon form lies in it in POSIX form too, and a
//   relative text that cannot climb ends in its base or is invalid.
//
// Input: byte 0 holds the flags (bit 0 the full path is POSIX, bit 1 the relative text is POSIX,
// bit 2 full paths are forbidden in the relative text, bit 3 the texts are UTF-16LE units rather
// than bytes decoded as file names), byte 1 where the rest splits into full and relative text.

#include "toolbox/files/VFilePath.h"
#include "toolbox/files/VURL.h"
#include "toolbox/files/linux/XLinuxFile.h"

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

using namespace zorn;

namespace
{

void Check(bool inCondition)
{
    if (!inCondition)
    {
        __builtin_trap();
    }
}

VString TextFrom(const uint8_t* inData, size_t inSize, bool inUnits)
{
    VString text;
    if (inUnits)
    {
        std::vector<UniChar> units(inSize / 2);
        if (!units.empty())
        {
            std::memcpy(units.data(), inData, units.size() * sizeof(UniChar));
        }
        text.FromUniString(units.data(), static_cast<int32_t>(units.size()));
    }
    else
    {
        XLinuxFile::DecodeNameBytes(reinterpret_cast<const char*>(inData), inSize, text);
    }
    return text;
}

std::u16string Units(const VString& inText)
{
    return std::u16string(reinterpret_cast<const char16_t*>(inText.GetCPointer()),
                          static_cast<size_t>(inText.GetLength()));
}

// Whether a '/'- or ':'-separated text has the component.
bool HasComponent(const std::u16string& inText, char16_t inSeparator, const std::u16string& inName)
{
    size_t start = 0;
    for (;;)
    {
        size_t end = inText.find(inSeparator, start);
        if (inText.compare(start, (end == std::u16string::npos ? inText.size() : end) - start, inName) == 0)
        {
            return true;
        }
        if (end == std::u16string::npos)
        {
            return false;
        }
        start = end + 1;
    }
}

void CheckValidPath(const VFilePath& inPath)
{
    if (!inPath.IsValid())
    {
        return;
    }
    VString text;
    inPath.GetPath(text);
    const std::u16string units = Units(text);
    Check(!units.empty() && units[0] != u':');
    Check(units.find(u'\0') == std::u16string::npos);
    Check(units.find(u"::") == std::u16string::npos);
    Check(!HasComponent(units, u':', u".") && !HasComponent(units, u':', u".."));

    // Normalised once through POSIX, the path is stable.
    VString posix;
    inPath.GetPosixPath(posix);
    Check(!HasComponent(Units(posix), u'/', u".") && !HasComponent(Units(posix), u'/', u".."));
    VFilePath again(posix, FPS_POSIX);
    Check(again.IsValid());
    VString posixAgain;
    again.GetPosixPath(posixAgain);
    Check(posixAgain.EqualToStringRaw(posix));
    VFilePath third(posixAgain, FPS_POSIX);
    VString againText, thirdText;
    again.GetPath(againText);
    third.GetPath(thirdText);
    Check(againText.EqualToStringRaw(thirdText));

    // The bytes of an encodable path name it again.
    std::string bytes = XLinuxFile::AllocatePosixPathFromFilePath(again);
    if (!bytes.empty())
    {
        VFilePath fromBytes;
        XLinuxFile::GetFilePathFromPosixPath(bytes.c_str(), again.IsFolder(), fromBytes);
        VString fromBytesText;
        fromBytes.GetPath(fromBytesText);
        Check(fromBytes.IsValid() && fromBytesText.EqualToStringRaw(againText));
    }
}

// Whether a relative text can lead above its base.
bool CanClimb(const std::u16string& inRelative, bool inPosix)
{
    if (inPosix)
    {
        return HasComponent(inRelative, u'/', u"..") || (!inRelative.empty() && inRelative[0] == u'/');
    }
    return HasComponent(inRelative, u':', u"..") || inRelative.find(u"::") != std::u16string::npos ||
           (!inRelative.empty() && inRelative[0] == u':');
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* inData, size_t inSize)
{
    if (inSize < 2)
    {
        return 0;
    }
    const uint8_t flags = inData[0];
    const bool fullPosix = (flags & 1) != 0;
    const bool relativePosix = (flags & 2) != 0;
    const bool forbidden = (flags & 4) != 0;
    const bool asUnits = (flags & 8) != 0;
    const size_t split = (inSize - 2) * inData[1] / 255;
    const VString full = TextFrom(inData + 2, split, asUnits);
    const VString relative = TextFrom(inData + 2 + split, inSize - 2 - split, asUnits);

    VFilePath path(full, fullPosix ? FPS_POSIX : FPS_NATIVE);
    CheckValidPath(path);

    // Relative to the path when it is a folder, else to a fixed one.
    VFilePath base = path.IsFolder() ? path : VFilePath(VString("Root:srv:www:"));
    VFilePath joined(base, relative, relativePosix ? FPS_POSIX : FPS_NATIVE, forbidden);
    CheckValidPath(joined);
    if (joined.IsValid())
    {
        VString basePosix, joinedPosix;
        base.GetPosixPath(basePosix);
        joined.GetPosixPath(joinedPosix);
        if (joined.IsSameOrChildOf(base))
        {
            Check(joinedPosix.BeginsWithRawString(basePosix));
        }
        if (!CanClimb(Units(relative), relativePosix))
        {
            Check(joined.IsSameOrChildOf(base));
        }
    }

    // Queries and changes never fail on any text.
    VString out;
    joined.GetName(out);
    joined.GetExtension(out);
    joined.GetFileName(out, false);
    joined.GetFolderName(out, false);
    joined.GetRelativePosixPath(base, out);
    joined.GetDepth();
    VFilePath changed(joined);
    changed.SetExtension(relative);
    CheckValidPath(changed);
    changed.SetName(full);
    CheckValidPath(changed);
    changed.FromFilePath(path);
    changed.RemoveBlanks();
    CheckValidPath(changed);
    changed.FromFilePath(base);
    changed.ToSubFolder(relative);
    CheckValidPath(changed);

    // The path-style conversions of the raw texts.
    for (int from = 0; from < 3; ++from)
    {
        for (int to = 0; to < 3; ++to)
        {
            VString text(full);
            VURL::Convert(text, static_cast<EURLPathStyle>(from), static_cast<EURLPathStyle>(to),
                          (flags & 16) != 0);
        }
    }
    VString normalised(relative);
    VFilePath::ResolveRelativePosix(normalised);
    Check(!HasComponent(Units(normalised), u'/', u"."));
    std::string bytes;
    XLinuxFile::EncodeNameBytes(full, bytes);
    XLinuxFile::PosixNameBeginsWithDot(bytes.c_str());
    return 0;
}
