// VFilePath: the value that names a file or a folder everywhere in the toolbox. It holds one text
// in the colon form and a validity flag, and never touches the disk.
//
// The colon form: the volume name first, components separated by ':', a folder path ending with
// ':' ("Root:Users:me:" a folder, "Root:Users:me:notes.txt" a file, "Root:" a volume root). In
// the colon form "::" goes up one level. POSIX text is read and written by conversion at the
// edges (XLinuxFile: the root "/" is the volume kRootVolumeName).
//
// Choices and limits:
// - A valid path is not empty, does not begin with ':', holds no NUL, no "::" and no component
//   "." or "..": every way of setting a path resolves "::", "." and ".." (in the colon form as in
//   POSIX text, where "a/." and "a/.." read like "a/./" and "a/../"), and a path that climbs above
//   its volume is invalid. What a path names on disk is therefore what its text says, and a path
//   whose text begins with a folder's text lies inside that folder.
// - A relative text may climb above its base ("../a", ":a"): confinement is the caller's test,
//   IsSameOrChildOf against the root it trusts.
// - Identity and containment (IsChildOf, IsChildOfRawPath, IsSameOrChildOf, GetRelativePath)
//   compare code units exactly, as Linux file systems do. MatchExtension goes through the current
//   task's collator.
// - Invalid input never raises: it leaves the path invalid, and changes on an invalid path do
//   nothing and answer false. A name that would add components or leave an empty, "." or ".."
//   component (a ':' or NUL in it, an empty name, "." or "..") is refused with 'zorn' 614 and
//   changes nothing; so is an extension holding ':' or NUL.
#pragma once

#include "toolbox/kernel/base/VObject.h"
#include "toolbox/kernel/strings/VString.h"

#include <string>

namespace zorn
{

class VFolder;

enum FilePathStyle
{
    FPS_NATIVE = 0, // the colon form
    FPS_POSIX = 1,  // '/' separated; full paths begin with '/'
};

class VFilePath : public VObject
{
public:
    // An empty, invalid path.
    VFilePath() = default;
    VFilePath(const VFilePath& inOther) = default;
    VFilePath& operator=(const VFilePath& inOther) = default;
    // FromFullPath (the flag is accepted and not used).
    explicit VFilePath(const VString& inFullPath, FilePathStyle inStyle = FPS_NATIVE, bool inUnused = false);
    // FromRelativePath.
    VFilePath(const VFilePath& inBase, const VString& inRelativePath, FilePathStyle inStyle = FPS_NATIVE,
              bool inFullPathForbidden = false);
    ~VFilePath() override = default;

    VFilePath& FromFilePath(const VFilePath& inOther);
    // A full path: native, not empty and not beginning with ':'; POSIX, beginning with '/'
    // (converted to the colon form). The flag is accepted and not used.
    VFilePath& FromFullPath(const VString& inFullPath, FilePathStyle inStyle = FPS_NATIVE,
                            bool inUnused = false);
    // The relative text joined to the base folder: POSIX "a/b" is "a:b", each "../" one level up;
    // native "a:b" as it stands, a leading ':' one level up ("Root:x:" and ":a" give "Root:a").
    // A POSIX text beginning with '/' is a full path, or invalid with inFullPathForbidden. The
    // result is invalid when the base is no valid folder.
    VFilePath& FromRelativePath(const VFilePath& inBase, const VString& inRelativePath,
                                FilePathStyle inStyle = FPS_NATIVE, bool inFullPathForbidden = false);
    // The same from a folder's path (built with folders).
    VFilePath& FromRelativePath(const VFolder& inBase, const VString& inRelativePath,
                                FilePathStyle inStyle = FPS_NATIVE, bool inFullPathForbidden = false);
    void Clear();

    // Checks on a text. BadChar: it holds a NUL. ValidFullPath: native, not empty and the first
    // character is not ':'; POSIX, the first character is '/'. ValidRelativePath: POSIX, it does
    // not begin with '/'; native, always.
    static bool BadChar(const VString& inPath, FilePathStyle inStyle = FPS_NATIVE, bool inUnused = false);
    static bool ValidFullPath(const VString& inPath, FilePathStyle inStyle = FPS_NATIVE);
    static bool ValidRelativePath(const VString& inPath, FilePathStyle inStyle = FPS_NATIVE);
    // Normalises a '/'-separated text in place: runs of '/' become one, "." components go, and a
    // name followed by ".." goes with it. ".." that has no name before it stays ("../a", "/.."). A
    // text that ended with '/', "." or ".." keeps or gets a trailing '/'.
    static void ResolveRelativePosix(VString& ioPath);

    // Queries: false or an empty text on an invalid path unless said.
    bool IsValid() const { return fIsValid; }
    bool IsFolder() const;
    bool IsFile() const;
    // A ':' stands before the last character.
    bool HasParent() const;
    // The text, also when invalid.
    void GetPath(VString& outPath) const { outPath.FromString(fPath); }
    // Native: the text (also when invalid); POSIX: the POSIX form.
    VString GetPath(FilePathStyle inStyle) const;
    void GetPosixPath(VString& outPath) const;
    // The bytes by which the system names the path (its POSIX form, escaped bytes of names given
    // back as they were); empty for an invalid path.
    std::string GetSystemPathBytes() const;
    // The path of the bytes of a full system path; with inIsFolder a folder path.
    static VFilePath FromSystemPathBytes(const char* inBytes, bool inIsFolder);

    // Components counting the volume ("Root:a:b:" and "Root:a:f" give 3, "Root:" 1).
    int32_t GetDepth() const;
    // The last component without its ':' ("Root:" gives "Root"; a text without ':' is whole).
    void GetName(VString& outName) const;
    // For a file, its name, without the text from its last '.' on unless inWithExtension.
    void GetFileName(VString& outName, bool inWithExtension = true) const;
    // For a folder, its name, without the text from its last '.' on unless inWithExtension; for a
    // volume root the whole text, ':' included.
    void GetFolderName(VString& outName, bool inWithExtension = true) const;
    // What follows the last '.' of the last component (".profile" gives "profile").
    void GetExtension(VString& outExtension) const;
    // An empty extension matches a name without '.'; any other matches when the text ends with
    // '.' and it (before the final ':' of a folder), compared by the current task's collator.
    bool MatchExtension(const VString& inExtension, bool inDiacritical = false) const;

    // Both valid, the base a folder, this text beginning with the base's and longer.
    bool IsChildOf(const VFilePath& inBase) const;
    bool IsChildOfRawPath(const VFilePath& inBase) const;
    // The same, equal texts included.
    bool IsSameOrChildOf(const VFilePath& inBase) const;
    // What follows the base folder's text, and true; else the whole text and false.
    bool GetRelativePath(const VFilePath& inBase, VString& outRelative) const;
    // The same in POSIX form (a relative text by the relative rules, a whole path as a full POSIX
    // path; empty for an invalid path).
    bool GetRelativePosixPath(const VFilePath& inBase, VString& outRelative) const;

    // Changes: nothing on an invalid path; each answers the validity flag.
    // The parent folder; a volume root (or a text without ':') becomes empty and invalid.
    bool ToParent();
    // A file's folder; a folder stays; a text without ':' becomes empty and invalid.
    bool ToFolder();
    bool GetParent(VFilePath& outParent) const;
    bool GetFolder(VFilePath& outFolder) const;
    // Only on a folder: appends the name and ':' (a sub-folder) or the name alone (a file in it).
    bool ToSubFolder(const VString& inName);
    bool ToSubFile(const VString& inName);
    // Replaces the last component, keeping a folder a folder. A path whose last component cannot
    // be cut (a volume root, a text without ':') becomes empty and invalid.
    bool SetName(const VString& inName);
    // On a folder, adds the name (a file in it); on a file, replaces its name, keeping the old
    // extension unless inWithExtension.
    bool SetFileName(const VString& inName, bool inWithExtension = true);
    // Only on a folder: replaces its name, keeping the old extension unless inWithExtension.
    bool SetFolderName(const VString& inName, bool inWithExtension = true);
    // Replaces, adds (an empty one: removes) the extension of the last component.
    bool SetExtension(const VString& inExtension);
    bool SetFileExtension(const VString& inExtension);
    bool SetFolderExtension(const VString& inExtension);
    // Removes spaces (as the current task's international manager tells them) at both ends and
    // around every ':', then resolves the text again.
    bool RemoveBlanks();

    using VObject::DebugDump;
    // The path text, as VString dumps itself.
    CharSet DebugDump(char* ioBuffer, int& ioSize) const override;

private:
    // Resolves "::", "." and ".." in a colon text; false when it climbs above its volume, is
    // empty, begins with ':', or has "." or ".." as its volume.
    static bool _Resolve(VString& ioPath);
    // Takes a colon text: resolved, valid when that succeeds and it holds no NUL.
    void _SetNative(const VString& inText);
    // Position (1-based) of the last ':' before the last character; 0 when none.
    int32_t _ParentColon() const;
    // Position (1-based) where the last component begins.
    int32_t _LastComponentStart() const;
    // Replaces the last component (and a folder's final ':') with inComponent after checking it;
    // false with 'zorn' 614 when it is no acceptable name.
    bool _ReplaceLastComponent(const VString& inComponent);
    // The name followed by '.' and the present extension, unless inWithExtension or there is none.
    VString _NameWithOldExtension(const VString& inName, bool inWithExtension) const;
    // Replaces, adds or (empty) removes the extension of the last component.
    bool _ChangeExtension(const VString& inExtension);

    VString fPath;
    bool fIsValid = false;
};

} // namespace zorn
