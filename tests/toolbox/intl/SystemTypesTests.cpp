#include "platform/SharedMimeInfo.h"
#include "tests/toolbox/intl/UTITestSupport.h"
#include "toolbox/files/VFileKind.h"
#include "toolbox/files/VFileKindManager.h"
#include "toolbox/intl/VSharedMimeInfoReader.h"
#include "toolbox/intl/VUTI.h"
#include "toolbox/intl/VUTIManager.h"
#include "toolbox/kernel/errors/VErrorContext.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace zorn;
using namespace zorn::test;

namespace
{

class SystemTypesTest : public UTITest
{
protected:
    void UseSystemFile(const std::string& inContent)
    {
        WriteBytes("freedesktop.org.xml", inContent);
        fManager->SetSystemTypesFile(File("freedesktop.org.xml").Get());
    }
};

const VString& kExtension = VUTIManager::GetExtensionTagClass();
const VString& kMIME = VUTIManager::GetMIMETypeTagClass();

// The machine's own database, as scripts/setup installs it.
TEST_F(SystemTypesTest, CommonTypesResolveFromTheMachinesDatabase)
{
    ASSERT_FALSE(platform::FindSharedMimeInfoDatabase().empty()) << "shared-mime-info is not installed";
    EXPECT_EQ(fManager->GetUTICount(), 0U) << "nothing is read before the first look-up";

    struct Row
    {
        const VString& fTagClass;
        const char* fTag;
        const char* fIdentifier;
    };
    const Row rows[] = {
        {kExtension, "jpg", "public.jpeg"},
        {kExtension, "JPEG", "public.jpeg"},
        {kMIME, "image/jpeg", "public.jpeg"},
        {kExtension, "txt", "public.plain-text"},
        {kMIME, "text/plain", "public.plain-text"},
        {kExtension, "pdf", "com.adobe.pdf"},
        {kMIME, "application/pdf", "com.adobe.pdf"},
        {kMIME, "application/x-pdf", "com.adobe.pdf"}, // an alias
        {kExtension, "png", "public.png"},
        {kExtension, "xml", "public.xml"},
        {kExtension, "html", "public.html"},
        {kExtension, "zip", "public.zip-archive"},
        {kExtension, "c", "public.c-source"},
    };
    for (const Row& row : rows)
    {
        EXPECT_EQ(Preferred(row.fTagClass, row.fTag), row.fIdentifier)
            << Utf8(row.fTagClass) << " " << row.fTag;
    }

    struct Conformance
    {
        const char* fType;
        const char* fConformsTo;
        bool fExpected;
    };
    const Conformance conformances[] = {
        {"public.jpeg", "public.image", true},           {"public.jpeg", "public.data", true},
        {"public.jpeg", "public.content", true},         {"public.jpeg", "public.item", true},
        {"public.jpeg", "public.text", false},           {"public.plain-text", "public.text", true},
        {"public.plain-text", "public.data", true},      {"public.xml", "public.plain-text", true},
        {"com.adobe.pdf", "public.data", true},          {"com.adobe.pdf", "public.image", false},
        {"public.c-source", "public.source-code", true},
    };
    for (const Conformance& row : conformances)
    {
        VUTI* type = fManager->GetUTI(VString(row.fType));
        ASSERT_NE(type, nullptr) << row.fType;
        EXPECT_EQ(type->ConformsToIdentifier(VString(row.fConformsTo)), row.fExpected)
            << row.fType << " to " << row.fConformsTo;
    }
    VUTI* jpeg = fManager->GetUTI(VString("public.jpeg"));
    std::vector<VString> extensions = jpeg->GetExtensionsVector();
    EXPECT_EQ(Joined(extensions).substr(0, 8), "jpg,jpeg");
    EXPECT_FALSE(jpeg->GetDescription().IsEmpty());

    WriteBytes("holiday.jpg", "x");
    EXPECT_TRUE(fManager->UTTypeConformsTo(File("holiday.jpg").Get(), VString("public.image")));
    EXPECT_FALSE(fManager->UTTypeConformsTo(File("holiday.jpg").Get(), VString("public.plain-text")));

    // The system's types are not registered as the program's file kinds.
    VRefPtr<VFileKind> kind(VFileKindManager::Get()->RetainFileKind(VString("com.adobe.pdf")), true);
    EXPECT_FALSE(kind && !kind->IsPublic());
}

const char* const kSmallDatabase = R"(<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE mime-info [
<!ELEMENT mime-info (mime-type)+>
<!ATTLIST glob weight CDATA "50">
]>
<mime-info xmlns="http://www.freedesktop.org/standards/shared-mime-info">
  <mime-type type="application/octet-stream"><comment>unknown</comment></mime-type>
  <mime-type type="text/plain">
    <comment>plain text document</comment>
    <comment xml:lang="de">Einfaches Textdokument</comment>
    <magic priority="50"><match type="string" value="x" offset="0"/></magic>
    <glob pattern="*.txt"/>
  </mime-type>
  <mime-type type="application/xml">
    <comment>XML document</comment>
    <alias type="text/xml"/>
    <sub-class-of type="text/plain"/>
    <glob pattern="*.xml"/>
  </mime-type>
  <mime-type type="application/x-zorn-note">
    <comment>Zorn note</comment>
    <sub-class-of type="text/xml"/>
    <glob pattern="*.znote"/>
    <glob pattern="*.ZN" case-sensitive="true"/>
    <glob pattern="*.z[0-9]"/>
    <glob pattern="README"/>
  </mime-type>
  <mime-type type="text/x-zorn-log"><comment>Zorn log</comment><glob pattern="*.zlog"/></mime-type>
  <mime-type type="image/x-zorn+picture"><comment>Zorn picture</comment><glob pattern="*.zpic"/></mime-type>
  <mime-type type="inode/directory"><comment>folder</comment></mime-type>
</mime-info>
)";

TEST_F(SystemTypesTest, EachMimeTypeBecomesATypeByTheTable)
{
    UseSystemFile(kSmallDatabase);
    struct Row
    {
        const char* fWhat;
        const char* fIdentifier;
        const char* fDescription;
        const char* fMIMETypes;
        const char* fExtensions;
        const char* fConformsTo; // one identifier it conforms to (and its parent's)
    };
    const Row rows[] = {
        {"table row; translated comments and magic skipped", "public.plain-text", "plain text document",
         "text/plain", "txt", "public.text"},
        {"aliases are MIME types too", "public.xml", "XML document", "application/xml,text/xml", "xml",
         "public.plain-text"},
        {"derived identifier; sub-class-of through an alias; only plain '*.ext' globs, no upper-case "
         "case-sensitive ones",
         "org.freedesktop.mime.application.x-zorn-note", "Zorn note", "application/x-zorn-note", "znote",
         "public.xml"},
        {"a text/* type without sub-class-of conforms to text/plain", "org.freedesktop.mime.text.x-zorn-log",
         "Zorn log", "text/x-zorn-log", "zlog", "public.plain-text"},
        {"image/* conforms to public.image", "org.freedesktop.mime.image.x-zorn-picture", "Zorn picture",
         "image/x-zorn+picture", "zpic", "public.image"},
        {"other types conform to application/octet-stream", "public.data", "unknown",
         "application/octet-stream", "", "public.item"},
        {"abstract rows of the table", "public.image", "Image", "", "", "public.content"},
    };
    for (const Row& row : rows)
    {
        VUTI* type = fManager->GetUTI(VString(row.fIdentifier));
        ASSERT_NE(type, nullptr) << row.fWhat;
        EXPECT_EQ(Utf8(type->GetDescription()), row.fDescription) << row.fWhat;
        EXPECT_EQ(Joined(type->GetMIMETypesVector()), row.fMIMETypes) << row.fWhat;
        EXPECT_EQ(Joined(type->GetExtensionsVector()), row.fExtensions) << row.fWhat;
        EXPECT_TRUE(type->ConformsToIdentifier(VString(row.fConformsTo))) << row.fWhat;
        EXPECT_TRUE(type->ConformsToIdentifier(VString("public.data"))) << row.fWhat;
    }
    EXPECT_EQ(fManager->GetUTI(VString("org.freedesktop.mime.inode.directory")), nullptr)
        << "inode types left out";
    EXPECT_EQ(Preferred(kMIME, "text/xml"), "public.xml");
    EXPECT_EQ(Preferred(kExtension, "zn"), "<none>");
}

TEST_F(SystemTypesTest, TheSystemsTypesComeBeforeDeclarations)
{
    UseSystemFile(kSmallDatabase);
    WriteBytes("Info.plist",
               "<plist><dict><key>UTImportedTypeDeclarations</key><array>"
               "<dict><key>UTTypeIdentifier</key><string>public.plain-text</string>"
               "<key>UTTypeDescription</key><string>Mine</string></dict>"
               "<dict><key>UTTypeIdentifier</key><string>com.example.notes</string>"
               "<key>UTTypeConformsTo</key><array><string>public.plain-text</string></array></dict>"
               "</array></dict></plist>");
    ASSERT_TRUE(fManager->LoadXMLFile(File("Info.plist").Get()));
    EXPECT_EQ(Utf8(fManager->GetUTI(VString("public.plain-text"))->GetDescription()), "plain text document");
    EXPECT_TRUE(fManager->GetUTI(VString("com.example.notes"))->ConformsToIdentifier(VString("public.data")));

    // Only the declared type became a file kind.
    VRefPtr<VFileKind> notes(VFileKindManager::Get()->RetainFileKind(VString("com.example.notes")), true);
    VRefPtr<VFileKind> text(VFileKindManager::Get()->RetainFileKind(VString("public.plain-text")), true);
    ASSERT_TRUE(notes && text);
    EXPECT_FALSE(notes->IsPublic());
    EXPECT_TRUE(text->IsPublic()) << "still the file layer's own kind";
}

TEST_F(SystemTypesTest, ABrokenDatabaseGivesNoSystemTypesAndNoErrors)
{
    const std::string database(kSmallDatabase);
    for (const std::string& content : {database.substr(0, database.size() / 2), std::string("not xml")})
    {
        VUTIManager::DeInit();
        fManager = VUTIManager::GetUTIManager();
        UseSystemFile(content);
        StErrorContextInstaller errors(false);
        EXPECT_EQ(Preferred(kExtension, "txt"), "<none>");
        EXPECT_EQ(fManager->GetUTICount(), 0U);
        EXPECT_EQ(errors.GetLastError(), VE_OK) << "the look-up's caller sees no error of the system's file";
    }
}

} // namespace
