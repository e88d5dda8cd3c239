// aboutbox: a test build of the installer's window class and About box,
// driven the way a user would drive them.
//
// Usage:
//   aboutbox.exe REPORT
//       Runs the start-up, creates a window of the registered class, and
//       opens the About box through command 104 and through both
//       accelerators; a second thread finds the box each time and closes
//       it by OK, by Escape or by the caption's close button.  The box is
//       also run directly, to see what DialogBoxParamW returns for each way
//       of closing it.
//   aboutbox.exe --show REPORT READY DONE
//       Opens the About box and, once it is painted, writes its screen
//       rectangle ("x y width height") to the file READY; waits until the
//       file DONE exists (someone took a screenshot), then presses OK.
//
// One line per check goes to REPORT (UTF-8): "PASS <check>" or
// "FAIL <check>: <what was found>", then "DONE <failures>".  Exit code 0
// when every check passed, 1 when one failed, 2 on bad usage.
#include <windows.h>
#include <stdarg.h>
#include <stdio.h>
#include <string.h>
#include <wchar.h>

#include "e2e/resources/check_report.h"
#include "res/resource.h"
#include "ui/window.h"

namespace {

const wchar_t kDialogClass[] = L"#32770";
const wchar_t kAboutCaption[] = L"关于 Ostrilon";

// How long the driver waits for the box to appear, and then to go away.
const DWORD kAppearMs = 10000;
const DWORD kVanishMs = 5000;
const DWORD kPollMs = 20;
// Time for the box to paint after it became visible, before the mouse or
// the keyboard acts on it.
const DWORD kSettleMs = 300;
// How long --show waits for the screenshot.
const DWORD kShotMs = 60000;

// WM_COMMAND's high word for a command that came from an accelerator.
const WORD kFromAccelerator = 1;


// ---- finding and closing the About box ----

enum Closing {
    CloseByOkButton,     // BM_CLICK on the OK button
    CloseByOkClick,      // a mouse click on the OK button
    CloseByEscapeKey,    // Escape pressed on the keyboard
    CloseByCloseButton,  // a mouse click on the caption's close button
    CloseByCloseCommand, // the system menu's Close command
    CloseWhenDone,       // OK, once a file exists (for the screenshot)
};

const wchar_t *ClosingName(Closing how)
{
    switch (how) {
    case CloseByOkButton:
        return L"the OK button";
    case CloseByOkClick:
        return L"a mouse click on OK";
    case CloseByEscapeKey:
        return L"Escape";
    case CloseByCloseButton:
        return L"a mouse click on the caption's close button";
    case CloseByCloseCommand:
        return L"the Close command";
    case CloseWhenDone:
        return L"OK after the screenshot";
    }
    return L"?";
}

struct Driver {
    Closing how;
    HWND owner;          // the window the box must belong to
    DWORD uiThread;      // the thread that runs the box
    const wchar_t *what; // how the box was opened, for the report
    const wchar_t *readyFile;
    const wchar_t *doneFile;
    HWND dialog;         // the box that was found, or NULL
    bool vanished;       // it went away after the closing action
};

// The About box of the UI thread, or NULL.
HWND FindAbout(DWORD uiThread)
{
    HWND w = NULL;
    while ((w = FindWindowExW(NULL, w, kDialogClass, kAboutCaption)) != NULL)
        if (GetWindowThreadProcessId(w, NULL) == uiThread)
            return w;
    return NULL;
}

HWND WaitForAbout(DWORD uiThread)
{
    for (DWORD waited = 0; waited < kAppearMs; waited += kPollMs) {
        HWND w = FindAbout(uiThread);
        if (w && IsWindowVisible(w))
            return w;
        Sleep(kPollMs);
    }
    return NULL;
}

void ClickAt(int x, int y)
{
    // Absolute mouse coordinates run from 0 to 65535 across the screen.
    const int kAbsoluteRange = 65535;
    int cx = GetSystemMetrics(SM_CXSCREEN) - 1;
    int cy = GetSystemMetrics(SM_CYSCREEN) - 1;
    INPUT in[3] = {};
    for (int i = 0; i < 3; i++) {
        in[i].type = INPUT_MOUSE;
        in[i].mi.dx = MulDiv(x, kAbsoluteRange, cx);
        in[i].mi.dy = MulDiv(y, kAbsoluteRange, cy);
        in[i].mi.dwFlags = MOUSEEVENTF_ABSOLUTE | MOUSEEVENTF_MOVE;
    }
    in[1].mi.dwFlags |= MOUSEEVENTF_LEFTDOWN;
    in[2].mi.dwFlags |= MOUSEEVENTF_LEFTUP;
    SendInput(1, &in[0], sizeof(INPUT));
    Sleep(kPollMs);
    SendInput(2, &in[1], sizeof(INPUT));
}

void PressKey(WORD vk)
{
    INPUT in[2] = {};
    in[0].type = in[1].type = INPUT_KEYBOARD;
    in[0].ki.wVk = in[1].ki.wVk = vk;
    in[1].ki.dwFlags = KEYEVENTF_KEYUP;
    SendInput(2, in, sizeof(INPUT));
}

// Brings the box to the front so that keyboard and mouse reach it.
void Activate(HWND dialog)
{
    SetForegroundWindow(dialog);
    Sleep(kSettleMs);
}

void WriteReady(const Driver *d, HWND dialog)
{
    RECT r;
    GetWindowRect(dialog, &r);
    char text[64];
    int n = _snprintf(text, sizeof text, "%ld %ld %ld %ld\n", r.left, r.top,
                      r.right - r.left, r.bottom - r.top);
    HANDLE f = CreateFileW(d->readyFile, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, NULL);
    if (f != INVALID_HANDLE_VALUE) {
        DWORD written;
        WriteFile(f, text, (DWORD)n, &written, NULL);
        CloseHandle(f);
    }
}

// The middle of the caption's close button, found by asking the box what
// lies under each point of its title bar.
bool FindCloseButton(HWND dialog, POINT *where)
{
    TITLEBARINFO tbi = {};
    tbi.cbSize = sizeof tbi;
    if (!GetTitleBarInfo(dialog, &tbi))
        return false;
    RECT bar = tbi.rcTitleBar;
    for (int y = bar.top; y < bar.bottom; y++) {
        int first = -1, last = -1;
        for (int x = bar.right - 1; x >= bar.left; x--) {
            LRESULT hit =
                SendMessageW(dialog, WM_NCHITTEST, 0, MAKELPARAM(x, y));
            if (hit == HTCLOSE) {
                if (last < 0)
                    last = x;
                first = x;
            } else if (last >= 0) {
                break;
            }
        }
        if (last >= 0) {
            // Aim at the middle row of the button as well.
            int bottom = y;
            int mid = (first + last) / 2;
            while (bottom + 1 < bar.bottom &&
                   SendMessageW(dialog, WM_NCHITTEST, 0,
                                MAKELPARAM(mid, bottom + 1)) == HTCLOSE)
                bottom++;
            where->x = mid;
            where->y = (y + bottom) / 2;
            return true;
        }
    }
    return false;
}

void Close(const Driver *d, HWND dialog)
{
    HWND ok = GetDlgItem(dialog, IDOK);
    RECT r;
    switch (d->how) {
    case CloseByOkButton:
        SendMessageW(ok, BM_CLICK, 0, 0);
        break;
    case CloseByOkClick:
        Activate(dialog);
        GetWindowRect(ok, &r);
        ClickAt((r.left + r.right) / 2, (r.top + r.bottom) / 2);
        break;
    case CloseByEscapeKey:
        Activate(dialog);
        PressKey(VK_ESCAPE);
        break;
    case CloseByCloseButton: {
        Activate(dialog);
        POINT p;
        if (FindCloseButton(dialog, &p))
            ClickAt(p.x, p.y);
        break;
    }
    case CloseByCloseCommand:
        PostMessageW(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
        break;
    case CloseWhenDone:
        Sleep(kSettleMs);
        UpdateWindow(dialog);
        WriteReady(d, dialog);
        for (DWORD waited = 0; waited < kShotMs; waited += kPollMs) {
            if (GetFileAttributesW(d->doneFile) != INVALID_FILE_ATTRIBUTES)
                break;
            Sleep(kPollMs);
        }
        SendMessageW(ok, BM_CLICK, 0, 0);
        break;
    }
}

bool WaitUntilGone(HWND dialog)
{
    for (DWORD waited = 0; waited < kVanishMs; waited += kPollMs) {
        if (!IsWindow(dialog))
            return true;
        Sleep(kPollMs);
    }
    return false;
}

// A box that stays open blocks the UI thread for ever: it is asked to end
// by Cancel and by OK, and when it still stays the run ends here.
void GiveUpOn(HWND dialog)
{
    PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
    if (WaitUntilGone(dialog))
        return;
    PostMessageW(dialog, WM_COMMAND, IDOK, 0);
    if (WaitUntilGone(dialog))
        return;
    Check(false, L"the About box can be closed at all",
          L"it ignores Cancel and OK");
    ExitProcess(report::Close());
}

DWORD WINAPI DriveAbout(LPVOID param)
{
    Driver *d = (Driver *)param;
    d->dialog = WaitForAbout(d->uiThread);
    if (!d->dialog)
        return 0;
    if (d->how != CloseByOkButton && d->how != CloseByCloseCommand &&
        d->how != CloseWhenDone)
        Sleep(kSettleMs);
    Close(d, d->dialog);
    d->vanished = WaitUntilGone(d->dialog);
    if (!d->vanished)
        GiveUpOn(d->dialog);
    return 0;
}

HANDLE StartDriver(Driver *d, Closing how, HWND owner, const wchar_t *what)
{
    d->how = how;
    d->owner = owner;
    d->uiThread = GetCurrentThreadId();
    d->what = what;
    d->dialog = NULL;
    d->vanished = false;
    return CreateThread(NULL, 0, DriveAbout, d, 0, NULL);
}

void FinishDriver(HANDLE thread, const Driver *d)
{
    WaitForSingleObject(thread, kAppearMs + kVanishMs + kShotMs);
    CloseHandle(thread);
    wchar_t name[256];
    _snwprintf(name, ARRAYSIZE(name), L"%ls opens the About box", d->what);
    Check(d->dialog != NULL, name, L"no visible \"%ls\" of class %ls",
          kAboutCaption, kDialogClass);
    if (!d->dialog)
        return;
    _snwprintf(name, ARRAYSIZE(name), L"%ls: the box closes on %ls", d->what,
               ClosingName(d->how));
    Check(d->vanished, name, L"still open after %lu ms", kVanishMs);
}

// ---- what the box shows ----

struct Texts {
    int statics;
    bool title;
    bool year;
    bool icon;
};

BOOL CALLBACK OnChild(HWND child, LPARAM param)
{
    Texts *t = (Texts *)param;
    wchar_t cls[32], text[128];
    GetClassNameW(child, cls, ARRAYSIZE(cls));
    GetWindowTextW(child, text, ARRAYSIZE(text));
    if (lstrcmpiW(cls, L"Static") == 0) {
        t->statics++;
        LONG style = GetWindowLongW(child, GWL_STYLE);
        if ((style & SS_TYPEMASK) == SS_ICON)
            t->icon = true;
        else if (wcscmp(text, L"Ostrilon, 版本 1.0") == 0)
            t->title = true;
        else if (wcsstr(text, L"2019"))
            t->year = true;
    }
    return TRUE;
}

void CheckBoxContents(HWND dialog, HWND owner)
{
    Check(GetWindow(dialog, GW_OWNER) == owner,
          L"the About box is owned by the window", L"owner %p, window %p",
          GetWindow(dialog, GW_OWNER), owner);
    Check(IsWindowEnabled(owner) == FALSE,
          L"the window is disabled while the About box is open", L"enabled");
    wchar_t text[64] = {};
    HWND ok = GetDlgItem(dialog, IDOK);
    GetWindowTextW(ok, text, ARRAYSIZE(text));
    Check(ok && wcscmp(text, L"确定") == 0 &&
              (GetWindowLongW(ok, GWL_STYLE) & BS_TYPEMASK) == BS_DEFPUSHBUTTON,
          L"the About box has the default button \"确定\" as OK",
          L"button %p \"%ls\"", ok, text);
    Texts t = {};
    EnumChildWindows(dialog, OnChild, (LPARAM)&t);
    Check(t.statics == 3 && t.icon && t.title && t.year,
          L"the About box shows the icon control, the title and the year",
          L"%d statics, icon %d title %d year %d", t.statics, t.icon, t.title,
          t.year);
}

DWORD WINAPI InspectAbout(LPVOID param)
{
    Driver *d = (Driver *)param;
    d->dialog = WaitForAbout(d->uiThread);
    if (d->dialog) {
        CheckBoxContents(d->dialog, d->owner);
        SendMessageW(GetDlgItem(d->dialog, IDOK), BM_CLICK, 0, 0);
        d->vanished = WaitUntilGone(d->dialog);
        if (!d->vanished)
            GiveUpOn(d->dialog);
    }
    return 0;
}

// ---- the scenarios ----

HWND CreateTestWindow(HINSTANCE instance, const wchar_t *className,
                      const wchar_t *title)
{
    HWND w = CreateWindowExW(0, className, title, WS_OVERLAPPEDWINDOW,
                             CW_USEDEFAULT, 0, CW_USEDEFAULT, 0, NULL, NULL,
                             instance, NULL);
    if (w) {
        ShowWindow(w, SW_SHOWNORMAL);
        UpdateWindow(w);
    }
    return w;
}

void CheckClass(HINSTANCE instance, const wchar_t *className)
{
    WNDCLASSEXW wc = {};
    wc.cbSize = sizeof wc;
    BOOL found = GetClassInfoExW(instance, className, &wc);
    if (!Check(found != FALSE, L"start-up registers the class \"OSTRILON\"",
               L"error %lu", GetLastError()))
        return;
    Check(wc.style == (CS_HREDRAW | CS_VREDRAW) && wc.cbClsExtra == 0 &&
              wc.cbWndExtra == 0,
          L"the class redraws on resize and has no extra bytes",
          L"style 0x%x extra %d %d", wc.style, wc.cbClsExtra, wc.cbWndExtra);
    Check(wc.lpfnWndProc == UiWndProc, L"the class runs the window procedure",
          L"%p", (void *)wc.lpfnWndProc);
    Check(wc.hIcon != NULL && wc.hIconSm != NULL && wc.hIcon != wc.hIconSm,
          L"the class has its icon and a small icon of its own",
          L"icon %p small %p", wc.hIcon, wc.hIconSm);
    Check(wc.hCursor == LoadCursorW(NULL, IDC_ARROW),
          L"the class has the arrow cursor", L"%p", wc.hCursor);
    Check(wc.hbrBackground == (HBRUSH)(INT_PTR)(COLOR_WINDOW + 1),
          L"the class paints the window colour", L"%p", wc.hbrBackground);
    Check(wc.lpszMenuName == MAKEINTRESOURCEW(IDC_INSTALLER),
          L"the class names menu 109", L"%p", wc.lpszMenuName);
}

void OpenByCommand(HWND window, Closing how)
{
    Driver d;
    HANDLE t = StartDriver(&d, how, window, L"command 104");
    LRESULT r = SendMessageW(window, WM_COMMAND, IDM_ABOUT, 0);
    FinishDriver(t, &d);
    wchar_t name[160];
    _snwprintf(name, ARRAYSIZE(name),
               L"command 104 returns 0 once the box is closed by %ls",
               ClosingName(how));
    Check(r == 0, name, L"%ld", (long)r);
}

void OpenDirectly(HINSTANCE instance, HWND window, Closing how,
                  INT_PTR expected)
{
    Driver d;
    HANDLE t = StartDriver(&d, how, window, L"DialogBoxParamW");
    SetLastError(ERROR_SUCCESS);
    INT_PTR r = DialogBoxParamW(instance, MAKEINTRESOURCEW(IDD_ABOUTBOX),
                                window, UiAboutProc, 0);
    DWORD error = GetLastError();
    FinishDriver(t, &d);
    wchar_t name[160];
    _snwprintf(name, ARRAYSIZE(name), L"DialogBoxParamW returns %ld on %ls",
               (long)expected, ClosingName(how));
    Check(r == expected, name, L"%ld, error %lu", (long)r, error);
}

// Offers one typed character to the accelerator table, with or without
// Alt held, the way the message pump would.
int OfferCharacter(HWND window, HACCEL table, WCHAR ch, bool alt)
{
    BYTE keys[256];
    GetKeyboardState(keys);
    // The high bit marks a key as held down.
    const BYTE kDown = 0x80;
    keys[VK_MENU] = alt ? kDown : 0;
    keys[VK_LMENU] = alt ? kDown : 0;
    SetKeyboardState(keys);
    MSG msg = {};
    msg.hwnd = window;
    msg.message = alt ? WM_SYSCHAR : WM_CHAR;
    msg.wParam = ch;
    // Bit 29 of a character message: Alt was down when it was typed.
    const LPARAM kContextAlt = (LPARAM)1 << 29;
    msg.lParam = 1 | (alt ? kContextAlt : 0);
    int r = TranslateAcceleratorW(window, table, &msg);
    keys[VK_MENU] = keys[VK_LMENU] = 0;
    SetKeyboardState(keys);
    return r;
}

void OpenByAccelerator(HWND window, HACCEL table, WCHAR ch)
{
    wchar_t what[32];
    _snwprintf(what, ARRAYSIZE(what), L"Alt+\"%lc\"", ch);
    Driver d;
    HANDLE t = StartDriver(&d, CloseByOkButton, window, what);
    int r = OfferCharacter(window, table, ch, true);
    FinishDriver(t, &d);
    wchar_t name[64];
    _snwprintf(name, ARRAYSIZE(name), L"%ls is an accelerator", what);
    Check(r != 0, name, L"not translated");
}

// Counts command 104 from an accelerator on its way to the class's window
// procedure.
int g_aboutCommands = 0;
WNDPROC g_classProc = NULL;

LRESULT CALLBACK CountingProc(HWND hWnd, UINT message, WPARAM wParam,
                              LPARAM lParam)
{
    if (message == WM_COMMAND && LOWORD(wParam) == IDM_ABOUT &&
        HIWORD(wParam) == kFromAccelerator)
        g_aboutCommands++;
    return CallWindowProcW(g_classProc, hWnd, message, wParam, lParam);
}

int RunChecks()
{
    HINSTANCE instance = GetModuleHandleW(NULL);
    WCHAR title[UI_NAME_CCH] = {};
    WCHAR className[UI_NAME_CCH] = {};
    HACCEL table = UiStartup(instance, title, className);
    Check(wcscmp(title, L"Ostrilon") == 0,
          L"start-up loads the title \"Ostrilon\"", L"\"%ls\"", title);
    Check(wcscmp(className, L"OSTRILON") == 0,
          L"start-up loads the class name \"OSTRILON\"", L"\"%ls\"",
          className);
    Check(table != NULL, L"start-up returns the accelerator table",
          L"error %lu", GetLastError());
    CheckClass(instance, className);

    HWND window = CreateTestWindow(instance, className, title);
    if (!Check(window != NULL, L"a window of the class is created",
               L"error %lu", GetLastError()))
        return 1;
    HMENU menu = GetMenu(window);
    Check(menu != NULL && GetMenuItemCount(menu) == 2,
          L"the window has the class's menu of two popups", L"menu %p", menu);

    // What the box shows, once, with the owner disabled meanwhile.
    {
        Driver d;
        d.owner = window;
        d.uiThread = GetCurrentThreadId();
        d.dialog = NULL;
        d.vanished = false;
        HANDLE t = CreateThread(NULL, 0, InspectAbout, &d, 0, NULL);
        SendMessageW(window, WM_COMMAND, IDM_ABOUT, 0);
        WaitForSingleObject(t, kAppearMs + kVanishMs);
        CloseHandle(t);
        Check(d.dialog != NULL && d.vanished,
              L"command 104 shows the About box until OK is pressed",
              L"found %p vanished %d", d.dialog, d.vanished);
        Check(IsWindowEnabled(window) != FALSE,
              L"the window is enabled again after the About box",
              L"disabled");
    }

    const Closing ways[] = {CloseByOkButton, CloseByOkClick, CloseByEscapeKey,
                            CloseByCloseButton, CloseByCloseCommand};
    for (size_t i = 0; i < ARRAYSIZE(ways); i++)
        OpenByCommand(window, ways[i]);

    const INT_PTR results[] = {IDOK, IDOK, IDCANCEL, IDCANCEL, IDCANCEL};
    for (size_t i = 0; i < ARRAYSIZE(ways); i++)
        OpenDirectly(instance, window, ways[i], results[i]);

    // Both accelerators reach the window as command 104 from an
    // accelerator; a plain "?" without Alt is not one.
    g_classProc = (WNDPROC)SetWindowLongPtrW(window, GWLP_WNDPROC,
                                             (LONG_PTR)CountingProc);
    OpenByAccelerator(window, table, L'?');
    OpenByAccelerator(window, table, L'/');
    Check(g_aboutCommands == 2,
          L"both accelerators send command 104 to the window",
          L"%d commands", g_aboutCommands);
    int plain = OfferCharacter(window, table, L'?', false);
    Check(plain == 0 && g_aboutCommands == 2,
          L"\"?\" typed without Alt is not an accelerator",
          L"translated %d, %d commands", plain, g_aboutCommands);

    Check(IsWindow(window) != FALSE,
          L"the window survives every About box", L"gone");
    SendMessageW(window, WM_COMMAND, IDM_EXIT, 0);
    Check(IsWindow(window) == FALSE, L"command 105 destroys the window",
          L"still there");
    MSG msg = {};
    BOOL got = PeekMessageW(&msg, NULL, WM_QUIT, WM_QUIT, PM_REMOVE);
    Check(got && msg.message == WM_QUIT && msg.wParam == 0,
          L"destroying the window posts quit with code 0",
          L"got %d message 0x%x code %lu", got, msg.message,
          (unsigned long)msg.wParam);
    return 0;
}

int ShowForScreenshot(const wchar_t *readyFile, const wchar_t *doneFile)
{
    HINSTANCE instance = GetModuleHandleW(NULL);
    WCHAR title[UI_NAME_CCH] = {};
    WCHAR className[UI_NAME_CCH] = {};
    UiStartup(instance, title, className);
    HWND window = CreateTestWindow(instance, className, title);
    if (!Check(window != NULL, L"a window of the class is created",
               L"error %lu", GetLastError()))
        return 1;
    Driver d;
    d.readyFile = readyFile;
    d.doneFile = doneFile;
    HANDLE t = StartDriver(&d, CloseWhenDone, window, L"command 104");
    SendMessageW(window, WM_COMMAND, IDM_ABOUT, 0);
    FinishDriver(t, &d);
    DestroyWindow(window);
    return 0;
}

} // namespace

int wmain(int argc, wchar_t **argv)
{
    bool show = argc == 5 && wcscmp(argv[1], L"--show") == 0;
    if (!show && argc != 2)
        return 2;
    if (!report::Open(argv[show ? 2 : 1]))
        return 2;
    if (show)
        ShowForScreenshot(argv[3], argv[4]);
    else
        RunChecks();
    return report::Close();
}
