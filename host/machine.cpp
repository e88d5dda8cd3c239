/* The stand-in machine: state, call log, failure injection, handles,
 * paths and seeding. */
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <algorithm>
#include <map>

#include "host/internal.h"

namespace winhost {

namespace {

struct Injection {
    std::string fn;
    u16 object; /* empty: count calls */
    int remaining;
    DWORD error;
    bool persistent = false; /* goes on failing once it has begun */
};

std::unique_ptr<Machine> g_machine;
std::vector<Injection> g_injections;
size_t g_callBudget = 0;
std::map<uintptr_t, HandleObject> g_handles;
uintptr_t g_nextHandle = 0x1000;
/* Never destroyed, so that blocks the installer leaves to the process's
 * end stay reachable and LeakSanitizer does not count them. */
std::vector<void *> &g_heapBlocks = *new std::vector<void *>;

} // namespace

Machine &machine()
{
    if (!g_machine)
        g_machine = std::make_unique<Machine>();
    return *g_machine;
}

void FreeHeapBlocks();
void ClearDescriptors();

void Reset()
{
    g_machine = std::make_unique<Machine>();
    g_injections.clear();
    g_callBudget = 0;
    ClearHandles();
    FreeHeapBlocks();
    ClearDescriptors();
}

void FailCall(const std::string &fn, DWORD error, int nth)
{
    g_injections.push_back({fn, u16(), nth, error});
}

void FailCallFrom(const std::string &fn, DWORD error, int nth)
{
    g_injections.push_back({fn, u16(), nth, error, true});
}

void FailCallOn(const std::string &fn, const u16 &path, DWORD error)
{
    g_injections.push_back({fn, path, -1, error});
}

void SetCallBudget(size_t budget) { g_callBudget = budget; }

bool g_otherProcess = false;

std::optional<DWORD> Enter(const char *fn, const u16 &object,
                           const std::string &view, const std::string &detail)
{
    if (g_otherProcess)
        return std::nullopt;
    if (g_callBudget != 0 && machine().calls.size() >= g_callBudget)
        throw CallBudgetExhausted{g_callBudget};
    machine().calls.push_back({fn, ToUtf8(object), view, detail});
    for (auto it = g_injections.begin(); it != g_injections.end(); ++it) {
        if (it->fn != fn)
            continue;
        if (!it->object.empty()) {
            if (EqualNoCase(it->object, object))
                return it->error;
            continue;
        }
        if (it->persistent) {
            if (it->remaining > 1) {
                it->remaining--;
                continue;
            }
            return it->error;
        }
        if (--it->remaining == 0) {
            DWORD error = it->error;
            g_injections.erase(it);
            return error;
        }
    }
    return std::nullopt;
}

std::vector<CallRecord> CallsOf(const std::string &fn)
{
    std::vector<CallRecord> out;
    for (auto &c : machine().calls)
        if (c.fn == fn)
            out.push_back(c);
    return out;
}

std::vector<std::string> CallNames()
{
    std::vector<std::string> out;
    for (auto &c : machine().calls)
        out.push_back(c.fn);
    return out;
}

/* ---- text ---- */

static char16_t UpperUnit(char16_t c)
{
    if (c >= u'a' && c <= u'z')
        return static_cast<char16_t>(c - u'a' + u'A');
    /* Latin-1 letters, enough for the names the installer meets. */
    if (c >= 0xE0 && c <= 0xFE && c != 0xF7)
        return static_cast<char16_t>(c - 0x20);
    return c;
}

u16 Upper(const u16 &text)
{
    u16 out(text);
    for (auto &c : out)
        c = UpperUnit(c);
    return out;
}

bool EqualNoCase(const u16 &a, const u16 &b) { return Upper(a) == Upper(b); }

u16 FromWide(LPCWSTR text) { return text ? u16(text) : u16(); }

std::string Hex(uint64_t value)
{
    char buf[32];
    std::snprintf(buf, sizeof buf, "0x%llX",
                  static_cast<unsigned long long>(value));
    return buf;
}

std::string ToUtf8(const u16 &text)
{
    std::string out;
    for (size_t i = 0; i < text.size(); i++) {
        uint32_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() &&
            text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            i++;
        }
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

u16 FromUtf8(const std::string &text)
{
    u16 out;
    for (size_t i = 0; i < text.size();) {
        unsigned char b = static_cast<unsigned char>(text[i]);
        uint32_t c;
        int extra;
        if (b < 0x80) {
            c = b;
            extra = 0;
        } else if ((b & 0xE0) == 0xC0) {
            c = b & 0x1F;
            extra = 1;
        } else if ((b & 0xF0) == 0xE0) {
            c = b & 0x0F;
            extra = 2;
        } else {
            c = b & 0x07;
            extra = 3;
        }
        i++;
        for (int k = 0; k < extra && i < text.size(); k++, i++)
            c = (c << 6) | (static_cast<unsigned char>(text[i]) & 0x3F);
        if (c >= 0x10000) {
            c -= 0x10000;
            out += static_cast<char16_t>(0xD800 + (c >> 10));
            out += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
        } else {
            out += static_cast<char16_t>(c);
        }
    }
    return out;
}

std::string Utf16Le(const u16 &text)
{
    std::string out;
    for (char16_t c : text) {
        out += static_cast<char>(c & 0xFF);
        out += static_cast<char>(c >> 8);
    }
    return out;
}

/* ---- paths ---- */

bool NormalisePath(const u16 &path, std::vector<u16> &components)
{
    components.clear();
    u16 p(path);
    for (auto &c : p)
        if (c == u'/')
            c = u'\\';
    size_t start;
    if (p.size() > 2 && p[0] == u'\\' && p[1] == u'\\') {
        /* \\server\share is a root of its own. */
        const size_t server = p.find(u'\\', 2);
        if (server == u16::npos || server == 2 || server + 1 >= p.size() ||
            p[server + 1] == u'\\')
            return false;
        const size_t share = std::min(p.find(u'\\', server + 1), p.size());
        components.push_back(p.substr(0, share));
        start = share + 1;
    } else if (p.size() >= 3 && p[1] == u':' && p[2] == u'\\') {
        components.push_back(Upper(p.substr(0, 2)));
        start = 3;
    } else {
        return false;
    }
    while (start <= p.size()) {
        size_t end = p.find(u'\\', start);
        if (end == u16::npos)
            end = p.size();
        u16 part = p.substr(start, end - start);
        start = end + 1;
        if (part.empty() || part == u".")
            continue;
        if (part == u"..") {
            if (components.size() > 1)
                components.pop_back();
            continue;
        }
        /* Win32 drops trailing dots and spaces of a path component. */
        while (!part.empty() && (part.back() == u'.' || part.back() == u' '))
            part.pop_back();
        if (!part.empty())
            components.push_back(part);
    }
    return true;
}

/* "File System Redirector": a 32-bit process naming %windir%\System32
 * reaches %windir%\SysWOW64, but for catroot, catroot2, drivers\etc,
 * logfiles, spool and, from Windows 7 on, DriverStore; from Vista on it
 * reaches the native System32 as %windir%\Sysnative.  Nothing is
 * redirected while the thread has turned the redirector off. */
bool ProcessPath(const u16 &path, std::vector<u16> &components)
{
    const Machine &m = machine();
    std::vector<u16> windows;
    if (!NormalisePath(path, components))
        return false;
    if (!m.is64Bit || m.fsRedirectionOff ||
        !NormalisePath(m.windowsFolder, windows) ||
        components.size() <= windows.size())
        return true;
    for (size_t i = 0; i < windows.size(); i++)
        if (Upper(components[i]) != Upper(windows[i]))
            return true;
    u16 &folder = components[windows.size()];
    const u16 below = components.size() > windows.size() + 1
                          ? Upper(components[windows.size() + 1])
                          : u16();
    const bool etc = below == u"DRIVERS" &&
                     components.size() > windows.size() + 2 &&
                     Upper(components[windows.size() + 2]) == u"ETC";
    if (Upper(folder) == u"SYSNATIVE" && m.osMajor >= 6)
        folder = u"System32";
    else if (Upper(folder) == u"SYSTEM32" && !etc && below != u"CATROOT" &&
             below != u"CATROOT2" && below != u"LOGFILES" && below != u"SPOOL" &&
             !(below == u"DRIVERSTORE" && m.osMajor * 100 + m.osMinor >= 601))
        folder = u"SysWOW64";
    return true;
}

u16 JoinPath(const std::vector<u16> &components)
{
    u16 out;
    for (size_t i = 0; i < components.size(); i++) {
        if (i)
            out += u'\\';
        out += components[i];
    }
    if (components.size() == 1)
        out += u'\\';
    return out;
}

FILETIME Ft(uint64_t value)
{
    FILETIME ft;
    ft.dwLowDateTime = static_cast<DWORD>(value);
    ft.dwHighDateTime = static_cast<DWORD>(value >> 32);
    return ft;
}

FILETIME Now()
{
    /* Every file operation advances the clock by one second. */
    machine().clock += 10000000ULL;
    return Ft(machine().clock);
}

/* ---- handles ---- */

uintptr_t NewHandle(HandleObject object)
{
    uintptr_t value = g_nextHandle;
    g_nextHandle += 4;
    g_handles.emplace(value, std::move(object));
    return value;
}

HandleObject *LookupHandle(uintptr_t value, HandleKind kind)
{
    auto it = g_handles.find(value);
    if (it == g_handles.end() || it->second.kind != kind)
        return nullptr;
    return &it->second;
}

bool CloseHandleOf(uintptr_t value, HandleKind kind)
{
    auto it = g_handles.find(value);
    if (it == g_handles.end() || it->second.kind != kind)
        return false;
    g_handles.erase(it);
    return true;
}

void ClearHandles() { g_handles.clear(); }

std::vector<const HandleObject *> HandlesOf(HandleKind kind)
{
    std::vector<const HandleObject *> out;
    for (auto &h : g_handles)
        if (h.second.kind == kind)
            out.push_back(&h.second);
    return out;
}

int OpenHandleCount()
{
    int count = 0;
    for (auto &[value, h] : g_handles)
        if (h.kind != HandleKind::Module &&
            !(h.kind == HandleKind::File && h.disposition == OPEN_ALWAYS &&
              h.share == 0))
            count++;
    return count;
}

void EndProcess()
{
    ClearHandles();
    machine().kernel32Module = 0;
}

/* ---- heap ---- */

void FreeHeapBlocks()
{
    for (void *p : g_heapBlocks)
        std::free(p);
    g_heapBlocks.clear();
}

} // namespace winhost

using namespace winhost;

extern "C" {

DWORD WINAPI GetLastError(void)
{
    Enter("GetLastError", u16(), "", std::to_string(machine().lastError));
    return machine().lastError;
}

void WINAPI SetLastError(DWORD dwErrCode) { machine().lastError = dwErrCode; }

HANDLE WINAPI GetProcessHeap(void)
{
    Enter("GetProcessHeap");
    return reinterpret_cast<HANDLE>(static_cast<uintptr_t>(0x50000));
}

LPVOID WINAPI HeapAlloc(HANDLE hHeap, DWORD dwFlags, SIZE_T dwBytes)
{
    if (auto err = Enter("HeapAlloc", u16(), "", std::to_string(dwBytes))) {
        SetLastError(*err);
        return NULL;
    }
    (void)hHeap;
    void *p = std::malloc(dwBytes ? dwBytes : 1);
    /* Without HEAP_ZERO_MEMORY the block holds leftovers, never zeros. */
    std::memset(p, (dwFlags & HEAP_ZERO_MEMORY) ? 0 : 0xCD, dwBytes);
    g_heapBlocks.push_back(p);
    return p;
}

} // extern "C"
