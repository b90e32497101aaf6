// The log folder path as the updater takes it: arbitrary bytes as the value of "--log-dir" (next
// to two bundles), decoded as main's arguments are, parsed by the updater's command line with a
// temporary folder as the working folder; then, when the folder lies inside that temporary
// folder, the run's log file is opened there as the run does. Besides the sanitizers' checks:
// - a refused value leaves no log folder; an accepted one is an absolute folder path;
// - opening the log either fails (nothing, or the updater's log error, on the context) or leaves
//   exactly one "<date>_<time>_log_1.txt" file, in that folder; nothing is made outside the
//   temporary folder.
#include "fuzz/FuzzTasks.h"
#include "toolbox/files/VFilePath.h"
#include "toolbox/files/linux/XLinuxFile.h"
#include "toolbox/kernel/errors/VErrorContext.h"
#include "toolbox/process/VCommandLineParser.h"
#include "updater/UpdaterErrors.h"
#include "updater/VUpdateEngine.h"

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

using namespace zorn;

namespace
{

namespace fs = std::filesystem;

using zorn::fuzz::Check;

class FuzzEngine : public VUpdateEngine
{
public:
    using VUpdateEngine::_DeInitLog;
    using VUpdateEngine::_InitLog;
    using VUpdateEngine::DoParseCommandLine;
    using VUpdateEngine::fLogFolder;
};

char sFolderToRemove[4096];

void RemoveFolder()
{
    std::error_code ignored;
    fs::remove_all(sFolderToRemove, ignored);
}

struct Setup
{
    FuzzEngine* fEngine; // lives as long as the program: its process stays started
    std::string fFolder; // the working folder
};

const Setup& GetSetup()
{
    static const Setup sSetup = []
    {
        Setup setup{};
        setup.fEngine = new FuzzEngine();
        Check(setup.fEngine->VProcess::Init(16));
        std::string folder = (fs::temp_directory_path() / "zorn-fuzz-logdir-XXXXXX").string();
        Check(::mkdtemp(folder.data()) != nullptr && folder.size() < sizeof(sFolderToRemove));
        std::strcpy(sFolderToRemove, folder.c_str());
        std::atexit(&RemoveFolder);
        setup.fFolder = folder;
        return setup;
    }();
    return sSetup;
}

const std::regex kLogName(R"(\d{4}-\d\d-\d\d_\d\d-\d\d-\d\d_log_1\.txt)");

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* inData, size_t inSize)
{
    const Setup& setup = GetSetup();
    const zorn::fuzz::StWorkingFolder working(setup.fFolder.c_str());
    // As the process decodes main's arguments.
    const std::string option = "--log-dir=" + std::string(reinterpret_cast<const char*>(inData), inSize);
    VString value;
    value.FromBlock(option.data(), option.size(), CharSet::VTC_UTF_8);
    // The parser keeps the list: it must outlive the parse.
    const std::vector<VString> arguments{VString("/opt/Updater.app/Contents/MacOS/updater"), value,
                                         VString("/a/Old.app"), VString("/b/New.app")};
    VCommandLineParser parser(arguments);
    VCommandLineParser::Streams streams;
    parser.SetStreamsForTesting(&streams);
    FuzzEngine& engine = *setup.fEngine;
    engine.fLogFolder.Clear();
    const int32_t parsed = engine.DoParseCommandLine(parser);
    Check(parsed == 0 || parsed == 1);
    if (parsed != 0)
    {
        Check(!engine.fLogFolder.IsValid());
        return 0;
    }
    if (!engine.fLogFolder.IsValid())
    {
        return 0;
    }
    Check(engine.fLogFolder.IsFolder());
    const std::string posix = XLinuxFile::AllocatePosixPathFromFilePath(engine.fLogFolder);
    Check(!posix.empty() && posix.front() == '/' && posix.back() == '/');
    // Only a folder inside the working folder is made: the steps are folded, so the prefix says it.
    if (posix.compare(0, setup.fFolder.size() + 1, setup.fFolder + "/") != 0 ||
        posix.find("/../") != std::string::npos)
    {
        return 0;
    }
    {
        StErrorContextInstaller context(false, true);
        const bool started = engine._InitLog();
        engine._DeInitLog();
        if (started)
        {
            Check(context.GetContext()->IsEmpty());
            std::vector<std::string> files;
            for (const auto& entry : fs::directory_iterator(posix))
            {
                files.push_back(entry.path().filename().string());
            }
            Check(files.size() == 1 && std::regex_match(files[0], kLogName));
        }
        else
        {
            Check(context.GetContext()->IsEmpty() || context.GetLastError() == VE_UPDATER_LOG_NOT_STARTED);
        }
    }
    for (const auto& entry : fs::directory_iterator(setup.fFolder))
    {
        std::error_code ignored;
        fs::remove_all(entry.path(), ignored);
    }
    return 0;
}
