// Script classes made from a definition file: the class holds the file, answers "__file" with its
// path, and is obsolete once the file is gone or newer than when the class was made.
#include "tests/toolbox/kernel/TaskTestSupport.h"
#include "toolbox/files/VFile.h"
#include "toolbox/json/VJSONClass.h"
#include "toolbox/json/VJSONObject.h"
#include "toolbox/kernel/values/VTime.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

using namespace zorn;

namespace
{

class ClassFiles : public test::TaskManagerTest
{
protected:
    void SetUp() override
    {
        TaskManagerTest::SetUp();
        char folder[] = "/tmp/zorn-class-files-XXXXXX";
        ASSERT_NE(::mkdtemp(folder), nullptr);
        fFolder = folder;
        fStore.Adopt(new VJSONClassStore(VString("app")));
    }
    void TearDown() override
    {
        fStore.Clear();
        ASSERT_EQ(std::system(("rm -rf " + fFolder).c_str()), 0);
        TaskManagerTest::TearDown();
    }

    // A file written now whose modification time is set ten days back.
    VRefPtr<VFile> OldFile(const std::string& inName) const
    {
        std::string path = fFolder + "/" + inName;
        std::ofstream(path) << "class";
        VRefPtr<VFile> file(new VFile(VString(path.c_str()), FPS_POSIX), true);
        VTime past;
        VTime::Now(past);
        past.AddDays(-10);
        EXPECT_EQ(file->SetTimeAttributes(&past, nullptr, nullptr), VE_OK);
        return file;
    }
    VJSONClass* AddClass(const char* inName, VFile* inFile)
    {
        VRefPtr<VJSONObject> classObject(
            VJSONClass::Create(VString(inName), nullptr, inFile, VString("app"), 0), true);
        fStore->AddClass(classObject.Get(), 0);
        return VJSONClass::CastClassObject(classObject.Get());
    }

    std::string fFolder;
    VRefPtr<VJSONClassStore> fStore;
};

TEST_F(ClassFiles, TheFileDecidesWhetherAClassIsObsolete)
{
    VJSONClass* fresh = AddClass("Fresh", OldFile("fresh.js").Get());
    VRefPtr<VFile> changedFile = OldFile("changed.js");
    VJSONClass* changed = AddClass("Changed", changedFile.Get());
    VRefPtr<VFile> goneFile = OldFile("gone.js");
    VJSONClass* gone = AddClass("Gone", goneFile.Get());

    std::string expected = fFolder + "/fresh.js";
    VString path;
    fresh->GetClassObject()->GetProperty(VString("__file")).GetString(path);
    EXPECT_TRUE(path.EqualToStringRaw(VString(expected.c_str())))
        << "the class keeps its own reference to the file";
    for (VJSONClass* theClass : {fresh, changed, gone})
        EXPECT_FALSE(theClass->IsObsolete());

    VTime now;
    VTime::Now(now);
    ASSERT_EQ(changedFile->SetTimeAttributes(&now, nullptr, nullptr), VE_OK);
    ASSERT_EQ(::unlink((fFolder + "/gone.js").c_str()), 0);
    EXPECT_FALSE(fresh->IsObsolete());
    EXPECT_TRUE(changed->IsObsolete()) << "the file is newer than the class";
    EXPECT_TRUE(gone->IsObsolete()) << "the file is gone";

    // A class whose file is current, whose file is obsolete, and one whose file left the map.
    VRefPtr<VFile> keptFile = OldFile("kept.js");
    AddClass("Kept", keptFile.Get());
    AddClass("Unlisted", OldFile("unlisted.js").Get());
    VJSONClassStore::FileMap files{
        {u"Fresh", nullptr}, {u"Changed", changedFile.Get()}, {u"Kept", keptFile.Get()}};
    std::vector<VString> removed;
    fStore->RemoveObsoleteClasses(files, removed);
    std::vector<std::u16string> names;
    for (const VString& name : removed)
        names.emplace_back(reinterpret_cast<const char16_t*>(name.GetCPointer()), name.GetLength());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::u16string>{u"Changed", u"Gone", u"Unlisted"}));
    EXPECT_TRUE(fStore->GetClassObject(VString("Fresh")));
    EXPECT_TRUE(fStore->GetClassObject(VString("Kept")));
    EXPECT_EQ(fStore->GetCount(), 2u);
}

} // namespace
