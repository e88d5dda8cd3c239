/* kernel32's anonymous pipes and child processes in the stand-in; the one
 * program a child runs is the native pnputil. */
#include <algorithm>
#include <cstring>

#include "host/internal.h"

extern "C" BOOL WINAPI HostSetupCopyOEMInfW(PCWSTR, PCWSTR, DWORD, DWORD,
                                            PWSTR, DWORD, PDWORD, PZPWSTR);
extern "C" BOOL WINAPI HostSetupUninstallOEMInfW(PCWSTR, DWORD, PVOID);

namespace winhost {

namespace {

/* Stand-in: the attribute list's layout is the stand-in's own, a handle
 * list alone. */
struct AttributeList {
    const HANDLE *handles;
    SIZE_T cb;
};

HandleObject *Object(HANDLE h, HandleKind kind)
{
    return LookupHandle(reinterpret_cast<uintptr_t>(h), kind);
}

/* pnputil's legacy jobs, -a "INF" and -f -d "NAME", done by the Setup
 * stand-ins as another process's calls.  Returns its exit code, with what
 * it prints. */
DWORD Pnputil(const u16 &line, std::string &output)
{
    Machine &m = machine();
    const size_t open = line.rfind(u'"', line.size() - 2);
    const u16 operand = line.substr(open + 1, line.size() - open - 2);
    WCHAR copy[MAX_PATH] = {};
    DWORD exitCode = m.pnputilExit;
    const DWORD kept = m.lastError;
    g_otherProcess = true;
    if ((exitCode == 0 || exitCode == ERROR_SUCCESS_REBOOT_REQUIRED) &&
        !(line.find(u"\" -a \"") != u16::npos
              ? HostSetupCopyOEMInfW(operand.c_str(), nullptr, SPOST_PATH, 0,
                                     copy, MAX_PATH, nullptr, nullptr)
              : HostSetupUninstallOEMInfW(operand.c_str(), SUOI_FORCEDELETE,
                                          nullptr)))
        exitCode = m.lastError;
    g_otherProcess = false;
    m.lastError = kept;
    const u16 name = u16(copy).substr(u16(copy).rfind(u'\\') + 1);
    output = m.pnputilOutput.empty() && !name.empty()
                 ? "Published name : " + ToUtf8(name) + "\r\n"
                 : m.pnputilOutput;
    return exitCode;
}

} // namespace

/* Stand-in: a pipe is never broken; a read of an empty one fails as
 * Windows' does once its writers are gone. */
BOOL ReadPipe(uintptr_t value, LPVOID buffer, DWORD toRead, LPDWORD read)
{
    HandleObject &pipe = *LookupHandle(value, HandleKind::Pipe);
    if (auto err = Enter("ReadFile", pipe.path, "", std::to_string(toRead)))
        return Failed(*err);
    *read = static_cast<DWORD>(std::min<size_t>(toRead, pipe.data.size()));
    if (pipe.peer != 0 || pipe.data.empty())
        return Failed(pipe.peer ? ERROR_ACCESS_DENIED : ERROR_BROKEN_PIPE);
    std::memcpy(buffer, pipe.data.data(), *read);
    pipe.data.erase(0, *read);
    return TRUE;
}

} // namespace winhost

using namespace winhost;

extern "C" {

BOOL WINAPI CreatePipe(PHANDLE read, PHANDLE write, LPSECURITY_ATTRIBUTES sa,
                       DWORD size)
{
    if (auto err = Enter("CreatePipe", u16(), "", std::to_string(size)))
        return Failed(*err);
    HandleObject end{HandleKind::Pipe, u"pipe read end"};
    end.inherit = sa && sa->bInheritHandle;
    *read = reinterpret_cast<HANDLE>(end.peer = NewHandle(end));
    end.path = u"pipe write end";
    *write = reinterpret_cast<HANDLE>(NewHandle(end));
    return TRUE;
}

/* Stand-in: a pipe's ends are the only handles a child inherits. */
BOOL WINAPI SetHandleInformation(HANDLE h, DWORD mask, DWORD flags)
{
    HandleObject *o = Object(h, HandleKind::Pipe);
    if (auto err = Enter("SetHandleInformation", o ? o->path : u16(), "",
                         Hex(mask) + " " + Hex(flags)))
        return Failed(*err);
    if (!o)
        return Failed(ERROR_INVALID_HANDLE);
    if (mask & HANDLE_FLAG_INHERIT)
        o->inherit = (flags & HANDLE_FLAG_INHERIT) != 0;
    return TRUE;
}

BOOL WINAPI PeekNamedPipe(HANDLE h, LPVOID buffer, DWORD size, LPDWORD read,
                          LPDWORD available, LPDWORD left)
{
    HandleObject *pipe = Object(h, HandleKind::Pipe);
    if (auto err = Enter("PeekNamedPipe", pipe ? pipe->path : u16()))
        return Failed(*err);
    if (!pipe || pipe->peer != 0)
        return Failed(pipe ? ERROR_ACCESS_DENIED : ERROR_INVALID_HANDLE);
    const size_t n = buffer ? std::min<size_t>(size, pipe->data.size()) : 0;
    if (n)
        std::memcpy(buffer, pipe->data.data(), n);
    if (read)
        *read = static_cast<DWORD>(n);
    if (available)
        *available = static_cast<DWORD>(pipe->data.size());
    if (left)
        *left = 0;
    return TRUE;
}

/* The attribute list's functions: Vista on, looked up. */
static BOOL WINAPI HostInitializeProcThreadAttributeList(
    LPPROC_THREAD_ATTRIBUTE_LIST list, DWORD count, DWORD flags, PSIZE_T size)
{
    if (auto err = Enter("InitializeProcThreadAttributeList", u16(), "",
                         std::to_string(count)))
        return Failed(*err);
    const SIZE_T given = *size;
    *size = sizeof(AttributeList);
    if (count != 1 || flags != 0)
        return Failed(ERROR_INVALID_PARAMETER);
    if (!list || given < sizeof(AttributeList))
        return Failed(ERROR_INSUFFICIENT_BUFFER);
    *reinterpret_cast<AttributeList *>(list) = AttributeList{nullptr, 0};
    return TRUE;
}

static BOOL WINAPI HostUpdateProcThreadAttribute(
    LPPROC_THREAD_ATTRIBUTE_LIST list, DWORD flags, DWORD_PTR attribute,
    PVOID value, SIZE_T cb, PVOID previous, PSIZE_T returned)
{
    if (auto err = Enter("UpdateProcThreadAttribute", u16(), "", Hex(attribute)))
        return Failed(*err);
    if (flags || previous || returned || cb == 0 || cb % sizeof(HANDLE) ||
        attribute != PROC_THREAD_ATTRIBUTE_HANDLE_LIST)
        return Failed(ERROR_INVALID_PARAMETER);
    *reinterpret_cast<AttributeList *>(list) = {static_cast<HANDLE *>(value), cb};
    return TRUE;
}

static void WINAPI HostDeleteProcThreadAttributeList(LPPROC_THREAD_ATTRIBUTE_LIST list)
{
    Enter("DeleteProcThreadAttributeList");
    *reinterpret_cast<AttributeList *>(list) = AttributeList{nullptr, 0};
}

/* Recorded with the command line, the flags and what the child inherits,
 * each handle by its path ("pipe write end").  Stand-in: the one program
 * there is is the native pnputil (Vista on), which runs at once. */
BOOL WINAPI CreateProcessW(LPCWSTR app, LPWSTR commandLine,
                           LPSECURITY_ATTRIBUTES, LPSECURITY_ATTRIBUTES,
                           BOOL inheritHandles, DWORD flags, LPVOID, LPCWSTR,
                           LPSTARTUPINFOW startup, LPPROCESS_INFORMATION info)
{
    const u16 line = FromWide(commandLine);
    const auto *list = (flags & EXTENDED_STARTUPINFO_PRESENT)
                           ? reinterpret_cast<AttributeList *>(
                                 reinterpret_cast<STARTUPINFOEXW *>(startup)
                                     ->lpAttributeList)
                           : nullptr;
    /* The listed handles, which must be inheritable; else every one that is. */
    std::vector<const HandleObject *> inherited;
    for (size_t i = 0; list && i < list->cb / sizeof(HANDLE); i++)
        inherited.push_back(Object(list->handles[i], HandleKind::Pipe));
    for (const HandleObject *h : HandlesOf(HandleKind::Pipe))
        if (!list && h->inherit)
            inherited.push_back(h);
    if (!inheritHandles)
        inherited.clear();
    std::string names;
    for (const HandleObject *h : inherited)
        names += " " + (h ? ToUtf8(h->path) : std::string("?"));
    if (auto err = Enter("CreateProcessW", FromWide(app), "",
                         ToUtf8(line) + " flags=" + Hex(flags) + " inherits" + names))
        return Failed(*err);
    for (const HandleObject *h : inherited)
        if (!h || !h->inherit)
            return Failed(ERROR_INVALID_PARAMETER);
    std::vector<u16> c;
    if (!ProcessPath(FromWide(app), c) || machine().osMajor < 6 ||
        !EqualNoCase(JoinPath(c), machine().windowsFolder + u"\\System32\\pnputil.exe"))
        return Failed(ERROR_FILE_NOT_FOUND);
    HandleObject process{HandleKind::Process, JoinPath(c)};
    std::string text = machine().pnputilOutput;
    process.exitCode = machine().pnputilHangs ? STILL_ACTIVE : Pnputil(line, text);
    /* What it prints reaches the pipe whose write end it inherited. */
    const HandleObject *out = (startup->dwFlags & STARTF_USESTDHANDLES)
                                  ? Object(startup->hStdOutput, HandleKind::Pipe)
                                  : nullptr;
    if (out && out->peer && std::count(inherited.begin(), inherited.end(), out))
        LookupHandle(out->peer, HandleKind::Pipe)->data += text;
    info->hProcess = reinterpret_cast<HANDLE>(NewHandle(process));
    info->hThread = reinterpret_cast<HANDLE>(NewHandle({HandleKind::Thread}));
    info->dwProcessId = 0x2A10;
    info->dwThreadId = 0x2A14;
    return TRUE;
}

/* Stand-in: no time passes but what the installer waits. */
DWORD WINAPI WaitForSingleObject(HANDLE h, DWORD ms)
{
    HandleObject *process = Object(h, HandleKind::Process);
    if (auto err = Enter("WaitForSingleObject", u16(), "", std::to_string(ms)))
        return Failed(*err, WAIT_FAILED);
    if (!process)
        return Failed(ERROR_INVALID_HANDLE, WAIT_FAILED);
    if (process->exitCode != STILL_ACTIVE)
        return WAIT_OBJECT_0;
    machine().hung = machine().hung || ms == INFINITE;
    machine().sleptMs += ms == INFINITE ? 0 : ms;
    return WAIT_TIMEOUT;
}

BOOL WINAPI GetExitCodeProcess(HANDLE h, LPDWORD code)
{
    HandleObject *process = Object(h, HandleKind::Process);
    if (auto err = Enter("GetExitCodeProcess"))
        return Failed(*err);
    if (!process)
        return Failed(ERROR_INVALID_HANDLE);
    *code = process->exitCode;
    return TRUE;
}

BOOL WINAPI TerminateProcess(HANDLE h, UINT code)
{
    HandleObject *process = Object(h, HandleKind::Process);
    if (auto err = Enter("TerminateProcess", u16(), "", std::to_string(code)))
        return Failed(*err);
    if (!process || process->exitCode != STILL_ACTIVE)
        return Failed(process ? ERROR_ACCESS_DENIED : ERROR_INVALID_HANDLE);
    process->exitCode = code;
    return TRUE;
}

/* Stand-in: it counts what the installer slept and waited, from 65.5 s
 * before it wraps, so that a bounded wait crosses the wrap. */
DWORD WINAPI GetTickCount(void)
{
    Enter("GetTickCount");
    return 0xFFFF0000 + machine().sleptMs;
}

/* Stand-in: the OEM code page maps ASCII alone; another byte is U+FFFD. */
int WINAPI MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR bytes, int cb,
                               LPWSTR text, int cch)
{
    if (auto err = Enter("MultiByteToWideChar", u16(), "", std::to_string(cb)))
        return Failed(*err, 0);
    if (codePage != CP_OEMCP || flags || cb == 0 || cch < 0)
        return Failed(ERROR_INVALID_PARAMETER, 0);
    const int n = cb < 0 ? static_cast<int>(std::strlen(bytes)) + 1 : cb;
    if (cch != 0 && cch < n)
        return Failed(ERROR_INSUFFICIENT_BUFFER, 0);
    for (int i = 0; i < n && cch != 0; i++)
        text[i] = static_cast<unsigned char>(bytes[i]) < 0x80 ? bytes[i] : 0xFFFD;
    return n;
}

} // extern "C"

FARPROC winhost::ProcessProc(const std::string &name)
{
    if (name == "InitializeProcThreadAttributeList")
        return reinterpret_cast<FARPROC>(&HostInitializeProcThreadAttributeList);
    if (name == "UpdateProcThreadAttribute")
        return reinterpret_cast<FARPROC>(&HostUpdateProcThreadAttribute);
    if (name == "DeleteProcThreadAttributeList")
        return reinterpret_cast<FARPROC>(&HostDeleteProcThreadAttributeList);
    return nullptr;
}
