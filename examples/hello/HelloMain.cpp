// Hello.app, the example application that updates itself with the updater.
//
// - "hello --update-from <New.app> --log-dir <dir>" starts the updater with
//   "--pid=<own pid> --caller-log=1 --log-dir=<dir> <own bundle> <New.app>", reads its standard
//   output until the line "waitquit,-1" (the updater is ready to wait for this process), and quits
//   with 0; 1 when the updater could not be started or ended before saying so.
// - Started any other way (the updater restarts it through its opener), it appends
//   "<version> started <pid>" to hello-marker.txt in the folder that holds its bundle, then runs
//   until SIGTERM or SIGINT.
//
// The updater is the one of this build (its path is compiled in); the environment variable
// HELLO_UPDATER names another one. Only the platform layer is used, for a small program.
#include "platform/Bundle.h"
#include "platform/ChildProcess.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace
{

int UpdateFrom(const std::string& inNewBundle, const std::string& inLogFolder)
{
    const char* chosen = std::getenv("HELLO_UPDATER");
    const std::string updater = chosen != nullptr && *chosen != '\0' ? chosen : HELLO_UPDATER;
    int pipeEnds[2];
    if (pipe2(pipeEnds, O_CLOEXEC) != 0)
    {
        std::perror("hello: pipe");
        return 1;
    }
    zorn::platform::SpawnSettings settings;
    settings.fStandardOutput = pipeEnds[1];
    const std::vector<std::string> arguments{"--pid=" + std::to_string(getpid()), "--caller-log=1",
                                             "--log-dir=" + inLogFolder,
                                             zorn::platform::GetMainBundleFolder(), inNewBundle};
    int error = 0;
    const pid_t child = zorn::platform::SpawnProgram(updater, arguments, settings, &error);
    close(pipeEnds[1]);
    if (child < 0)
    {
        std::fprintf(stderr, "hello: cannot start %s: %s\n", updater.c_str(), std::strerror(error));
        close(pipeEnds[0]);
        return 1;
    }
    // The updater goes on after this process has quit: nobody here waits for it.
    FILE* output = fdopen(pipeEnds[0], "r");
    char line[256];
    bool ready = false;
    while (!ready && output != nullptr && std::fgets(line, sizeof(line), output) != nullptr)
    {
        ready = std::strcmp(line, "waitquit,-1\n") == 0;
    }
    if (output != nullptr)
    {
        std::fclose(output);
    }
    if (!ready)
    {
        std::fprintf(stderr, "hello: the updater ended before it was ready to update\n");
        return 1;
    }
    std::printf("Hello %s quits for its update\n", HELLO_VERSION);
    return 0;
}

int RunUntilTerminated()
{
    sigset_t stops;
    sigemptyset(&stops);
    sigaddset(&stops, SIGTERM);
    sigaddset(&stops, SIGINT);
    sigprocmask(SIG_BLOCK, &stops, nullptr);

    std::string marker = zorn::platform::GetMainBundleFolder();
    marker.erase(marker.rfind('/') + 1);
    marker += "hello-marker.txt";
    FILE* file = std::fopen(marker.c_str(), "a");
    if (file == nullptr)
    {
        std::perror(marker.c_str());
        return 1;
    }
    std::fprintf(file, "%s started %d\n", HELLO_VERSION, static_cast<int>(getpid()));
    std::fclose(file);

    int signal = 0;
    sigwait(&stops, &signal);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    std::string newBundle;
    std::string logFolder;
    for (int i = 1; i + 1 < argc; i += 2)
    {
        if (std::strcmp(argv[i], "--update-from") == 0)
        {
            newBundle = argv[i + 1];
        }
        else if (std::strcmp(argv[i], "--log-dir") == 0)
        {
            logFolder = argv[i + 1];
        }
    }
    if (!newBundle.empty())
    {
        return UpdateFrom(newBundle, logFolder);
    }
    return RunUntilTerminated();
}
