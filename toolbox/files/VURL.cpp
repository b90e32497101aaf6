#include "toolbox/files/VURL.h"

#include "toolbox/files/VFilePath.h"
#include "toolbox/files/VFolder.h"
#include "toolbox/files/linux/XLinuxFile.h"
#include "toolbox/kernel/strings/HexDigit.h"

#include <unicode/utf16.h>
#include <unicode/utf8.h>

#include <algorithm>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

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

// ---------------------------------------------------------------------------------------------
// Path styles
// ---------------------------------------------------------------------------------------------

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

// ---------------------------------------------------------------------------------------------
// Percent coding
// ---------------------------------------------------------------------------------------------

namespace
{

constexpr char16_t kHexDigits[] = u"0123456789ABCDEF";

std::u16string_view View(const VString& inText)
{
    return {reinterpret_cast<const char16_t*>(inText.GetCPointer()), static_cast<size_t>(inText.GetLength())};
}

VString FromView(std::u16string_view inUnits)
{
    VString text;
    text.FromUniString(reinterpret_cast<const UniChar*>(inUnits.data()),
                       static_cast<int32_t>(inUnits.size()));
    return text;
}

// Safe characters: those an encoded URL kept as given may hold.
bool IsSafe(char16_t inUnit)
{
    if (inUnit > 127)
    {
        return false;
    }
    if (inUnit == 0 || (inUnit >= 'a' && inUnit <= 'z') || (inUnit >= 'A' && inUnit <= 'Z') ||
        (inUnit >= '0' && inUnit <= '9'))
    {
        return true;
    }
    return std::u16string_view(u":/?#[]@!$&'()*+,;=-._~%").find(inUnit) != std::u16string_view::npos;
}

bool IsUnsafeByte(uint8_t inByte, bool inWithBrackets, std::string_view inExtra)
{
    if (inByte <= 0x1F || inByte >= 0x7F)
    {
        return true;
    }
    if (std::string_view("<>\"#%{}|\\^` ").find(static_cast<char>(inByte)) != std::string_view::npos)
    {
        return true;
    }
    if (inWithBrackets && (inByte == '[' || inByte == ']'))
    {
        return true;
    }
    return inExtra.find(static_cast<char>(inByte)) != std::string_view::npos;
}

// A byte that is no UTF-8, as the file layer carries it in a name (XLinuxFile): U+DC80..U+DCFF.
constexpr char16_t kByteEscapeBase = 0xDC00;

bool IsByteEscape(UChar32 inChar)
{
    return inChar >= kByteEscapeBase + 0x80 && inChar <= kByteEscapeBase + 0xFF;
}

// Whether the bytes hold a well-formed UTF-8 sequence anywhere.
bool HoldsWellFormedSequence(const std::string& inBytes)
{
    const auto size = static_cast<int32_t>(inBytes.size());
    int32_t i = 0;
    while (i < size)
    {
        UChar32 c;
        U8_NEXT(reinterpret_cast<const uint8_t*>(inBytes.data()), i, size, c);
        if (c >= 0)
        {
            return true;
        }
    }
    return false;
}

// The UTF-8 bytes of the text. A run of unpaired U+DC80..U+DCFF gives the bytes it carries, so
// that a file name that is no UTF-8 keeps its bytes, when those bytes read back as the same run
// (as the file layer requires); any other lone surrogate gives U+FFFD.
std::string ToUTF8(std::u16string_view inUnits)
{
    std::string bytes;
    bytes.reserve(inUnits.size());
    const auto length = static_cast<int32_t>(inUnits.size());
    std::string run;
    int32_t runUnits = 0;
    auto flushRun = [&]()
    {
        if (HoldsWellFormedSequence(run))
        {
            for (int32_t k = 0; k < runUnits; ++k)
            {
                bytes.append("\xEF\xBF\xBD");
            }
        }
        else
        {
            bytes.append(run);
        }
        run.clear();
        runUnits = 0;
    };
    int32_t i = 0;
    while (i < length)
    {
        UChar32 c;
        U16_NEXT(inUnits.data(), i, length, c);
        if (IsByteEscape(c))
        {
            run.push_back(static_cast<char>(c - kByteEscapeBase));
            ++runUnits;
            continue;
        }
        flushRun();
        if (U_IS_SURROGATE(c))
        {
            c = 0xFFFD;
        }
        uint8_t buffer[U8_MAX_LENGTH];
        int32_t n = 0;
        U8_APPEND_UNSAFE(buffer, n, c);
        bytes.append(reinterpret_cast<const char*>(buffer), static_cast<size_t>(n));
    }
    flushRun();
    return bytes;
}

void EncodeText(VString& ioText, bool inWithBrackets, bool inKeepBackslashU, std::string_view inExtra)
{
    const std::string bytes = ToUTF8(View(ioText));
    std::u16string out;
    out.reserve(bytes.size() + 8);
    for (size_t i = 0; i < bytes.size(); ++i)
    {
        const auto byte = static_cast<uint8_t>(bytes[i]);
        const bool keptBackslash =
            inKeepBackslashU && byte == '\\' && i + 1 < bytes.size() && bytes[i + 1] == 'u';
        if (!keptBackslash && IsUnsafeByte(byte, inWithBrackets, inExtra))
        {
            out.push_back(u'%');
            out.push_back(kHexDigits[byte >> 4]);
            out.push_back(kHexDigits[byte & 15]);
        }
        else
        {
            out.push_back(static_cast<char16_t>(byte));
        }
    }
    ioText = FromView(out);
}

// Turns every "%XX" run into the characters of its UTF-8 bytes, without normalising. '%' signs
// without two hexadecimal digits are kept. Escaped bytes that are no UTF-8 are kept as they stand
// (inBytesAsUnits false) or become the units the file layer carries such bytes in (true).
void DecodeText(VString& ioText, bool inBytesAsUnits)
{
    const std::u16string_view text = View(ioText);
    if (text.find(u'%') == std::u16string_view::npos)
    {
        return;
    }
    std::u16string out;
    out.reserve(text.size());
    std::vector<uint8_t> bytes;
    size_t i = 0;
    while (i < text.size())
    {
        const size_t runStart = i;
        bytes.clear();
        while (i + 2 < text.size() && text[i] == u'%' && HexDigitValue(text[i + 1]) >= 0 &&
               HexDigitValue(text[i + 2]) >= 0)
        {
            bytes.push_back(
                static_cast<uint8_t>(HexDigitValue(text[i + 1]) * 16 + HexDigitValue(text[i + 2])));
            i += 3;
        }
        if (bytes.empty())
        {
            out.push_back(text[i++]);
            continue;
        }
        const auto count = static_cast<int32_t>(bytes.size());
        int32_t k = 0;
        while (k < count)
        {
            const int32_t start = k;
            UChar32 c;
            U8_NEXT(bytes.data(), k, count, c);
            if (c < 0 && inBytesAsUnits)
            {
                for (int32_t b = start; b < k; ++b)
                {
                    out.push_back(static_cast<char16_t>(kByteEscapeBase + bytes[static_cast<size_t>(b)]));
                }
            }
            else if (c < 0)
            {
                out.append(text.substr(runStart + 3 * static_cast<size_t>(start),
                                       3 * static_cast<size_t>(k - start)));
            }
            else
            {
                char16_t units[2];
                int32_t n = 0;
                U16_APPEND_UNSAFE(units, n, c);
                out.append(units, static_cast<size_t>(n));
            }
        }
    }
    ioText = FromView(out);
}

// The signs each part escapes in its encoded form, so that it is read back as the same part. In
// a URL that is not conform every ':' is escaped, so that no "://" makes it conform.
std::string_view ExtraEscapes(int inPart, bool inConform)
{
    if (!inConform)
    {
        return inPart == 2 ? ";?:" : (inPart == 3 ? "?:" : ":");
    }
    switch (inPart)
    {
    case 0:
        return ":/";
    case 1:
        return "/?";
    case 2:
        return ";?";
    case 3:
        return "?";
    default:
        return {};
    }
}

} // namespace

void VURL::Encode(VString& ioText, bool /*inKeepColon*/, bool inDecompose, bool inWithBrackets,
                  bool inKeepBackslashU)
{
    if (inDecompose)
    {
        ioText.Decompose();
    }
    EncodeText(ioText, inWithBrackets, inKeepBackslashU, {});
}

void VURL::Decode(VString& ioText)
{
    DecodeText(ioText, false);
    ioText.Compose();
}

// ---------------------------------------------------------------------------------------------
// Construction and splitting
// ---------------------------------------------------------------------------------------------

VURL::VURL() = default;

VURL::VURL(const VString& inURL, bool inIsEncoded)
{
    FromString(inURL, inIsEncoded);
}

VURL::VURL(const VString& inPath, EURLPathStyle inStyle, const VString& inPrefix)
{
    FromFilePath(inPath, inStyle, inPrefix);
}

VURL::VURL(const VFolder& inBase, const VString& inRelativePath, EURLPathStyle inStyle)
{
    FromRelativePath(inBase, inRelativePath, inStyle);
}

VURL::VURL(const VFilePath& inPath)
{
    FromFilePath(inPath);
}

VURL::~VURL() = default;

void VURL::FromURL(const VURL& inOther)
{
    *this = inOther;
}

void VURL::Clear()
{
    for (Part& part : fParts)
    {
        part = Part();
    }
    fURL.Clear();
    fEncodedURL.Clear();
    fIsConform = false;
}

void VURL::FromString(const VString& inURL, bool inIsEncoded)
{
    _Split(inURL, inIsEncoded, false);
}

void VURL::FromString(const VString& inBase, const VString& inRelative, bool inIsEncoded)
{
    if (inBase.IsEmpty() || View(inRelative).find(u"://") != std::u16string_view::npos)
    {
        _Split(inRelative, inIsEncoded, false);
        return;
    }
    VString text(inBase);
    if (inRelative.GetUniChar(1) != '/' && inBase.GetUniChar(inBase.GetLength()) != '/')
    {
        text.AppendUniChar('/');
    }
    text.AppendString(inRelative);
    _Split(text, inIsEncoded, false);
}

void VURL::FromFilePath(const VString& inPath, EURLPathStyle inStyle, const VString& inPrefix)
{
    VString path(inPath);
    if (inStyle == eURL_WIN_STYLE)
    {
        WIN_to_POSIX(path);
    }
    else if (inStyle == eURL_HFS_STYLE)
    {
        HFS_to_POSIX(path, true);
    }
    VString text(inPrefix);
    if (!text.IsEmpty() && text.FindUniChar(':') == 0)
    {
        text.AppendString(VString("://"));
    }
    if (path.GetUniChar(1) == '/' && path.GetUniChar(2) == '/')
    {
        path.Remove(1, 2);
    }
    else if (path.GetUniChar(1) != '/')
    {
        text.AppendUniChar('/');
    }
    text.AppendString(path);
    _Split(text, false, true);
}

void VURL::FromFilePath(const VFilePath& inPath)
{
    VString posix;
    inPath.GetPosixPath(posix);
    if (!inPath.IsValid() || posix.IsEmpty())
    {
        Clear();
        return;
    }
    VString text(posix.GetUniChar(1) == '/' && posix.GetUniChar(2) == '/' ? "file:" : "file://");
    if (posix.GetUniChar(1) != '/')
    {
        text.AppendUniChar('/');
    }
    text.AppendString(posix);
    _Split(text, false, true);
}

void VURL::FromRelativePath(const VFolder& inBase, const VString& inRelativePath, EURLPathStyle inStyle)
{
    VString relative(inRelativePath);
    if (inStyle == eURL_WIN_STYLE)
    {
        WIN_to_POSIX(relative);
    }
    VFilePath path;
    path.FromRelativePath(inBase.GetPathRef(), relative, inStyle == eURL_HFS_STYLE ? FPS_NATIVE : FPS_POSIX);
    FromFilePath(path);
}

void VURL::_Split(const VString& inText, bool inIsEncoded, bool inPathOnly)
{
    Clear();
    const std::u16string_view text = View(inText);
    constexpr size_t npos = std::u16string_view::npos;
    if (inIsEncoded && std::all_of(text.begin(), text.end(), IsSafe))
    {
        fEncodedURL = inText;
    }

    // Ranges [start, end) in the given text; end == start when absent.
    size_t starts[kPartCount] = {};
    size_t ends[kPartCount] = {};
    size_t pathStart = 0;
    const size_t mark = text.find(u"://");
    if (mark != npos && mark > 0 && text.substr(0, mark).find_first_of(u"/:") == npos)
    {
        fIsConform = true;
        ends[kScheme] = mark;
        const size_t location = mark + 3;
        size_t end = text.find_first_of(inPathOnly ? u"/" : u"/?#", location);
        if (end == npos)
        {
            end = text.size();
        }
        starts[kNetworkLocation] = location;
        ends[kNetworkLocation] = end;
        pathStart = end < text.size() && text[end] == u'/' ? end + 1 : end;
    }
    size_t pathEnd = text.size();
    if (!inPathOnly)
    {
        // The fragment runs from the first '#' to the end; the query and the parameters are
        // looked for before it.
        const size_t hash = text.find(u'#', pathStart);
        const size_t queryEnd = hash == npos ? text.size() : hash;
        size_t question = text.substr(0, queryEnd).find(u'?', pathStart);
        const size_t parametersEnd = question == npos ? queryEnd : question;
        const size_t semicolon = text.substr(0, parametersEnd).find(u';', pathStart);
        pathEnd = semicolon == npos ? parametersEnd : semicolon;
        if (semicolon != npos)
        {
            starts[kParameters] = semicolon + 1;
            ends[kParameters] = parametersEnd;
        }
        if (question != npos)
        {
            starts[kQuery] = question + 1;
            ends[kQuery] = queryEnd;
        }
        if (hash != npos)
        {
            starts[kFragment] = hash + 1;
            ends[kFragment] = text.size();
        }
    }
    starts[kPath] = pathStart;
    ends[kPath] = pathEnd;

    // The text is kept with each part decoded in place.
    std::u16string out;
    out.reserve(text.size());
    size_t copied = 0;
    for (int index = kScheme; index < kPartCount; ++index)
    {
        if (ends[index] <= starts[index])
        {
            continue;
        }
        out.append(text.substr(copied, starts[index] - copied));
        VString part = FromView(text.substr(starts[index], ends[index] - starts[index]));
        if (inIsEncoded)
        {
            DecodeText(part, true);
        }
        fParts[index].fStart = static_cast<uint32_t>(out.size() + 1);
        fParts[index].fLength = static_cast<uint32_t>(part.GetLength());
        out.append(View(part));
        copied = ends[index];
    }
    out.append(text.substr(copied));
    fURL = FromView(out);
}

void VURL::_Assemble(const VString (&inParts)[kPartCount])
{
    fEncodedURL.Clear();
    std::u16string out;
    auto append = [&](EPart inPart)
    {
        fParts[inPart] = Part();
        if (!inParts[inPart].IsEmpty())
        {
            fParts[inPart].fStart = static_cast<uint32_t>(out.size() + 1);
            fParts[inPart].fLength = static_cast<uint32_t>(inParts[inPart].GetLength());
            out.append(View(inParts[inPart]));
        }
    };
    append(kScheme);
    if (inParts[kNetworkLocation].IsEmpty())
    {
        out.append(u":///");
        fParts[kNetworkLocation] = Part();
    }
    else
    {
        out.append(u"://");
        append(kNetworkLocation);
        out.push_back(u'/');
    }
    append(kPath);
    const char16_t signs[] = {u';', u'?', u'#'};
    for (int index = kParameters; index < kPartCount; ++index)
    {
        fParts[index] = Part();
        if (!inParts[index].IsEmpty())
        {
            out.push_back(signs[index - kParameters]);
            append(static_cast<EPart>(index));
        }
    }
    fURL = FromView(out);
}

// ---------------------------------------------------------------------------------------------
// Reading the parts
// ---------------------------------------------------------------------------------------------

void VURL::_GetPart(EPart inPart, VString& outText) const
{
    const Part& part = fParts[inPart];
    if (part.fLength == 0)
    {
        outText.Clear();
        return;
    }
    fURL.GetSubString(static_cast<int32_t>(part.fStart), static_cast<int32_t>(part.fLength), outText);
}

void VURL::_GetParts(VString (&outParts)[kPartCount]) const
{
    for (int index = kScheme; index < kPartCount; ++index)
    {
        _GetPart(static_cast<EPart>(index), outParts[index]);
    }
}

void VURL::_GetEncodedPart(EPart inPart, VString& outText, bool inWithBrackets) const
{
    _GetPart(inPart, outText);
    EncodeText(outText, inWithBrackets, false, ExtraEscapes(inPart, fIsConform));
}

void VURL::_GetPart(EPart inPart, VString& outText, bool inEncoded) const
{
    if (inEncoded)
    {
        _GetEncodedPart(inPart, outText, inPart != kNetworkLocation);
    }
    else
    {
        _GetPart(inPart, outText);
    }
}

void VURL::_BuildEncoded(VString& outURL, bool inLocationWithBrackets) const
{
    VString out;
    VString part;
    if (fIsConform)
    {
        _GetEncodedPart(kScheme, out, true);
        out.AppendString(VString("://"));
        _GetEncodedPart(kNetworkLocation, part, inLocationWithBrackets);
        out.AppendString(part);
        out.AppendUniChar('/');
    }
    _GetEncodedPart(kPath, part, true);
    out.AppendString(part);
    const UniChar signs[] = {';', '?', '#'};
    for (int index = kParameters; index < kPartCount; ++index)
    {
        if (fParts[index].fLength != 0)
        {
            out.AppendUniChar(signs[index - kParameters]);
            _GetEncodedPart(static_cast<EPart>(index), part, true);
            out.AppendString(part);
        }
    }
    outURL = out;
}

void VURL::GetURLRelativeTo(const VFilePath& inPath, const VFolder* inBase, VString& outURL, bool inEncoded)
{
    VURL(inPath).GetAbsoluteURL(outURL, inEncoded);
    if (inBase != nullptr)
    {
        VString base;
        inBase->GetURL(base, inEncoded);
        if (outURL.BeginsWithRawString(base))
        {
            outURL.Remove(1, base.GetLength());
        }
    }
}

void VURL::GetAbsoluteURL(VString& outURL, bool inEncoded) const
{
    if (!inEncoded || fURL.EqualToUSASCIICString("about:blank"))
    {
        outURL = fURL;
    }
    else if (!fEncodedURL.IsEmpty())
    {
        outURL = fEncodedURL;
    }
    else
    {
        _BuildEncoded(outURL, false);
    }
}

void VURL::GetRelativeURL(VString& outURL, bool inEncoded) const
{
    if (inEncoded)
    {
        _BuildEncoded(outURL, true);
    }
    else
    {
        outURL = fURL;
    }
}

void VURL::GetScheme(VString& outScheme, bool inEncoded) const
{
    _GetPart(kScheme, outScheme, inEncoded);
}

void VURL::GetNetworkLocation(VString& outLocation, bool inEncoded) const
{
    _GetPart(kNetworkLocation, outLocation, inEncoded);
}

void VURL::GetPath(VString& outPath, EURLPathStyle inStyle, bool inEncoded) const
{
    _GetPart(kPath, outPath, inEncoded);
    if (inStyle == eURL_WIN_STYLE)
    {
        POSIX_to_WIN(outPath);
    }
    else if (inStyle == eURL_HFS_STYLE)
    {
        POSIX_to_HFS(outPath, false);
    }
}

void VURL::GetParameters(VString& outParameters, bool inEncoded) const
{
    _GetPart(kParameters, outParameters, inEncoded);
}

void VURL::GetQuery(VString& outQuery, bool inEncoded) const
{
    _GetPart(kQuery, outQuery, inEncoded);
}

void VURL::GetFragment(VString& outFragment, bool inEncoded) const
{
    _GetPart(kFragment, outFragment, inEncoded);
}

void VURL::GetResourceSpecifier(VString& outSpecifier, bool inEncoded) const
{
    VString out;
    VString part;
    const UniChar signs[] = {';', '?', '#'};
    for (int index = kParameters; index < kPartCount; ++index)
    {
        if (fParts[index].fLength != 0)
        {
            out.AppendUniChar(signs[index - kParameters]);
            _GetPart(static_cast<EPart>(index), part, inEncoded);
            out.AppendString(part);
        }
    }
    outSpecifier = out;
}

void VURL::GetRelativePath(VString& outPath, bool inEncoded) const
{
    _GetPart(kPath, outPath, inEncoded);
}

void VURL::GetLastPathComponent(VString& outComponent, bool inEncoded) const
{
    VString path;
    _GetPart(kPath, path);
    if (path.GetUniChar(path.GetLength()) == '/')
    {
        path.Truncate(path.GetLength() - 1);
    }
    const std::u16string_view units = View(path);
    const size_t slash = units.rfind(u'/');
    outComponent = slash == std::u16string_view::npos ? path : FromView(units.substr(slash + 1));
    if (inEncoded)
    {
        EncodeText(outComponent, true, false, ExtraEscapes(kPath, fIsConform));
    }
}

bool VURL::IsScheme(const VString& inScheme) const
{
    VString scheme;
    _GetPart(kScheme, scheme);
    return scheme.EqualToStringRaw(inScheme);
}

bool VURL::IsRoot() const
{
    VString path;
    _GetPart(kPath, path);
    const size_t slash = View(path).find(u'/');
    return slash == std::u16string_view::npos || slash + 1 == static_cast<size_t>(path.GetLength());
}

bool VURL::GetFilePath(VFilePath& outPath) const
{
    VString scheme;
    VString location;
    _GetPart(kScheme, scheme);
    _GetPart(kNetworkLocation, location);
    const bool fileScheme = scheme.IsEmpty() || scheme.EqualToString(VString("file"), false);
    const bool localHost = location.IsEmpty() || location.EqualToString(VString("localhost"), false);
    if (!fileScheme || !localHost)
    {
        outPath.Clear();
        return false;
    }
    VString path;
    _GetPart(kPath, path);
    if (path.GetUniChar(1) != '/')
    {
        path.Insert('/', 1);
    }
    POSIX_to_HFS(path, false);
    outPath.FromFullPath(path, FPS_NATIVE);
    return outPath.IsValid();
}

// ---------------------------------------------------------------------------------------------
// The network location
// ---------------------------------------------------------------------------------------------

void VURL::ParseNetLocation(const VString& inLocation, VString* outUser, VString* outPassword,
                            VString* outHost, VString* outPort)
{
    const std::u16string_view text = View(inLocation);
    constexpr size_t npos = std::u16string_view::npos;
    std::u16string_view user;
    std::u16string_view password;
    std::u16string_view host = text;
    std::u16string_view port;
    const size_t at = text.find(u'@');
    if (at != npos)
    {
        user = text.substr(0, at);
        host = text.substr(at + 1);
        const size_t colon = user.find(u':');
        if (colon != npos)
        {
            password = user.substr(colon + 1);
            user = user.substr(0, colon);
        }
    }
    if (!host.empty() && host[0] == u'[')
    {
        const size_t close = host.find(u']');
        const std::u16string_view inside = host.substr(1, close == npos ? npos : close - 1);
        if (close != npos)
        {
            const size_t colon = host.find(u':', close);
            if (colon != npos)
            {
                port = host.substr(colon + 1);
            }
        }
        host = inside;
    }
    else
    {
        const size_t colon = host.rfind(u':');
        if (colon != npos)
        {
            port = host.substr(colon + 1);
            host = host.substr(0, colon);
        }
    }
    const std::pair<VString*, std::u16string_view> fields[] = {
        {outUser, user}, {outPassword, password}, {outHost, host}, {outPort, port}};
    for (const auto& [target, value] : fields)
    {
        if (target != nullptr)
        {
            *target = FromView(value);
        }
    }
}

void VURL::_GetLocationField(int inField, VString& outText, bool inEncoded) const
{
    VString location;
    _GetPart(kNetworkLocation, location);
    VString fields[4];
    ParseNetLocation(location, &fields[0], &fields[1], &fields[2], &fields[3]);
    outText = fields[inField];
    if (inEncoded)
    {
        EncodeText(outText, true, false, {});
    }
}

void VURL::GetUserName(VString& outUser, bool inEncoded) const
{
    _GetLocationField(0, outUser, inEncoded);
}

void VURL::GetPassword(VString& outPassword, bool inEncoded) const
{
    _GetLocationField(1, outPassword, inEncoded);
}

void VURL::GetHostName(VString& outHost, bool inEncoded) const
{
    _GetLocationField(2, outHost, inEncoded);
}

void VURL::GetPortNumber(VString& outPort, bool inEncoded) const
{
    _GetLocationField(3, outPort, inEncoded);
}

int32_t VURL::GetPortNumber() const
{
    VString port;
    _GetLocationField(3, port, false);
    int32_t value = 0;
    for (const char16_t unit : View(port))
    {
        if (unit == u' ')
        {
            return -1;
        }
        if (unit >= u'0' && unit <= u'9')
        {
            value = value * 10 + (unit - u'0');
            if (value >= 65537)
            {
                return -1;
            }
        }
    }
    return value;
}

// ---------------------------------------------------------------------------------------------
// Changing
// ---------------------------------------------------------------------------------------------

void VURL::_SetPart(EPart inPart, const VString& inValue)
{
    if (!fIsConform)
    {
        return;
    }
    VString parts[kPartCount];
    _GetParts(parts);
    parts[inPart] = inValue;
    _Assemble(parts);
}

void VURL::SetScheme(const VString& inScheme)
{
    if (!inScheme.IsEmpty())
    {
        _SetPart(kScheme, inScheme);
    }
}

void VURL::SetNetWorkLocation(const VString& inLocation, bool inEncoded)
{
    VString text(inLocation);
    if (inEncoded)
    {
        DecodeText(text, true);
    }
    _SetPart(kNetworkLocation, text);
}

void VURL::SetParameters(const VString& inParameters, bool inEncoded)
{
    VString text(inParameters);
    if (inEncoded)
    {
        DecodeText(text, true);
    }
    _SetPart(kParameters, text);
}

void VURL::SetQuery(const VString& inQuery, bool inEncoded)
{
    VString text(inQuery);
    if (inEncoded)
    {
        DecodeText(text, true);
    }
    _SetPart(kQuery, text);
}

void VURL::SetFragment(const VString& inFragment, bool inEncoded)
{
    VString text(inFragment);
    if (inEncoded)
    {
        DecodeText(text, true);
    }
    _SetPart(kFragment, text);
}

void VURL::SetRelativePath(const VString& inPath, EURLPathStyle inStyle, bool inEncoded)
{
    VString text(inPath);
    if (inEncoded)
    {
        DecodeText(text, true);
    }
    if (inStyle == eURL_WIN_STYLE)
    {
        WIN_to_POSIX(text);
    }
    else if (inStyle == eURL_HFS_STYLE)
    {
        HFS_to_POSIX(text, true);
    }
    _SetPart(kPath, text);
}

bool VURL::ToParent()
{
    if (!fIsConform || IsRoot())
    {
        return false;
    }
    VString path;
    _GetPart(kPath, path);
    if (path.GetUniChar(path.GetLength()) == '/')
    {
        path.Truncate(path.GetLength() - 1);
    }
    const size_t slash = View(path).rfind(u'/');
    path.Truncate(slash == std::u16string_view::npos ? 0 : static_cast<int32_t>(slash + 1));
    SetRelativePath(path, eURL_POSIX_STYLE, false);
    return true;
}

VURL* VURL::RetainParent() const
{
    auto* parent = new VURL(*this);
    if (!parent->ToParent())
    {
        delete parent;
        return nullptr;
    }
    return parent;
}

bool VURL::ToSubFolder(const VString& inName)
{
    VString path;
    _GetPart(kPath, path);
    if (!fIsConform || path.GetUniChar(path.GetLength()) != '/')
    {
        return false;
    }
    path.AppendString(inName);
    SetRelativePath(path, eURL_POSIX_STYLE, false);
    return true;
}

} // namespace zorn
