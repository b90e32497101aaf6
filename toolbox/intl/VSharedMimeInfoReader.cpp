// The table below is the one place where MIME types meet type identifiers. A row names either
// - a MIME type and the identifier of its type (the type's extensions, aliases, description and
//   "sub-class-of" parents come from the file), with parents the file does not give; or
// - no MIME type: an abstract type made whatever the file holds, with its description and
//   parents; or
// - a media range ("image/*"): an abstract type that every type of that media conforms to.
//
//   MIME type                      identifier                             extra parents
//   -                              public.item
//   -                              public.content
//   application/octet-stream       public.data                            public.item
//   -                              public.text                            public.data, public.content
//   text/plain                     public.plain-text                      public.text
//   -                              public.source-code                     public.plain-text
//   -                              public.script                          public.source-code
//   image/*                        public.image                           public.data, public.content
//   -                              public.audiovisual-content             public.data, public.content
//   audio/*                        public.audio                           public.audiovisual-content
//   video/*                        public.movie                           public.audiovisual-content
//   -                              public.archive                         public.data
//   image/jpeg                     public.jpeg
//   image/png                      public.png
//   image/gif                      com.compuserve.gif
//   image/tiff                     public.tiff
//   image/bmp                      com.microsoft.bmp
//   image/svg+xml                  public.svg-image
//   image/webp                     org.webmproject.webp
//   image/heif                     public.heif
//   image/vnd.microsoft.icon       com.microsoft.ico
//   application/pdf                com.adobe.pdf                          public.content
//   application/postscript         com.adobe.postscript
//   text/html                      public.html
//   application/xhtml+xml          public.xhtml
//   application/xml                public.xml                             public.text
//   application/json               public.json                            public.text
//   text/csv                       public.comma-separated-values-text
//   text/tab-separated-values      public.tab-separated-values-text
//   application/rtf                public.rtf
//   text/markdown                  net.daringfireball.markdown
//   text/x-log                     public.log
//   text/css                       public.css
//   text/vcard                     public.vcard
//   text/x-csrc                    public.c-source                        public.source-code
//   text/x-chdr                    public.c-header                        public.source-code
//   text/x-c++src                  public.c-plus-plus-source              public.source-code
//   text/x-objcsrc                 public.objective-c-source              public.source-code
//   text/x-java                    com.sun.java-source                    public.source-code
//   application/x-shellscript      public.shell-script                    public.script
//   text/x-python                  public.python-script                   public.script
//   application/x-perl             public.perl-script                     public.script
//   application/x-php              public.php-script                      public.script
//   application/javascript         com.netscape.javascript-source         public.script
//   application/zip                public.zip-archive                     public.archive
//   application/gzip               org.gnu.gnu-zip-archive                public.archive
//   application/x-bzip             public.bzip2-archive                   public.archive
//   application/x-tar              public.tar-archive                     public.archive
//   application/x-xz               org.tukaani.xz-archive                 public.archive
//   application/x-7z-compressed    org.7-zip.7-zip-archive                public.archive
//   application/x-apple-diskimage  com.apple.disk-image
//   application/xliff+xml          org.oasis-open.xliff
//   audio/mpeg                     public.mp3
//   audio/x-wav                    com.microsoft.waveform-audio
//   audio/x-aiff                   public.aiff-audio
//   audio/mp4                      public.mpeg-4-audio
//   audio/flac                     org.xiph.flac
//   video/mp4                      public.mpeg-4
//   video/mpeg                     public.mpeg
//   video/quicktime                com.apple.quicktime-movie
//   video/x-msvideo                public.avi
//   font/ttf                       public.truetype-ttf-font
//   font/otf                       public.opentype-font
//   application/msword             com.microsoft.word.doc
//   application/vnd.ms-excel       com.microsoft.excel.xls
//   application/vnd.ms-powerpoint  com.microsoft.powerpoint.ppt
//   application/vnd.openxmlformats-officedocument.wordprocessingml.document
//                                  org.openxmlformats.wordprocessingml.document
//   application/vnd.openxmlformats-officedocument.spreadsheetml.sheet
//                                  org.openxmlformats.spreadsheetml.sheet
//   application/vnd.openxmlformats-officedocument.presentationml.presentation
//                                  org.openxmlformats.presentationml.presentation
//   application/epub+zip           org.idpf.epub-container

#include "toolbox/intl/VSharedMimeInfoReader.h"

#include "toolbox/files/VFile.h"
#include "toolbox/intl/IXMLHandler.h"
#include "toolbox/intl/VXMLParser.h"

#include <initializer_list>
#include <map>
#include <string>
#include <string_view>

namespace zorn
{

namespace
{

struct TableRow
{
    const char* fMIMEType; // a MIME type, a media range ("image/*") or null
    const char* fIdentifier;
    const char* fDescription; // for the rows that make an abstract type
    std::vector<const char*> fParents;
};

// Abstract rows come first: they are made before the file's types.
const std::vector<TableRow>& Table()
{
    static const std::vector<TableRow> sTable = {
        {nullptr, "public.item", "Item", {}},
        {nullptr, "public.content", "Content", {}},
        {nullptr, "public.text", "Text", {"public.data", "public.content"}},
        {nullptr, "public.source-code", "Source code", {"public.plain-text"}},
        {nullptr, "public.script", "Script", {"public.source-code"}},
        {"image/*", "public.image", "Image", {"public.data", "public.content"}},
        {nullptr, "public.audiovisual-content", "Audiovisual content", {"public.data", "public.content"}},
        {"audio/*", "public.audio", "Audio", {"public.audiovisual-content"}},
        {"video/*", "public.movie", "Movie", {"public.audiovisual-content"}},
        {nullptr, "public.archive", "Archive", {"public.data"}},
        {"application/octet-stream", "public.data", nullptr, {"public.item"}},
        {"text/plain", "public.plain-text", nullptr, {"public.text"}},
        {"image/jpeg", "public.jpeg", nullptr, {}},
        {"image/png", "public.png", nullptr, {}},
        {"image/gif", "com.compuserve.gif", nullptr, {}},
        {"image/tiff", "public.tiff", nullptr, {}},
        {"image/bmp", "com.microsoft.bmp", nullptr, {}},
        {"image/svg+xml", "public.svg-image", nullptr, {}},
        {"image/webp", "org.webmproject.webp", nullptr, {}},
        {"image/heif", "public.heif", nullptr, {}},
        {"image/vnd.microsoft.icon", "com.microsoft.ico", nullptr, {}},
        {"application/pdf", "com.adobe.pdf", nullptr, {"public.content"}},
        {"application/postscript", "com.adobe.postscript", nullptr, {}},
        {"text/html", "public.html", nullptr, {}},
        {"application/xhtml+xml", "public.xhtml", nullptr, {}},
        {"application/xml", "public.xml", nullptr, {"public.text"}},
        {"application/json", "public.json", nullptr, {"public.text"}},
        {"text/csv", "public.comma-separated-values-text", nullptr, {}},
        {"text/tab-separated-values", "public.tab-separated-values-text", nullptr, {}},
        {"application/rtf", "public.rtf", nullptr, {}},
        {"text/markdown", "net.daringfireball.markdown", nullptr, {}},
        {"text/x-log", "public.log", nullptr, {}},
        {"text/css", "public.css", nullptr, {}},
        {"text/vcard", "public.vcard", nullptr, {}},
        {"text/x-csrc", "public.c-source", nullptr, {"public.source-code"}},
        {"text/x-chdr", "public.c-header", nullptr, {"public.source-code"}},
        {"text/x-c++src", "public.c-plus-plus-source", nullptr, {"public.source-code"}},
        {"text/x-objcsrc", "public.objective-c-source", nullptr, {"public.source-code"}},
        {"text/x-java", "com.sun.java-source", nullptr, {"public.source-code"}},
        {"application/x-shellscript", "public.shell-script", nullptr, {"public.script"}},
        {"text/x-python", "public.python-script", nullptr, {"public.script"}},
        {"application/x-perl", "public.perl-script", nullptr, {"public.script"}},
        {"application/x-php", "public.php-script", nullptr, {"public.script"}},
        {"application/javascript", "com.netscape.javascript-source", nullptr, {"public.script"}},
        {"application/zip", "public.zip-archive", nullptr, {"public.archive"}},
        {"application/gzip", "org.gnu.gnu-zip-archive", nullptr, {"public.archive"}},
        {"application/x-bzip", "public.bzip2-archive", nullptr, {"public.archive"}},
        {"application/x-tar", "public.tar-archive", nullptr, {"public.archive"}},
        {"application/x-xz", "org.tukaani.xz-archive", nullptr, {"public.archive"}},
        {"application/x-7z-compressed", "org.7-zip.7-zip-archive", nullptr, {"public.archive"}},
        {"application/x-apple-diskimage", "com.apple.disk-image", nullptr, {}},
        {"application/xliff+xml", "org.oasis-open.xliff", nullptr, {}},
        {"audio/mpeg", "public.mp3", nullptr, {}},
        {"audio/x-wav", "com.microsoft.waveform-audio", nullptr, {}},
        {"audio/x-aiff", "public.aiff-audio", nullptr, {}},
        {"audio/mp4", "public.mpeg-4-audio", nullptr, {}},
        {"audio/flac", "org.xiph.flac", nullptr, {}},
        {"video/mp4", "public.mpeg-4", nullptr, {}},
        {"video/mpeg", "public.mpeg", nullptr, {}},
        {"video/quicktime", "com.apple.quicktime-movie", nullptr, {}},
        {"video/x-msvideo", "public.avi", nullptr, {}},
        {"font/ttf", "public.truetype-ttf-font", nullptr, {}},
        {"font/otf", "public.opentype-font", nullptr, {}},
        {"application/msword", "com.microsoft.word.doc", nullptr, {}},
        {"application/vnd.ms-excel", "com.microsoft.excel.xls", nullptr, {}},
        {"application/vnd.ms-powerpoint", "com.microsoft.powerpoint.ppt", nullptr, {}},
        {"application/vnd.openxmlformats-officedocument.wordprocessingml.document",
         "org.openxmlformats.wordprocessingml.document",
         nullptr,
         {}},
        {"application/vnd.openxmlformats-officedocument.spreadsheetml.sheet",
         "org.openxmlformats.spreadsheetml.sheet",
         nullptr,
         {}},
        {"application/vnd.openxmlformats-officedocument.presentationml.presentation",
         "org.openxmlformats.presentationml.presentation",
         nullptr,
         {}},
        {"application/epub+zip", "org.idpf.epub-container", nullptr, {}},
    };
    return sTable;
}

bool IsMediaRange(const char* inMIMEType)
{
    const std::string_view type(inMIMEType);
    return type.size() > 2 && type.substr(type.size() - 2) == "/*";
}

// MIME types compare without regard to ASCII case (RFC 2045).
bool SameMIMEType(const VString& inA, const VString& inB)
{
    return inA.CompareToStringRawCase(inB) == CR_EQUAL;
}

const TableRow* RowOfMIMEType(const VString& inMIMEType)
{
    for (const TableRow& row : Table())
    {
        if (row.fMIMEType != nullptr && !IsMediaRange(row.fMIMEType) &&
            SameMIMEType(inMIMEType, VString(row.fMIMEType)))
        {
            return &row;
        }
    }
    return nullptr;
}

// The media of a MIME type, with its '/' ("image/"); empty when there is no '/'.
VString MediaOf(const VString& inMIMEType)
{
    const int32_t slash = inMIMEType.FindUniChar('/');
    VString media;
    if (slash > 0)
    {
        inMIMEType.GetSubString(1, slash, media);
    }
    return media;
}

bool IsOfMedia(const VString& inMIMEType, const char* inMedia)
{
    return SameMIMEType(MediaOf(inMIMEType), VString(inMedia));
}

// What one "mime-type" element declares.
struct MimeRecord
{
    VString fType;
    VString fComment;
    std::vector<VString> fAliases;
    std::vector<VString> fExtensions;
    std::vector<VString> fParents;
};

// The extension of a glob "*.ext", or empty.
VString ExtensionOfGlob(const VString& inPattern, bool inCaseSensitive)
{
    VString extension;
    const UniChar* pattern = inPattern.GetCPointer();
    if (inPattern.GetLength() < 3 || pattern[0] != '*' || pattern[1] != '.')
    {
        return extension;
    }
    inPattern.GetSubString(3, inPattern.GetLength() - 2, extension);
    for (int32_t i = 0; i < extension.GetLength(); ++i)
    {
        const UniChar c = extension.GetCPointer()[i];
        if (c == '*' || c == '?' || c == '[' || c == ']' || (inCaseSensitive && c >= 'A' && c <= 'Z'))
        {
            extension.Clear();
            break;
        }
    }
    return extension;
}

// The handler of one "mime-type": its attribute "type", and the children it keeps (comment, glob,
// alias, sub-class-of), each given here as the current child. Every other child is skipped.
class MimeTypeHandler : public VObject, public IXMLHandler
{
public:
    explicit MimeTypeHandler(std::vector<MimeRecord>& ioRecords) : fRecords(ioRecords) {}

    IXMLHandler* StartElement(const VString& inElementName) override
    {
        if (!fChild.IsEmpty())
        {
            return nullptr; // nothing is kept below the children
        }
        for (const char* kept : {"comment", "glob", "alias", "sub-class-of"})
        {
            if (inElementName.EqualToUSASCIICString(kept))
            {
                fChild = inElementName;
                fTranslated = false;
                fCaseSensitive = false;
                fPattern.Clear();
                fText.Clear();
                Retain();
                return this;
            }
        }
        return nullptr;
    }

    void SetAttribute(const VString& inName, const VString& inValue) override
    {
        if (fChild.IsEmpty())
        {
            if (inName.EqualToUSASCIICString("type"))
            {
                fRecord.fType = inValue;
            }
        }
        else if (inName.EqualToUSASCIICString("xml:lang"))
        {
            fTranslated = true;
        }
        else if (inName.EqualToUSASCIICString("pattern"))
        {
            fPattern = inValue;
        }
        else if (inName.EqualToUSASCIICString("case-sensitive"))
        {
            fCaseSensitive = inValue.EqualToUSASCIICString("true");
        }
        else if (inName.EqualToUSASCIICString("type") && !inValue.IsEmpty())
        {
            if (fChild.EqualToUSASCIICString("alias"))
            {
                fRecord.fAliases.push_back(inValue);
            }
            else if (fChild.EqualToUSASCIICString("sub-class-of"))
            {
                fRecord.fParents.push_back(inValue);
            }
        }
    }

    void SetText(const VString& inText) override
    {
        if (fChild.EqualToUSASCIICString("comment") && !fTranslated && fRecord.fComment.IsEmpty())
        {
            fText.AppendString(inText);
        }
    }

    void EndElement(const VString&) override
    {
        if (fChild.IsEmpty())
        {
            if (!fRecord.fType.IsEmpty())
            {
                fRecords.push_back(std::move(fRecord));
            }
            fRecord = MimeRecord();
            return;
        }
        if (fChild.EqualToUSASCIICString("comment") && !fTranslated && fRecord.fComment.IsEmpty())
        {
            fRecord.fComment = fText;
        }
        else if (fChild.EqualToUSASCIICString("glob"))
        {
            VString extension = ExtensionOfGlob(fPattern, fCaseSensitive);
            if (!extension.IsEmpty())
            {
                fRecord.fExtensions.push_back(extension);
            }
        }
        fChild.Clear();
    }

private:
    std::vector<MimeRecord>& fRecords;
    MimeRecord fRecord;
    VString fChild;
    VString fText;
    VString fPattern;
    bool fTranslated = false;
    bool fCaseSensitive = false;
};

// The document: "mime-type" elements directly inside the root "mime-info".
class MimeInfoHandler : public VObject, public IXMLHandler
{
public:
    IXMLHandler* StartElement(const VString& inElementName) override
    {
        if (fDepth == 0 && inElementName.EqualToUSASCIICString("mime-info"))
        {
            ++fDepth;
            Retain();
            return this;
        }
        if (fDepth == 1 && inElementName.EqualToUSASCIICString("mime-type"))
        {
            return new MimeTypeHandler(fRecords);
        }
        return nullptr;
    }
    void EndElement(const VString&) override
    {
        if (fDepth > 0)
        {
            --fDepth;
        }
    }

    std::vector<MimeRecord>& GetRecords() { return fRecords; }

private:
    std::vector<MimeRecord> fRecords;
    int fDepth = 0;
};

void AddPlaceholderParent(VUTI& ioUTI, const VString& inIdentifier)
{
    if (inIdentifier.IsEmpty() || inIdentifier.EqualToString(ioUTI.GetIdentifier(), false))
    {
        return;
    }
    VRefPtr<VUTI> placeholder(new VUTI(inIdentifier), true);
    placeholder->SetTemporary(true);
    ioUTI.AddParentUTI(placeholder.Get());
}

void AddRowParents(VUTI& ioUTI, const TableRow& inRow)
{
    for (const char* parent : inRow.fParents)
    {
        AddPlaceholderParent(ioUTI, VString(parent));
    }
}

// Types from the records and the table's abstract rows.
void MakeTypes(const std::vector<MimeRecord>& inRecords, std::vector<VRefPtr<VUTI>>& outTypes)
{
    for (const TableRow& row : Table())
    {
        if (row.fMIMEType == nullptr || IsMediaRange(row.fMIMEType))
        {
            VRefPtr<VUTI> type(new VUTI(VString(row.fIdentifier)), true);
            type->SetDescription(VString(row.fDescription));
            AddRowParents(*type, row);
            outTypes.push_back(type);
        }
    }
    // An alias names its type in "sub-class-of" too; keyed by the lower-case alias.
    std::map<std::u16string, const VString*> typeOfAlias;
    auto lowered = [](const VString& inText)
    {
        std::u16string key;
        for (int32_t i = 0; i < inText.GetLength(); ++i)
        {
            const UniChar c = inText.GetCPointer()[i];
            key.push_back(static_cast<char16_t>(c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c));
        }
        return key;
    };
    for (const MimeRecord& record : inRecords)
    {
        for (const VString& alias : record.fAliases)
        {
            typeOfAlias.emplace(lowered(alias), &record.fType);
        }
    }
    const VString textPlain("text/plain");
    const VString octetStream("application/octet-stream");
    for (const MimeRecord& record : inRecords)
    {
        if (IsOfMedia(record.fType, "inode/"))
        {
            continue;
        }
        const TableRow* row = RowOfMIMEType(record.fType);
        for (size_t i = 0; row == nullptr && i < record.fAliases.size(); ++i)
        {
            row = RowOfMIMEType(record.fAliases[i]);
        }
        VRefPtr<VUTI> type(new VUTI(row != nullptr
                                        ? VString(row->fIdentifier)
                                        : VSharedMimeInfoReader::IdentifierOfMIMEType(record.fType)),
                           true);
        type->SetDescription(record.fComment);
        type->AddMIMEType(record.fType);
        for (const VString& alias : record.fAliases)
        {
            type->AddMIMEType(alias);
        }
        for (const VString& extension : record.fExtensions)
        {
            type->AddExtension(extension);
        }
        for (const VString& parent : record.fParents)
        {
            auto alias = typeOfAlias.find(lowered(parent));
            AddPlaceholderParent(*type, VSharedMimeInfoReader::IdentifierOfMIMEType(
                                            alias != typeOfAlias.end() ? *alias->second : parent));
        }
        if (row != nullptr)
        {
            AddRowParents(*type, *row);
        }
        for (const TableRow& range : Table())
        {
            if (range.fMIMEType != nullptr && IsMediaRange(range.fMIMEType))
            {
                const std::string_view media(range.fMIMEType);
                if (IsOfMedia(record.fType, std::string(media.substr(0, media.size() - 1)).c_str()))
                {
                    AddPlaceholderParent(*type, VString(range.fIdentifier));
                }
            }
        }
        if (record.fParents.empty() && !SameMIMEType(record.fType, octetStream))
        {
            const bool text = IsOfMedia(record.fType, "text/") && !SameMIMEType(record.fType, textPlain);
            AddPlaceholderParent(*type,
                                 VSharedMimeInfoReader::IdentifierOfMIMEType(text ? textPlain : octetStream));
        }
        outTypes.push_back(type);
    }
}

} // namespace

VString VSharedMimeInfoReader::IdentifierOfMIMEType(const VString& inMIMEType)
{
    if (const TableRow* row = RowOfMIMEType(inMIMEType); row != nullptr)
    {
        return VString(row->fIdentifier);
    }
    VString identifier("org.freedesktop.mime.");
    for (int32_t i = 0; i < inMIMEType.GetLength(); ++i)
    {
        UniChar c = inMIMEType.GetCPointer()[i];
        if (c == '/')
        {
            c = '.';
        }
        else if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
                   c == '-'))
        {
            c = '-';
        }
        identifier.AppendUniChar(c);
    }
    return identifier;
}

namespace
{

// Parses with inParse (the parser and the root handler given), then makes the types.
template <class TParse>
bool ReadWith(const TParse& inParse, std::vector<VRefPtr<VUTI>>& outTypes)
{
    VRefPtr<MimeInfoHandler> root(new MimeInfoHandler(), true);
    VXMLParser parser;
    if (!inParse(parser, root.Get()))
    {
        return false;
    }
    MakeTypes(root->GetRecords(), outTypes);
    return true;
}

} // namespace

bool VSharedMimeInfoReader::ReadTypes(VFile* inFile, std::vector<VRefPtr<VUTI>>& outTypes)
{
    outTypes.clear();
    int64_t size = 0;
    if (inFile == nullptr || inFile->GetSize(&size) != VE_OK || size > kMaxFileSize)
    {
        return false;
    }
    return ReadWith([inFile](VXMLParser& ioParser, IXMLHandler* inRoot)
                    { return ioParser.Parse(inFile, inRoot, XML_ValidationNever); },
                    outTypes);
}

bool VSharedMimeInfoReader::ReadTypes(const void* inData, size_t inSize, std::vector<VRefPtr<VUTI>>& outTypes)
{
    outTypes.clear();
    if (inSize > static_cast<uint64_t>(kMaxFileSize))
    {
        return false;
    }
    return ReadWith([inData, inSize](VXMLParser& ioParser, IXMLHandler* inRoot)
                    { return ioParser.Parse(inData, inSize, inRoot, XML_ValidationNever); },
                    outTypes);
}

} // namespace zorn
