// sweepprobe: runs the installer's removal sweep with a candidate INF list
// given on the command line, so that a Wine scenario can see what the
// sweep deletes without the discovery scans deciding the list.  A test
// build only, never shipped.
//
// Usage: sweepprobe.exe [NAME...]
//   Each NAME is offered to the candidate INF list through AddCandidate,
//   in order; then the sweep runs once.
//
// Exit code 0 when the sweep ran, 2 when a NAME was refused (nothing is
// swept then, so that a scenario never deletes with a list it did not
// mean).
#include <windows.h>

#include "discovery/candidates.h"
#include "platform/wow64.h"
#include "removal/sweep.h"

int wmain(int argc, wchar_t **argv)
{
    for (int i = 1; i < argc; i++) {
        if (!AddCandidate(argv[i]))
            return 2;
    }
    /* As the run sees its machine: Windows in C:\Windows, the version's
     * and WOW64's own answers. */
    OSVERSIONINFOW version = {};
    version.dwOSVersionInfoSize = sizeof(version);
    GetVersionExW(&version);
    WOW64_INFO machine;
    Wow64Read(&machine);
    SWEEP_SETTINGS settings = {TRUE, version.dwMajorVersion < 6, machine.wow64,
                               version.dwMajorVersion == 6 &&
                                   version.dwMinorVersion == 0};
    SWEEP_REPORT report = {};
    RemovalSweep(&settings, &report);
    return 0;
}
