// zq-open: starts an application bundle's executable in a new session and returns at once. The
// updater runs it by absolute path to restart the application it updated. It links only the
// platform layer, so it starts in a few milliseconds.
#include "platform/AppOpener.h"

#include <cstdio>
#include <string>
#include <vector>

int main(int argc, char** argv)
{
    std::vector<std::string> arguments(argv + (argc > 0 ? 1 : 0), argv + argc);
    std::string message;
    const int status = zorn::platform::RunAppOpener(arguments, message);
    if (status != 0)
    {
        std::fprintf(stderr, "zq-open: %s\n", message.c_str());
    }
    return status;
}
