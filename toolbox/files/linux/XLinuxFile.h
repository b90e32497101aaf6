// Portable files use the C and C++ libraries and ICU only; system calls, /proc and glibc
// extensions live in this linux/ back end.
//
// XLinuxFile: the file layer's Linux back end. So far it holds the conversions between the
// toolbox's colon path form and POSIX paths, and the coding of file names at the system boundary,
// which paths, URLs, files and folders share. The file operations themselves come with files.
//
// Choices and limits:
// - Linux has one volume: the root "/", named kRootVolumeName in the colon form ("Root:a:b" is
//   "/a/b"). Other mounts are folders under it. The conversion is lexical: no statfs, no volume
//   table, no look at the disk. A colon path whose first component is another name stands for the
//   folder of that name at the root ("Data:a" is "/Data/a").
// - File names are bytes. They pass through as UTF-8 without Unicode composition or
//   decomposition, because Linux file systems compare bytes and another form names another file.
//   A byte that is not part of well-formed UTF-8 (decoded strictly, as the toolbox's converters
//   do: overlong forms, encoded surrogates, code points past U+10FFFF and truncated sequences are
//   ill-formed) becomes the lone unit U+DC00 + byte (U+DC80..U+DCFF) and goes back to that byte,
//   so every file can be named. Going back refuses (empty result) a text that no byte string
//   gives: one holding a NUL, a lone surrogate outside U+DC80..U+DCFF, or escaped bytes that
//   would themselves form well-formed UTF-8. Texts and byte strings therefore map one to one.
// - Path forms are std::string or VString of any length: no fixed buffers.
#pragma once

#include "toolbox/kernel/strings/VString.h"

#include <cstddef>
#include <string>

namespace zorn
{

class VFilePath;

class XLinuxFile
{
public:
    // The name of the one volume, the root "/", in the colon form. It holds no ':'.
    static constexpr const char16_t* kRootVolumeName = u"Root";

    // File names at the system boundary (above).
    // Decodes inSize bytes of a name or path into outText (replaced).
    static void DecodeNameBytes(const char* inBytes, size_t inSize, VString& outText);
    // Encodes a text into outBytes (replaced); false, with outBytes empty, for a text that no byte
    // string gives.
    static bool EncodeNameBytes(const VString& inText, std::string& outBytes);

    // The bytes of a POSIX path text, empty when the text cannot be encoded.
    static std::string AllocatePosixPathFromString(const VString& inPosixPath);
    // The bytes of a path's POSIX form; empty for an invalid path.
    static std::string AllocatePosixPathFromFilePath(const VFilePath& inPath);
    // A path from the bytes of a full POSIX path; with inIsFolder a '/' is added when missing.
    // A null text clears the path.
    static void GetFilePathFromPosixPath(const char* inPosixPath, bool inIsFolder, VFilePath& outPath);

    // Whether the last component (a trailing '/' ignored) begins with '.'; false for texts shorter
    // than 2 bytes.
    static bool PosixNameBeginsWithDot(const char* inPosixPath);

    // The colon form of a full POSIX text: the root volume's name, then ':' when anything follows
    // the root or the text ends with '/', then the components with '/' and ':' swapped. Empty
    // components and "." vanish, ".." becomes an empty component ("::", one level up), and a text
    // ending in "/", "/." or "/.." (or any text with inIsDirectory) gives a folder path, ending
    // with ':'. False, outHFS empty, when the text does not begin with '/'.
    static bool PosixFullPathToHFS(const VString& inPosixPath, bool inIsDirectory, VString& outHFS);
    // The same from the bytes of a POSIX path, decoded as above; false as well for a null text.
    static bool PosixFullPathToHFS(const char* inPosixPath, bool inIsDirectory, VString& outHFS);
    // The POSIX form of a colon path: the root volume's name gives "/" followed by the rest, any
    // other first component "/" + that name, then '/' and the rest; '/' and ':' are swapped in the
    // names; an empty component ("::") becomes "..". A colon path without ':' names no folder
    // after its volume ("Root" gives "/").
    static void HFSFullPathToPosix(const VString& inHFSPath, VString& outPosix);

    // The canonical absolute form of a POSIX path (realpath(3)), a trailing '/' kept. With
    // inMustExist false, a path that cannot be resolved is resolved up to its longest ancestor
    // that can, and the remaining components are appended ("." dropped, ".." taking off the last
    // component). An empty path gives an empty result. False, with outPath empty, when the path
    // must exist and does not, or when no ancestor resolves (a relative text without '/').
    static bool RealPath(const std::string& inPath, bool inMustExist, std::string& outPath);
};

} // namespace zorn
