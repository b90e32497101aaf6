#include "tests/toolbox/kernel/IntlTestProcess.h"
#include "toolbox/files/VFilePath.h"
#include "toolbox/files/VURL.h"
#include "toolbox/files/linux/XLinuxFile.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>

using namespace zorn;
using namespace zorn::test;

namespace
{

VString Convert(const char16_t* inText, EURLPathStyle inFrom, EURLPathStyle inTo, bool inRelative)
{
    VString text = U(inText);
    VURL::Convert(text, inFrom, inTo, inRelative);
    return text;
}

TEST(PathConversion, PosixAndColonForms)
{
    struct Row
    {
        const char* fWhat;
        bool fRelative;
        const char16_t* fPosix;
        const char16_t* fColon; // what the POSIX text gives
        const char16_t* fBack;  // what the colon text gives
    };
    const Row rows[] = {
        {"root", false, u"/", u"Root:", u"/"},
        {"a file", false, u"/a/b", u"Root:a:b", u"/a/b"},
        {"a folder", false, u"/a/b/", u"Root:a:b:", u"/a/b/"},
        {"':' inside a POSIX name", false, u"/a:b/c", u"Root:a/b:c", u"/a:b/c"},
        {"'.' components vanish", false, u"/a/./b", u"Root:a:b", u"/a/b"},
        {"'//' counts once", false, u"/a//b", u"Root:a:b", u"/a/b"},
        {"a trailing '..' goes up one level", false, u"/a/b/..", u"Root:a:b::", u"/a/b/../"},
        {"relative names", true, u"a/b", u"a:b", u"a/b"},
        {"relative '../'", true, u"../a", u":a", u"a"},
        {"relative '..' runs", true, u"../../a/", u"::a:", u"../a/"},
        {"relative trailing '..'", true, u"a/..", u"a::", u"a/../"},
        {"relative './' and '//'", true, u"./a//./b", u"a:b", u"a/b"},
        {"'/' inside a colon name", true, u"x:y/z", u"x/y:z", u"x:y/z"},
        {"relative '.' alone", true, u".", u"", u""},
    };
    for (const Row& row : rows)
    {
        EXPECT_EQ(Text(Convert(row.fPosix, eURL_POSIX_STYLE, eURL_HFS_STYLE, row.fRelative)),
                  std::u16string(row.fColon))
            << row.fWhat;
        EXPECT_EQ(Text(Convert(row.fColon, eURL_HFS_STYLE, eURL_POSIX_STYLE, row.fRelative)),
                  std::u16string(row.fBack))
            << row.fWhat;
    }

    // Colon texts met only in that direction.
    struct OneWay
    {
        const char* fWhat;
        bool fRelative;
        const char16_t* fColon;
        const char16_t* fPosix;
    };
    const OneWay oneWay[] = {
        {"a leading colon is the current folder", true, u":a:b", u"a/b"},
        {"leading colons stay relative", true, u"::a", u"../a"},
        {"a lone colon", true, u":", u""},
        {"another volume is a folder at the root", false, u"Data:a", u"/Data/a"},
        {"another volume's root", false, u"Data:", u"/Data/"},
        {"a volume name holding '/'", false, u"a/b:c", u"/a:b/c"},
        {"the root volume without ':'", false, u"Root", u"/"},
    };
    for (const OneWay& row : oneWay)
    {
        EXPECT_EQ(Text(Convert(row.fColon, eURL_HFS_STYLE, eURL_POSIX_STYLE, row.fRelative)),
                  std::u16string(row.fPosix))
            << row.fWhat;
    }
    // A POSIX text that is no full path falls back to the relative rules.
    EXPECT_EQ(Text(Convert(u"a/b", eURL_POSIX_STYLE, eURL_HFS_STYLE, false)), u"a:b");
    // From the system's bytes: decoded as names are, then the same rules.
    VString colon;
    EXPECT_TRUE(XLinuxFile::PosixFullPathToHFS("/a\xE9:b/", false, colon));
    EXPECT_EQ(Text(colon), u"Root:a\xDCE9/b:");
    EXPECT_FALSE(XLinuxFile::PosixFullPathToHFS("a/b", false, colon));
    EXPECT_FALSE(XLinuxFile::PosixFullPathToHFS(static_cast<const char*>(nullptr), false, colon));
    VFilePath cleared{U(u"Root:a")};
    XLinuxFile::GetFilePathFromPosixPath(nullptr, false, cleared);
    EXPECT_FALSE(cleared.IsValid());
}

TEST(PathConversion, WindowsAndUnchangedPairs)
{
    EXPECT_EQ(Text(Convert(u"/a/b/", eURL_POSIX_STYLE, eURL_WIN_STYLE, false)), u"\\a\\b\\");
    EXPECT_EQ(Text(Convert(u"\\a\\b\\", eURL_WIN_STYLE, eURL_POSIX_STYLE, false)), u"/a/b/");
    EXPECT_EQ(Text(Convert(u"C:\\a/b", eURL_WIN_STYLE, eURL_HFS_STYLE, false)), u"C:\\a/b");
    EXPECT_EQ(Text(Convert(u"a:b", eURL_HFS_STYLE, eURL_HFS_STYLE, true)), u"a:b");
}

TEST(PathConversion, PathsGiveTheirPosixForm)
{
    struct Row
    {
        const char16_t* fPath;
        std::u16string fPosix;
    };
    const Row rows[] = {
        {u"Root:", u"/"},           {u"Root:usr:lib:", u"/usr/lib/"},
        {u"Root:a/b:c", u"/a:b/c"}, {u"Data:a", u"/Data/a"},
        {u"Data::", u""}, // invalid
    };
    for (const Row& row : rows)
    {
        VFilePath path{U(row.fPath)};
        VString posix;
        path.GetPosixPath(posix);
        EXPECT_EQ(Text(posix), row.fPosix) << Utf8(U(row.fPath));
        EXPECT_EQ(Text(path.GetPath(FPS_POSIX)), row.fPosix) << Utf8(U(row.fPath));
    }
}

// Names at the system boundary: UTF-8 passes as it is; each byte of an ill-formed piece becomes
// U+DC00 + byte, and goes back to that byte.
TEST(PathConversion, NameBytesRoundTrip)
{
    struct Row
    {
        const char* fWhat;
        std::string fBytes;
        std::u16string fText;
    };
    const Row rows[] = {
        {"ASCII", "/a/b.txt", u"/a/b.txt"},
        {"composed e acute", "caf\xC3\xA9", u"caf\u00e9"},
        {"decomposed e acute stays decomposed", "cafe\xCC\x81", u"cafe\u0301"},
        {"four-byte character", "\xF0\x9F\x98\x80", u"\U0001F600"},
        {"Latin-1 byte", "caf\xE9", u"caf\xDCE9"},
        {"overlong '/' is two bytes, never '/'", "a\xC0\xAF", u"a\xDCC0\xDCAF"},
        {"encoded surrogate", "\xED\xA0\x80", u"\xDCED\xDCA0\xDC80"},
        {"above U+10FFFF", "\xF4\x90\x80\x80", u"\xDCF4\xDC90\xDC80\xDC80"},
        {"truncated at the end", "x\xE2\x82", u"x\xDCE2\xDC82"},
        {"stray continuation then valid", "\x80\xC3\xA9", u"\xDC80\u00e9"},
    };
    for (const Row& row : rows)
    {
        VString text;
        XLinuxFile::DecodeNameBytes(row.fBytes.data(), row.fBytes.size(), text);
        EXPECT_EQ(Text(text), row.fText) << row.fWhat;
        EXPECT_EQ(XLinuxFile::AllocatePosixPathFromString(text), row.fBytes) << row.fWhat;
    }

    // Texts that no byte string gives are refused.
    const std::u16string refused[] = {
        std::u16string(u"a\0b", 3), // NUL
        u"a\xD800",                 // lone lead surrogate
        u"a\xDC20",                 // lone trail surrogate outside the escapes
        u"\xDCC3\xDCA9",            // escapes of bytes that are the UTF-8 of U+00E9
    };
    for (const std::u16string& text : refused)
    {
        std::string bytes = "x";
        VString string(reinterpret_cast<const UniChar*>(text.data()), static_cast<int32_t>(text.size()));
        EXPECT_FALSE(XLinuxFile::EncodeNameBytes(string, bytes)) << Utf8(string);
        EXPECT_EQ(bytes, "");
    }
}

TEST(PathConversion, NameBeginsWithDot)
{
    struct Row
    {
        const char* fPath;
        bool fDot;
    };
    const Row rows[] = {
        {"/a/.hidden", true}, {"/a/.hidden/", true}, {".x", true},  {"/a/b", false},
        {".", false},         {"/", false},          {"", false},   {"/a./b", false},
        {"/.a/b", false},     {"a/.", true},         {"//", false},
    };
    for (const Row& row : rows)
    {
        EXPECT_EQ(XLinuxFile::PosixNameBeginsWithDot(row.fPath), row.fDot) << row.fPath;
    }
    EXPECT_FALSE(XLinuxFile::PosixNameBeginsWithDot(nullptr));
}

// A scratch folder, removed with its content.
class ScratchFolder
{
public:
    ScratchFolder()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "zorn-path-XXXXXX").string();
        const char* made = ::mkdtemp(pattern.data());
        EXPECT_NE(made, nullptr);
        fPath = pattern;
    }
    ~ScratchFolder() { std::filesystem::remove_all(fPath); }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    const std::string& Path() const { return fPath; }

private:
    std::string fPath;
};

void WriteFile(const std::string& inPath, const std::string& inContent)
{
    int fd = ::open(inPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    ASSERT_GE(fd, 0) << inPath;
    ASSERT_EQ(::write(fd, inContent.data(), inContent.size()), static_cast<ssize_t>(inContent.size()));
    ::close(fd);
}

std::string ReadFile(const std::string& inPath)
{
    int fd = ::open(inPath.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
    {
        return "<missing>";
    }
    char buffer[64];
    ssize_t count = ::read(fd, buffer, sizeof(buffer));
    ::close(fd);
    return std::string(buffer, count > 0 ? static_cast<size_t>(count) : 0);
}

// Two names that are the same text in two Unicode forms are two files, each found by its path;
// a name that is no UTF-8 is listed, named and found again.
TEST(PathConversion, NamesReachTheirFiles)
{
    ScratchFolder scratch;
    VFilePath folder;
    XLinuxFile::GetFilePathFromPosixPath(scratch.Path().c_str(), true, folder);
    ASSERT_TRUE(folder.IsFolder());

    const std::u16string names[] = {u"caf\u00e9", u"cafe\u0301"};
    for (const std::u16string& name : names)
    {
        VFilePath file(folder);
        ASSERT_TRUE(file.ToSubFile(
            VString(reinterpret_cast<const UniChar*>(name.data()), static_cast<int32_t>(name.size()))));
        WriteFile(XLinuxFile::AllocatePosixPathFromFilePath(file), Utf8(U(name.c_str())));
    }
    const std::string latin1 = scratch.Path() + "/caf\xE9";
    WriteFile(latin1, "latin-1");

    // Every listed name, read back through a path, reaches the file it was listed from.
    std::set<std::string> contents;
    DIR* dir = ::opendir(scratch.Path().c_str());
    ASSERT_NE(dir, nullptr);
    while (const dirent* entry = ::readdir(dir))
    {
        std::string listed = scratch.Path() + "/" + entry->d_name;
        if (entry->d_name[0] == '.')
        {
            continue;
        }
        VFilePath file;
        XLinuxFile::GetFilePathFromPosixPath(listed.c_str(), false, file);
        ASSERT_TRUE(file.IsFile()) << listed;
        EXPECT_EQ(XLinuxFile::AllocatePosixPathFromFilePath(file), listed);
        contents.insert(ReadFile(XLinuxFile::AllocatePosixPathFromFilePath(file)));
    }
    ::closedir(dir);
    EXPECT_EQ(contents, (std::set<std::string>{"caf\xC3\xA9", "cafe\xCC\x81", "latin-1"}));
}

TEST(PathConversion, RealPath)
{
    ScratchFolder scratch;
    std::string real;
    ASSERT_TRUE(XLinuxFile::RealPath(scratch.Path(), true, real));
    const std::string base = real; // the temporary folder may itself lie behind a link
    ASSERT_EQ(::mkdir((base + "/dir").c_str(), 0755), 0);
    ASSERT_EQ(::symlink((base + "/dir").c_str(), (base + "/link").c_str()), 0);

    struct Row
    {
        const char* fWhat;
        std::string fPath;
        bool fMustExist;
        bool fResult;
        std::string fReal;
    };
    const Row rows[] = {
        {"a link is followed", base + "/link", true, true, base + "/dir"},
        {"a trailing '/' stays", base + "/link/", true, true, base + "/dir/"},
        {"'..' through a link", base + "/link/../dir/./", true, true, base + "/dir/"},
        {"missing and required", base + "/link/new", true, false, ""},
        {"missing: the parent resolves", base + "/link/new", false, true, base + "/dir/new"},
        {"missing levels", base + "/link/a/b/", false, true, base + "/dir/a/b/"},
        {"missing with '.' and '..'", base + "/link/a/./b/../c", false, true, base + "/dir/a/c"},
        {"empty", "", true, true, ""},
        {"a relative name without '/'", "no-such-name-here", false, false, ""},
    };
    for (const Row& row : rows)
    {
        std::string out = "x";
        EXPECT_EQ(XLinuxFile::RealPath(row.fPath, row.fMustExist, out), row.fResult) << row.fWhat;
        EXPECT_EQ(out, row.fReal) << row.fWhat;
    }
}

} // namespace
