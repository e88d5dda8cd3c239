#include "platform/pnputil.h"

#include "platform/runlog.h"
#include "platform/wtext.h"

/* Below the Windows folder: the native System32 as a 32-bit process names
 * it (Sysnative, Vista and later), and Setup's INF folder. */
#define PNPUTIL_BELOW_WINDOWS TEXT("\\Sysnative\\pnputil.exe")
#define INF_BELOW_WINDOWS TEXT("\\INF\\")

/* pnputil's switches and one quoted path; and the same after pnputil's
 * own quoted path. */
#define PNPUTIL_ARGUMENTS_CCH (MAX_PATH + 16)
#define PNPUTIL_COMMAND_LINE_CCH (MAX_PATH + 3 + PNPUTIL_ARGUMENTS_CCH)

/* Bytes one read takes from the pipe. */
#define PNPUTIL_READ_CB 512

/* The attribute list of one attribute; Windows asks far less of it. */
#define PNPUTIL_ATTRIBUTE_LIST_CB 256

/* "oem", up to 16 digits, ".inf" and the terminator. */
#define PNPUTIL_OEM_NAME_CCH 24
#define OEM_PREFIX_CCH 3
#define INF_EXTENSION_CCH 4

/* One pnputil run: its process, its output pipe's read end, and the
 * output kept for the log. */
typedef struct PNPUTIL_RUN {
    HANDLE process;
    HANDLE output;
    DWORD cb;
    BOOL dropped; /* more came than the buffer keeps */
    CHAR bytes[PNPUTIL_OUTPUT_CB];
} PNPUTIL_RUN;

/* The Windows folder followed by below into path (MAX_PATH units).
 * FALSE with the last error set when it cannot be had or would not fit. */
static BOOL WindowsPath(LPWSTR path, LPCWSTR below)
{
    TextZero(path, MAX_PATH);
    UINT cch = GetSystemWindowsDirectoryW(path, MAX_PATH);
    if (cch == 0)
        return FALSE;
    if (cch >= MAX_PATH || !TextAppend(path, MAX_PATH, below)) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return FALSE;
    }
    return TRUE;
}

/* Starts pnputil as application with commandLine, its standard output
 * and error write (the only handle it inherits), no standard input and no
 * window.  Returns its process, or NULL with the last error set: also
 * where the attribute list's functions are missing, since without them
 * the child would inherit every inheritable handle of the run. */
static HANDLE StartPnputil(LPCWSTR application, LPWSTR commandLine,
                           HANDLE write)
{
    HMODULE kernel32 = GetModuleHandleW(TEXT("kernel32.dll"));
    if (kernel32 == NULL)
        return NULL;
    FARPROC init = GetProcAddress(kernel32, "InitializeProcThreadAttributeList");
    FARPROC update = GetProcAddress(kernel32, "UpdateProcThreadAttribute");
    FARPROC remove = GetProcAddress(kernel32, "DeleteProcThreadAttributeList");
    if (init == NULL || update == NULL || remove == NULL)
        return NULL;
    ULONG_PTR storage[PNPUTIL_ATTRIBUTE_LIST_CB / sizeof(ULONG_PTR)];
    LPPROC_THREAD_ATTRIBUTE_LIST list = (LPPROC_THREAD_ATTRIBUTE_LIST)storage;
    SIZE_T size = sizeof(storage);
    if (!((PFN_INITIALIZE_PROC_THREAD_ATTRIBUTE_LIST)(void (*)(void))init)(
            list, 1, 0, &size))
        return NULL;
    /* The list keeps a pointer to it: it lives until the process starts. */
    HANDLE inherited = write;
    PROCESS_INFORMATION started = {};
    BOOL created = FALSE;
    if (((PFN_UPDATE_PROC_THREAD_ATTRIBUTE)(void (*)(void))update)(
            list, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, &inherited,
            sizeof(inherited), NULL, NULL)) {
        STARTUPINFOEXW startup = {};
        startup.StartupInfo.cb = sizeof(startup);
        startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
        startup.StartupInfo.hStdOutput = write;
        startup.StartupInfo.hStdError = write;
        startup.lpAttributeList = list;
        created = CreateProcessW(application, commandLine, NULL, NULL, TRUE,
                                 CREATE_NO_WINDOW |
                                     EXTENDED_STARTUPINFO_PRESENT,
                                 NULL, NULL, &startup.StartupInfo, &started);
    }
    DWORD error = GetLastError();
    ((PFN_DELETE_PROC_THREAD_ATTRIBUTE_LIST)(void (*)(void))remove)(list);
    if (!created) {
        SetLastError(error);
        return NULL;
    }
    CloseHandle(started.hThread);
    return started.hProcess;
}

/* Reads what the pipe held when asked, keeping what fits.  Only that
 * much is read, so that no read waits on an empty pipe and a pnputil
 * that writes without pause cannot keep the run here. */
static void ReadOutput(PNPUTIL_RUN *run)
{
    DWORD available = 0;
    if (!PeekNamedPipe(run->output, NULL, 0, NULL, &available, NULL))
        return;
    CHAR chunk[PNPUTIL_READ_CB];
    while (available > 0) {
        DWORD got = 0;
        if (!ReadFile(run->output, chunk,
                      available < sizeof(chunk) ? available : sizeof(chunk),
                      &got, NULL) ||
            got == 0)
            return;
        available -= got < available ? got : available;
        for (DWORD i = 0; i < got; i++) {
            if (run->cb < ARRAYSIZE(run->bytes))
                run->bytes[run->cb++] = chunk[i];
            else
                run->dropped = TRUE;
        }
    }
}

/* Waits for the process to end, at most PNPUTIL_WAIT_MS, reading its
 * output meanwhile (a pnputil blocked on a full pipe would never end); one
 * that outlasts it is ended.  TRUE: it ended by itself.  FALSE with the
 * last error: ERROR_TIMEOUT, or the wait's own. */
static BOOL WaitReading(PNPUTIL_RUN *run)
{
    DWORD start = GetTickCount();
    for (;;) {
        ReadOutput(run);
        DWORD waited = WaitForSingleObject(run->process, PNPUTIL_SLICE_MS);
        if (waited == WAIT_OBJECT_0) {
            ReadOutput(run);
            return TRUE;
        }
        /* Unsigned, so that the count's wrap after 49.7 days does no harm. */
        if (waited == WAIT_TIMEOUT && GetTickCount() - start < PNPUTIL_WAIT_MS)
            continue;
        DWORD error = ERROR_TIMEOUT;
        if (waited == WAIT_TIMEOUT) {
            RunLog(TEXT("pnputil did not end within %u ms: it is ended"),
                   (DWORD)PNPUTIL_WAIT_MS);
        } else {
            error = GetLastError();
            RunLog(TEXT("Waiting for pnputil failed (error %u): it is ended"),
                   error);
        }
        TerminateProcess(run->process, error);
        SetLastError(error);
        return FALSE;
    }
}

/* ASCII letters, digits and '_' make a word; a name stands apart. */
static BOOL IsWordUnit(WCHAR unit)
{
    return (unit >= TEXT('0') && unit <= TEXT('9')) ||
           (unit >= TEXT('A') && unit <= TEXT('Z')) ||
           (unit >= TEXT('a') && unit <= TEXT('z')) || unit == TEXT('_');
}

/* The last "oem<digits>.inf" standing apart in text (case ignored) into
 * name (PNPUTIL_OEM_NAME_CCH units).  pnputil's labels ("Published name")
 * are translated with Windows; the name it gives is not.  FALSE: none. */
static BOOL FindOemName(LPCWSTR text, LPWSTR name)
{
    BOOL found = FALSE;
    for (DWORD i = 0; text[i] != 0; i++) {
        if ((i > 0 && IsWordUnit(text[i - 1])) ||
            !TextStartsWithAsciiNoCase(text + i, TEXT("oem")))
            continue;
        DWORD end = i + OEM_PREFIX_CCH;
        while (text[end] >= TEXT('0') && text[end] <= TEXT('9'))
            end++;
        if (end == i + OEM_PREFIX_CCH ||
            !TextStartsWithAsciiNoCase(text + end, TEXT(".inf")) ||
            IsWordUnit(text[end + INF_EXTENSION_CCH]))
            continue;
        end += INF_EXTENSION_CCH;
        if (end - i >= PNPUTIL_OEM_NAME_CCH)
            continue;
        for (DWORD k = i; k < end; k++)
            name[k - i] = text[k];
        name[end - i] = 0;
        found = TRUE;
    }
    return found;
}

/* The kept output, from the console's OEM code page (one unit at most
 * per byte, in every code page Windows has), into text
 * (PNPUTIL_OUTPUT_CB + 1 units), and into the log line by line. */
static void LogOutput(const PNPUTIL_RUN *run, LPWSTR text)
{
    TextZero(text, PNPUTIL_OUTPUT_CB + 1);
    int cch = run->cb == 0 ? 0
                           : MultiByteToWideChar(CP_OEMCP, 0, run->bytes,
                                                 (int)run->cb, text,
                                                 PNPUTIL_OUTPUT_CB);
    /* Each line is logged from a copy, so that text stays whole. */
    WCHAR line[RUN_LOG_LINE_CCH];
    DWORD used = 0;
    for (int i = 0; i <= cch; i++) {
        WCHAR unit = i < cch ? text[i] : 0;
        if (unit != 0 && unit != TEXT('\r') && unit != TEXT('\n')) {
            if (used + 1 < ARRAYSIZE(line))
                line[used] = unit;
            used++;
            continue;
        }
        if (used > 0 && used < ARRAYSIZE(line)) {
            line[used] = 0;
            RunLog(TEXT("pnputil: %s"), line);
        } else if (used > 0) {
            RunLog(TEXT("pnputil: (a line of %u units is left out)"), used);
        }
        used = 0;
    }
    if (run->dropped)
        RunLog(TEXT("pnputil's output past %u bytes is left out"),
               (DWORD)PNPUTIL_OUTPUT_CB);
}

/* Runs pnputil with arguments and logs its output into text (as
 * LogOutput).  TRUE: it ran to its end, with *exitCode.  FALSE with the
 * last error of what kept it from that. */
static BOOL RunPnputil(LPCWSTR arguments, LPWSTR text, DWORD *exitCode)
{
    WCHAR application[MAX_PATH];
    WCHAR commandLine[PNPUTIL_COMMAND_LINE_CCH];
    if (!WindowsPath(application, PNPUTIL_BELOW_WINDOWS))
        return FALSE;
    const LPCWSTR parts[] = {TEXT("\""), application, TEXT("\" "), arguments};
    if (!TextJoin(commandLine, ARRAYSIZE(commandLine), parts,
                  ARRAYSIZE(parts))) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return FALSE;
    }
    RunLog(TEXT("Running %s"), commandLine);
    PNPUTIL_RUN run;
    run.cb = 0;
    run.dropped = FALSE;
    HANDLE write = NULL;
    /* Neither end is inheritable but the write end, made so alone. */
    if (!CreatePipe(&run.output, &write, NULL, 0))
        return FALSE;
    run.process = NULL;
    if (SetHandleInformation(write, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT))
        run.process = StartPnputil(application, commandLine, write);
    DWORD error = GetLastError();
    /* pnputil holds its own copy of the write end. */
    CloseHandle(write);
    BOOL ended = FALSE;
    if (run.process != NULL) {
        ended = WaitReading(&run) && GetExitCodeProcess(run.process, exitCode);
        error = GetLastError();
        CloseHandle(run.process);
    }
    CloseHandle(run.output);
    LogOutput(&run, text);
    SetLastError(error);
    return ended;
}

/* Runs pnputil with switches and the quoted operand; its output's
 * oemNN.inf, when published is not NULL, goes there as PnputilAdd says. */
static BOOL PnputilJob(LPCWSTR switches, LPCWSTR operand, LPWSTR published,
                       DWORD cchPublished)
{
    WCHAR arguments[PNPUTIL_ARGUMENTS_CCH];
    const LPCWSTR parts[] = {switches, TEXT(" \""), operand, TEXT("\"")};
    if (!TextJoin(arguments, ARRAYSIZE(arguments), parts, ARRAYSIZE(parts))) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return FALSE;
    }
    WCHAR text[PNPUTIL_OUTPUT_CB + 1];
    DWORD exitCode = ERROR_SUCCESS;
    if (!RunPnputil(arguments, text, &exitCode))
        return FALSE;
    RunLog(TEXT("pnputil exited with %u"), exitCode);
    /* 3010 (ERROR_SUCCESS_REBOOT_REQUIRED): done, a restart completes it. */
    if (exitCode != ERROR_SUCCESS && exitCode != ERROR_SUCCESS_REBOOT_REQUIRED) {
        SetLastError(exitCode);
        return FALSE;
    }
    WCHAR name[PNPUTIL_OEM_NAME_CCH];
    if (published == NULL)
        return TRUE;
    TextZero(published, cchPublished);
    if (!FindOemName(text, name)) {
        RunLog(TEXT("pnputil's output names no oemNN.inf"));
        return TRUE;
    }
    WCHAR path[MAX_PATH];
    if (!WindowsPath(path, INF_BELOW_WINDOWS) ||
        !TextAppend(path, ARRAYSIZE(path), name) ||
        !TextCopy(published, cchPublished, path)) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    return TRUE;
}

BOOL PnputilAdd(LPCWSTR inf, LPWSTR published, DWORD cchPublished)
{
    return PnputilJob(TEXT("-a"), inf, published, cchPublished);
}

BOOL PnputilDelete(LPCWSTR name)
{
    return PnputilJob(TEXT("-f -d"), name, NULL, 0);
}
