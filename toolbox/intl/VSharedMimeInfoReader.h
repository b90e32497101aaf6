// VSharedMimeInfoReader: the system's own uniform type identifiers on Linux, read from
// shared-mime-info's freedesktop.org.xml (installed by the shared-mime-info package; found by
// platform/SharedMimeInfo.h). Each "mime-type" element becomes a VUTI:
// - identifier: the one the table in VSharedMimeInfoReader.cpp gives its MIME type (or one of its
//   aliases), such as "public.jpeg" for "image/jpeg", "public.plain-text" for "text/plain" and
//   "com.adobe.pdf" for "application/pdf"; else "org.freedesktop.mime." followed by the MIME
//   type, '/' read as '.' and every character other than ASCII letters, digits, '.' and '-' as
//   '-' ("org.freedesktop.mime.image.svg-xml" if the table did not name "image/svg+xml");
// - description: the untranslated "comment";
// - MIME types: the type, then its "alias"es;
// - extensions: each "glob" of the form "*.ext" without wildcard in "ext" (other globs name
//   whole file names and are left out). Extensions match without regard to case in the
//   registry, so a case-sensitive glob with an upper-case letter ("*.C" for C++) is left out:
//   it would take the lower-case one ("*.c") of another type;
// - conforms to (temporary parents, linked by VUTIManager): the identifier of each
//   "sub-class-of" (an alias read as its type); then the table's own parents for the type, and
//   the table's media-wide types ("image/*" conforms to "public.image", "audio/*" to
//   "public.audio", "video/*" to "public.movie"); a type with no "sub-class-of" conforms, as
//   shared-mime-info rules, to "text/plain" when it is a text/* type, else to
//   "application/octet-stream" (that is "public.data").
// The table's abstract types ("public.item", "public.content", "public.text", "public.image",
// ...) are made too, with the table's descriptions and parents, so that the usual conformance
// ("public.jpeg" to "public.image" to "public.data" and "public.content") holds.
//
// Choices and limits:
// - Two MIME types that give one identifier (a table row and an alias of another type, or two
//   derived names, which the installed database never has) give two types of that identifier:
//   the registry keeps the first.
// - "inode/*" types (folders, devices) are left out: they are no file contents.
// - A file larger than kMaxFileSize is refused unread; the parse runs under the parser's limits.
// - A malformed file gives no types at all (the parser's error is pushed).
// - The whole file is read once; what the types keep is small (translated comments, magic and
//   other elements are skipped as they are read).
#pragma once

#include "toolbox/intl/VUTI.h"
#include "toolbox/kernel/base/VRefPtr.h"
#include "toolbox/kernel/strings/VString.h"

#include <cstdint>
#include <vector>

namespace zorn
{

class VFile;

class VSharedMimeInfoReader
{
public:
    static constexpr int64_t kMaxFileSize = 64LL * 1024 * 1024;

    // Reads the file into new types, replacing outTypes' content. False, with outTypes empty,
    // when the file cannot be read, is too large or does not parse.
    static bool ReadTypes(VFile* inFile, std::vector<VRefPtr<VUTI>>& outTypes);
    // The same from memory (the file's content).
    static bool ReadTypes(const void* inData, size_t inSize, std::vector<VRefPtr<VUTI>>& outTypes);

    // The identifier of a MIME type by the table, else derived from it (see above).
    static VString IdentifierOfMIMEType(const VString& inMIMEType);
};

} // namespace zorn
