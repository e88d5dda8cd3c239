// watcher: runs a GUI program under Wine the way a user would.
//
// It starts the program, waits for each message box the program shows,
// writes the box's caption and text to a report file, presses OK, and
// reports how the program ended.  The report goes to a file, not to
// standard output, because Wine's background processes inherit and hold
// standard output open long after the program has gone.
//
// Usage:
//   watcher.exe [-t SECONDS] [-C WORKDIR] [-n MAXBOXES] [-s SHOTDIR]
//               [-k MS] [-w STATION\\DESKTOP] REPORT PROGRAM [ARGS...]
//
// With -k, the watcher kills the program MS milliseconds after starting
// it, as a user ending it in the task manager would (boxes shown before
// that are reported and pressed as usual).
//
// With -w STATION\\DESKTOP, the watcher first creates the window station
// STATION (without WSF_VISIBLE, as a service's or a deployment tool's
// station is) and DESKTOP on it, and starts the program there through
// STARTUPINFOW.lpDesktop.  Boxes shown there are not on the watcher's
// desktop and are neither seen nor pressed.
//
// With -s, before pressing OK on box N (from 1) the watcher writes the
// box's screen rectangle "x y width height" to SHOTDIR\box-N.rect and
// waits, at most 30 s, until SHOTDIR\box-N.taken exists: time for a
// screenshot of the box as the user sees it.
//
// Report lines (UTF-8, fields separated by one tab; a backslash, tab,
// newline or carriage return inside a field is written as \\ \t \n \r):
//   STATION  <station name> <its UOI_FLAGS dwFlags, hexadecimal>
//            (with -w, before START)
//   START    <process id>
//   STARTED_AT <ms since 1601-01-01 UTC by the system clock, at the start>
//            (so that the reports of programs watched at the same time
//            can be laid on one time line)
//   BOX      <caption> <text> <button ids, comma-separated> <ms since start>
//   EXIT     <exit code, unsigned decimal>
//   AFTER_OK_MS <ms from the last OK press to the program's exit>
//            (only when a box was shown)
//   RUN_MS   <ms from start to exit>
//   TIMEOUT  <seconds>   the program did not end in time and was killed
//   KILLED   <ms since start>   killed as -k asked, before it ended
//   ERROR    <what failed> <Windows error number>
//   DONE     the report is complete
//
// Exit code: 0 when the program ran and ended by itself or was killed as
// -k asked, 1 on a timeout,
// 2 on bad usage, 3 when the program could not be started or the report
// could not be written.
#include <windows.h>
#include <shellapi.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>

#ifndef ERROR_ELEVATION_REQUIRED
#define ERROR_ELEVATION_REQUIRED 740
#endif

namespace {

HANDLE g_report = INVALID_HANDLE_VALUE;

// Writes one UTF-8 line at once and flushes it, so a report stays readable
// up to its last line even when the watcher itself is killed.
void writeUtf8(const wchar_t* line) {
    int bytes = WideCharToMultiByte(CP_UTF8, 0, line, -1, nullptr, 0, nullptr, nullptr);
    if (bytes <= 1) return;
    char* buf = static_cast<char*>(malloc(bytes));
    if (!buf) return;
    WideCharToMultiByte(CP_UTF8, 0, line, -1, buf, bytes, nullptr, nullptr);
    DWORD written = 0;
    WriteFile(g_report, buf, bytes - 1, &written, nullptr);
    FlushFileBuffers(g_report);
    free(buf);
}

// A growable wide line built field by field.
struct Line {
    wchar_t* text = nullptr;
    size_t len = 0;
    size_t cap = 0;

    ~Line() { free(text); }

    void reserve(size_t more) {
        if (len + more + 1 <= cap) return;
        size_t next = cap ? cap * 2 : 256;
        while (next < len + more + 1) next *= 2;
        wchar_t* grown = static_cast<wchar_t*>(realloc(text, next * sizeof(wchar_t)));
        if (!grown) abort();
        text = grown;
        cap = next;
    }
    void put(wchar_t c) {
        reserve(1);
        text[len++] = c;
        text[len] = 0;
    }
    void raw(const wchar_t* s) {
        for (; *s; ++s) put(*s);
    }
    // A field: escaped so that tabs and line ends cannot split it.
    void field(const wchar_t* s) {
        put(L'\t');
        for (; *s; ++s) {
            switch (*s) {
            case L'\\': raw(L"\\\\"); break;
            case L'\t': raw(L"\\t"); break;
            case L'\n': raw(L"\\n"); break;
            case L'\r': raw(L"\\r"); break;
            default: put(*s);
            }
        }
    }
    void number(unsigned long long v) {
        wchar_t digits[32];
        int n = 0;
        do {
            digits[n++] = static_cast<wchar_t>(L'0' + v % 10);
            v /= 10;
        } while (v);
        put(L'\t');
        while (n) put(digits[--n]);
    }
    void emit() {
        put(L'\n');
        writeUtf8(text);
        len = 0;
        if (text) text[0] = 0;
    }
};

void reportError(const wchar_t* what, DWORD err) {
    Line l;
    l.raw(L"ERROR");
    l.field(what);
    l.number(err);
    l.emit();
}

// Reads a window's text whatever its length.
wchar_t* windowText(HWND w) {
    int n = w ? GetWindowTextLengthW(w) : 0;
    if (n < 0) n = 0;
    wchar_t* buf = static_cast<wchar_t*>(calloc(n + 64, sizeof(wchar_t)));
    if (!buf) abort();
    if (w) GetWindowTextW(w, buf, n + 63);
    return buf;
}

// A box seen on screen: its handle and when OK was last pressed on it.
struct Box {
    HWND hwnd;
    ULONGLONG okAt;
};

const int kMaxBoxes = 64;
Box g_live[kMaxBoxes];
int g_liveCount = 0;

struct Search {
    DWORD pid;
    HWND found[kMaxBoxes];
    int count;
};

BOOL CALLBACK collectBoxes(HWND w, LPARAM param) {
    Search* s = reinterpret_cast<Search*>(param);
    DWORD pid = 0;
    GetWindowThreadProcessId(w, &pid);
    if (pid != s->pid) return TRUE;
    wchar_t cls[64] = {0};
    GetClassNameW(w, cls, 63);
    // A box only counts once it is on screen: before that its dialog
    // initialisation may not have set caption and text yet.
    if (wcscmp(cls, L"#32770") == 0 && IsWindowVisible(w) && s->count < kMaxBoxes)
        s->found[s->count++] = w;
    return TRUE;
}

struct Buttons {
    Line ids;
    int count;
};

BOOL CALLBACK collectButtons(HWND w, LPARAM param) {
    Buttons* b = reinterpret_cast<Buttons*>(param);
    wchar_t cls[64] = {0};
    GetClassNameW(w, cls, 63);
    if (_wcsicmp(cls, L"Button") == 0 && IsWindowVisible(w)) {
        wchar_t num[16];
        _snwprintf(num, 16, L"%d", GetDlgCtrlID(w));
        num[15] = 0;
        if (b->count++) b->ids.put(L',');
        b->ids.raw(num);
    }
    return TRUE;
}

void reportBox(HWND box, ULONGLONG sinceStart) {
    wchar_t* caption = windowText(box);
    wchar_t* text = windowText(GetDlgItem(box, 0xFFFF));
    Buttons b;
    b.count = 0;
    b.ids.raw(L"");
    EnumChildWindows(box, collectButtons, reinterpret_cast<LPARAM>(&b));
    Line l;
    l.raw(L"BOX");
    l.field(caption);
    l.field(text);
    l.field(b.ids.text ? b.ids.text : L"");
    l.number(sinceStart);
    l.emit();
    free(caption);
    free(text);
}

bool isLive(HWND w) {
    for (int i = 0; i < g_liveCount; ++i)
        if (g_live[i].hwnd == w) return true;
    return false;
}

// Appends one argument to a command line with the quoting rules that
// CommandLineToArgvW undoes.
void quoteArg(Line& cmd, const wchar_t* arg) {
    if (cmd.len) cmd.put(L' ');
    bool needs = !*arg || wcspbrk(arg, L" \t\"") != nullptr;
    if (!needs) {
        cmd.raw(arg);
        return;
    }
    cmd.put(L'"');
    int slashes = 0;
    for (const wchar_t* p = arg;; ++p) {
        if (*p == L'\\') {
            ++slashes;
            continue;
        }
        if (*p == 0) {
            for (int i = 0; i < slashes * 2; ++i) cmd.put(L'\\');
            break;
        }
        if (*p == L'"') {
            for (int i = 0; i < slashes * 2 + 1; ++i) cmd.put(L'\\');
        } else {
            for (int i = 0; i < slashes; ++i) cmd.put(L'\\');
        }
        slashes = 0;
        cmd.put(*p);
    }
    cmd.put(L'"');
}

int usage() {
    reportError(L"usage: watcher.exe [-t SECONDS] [-C WORKDIR] [-n MAXBOXES] [-s SHOTDIR] [-k MS] [-w STATION\\DESKTOP] REPORT PROGRAM [ARGS...]", 0);
    return 2;
}

// SHOTDIR\box-N.SUFFIX into path; false when it would not fit.
bool shotPath(wchar_t* path, size_t cch, const wchar_t* dir, unsigned n, const wchar_t* suffix) {
    int len = _snwprintf(path, cch, L"%ls\\box-%u.%ls", dir, n, suffix);
    return len > 0 && static_cast<size_t>(len) < cch;
}

// Hands box n's rectangle to whoever takes the screenshot and waits for
// the shot, so that the box is pressed only after it was captured.
void awaitShot(const wchar_t* dir, unsigned n, HWND box) {
    const ULONGLONG kShotWaitMs = 30000;
    wchar_t rectPath[MAX_PATH], takenPath[MAX_PATH];
    RECT r;
    if (!shotPath(rectPath, MAX_PATH, dir, n, L"rect") ||
        !shotPath(takenPath, MAX_PATH, dir, n, L"taken") || !GetWindowRect(box, &r))
        return;
    char line[64];
    int len = _snprintf(line, sizeof line, "%ld %ld %ld %ld\n", r.left, r.top,
                        r.right - r.left, r.bottom - r.top);
    HANDLE f = CreateFileW(rectPath, GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                           CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    if (len > 0) WriteFile(f, line, static_cast<DWORD>(len), &written, nullptr);
    CloseHandle(f);
    const ULONGLONG until = GetTickCount64() + kShotWaitMs;
    while (GetFileAttributesW(takenPath) == INVALID_FILE_ATTRIBUTES && GetTickCount64() < until)
        Sleep(100);
}

// Creates the window station and desktop that "STATION\DESKTOP" names and
// reports the station's flags; false (reported) when either cannot be
// made.  The handles stay open for the program's lifetime.
bool makeStation(const wchar_t* name) {
    wchar_t station[MAX_PATH];
    const wchar_t* slash = wcschr(name, L'\\');
    size_t n = slash ? static_cast<size_t>(slash - name) : 0;
    if (!slash || n == 0 || n >= MAX_PATH || !slash[1]) {
        reportError(L"-w wants STATION\\DESKTOP", ERROR_INVALID_PARAMETER);
        return false;
    }
    wmemcpy(station, name, n);
    station[n] = 0;
    HWINSTA mine = GetProcessWindowStation();
    HWINSTA made = CreateWindowStationW(station, 0, WINSTA_ALL_ACCESS, nullptr);
    if (!made) {
        reportError(L"CreateWindowStationW", GetLastError());
        return false;
    }
    USEROBJECTFLAGS flags;
    memset(&flags, 0, sizeof flags);
    DWORD needed = 0;
    if (!GetUserObjectInformationW(made, UOI_FLAGS, &flags, sizeof flags, &needed)) {
        reportError(L"GetUserObjectInformationW", GetLastError());
        return false;
    }
    // A desktop is created on the calling process's station.
    if (!SetProcessWindowStation(made)) {
        reportError(L"SetProcessWindowStation", GetLastError());
        return false;
    }
    HDESK desk = CreateDesktopW(slash + 1, nullptr, nullptr, 0, GENERIC_ALL, nullptr);
    DWORD err = GetLastError();
    SetProcessWindowStation(mine);
    if (!desk) {
        reportError(L"CreateDesktopW", err);
        return false;
    }
    wchar_t hex[16];
    _snwprintf(hex, 16, L"%lx", static_cast<unsigned long>(flags.dwFlags));
    hex[15] = 0;
    Line l;
    l.raw(L"STATION");
    l.field(station);
    l.field(hex);
    l.emit();
    return true;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    unsigned timeoutSeconds = 60;
    unsigned maxBoxes = 20;
    const wchar_t* workdir = nullptr;
    const wchar_t* shotDir = nullptr;
    ULONGLONG killAfterMs = 0;  // 0: never
    const wchar_t* desktop = nullptr;
    int i = 1;
    for (; i + 1 < argc && argv[i][0] == L'-'; i += 2) {
        if (wcscmp(argv[i], L"-t") == 0)
            timeoutSeconds = static_cast<unsigned>(wcstoul(argv[i + 1], nullptr, 10));
        else if (wcscmp(argv[i], L"-C") == 0)
            workdir = argv[i + 1];
        else if (wcscmp(argv[i], L"-n") == 0)
            maxBoxes = static_cast<unsigned>(wcstoul(argv[i + 1], nullptr, 10));
        else if (wcscmp(argv[i], L"-s") == 0)
            shotDir = argv[i + 1];
        else if (wcscmp(argv[i], L"-k") == 0)
            killAfterMs = wcstoull(argv[i + 1], nullptr, 10);
        else if (wcscmp(argv[i], L"-w") == 0)
            desktop = argv[i + 1];
        else
            break;
    }
    if (argc - i < 2) {
        g_report = GetStdHandle(STD_ERROR_HANDLE);
        return usage();
    }
    const wchar_t* reportPath = argv[i];
    const wchar_t* program = argv[i + 1];

    g_report = CreateFileW(reportPath, GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                           CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (g_report == INVALID_HANDLE_VALUE) return 3;

    if (desktop && !makeStation(desktop)) return 3;

    Line cmd;
    for (int a = i + 1; a < argc; ++a) quoteArg(cmd, argv[a]);

    FILETIME startedAt;
    GetSystemTimeAsFileTime(&startedAt);
    ULONGLONG started = GetTickCount64();
    STARTUPINFOW si;
    memset(&si, 0, sizeof si);
    si.cb = sizeof si;
    wchar_t desktopName[MAX_PATH] = {0};
    if (desktop) {
        wcsncpy(desktopName, desktop, MAX_PATH - 1);
        si.lpDesktop = desktopName;
    }
    PROCESS_INFORMATION pi;
    memset(&pi, 0, sizeof pi);
    HANDLE process = nullptr;
    DWORD pid = 0;
    if (CreateProcessW(program, cmd.text, nullptr, nullptr, FALSE, 0, nullptr, workdir, &si, &pi)) {
        process = pi.hProcess;
        pid = pi.dwProcessId;
        CloseHandle(pi.hThread);
    } else {
        DWORD err = GetLastError();
        // The shell cannot be told a desktop.
        if (err != ERROR_ELEVATION_REQUIRED || desktop) {
            reportError(L"CreateProcessW", err);
            return 3;
        }
        // A program whose manifest asks for elevation is started through the
        // shell, as Explorer would start it.
        const wchar_t* params = cmd.text;
        // Skip the program itself in the shell's parameter string.
        Line rest;
        for (int a = i + 2; a < argc; ++a) quoteArg(rest, argv[a]);
        params = rest.text ? rest.text : L"";
        SHELLEXECUTEINFOW sei;
        memset(&sei, 0, sizeof sei);
        sei.cbSize = sizeof sei;
        sei.fMask = SEE_MASK_NOCLOSEPROCESS;
        sei.lpVerb = L"open";
        sei.lpFile = program;
        sei.lpParameters = params;
        sei.lpDirectory = workdir;
        sei.nShow = SW_SHOWNORMAL;
        if (!ShellExecuteExW(&sei) || !sei.hProcess) {
            reportError(L"ShellExecuteExW", GetLastError());
            return 3;
        }
        process = sei.hProcess;
        pid = GetProcessId(process);
    }
    {
        Line l;
        l.raw(L"START");
        l.number(pid);
        l.emit();
        l.raw(L"STARTED_AT");
        l.number(((static_cast<ULONGLONG>(startedAt.dwHighDateTime) << 32) |
                  startedAt.dwLowDateTime) / 10000);
        l.emit();
    }

    const ULONGLONG deadline = started + static_cast<ULONGLONG>(timeoutSeconds) * 1000;
    ULONGLONG lastOk = 0;
    unsigned boxes = 0;
    const ULONGLONG killAt = killAfterMs ? started + killAfterMs : 0;
    bool exited = false;
    bool killed = false;
    while (!exited) {
        // Polls every 50 ms, but wakes in time for the kill.
        DWORD poll = 50;
        ULONGLONG now = GetTickCount64();
        if (killAt) {
            ULONGLONG left = killAt > now ? killAt - now : 0;
            if (left < poll) poll = static_cast<DWORD>(left);
        }
        exited = WaitForSingleObject(process, poll) == WAIT_OBJECT_0;
        if (exited) break;
        now = GetTickCount64();
        if (killAt && now >= killAt) {
            TerminateProcess(process, 1);
            WaitForSingleObject(process, 5000);
            Line l;
            l.raw(L"KILLED");
            l.number(now - started);
            l.emit();
            killed = true;
            break;
        }
        if (now >= deadline) break;

        // Forget boxes that have gone, so a new box is never mistaken for one
        // already reported.
        for (int b = 0; b < g_liveCount;) {
            if (!IsWindow(g_live[b].hwnd)) {
                g_live[b] = g_live[--g_liveCount];
            } else {
                ++b;
            }
        }

        Search s;
        s.pid = pid;
        s.count = 0;
        EnumWindows(collectBoxes, reinterpret_cast<LPARAM>(&s));
        for (int f = 0; f < s.count; ++f) {
            HWND w = s.found[f];
            if (isLive(w)) continue;
            if (g_liveCount == kMaxBoxes) continue;
            ++boxes;
            // Settle briefly so the text read is the one the user would see.
            Sleep(100);
            if (!IsWindow(w)) continue;
            reportBox(w, GetTickCount64() - started);
            if (shotDir) awaitShot(shotDir, boxes, w);
            g_live[g_liveCount].hwnd = w;
            g_live[g_liveCount].okAt = 0;
            ++g_liveCount;
        }
        // Press OK on every box still open.  A box that is still on screen a
        // second after its press is pressed again, in case the press got
        // lost; the first press is what the user did, so it alone is timed.
        // Beyond the box limit the program is left alone, so that a program
        // that keeps showing boxes runs into the timeout.
        for (int b = 0; b < g_liveCount; ++b) {
            now = GetTickCount64();
            if (boxes > maxBoxes) break;
            if (g_live[b].okAt) {
                if (now - g_live[b].okAt < 1000 || !IsWindowVisible(g_live[b].hwnd)) continue;
                PostMessageW(g_live[b].hwnd, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
                g_live[b].okAt = now;
                continue;
            }
            PostMessageW(g_live[b].hwnd, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
            g_live[b].okAt = now;
            lastOk = now;
        }
    }

    ULONGLONG ended = GetTickCount64();
    int rc = 0;
    if (killed) {
        // Reported above; the program did not end by itself.
    } else if (!exited) {
        Line l;
        l.raw(L"TIMEOUT");
        l.number(timeoutSeconds);
        l.emit();
        TerminateProcess(process, 1);
        WaitForSingleObject(process, 5000);
        rc = 1;
    } else {
        DWORD code = 0;
        GetExitCodeProcess(process, &code);
        Line l;
        l.raw(L"EXIT");
        l.number(code);
        l.emit();
        if (lastOk) {
            l.raw(L"AFTER_OK_MS");
            l.number(ended - lastOk);
            l.emit();
        }
    }
    {
        Line l;
        l.raw(L"RUN_MS");
        l.number(ended - started);
        l.emit();
        l.raw(L"DONE");
        l.emit();
    }
    CloseHandle(process);
    CloseHandle(g_report);
    return rc;
}
