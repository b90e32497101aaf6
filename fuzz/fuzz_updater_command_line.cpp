// The updater's command line as main receives it: the input split at NUL bytes into the arguments
// after the program path, handed to the entry point, which stores them for the process, starts the
// engine with the program's flags (the parse, the checks and the relative paths resolved against
// the working folder) and stops before the run, so nothing is waited for or changed. The working
// folder is an empty temporary folder. Besides the sanitizers' checks:
// - the exit status is 0 (accepted, or help or version printed) or 1 (refused);
// - an accepted update names two bundles as absolute folder paths without "." or ".." steps, the
//   install location is the outdated bundle, and a log folder, when given, is such a path too;
// - the parse creates nothing in the working folder.
#include "fuzz/FuzzTasks.h"
#include "toolbox/files/VFilePath.h"
#include "toolbox/files/linux/XLinuxFile.h"
#include "updater/UpdaterEntry.h"
#include "updater/VUpdateEngine.h"

#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

using namespace zorn;
using zorn::fuzz::Check;

namespace
{

namespace fs = std::filesystem;

class FuzzEngine : public VUpdateEngine
{
public:
    using VUpdateEngine::fInstallLocation;
    using VUpdateEngine::fLogFolder;
    using VUpdateEngine::fOutdatedBundle;
    using VUpdateEngine::fUpToDateBundle;
};

char sFolderToRemove[4096];

void RemoveFolder()
{
    std::error_code ignored;
    fs::remove_all(sFolderToRemove, ignored);
}

// The empty working folder of every run, made once.
const std::string& WorkingFolder()
{
    static const std::string sFolder = []
    {
        std::string pattern = (fs::temp_directory_path() / "zorn-fuzz-updater-XXXXXX").string();
        Check(::mkdtemp(pattern.data()) != nullptr && pattern.size() < sizeof(sFolderToRemove));
        std::strcpy(sFolderToRemove, pattern.c_str());
        std::atexit(&RemoveFolder);
        return pattern;
    }();
    return sFolder;
}

// The path as the system receives it: absolute, a folder's (a final '/'), with no empty, "." or
// ".." step.
bool IsPlainFolderPath(const VFilePath& inPath)
{
    if (!inPath.IsValid() || !inPath.IsFolder())
    {
        return false;
    }
    const std::string posix = XLinuxFile::AllocatePosixPathFromFilePath(inPath);
    if (posix.empty() || posix.front() != '/' || posix.back() != '/')
    {
        return false;
    }
    // Each step lies between two slashes.
    for (size_t start = 1; start < posix.size();)
    {
        const size_t slash = posix.find('/', start);
        const std::string step = posix.substr(start, slash - start);
        if (step.empty() || step == "." || step == "..")
        {
            return false;
        }
        start = slash + 1;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* inData, size_t inSize)
{
    const std::string& folder = WorkingFolder();
    const zorn::fuzz::StWorkingFolder working(folder.c_str());
    // The arguments as main has them: NUL-terminated byte strings after the program's path.
    std::vector<std::string> texts{"/opt/Updater.app/Contents/MacOS/updater"};
    const char* bytes = reinterpret_cast<const char*>(inData);
    size_t start = 0;
    for (size_t i = 0; i <= inSize && texts.size() < 64; ++i)
    {
        if (i == inSize || bytes[i] == '\0')
        {
            texts.emplace_back(bytes + start, i - start);
            start = i + 1;
        }
    }
    std::vector<char*> argv;
    for (std::string& text : texts)
    {
        argv.push_back(text.data());
    }
    argv.push_back(nullptr);

    Check(PrepareUpdaterProcess(static_cast<int>(texts.size()), argv.data()));
    {
        FuzzEngine engine;
        const int32_t status = StartAndRunUpdater(engine, EUpdaterStop::kBeforeTheRun);
        Check(status == 0 || status == 1);
        if (status == 0 && engine.fOutdatedBundle.IsValid())
        {
            Check(IsPlainFolderPath(engine.fOutdatedBundle));
            Check(IsPlainFolderPath(engine.fUpToDateBundle));
            Check(XLinuxFile::AllocatePosixPathFromFilePath(engine.fInstallLocation) ==
                  XLinuxFile::AllocatePosixPathFromFilePath(engine.fOutdatedBundle));
            Check(!engine.fLogFolder.IsValid() || IsPlainFolderPath(engine.fLogFolder));
        }
    }
    VProcessIPC::SetCommandLine(0, nullptr);
    Check(fs::is_empty(folder));
    return 0;
}
