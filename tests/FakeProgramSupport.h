// Fake desktop programs for the tests of alerts and of opening files: shell scripts put first on
// PATH that record how they were started and behave as the test scripts them, so no real zenity,
// kdialog or xdg-open is needed.
//
// The fake dialog program (installed as zenity and as kdialog) writes its name and arguments,
// NUL-separated, to <folder>/last.args and <folder>/<pid>.args, prints FAKE_DIALOG_OUTPUT (when
// set) on standard output, and exits with FAKE_DIALOG_EXIT ("kill": it kills itself with SIGKILL).
// With FAKE_DIALOG_WAIT set it stays open instead: it writes <folder>/<pid>.ready, and on SIGTERM
// writes <folder>/<pid>.term and exits.
#pragma once

#include "tests/TestTime.h"

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace zorn::test
{

// Sets (or unsets, with nullopt) an environment variable for the life of the object.
class ScopedEnvironmentVariable
{
public:
    ScopedEnvironmentVariable(const char* inName, std::optional<std::string> inValue) : fName(inName)
    {
        if (const char* old = std::getenv(inName))
        {
            fOld = old;
        }
        Set(inValue);
    }
    ~ScopedEnvironmentVariable() { Set(fOld); }
    ScopedEnvironmentVariable(const ScopedEnvironmentVariable&) = delete;
    ScopedEnvironmentVariable& operator=(const ScopedEnvironmentVariable&) = delete;

private:
    void Set(const std::optional<std::string>& inValue)
    {
        if (inValue)
        {
            ::setenv(fName.c_str(), inValue->c_str(), 1);
        }
        else
        {
            ::unsetenv(fName.c_str());
        }
    }

    std::string fName;
    std::optional<std::string> fOld;
};

inline std::string MakeTemporaryFolder()
{
    std::string pattern = (std::filesystem::temp_directory_path() / "zorn-fake-XXXXXX").string();
    char* made = ::mkdtemp(pattern.data());
    return made != nullptr ? std::string(made) : std::string();
}

inline void WriteScript(const std::string& inPath, const std::string& inText)
{
    std::ofstream(inPath) << inText;
    ::chmod(inPath.c_str(), 0755);
}

inline std::string ReadWholeFile(const std::string& inPath)
{
    std::ifstream file(inPath, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

// The NUL-separated items of a file written with printf '%s\0'.
inline std::vector<std::string> ReadRecordedArguments(const std::string& inPath)
{
    std::vector<std::string> items;
    std::string text = ReadWholeFile(inPath);
    size_t start = 0;
    for (size_t end; (end = text.find('\0', start)) != std::string::npos; start = end + 1)
    {
        items.push_back(text.substr(start, end - start));
    }
    return items;
}

inline bool WaitForFile(const std::string& inPath,
                        std::chrono::milliseconds inTimeout = std::chrono::seconds(10))
{
    auto deadline = DeadlineIn(inTimeout);
    while (!std::filesystem::exists(inPath))
    {
        if (std::chrono::steady_clock::now() > deadline)
        {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

inline std::string FakeDialogScript(const std::string& inRecordFolder)
{
    return "#!/bin/sh\n"
           "dir='" +
           inRecordFolder +
           "'\n"
           // Each record is written under a temporary name and renamed, so that a test that sees
           // the file never reads it half-written.
           "printf '%s\\0' \"${0##*/}\" \"$@\" > \"$dir/.$$.own\"\n"
           "printf '%s\\0' \"${0##*/}\" \"$@\" > \"$dir/.$$.last\"\n"
           "/bin/mv \"$dir/.$$.own\" \"$dir/$$.args\"\n"
           "/bin/mv \"$dir/.$$.last\" \"$dir/last.args\"\n"
           "if [ -n \"$FAKE_DIALOG_WAIT\" ]; then\n"
           "  trap 'echo term > \"$dir/$$.term\"; exit 143' TERM\n"
           "  echo $$ > \"$dir/.$$.tmp\" && /bin/mv \"$dir/.$$.tmp\" \"$dir/$$.ready\"\n"
           "  /bin/sleep 30 & wait\n"
           "  exit 0\n"
           "fi\n"
           "[ -n \"$FAKE_DIALOG_OUTPUT\" ] && printf '%s\\n' \"$FAKE_DIALOG_OUTPUT\"\n"
           "[ \"$FAKE_DIALOG_EXIT\" = kill ] && kill -KILL $$\n"
           "exit ${FAKE_DIALOG_EXIT:-0}\n";
}

// A folder holding the fake dialog program, as "zenity" and "kdialog" in <folder>/both, and as
// "kdialog" alone in <folder>/kdialog. Records go to the folder itself. The constructor puts
// <folder>/both alone on PATH and sets DISPLAY; everything is restored by the destructor.
class FakeDialogFolder
{
public:
    FakeDialogFolder()
        : fFolder(MakeTemporaryFolder()), fPath("PATH", fFolder + "/both"), fDisplay("DISPLAY", ":99"),
          fWayland("WAYLAND_DISPLAY", std::nullopt), fExit("FAKE_DIALOG_EXIT", std::nullopt),
          fOutput("FAKE_DIALOG_OUTPUT", std::nullopt), fWait("FAKE_DIALOG_WAIT", std::nullopt)
    {
        std::filesystem::create_directory(fFolder + "/both");
        std::filesystem::create_directory(fFolder + "/kdialog");
        WriteScript(fFolder + "/both/zenity", FakeDialogScript(fFolder));
        WriteScript(fFolder + "/both/kdialog", FakeDialogScript(fFolder));
        WriteScript(fFolder + "/kdialog/kdialog", FakeDialogScript(fFolder));
    }
    ~FakeDialogFolder()
    {
        std::error_code ignored;
        std::filesystem::remove_all(fFolder, ignored);
    }
    FakeDialogFolder(const FakeDialogFolder&) = delete;
    FakeDialogFolder& operator=(const FakeDialogFolder&) = delete;

    const std::string& Folder() const { return fFolder; }
    // The program name and arguments of the last dialog; empty when none ran.
    std::vector<std::string> LastArguments() const { return ReadRecordedArguments(fFolder + "/last.args"); }

private:
    std::string fFolder;
    ScopedEnvironmentVariable fPath;
    ScopedEnvironmentVariable fDisplay;
    ScopedEnvironmentVariable fWayland;
    ScopedEnvironmentVariable fExit;
    ScopedEnvironmentVariable fOutput;
    ScopedEnvironmentVariable fWait;
};

} // namespace zorn::test
