#include "app/run.h"

#include "app/legacy.h"
#include "app/messages.h"
#include "app/runlock.h"
#include "platform/shell_list.h"
#include "platform/wtext.h"

/* Windows Vista is major version 6. */
#define VISTA_MAJOR_VERSION 6

RUN_STATE g_Run;

/* The staging folder below Program Files, with its trailing backslash. */
static const WCHAR kStagingBelowProgramFiles[] =
    RUN_VENDOR_FOLDER TEXT("DriverQxDsp\\");

/* Fills g_Run.package and g_Run.staging.  FALSE when the executable's
 * folder or Program Files cannot be had, or a path would not fit. */
static BOOL ComputePaths(void)
{
    WCHAR module[MAX_PATH];
    TextZero(module, ARRAYSIZE(module));
    DWORD cch = GetModuleFileNameW(NULL, module, ARRAYSIZE(module));
    /* A result equal to the buffer's size means the name was cut. */
    if (cch == 0 || cch >= ARRAYSIZE(module))
        return FALSE;
    DWORD cut = 0;
    for (DWORD i = 0; i < cch; i++) {
        if (module[i] == TEXT('\\'))
            cut = i + 1;
    }
    if (cut == 0)
        return FALSE;
    module[cut] = 0;
    if (!TextCopy(g_Run.package[AREA_ROOT], MAX_PATH, module))
        return FALSE;

    if (!RunProgramFilesPath(g_Run.staging[AREA_ROOT],
                             kStagingBelowProgramFiles))
        return FALSE;

    for (int area = AREA_ROOT + 1; area < AREA_COUNT; area++) {
        LPCWSTR sub = g_PackageAreas[area].subfolder;
        if (!TextCopy(g_Run.package[area], MAX_PATH,
                      g_Run.package[AREA_ROOT]) ||
            !TextAppend(g_Run.package[area], MAX_PATH, sub) ||
            !TextCopy(g_Run.staging[area], MAX_PATH,
                      g_Run.staging[AREA_ROOT]) ||
            !TextAppend(g_Run.staging[area], MAX_PATH, sub))
            return FALSE;
    }
    return TRUE;
}

/* Deletes the staging folder with everything in it.  A failure is
 * reported (not on a pre-Vista system) and the run goes on. */
static void DeleteStagingFolder(const ERROR_TEXTS *errors)
{
    int result = ShellDelete(g_Run.staging[AREA_ROOT], FOF_NOCONFIRMATION);
    /* "Nothing there" is DE_INVALIDFILES on Windows and
     * ERROR_FILE_NOT_FOUND under Wine; both mean there is nothing to
     * delete. */
    if (result == ERROR_SUCCESS || result == DE_INVALIDFILES ||
        result == ERROR_FILE_NOT_FOUND || result == ERROR_PATH_NOT_FOUND)
        return;
    MsgAppendDetail(errors->deleteFolder);
    MsgAppendErrorNumber();
    if (!g_Run.preVista)
        MsgShow(g_Messages.failure);
}

/* One message of the thread, waited for at most RUN_PUMP_WAIT_MS: the run
 * owns no window, so nothing may ever arrive.  Returns the exit code. */
static int PumpOneMessage(void)
{
    MSG msg;
    if (!PeekMessageW(&msg, NULL, 0, 0, PM_NOREMOVE) &&
        (MsgWaitForMultipleObjects(0, NULL, FALSE, RUN_PUMP_WAIT_MS,
                                   QS_ALLINPUT) != WAIT_OBJECT_0 ||
         !PeekMessageW(&msg, NULL, 0, 0, PM_NOREMOVE)))
        return 0;
    /* A message is waiting, so this returns at once. */
    BOOL got = GetMessageW(&msg, NULL, 0, 0);
    if (got == -1)
        return 0;
    if (got > 0 &&
        !TranslateAcceleratorW(msg.hwnd, g_Run.accelerators, &msg)) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return (int)msg.wParam;
}

/* The run is elevated, and its own folder is typically a Downloads folder
 * any program the user ran can write to: a DLL dropped there under the
 * name of one that we, the shell or Setup load by bare name would run
 * with administrator rights, since Windows looks in the application's
 * folder first.  So the search is restricted to the system folder before
 * anything may load a DLL.  Where SetDefaultDllDirectories is missing,
 * SetDllDirectoryW(L"") at least takes the current folder out, which is
 * why our own loads name the system folder in full.  Neither result
 * stops the run. */
static void RestrictDllSearch(void)
{
    HMODULE kernel32 = GetModuleHandleW(TEXT("kernel32.dll"));
    if (kernel32 == NULL)
        return;
    OSVERSIONINFOW version = {};
    version.dwOSVersionInfoSize = sizeof(version);
    GetVersionExW(&version);
    /* Vista keeps to SetDllDirectoryW: programs that restricted the
     * search there found the shell's COM objects broken afterwards. */
    BOOL vista = version.dwMajorVersion == VISTA_MAJOR_VERSION &&
                 version.dwMinorVersion == 0;
    FARPROC proc;
    if (!vista) {
        proc = GetProcAddress(kernel32, "SetDefaultDllDirectories");
        if (proc != NULL &&
            ((PFN_SET_DEFAULT_DLL_DIRECTORIES)(void (*)(void))proc)(
                LOAD_LIBRARY_SEARCH_SYSTEM32))
            return;
    }
    proc = GetProcAddress(kernel32, "SetDllDirectoryW");
    if (proc != NULL)
        ((PFN_SET_DLL_DIRECTORY_W)(void (*)(void))proc)(TEXT(""));
}

int InstallerRun(HINSTANCE hInstance)
{
    ERROR_TEXTS errors;

    /* First of all: taking the run lock, too, may load a DLL. */
    RestrictDllSearch();
    /* Before anything is read or changed, and without a limit: two runs
     * at once would delete the staging folder under each other's
     * copies.  A run that gets no lock goes on unlocked. */
    RunLockTake(INFINITE);

    /* A failed query leaves major version 0, which reads as pre-Vista. */
    OSVERSIONINFOW version = {};
    version.dwOSVersionInfoSize = sizeof(version);
    GetVersionExW(&version);
    g_Run.preVista = version.dwMajorVersion < VISTA_MAJOR_VERSION;
    /* Once, before anything can show a box; the session-0 rule needs the
     * version.  A run nobody sees does the same work and ends with the
     * same exit code, without waiting for a click. */
    g_Messages.unattended = !MsgAnyoneCanSee(g_Run.preVista);

    g_Run.accelerators = UiStartup(hInstance, g_Run.title, g_Run.className);
    MsgSelectAndFill(&errors);

    if (!ComputePaths()) {
        MsgAppendDetail(errors.findFolder);
        MsgShow(g_Messages.failure);
        return 0;
    }

    if (!LegacyStage())
        return 0;

    /* All four comparisons are made, whatever the earlier ones found. */
    BOOL same = TRUE;
    for (int area = AREA_ROOT; area < AREA_COUNT; area++)
        same = StagingSameFiles(g_Run.package[area], g_Run.staging[area],
                                g_PackageAreas[area].set) &&
               same;
    if (!g_Run.legacyDriver && same) {
        /* Already staged: register it again, silently. */
        StagingPreinstall(g_Run.staging[AREA_ROOT]);
        return 0;
    }

    DeleteStagingFolder(&errors);
    /* The staging folder's own DACL keeps what is copied into it from
     * every user; the architecture folders inherit it. */
    if (!StagingCreateSecuredFolder(g_Run.staging[AREA_ROOT],
                                    errors.createFolder))
        return 0;
    for (int area = AREA_ROOT + 1; area < AREA_COUNT; area++) {
        if (!StagingCreateFolder(g_Run.staging[area], errors.createFolder))
            return 0;
    }
    /* The package may come from a user's folder: a link in it would turn
     * the elevated copy into a read of any file, so a package holding
     * one is refused whole, as a failed copy, and what is checked stays
     * held until it is copied. */
    PACKAGE_HOLD hold;
    BOOL copied = StagingHoldPackage(g_Run.package, &hold);
    if (copied) {
        for (int area = AREA_ROOT; area < AREA_COUNT; area++)
            copied = StagingCopySet(g_Run.package[area], g_Run.staging[area],
                                    g_PackageAreas[area].set,
                                    hold.files[area]) &&
                     copied;
        StagingReleasePackage(&hold);
    }
    if (!copied) {
        MsgAppendDetail(errors.copy);
        MsgShow(g_Messages.failure);
        return 0;
    }

    if (StagingPreinstall(g_Run.staging[AREA_ROOT]))
        MsgShow(g_Run.legacyDriver && !g_Run.preVista ? g_Messages.restart
                                                      : g_Messages.success);
    return PumpOneMessage();
}
