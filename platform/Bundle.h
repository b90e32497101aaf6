// The running program's bundle: the folder that holds it and the values of its Info.plist.
//
// An application is a bundle folder Name.app/Contents/{Info.plist, MacOS/<executable>,
// Resources/...}. The running program finds its bundle from /proc/self/exe: an executable at
// .../Name.app/Contents/MacOS/exe belongs to .../Name.app (the folder above "Contents"; its
// extension is not checked). A program anywhere else uses its own folder as its bundle and has no
// Info.plist values. Info.plist is read once, on first use, with the property-list reader of this
// folder, so these functions work before main. An Info.plist that is missing, malformed or whose
// root is not a dict gives no values. All functions may be called from any thread.
#pragma once

#include "platform/PropertyList.h"

#include <optional>
#include <string>
#include <string_view>

namespace zorn::platform
{

// The bundle folder of an executable (no trailing '/', except for the root "/"), and whether the
// executable lies inside a bundle.
std::string BundleFolderOfExecutable(std::string_view inExecutablePath, bool& outInsideBundle);

// The running program's executable file, resolved; empty when the system does not tell.
std::string GetMainExecutablePath();

// The main bundle's folder (see BundleFolderOfExecutable), or the folder set for tests.
std::string GetMainBundleFolder();

// Whether the main bundle is a real bundle, whose Contents/Info.plist is read.
bool IsMainBundleInsideBundle();

// A copy of a top-level value of the main bundle's Info.plist; nullopt when it has none.
std::optional<PlistValue> GetMainBundleInfoValue(std::string_view inKey);

// A top-level string value of the main bundle's Info.plist; nullopt when it is absent or not a
// string.
std::optional<std::string> GetMainBundleInfoString(std::string_view inKey);

// Reads <inBundleFolder>/Contents/Info.plist. False, with a short reason in outError when given,
// when the file is missing or unreadable, malformed, or its root is not a dict.
bool ReadBundleInfo(std::string_view inBundleFolder, PlistValue& outInfo, std::string* outError = nullptr);

// The path of a bundle's executable: <bundle>/Contents/MacOS/<CFBundleExecutable>. The bundle may
// come from elsewhere (an update), so the name must be a plain name ('/' nowhere, not "." or "..")
// of a regular file that is not a symbolic link: the path never leads outside Contents/MacOS. Its
// execute bits are not checked. Empty, with a short reason in outError when given, otherwise.
std::string GetBundleExecutablePath(std::string_view inBundleFolder, std::string* outError = nullptr);

// For tests: makes inFolder the main bundle, read as a bundle (its Contents/Info.plist is read
// anew). An empty text returns to the running program's own bundle.
void SetMainBundleFolderForTests(std::string_view inFolder);

} // namespace zorn::platform
