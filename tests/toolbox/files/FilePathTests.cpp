#include "tests/toolbox/kernel/IntlTestProcess.h"
#include "tests/toolbox/kernel/TaskTestSupport.h"
#include "toolbox/files/VFilePath.h"
#include "toolbox/kernel/errors/VErrorContext.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

using namespace zorn;
using namespace zorn::test;

namespace
{

VFilePath Native(const char16_t* inText)
{
    return VFilePath(U(inText));
}

// The text of a valid path, or "invalid".
std::u16string Outcome(const VFilePath& inPath)
{
    VString text;
    inPath.GetPath(text);
    return inPath.IsValid() ? Text(text) : u"invalid";
}

TEST(FilePath, FullPaths)
{
    struct Row
    {
        const char* fWhat;
        std::u16string fText;
        FilePathStyle fStyle;
        std::u16string fExpected; // "invalid" when not valid
    };
    const Row rows[] = {
        {"empty", u"", FPS_NATIVE, u"invalid"},
        {"leading colon", u":x", FPS_NATIVE, u"invalid"},
        {"POSIX without leading slash", u"x/y", FPS_POSIX, u"invalid"},
        {"empty POSIX", u"", FPS_POSIX, u"invalid"},
        {"NUL in a native name", std::u16string(u"Data:a\0b", 8), FPS_NATIVE, u"invalid"},
        {"NUL in a POSIX name", std::u16string(u"/a\0b", 4), FPS_POSIX, u"invalid"},
        {"volume without colon is a file", u"Data", FPS_NATIVE, u"Data"},
        {"volume root", u"Data:", FPS_NATIVE, u"Data:"},
        {"climbing above the volume", u"Data::", FPS_NATIVE, u"invalid"},
        {"up from the first level", u"Data:a::", FPS_NATIVE, u"Data:"},
        {"up in the middle", u"Data:a:b::c", FPS_NATIVE, u"Data:a:c"},
        {"a run climbs two levels", u"Data:a:b:c:::x", FPS_NATIVE, u"Data:a:x"},
        {"a run climbs to the volume", u"Data:a:b:::", FPS_NATIVE, u"Data:"},
        {"a run climbs past the volume", u"Data:a:b::::", FPS_NATIVE, u"invalid"},
        {"native '.' component goes", u"Data:.:a:.", FPS_NATIVE, u"Data:a:"},
        {"native '..' component goes up", u"Data:a:..:b", FPS_NATIVE, u"Data:b"},
        {"native '..' above the volume", u"Data:..", FPS_NATIVE, u"invalid"},
        {"'..' as volume name", u"..:etc", FPS_NATIVE, u"invalid"},
        {"'...' is a name", u"Data:...:", FPS_NATIVE, u"Data:...:"},
        {"POSIX root", u"/", FPS_POSIX, u"Root:"},
        {"POSIX file", u"/a/b", FPS_POSIX, u"Root:a:b"},
        {"POSIX folder", u"/a/b/", FPS_POSIX, u"Root:a:b:"},
        {"POSIX '.' and '//'", u"//a/.//b", FPS_POSIX, u"Root:a:b"},
        {"POSIX trailing '.' is a folder", u"/a/b/.", FPS_POSIX, u"Root:a:b:"},
        {"POSIX trailing '..'", u"/a/b/..", FPS_POSIX, u"Root:a:"},
        {"POSIX '..' in the middle", u"/a/../b", FPS_POSIX, u"Root:b"},
        {"POSIX '..' at the root", u"/..", FPS_POSIX, u"invalid"},
        {"POSIX climbing past the root", u"/a/../../etc", FPS_POSIX, u"invalid"},
        {"POSIX colon inside a name", u"/a:b/c", FPS_POSIX, u"Root:a/b:c"},
    };
    for (const Row& row : rows)
    {
        VFilePath path(VString(reinterpret_cast<const UniChar*>(row.fText.data()),
                               static_cast<int32_t>(row.fText.size())),
                       row.fStyle);
        EXPECT_EQ(Outcome(path), row.fExpected) << row.fWhat;
    }
}

TEST(FilePath, RelativePaths)
{
    struct Row
    {
        const char* fWhat;
        const char16_t* fBase;
        const char16_t* fRelative;
        FilePathStyle fStyle;
        bool fFullPathForbidden;
        std::u16string fExpected;
    };
    const Row rows[] = {
        {"native names", u"Data:x:", u"a:b:", FPS_NATIVE, false, u"Data:x:a:b:"},
        {"native leading colon goes up", u"Data:x:", u":a", FPS_NATIVE, false, u"Data:a"},
        {"native '..' components", u"Root:srv:www:", u"..:..:etc", FPS_NATIVE, false, u"Root:etc"},
        {"native climbing past the volume", u"Root:srv:", u"..:..:etc", FPS_NATIVE, false, u"invalid"},
        {"empty text is the base", u"Data:x:", u"", FPS_POSIX, false, u"Data:x:"},
        {"POSIX names", u"Data:x:", u"a/b", FPS_POSIX, false, u"Data:x:a:b"},
        {"POSIX '../'", u"Data:x:", u"../a", FPS_POSIX, false, u"Data:a"},
        {"POSIX trailing '..' reads as '../'", u"Data:x:", u"a/..", FPS_POSIX, false, u"Data:x:"},
        {"POSIX '.' alone", u"Data:x:", u".", FPS_POSIX, false, u"Data:x:"},
        {"POSIX '..' alone", u"Data:x:", u"..", FPS_POSIX, false, u"Data:"},
        {"POSIX climbing past the volume", u"Data:x:", u"../..", FPS_POSIX, false, u"invalid"},
        {"POSIX '..' down and back", u"Data:x:", u"a/../../x/b", FPS_POSIX, false, u"Data:x:b"},
        {"POSIX colon in a name", u"Data:x:", u"a:b", FPS_POSIX, false, u"Data:x:a/b"},
        {"POSIX full path allowed", u"Data:x:", u"/etc/passwd", FPS_POSIX, false, u"Root:etc:passwd"},
        {"POSIX full path forbidden", u"Data:x:", u"/etc/passwd", FPS_POSIX, true, u"invalid"},
        {"base is a file", u"Data:x", u"a", FPS_POSIX, false, u"invalid"},
        {"base is invalid", u"Data::", u"a", FPS_NATIVE, false, u"invalid"},
    };
    for (const Row& row : rows)
    {
        VFilePath path(Native(row.fBase), U(row.fRelative), row.fStyle, row.fFullPathForbidden);
        EXPECT_EQ(Outcome(path), row.fExpected) << row.fWhat;
    }
    // A NUL in the relative text, and a path used as its own base.
    VFilePath nul(Native(u"Data:x:"), VString(reinterpret_cast<const UniChar*>(u"a\0b"), 3), FPS_NATIVE);
    EXPECT_FALSE(nul.IsValid());
    VFilePath self = Native(u"Data:x:");
    self.FromRelativePath(self, U(u"y/"), FPS_POSIX);
    EXPECT_EQ(Outcome(self), u"Data:x:y:");
}

TEST(FilePath, Queries)
{
    struct Row
    {
        const char16_t* fPath;
        int32_t fDepth;
        std::u16string fName, fFileName, fFileNameNoExt, fFolderName, fFolderNameNoExt, fExtension;
        bool fIsFile, fIsFolder, fHasParent;
    };
    const Row rows[] = {
        {u"Data:", 1, u"Data", u"", u"", u"Data:", u"Data:", u"", false, true, false},
        {u"Data", 1, u"Data", u"Data", u"Data", u"", u"", u"", true, false, false},
        {u"Data:a:", 2, u"a", u"", u"", u"a", u"a", u"", false, true, true},
        {u"Data:a:b:", 3, u"b", u"", u"", u"b", u"b", u"", false, true, true},
        {u"Data:a:f.txt", 3, u"f.txt", u"f.txt", u"f", u"", u"", u"txt", true, false, true},
        {u"Data:.profile", 2, u".profile", u".profile", u"", u"", u"", u"profile", true, false, true},
        {u"Data:a.", 2, u"a.", u"a.", u"a", u"", u"", u"", true, false, true},
        {u"Data:a.b:", 2, u"a.b", u"", u"", u"a.b", u"a", u"b", false, true, true},
        {u"Data:x.y:f", 3, u"f", u"f", u"f", u"", u"", u"", true, false, true},
        {u"Data::", 0, u"", u"", u"", u"", u"", u"", false, false, false},
    };
    for (const Row& row : rows)
    {
        VFilePath path = Native(row.fPath);
        VString name, fileName, fileNameNoExt, folderName, folderNameNoExt, extension;
        path.GetName(name);
        path.GetFileName(fileName, true);
        path.GetFileName(fileNameNoExt, false);
        path.GetFolderName(folderName, true);
        path.GetFolderName(folderNameNoExt, false);
        path.GetExtension(extension);
        const std::string what = Utf8(U(row.fPath));
        EXPECT_EQ(path.GetDepth(), row.fDepth) << what;
        EXPECT_EQ(Text(name), row.fName) << what;
        EXPECT_EQ(Text(fileName), row.fFileName) << what;
        EXPECT_EQ(Text(fileNameNoExt), row.fFileNameNoExt) << what;
        EXPECT_EQ(Text(folderName), row.fFolderName) << what;
        EXPECT_EQ(Text(folderNameNoExt), row.fFolderNameNoExt) << what;
        EXPECT_EQ(Text(extension), row.fExtension) << what;
        EXPECT_EQ(path.IsFile(), row.fIsFile) << what;
        EXPECT_EQ(path.IsFolder(), row.fIsFolder) << what;
        EXPECT_EQ(path.HasParent(), row.fHasParent) << what;
    }
}

TEST(FilePath, ParentAndFolder)
{
    struct Row
    {
        const char16_t* fPath;
        std::u16string fParent; // ToParent
        std::u16string fFolder; // ToFolder
    };
    const Row rows[] = {
        {u"Data:", u"invalid", u"Data:"},
        {u"Data", u"invalid", u"invalid"},
        {u"Data:a", u"Data:", u"Data:"},
        {u"Data:a:", u"Data:", u"Data:a:"},
        {u"Data:a:b:f", u"Data:a:b:", u"Data:a:b:"},
        {u"Data::", u"invalid", u"invalid"},
    };
    for (const Row& row : rows)
    {
        VFilePath parent, folder;
        EXPECT_EQ(Native(row.fPath).GetParent(parent), row.fParent != u"invalid") << Utf8(U(row.fPath));
        EXPECT_EQ(Native(row.fPath).GetFolder(folder), row.fFolder != u"invalid") << Utf8(U(row.fPath));
        EXPECT_EQ(Outcome(parent), row.fParent) << Utf8(U(row.fPath));
        EXPECT_EQ(Outcome(folder), row.fFolder) << Utf8(U(row.fPath));
    }
}

TEST(FilePath, ChildrenCompareExactly)
{
    struct Row
    {
        const char* fWhat;
        const char16_t* fPath;
        const char16_t* fBase;
        bool fChild, fSameOrChild;
        std::u16string fRelative, fRelativePosix;
    };
    const Row rows[] = {
        {"itself", u"Data:a:", u"Data:a:", false, true, u"", u""},
        {"a file inside", u"Data:a:f", u"Data:a:", true, true, u"f", u"f"},
        {"a folder deeper down", u"Data:a:b:c:", u"Data:a:", true, true, u"b:c:", u"b/c/"},
        {"a name holding '/'", u"Data:a:x/y", u"Data:a:", true, true, u"x/y", u"x:y"},
        {"case differs", u"Root:opt:App", u"Root:opt:app:", false, false, u"Root:opt:App", u"/opt/App"},
        {"a sibling with a longer name", u"Data:ab", u"Data:a:", false, false, u"Data:ab", u"/Data/ab"},
        {"the base is a file", u"Data:ab", u"Data:a", false, false, u"Data:ab", u"/Data/ab"},
        {"the base is invalid", u"Data:a:b", u"Data:a::::", false, false, u"Data:a:b", u"/Data/a/b"},
    };
    for (const Row& row : rows)
    {
        VFilePath path = Native(row.fPath);
        VFilePath base = Native(row.fBase);
        VString relative, relativePosix;
        EXPECT_EQ(path.IsChildOf(base), row.fChild) << row.fWhat;
        EXPECT_EQ(path.IsChildOfRawPath(base), row.fChild) << row.fWhat;
        EXPECT_EQ(path.IsSameOrChildOf(base), row.fSameOrChild) << row.fWhat;
        EXPECT_EQ(path.GetRelativePath(base, relative), row.fSameOrChild) << row.fWhat;
        EXPECT_EQ(path.GetRelativePosixPath(base, relativePosix), row.fSameOrChild) << row.fWhat;
        EXPECT_EQ(Text(relative), row.fRelative) << row.fWhat;
        EXPECT_EQ(Text(relativePosix), row.fRelativePosix) << row.fWhat;
    }
    VString posix;
    EXPECT_FALSE(Native(u"Data::").GetRelativePosixPath(Native(u"Data:"), posix));
    EXPECT_EQ(Text(posix), u"");
}

TEST(FilePath, MatchExtensionIsCollated)
{
    StIntlTestProcess process(1033);
    struct Row
    {
        const char16_t* fPath;
        const char16_t* fExtension;
        bool fDiacritical;
        bool fMatch;
    };
    const Row rows[] = {
        {u"Data:a.xlf", u"XLF", false, true},      {u"Data:a.xlf", u"XLF", true, false},
        {u"Data:a.xlf", u"xlf", true, true},       {u"Data:a.xlf:", u"xlf", false, true},
        {u"Data:a.xlf", u"lf", false, false},      {u"Data:axlf", u"xlf", false, false},
        {u"Data:dir.x:a", u"", false, true},       {u"Data:a.xlf", u"", false, false},
        {u"Data:a.r\u00e9s", u"RES", false, true}, {u"Data::", u"", false, false},
    };
    for (const Row& row : rows)
    {
        EXPECT_EQ(Native(row.fPath).MatchExtension(U(row.fExtension), row.fDiacritical), row.fMatch)
            << Utf8(U(row.fPath)) << " " << Utf8(U(row.fExtension));
    }
}

// Name changes raise errors on the task's error context.
class FilePathChanges : public TaskManagerTest
{
};

TEST_F(FilePathChanges, NamesAndExtensions)
{
    enum Op
    {
        kSetName,
        kSetFileName,
        kSetFileNameKeepExt,
        kSetFolderName,
        kSetFolderNameKeepExt,
        kSetExtension,
        kToSubFolder,
        kToSubFile
    };
    struct Row
    {
        const char* fWhat;
        const char16_t* fPath;
        Op fOp;
        std::u16string fArgument;
        bool fResult;
        std::u16string fExpected;
        VError fError;
    };
    const Row rows[] = {
        {"rename a file", u"Data:a:f.txt", kSetName, u"g", true, u"Data:a:g", VE_OK},
        {"rename a folder", u"Data:a:b:", kSetName, u"c", true, u"Data:a:c:", VE_OK},
        {"rename a volume root", u"Data:", kSetName, u"c", false, u"invalid", VE_OK},
        {"a name with ':'", u"Data:a:f", kSetName, u"x:y", false, u"Data:a:f", VE_FILE_BAD_NAME},
        {"a name '..'", u"Data:a:f", kSetName, u"..", false, u"Data:a:f", VE_FILE_BAD_NAME},
        {"an empty name", u"Data:a:", kSetName, u"", false, u"Data:a:", VE_FILE_BAD_NAME},
        {"file name, new extension", u"Data:f.txt", kSetFileName, u"g.md", true, u"Data:g.md", VE_OK},
        {"file name, old extension", u"Data:f.txt", kSetFileNameKeepExt, u"g", true, u"Data:g.txt", VE_OK},
        {"file name in a folder", u"Data:a:", kSetFileName, u"g", true, u"Data:a:g", VE_OK},
        {"file name with ':'", u"Data:f.txt", kSetFileNameKeepExt, u"x:", false, u"Data:f.txt",
         VE_FILE_BAD_NAME},
        {"folder name, old extension", u"Data:a.app:", kSetFolderNameKeepExt, u"b", true, u"Data:b.app:",
         VE_OK},
        {"folder name with ':'", u"Data:a:", kSetFolderName, u"x:y", false, u"Data:a:", VE_FILE_BAD_NAME},
        {"folder name on a file", u"Data:a", kSetFolderName, u"b", false, u"Data:a", VE_OK},
        {"sub-folder", u"Data:a:", kToSubFolder, u"b", true, u"Data:a:b:", VE_OK},
        {"sub-folder with ':'", u"Data:a:", kToSubFolder, u"b:c", false, u"Data:a:", VE_FILE_BAD_NAME},
        {"sub-folder '..'", u"Data:a:", kToSubFolder, u"..", false, u"Data:a:", VE_FILE_BAD_NAME},
        {"sub-file", u"Data:a:", kToSubFile, u"f", true, u"Data:a:f", VE_OK},
        {"sub-file with ':'", u"Data:a:", kToSubFile, u"x:f", false, u"Data:a:", VE_FILE_BAD_NAME},
        {"sub-file with NUL", u"Data:a:", kToSubFile, std::u16string(u"f\0g", 3), false, u"Data:a:",
         VE_FILE_BAD_NAME},
        {"sub-file of a file", u"Data:a", kToSubFile, u"f", false, u"Data:a", VE_OK},
        {"add a file extension", u"Data:a", kSetExtension, u"c", true, u"Data:a.c", VE_OK},
        {"replace a file extension", u"Data:a.b", kSetExtension, u"c", true, u"Data:a.c", VE_OK},
        {"remove a file extension", u"Data:a.b", kSetExtension, u"", true, u"Data:a", VE_OK},
        {"extend a name ending with '.'", u"Data:a.", kSetExtension, u"c", true, u"Data:a.c", VE_OK},
        {"the dot must follow the last ':'", u"Data:x.y:a", kSetExtension, u"c", true, u"Data:x.y:a.c",
         VE_OK},
        {"add a folder extension", u"Data:a:", kSetExtension, u"c", true, u"Data:a.c:", VE_OK},
        {"remove a folder extension", u"Data:a.b:", kSetExtension, u"", true, u"Data:a:", VE_OK},
        {"extension of a volume root", u"Data:", kSetExtension, u"c", true, u"Data.c:", VE_OK},
        {"removing leaves no name", u"Data:a:.profile", kSetExtension, u"", false, u"Data:a:.profile",
         VE_FILE_BAD_NAME},
        {"an extension with ':'", u"Data:a.b", kSetExtension, u"c:d", false, u"Data:a.b", VE_FILE_BAD_NAME},
        {"extension of an invalid path", u"Data::", kSetExtension, u"c", false, u"invalid", VE_OK},
    };
    for (const Row& row : rows)
    {
        StErrorContextInstaller errors(false, true);
        VFilePath path = Native(row.fPath);
        VString argument(reinterpret_cast<const UniChar*>(row.fArgument.data()),
                         static_cast<int32_t>(row.fArgument.size()));
        bool result = false;
        switch (row.fOp)
        {
        case kSetName:
            result = path.SetName(argument);
            break;
        case kSetFileName:
            result = path.SetFileName(argument, true);
            break;
        case kSetFileNameKeepExt:
            result = path.SetFileName(argument, false);
            break;
        case kSetFolderName:
            result = path.SetFolderName(argument, true);
            break;
        case kSetFolderNameKeepExt:
            result = path.SetFolderName(argument, false);
            break;
        case kSetExtension:
            result = path.SetExtension(argument);
            break;
        case kToSubFolder:
            result = path.ToSubFolder(argument);
            break;
        case kToSubFile:
            result = path.ToSubFile(argument);
            break;
        }
        EXPECT_EQ(result, row.fResult) << row.fWhat;
        EXPECT_EQ(Outcome(path), row.fExpected) << row.fWhat;
        EXPECT_EQ(errors.GetLastError(), row.fError) << row.fWhat;
    }
}

TEST(FilePath, RemoveBlanks)
{
    StIntlTestProcess process(1033);
    struct Row
    {
        const char16_t* fPath;
        std::u16string fExpected;
    };
    const Row rows[] = {
        {u" Data : a b : f.txt ", u"Data:a b:f.txt"},
        {u"Data:\u00a0a\u3000:", u"Data:a:"},
        {u"Data:a: :b", u"Data:b"}, // the blank name became "::", one level up
        {u"Data: ..:b", u"invalid"},
    };
    for (const Row& row : rows)
    {
        VFilePath path = Native(row.fPath);
        ASSERT_TRUE(path.IsValid()) << Utf8(U(row.fPath));
        EXPECT_EQ(path.RemoveBlanks(), row.fExpected != u"invalid") << Utf8(U(row.fPath));
        EXPECT_EQ(Outcome(path), row.fExpected) << Utf8(U(row.fPath));
    }
}

// For random relative texts made of names, ".", "..", empty components and names holding ':',
// the resolved path is the walk of a simple model: invalid exactly when the walk climbs above the
// volume, else the model's components. A valid result holds no "." or ".." component, and when
// its text lies in the base its POSIX form lies in the base's POSIX form.
TEST(FilePath, RelativeTextsStayWhereTheySay)
{
    const VFilePath base = Native(u"Root:srv:www:");
    const std::vector<std::u16string> baseComponents = {u"srv", u"www"};
    const std::u16string pieces[] = {u"a", u"b.c", u".", u"..", u"", u"x:y", u"\u00e9"};
    std::mt19937 random(20261210);
    for (int round = 0; round < 3000; ++round)
    {
        const bool posix = round % 2 == 0;
        const int count = static_cast<int>(random() % 6);
        std::u16string relative;
        for (int i = 0; i < count; ++i)
        {
            if (i > 0)
            {
                relative.push_back(posix ? u'/' : u':');
            }
            relative += pieces[random() % std::size(pieces)];
        }
        // The model: components below the volume.
        std::vector<std::u16string> model = baseComponents;
        bool above = false;
        size_t start = 0;
        for (size_t i = 0; i <= relative.size() && !above; ++i)
        {
            if (i < relative.size() && relative[i] != (posix ? u'/' : u':'))
            {
                continue;
            }
            std::u16string name = relative.substr(start, i - start);
            const bool lastPiece = i == relative.size();
            start = i + 1;
            // In the colon form an empty component before a ':' goes up; in POSIX it is nothing.
            if (name == u".." || (!posix && name.empty() && !lastPiece))
            {
                above = model.empty();
                if (!above)
                {
                    model.pop_back();
                }
            }
            else if (!name.empty() && name != u".")
            {
                if (posix)
                {
                    for (char16_t& c : name)
                    {
                        c = c == u':' ? u'/' : c;
                    }
                }
                model.push_back(name);
            }
        }
        VString text(reinterpret_cast<const UniChar*>(relative.data()),
                     static_cast<int32_t>(relative.size()));
        VFilePath path(base, text, posix ? FPS_POSIX : FPS_NATIVE, true);
        const std::string what = (posix ? "POSIX " : "native ") + Utf8(text);
        const bool refused = above || (posix && !relative.empty() && relative[0] == u'/');
        ASSERT_EQ(path.IsValid(), !refused) << what;
        if (refused)
        {
            continue;
        }
        VString resolved;
        path.GetPath(resolved);
        std::u16string expected = u"Root";
        for (const std::u16string& name : model)
        {
            expected += u":" + name;
        }
        std::u16string got = Text(resolved);
        if (got.back() == u':' && expected != got)
        {
            expected += u":"; // the model does not track folder-ness
        }
        EXPECT_EQ(got, expected) << what;
        const std::u16string padded = got.back() == u':' ? got : got + u":";
        for (const char16_t* dot : {u":.:", u":..:", u"::"})
        {
            EXPECT_EQ(padded.find(dot), std::u16string::npos) << what;
        }
        const bool inside = model.size() >= 2 && model[0] == u"srv" && model[1] == u"www" &&
                            (model.size() > 2 || got.back() == u':');
        EXPECT_EQ(path.IsSameOrChildOf(base), inside) << what;
        VString posixPath;
        path.GetPosixPath(posixPath);
        EXPECT_EQ(Text(posixPath).rfind(u"/srv/www/", 0) == 0, inside) << what;
        EXPECT_EQ((Text(posixPath) + u"/").find(u"/../"), std::u16string::npos) << what;
    }
}

} // namespace
