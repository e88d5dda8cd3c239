#include "app/run.h"

#include "app/legacy.h"
#include "app/messages.h"
#include "app/runlock.h"
#include "app/uninstall.h"
#include "platform/network_drive.h"
#include "platform/runlog.h"
#include "platform/shell_list.h"
#include "platform/system_dll.h"
#include "platform/wtext.h"
#include "res/resource.h"
#include "staging/package_inf.h"
#include "staging/uninstall_entry.h"

/* Windows Vista is major version 6. */
#define VISTA_MAJOR_VERSION 6

/* advapi32's helper for its named-security functions. */
#define NTMARTA_DLL TEXT("ntmarta.dll")

/* Intune counts this exit code as success; a failure must not end with
 * it (RPC_S_INVALID_NET_ADDR as a Windows error). */
#define INTUNE_SUCCESS_EXIT_CODE 1707

#define QX_WIDEN_TEXT(s) TEXT(s)
#define QX_WIDEN(s) QX_WIDEN_TEXT(s)
/* The first line of the run's block: the version of the version
 * resource, which res/resource.h defines for both. */
static const WCHAR kFirstLine[] =
    TEXT("QxDspInstaller ") QX_WIDEN(QX_VERSION_TEXT);

RUN_STATE g_Run;

/* Where the run's fixed file paths expect Windows to live. */
#define DEFAULT_WINDOWS_FOLDER TEXT("C:\\Windows")

/* Reads the run's own image: its name into g_Run.module, and the file
 * opened sharing reading only into g_Run.image, from which the installed
 * copy is made.  A user who owns the folder it was started from could
 * otherwise rename it and put another file under its name, which SYSTEM
 * would later run from Program Files. */
static void ReadOwnImage(void)
{
    TextZero(g_Run.module, ARRAYSIZE(g_Run.module));
    g_Run.image = INVALID_HANDLE_VALUE;
    /* Cleared first, so that an error left by an earlier call is never
     * taken for this one's. */
    SetLastError(ERROR_SUCCESS);
    DWORD cch = GetModuleFileNameW(NULL, g_Run.module, ARRAYSIZE(g_Run.module));
    g_Run.moduleError = cch == 0 ? GetLastError() : ERROR_SUCCESS;
    /* A result equal to the buffer's size means the name was cut. */
    if (cch == 0 || cch >= ARRAYSIZE(g_Run.module)) {
        TextZero(g_Run.module, ARRAYSIZE(g_Run.module));
        return;
    }
    g_Run.image = CreateFileW(g_Run.module, GENERIC_READ, FILE_SHARE_READ,
                              NULL, OPEN_EXISTING, 0, NULL);
}

/* The folder the run's image is in, into folder (MAX_PATH units), with
 * its network path where the elevated run cannot reach its drive (the
 * image then opened through it).  FALSE when it cannot be had or would
 * not fit (*error is the failed call's error, ERROR_SUCCESS for a path
 * too long), or when its drive cannot be reached and no network path was
 * found (*unreachable is set). */
static BOOL ComputePackageFolder(LPWSTR folder, DWORD *error,
                                 BOOL *unreachable)
{
    WCHAR imageFolder[MAX_PATH];
    *error = g_Run.moduleError;
    if (!TextCopy(imageFolder, ARRAYSIZE(imageFolder), g_Run.module) ||
        imageFolder[0] == 0)
        return FALSE;
    DWORD cut = 0;
    for (DWORD i = 0; imageFolder[i] != 0; i++) {
        if (imageFolder[i] == TEXT('\\'))
            cut = i + 1;
    }
    if (cut == 0)
        return FALSE;
    imageFolder[cut] = 0;
    if (!DriveUnreachable(imageFolder))
        return TextCopy(folder, MAX_PATH, imageFolder);
    LPCWSTR source = NULL;
    if (!NetworkFolderOfImage(imageFolder, folder, MAX_PATH, &source)) {
        RunLog(TEXT("Package folder %s: its drive cannot be seen by this "
                    "elevated run, and no network path of it was found"),
               imageFolder);
        *error = ERROR_PATH_NOT_FOUND;
        *unreachable = TRUE;
        return FALSE;
    }
    RunLog(TEXT("Package folder %s: its drive cannot be seen by this "
                "elevated run; %s names it %s"),
           imageFolder, source, folder);
    WCHAR image[MAX_PATH];
    const LPCWSTR parts[] = {folder, g_Run.module + cut};
    if (g_Run.image == INVALID_HANDLE_VALUE &&
        TextJoin(image, ARRAYSIZE(image), parts, ARRAYSIZE(parts)))
        g_Run.image = CreateFileW(image, GENERIC_READ, FILE_SHARE_READ, NULL,
                                  OPEN_EXISTING, 0, NULL);
    return TRUE;
}

/* Fills g_Run.package and g_Run.staging.  FALSE, shown as the run's
 * failure, when the package folder or Program Files cannot be had, or a
 * path would not fit. */
static BOOL ComputePaths(const ERROR_TEXTS *errors)
{
    DWORD error = ERROR_SUCCESS;
    BOOL unreachable = FALSE;
    BOOL computed =
        ComputePackageFolder(g_Run.package[AREA_ROOT], &error, &unreachable);
    if (computed) {
        SetLastError(ERROR_SUCCESS);
        computed = RunProgramFilesPath(g_Run.staging[AREA_ROOT],
                                       RUN_STAGING_FOLDER);
        error = computed ? ERROR_SUCCESS : GetLastError();
    }
    for (int area = AREA_ROOT + 1; computed && area < AREA_COUNT; area++) {
        LPCWSTR sub = g_PackageAreas[area].subfolder;
        computed = TextCopy(g_Run.package[area], MAX_PATH,
                            g_Run.package[AREA_ROOT]) &&
                   TextAppend(g_Run.package[area], MAX_PATH, sub) &&
                   TextCopy(g_Run.staging[area], MAX_PATH,
                            g_Run.staging[AREA_ROOT]) &&
                   TextAppend(g_Run.staging[area], MAX_PATH, sub);
    }
    if (!computed) {
        MsgAppendDetail(unreachable ? errors->unreachableDrive
                                    : errors->findFolder);
        MsgShowFailure(error);
    }
    return computed;
}

STAGING_DELETE RunDeleteStagingFolder(const ERROR_TEXTS *errors)
{
    /* A staged file held open (an antivirus scanner, an indexer) makes
     * Windows ask the user to close it; nobody can answer on a desktop
     * nobody sees, and the run would wait forever holding the run lock.
     * A person at the screen keeps the question, and can act on it. */
    FILEOP_FLAGS flags = FOF_NOCONFIRMATION;
    if (g_Messages.unattended)
        flags |= FOF_NOERRORUI;
    int result = ShellDelete(g_Run.staging[AREA_ROOT], flags);
    /* "Nothing there" is DE_INVALIDFILES on Windows and
     * ERROR_FILE_NOT_FOUND under Wine; both mean there is nothing to
     * delete. */
    if (result == ERROR_SUCCESS) {
        RunLog(TEXT("Staging folder deleted"));
        return STAGING_DELETED;
    }
    if (result == DE_INVALIDFILES || result == ERROR_FILE_NOT_FOUND ||
        result == ERROR_PATH_NOT_FOUND)
        return STAGING_ABSENT;
    RunLog(TEXT("Staging folder not deleted: shell result %u"), (DWORD)result);
    MsgAppendDetail(errors->deleteFolder);
    MsgAppendErrorNumber();
    return STAGING_KEPT;
}

/* One message of the thread, waited for at most RUN_PUMP_WAIT_MS: the run
 * owns no window, so nothing may ever arrive.  What arrives no longer
 * decides the exit code: a deployment tool reads the outcome there. */
static void PumpOneMessage(void)
{
    MSG msg;
    if (!PeekMessageW(&msg, NULL, 0, 0, PM_NOREMOVE) &&
        (MsgWaitForMultipleObjects(0, NULL, FALSE, RUN_PUMP_WAIT_MS,
                                   QS_ALLINPUT) != WAIT_OBJECT_0 ||
         !PeekMessageW(&msg, NULL, 0, 0, PM_NOREMOVE)))
        return;
    /* A message is waiting, so this returns at once. */
    BOOL got = GetMessageW(&msg, NULL, 0, 0);
    if (got > 0 &&
        !TranslateAcceleratorW(msg.hwnd, g_Run.accelerators, &msg)) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

/* The run is elevated, and its own folder is typically a Downloads folder
 * any program the user ran can write to: a DLL dropped there under the
 * name of one that we, the shell or Setup load by bare name would run
 * with administrator rights, since Windows looks in the application's
 * folder first.  So the search is restricted to the system folder before
 * anything may load a DLL.  Where SetDefaultDllDirectories is missing,
 * SetDllDirectoryW(L"") at least takes the current folder out, which is
 * why our own loads (SystemDllProc) name the system folder in full and
 * have the imports of what they load looked for there first, and why
 * nothing is imported from setupapi, no known DLL on XP and Vista.  What
 * the shell and Setup load by bare name still finds the installer's
 * folder first there.  Neither result stops the run. */
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

/* The machine's architecture, for the log. */
static void LogMachine(BOOL told)
{
    static const struct {
        USHORT machine;
        LPCWSTR name;
    } kMachines[] = {{IMAGE_FILE_MACHINE_I386, TEXT("x86")},
                     {IMAGE_FILE_MACHINE_AMD64, TEXT("x64")},
                     {IMAGE_FILE_MACHINE_ARM64, TEXT("ARM64")}};
    const WOW64_INFO *m = &g_Run.machine;
    if (!told) {
        RunLog(TEXT("Machine: not known (no IsWow64Process)"));
        return;
    }
    for (DWORD i = 0; i < ARRAYSIZE(kMachines); i++) {
        if (kMachines[i].machine == m->nativeMachine) {
            RunLog(TEXT("Machine: %s"), kMachines[i].name);
            return;
        }
    }
    if (m->nativeMachine == IMAGE_FILE_MACHINE_UNKNOWN)
        RunLog(TEXT("Machine: 64-bit (this run under WOW64)"));
    else
        RunLog(TEXT("Machine: type 0x%x"), (DWORD)m->nativeMachine);
}

/* Opens the run's log (the default one unless /log FILE gave another)
 * and writes the lines that start its block, reading what the run is on
 * into g_Run.machine.  rotate: this run holds the run lock. */
static void OpenRunLog(BOOL rotate, const OSVERSIONINFOW *version)
{
    TextZero(g_Run.windows, ARRAYSIZE(g_Run.windows));
    UINT windowsCch = GetSystemWindowsDirectoryW(g_Run.windows,
                                                 ARRAYSIZE(g_Run.windows));
    if (windowsCch == 0 || windowsCch >= ARRAYSIZE(g_Run.windows))
        TextZero(g_Run.windows, ARRAYSIZE(g_Run.windows));
    /* Where Windows lives elsewhere (another drive, C:\WINNT after an
     * upgrade) any user may create C:\Windows and fill it with planted
     * INF copies and links: the run must neither read nor delete anything
     * there.  A failed query (an empty folder) counts as elsewhere. */
    g_Run.windowsAtDefault =
        TextEqualAsciiNoCase(g_Run.windows, DEFAULT_WINDOWS_FOLDER);
    BOOL machineTold = Wow64Read(&g_Run.machine);
    if (g_Run.cmdline.log[0] != 0) {
        /* Resolved once: a relative FILE is taken from the folder the run
         * started in, which deployment tools choose (psexec's is System32,
         * SysWOW64 for this process), and every later use must name the
         * same file. */
        DWORD cch = GetFullPathNameW(g_Run.cmdline.log, MAX_PATH,
                                     g_Run.logPath, NULL);
        if (cch == 0 || cch >= MAX_PATH) {
            TextZero(g_Run.logPath, ARRAYSIZE(g_Run.logPath));
            return;
        }
    } else {
        TextZero(g_Run.logPath, ARRAYSIZE(g_Run.logPath));
        if (g_Run.windows[0] == 0 ||
            !TextAppend(g_Run.logPath, MAX_PATH, g_Run.windows) ||
            !TextAppend(g_Run.logPath, MAX_PATH, TEXT("\\")) ||
            !TextAppend(g_Run.logPath, MAX_PATH, RUN_LOG_NAME))
            return;
    }
    /* Without a log the lines go nowhere; the run is the same. */
    RunLogOpen(g_Run.logPath, rotate, kFirstLine);
    RunLog(version->szCSDVersion[0] != 0 ? TEXT("Windows %u.%u build %u, %s")
                                         : TEXT("Windows %u.%u build %u%s"),
           version->dwMajorVersion, version->dwMinorVersion,
           version->dwBuildNumber, version->szCSDVersion);
    LogMachine(machineTold);
    RunLog(TEXT("Command line: %s"), GetCommandLineW());
    if (g_Run.cmdline.log[0] != 0)
        RunLog(TEXT("Log: %s"), g_Run.logPath);
    RunLog(TEXT("Anyone can see the run: %s; quiet: %s"),
           g_Run.seen ? TEXT("yes") : TEXT("no"),
           g_Run.cmdline.quiet ? TEXT("yes") : TEXT("no"));
}

/* A pre-installation that Setup may answer with a question (whether to
 * trust the package's publisher) fails instead when nobody could answer.
 * setupapi keeps the flag, so it stays loaded for the rest of the run. */
void RunSetupNonInteractive(void)
{
    FARPROC proc =
        SystemDllProc(SETUPAPI_DLL, "SetupSetNonInteractiveMode");
    if (proc != NULL) {
        ((PFN_SETUP_SET_NON_INTERACTIVE_MODE)(void (*)(void))proc)(TRUE);
        RunLog(TEXT("Setup set to ask nothing"));
    } else {
        RunLog(TEXT("Setup has no non-interactive mode: error %u"),
               GetLastError());
    }
}

void RunSweepSettings(SWEEP_SETTINGS *settings)
{
    settings->windowsAtDefault = g_Run.windowsAtDefault;
    settings->preVista = g_Run.preVista;
    settings->wow64 = g_Run.machine.wow64;
    settings->vista = g_Run.vista;
}

/* The total of the sizes of the staged package's files and the copy, in
 * KiB rounded up, as Apps & features shows it. */
static DWORD InstalledSizeKb(void)
{
    DWORDLONG bytes = 0;
    BY_HANDLE_FILE_INFORMATION image;
    if (GetFileInformationByHandle(g_Run.image, &image))
        bytes += image.nFileSizeLow;
    for (int area = AREA_ROOT; area < AREA_COUNT; area++) {
        for (DWORD i = 0; i < FILE_SET_SIZE; i++) {
            WCHAR path[MAX_PATH];
            WIN32_FILE_ATTRIBUTE_DATA data;
            const LPCWSTR parts[] = {g_Run.staging[area],
                                     g_PackageAreas[area].set->names[i]};
            if (TextJoin(path, ARRAYSIZE(path), parts, ARRAYSIZE(parts)) &&
                GetFileAttributesExW(path, GetFileExInfoStandard, &data))
                bytes += data.nFileSizeLow;
        }
    }
    return (DWORD)((bytes + 1023) / 1024);
}

/* After a pre-installation Windows took: the installed copy of the
 * installer, then the Apps & features entry that starts it.  Neither
 * changes the run's outcome; without the copy there is no entry, which
 * would start nothing. */
static void LeaveForUninstall(void)
{
    WCHAR copy[MAX_PATH];
    if (g_Run.image == INVALID_HANDLE_VALUE ||
        !RunProgramFilesPath(copy, RUN_INSTALLED_COPY) ||
        !InstalledCopyWrite(g_Run.image, copy)) {
        RunLog(TEXT("No Apps & features entry: the installer's copy could not "
                    "be made"));
        return;
    }
    /* The package's own version and provider, whatever package it is. */
    WCHAR inf[MAX_PATH];
    const LPCWSTR parts[] = {g_Run.staging[AREA_ROOT], g_InfSet.names[0]};
    PACKAGE_INF_VERSION read;
    if (!TextJoin(inf, ARRAYSIZE(inf), parts, ARRAYSIZE(parts)) ||
        !PackageInfReadVersion(inf, &read))
        RunLog(TEXT("The staged INF could not be read: the entry names no "
                    "version and no publisher"));
    UNINSTALL_ENTRY entry;
    entry.displayName = g_Messages.displayName;
    entry.version = read.version;
    entry.publisher = read.provider;
    entry.copy = copy;
    entry.stagingFolder = g_Run.staging[AREA_ROOT];
    entry.sizeKb = InstalledSizeKb();
    UninstallEntryWrite(&entry);
}

/* x86 programs run emulated on ARM64 Windows, but a driver must be
 * native: a package without an ARM64 driver would install and never work.
 * FALSE, shown as the run's failure, for that package on ARM64; nothing
 * has been changed then. */
static BOOL PackageSupportsMachine(const ERROR_TEXTS *errors)
{
    if (g_Run.machine.nativeMachine != IMAGE_FILE_MACHINE_ARM64)
        return TRUE;
    WCHAR inf[MAX_PATH];
    const LPCWSTR parts[] = {g_Run.package[AREA_ROOT], g_InfSet.names[0]};
    if (TextJoin(inf, ARRAYSIZE(inf), parts, ARRAYSIZE(parts)) &&
        PackageInfNamesArm64(inf)) {
        RunLog(TEXT("ARM64: the package INF names an NTarm64 models section"));
        return TRUE;
    }
    RunLog(TEXT("ARM64: the package INF names no NTarm64 models section (or "
                "could not be read); nothing is changed"));
    MsgAppendDetail(errors->unsupportedProcessor);
    MsgShowFailure(ERROR_INSTALL_PLATFORM_UNSUPPORTED);
    return FALSE;
}

/* The run's work, once it holds the run lock (or goes on unlocked). */
static RUN_END RunStages(HINSTANCE hInstance, ERROR_TEXTS *errors)
{
    if (g_Messages.unattended)
        RunSetupNonInteractive();
    g_Run.accelerators = UiStartup(hInstance, g_Run.title, g_Run.className);

    if (!ComputePaths(errors))
        return OUTCOME_FAILURE;
    RunLog(TEXT("Package folder: %s"), g_Run.package[AREA_ROOT]);
    RunLog(TEXT("Staging folder: %s"), g_Run.staging[AREA_ROOT]);
    if (!PackageSupportsMachine(errors))
        return OUTCOME_FAILURE;

    if (!LegacyStage())
        return OUTCOME_SUCCESS;

    /* All four comparisons are made, whatever the earlier ones found. */
    BOOL same = TRUE;
    for (int area = AREA_ROOT; area < AREA_COUNT; area++)
        same = StagingSameFiles(g_Run.package[area], g_Run.staging[area],
                                g_PackageAreas[area].set) &&
               same;
    RunLog(same ? TEXT("Comparison: the staged copy is the package's")
                : TEXT("Comparison: the staged copy differs or is missing"));
    if (!g_Run.legacyDriver && same) {
        /* Already staged: register it again, silently. */
        if (!StagingPreinstall(g_Run.staging[AREA_ROOT]))
            return OUTCOME_FAILURE;
        LeaveForUninstall();
        return OUTCOME_SUCCESS;
    }

    /* Reported, not on a pre-Vista system, and the run goes on. */
    if (RunDeleteStagingFolder(errors) == STAGING_KEPT && !g_Run.preVista)
        MsgShow(g_Messages.failure);
    /* The staging folder's own DACL keeps what is copied into it from
     * every user; the architecture folders inherit it. */
    if (!StagingCreateSecuredFolder(g_Run.staging[AREA_ROOT],
                                    errors->createFolder))
        return OUTCOME_FAILURE;
    for (int area = AREA_ROOT + 1; area < AREA_COUNT; area++) {
        if (!StagingCreateFolder(g_Run.staging[area], errors->createFolder))
            return OUTCOME_FAILURE;
    }
    /* The package may come from a user's folder: a link in it would turn
     * the elevated copy into a read of any file, so a package holding
     * one is refused whole, as a failed copy, and what is checked stays
     * held until it is copied. */
    PACKAGE_HOLD hold;
    BOOL copied = StagingHoldPackage(g_Run.package, &hold);
    DWORD copyError = ERROR_SUCCESS;
    if (!copied) {
        RunLog(TEXT("Package refused: a link, a file with a second hard "
                    "link, or something that could not be checked"));
    } else {
        for (int area = AREA_ROOT; area < AREA_COUNT; area++) {
            /* Every copy is made; the first failure's error counts. */
            if (!StagingCopySet(g_Run.package[area], g_Run.staging[area],
                                g_PackageAreas[area].set,
                                hold.files[area]) &&
                copied) {
                copyError = GetLastError();
                copied = FALSE;
            }
        }
        StagingReleasePackage(&hold);
    }
    if (!copied) {
        MsgAppendDetail(errors->copy);
        MsgShowFailure(copyError);
        return OUTCOME_FAILURE;
    }

    RUN_END outcome = OUTCOME_FAILURE;
    if (StagingPreinstall(g_Run.staging[AREA_ROOT])) {
        outcome = g_Run.legacyDriver && !g_Run.preVista ? OUTCOME_RESTART
                                                        : OUTCOME_SUCCESS;
        LeaveForUninstall();
        MsgShow(outcome == OUTCOME_RESTART ? g_Messages.restart
                                           : g_Messages.success);
    }
    PumpOneMessage();
    return outcome;
}

/* Exit codes a deployment tool reads as something other than a failure,
 * or as the program still running. */
static const DWORD kMisreadExitCodes[] = {
    ERROR_SUCCESS,         STILL_ACTIVE,
    ERROR_INSTALL_ALREADY_RUNNING, ERROR_SUCCESS_REBOOT_INITIATED,
    INTUNE_SUCCESS_EXIT_CODE, ERROR_SUCCESS_REBOOT_REQUIRED,
};

/* Each outcome's text in the log and its exit code (the failure's own is
 * worked out from its error). */
static const struct {
    LPCWSTR text;
    DWORD exitCode;
} kOutcomes[OUTCOME_COUNT] = {
    {TEXT("installed"), ERROR_SUCCESS},
    {TEXT("installed, a restart is needed"), ERROR_SUCCESS_REBOOT_REQUIRED},
    {TEXT("failed"), ERROR_INSTALL_FAILURE},
    {TEXT("another run is in progress"), ERROR_INSTALL_ALREADY_RUNNING},
    {TEXT("the usage was asked for"), ERROR_SUCCESS},
    {TEXT("the command line was not understood"), ERROR_INVALID_COMMAND_LINE},
    {TEXT("uninstalled"), ERROR_SUCCESS},
    {TEXT("uninstalled, a restart is needed"), ERROR_SUCCESS_REBOOT_REQUIRED},
    {TEXT("nothing to remove"), ERROR_SUCCESS},
};

static DWORD ExitCodeOf(RUN_END outcome)
{
    if (outcome != OUTCOME_FAILURE)
        return kOutcomes[outcome].exitCode;
    /* A Windows error that would read as success, as a restart or as a
     * busy machine, or a shell result that is no Windows error (never
     * taken from SHFileOperationW), is an install failure. */
    for (DWORD i = 0; i < ARRAYSIZE(kMisreadExitCodes); i++) {
        if (g_Messages.failureError == kMisreadExitCodes[i])
            return ERROR_INSTALL_FAILURE;
    }
    return g_Messages.failureError;
}

/* Ends the log's block with the outcome; from a run that did its work,
 * a summary line in Setup's log too, naming the OEM INF and our log, so
 * that whoever reads Setup's log of the pre-installation finds ours. */
static int EndRun(RUN_END outcome)
{
    DWORD exitCode = ExitCodeOf(outcome);
    RunLog(TEXT("Outcome: %s; exit code %u"), kOutcomes[outcome].text,
           exitCode);
    /* Setup's text log came with Vista. */
    if (outcome <= OUTCOME_FAILURE && !g_Run.preVista) {
        LPCWSTR oemInf = g_PreinstalledInf[0] != 0 ? g_PreinstalledInf
                                                   : TEXT("none");
        for (LPCWSTR at = g_PreinstalledInf; *at != 0; at++) {
            if (*at == TEXT('\\'))
                oemInf = at + 1;
        }
        WCHAR summary[RUN_LOG_LINE_CCH];
        WCHAR code[MSG_TEXT_CCH];
        TextZero(code, ARRAYSIZE(code));
        wsprintfW(code, TEXT("%u"), exitCode);
        LPCWSTR parts[] = {kFirstLine, TEXT(": "), kOutcomes[outcome].text,
                           TEXT(", exit code "), code, TEXT(", OEM INF "),
                           oemInf, TEXT(", log "), g_Run.logPath};
        /* Without the log's path where the line would be longer than
         * Setup takes. */
        DWORD count = ARRAYSIZE(parts);
        if (!TextJoin(summary, ARRAYSIZE(summary), parts, count) ||
            TextLength(summary, ARRAYSIZE(summary)) > RUN_LOG_SETUP_TEXT_CCH)
            count -= 2;
        if (TextJoin(summary, ARRAYSIZE(summary), parts, count))
            RunLogSetupSummary(summary);
    }
    RunLogClose();
    return (int)exitCode;
}

int InstallerRun(HINSTANCE hInstance)
{
    ERROR_TEXTS errors;

    /* First of all: taking the run lock, too, may load a DLL. */
    RestrictDllSearch();
    /* advapi32's named-security calls (the lock's owner, the staging
     * folder's DACL) load ntmarta.dll by bare name, which XP, Vista and 7
     * without the update look for beside the installer first; loaded here
     * from the system folder, it is the copy every later load finds. */
    SystemDllLoad(NTMARTA_DLL);
    CmdLineParse(GetCommandLineW(), &g_Run.cmdline);

    /* A failed query leaves major version 0, which reads as pre-Vista. */
    OSVERSIONINFOW version = {};
    version.dwOSVersionInfoSize = sizeof(version);
    GetVersionExW(&version);
    g_Run.preVista = version.dwMajorVersion < VISTA_MAJOR_VERSION;
    g_Run.vista = version.dwMajorVersion == VISTA_MAJOR_VERSION &&
                  version.dwMinorVersion == 0;
    /* Once, before anything can show a box or wait; the session-0 rule
     * needs the version.  A run nobody sees, or a quiet one, does the
     * same work and ends with the same exit code, without waiting for a
     * click. */
    g_Run.seen = MsgAnyoneCanSee(g_Run.preVista);
    g_Messages.unattended = g_Run.cmdline.quiet || !g_Run.seen;
    MsgSelectAndFill(&errors, g_Run.cmdline.uninstall);

    /* Nothing of the machine is read or changed for the usage but the
     * log's short block. */
    if (g_Run.cmdline.action != CMDLINE_RUN) {
        OpenRunLog(FALSE, &version);
        MsgShow(g_Messages.usage);
        return EndRun(g_Run.cmdline.action == CMDLINE_HELP
                          ? OUTCOME_USAGE
                          : OUTCOME_BAD_COMMAND_LINE);
    }
    /* Before anything is read or changed: two runs at once would delete
     * the staging folder under each other's copies.  Nobody can close a
     * box of the other run, so a run nobody watches gives up in time; a
     * run that gets no lock goes on unlocked. */
    ReadOwnImage();
    RUN_LOCK_RESULT lock = RunLockTake(
        g_Messages.unattended ? RUN_UNATTENDED_WAIT_MS : INFINITE);
    OpenRunLog(lock == RUN_LOCK_HELD, &version);
    if (lock == RUN_LOCK_BUSY)
        return EndRun(OUTCOME_BUSY);
    return EndRun(g_Run.cmdline.uninstall ? UninstallStages(&errors)
                                          : RunStages(hInstance, &errors));
}
