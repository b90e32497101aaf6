// Portable files use the C and C++ libraries and ICU only; system calls, /proc and glibc
// extensions live in this linux/ back end.

#include "toolbox/files/linux/XLinuxFile.h"

#include "toolbox/files/VFilePath.h"

#include <unicode/utf16.h>
#include <unicode/utf8.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace zorn
{

namespace
{

constexpr UniChar kEscapeBase = 0xDC00; // a byte b >= 0x80 that is no UTF-8 becomes U+DC00 + b

bool IsEscape(UniChar inUnit)
{
    return inUnit >= 0xDC80 && inUnit <= 0xDCFF;
}

// Whether the bytes hold a well-formed UTF-8 sequence anywhere (then their escapes are no text
// that decoding bytes can give).
bool HoldsWellFormedSequence(const uint8_t* inBytes, int32_t inSize)
{
    int32_t i = 0;
    while (i < inSize)
    {
        UChar32 c;
        U8_NEXT(inBytes, i, inSize, c);
        if (c >= 0)
        {
            return true;
        }
    }
    return false;
}

const VString& RootName()
{
    static const VString sRoot(reinterpret_cast<const UniChar*>(XLinuxFile::kRootVolumeName));
    return sRoot;
}

bool IsRootName(const UniChar* inName, int32_t inLength)
{
    const VString& root = RootName();
    return inLength == root.GetLength() &&
           std::memcmp(inName, root.GetCPointer(), static_cast<size_t>(inLength) * sizeof(UniChar)) == 0;
}

// Appends units with '/' and ':' swapped.
void AppendSwapped(std::u16string& ioOut, const UniChar* inUnits, int32_t inCount)
{
    for (int32_t i = 0; i < inCount; ++i)
    {
        UniChar c = inUnits[i];
        ioOut.push_back(c == '/' ? u':' : (c == ':' ? u'/' : static_cast<char16_t>(c)));
    }
}

void Assign(VString& outText, const std::u16string& inUnits)
{
    outText.FromUniString(reinterpret_cast<const UniChar*>(inUnits.data()),
                          static_cast<int32_t>(inUnits.size()));
}

bool IsDot(const UniChar* inName, int32_t inLength)
{
    return inLength == 1 && inName[0] == '.';
}

bool IsDotDot(const UniChar* inName, int32_t inLength)
{
    return inLength == 2 && inName[0] == '.' && inName[1] == '.';
}

} // namespace

// ------------------------------------------------------------------------------------------------
// File names at the system boundary

void XLinuxFile::DecodeNameBytes(const char* inBytes, size_t inSize, VString& outText)
{
    const uint8_t* bytes = reinterpret_cast<const uint8_t*>(inBytes);
    std::u16string units;
    units.reserve(inSize);
    size_t i = 0;
    while (i < inSize)
    {
        if (bytes[i] < 0x80)
        {
            units.push_back(static_cast<char16_t>(bytes[i++]));
            continue;
        }
        // U8_NEXT works on int32 offsets: decode within a window of the four bytes a character
        // can take, so that texts of any length are read.
        size_t window = std::min<size_t>(4, inSize - i);
        int32_t taken = 0;
        UChar32 c;
        U8_NEXT(bytes + i, taken, static_cast<int32_t>(window), c);
        if (c < 0)
        {
            // Every byte of the ill-formed piece is escaped on its own.
            for (int32_t k = 0; k < taken; ++k)
            {
                units.push_back(static_cast<char16_t>(kEscapeBase + bytes[i + static_cast<size_t>(k)]));
            }
        }
        else if (c > 0xFFFF)
        {
            units.push_back(static_cast<char16_t>(U16_LEAD(c)));
            units.push_back(static_cast<char16_t>(U16_TRAIL(c)));
        }
        else
        {
            units.push_back(static_cast<char16_t>(c));
        }
        i += static_cast<size_t>(taken);
    }
    Assign(outText, units);
}

bool XLinuxFile::EncodeNameBytes(const VString& inText, std::string& outBytes)
{
    outBytes.clear();
    const UniChar* units = inText.GetCPointer();
    const int32_t length = inText.GetLength();
    outBytes.reserve(static_cast<size_t>(length));
    std::vector<uint8_t> escaped;
    for (int32_t i = 0; i < length;)
    {
        UniChar c = units[i];
        if (c == 0)
        {
            outBytes.clear();
            return false;
        }
        if (c < 0x80)
        {
            outBytes.push_back(static_cast<char>(c));
            ++i;
            continue;
        }
        if (IsEscape(c))
        {
            // A run of escapes must be bytes that decode to escapes again.
            escaped.clear();
            while (i < length && IsEscape(units[i]))
            {
                escaped.push_back(static_cast<uint8_t>(units[i++] - kEscapeBase));
            }
            if (HoldsWellFormedSequence(escaped.data(), static_cast<int32_t>(escaped.size())))
            {
                outBytes.clear();
                return false;
            }
            outBytes.append(reinterpret_cast<const char*>(escaped.data()), escaped.size());
            continue;
        }
        UChar32 code;
        U16_NEXT(units, i, length, code);
        if (U_IS_SURROGATE(code))
        {
            outBytes.clear();
            return false;
        }
        uint8_t buffer[4];
        int32_t size = 0;
        U8_APPEND_UNSAFE(buffer, size, code);
        outBytes.append(reinterpret_cast<const char*>(buffer), static_cast<size_t>(size));
    }
    return true;
}

std::string XLinuxFile::AllocatePosixPathFromString(const VString& inPosixPath)
{
    std::string bytes;
    EncodeNameBytes(inPosixPath, bytes);
    return bytes;
}

std::string XLinuxFile::AllocatePosixPathFromFilePath(const VFilePath& inPath)
{
    VString posix;
    inPath.GetPosixPath(posix);
    return AllocatePosixPathFromString(posix);
}

void XLinuxFile::GetFilePathFromPosixPath(const char* inPosixPath, bool inIsFolder, VFilePath& outPath)
{
    if (inPosixPath == nullptr)
    {
        outPath.Clear();
        return;
    }
    VString text;
    DecodeNameBytes(inPosixPath, std::strlen(inPosixPath), text);
    if (inIsFolder && text.GetUniChar(text.GetLength()) != '/')
    {
        text.AppendUniChar('/');
    }
    outPath.FromFullPath(text, FPS_POSIX);
}

bool XLinuxFile::PosixNameBeginsWithDot(const char* inPosixPath)
{
    if (inPosixPath == nullptr)
    {
        return false;
    }
    size_t length = std::strlen(inPosixPath);
    if (length < 2)
    {
        return false;
    }
    if (inPosixPath[length - 1] == '/')
    {
        --length;
    }
    size_t start = length;
    while (start > 0 && inPosixPath[start - 1] != '/')
    {
        --start;
    }
    return start < length && inPosixPath[start] == '.';
}

// ------------------------------------------------------------------------------------------------
// Colon and POSIX path forms

bool XLinuxFile::PosixFullPathToHFS(const VString& inPosixPath, bool inIsDirectory, VString& outHFS)
{
    const UniChar* units = inPosixPath.GetCPointer();
    const int32_t length = inPosixPath.GetLength();
    if (length == 0 || units[0] != '/')
    {
        outHFS.Clear();
        return false;
    }
    const VString& root = RootName();
    std::u16string out(reinterpret_cast<const char16_t*>(root.GetCPointer()),
                       static_cast<size_t>(root.GetLength()));
    out.reserve(out.size() + static_cast<size_t>(length) + 2);
    out.push_back(u':');
    // Each name is written with a ':' after it and each ".." as one more ':'; the last ':' goes
    // again unless the text names a folder.
    bool folder = true;
    int32_t i = 0;
    while (i < length)
    {
        while (i < length && units[i] == '/')
        {
            ++i;
        }
        int32_t start = i;
        while (i < length && units[i] != '/')
        {
            ++i;
        }
        const int32_t count = i - start;
        if (count == 0)
        {
            break; // the text ended with '/'
        }
        folder = true;
        if (IsDot(units + start, count))
        {
            continue;
        }
        if (IsDotDot(units + start, count))
        {
            out.push_back(u':');
            continue;
        }
        AppendSwapped(out, units + start, count);
        out.push_back(u':');
        folder = i < length; // a '/' follows
    }
    if (!folder && !inIsDirectory)
    {
        out.pop_back();
    }
    Assign(outHFS, out);
    return true;
}

bool XLinuxFile::PosixFullPathToHFS(const char* inPosixPath, bool inIsDirectory, VString& outHFS)
{
    if (inPosixPath == nullptr)
    {
        outHFS.Clear();
        return false;
    }
    VString text;
    DecodeNameBytes(inPosixPath, std::strlen(inPosixPath), text);
    return PosixFullPathToHFS(text, inIsDirectory, outHFS);
}

void XLinuxFile::HFSFullPathToPosix(const VString& inHFSPath, VString& outPosix)
{
    const UniChar* units = inHFSPath.GetCPointer();
    const int32_t length = inHFSPath.GetLength();
    int32_t colon = 0;
    while (colon < length && units[colon] != ':')
    {
        ++colon;
    }
    std::u16string out;
    out.reserve(static_cast<size_t>(length) + 2);
    out.push_back(u'/');
    if (!IsRootName(units, colon))
    {
        AppendSwapped(out, units, colon);
        if (colon < length)
        {
            out.push_back(u'/');
        }
    }
    // An empty component ("::", which a resolved path never holds) goes up, as ".." does.
    for (int32_t i = colon + 1; i < length; ++i)
    {
        const UniChar c = units[i];
        if (c == ':')
        {
            if (units[i - 1] == ':')
            {
                out.append(u"..");
            }
            out.push_back(u'/');
        }
        else
        {
            out.push_back(c == '/' ? u':' : static_cast<char16_t>(c));
        }
    }
    Assign(outPosix, out);
}

// ------------------------------------------------------------------------------------------------
// Real paths

namespace
{

// realpath(3) of the text; false when it cannot be resolved.
bool ResolveExisting(const std::string& inPath, std::string& outPath)
{
    char* resolved = ::realpath(inPath.c_str(), nullptr);
    if (resolved == nullptr)
    {
        return false;
    }
    outPath.assign(resolved);
    std::free(resolved);
    return true;
}

} // namespace

bool XLinuxFile::RealPath(const std::string& inPath, bool inMustExist, std::string& outPath)
{
    outPath.clear();
    if (inPath.empty())
    {
        return true;
    }
    if (inPath.find('\0') != std::string::npos)
    {
        return false;
    }
    const bool trailingSlash = inPath.size() > 1 && inPath.back() == '/';
    // The components that did not resolve, last first.
    std::vector<std::string> missing;
    std::string head = inPath;
    while (!ResolveExisting(head, outPath))
    {
        if (inMustExist)
        {
            outPath.clear();
            return false;
        }
        while (head.size() > 1 && head.back() == '/')
        {
            head.pop_back();
        }
        size_t slash = head.rfind('/');
        if (slash == std::string::npos)
        {
            outPath.clear();
            return false;
        }
        missing.push_back(head.substr(slash + 1));
        head.erase(slash == 0 ? 1 : slash);
    }
    for (auto name = missing.rbegin(); name != missing.rend(); ++name)
    {
        if (name->empty() || *name == ".")
        {
            continue;
        }
        if (*name == "..")
        {
            size_t slash = outPath.rfind('/');
            outPath.erase(slash == 0 ? 1 : slash);
            continue;
        }
        if (outPath.back() != '/')
        {
            outPath.push_back('/');
        }
        outPath.append(*name);
    }
    if (trailingSlash && outPath.back() != '/')
    {
        outPath.push_back('/');
    }
    return true;
}

} // namespace zorn
