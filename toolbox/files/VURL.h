// VURL: the URL value of the toolbox. Built so far: the conversions of path texts between the
// POSIX, colon (HFS) and Windows styles, which VFilePath uses for every POSIX text. The URL value
// itself (its six parts, percent coding, file URLs) is declared here and built with the rest of
// the URL work; until then its members have no definitions and must not be called.
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

    // The URL value: declared, built with the URL work.
    VURL();
    VURL(const VString& inURL, bool inIsEncoded);
    VURL(const VString& inPath, EURLPathStyle inStyle, const VString& inScheme);
    VURL(const VFolder& inBase, const VString& inRelativePath, EURLPathStyle inStyle);
    explicit VURL(const VFilePath& inPath);
    ~VURL() override;

    void FromURL(const VURL& inOther);
    void FromString(const VString& inURL, bool inIsEncoded);
    void FromString(const VString& inBase, const VString& inRelative, bool inIsEncoded);
    void FromFilePath(const VString& inPath, EURLPathStyle inStyle, const VString& inScheme);
    void FromFilePath(const VFilePath& inPath);
    void FromRelativePath(const VFolder& inBase, const VString& inRelativePath, EURLPathStyle inStyle);
    void Clear();

    void GetAbsoluteURL(VString& outURL, bool inEncoded) const;
    void GetScheme(VString& outScheme, bool inEncoded) const;
    void GetNetworkLocation(VString& outLocation, bool inEncoded) const;
    void GetPath(VString& outPath, EURLPathStyle inStyle, bool inEncoded) const;
    void GetParameters(VString& outParameters, bool inEncoded) const;
    void GetQuery(VString& outQuery, bool inEncoded) const;
    void GetFragment(VString& outFragment, bool inEncoded) const;
    void GetResourceSpecifier(VString& outSpecifier, bool inEncoded) const;
    void GetHostName(VString& outHost, bool inEncoded) const;
    void GetPortNumber(VString& outPort, bool inEncoded) const;
    int32_t GetPortNumber() const;
    void GetUserName(VString& outUser, bool inEncoded) const;
    void GetPassword(VString& outPassword, bool inEncoded) const;
    void GetLastPathComponent(VString& outComponent, bool inEncoded) const;
    void GetRelativePath(VString& outPath, bool inEncoded) const;
    void GetRelativeURL(VString& outURL, bool inEncoded) const;
    bool GetFilePath(VFilePath& outPath) const;
    bool IsScheme(const VString& inScheme) const;
    bool IsRoot() const;
    bool IsConform() const { return fIsConform; }

    void SetScheme(const VString& inScheme);
    void SetNetWorkLocation(const VString& inLocation, bool inEncoded);
    void SetParameters(const VString& inParameters, bool inEncoded);
    void SetQuery(const VString& inQuery, bool inEncoded);
    void SetFragment(const VString& inFragment, bool inEncoded);
    void SetRelativePath(const VString& inPath, EURLPathStyle inStyle, bool inEncoded);
    bool ToParent();
    VURL* RetainParent() const;
    bool ToSubFolder(const VString& inName);

    static void Encode(VString& ioText, bool inKeepColon, bool inDecompose, bool inWithBrackets,
                       bool inKeepBackslashU);
    static void Decode(VString& ioText);
    static void ParseNetLocation(const VString& inLocation, VString* outUser, VString* outPassword,
                                 VString* outHost, VString* outPort);

private:
    // A part of the URL text: 1-based start and length; length 0 when absent.
    struct Part
    {
        uint32_t fStart = 0;
        uint32_t fLength = 0;
    };
    Part fScheme;
    Part fNetworkLocation;
    Part fPath;
    Part fParameters;
    Part fQuery;
    Part fFragment;
    VString fURL;        // decoded
    VString fEncodedURL; // as given, when given encoded with safe characters only
    bool fIsConform = false;
};

} // namespace zorn
