// A command-line program on the IPC process object, started by the IPC process tests from a
// bundle layout. Its parse prints every plain argument as "arg <hex of its UTF-8 bytes>", then
// "locale <LC_CTYPE>" and "resources yes|no" (whether the resources file system exists); DoRun
// prints "ready" and serves messages until the process is asked to quit; DoQuit prints "quit".
// Any argument ending the parse with an error makes the program exit with the process's code.
#include "toolbox/files/VFileSystem.h"
#include "toolbox/files/VFileSystemNamespace.h"
#include "toolbox/kernel/strings/VString.h"
#include "toolbox/process/VArgOption.h"
#include "toolbox/process/VCommandLineParser.h"
#include "toolbox/process/VProcessIPC.h"

#include <clocale>
#include <cstdio>
#include <string>
#include <vector>

using namespace zorn;

namespace
{
class IpcApp : public VProcessIPC
{
protected:
    int32_t DoParseCommandLine(VCommandLineParser& ioParser) override
    {
        std::vector<VString> arguments;
        ioParser.GetOptionsInfos().SetPositionalCollector(
            new VArgOption<std::vector<VString>>(32, VString(), VString(), &arguments));
        int32_t parsed = ioParser.Parse();
        for (const VString& argument : arguments)
        {
            std::string bytes = to_string(argument);
            std::printf("arg ");
            for (unsigned char byte : bytes)
            {
                std::printf("%02x", byte);
            }
            std::printf("\n");
        }
        const char* locale = std::setlocale(LC_CTYPE, nullptr);
        std::printf("locale %s\n", locale != nullptr ? locale : "?");
        VRefPtr<VFileSystem> resources(
            GetFileSystemNamespace()->RetainFileSystem(VString(".PRODUCT_RESOURCES"), 0), true);
        std::printf("resources %s\n", resources ? "yes" : "no");
        std::fflush(stdout);
        return parsed;
    }
    void DoRun() override
    {
        std::printf("ready\n");
        std::fflush(stdout);
        VProcessIPC::DoRun();
    }
    void DoQuit() override
    {
        std::printf("quit\n");
        std::fflush(stdout);
    }
};
} // namespace

int main(int argc, char** argv)
{
    VProcessIPC::SetCommandLine(argc, argv);
    IpcApp app;
    if (!app.Init(0x50))
    {
        return app.GetExitCode();
    }
    app.Run();
    return 0;
}
