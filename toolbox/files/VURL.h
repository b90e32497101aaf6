// VURL: the URL value of the toolbox. It splits a URL text into six parts (scheme, network
// location, path, parameters, query, fragment), percent-encodes and decodes them, builds file URLs
// from paths in the POSIX, colon (HFS) and Windows styles, and converts path texts between those
// styles; VFilePath uses Convert for every POSIX text.
//
// The URL text is held decoded, each part a range of it; a part of length 0 is absent. A text
// given encoded is also kept as it stands when it holds only safe characters (letters, digits,
// "-._~%" and ":/?#[]@!$&'()*+,;="), and the encoded absolute URL is then that text.
//
// Splitting:
// - A URL is conform when a non-empty scheme without '/' or ':' stands before the first "://".
//   The network location runs from there to the first '/', '?' or '#'; the path starts after
//   that '/', or at that sign. A text that is not conform is all path.
// - In the path, the first '#' opens the fragment, the first '?' before it the query and the
//   first ';' before those the parameters. File URLs built from paths split the path only: a
//   file name may hold ';', '?' and '#'.
// - The parts of an encoded text (and encoded texts given to the setters) are decoded one by one,
//   so an escaped sign ("%3F") stays in its part. Part decoding keeps the characters the escapes
//   name (no normalisation), and escaped bytes that are no UTF-8 become U+DC80..U+DCFF, the units
//   the file layer carries such name bytes in: file names are bytes on Linux, and a file URL must
//   name the same file as its path.
//
// Percent coding:
// - Encode writes the UTF-8 bytes of the unsafe characters as '%' and two upper-case hexadecimal
//   digits: control characters, DEL, bytes above 127, space and "<>\"#%{}|\\^`", and '[' ']'
//   when asked. A lone U+DC80..U+DCFF is the byte it carries; any other lone surrogate is U+FFFD.
// - Decode turns runs of "%XX" (either case) into the characters of their UTF-8 bytes, then
//   composes the text. A '%' not followed by two hexadecimal digits, and escaped bytes that are
//   no UTF-8, are kept as they stand; '+' is not a space.
// - The encoded forms of the parts (getters and assembled URLs) also escape the signs that would
//   end the part when read again: ':' and '/' in a scheme, '/' and '?' in a network location,
//   ';' and '?' in a path, '?' in the parameters, and every ':' in a URL that is not conform.
//   So an encoded URL read again as encoded gives the same parts.
//
// Choices and limits:
// - Setters rebuild the text from the parts and work only on conform URLs; the scheme is
//   followed by "://" and the network location, or by ":///" when there is none.
// - A relative text joined to a base ("base/relative") takes no extra '/' when the base ends
//   with one.
// - A file URL's path gives a VFilePath only when the scheme is absent or "file" (any case) and
//   the network location is empty or "localhost": a URL of another host names no local file.
// - FromFilePath takes the text put before the path ("file://"); a bare scheme name (no ':')
//   gets "://".
// - GetPortNumber reads the digits of the port text: 0 without one, -1 for a space in it or a
//   value above 65536.
//
// Path-style rules:
// - POSIX and Windows differ by the separator only: '/' and '\' are swapped.
// - Full paths (relative false) go through XLinuxFile: "/a/b" is "Root:a:b". A POSIX text that
//   is no full path (it does not begin with '/') is converted by the relative rules.
// - Relative POSIX to colon: "a/b" is "a:b"; runs of '/' count once; "./" and a final "." go;
//   each "../" (and a final "..") is one more ':' ("../a" is ":a", "a/.." is "a::"); ':' in a
//   name becomes '/'.
// - Relative colon to POSIX: a run of n colons before a name is '/' and n - 1 times "../"; at the
//   start of the text it is n - 1 times "../" alone, so a relative text stays relative (":a:b" is
//   "a/b", "::a" is "../a"); a final run gives '/' and n - 1 times "../"; '/' in a name becomes
//   ':'.
// - Every other pair of styles leaves the text unchanged.
#pragma once

#include "toolbox/kernel/base/VObject.h"
#include "toolbox/kernel/strings/VString.h"

#include <cstdint>

namespace zorn
{

class VFilePath;
class VFolder;

enum EURLPathStyle
{
    eURL_POSIX_STYLE = 0,
    eURL_HFS_STYLE = 1, // the colon form of VFilePath
    eURL_WIN_STYLE = 2, // '\' separators
};

class VURL : public VObject
{
public:
    // Path-style conversion in place.
    static void Convert(VString& ioPath, EURLPathStyle inFrom, EURLPathStyle inTo, bool inRelative);
    static void HFS_to_POSIX(VString& ioPath, bool inRelative);
    static void POSIX_to_HFS(VString& ioPath, bool inRelative);
    static void WIN_to_POSIX(VString& ioPath);
    static void POSIX_to_WIN(VString& ioPath);

    VURL();
    VURL(const VURL& inOther) = default;
    VURL& operator=(const VURL& inOther) = default;
    VURL(const VString& inURL, bool inIsEncoded);
    // A file URL: inPrefix (as "file://") followed by the path made POSIX.
    VURL(const VString& inPath, EURLPathStyle inStyle, const VString& inPrefix);
    VURL(const VFolder& inBase, const VString& inRelativePath, EURLPathStyle inStyle);
    // "file://" and the path's POSIX form; empty and not conform for an invalid path.
    explicit VURL(const VFilePath& inPath);
    ~VURL() override;

    void FromURL(const VURL& inOther);
    void FromString(const VString& inURL, bool inIsEncoded);
    // A text without "://" is put after a non-empty base, with '/' between them unless the text
    // begins with one or the base ends with one.
    void FromString(const VString& inBase, const VString& inRelative, bool inIsEncoded);
    void FromFilePath(const VString& inPath, EURLPathStyle inStyle, const VString& inPrefix);
    void FromFilePath(const VFilePath& inPath);
    // The relative text (made POSIX, or in the colon form for eURL_HFS_STYLE) joined to the
    // folder's path, then FromFilePath.
    void FromRelativePath(const VFolder& inBase, const VString& inRelativePath, EURLPathStyle inStyle);
    void Clear();

    // Getters give a part decoded, or encoded with inEncoded (see above); absent parts are empty.
    void GetAbsoluteURL(VString& outURL, bool inEncoded) const;
    // The absolute URL of a file or folder path, less inBase's URL when it begins with it (the
    // GetRelativeURL of files and folders).
    static void GetURLRelativeTo(const VFilePath& inPath, const VFolder* inBase, VString& outURL,
                                 bool inEncoded);
    void GetScheme(VString& outScheme, bool inEncoded) const;
    void GetNetworkLocation(VString& outLocation, bool inEncoded) const;
    // eURL_WIN_STYLE turns '/' into '\\', eURL_HFS_STYLE converts to the colon form (full path).
    void GetPath(VString& outPath, EURLPathStyle inStyle, bool inEncoded) const;
    void GetParameters(VString& outParameters, bool inEncoded) const;
    void GetQuery(VString& outQuery, bool inEncoded) const;
    void GetFragment(VString& outFragment, bool inEncoded) const;
    // What follows the path: the parameters, query and fragment with their signs.
    void GetResourceSpecifier(VString& outSpecifier, bool inEncoded) const;
    void GetHostName(VString& outHost, bool inEncoded) const;
    void GetPortNumber(VString& outPort, bool inEncoded) const;
    int32_t GetPortNumber() const;
    void GetUserName(VString& outUser, bool inEncoded) const;
    void GetPassword(VString& outPassword, bool inEncoded) const;
    // The path's last component, without a trailing '/'.
    void GetLastPathComponent(VString& outComponent, bool inEncoded) const;
    // The path part.
    void GetRelativePath(VString& outPath, bool inEncoded) const;
    // The URL text; encoded, rebuilt from its parts, the network location with brackets escaped.
    void GetRelativeURL(VString& outURL, bool inEncoded) const;
    // The local file the URL names (see above); false, outPath cleared or invalid, otherwise.
    bool GetFilePath(VFilePath& outPath) const;
    // Exact comparison with the scheme part.
    bool IsScheme(const VString& inScheme) const;
    // The path holds no '/', or one at its end only.
    bool IsRoot() const;
    bool IsConform() const { return fIsConform; }

    // Setters change one part of a conform URL and do nothing on other URLs (see above).
    // An empty scheme is refused.
    void SetScheme(const VString& inScheme);
    void SetNetWorkLocation(const VString& inLocation, bool inEncoded);
    void SetParameters(const VString& inParameters, bool inEncoded);
    void SetQuery(const VString& inQuery, bool inEncoded);
    void SetFragment(const VString& inFragment, bool inEncoded);
    void SetRelativePath(const VString& inPath, EURLPathStyle inStyle, bool inEncoded);
    // The path cut after the '/' before its last component; false on a root or a URL that is
    // not conform.
    bool ToParent();
    // A new URL of the parent (the caller deletes it), null when ToParent fails.
    VURL* RetainParent() const;
    // Appends the name to a path that ends with '/'; false otherwise.
    bool ToSubFolder(const VString& inName);

    // inKeepColon is kept for callers: ':' is never encoded by this call.
    static void Encode(VString& ioText, bool inKeepColon, bool inDecompose, bool inWithBrackets,
                       bool inKeepBackslashU);
    static void Decode(VString& ioText);
    // user:password@host:port, "[...]" around an IPv6 host; each out-pointer may be null.
    static void ParseNetLocation(const VString& inLocation, VString* outUser, VString* outPassword,
                                 VString* outHost, VString* outPort);

private:
    enum EPart
    {
        kScheme = 0,
        kNetworkLocation,
        kPath,
        kParameters,
        kQuery,
        kFragment,
        kPartCount
    };

    // A part of the URL text: 1-based start and length; length 0 when absent.
    struct Part
    {
        uint32_t fStart = 0;
        uint32_t fLength = 0;
    };

    // Stores the text and splits it; with inPathOnly all that follows the network location is
    // path.
    void _Split(const VString& inText, bool inIsEncoded, bool inPathOnly);
    // Sets the text from decoded parts (empty ones absent) by the setters' rule.
    void _Assemble(const VString (&inParts)[kPartCount]);
    void _GetParts(VString (&outParts)[kPartCount]) const;
    void _GetPart(EPart inPart, VString& outText) const;
    void _GetEncodedPart(EPart inPart, VString& outText, bool inWithBrackets) const;
    void _GetPart(EPart inPart, VString& outText, bool inEncoded) const;
    // The URL rebuilt from its encoded parts.
    void _BuildEncoded(VString& outURL, bool inLocationWithBrackets) const;
    void _SetPart(EPart inPart, const VString& inValue);
    // One field of the network location, encoded when asked.
    void _GetLocationField(int inField, VString& outText, bool inEncoded) const;

    Part fParts[kPartCount];
    VString fURL;        // decoded
    VString fEncodedURL; // as given, when given encoded with safe characters only
    bool fIsConform = false;
};

} // namespace zorn
