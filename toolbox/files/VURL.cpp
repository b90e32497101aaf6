#include "toolbox/files/VURL.h"

#include "toolbox/files/linux/XLinuxFile.h"

#include <string>

namespace zorn
{

namespace
{

using Units = std::u16string;

void Assign(VString& outText, const Units& inUnits)
{
    outText.FromUniString(reinterpret_cast<const UniChar*>(inUnits.data()),
                          static_cast<int32_t>(inUnits.size()));
}

void AppendParentSteps(Units& ioOut, int32_t inCount)
{
    for (int32_t i = 0; i < inCount; ++i)
    {
        ioOut.append(u"../");
    }
}

// Whether a "." (inDots 1) or ".." (inDots 2) component begins at inPos: the dots, then '/' or
// the end. outLength receives the units it takes, its '/' included.
bool DotComponentAt(const UniChar* inUnits, int32_t inLength, int32_t inPos, int32_t inDots,
                    int32_t& outLength)
{
    if (inPos + inDots > inLength)
    {
        return false;
    }
    for (int32_t k = 0; k < inDots; ++k)
    {
        if (inUnits[inPos + k] != '.')
        {
            return false;
        }
    }
    if (inPos + inDots == inLength)
    {
        outLength = inDots;
        return true;
    }
    if (inUnits[inPos + inDots] == '/')
    {
        outLength = inDots + 1;
        return true;
    }
    return false;
}

// The relative POSIX rules (VURL.h).
void RelativePosixToHFS(VString& ioPath)
{
    const UniChar* units = ioPath.GetCPointer();
    const int32_t length = ioPath.GetLength();
    Units out;
    out.reserve(static_cast<size_t>(length) + 2);
    int32_t pending = 0;
    bool componentStart = true;
    int32_t i = 0;
    while (i < length)
    {
        int32_t taken = 0;
        if (componentStart && DotComponentAt(units, length, i, 1, taken))
        {
            i += taken;
            continue;
        }
        if (componentStart && DotComponentAt(units, length, i, 2, taken))
        {
            ++pending;
            i += taken;
            continue;
        }
        const UniChar c = units[i++];
        if (c == '/')
        {
            // A run of '/' (or a '/' right after a "./" or "../") counts once.
            if (!componentStart || i == 1)
            {
                ++pending;
            }
            componentStart = true;
            continue;
        }
        out.append(static_cast<size_t>(pending), u':');
        pending = 0;
        out.push_back(c == ':' ? u'/' : static_cast<char16_t>(c));
        componentStart = false;
    }
    out.append(static_cast<size_t>(pending), u':');
    Assign(ioPath, out);
}

// The relative colon rules (VURL.h).
void RelativeHFSToPosix(VString& ioPath)
{
    const UniChar* units = ioPath.GetCPointer();
    const int32_t length = ioPath.GetLength();
    Units out;
    out.reserve(static_cast<size_t>(length) + 8);
    int32_t i = 0;
    while (i < length)
    {
        if (units[i] == ':')
        {
            const int32_t start = i;
            while (i < length && units[i] == ':')
            {
                ++i;
            }
            if (start > 0)
            {
                out.push_back(u'/');
            }
            AppendParentSteps(out, i - start - 1);
            continue;
        }
        out.push_back(units[i] == '/' ? u':' : static_cast<char16_t>(units[i]));
        ++i;
    }
    Assign(ioPath, out);
}

void ExchangeSeparators(VString& ioPath, UniChar inFrom, UniChar inTo)
{
    if (ioPath.FindUniChar(inFrom) != 0)
    {
        ioPath.Exchange(inFrom, inTo);
    }
}

} // namespace

void VURL::Convert(VString& ioPath, EURLPathStyle inFrom, EURLPathStyle inTo, bool inRelative)
{
    if (inFrom == eURL_POSIX_STYLE && inTo == eURL_WIN_STYLE)
    {
        POSIX_to_WIN(ioPath);
    }
    else if (inFrom == eURL_WIN_STYLE && inTo == eURL_POSIX_STYLE)
    {
        WIN_to_POSIX(ioPath);
    }
    else if (inFrom == eURL_POSIX_STYLE && inTo == eURL_HFS_STYLE)
    {
        POSIX_to_HFS(ioPath, inRelative);
    }
    else if (inFrom == eURL_HFS_STYLE && inTo == eURL_POSIX_STYLE)
    {
        HFS_to_POSIX(ioPath, inRelative);
    }
}

void VURL::HFS_to_POSIX(VString& ioPath, bool inRelative)
{
    if (inRelative)
    {
        RelativeHFSToPosix(ioPath);
        return;
    }
    VString posix;
    XLinuxFile::HFSFullPathToPosix(ioPath, posix);
    ioPath.FromString(posix);
}

void VURL::POSIX_to_HFS(VString& ioPath, bool inRelative)
{
    if (!inRelative)
    {
        VString hfs;
        const bool folder = ioPath.GetUniChar(ioPath.GetLength()) == '/';
        if (XLinuxFile::PosixFullPathToHFS(ioPath, folder, hfs))
        {
            ioPath.FromString(hfs);
            return;
        }
    }
    RelativePosixToHFS(ioPath);
}

void VURL::WIN_to_POSIX(VString& ioPath)
{
    ExchangeSeparators(ioPath, '\\', '/');
}

void VURL::POSIX_to_WIN(VString& ioPath)
{
    ExchangeSeparators(ioPath, '/', '\\');
}

} // namespace zorn
