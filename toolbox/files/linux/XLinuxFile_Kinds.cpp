// XLinuxFile: file kinds. Linux has no system database of uniform type identifiers: a built-in
// table stands in for it, listing the public identifiers the toolbox and the updater meet, each
// with its extensions and the identifiers it conforms to.
//
//   public.item                                  com.apple.package        > public.directory
//   public.content                               com.apple.bundle         > com.apple.package
//   public.data             > public.item          (bundle, plugin)
//   public.text             > public.data, public.content
//   public.plain-text (txt, text) > public.text  com.apple.application-bundle (app)
//   public.utf8-plain-text  > public.plain-text                > com.apple.bundle, public.executable
//   public.xml (xml)        > public.text        com.apple.framework (framework) > com.apple.bundle
//   public.json (json)      > public.text        public.property-list (plist) > public.data
//   public.html (html, htm) > public.text        com.apple.xml-property-list
//   public.image            > public.data, public.content      > public.xml, public.property-list
//   public.png (png), public.jpeg (jpg, jpeg) > public.image
//   public.directory        > public.item        public.folder            > public.directory
//   public.executable       > public.item        public.archive           > public.data
//   public.zip-archive (zip) > public.archive    public.log (log)         > public.plain-text
//   org.oasis-open.xliff (xlf, xliff) > public.xml
//
// Bundles are packages here, as XLinuxFolder::IsPackage counts them. Identifiers and extensions of
// the table compare with ASCII case ignored; no table kind has an OS type.

#include "toolbox/files/VFileKind.h"
#include "toolbox/files/VFileKindManager.h"
#include "toolbox/files/linux/XLinuxErrno.h"
#include "toolbox/files/linux/XLinuxFile.h"
#include "toolbox/files/linux/XLinuxFolder.h"

#include <sys/stat.h>

#include <cerrno>
#include <deque>
#include <memory>

namespace zorn
{

namespace
{

struct TableKind
{
    const char* fID;
    const char* fDescription;
    std::vector<const char*> fExtensions;
    std::vector<const char*> fParents;
};

const std::vector<TableKind>& Table()
{
    static const std::vector<TableKind> sTable = {
        {"public.item", "Item", {}, {}},
        {"public.content", "Content", {}, {}},
        {"public.data", "Data", {}, {"public.item"}},
        {"public.text", "Text", {}, {"public.data", "public.content"}},
        {"public.plain-text", "Plain text", {"txt", "text"}, {"public.text"}},
        {"public.utf8-plain-text", "UTF-8 plain text", {}, {"public.plain-text"}},
        {"public.xml", "XML document", {"xml"}, {"public.text"}},
        {"public.json", "JSON document", {"json"}, {"public.text"}},
        {"public.html", "HTML document", {"html", "htm"}, {"public.text"}},
        {"public.image", "Image", {}, {"public.data", "public.content"}},
        {"public.png", "PNG image", {"png"}, {"public.image"}},
        {"public.jpeg", "JPEG image", {"jpg", "jpeg"}, {"public.image"}},
        {"public.directory", "Directory", {}, {"public.item"}},
        {"public.folder", "Folder", {}, {"public.directory"}},
        {"public.executable", "Executable", {}, {"public.item"}},
        {"public.archive", "Archive", {}, {"public.data"}},
        {"public.zip-archive", "Zip archive", {"zip"}, {"public.archive"}},
        {"public.log", "Log", {"log"}, {"public.plain-text"}},
        {"public.property-list", "Property list", {"plist"}, {"public.data"}},
        {"com.apple.package", "Package", {}, {"public.directory"}},
        {"com.apple.bundle", "Bundle", {"bundle", "plugin"}, {"com.apple.package"}},
        {"com.apple.application-bundle", "Application", {"app"}, {"com.apple.bundle", "public.executable"}},
        {"com.apple.framework", "Framework", {"framework"}, {"com.apple.bundle"}},
        {"com.apple.xml-property-list", "XML property list", {}, {"public.xml", "public.property-list"}},
        {"org.oasis-open.xliff", "XLIFF document", {"xlf", "xliff"}, {"public.xml"}},
    };
    return sTable;
}

bool SameID(const VString& inA, const VString& inB)
{
    return inA.CompareToStringRawCase(inB) == CR_EQUAL;
}

VFileKind* MakeKind(const TableKind& inRow)
{
    std::vector<VString> extensions(inRow.fExtensions.begin(), inRow.fExtensions.end());
    std::vector<VString> parents(inRow.fParents.begin(), inRow.fParents.end());
    return VFileKind::Create(VString(inRow.fID), {}, VString(inRow.fDescription), extensions, parents, true);
}

const TableKind* RowOfExtension(const VString& inExtension)
{
    if (inExtension.IsEmpty())
    {
        return nullptr;
    }
    for (const TableKind& row : Table())
    {
        for (const char* extension : row.fExtensions)
        {
            if (SameID(inExtension, VString(extension)))
            {
                return &row;
            }
        }
    }
    return nullptr;
}

// Whether inID, or an identifier reached through the parents, is inTarget. Parents are looked up
// through the kind manager, so registered private kinds take part.
bool IDConformsTo(const VString& inID, const std::vector<VString>& inParents, const VString& inTarget)
{
    if (SameID(inID, inTarget))
    {
        return true;
    }
    std::deque<VString> pending(inParents.begin(), inParents.end());
    std::vector<VString> seen{inID};
    while (!pending.empty())
    {
        const VString id = pending.front();
        pending.pop_front();
        if (SameID(id, inTarget))
        {
            return true;
        }
        bool known = false;
        for (const VString& done : seen)
        {
            known = known || SameID(done, id);
        }
        if (known)
        {
            continue;
        }
        seen.push_back(id);
        VRefPtr<VFileKind> kind(VFileKindManager::Get()->RetainFileKind(id), true);
        if (kind)
        {
            std::vector<VString> parents;
            kind->GetParentIDs(parents);
            pending.insert(pending.end(), parents.begin(), parents.end());
        }
    }
    return false;
}

// The extension of the last component of a POSIX path (a final '/' ignored); empty when the name
// has no '.' after its first character.
VString ExtensionOf(const std::string& inPosixPath)
{
    std::string name = inPosixPath;
    while (name.size() > 1 && name.back() == '/')
    {
        name.pop_back();
    }
    name = name.substr(name.rfind('/') + 1);
    const size_t dot = name.rfind('.');
    VString extension;
    if (dot != std::string::npos && dot > 0)
    {
        XLinuxFile::DecodeNameBytes(name.data() + dot + 1, name.size() - dot - 1, extension);
    }
    return extension;
}

} // namespace

VFileKind* XLinuxFile::CreatePublicFileKind(const VString& inID)
{
    for (const TableKind& row : Table())
    {
        if (SameID(inID, VString(row.fID)))
        {
            return MakeKind(row);
        }
    }
    return nullptr;
}

VFileKind* XLinuxFile::CreatePublicFileKindFromExtension(const VString& inExtension)
{
    const TableKind* row = RowOfExtension(inExtension);
    return row != nullptr ? MakeKind(*row) : nullptr;
}

VFileKind* XLinuxFile::CreatePublicFileKindFromOsKind(const VString&)
{
    return nullptr;
}

bool XLinuxFile::IsFileKindConformsTo(const VFileKind& inKind, const VFileKind& inOther)
{
    std::vector<VString> parents;
    inKind.GetParentIDs(parents);
    return IDConformsTo(inKind.GetID(), parents, inOther.GetID());
}

VString* XLinuxFile::RetainUTIString(VError* outError) const
{
    auto id = std::make_unique<VString>();
    VError code = GetUTIString(*id);
    if (outError != nullptr)
    {
        *outError = code;
    }
    return code == VE_OK ? id.release() : nullptr;
}

VError XLinuxFile::GetUTIString(VString& outID) const
{
    outID.Clear();
    struct stat status = {};
    if (::stat(fPosixPath.c_str(), &status) != 0)
    {
        return xlinux::LastErrno();
    }
    const TableKind* row = RowOfExtension(ExtensionOf(fPosixPath));
    if (!S_ISDIR(status.st_mode))
    {
        outID = VString(row != nullptr ? row->fID : "public.data");
        return VE_OK;
    }
    // A folder: a bundle type by its extension, else a package or a plain folder.
    const VString package("com.apple.package");
    if (row != nullptr)
    {
        std::vector<VString> parents(row->fParents.begin(), row->fParents.end());
        if (IDConformsTo(VString(row->fID), parents, package))
        {
            outID = VString(row->fID);
            return VE_OK;
        }
    }
    std::string folderPath = fPosixPath;
    if (folderPath.empty() || folderPath.back() != '/')
    {
        folderPath += '/';
    }
    outID = XLinuxFolder(folderPath.c_str()).IsPackage() ? package : VString("public.folder");
    return VE_OK;
}

VError XLinuxFile::ConformsTo(const VFileKind& inKind, bool* outResult) const
{
    *outResult = false;
    const VString extension = ExtensionOf(fPosixPath);
    if (!inKind.IsPublic())
    {
        *outResult = !extension.IsEmpty() && inKind.MatchExtension(extension);
        return VE_OK;
    }
    VString type;
    if (VError code = GetUTIString(type); code != VE_OK)
    {
        return code;
    }
    VRefPtr<VFileKind> kind(VFileKindManager::Get()->RetainFileKind(type), true);
    *outResult = (kind && IsFileKindConformsTo(*kind, inKind)) ||
                 (!extension.IsEmpty() && inKind.MatchExtension(extension));
    return VE_OK;
}

} // namespace zorn
