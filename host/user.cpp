/* user32 of the stand-in: resources, window class, messages, message
 * boxes, formatting, and the window functions of the About box. */
#include <cstring>
#include <cstdarg>
#include <string>

#include "host/internal.h"

namespace winhost {
namespace {

HANDLE FakeHandle(uintptr_t value) { return reinterpret_cast<HANDLE>(value); }

std::string IdOf(LPCWSTR name)
{
    uintptr_t v = reinterpret_cast<uintptr_t>(name);
    if (v < 0x10000)
        return "#" + std::to_string(v);
    return ToUtf8(name);
}

bool TakeMessage(LPMSG msg, bool remove)
{
    auto &q = machine().messages;
    if (q.empty())
        return false;
    *msg = q.front();
    if (remove)
        q.pop_front();
    return true;
}

const uintptr_t kDialogWindow = 0xD1A0;

} // namespace
} // namespace winhost

using namespace winhost;

extern "C" {

int WINAPI LoadStringW(HINSTANCE instance, UINT id, LPWSTR buffer, int cch)
{
    if (auto err = Enter("LoadStringW", u16(), "",
                         std::to_string(id) + " cch=" + std::to_string(cch))) {
        SetLastError(*err);
        return 0;
    }
    (void)instance;
    auto it = machine().strings.find(id);
    if (cch > 0)
        buffer[0] = 0;
    if (it == machine().strings.end()) {
        SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
        return 0;
    }
    int n = std::min<int>(static_cast<int>(it->second.size()), cch - 1);
    if (n < 0)
        return 0;
    std::copy(it->second.begin(), it->second.begin() + n, buffer);
    buffer[n] = 0;
    return n;
}

HICON WINAPI LoadIconW(HINSTANCE instance, LPCWSTR name)
{
    if (auto err = Enter("LoadIconW", u16(), "", IdOf(name))) {
        SetLastError(*err);
        return NULL;
    }
    if (instance && !machine().hasResources) {
        SetLastError(ERROR_RESOURCE_TYPE_NOT_FOUND);
        return NULL;
    }
    return static_cast<HICON>(
        FakeHandle(0x1C000 + (reinterpret_cast<uintptr_t>(name) & 0xFFFF)));
}

HCURSOR WINAPI LoadCursorW(HINSTANCE instance, LPCWSTR name)
{
    if (auto err = Enter("LoadCursorW", u16(), "", IdOf(name))) {
        SetLastError(*err);
        return NULL;
    }
    if (instance && !machine().hasResources) {
        SetLastError(ERROR_RESOURCE_TYPE_NOT_FOUND);
        return NULL;
    }
    return static_cast<HCURSOR>(
        FakeHandle(0xC0000 + (reinterpret_cast<uintptr_t>(name) & 0xFFFF)));
}

HACCEL WINAPI LoadAcceleratorsW(HINSTANCE instance, LPCWSTR name)
{
    if (auto err = Enter("LoadAcceleratorsW", u16(), "", IdOf(name))) {
        SetLastError(*err);
        return NULL;
    }
    (void)instance;
    if (!machine().hasResources) {
        SetLastError(ERROR_RESOURCE_TYPE_NOT_FOUND);
        return NULL;
    }
    return static_cast<HACCEL>(FakeHandle(0xACC0));
}

ATOM WINAPI RegisterClassExW(const WNDCLASSEXW *wc)
{
    u16 name = reinterpret_cast<uintptr_t>(wc->lpszClassName) < 0x10000
                   ? u16()
                   : FromWide(wc->lpszClassName);
    if (auto err = Enter("RegisterClassExW", name)) {
        SetLastError(*err);
        return 0;
    }
    if (wc->cbSize != sizeof(WNDCLASSEXW)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    for (auto &c : machine().classes) {
        if (EqualNoCase(c.className, name)) {
            SetLastError(ERROR_CLASS_ALREADY_EXISTS);
            return 0;
        }
    }
    machine().classes.push_back({*wc, name});
    return static_cast<ATOM>(0xC000 + machine().classes.size());
}

DWORD WINAPI MsgWaitForMultipleObjects(DWORD count, const HANDLE *handles,
                                       BOOL waitAll, DWORD ms, DWORD mask)
{
    if (auto err = Enter("MsgWaitForMultipleObjects", u16(), "",
                         "count=" + std::to_string(count) +
                             " ms=" + std::to_string(ms) +
                             " mask=" + Hex(mask))) {
        SetLastError(*err);
        return WAIT_FAILED;
    }
    (void)handles;
    (void)waitAll;
    auto &m = machine();
    if (m.messages.empty() && !m.laterMessages.empty()) {
        m.messages.push_back(m.laterMessages.front());
        m.laterMessages.pop_front();
    }
    if (m.messages.empty()) {
        if (ms == 0xFFFFFFFF)
            m.hung = true;
        return WAIT_TIMEOUT;
    }
    return WAIT_OBJECT_0 + count;
}

BOOL WINAPI PeekMessageW(LPMSG msg, HWND hwnd, UINT min, UINT max, UINT remove)
{
    Enter("PeekMessageW", u16(), "", remove & PM_REMOVE ? "remove" : "keep");
    (void)hwnd;
    (void)min;
    (void)max;
    return TakeMessage(msg, remove & PM_REMOVE) ? TRUE : FALSE;
}

BOOL WINAPI GetMessageW(LPMSG msg, HWND hwnd, UINT min, UINT max)
{
    if (auto err = Enter("GetMessageW")) {
        SetLastError(*err);
        return -1;
    }
    (void)hwnd;
    (void)min;
    (void)max;
    if (!TakeMessage(msg, true)) {
        /* On Windows this call would wait forever. */
        machine().hung = true;
        SetLastError(ERROR_INVALID_PARAMETER);
        return -1;
    }
    return msg->message == WM_QUIT ? FALSE : TRUE;
}

int WINAPI TranslateAcceleratorW(HWND hwnd, HACCEL table, LPMSG msg)
{
    if (auto err = Enter("TranslateAcceleratorW", u16(), "",
                         Hex(reinterpret_cast<uintptr_t>(table)) + " msg=" +
                             Hex(msg->message))) {
        SetLastError(*err);
        return 0;
    }
    (void)hwnd;
    if (!table) {
        SetLastError(ERROR_INVALID_HANDLE);
        return 0;
    }
    return machine().translateAcceleratorResult;
}

BOOL WINAPI TranslateMessage(const MSG *msg)
{
    Enter("TranslateMessage", u16(), "", Hex(msg->message));
    return msg->message == WM_KEYDOWN || msg->message == WM_SYSKEYDOWN;
}

LRESULT WINAPI DispatchMessageW(const MSG *msg)
{
    Enter("DispatchMessageW", u16(), "", Hex(msg->message));
    return 0;
}

int WINAPI MessageBoxW(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type)
{
    /* A box that could not be made (out of memory, no desktop) is not
     * shown: MessageBoxW returns 0. */
    if (auto err = Enter("MessageBoxW", FromWide(text), "",
                         ToUtf8(FromWide(caption)) + " style=" + Hex(type))) {
        SetLastError(*err);
        return 0;
    }
    machine().boxes.push_back({owner, FromWide(text), FromWide(caption), type});
    return IDOK;
}

int wsprintfW(LPWSTR out, LPCWSTR fmt, ...)
{
    u16 f = FromWide(fmt);
    Enter("wsprintfW", f);
    va_list ap;
    va_start(ap, fmt);
    u16 result;
    for (size_t i = 0; i < f.size(); i++) {
        if (f[i] != u'%' || i + 1 == f.size()) {
            result += f[i];
            continue;
        }
        char16_t conversion = f[++i];
        switch (conversion) {
        case u'u':
            result += FromUtf8(std::to_string(va_arg(ap, unsigned int)));
            break;
        case u'd':
            result += FromUtf8(std::to_string(va_arg(ap, int)));
            break;
        case u's':
            result += FromWide(va_arg(ap, LPCWSTR));
            break;
        case u'%':
            result += u'%';
            break;
        default: /* Stand-in: other conversions are not modelled. */
            result += u'%';
            result += conversion;
        }
    }
    va_end(ap);
    /* wsprintfW writes at most 1024 units, terminator included. */
    if (result.size() > 1023)
        result.resize(1023);
    std::copy(result.begin(), result.end(), out);
    out[result.size()] = 0;
    return static_cast<int>(result.size());
}

LRESULT WINAPI DefWindowProcW(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    Enter("DefWindowProcW", u16(), "",
          Hex(msg) + " " + Hex(wParam) + " " + Hex(lParam));
    (void)hwnd;
    return 0;
}

INT_PTR WINAPI DialogBoxParamW(HINSTANCE instance, LPCWSTR name, HWND owner,
                               DLGPROC proc, LPARAM param)
{
    Enter("DialogBoxParamW", u16(), "", IdOf(name));
    auto &m = machine();
    m.dialogs.push_back(
        {instance, reinterpret_cast<uintptr_t>(name), owner, proc});
    if (!m.hasResources) {
        SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
        return -1;
    }
    /* The dialog opens, and the user presses dialogCommand. */
    HWND dlg = reinterpret_cast<HWND>(kDialogWindow);
    size_t ended = m.endedDialogs.size();
    proc(dlg, WM_INITDIALOG, 0, param);
    proc(dlg, WM_COMMAND, m.dialogCommand, 0);
    if (m.endedDialogs.size() == ended) {
        /* A dialog nobody ends stays open forever. */
        m.hung = true;
        return -1;
    }
    return m.endedDialogs.back().second;
}

BOOL WINAPI EndDialog(HWND dlg, INT_PTR result)
{
    Enter("EndDialog", u16(), "", std::to_string(result));
    machine().endedDialogs.push_back({dlg, result});
    return TRUE;
}

BOOL WINAPI DestroyWindow(HWND hwnd)
{
    Enter("DestroyWindow", u16(), "", Hex(reinterpret_cast<uintptr_t>(hwnd)));
    return TRUE;
}

void WINAPI PostQuitMessage(int code)
{
    Enter("PostQuitMessage", u16(), "", std::to_string(code));
    MSG quit{};
    quit.message = WM_QUIT;
    quit.wParam = static_cast<WPARAM>(code);
    machine().messages.push_back(quit);
}

HDC WINAPI BeginPaint(HWND hwnd, LPPAINTSTRUCT ps)
{
    Enter("BeginPaint", u16(), "", Hex(reinterpret_cast<uintptr_t>(hwnd)));
    HDC dc = static_cast<HDC>(FakeHandle(0xDC00));
    ps->hdc = dc;
    return dc;
}

BOOL WINAPI EndPaint(HWND hwnd, const PAINTSTRUCT *ps)
{
    Enter("EndPaint", u16(), "", Hex(reinterpret_cast<uintptr_t>(hwnd)));
    (void)ps;
    return TRUE;
}

/* The process's window station; the handle is never closed by its
 * owner, as on Windows. */
static HWINSTA const kStation = reinterpret_cast<HWINSTA>(0x5C);

HWINSTA WINAPI GetProcessWindowStation(void)
{
    if (auto err = Enter("GetProcessWindowStation")) {
        SetLastError(*err);
        return NULL;
    }
    return kStation;
}

BOOL WINAPI GetUserObjectInformationW(HANDLE object, int index, PVOID info,
                                      DWORD length, LPDWORD needed)
{
    if (auto err = Enter("GetUserObjectInformationW", u16(), "",
                         "index=" + std::to_string(index) +
                             " length=" + std::to_string(length))) {
        SetLastError(*err);
        return FALSE;
    }
    if (object != static_cast<HANDLE>(kStation)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    /* Stand-in: only the flags of the window station are modelled. */
    if (index != UOI_FLAGS) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (needed)
        *needed = sizeof(USEROBJECTFLAGS);
    if (info == nullptr || length < sizeof(USEROBJECTFLAGS)) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    USEROBJECTFLAGS flags{};
    flags.dwFlags = machine().stationVisible ? WSF_VISIBLE : 0;
    std::memcpy(info, &flags, sizeof(flags));
    return TRUE;
}

} // extern "C"
