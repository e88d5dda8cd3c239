/* Entry point of QxDspInstaller.exe: no command line is read and no main
 * window is created; the run reports through message boxes. */
#include "app/run.h"

/* NOLINTNEXTLINE(bugprone-easily-swappable-parameters): WinMain's form */
int WINAPI wWinMain(HINSTANCE hInstance, HINSTANCE hPrevInstance,
                    LPWSTR lpCmdLine, int nShowCmd)
{
    (void)hPrevInstance;
    (void)lpCmdLine;
    (void)nShowCmd;
    return InstallerRun(hInstance);
}
