// Portable files use the C and C++ libraries and ICU only; system calls, /proc and glibc
// extensions live in this linux/ back end.
//
// XLinuxLibrary: the loadable-library back end of VLibrary, on dlopen. One per VLibrary, used
// under the VLibrary's lock.
//
// A module is a plain shared object (a file path) or a bundle folder (a folder path):
// - A bundle has the layout Name.ext/Contents/{Info.plist, MacOS/<executable>, Resources/,
//   PlugIns/, Frameworks/, SharedSupport/}. Its executable is Info.plist "CFBundleExecutable"
//   read with the platform bundle reader, which accepts only a plain file name of a regular file
//   in Contents/MacOS, so a bundle never makes us chmod or load a file outside it.
// - A ".framework" folder keeps its content at its top level: the executable is the file named
//   after the framework (Foo.framework/Foo), and Resources/, PlugIns/, Frameworks/ and
//   SharedSupport/ lie beside it. Before loading, its links "Versions/Current", "Resources" and
//   "Foo" are repaired when a copy flattened them into "XSym" text stubs (RepairFrameworkLinks).
//
// Choices made:
// - Every dlopen uses RTLD_LAZY | RTLD_GLOBAL: the modules' symbols are global, as the loaders of
//   plug-ins expect (the design's flag for "global", named here instead of passing its number).
// - A plain library gets read and execute for everyone (0555) added when any of those bits is
//   missing; a framework's executable gets owner read and execute (0500).
// - A failed load pushes a VFileError 'zorn' 1010 for the module's path with "reason" = the text
//   of dlerror().
// - "XSym" stubs: a regular file of at most kMaxXSymStubSize bytes beginning with "XSym"; the
//   fourth line ('\n' separated) is the link's target. Only a relative target that stays inside
//   the framework folder, resolved from the entry's folder without following links, is made into
//   a link; any other stub (fewer than four lines, absolute, empty, climbing out) is left as it
//   is and 'zorn' 617 is pushed for it. The repair stops at the first error; loading goes on.
//   The link is made under a temporary sibling name and renamed over the stub, so the stub never
//   disappears without its link.
#pragma once

#include "toolbox/files/VFileError.h"
#include "toolbox/files/VFilePath.h"
#include "toolbox/kernel/errors/VError.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace zorn
{

class VString;

constexpr VError VE_LIBRARY_CANNOT_LOAD = MakeVError(kCOMPONENT_ZORN, 1010);
// A stub that cannot be made into a link: the file layer's 617, an alias that cannot be resolved.
constexpr VError VE_LIBRARY_BAD_XSYM_STUB = VE_FILE_ALIAS_TO_FOLDER;

class XLinuxLibrary
{
public:
    XLinuxLibrary() = default;
    ~XLinuxLibrary() { Unload(); }
    XLinuxLibrary(const XLinuxLibrary&) = delete;
    XLinuxLibrary& operator=(const XLinuxLibrary&) = delete;

    // Loads the module at inPath (rules above); pushes 1010 on failure.
    bool Load(const VFilePath& inPath);
    // Closes the handle and forgets the bundle.
    void Unload();
    // The address of an exported symbol (its name in UTF-8), or null.
    void* GetProcAddress(const VString& inName) const;

    bool HasBundle() const { return fHasBundle; }
    // The POSIX path of the bundle's executable; empty without a bundle.
    const std::string& GetExecutablePosixPath() const { return fExecutablePath; }
    // The POSIX path (ending with '/') of a bundle folder kind: 1 the bundle, 2 the executable's
    // folder, 3 resources, 5 plug-ins, 6 frameworks, 7 support files. Empty for any other kind or
    // without a bundle.
    std::string GetBundleFolderPosixPath(uint32_t inKind) const;

    // What a file's content says as an "XSym" stub.
    enum class EXSymStub
    {
        kNotAStub, // does not begin with "XSym"
        kTarget,   // a usable target, in outTarget
        kDamaged,  // fewer than four lines
        kOutside   // a target that is empty, absolute, holds NUL or leaves the framework
    };
    static constexpr size_t kMaxXSymStubSize = 64 * 1024;
    // Reads a stub's content. inEntryFolder is the entry's folder relative to the framework
    // folder, components separated by '/', empty for the top level ("Versions" for
    // "Versions/Current").
    static EXSymStub ReadXSymStub(std::string_view inContent, std::string_view inEntryFolder,
                                  std::string& outTarget);
    // Repairs the framework's flattened links (rules above); inFrameworkFolder is its POSIX path.
    // Returns the first error, already pushed.
    static VError RepairFrameworkLinks(const std::string& inFrameworkFolder);

private:
    bool _LoadBundle(const VFilePath& inPath);
    bool _Open(const std::string& inPosixPath, const VFilePath& inReportedPath);

    void* fHandle = nullptr;
    bool fHasBundle = false;
    bool fIsFramework = false;
    std::string fBundleFolder; // POSIX, ends with '/'
    std::string fExecutablePath;
};

} // namespace zorn
