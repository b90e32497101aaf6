// The updater program: see UpdaterEntry.h for what it does and its exit status.
#include "updater/UpdaterEntry.h"

int main(int argc, char** argv)
{
    return zorn::UpdaterMain(argc, argv);
}
