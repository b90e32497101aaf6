#include "tests/toolbox/kernel/IntlTestProcess.h"
#include "tests/toolbox/kernel/TaskTestSupport.h"
#include "toolbox/files/VFile.h"
#include "toolbox/files/VFilePath.h"
#include "toolbox/files/VFolder.h"
#include "toolbox/files/VURL.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>

using namespace zorn;
using namespace zorn::test;

namespace
{

struct Parts
{
    std::u16string fScheme, fLocation, fPath, fParameters, fQuery, fFragment;
};

Parts PartsOf(const VURL& inURL)
{
    VString scheme, location, path, parameters, query, fragment;
    inURL.GetScheme(scheme, false);
    inURL.GetNetworkLocation(location, false);
    inURL.GetPath(path, eURL_POSIX_STYLE, false);
    inURL.GetParameters(parameters, false);
    inURL.GetQuery(query, false);
    inURL.GetFragment(fragment, false);
    return {Text(scheme), Text(location), Text(path), Text(parameters), Text(query), Text(fragment)};
}

std::u16string Absolute(const VURL& inURL, bool inEncoded)
{
    VString text;
    inURL.GetAbsoluteURL(text, inEncoded);
    return Text(text);
}

TEST(URL, SplitsIntoSixParts)
{
    struct Row
    {
        const char* fWhat;
        const char16_t* fText;
        bool fEncoded;
        bool fConform;
        Parts fParts;
    };
    const Row rows[] = {
        {"host, path, query and fragment",
         u"http://example.com/a/b?x=1#top",
         false,
         true,
         {u"http", u"example.com", u"a/b", u"", u"x=1", u"top"}},
        {"parameters before the query",
         u"ftp://h/p;type=a?q#f",
         false,
         true,
         {u"ftp", u"h", u"p", u"type=a", u"q", u"f"}},
        {"a '/' before \"://\" makes it all path",
         u"a/b://c",
         false,
         false,
         {u"", u"", u"a/b://c", u"", u"", u""}},
        {"no scheme before \"://\"", u"://x", false, false, {u"", u"", u"://x", u"", u"", u""}},
        {"a scheme without \"://\"",
         u"mailto:me@here",
         false,
         false,
         {u"", u"", u"mailto:me@here", u"", u"", u""}},
        {"a '?' after '#' belongs to the fragment",
         u"http://h/p#f?q;r",
         false,
         true,
         {u"http", u"h", u"p", u"", u"", u"f?q;r"}},
        {"a ';' after '?' belongs to the query",
         u"http://h/p?a;b",
         false,
         true,
         {u"http", u"h", u"p", u"", u"a;b", u""}},
        {"the location ends at '?'", u"http://h?q", false, true, {u"http", u"h", u"", u"", u"q", u""}},
        {"the location ends at '#'", u"http://h#f", false, true, {u"http", u"h", u"", u"", u"", u"f"}},
        {"user, password, IPv6 host and port",
         u"http://u:p@[::1]:8080/x",
         false,
         true,
         {u"http", u"u:p@[::1]:8080", u"x", u"", u"", u""}},
        {"an empty query is absent", u"http://h/p?", false, true, {u"http", u"h", u"p", u"", u"", u""}},
        {"a file URL without host",
         u"file:///tmp/a%20b",
         true,
         true,
         {u"file", u"", u"tmp/a b", u"", u"", u""}},
        {"escaped signs stay in their part",
         u"http://h/a%3Fb%23c%3B?q%20x%26#f%23",
         true,
         true,
         {u"http", u"h", u"a?b#c;", u"", u"q x&", u"f#"}},
        {"an escaped byte that is no UTF-8 is the file layer's byte unit",
         u"file:///caf%E9",
         true,
         true,
         {u"file", u"", u"caf\xDCE9", u"", u"", u""}},
        {"a relative text", u"a/b?c", false, false, {u"", u"", u"a/b", u"", u"c", u""}},
        {"an empty text", u"", false, false, {}},
    };
    for (const Row& row : rows)
    {
        const VURL url(U(row.fText), row.fEncoded);
        const Parts parts = PartsOf(url);
        EXPECT_EQ(url.IsConform(), row.fConform) << row.fWhat;
        EXPECT_EQ(parts.fScheme, row.fParts.fScheme) << row.fWhat;
        EXPECT_EQ(parts.fLocation, row.fParts.fLocation) << row.fWhat;
        EXPECT_EQ(parts.fPath, row.fParts.fPath) << row.fWhat;
        EXPECT_EQ(parts.fParameters, row.fParts.fParameters) << row.fWhat;
        EXPECT_EQ(parts.fQuery, row.fParts.fQuery) << row.fWhat;
        EXPECT_EQ(parts.fFragment, row.fParts.fFragment) << row.fWhat;
    }
}

TEST(URL, NetworkLocationFields)
{
    struct Row
    {
        const char* fWhat;
        const char16_t* fLocation;
        const char16_t* fUser;
        const char16_t* fPassword;
        const char16_t* fHost;
        const char16_t* fPort;
        int32_t fPortNumber;
    };
    const Row rows[] = {
        {"every field", u"me:secret@example.com:8080", u"me", u"secret", u"example.com", u"8080", 8080},
        {"host alone", u"example.com", u"", u"", u"example.com", u"", 0},
        {"IPv6 host in brackets", u"[fe80::1]:443", u"", u"", u"fe80::1", u"443", 443},
        {"IPv6 host without its ']'", u"[fe80::1", u"", u"", u"fe80::1", u"", 0},
        {"the last ':' opens the port", u"a:b:12", u"", u"", u"a:b", u"12", 12},
        {"65536 is still a number", u"h:65536", u"", u"", u"h", u"65536", 65536},
        {"a larger port is refused", u"h:99999999999", u"", u"", u"h", u"99999999999", -1},
        {"a space in the port is refused", u"h:80 80", u"", u"", u"h", u"80 80", -1},
        {"the first '@' ends the user part", u"a@b@c", u"a", u"", u"b@c", u"", 0},
    };
    for (const Row& row : rows)
    {
        VString user, password, host, port;
        VURL::ParseNetLocation(U(row.fLocation), &user, &password, &host, &port);
        EXPECT_EQ(Text(user), row.fUser) << row.fWhat;
        EXPECT_EQ(Text(password), row.fPassword) << row.fWhat;
        EXPECT_EQ(Text(host), row.fHost) << row.fWhat;
        EXPECT_EQ(Text(port), row.fPort) << row.fWhat;
        const VURL url(VString("http://") + U(row.fLocation) + VString("/x"), false);
        EXPECT_EQ(url.GetPortNumber(), row.fPortNumber) << row.fWhat;
        url.GetHostName(host, false);
        EXPECT_EQ(Text(host), row.fHost) << row.fWhat;
    }
}

TEST(URL, PercentEncoding)
{
    struct Row
    {
        const char* fWhat;
        const char16_t* fText;
        bool fWithBrackets;
        bool fDecompose;
        bool fKeepBackslashU;
        const char16_t* fEncoded;
    };
    const Row rows[] = {
        {"a space", u"a b", true, false, false, u"a%20b"},
        {"a non-ASCII letter as its UTF-8 bytes", u"\u00e9", true, false, false, u"%C3%A9"},
        {"decomposed first when asked", u"\u00e9", true, true, false, u"e%CC%81"},
        {"a character beyond the BMP", u"\U0001F600", true, false, false, u"%F0%9F%98%80"},
        {"a lone surrogate", u"a\xD800z", true, false, false, u"a%EF%BF%BDz"},
        {"a file name byte that is no UTF-8", u"caf\xDCE9", true, false, false, u"caf%E9"},
        {"byte units that would read back as a character", u"\xDCC3\xDCA9", true, false, false,
         u"%EF%BF%BD%EF%BF%BD"},
        {"brackets when asked", u"[x]", true, false, false, u"%5Bx%5D"},
        {"brackets kept otherwise", u"[x]", false, false, false, u"[x]"},
        {"the unsafe signs", u"<>\"#%{}|\\^`", false, false, false, u"%3C%3E%22%23%25%7B%7D%7C%5C%5E%60"},
        {"reserved signs pass", u":/?;@&=+$,!'()*~._-", true, false, false, u":/?;@&=+$,!'()*~._-"},
        {"control characters and DEL", u"\t\x7f", true, false, false, u"%09%7F"},
        {"a \\u escape kept when asked", u"\\u00e9\\x", true, false, true, u"\\u00e9%5Cx"},
    };
    for (const Row& row : rows)
    {
        VString text = U(row.fText);
        VURL::Encode(text, true, row.fDecompose, row.fWithBrackets, row.fKeepBackslashU);
        EXPECT_EQ(Text(text), row.fEncoded) << row.fWhat;
    }
}

TEST(URL, PercentDecoding)
{
    struct Row
    {
        const char* fWhat;
        const char16_t* fText;
        const char16_t* fDecoded;
    };
    const Row rows[] = {
        {"a space", u"a%20b", u"a b"},
        {"lower-case digits", u"%c3%a9", u"\u00e9"},
        {"a character beyond the BMP", u"%F0%9F%98%80", u"\U0001F600"},
        {"the result is composed", u"e%CC%81", u"\u00e9"},
        {"'+' is no space", u"a+b", u"a+b"},
        {"a '%' at the end", u"100%", u"100%"},
        {"a '%' with one digit left", u"%4", u"%4"},
        {"a '%' without digits", u"%zz%", u"%zz%"},
        {"a byte that is no UTF-8 stays escaped", u"a%E9b", u"a%E9b"},
        {"a cut sequence stays escaped", u"%C3", u"%C3"},
        {"only the bad bytes of a run stay escaped", u"%C3%A9%FF%41", u"\u00e9%FFA"},
        {"an escaped '%' is not decoded twice", u"%2541", u"%41"},
    };
    for (const Row& row : rows)
    {
        VString text = U(row.fText);
        VURL::Decode(text);
        EXPECT_EQ(Text(text), row.fDecoded) << row.fWhat;
    }
}

TEST(URL, EncodedForms)
{
    struct Row
    {
        const char* fWhat;
        const char16_t* fText;
        bool fEncoded;
        const char16_t* fAbsolute;
    };
    const Row rows[] = {
        {"a decoded text is encoded part by part", u"http://h/a b?x y#z z", false,
         u"http://h/a%20b?x%20y#z%20z"},
        {"a safe encoded text is kept as given", u"http://h/a%20b%3f", true, u"http://h/a%20b%3f"},
        {"brackets kept in the location only", u"http://[::1]:80/p[1]", false, u"http://[::1]:80/p%5B1%5D"},
        {"escaped signs stay escaped", u"http://h/\u00e9%3Fb?q%23#f", true, u"http://h/%C3%A9%3Fb?q%23#f"},
        {"a '/' in the location stays escaped", u"http://a%2Fb\u00e9/c", true, u"http://a%2Fb%C3%A9/c"},
        {"a relative text gets no scheme", u"a b/c", false, u"a%20b/c"},
        {"a relative text cannot become conform", u"x%3A//y z", true, u"x%3A//y%20z"},
        {"the blank URL", u"about:blank", false, u"about:blank"},
    };
    for (const Row& row : rows)
    {
        const VURL url(U(row.fText), row.fEncoded);
        const std::u16string encoded = Absolute(url, true);
        EXPECT_EQ(encoded, row.fAbsolute) << row.fWhat;
        // Read again, the encoded form gives the same parts.
        const Parts before = PartsOf(url);
        const Parts after = PartsOf(VURL(VString(reinterpret_cast<const UniChar*>(encoded.c_str())), true));
        EXPECT_EQ(after.fScheme, before.fScheme) << row.fWhat;
        EXPECT_EQ(after.fLocation, before.fLocation) << row.fWhat;
        EXPECT_EQ(after.fPath, before.fPath) << row.fWhat;
        EXPECT_EQ(after.fQuery, before.fQuery) << row.fWhat;
        EXPECT_EQ(after.fFragment, before.fFragment) << row.fWhat;
    }
}

TEST(URL, FileURLsFromPosixPaths)
{
    StIntlTestProcess process(1033);
    struct Row
    {
        const char* fWhat;
        const char16_t* fPosix;
        const char16_t* fEncoded;
    };
    const Row rows[] = {
        {"a space", u"/tmp/a b.txt", u"file:///tmp/a%20b.txt"},
        {"a '%'", u"/tmp/100%.txt", u"file:///tmp/100%25.txt"},
        {"'#', '?' and ';' are name characters", u"/tmp/a#b?c;d", u"file:///tmp/a%23b%3Fc%3Bd"},
        {"a composed letter", u"/tmp/\u00e9t\u00e9", u"file:///tmp/%C3%A9t%C3%A9"},
        {"a decomposed letter stays decomposed", u"/tmp/e\u0301", u"file:///tmp/e%CC%81"},
        {"a name byte that is no UTF-8", u"/tmp/caf\xDCE9", u"file:///tmp/caf%E9"},
        {"a folder", u"/tmp/dir/", u"file:///tmp/dir/"},
        {"the root", u"/", u"file:///"},
    };
    for (const Row& row : rows)
    {
        const VFilePath path(U(row.fPosix), FPS_POSIX);
        ASSERT_TRUE(path.IsValid()) << row.fWhat;
        const VURL url(path);
        EXPECT_TRUE(url.IsScheme(VString("file"))) << row.fWhat;
        EXPECT_EQ(Absolute(url, false), u"file://" + std::u16string(row.fPosix)) << row.fWhat;
        EXPECT_EQ(Absolute(url, true), row.fEncoded) << row.fWhat;

        VFilePath back;
        EXPECT_TRUE(VURL(U(row.fEncoded), true).GetFilePath(back)) << row.fWhat;
        EXPECT_EQ(Text(back.GetPath(FPS_NATIVE)), Text(path.GetPath(FPS_NATIVE))) << row.fWhat;
    }
    VURL invalid(VFilePath{});
    EXPECT_FALSE(invalid.IsConform());
    EXPECT_EQ(Absolute(invalid, false), u"");
}

TEST(URL, FilePathsOnlyForLocalFileURLs)
{
    StIntlTestProcess process(1033);
    struct Row
    {
        const char* fWhat;
        const char16_t* fURL;
        const char16_t* fPosix; // null when the URL names no local file
    };
    const Row rows[] = {
        {"a file URL", u"file:///a/b", u"/a/b"},
        {"the scheme in any case", u"FILE:///a", u"/a"},
        {"the local host", u"file://localhost/a/", u"/a/"},
        {"no scheme", u"/a/b%20c", u"/a/b c"},
        {"the query is not part of the path", u"file:///a?x#y", u"/a"},
        {"another scheme", u"http://h/a", nullptr},
        {"another host", u"file://server/etc/passwd", nullptr},
        {"an escaped NUL", u"file:///a%00b", nullptr},
        {"climbing above the root", u"file:///../x", nullptr},
    };
    for (const Row& row : rows)
    {
        VFilePath path;
        const bool found = VURL(U(row.fURL), true).GetFilePath(path);
        EXPECT_EQ(found, row.fPosix != nullptr) << row.fWhat;
        EXPECT_EQ(path.IsValid(), found) << row.fWhat;
        if (row.fPosix != nullptr)
        {
            VString posix;
            path.GetPosixPath(posix);
            EXPECT_EQ(Text(posix), row.fPosix) << row.fWhat;
        }
    }
}

TEST(URL, FileURLsFromPathTexts)
{
    struct Row
    {
        const char* fWhat;
        const char16_t* fPath;
        EURLPathStyle fStyle;
        const char16_t* fPrefix;
        const char16_t* fURL;
        const char16_t* fLocation;
    };
    const Row rows[] = {
        {"POSIX", u"/a/b c", eURL_POSIX_STYLE, u"file://", u"file:///a/b c", u""},
        {"a relative POSIX text gets its '/'", u"a/b", eURL_POSIX_STYLE, u"file://", u"file:///a/b", u""},
        {"Windows separators", u"\\a\\b", eURL_WIN_STYLE, u"file://", u"file:///a/b", u""},
        {"the colon form, relative rules", u":a:b", eURL_HFS_STYLE, u"file://", u"file:///a/b", u""},
        {"\"//\" names a host", u"//server/share", eURL_POSIX_STYLE, u"file://", u"file://server/share",
         u"server"},
        {"a bare scheme name", u"/x", eURL_POSIX_STYLE, u"file", u"file:///x", u""},
    };
    for (const Row& row : rows)
    {
        const VURL url(U(row.fPath), row.fStyle, U(row.fPrefix));
        EXPECT_EQ(Absolute(url, false), row.fURL) << row.fWhat;
        EXPECT_EQ(PartsOf(url).fLocation, row.fLocation) << row.fWhat;
    }
}

TEST(URL, RelativeTextsJoinTheirBase)
{
    struct Row
    {
        const char* fWhat;
        const char16_t* fBase;
        const char16_t* fRelative;
        const char16_t* fURL;
    };
    const Row rows[] = {
        {"a '/' between them", u"http://h/a", u"b", u"http://h/a/b"},
        {"no second '/' after the base's", u"http://h/a/", u"b", u"http://h/a/b"},
        {"the text's own '/'", u"http://h/a", u"/b", u"http://h/a/b"},
        {"a full URL ignores the base", u"http://h/a", u"ftp://g/c", u"ftp://g/c"},
        {"an empty base", u"", u"b", u"b"},
    };
    for (const Row& row : rows)
    {
        VURL url;
        url.FromString(U(row.fBase), U(row.fRelative), false);
        EXPECT_EQ(Absolute(url, false), row.fURL) << row.fWhat;
    }
}

TEST(URL, PathOperations)
{
    struct Row
    {
        const char* fWhat;
        const char16_t* fURL;
        bool fRoot;
        const char16_t* fParent; // null when there is none
        const char16_t* fLast;
    };
    const Row rows[] = {
        {"a file", u"http://h/a/b/c", false, u"http://h/a/b/", u"c"},
        {"a folder", u"http://h/a/b/", false, u"http://h/a/", u"b"},
        {"the parent keeps query and fragment", u"http://h/a/b?q#f", false, u"http://h/a/?q#f", u"b"},
        {"one folder is a root", u"http://h/a/", true, nullptr, u"a"},
        {"no path", u"http://h", true, nullptr, u""},
        {"a file URL", u"file:///tmp/x", false, u"file:///tmp/", u"x"},
        {"not conform", u"a/b/c", false, nullptr, u"c"},
    };
    for (const Row& row : rows)
    {
        VURL url(U(row.fURL), false);
        EXPECT_EQ(url.IsRoot(), row.fRoot) << row.fWhat;
        VString last;
        url.GetLastPathComponent(last, false);
        EXPECT_EQ(Text(last), row.fLast) << row.fWhat;
        std::unique_ptr<VURL> parent(url.RetainParent());
        EXPECT_EQ(parent != nullptr, row.fParent != nullptr) << row.fWhat;
        EXPECT_EQ(url.ToParent(), row.fParent != nullptr) << row.fWhat;
        if (row.fParent != nullptr)
        {
            EXPECT_EQ(Absolute(url, false), row.fParent) << row.fWhat;
            EXPECT_EQ(Absolute(*parent, false), row.fParent) << row.fWhat;
        }
    }

    VURL folder(VString("http://h/a/"), false);
    EXPECT_TRUE(folder.ToSubFolder(VString("b c")));
    EXPECT_EQ(Absolute(folder, true), u"http://h/a/b%20c");
    EXPECT_FALSE(folder.ToSubFolder(VString("d"))) << "the path no longer ends with '/'";
}

TEST(URL, SettersRebuildTheText)
{
    struct Row
    {
        const char* fWhat;
        const char16_t* fURL;
        bool fEncoded;
        void (*fChange)(VURL&);
        const char16_t* fResult;
        const char16_t* fEncodedResult;
    };
    const Row rows[] = {
        {"the scheme", u"http://h/p", false, [](VURL& u) { u.SetScheme(VString("https")); }, u"https://h/p",
         u"https://h/p"},
        {"an empty scheme is refused", u"http://h/p", false, [](VURL& u) { u.SetScheme(VString()); },
         u"http://h/p", u"http://h/p"},
        {"a host where there was none", u"file:///a/b", false,
         [](VURL& u) { u.SetNetWorkLocation(VString("host"), false); }, u"file://host/a/b",
         u"file://host/a/b"},
        {"the host removed", u"http://h/a", false, [](VURL& u) { u.SetNetWorkLocation(VString(), false); },
         u"http:///a", u"http:///a"},
        {"a query before the fragment", u"http://h/p#f", false,
         [](VURL& u) { u.SetQuery(VString("a%20b"), true); }, u"http://h/p?a b#f", u"http://h/p?a%20b#f"},
        {"parameters", u"http://h/p?q", false, [](VURL& u) { u.SetParameters(VString("x"), false); },
         u"http://h/p;x?q", u"http://h/p;x?q"},
        {"the fragment removed", u"http://h/p#f", false, [](VURL& u) { u.SetFragment(VString(), false); },
         u"http://h/p", u"http://h/p"},
        {"an escaped '?' in the path survives", u"http://h/a%3Fb", true,
         [](VURL& u) { u.SetFragment(VString("f"), false); }, u"http://h/a?b#f", u"http://h/a%3Fb#f"},
        {"a path in the colon form", u"http://h/p", false,
         [](VURL& u) { u.SetRelativePath(VString(":x:y"), eURL_HFS_STYLE, false); }, u"http://h/x/y",
         u"http://h/x/y"},
        {"a Windows path", u"http://h/p", false,
         [](VURL& u) { u.SetRelativePath(VString("x\\y"), eURL_WIN_STYLE, false); }, u"http://h/x/y",
         u"http://h/x/y"},
        {"nothing changes in a URL that is not conform", u"a/b", false,
         [](VURL& u) { u.SetFragment(VString("f"), false); }, u"a/b", u"a/b"},
    };
    for (const Row& row : rows)
    {
        VURL url(U(row.fURL), row.fEncoded);
        row.fChange(url);
        EXPECT_EQ(Absolute(url, false), row.fResult) << row.fWhat;
        EXPECT_EQ(Absolute(url, true), row.fEncodedResult) << row.fWhat;
    }

    const VURL url(VString("http://u@[::1]:8/a b;p?q#f"), false);
    VString text;
    url.GetResourceSpecifier(text, false);
    EXPECT_EQ(Text(text), u";p?q#f");
    url.GetRelativeURL(text, true);
    EXPECT_EQ(Text(text), u"http://u@%5B::1%5D:8/a%20b;p?q#f") << "brackets escaped in the location too";
}

TEST(URL, PathStyles)
{
    StIntlTestProcess process(1033);
    const VURL url(VString("file:///tmp/a%20b/c"), true);
    VString path;
    url.GetPath(path, eURL_WIN_STYLE, false);
    EXPECT_EQ(Text(path), u"tmp\\a b\\c");
    url.GetPath(path, eURL_POSIX_STYLE, true);
    EXPECT_EQ(Text(path), u"tmp/a%20b/c");
    url.GetPath(path, eURL_HFS_STYLE, false);
    EXPECT_EQ(Text(path), u"tmp:a b:c") << "a path without its leading '/' takes the relative rules";
}

// Files and folders in a fresh temporary folder.
class URLFiles : public TaskManagerTest
{
protected:
    void SetUp() override
    {
        TaskManagerTest::SetUp();
        char folder[] = "/tmp/zorn-url-XXXXXX";
        ASSERT_NE(::mkdtemp(folder), nullptr);
        fFolder = folder;
    }
    void TearDown() override
    {
        ASSERT_EQ(std::system(("rm -rf " + fFolder).c_str()), 0);
        TaskManagerTest::TearDown();
    }
    std::string fFolder;
};

TEST_F(URLFiles, FilesAndFoldersRoundTripThroughURLs)
{
    StIntlTestProcess process(1033);
    const std::string name = "a b#%\xC3\xA9?.txt";
    std::ofstream(fFolder + "/" + name) << "x";
    VString posix;
    posix.FromBlock((fFolder + "/" + name).data(), fFolder.size() + 1 + name.size(), CharSet::VTC_UTF_8);
    VRefPtr<VFile> file(new VFile(posix, FPS_POSIX), true);
    VRefPtr<VFolder> folder(new VFolder(VString((fFolder + "/").c_str()), FPS_POSIX), true);

    VString url;
    ASSERT_EQ(file->GetURL(url, true), VE_OK);
    EXPECT_EQ(Text(url), u"file://" + Text(VString(fFolder.c_str())) + u"/a%20b%23%25%C3%A9%3F.txt");
    VRefPtr<VFile> again(new VFile(VURL(url, true)), true);
    EXPECT_EQ(Text(again->GetPath().GetPath(FPS_NATIVE)), Text(file->GetPath().GetPath(FPS_NATIVE)));
    EXPECT_TRUE(again->Exists());

    VString relative;
    ASSERT_EQ(file->GetRelativeURL(folder.Get(), relative, true), VE_OK);
    EXPECT_EQ(Text(relative), u"a%20b%23%25%C3%A9%3F.txt");
    ASSERT_EQ(file->GetRelativeURL(folder.Get(), relative, false), VE_OK);
    EXPECT_EQ(Text(relative), u"a b#%\u00e9?.txt");

    // The folder's URL is the URL of its path.
    for (const bool encoded : {false, true})
    {
        VString fromFolder, fromURL;
        folder->GetURL(fromFolder, encoded);
        VURL(folder->GetPathRef()).GetAbsoluteURL(fromURL, encoded);
        EXPECT_EQ(Text(fromFolder), Text(fromURL));
        EXPECT_EQ(Text(fromFolder).back(), u'/');
    }

    VRefPtr<VFile> remote(new VFile(VURL(VString("http://example.com/a"), false)), true);
    EXPECT_FALSE(remote->GetPath().IsValid());
    EXPECT_FALSE(remote->Exists());
}

} // namespace
