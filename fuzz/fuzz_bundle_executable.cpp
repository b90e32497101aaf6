// A new bundle's Info.plist as the updater reads it for the executable's name: arbitrary bytes as
// Contents/Info.plist of a bundle whose Contents/MacOS holds a regular file "Hello" and a link
// "Link" to a file outside the bundle (both without execute bits), then the client customization
// that gives the executable its execute bits. Besides the sanitizers' checks:
// - the customization never fails: a bundle it cannot read is left alone;
// - "Hello" gets its execute bits exactly when the property list reads as a dict whose
//   "CFBundleExecutable" is the string "Hello"; nothing else changes, and the file outside the
//   bundle never does;
// - the bundle's executable path is <bundle>/Contents/MacOS/Hello then, and empty with a reason
//   otherwise.
#include "fuzz/FuzzTasks.h"
#include "platform/Bundle.h"
#include "platform/PropertyList.h"
#include "toolbox/files/VFilePath.h"
#include "toolbox/json/VJSONObject.h"
#include "toolbox/kernel/errors/VErrorContext.h"
#include "updater/VUpdateEngine.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

using namespace zorn;

namespace
{

namespace fs = std::filesystem;

using fuzz::Check;

class FuzzEngine : public VUpdateEngine
{
public:
    using VUpdateEngine::_FinishMacClientCustomization;
    using VUpdateEngine::fUpToDateBundle;
};

struct Setup
{
    FuzzEngine* fEngine; // lives as long as the program: its process stays started
    std::string fBundle;
    std::string fExecutable;
    std::string fOutside;
};

char sFolderToRemove[4096];

void RemoveFolder()
{
    std::error_code ignored;
    fs::remove_all(sFolderToRemove, ignored);
}

const Setup& GetSetup()
{
    static const Setup sSetup = []
    {
        Setup setup{};
        setup.fEngine = new FuzzEngine();
        Check(setup.fEngine->VProcess::Init(0));
        std::string folder = (fs::temp_directory_path() / "zorn-fuzz-bundle-XXXXXX").string();
        Check(::mkdtemp(folder.data()) != nullptr && folder.size() < sizeof(sFolderToRemove));
        std::strcpy(sFolderToRemove, folder.c_str());
        std::atexit(&RemoveFolder);
        setup.fBundle = folder + "/New.app";
        setup.fExecutable = setup.fBundle + "/Contents/MacOS/Hello";
        setup.fOutside = folder + "/outside";
        fs::create_directories(setup.fBundle + "/Contents/MacOS");
        std::ofstream(setup.fExecutable) << "#!/bin/sh\n";
        std::ofstream(setup.fOutside) << "#!/bin/sh\n";
        fs::create_symlink("../../../outside", setup.fBundle + "/Contents/MacOS/Link");
        setup.fEngine->fUpToDateBundle = VFilePath(VString((setup.fBundle + "/").c_str()), FPS_POSIX);
        return setup;
    }();
    return sSetup;
}

mode_t ModeOf(const std::string& inPath)
{
    struct stat status = {};
    Check(::stat(inPath.c_str(), &status) == 0);
    return status.st_mode & 07777;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* inData, size_t inSize)
{
    const Setup& setup = GetSetup();
    const std::string_view bytes(reinterpret_cast<const char*>(inData), inSize);
    {
        std::ofstream out(setup.fBundle + "/Contents/Info.plist", std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }
    Check(::chmod(setup.fExecutable.c_str(), 0644) == 0 && ::chmod(setup.fOutside.c_str(), 0644) == 0);

    platform::PlistValue root;
    const bool names =
        platform::ParsePropertyList(bytes, root) && root.GetType() == platform::PlistValue::Type::Dict &&
        root.Find("CFBundleExecutable") != nullptr && root.Find("CFBundleExecutable")->IsString() &&
        root.Find("CFBundleExecutable")->GetText() == "Hello";

    std::string reason;
    const std::string path = platform::GetBundleExecutablePath(setup.fBundle, &reason);
    Check(names ? path == setup.fExecutable : path.empty() && !reason.empty());

    StErrorContextInstaller context(false);
    VRefPtr<VJSONObject> info(new VJSONObject(), true);
    Check(setup.fEngine->_FinishMacClientCustomization(*info));
    Check(context.GetContext()->IsEmpty());
    Check(ModeOf(setup.fExecutable) == (names ? 0755 : 0644));
    Check(ModeOf(setup.fOutside) == 0644);
    return 0;
}
