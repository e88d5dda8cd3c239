/* Entry point of QxDspInstaller.exe: no main window is created; the run
 * reads its switches with GetCommandLineW and reports through message
 * boxes, its log and its exit code. */
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
