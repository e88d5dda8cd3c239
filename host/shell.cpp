/* shell32, setupapi and the token functions of advapi32, in the stand-in. */
#include <cstdarg>
#include <algorithm>

#include "host/internal.h"

namespace winhost {

/* From kernel.cpp. */
FileEntry *FindEntry(const std::vector<u16> &components);
bool FolderExistsAt(const std::vector<u16> &components);
void MakeFolders(const std::vector<u16> &components);
std::vector<u16> ChildrenOf(const std::vector<u16> &folder);
bool NameMatches(const u16 &pattern, const u16 &name);

namespace {

std::vector<u16> ComponentsOfKey(const u16 &upperKey)
{
    std::vector<u16> c;
    NormalisePath(upperKey, c);
    return c;
}

/* Deletes a file or a folder with everything in it.  A file that another
 * process holds open stays, and so do the folders above it.  Returns
 * true when everything went. */
bool DeleteTree(const std::vector<u16> &components)
{
    FileEntry *e = FindEntry(components);
    if (!e)
        return true;
    bool all = true;
    if (e->dir) {
        for (const u16 &child : ChildrenOf(components))
            all = DeleteTree(ComponentsOfKey(child)) && all;
    } else if (e->heldOpen) {
        return false;
    }
    if (all)
        machine().files.erase(Upper(JoinPath(components)));
    return all;
}

struct Privilege {
    const char16_t *name;
    DWORD luid;
};
/* The privileges LookupPrivilegeValueW knows, with their Windows LUIDs. */
const Privilege kPrivileges[] = {
    {u"SeSecurityPrivilege", 8},       {u"SeTakeOwnershipPrivilege", 9},
    {u"SeLoadDriverPrivilege", 10},    {u"SeBackupPrivilege", 17},
    {u"SeRestorePrivilege", 18},       {u"SeShutdownPrivilege", 19},
    {u"SeDebugPrivilege", 20},         {u"SeSystemEnvironmentPrivilege", 22},
    {u"SeChangeNotifyPrivilege", 23},
};

const char16_t *PrivilegeName(DWORD luid)
{
    for (auto &p : kPrivileges)
        if (p.luid == luid)
            return p.name;
    return nullptr;
}

/* The driver store's FileRepository folder, with its backslash. */
u16 StoreFolder()
{
    return machine().windowsFolder +
           u"\\System32\\DriverStore\\FileRepository\\";
}

} // namespace

} // namespace winhost

using namespace winhost;

extern "C" {

BOOL WINAPI SHGetSpecialFolderPathW(HWND hwnd, LPWSTR path, int csidl,
                                    BOOL create)
{
    if (auto err = Enter("SHGetSpecialFolderPathW", u16(), "",
                         Hex(csidl) + (create ? " create" : ""))) {
        SetLastError(*err);
        return FALSE;
    }
    (void)hwnd;
    if (csidl != CSIDL_PROGRAM_FILES || machine().programFilesMissing) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return FALSE;
    }
    const u16 &pf = machine().programFiles;
    size_t n = std::min<size_t>(pf.size(), MAX_PATH - 1);
    std::copy(pf.begin(), pf.begin() + n, path);
    path[n] = 0;
    return TRUE;
}

int WINAPI SHCreateDirectoryExW(HWND hwnd, LPCWSTR pszPath,
                                const SECURITY_ATTRIBUTES *psa)
{
    u16 path = FromWide(pszPath);
    if (auto err = Enter("SHCreateDirectoryExW", path))
        return static_cast<int>(*err);
    (void)hwnd;
    u16 dacl;
    if (psa && psa->lpSecurityDescriptor &&
        !DaclOfDescriptor(psa->lpSecurityDescriptor, dacl))
        return ERROR_INVALID_SECURITY_DESCR;
    std::vector<u16> c;
    if (!ProcessPath(path, c))
        return ERROR_BAD_PATHNAME;
    if (FileEntry *e = FindEntry(c))
        return e->dir ? ERROR_ALREADY_EXISTS : ERROR_FILE_EXISTS;
    /* Every missing parent is created; a file in the way stops it. */
    std::vector<u16> prefix{c[0]};
    for (size_t i = 1; i + 1 < c.size(); i++) {
        prefix.push_back(c[i]);
        FileEntry *e = FindEntry(prefix);
        if (e && !e->dir)
            return ERROR_PATH_NOT_FOUND;
    }
    MakeFolders(c);
    /* Stand-in: the descriptor goes to the folder asked for; the parents
     * it created get none. */
    FindEntry(c)->dacl = dacl;
    /* The last error after success is not defined by Windows; Wine 8
     * leaves 87 there, and so does the stand-in. */
    SetLastError(ERROR_INVALID_PARAMETER);
    return ERROR_SUCCESS;
}

int WINAPI SHFileOperationW(LPSHFILEOPSTRUCTW op)
{
    /* The source is a list of strings ended by an empty one. */
    std::vector<u16> sources;
    for (LPCWSTR p = op->pFrom; p && *p; p += sources.back().size() + 1)
        sources.push_back(p);
    u16 joined;
    for (auto &s : sources)
        joined += (joined.empty() ? u"" : u"|") + s;
    if (auto err = Enter("SHFileOperationW", joined, "",
                         "func=" + std::to_string(op->wFunc) +
                             " flags=" + Hex(op->fFlags)))
        return static_cast<int>(*err);
    if (machine().shellResultForced)
        return machine().shellResult;
    if (op->wFunc != FO_DELETE || sources.empty())
        return ERROR_INVALID_PARAMETER; /* Stand-in: only FO_DELETE. */
    /* Expand every source first: the shell checks the whole list before
     * it deletes anything. */
    std::vector<std::vector<u16>> targets;
    for (const u16 &source : sources) {
        std::vector<u16> c;
        if (!ProcessPath(source, c) || c.size() < 2)
            return machine().shellMissingResult;
        u16 last = c.back();
        if (last.find_first_of(u"*?") != u16::npos) {
            c.pop_back();
            if (!FolderExistsAt(c))
                return machine().shellMissingResult;
            for (const u16 &child : ChildrenOf(c)) {
                std::vector<u16> cc = ComponentsOfKey(child);
                if (NameMatches(last, cc.back()))
                    targets.push_back(cc);
            }
        } else if (FindEntry(c)) {
            targets.push_back(c);
        } else {
            return machine().shellMissingResult;
        }
    }
    bool all = true;
    for (auto &t : targets)
        all = DeleteTree(t) && all;
    return all ? 0 : ERROR_SHARING_VIOLATION;
}

/* Setup's functions are reached through GetProcAddress only, as the
 * installer reaches them. */
BOOL WINAPI HostSetupCopyOEMInfW(PCWSTR source, PCWSTR media, DWORD mediaType,
                                 DWORD style, PWSTR dest, DWORD destSize,
                                 PDWORD required, PZPWSTR component)
{
    u16 src = FromWide(source);
    if (auto err = Enter("SetupCopyOEMInfW", src, "",
                         "media=" + ToUtf8(FromWide(media)) +
                             " type=" + std::to_string(mediaType) +
                             " style=" + Hex(style) +
                             " size=" + std::to_string(destSize))) {
        SetLastError(*err);
        return FALSE;
    }
    std::vector<u16> c;
    FileEntry *inf = NormalisePath(src, c) ? FindEntry(c) : nullptr;
    if (!inf || inf->dir) {
        SetLastError(inf ? ERROR_ACCESS_DENIED : ERROR_FILE_NOT_FOUND);
        return FALSE;
    }
    /* Stand-in: the INF is not parsed, so a missing catalogue is not
     * noticed (Windows and Wine refuse the package then). */
    std::vector<u16> infDir;
    NormalisePath(machine().windowsFolder + u"\\INF", infDir);
    MakeFolders(infDir);
    u16 name;
    /* An identical INF already in the store is reused under its name. */
    for (const u16 &key : ChildrenOf(infDir)) {
        FileEntry &e = machine().files[key];
        u16 upper = Upper(e.path.substr(e.path.rfind(u'\\') + 1));
        if (upper.rfind(u"OEM", 0) == 0 && upper.size() > 4 &&
            upper.substr(upper.size() - 4) == u".INF" &&
            e.content == inf->content) {
            name = e.path.substr(e.path.rfind(u'\\') + 1);
            break;
        }
    }
    for (int n = 0; name.empty(); n++) {
        u16 candidate = u"oem" + FromUtf8(std::to_string(n)) + u".inf";
        if (!FileExists(machine().windowsFolder + u"\\INF\\" + candidate))
            name = candidate;
    }
    u16 full = machine().windowsFolder + u"\\INF\\" + name;
    if (required)
        *required = static_cast<DWORD>(full.size() + 1);
    if (dest && destSize < full.size() + 1) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    std::string content = inf->content;
    SeedFile(full, content, inf->lastWrite);
    u16 pnf = full.substr(0, full.size() - 3) + u"PNF";
    SeedFile(pnf, "PNF:" + ToUtf8(src), Now());
    machine().registeredInfs.push_back(src);
    if (dest) {
        std::copy(full.begin(), full.end(), dest);
        dest[full.size()] = 0;
        if (component)
            *component = dest + full.rfind(u'\\') + 1;
    }
    return TRUE;
}

/* Reached through GetProcAddress only, as the installer reaches it. */
BOOL WINAPI HostSetupSetNonInteractiveMode(BOOL flag)
{
    Enter("SetupSetNonInteractiveMode", u16(), "", std::to_string(flag));
    BOOL previous = machine().setupNonInteractive;
    machine().setupNonInteractive = flag != FALSE;
    return previous;
}

/* Stand-in: only the "%s" form with one string is modelled. */
void WINAPIV HostSetupWriteTextLog(DWORDLONG token, DWORD category, DWORD flags,
                                   LPCSTR format, ...)
{
    va_list args;
    va_start(args, format);
    std::string text = std::string(format) == "%s" ? va_arg(args, LPCSTR) : format;
    va_end(args);
    Enter("SetupWriteTextLog", FromUtf8(text), "",
          "token=" + std::to_string(token) + " category=" + Hex(category) +
              " flags=" + Hex(flags));
    machine().setupLogLines.push_back(text);
}

BOOL WINAPI HostSetupUninstallOEMInfW(PCWSTR infFileName, DWORD flags,
                                      PVOID reserved)
{
    u16 name = FromWide(infFileName);
    if (auto err = Enter("SetupUninstallOEMInfW", name, "",
                         "flags=" + Hex(flags))) {
        SetLastError(*err);
        return FALSE;
    }
    (void)reserved;
    if (!infFileName) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    /* A file name without path, in the INF folder. */
    /* Setup works in the Windows folder where it really is. */
    const u16 inf = machine().windowsFolder + u"\\INF\\" + name;
    std::vector<u16> c;
    FileEntry *e = NormalisePath(inf, c) ? FindEntry(c) : nullptr;
    if (!e || e->dir) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return FALSE;
    }
    if (e->heldOpen) {
        SetLastError(ERROR_SHARING_VIOLATION);
        return FALSE;
    }
    /* Stand-in: no device is ever installed from an INF, so without
     * SUOI_FORCEDELETE it goes just the same (Windows then refuses one a
     * device uses, ERROR_INF_IN_USE_BY_DEVICES); the package's catalogue
     * is not modelled.  Wine 8 deletes the INF alone, not its PNF. */
    DeleteTree(c);
    /* From Vista on its store folder goes too (XP has no store). */
    std::vector<u16> folder;
    auto package = machine().driverStore.find(Upper(name));
    if (machine().osMajor >= 6 && package != machine().driverStore.end() &&
        NormalisePath(StoreFolder() + package->second, folder))
        DeleteTree(folder);
    machine().driverStore.erase(Upper(name));
    /* Its precompiled companion goes with it. */
    const u16 pnf = inf.substr(0, inf.rfind(u'.')) + u".PNF";
    std::vector<u16> p;
    FileEntry *companion = NormalisePath(pnf, p) ? FindEntry(p) : nullptr;
    if (companion && !companion->dir)
        DeleteTree(p);
    return TRUE;
}

/* Vista and later: where an installed INF copy's package lives.
 * Stand-in: only a name is looked up, never a path, and the error for a
 * copy without a package is not documented. */
BOOL WINAPI HostSetupGetInfDriverStoreLocationW(PCWSTR fileName,
                                                PVOID platform, PCWSTR locale,
                                                PWSTR buffer, DWORD size,
                                                PDWORD)
{
    u16 name = FromWide(fileName);
    if (auto err = Enter("SetupGetInfDriverStoreLocationW", name, "",
                         "size=" + std::to_string(size)))
        return Failed(*err);
    if (platform || locale) /* reserved for the system */
        return Failed(ERROR_INVALID_PARAMETER);
    auto package = machine().driverStore.find(Upper(name));
    if (package == machine().driverStore.end())
        return Failed(ERROR_FILE_NOT_FOUND);
    /* The store keeps the INF under its first name, which begins its
     * folder's ("qx_dsp_usb.inf" in "qx_dsp_usb.inf_amd64_1f2e"). */
    const u16 &folder = package->second;
    const u16 full = StoreFolder() + folder + u"\\" +
                     folder.substr(0, Upper(folder).find(u".INF") + 4);
    if (size < full.size() + 1)
        return Failed(ERROR_INSUFFICIENT_BUFFER);
    std::copy(full.begin(), full.end(), buffer);
    buffer[full.size()] = 0;
    return TRUE;
}

BOOL WINAPI OpenProcessToken(HANDLE process, DWORD access, PHANDLE token)
{
    if (auto err = Enter("OpenProcessToken", u16(), "", Hex(access))) {
        SetLastError(*err);
        return FALSE;
    }
    if (process != reinterpret_cast<HANDLE>(static_cast<intptr_t>(-1))) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    *token = reinterpret_cast<HANDLE>(
        NewHandle({HandleKind::Token, u"token", {}, 0, access}));
    return TRUE;
}

BOOL WINAPI GetTokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS type,
                                LPVOID out, DWORD length, PDWORD needed)
{
    if (auto err = Enter("GetTokenInformation", u16(), "",
                         std::to_string(type))) {
        SetLastError(*err);
        return FALSE;
    }
    const HandleObject *t =
        LookupHandle(reinterpret_cast<uintptr_t>(token), HandleKind::Token);
    if (!t || !(t->access & TOKEN_QUERY)) {
        SetLastError(t ? ERROR_ACCESS_DENIED : ERROR_INVALID_HANDLE);
        return FALSE;
    }
    /* Stand-in: only the token's user is asked for. */
    if (type != TokenUser || !needed) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    /* TOKEN_USER, then the SID it points to. */
    const std::vector<unsigned char> sid = SidBytes(machine().tokenUser);
    *needed = static_cast<DWORD>(sizeof(TOKEN_USER) + sid.size());
    if (!out || length < *needed) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    auto *user = static_cast<TOKEN_USER *>(out);
    user->User.Sid = static_cast<unsigned char *>(out) + sizeof(TOKEN_USER);
    user->User.Attributes = 0;
    std::copy(sid.begin(), sid.end(), static_cast<unsigned char *>(user->User.Sid));
    return TRUE;
}

BOOL WINAPI LookupPrivilegeValueW(LPCWSTR system, LPCWSTR name, PLUID luid)
{
    u16 n = FromWide(name);
    if (auto err = Enter("LookupPrivilegeValueW", n, "",
                         system ? ToUtf8(system) : "local")) {
        SetLastError(*err);
        return FALSE;
    }
    for (auto &p : kPrivileges) {
        if (EqualNoCase(p.name, n)) {
            luid->LowPart = p.luid;
            luid->HighPart = 0;
            return TRUE;
        }
    }
    SetLastError(ERROR_NO_SUCH_PRIVILEGE);
    return FALSE;
}

BOOL WINAPI AdjustTokenPrivileges(HANDLE token, BOOL disableAll,
                                  PTOKEN_PRIVILEGES state, DWORD length,
                                  PTOKEN_PRIVILEGES previous,
                                  PDWORD returnLength)
{
    u16 names;
    for (DWORD i = 0; state && i < state->PrivilegeCount; i++) {
        const char16_t *n = PrivilegeName(state->Privileges[i].Luid.LowPart);
        names += (names.empty() ? u"" : u"|") + u16(n ? n : u"?");
    }
    if (auto err = Enter("AdjustTokenPrivileges", names, "",
                         (disableAll ? std::string("disable-all ") : "") +
                             "attributes=" +
                             Hex(state ? state->Privileges[0].Attributes : 0) +
                             " length=" + std::to_string(length))) {
        SetLastError(*err);
        return FALSE;
    }
    (void)previous;
    (void)returnLength;
    HandleObject *t =
        LookupHandle(reinterpret_cast<uintptr_t>(token), HandleKind::Token);
    if (!t) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (!(t->access & TOKEN_ADJUST_PRIVILEGES)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    bool all = true;
    for (DWORD i = 0; i < state->PrivilegeCount; i++) {
        const char16_t *n = PrivilegeName(state->Privileges[i].Luid.LowPart);
        if (!n || !machine().heldPrivileges.count(n)) {
            all = false;
            continue;
        }
        if (state->Privileges[i].Attributes & SE_PRIVILEGE_ENABLED)
            machine().enabledPrivileges.insert(n);
        else
            machine().enabledPrivileges.erase(n);
    }
    /* Success either way; a privilege the token lacks shows only in the
     * last error. */
    SetLastError(all ? ERROR_SUCCESS : ERROR_NOT_ALL_ASSIGNED);
    return TRUE;
}

} // extern "C"
