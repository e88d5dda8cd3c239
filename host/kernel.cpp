/* kernel32 of the stand-in: version, module, language, files, directory
 * searches, libraries. */
#include <algorithm>
#include <cstring>

#include "host/internal.h"

namespace winhost {

namespace {

u16 KeyOf(const std::vector<u16> &components)
{
    return Upper(JoinPath(components));
}

std::vector<u16> Parent(std::vector<u16> components)
{
    if (components.size() > 1)
        components.pop_back();
    return components;
}

bool IsDriveRoot(const std::vector<u16> &components)
{
    return components.size() == 1;
}

/* A folder that exists: drive C: always does. */
bool FolderExists(const std::vector<u16> &components)
{
    if (IsDriveRoot(components))
        return Upper(components[0]) == u"C:";
    auto it = machine().files.find(KeyOf(components));
    return it != machine().files.end() && it->second.dir;
}

FileEntry *Lookup(const std::vector<u16> &components)
{
    auto it = machine().files.find(KeyOf(components));
    return it == machine().files.end() ? nullptr : &it->second;
}

/* The error Windows gives for a path that names nothing. */
DWORD MissingError(const std::vector<u16> &components)
{
    return FolderExists(Parent(components)) ? ERROR_FILE_NOT_FOUND
                                            : ERROR_PATH_NOT_FOUND;
}

void CreateFolders(const std::vector<u16> &components)
{
    std::vector<u16> prefix{components[0]};
    for (size_t i = 1; i < components.size(); i++) {
        prefix.push_back(components[i]);
        u16 key = KeyOf(prefix);
        if (!machine().files.count(key)) {
            FileEntry e;
            e.path = JoinPath(prefix);
            e.dir = true;
            e.attributes = FILE_ATTRIBUTE_DIRECTORY;
            e.creation = e.lastWrite = Now();
            machine().files.emplace(key, e);
        }
    }
}

/* Case-insensitive match of a name against a pattern with '*' and '?';
 * "*.*" matches every name, as on Windows. */
bool Match(const u16 &pattern, const u16 &name)
{
    u16 p = Upper(pattern == u"*.*" ? u16(u"*") : pattern);
    u16 n = Upper(name);
    size_t pi = 0, ni = 0, star = u16::npos, mark = 0;
    while (ni < n.size()) {
        if (pi < p.size() && (p[pi] == u'?' || p[pi] == n[ni])) {
            pi++;
            ni++;
        } else if (pi < p.size() && p[pi] == u'*') {
            star = pi++;
            mark = ni;
        } else if (star != u16::npos) {
            pi = star + 1;
            ni = ++mark;
        } else {
            return false;
        }
    }
    while (pi < p.size() && p[pi] == u'*')
        pi++;
    return pi == p.size();
}

u16 NameOf(const u16 &path)
{
    size_t slash = path.rfind(u'\\');
    return slash == u16::npos ? path : path.substr(slash + 1);
}

void FillFindData(WIN32_FIND_DATAW &data, const FileEntry &e, const u16 &name)
{
    std::memset(&data, 0, sizeof data);
    data.dwFileAttributes = e.attributes;
    data.ftCreationTime = e.creation;
    data.ftLastAccessTime = e.lastWrite;
    data.ftLastWriteTime = e.lastWrite;
    uint64_t size = e.dir ? 0 : e.content.size();
    data.nFileSizeHigh = static_cast<DWORD>(size >> 32);
    data.nFileSizeLow = static_cast<DWORD>(size);
    size_t n = std::min(name.size(), static_cast<size_t>(MAX_PATH - 1));
    std::copy(name.begin(), name.begin() + n, data.cFileName);
}

} // namespace

/* ---- seeding, shared with the shell and setup ---- */

bool ResolveFile(const u16 &path, std::vector<u16> &components)
{
    return NormalisePath(path, components);
}

FileEntry *FindEntry(const std::vector<u16> &components)
{
    return Lookup(components);
}

bool FolderExistsAt(const std::vector<u16> &components)
{
    return FolderExists(components);
}

void MakeFolders(const std::vector<u16> &components)
{
    CreateFolders(components);
}

std::vector<u16> ChildrenOf(const std::vector<u16> &folder)
{
    /* Upper-case keys of the direct children, sorted as NTFS lists them. */
    u16 prefix = KeyOf(folder);
    if (!IsDriveRoot(folder))
        prefix += u'\\';
    std::vector<u16> out;
    for (auto it = machine().files.lower_bound(prefix);
         it != machine().files.end(); ++it) {
        const u16 &key = it->first;
        if (key.compare(0, prefix.size(), prefix) != 0)
            break;
        if (key.find(u'\\', prefix.size()) == u16::npos)
            out.push_back(key);
    }
    return out;
}

bool NameMatches(const u16 &pattern, const u16 &name)
{
    return Match(pattern, name);
}

void SeedFolder(const u16 &path)
{
    std::vector<u16> c;
    if (NormalisePath(path, c))
        CreateFolders(c);
}

FileEntry &SeedFile(const u16 &path, const std::string &content,
                    FILETIME lastWrite, DWORD attributes)
{
    std::vector<u16> c;
    if (!NormalisePath(path, c) || c.size() < 2)
        std::abort();
    CreateFolders(Parent(c));
    FileEntry &e = machine().files[KeyOf(c)];
    e.path = JoinPath(c);
    e.dir = false;
    e.content = content;
    e.creation = Ft(0x01D4000000000000ULL);
    e.lastWrite = lastWrite;
    e.attributes = attributes;
    return e;
}

FileEntry *FindFile(const u16 &path)
{
    std::vector<u16> c;
    return NormalisePath(path, c) ? Lookup(c) : nullptr;
}

bool FileExists(const u16 &path) { return FindFile(path) != nullptr; }

void RemoveFile(const u16 &path)
{
    std::vector<u16> c;
    if (NormalisePath(path, c) && ChildrenOf(c).empty())
        machine().files.erase(KeyOf(c));
}

std::vector<u16> ListFolder(const u16 &path)
{
    std::vector<u16> c, names;
    if (!NormalisePath(path, c))
        return names;
    for (const u16 &key : ChildrenOf(c))
        names.push_back(NameOf(machine().files[key].path));
    return names;
}

} // namespace winhost

using namespace winhost;

extern "C" {

BOOL WINAPI GetVersionExW(LPOSVERSIONINFOW info)
{
    if (auto err = Enter("GetVersionExW", u16(), "",
                         std::to_string(info->dwOSVersionInfoSize))) {
        SetLastError(*err);
        return FALSE;
    }
    /* OSVERSIONINFOW is 276 bytes, OSVERSIONINFOEXW 284. */
    if (info->dwOSVersionInfoSize != sizeof(OSVERSIONINFOW) &&
        info->dwOSVersionInfoSize != sizeof(OSVERSIONINFOW) + 8) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    info->dwMajorVersion = machine().osMajor;
    info->dwMinorVersion = machine().osMinor;
    info->dwBuildNumber = machine().osMajor >= 10 ? 19045 : 2600;
    info->dwPlatformId = VER_PLATFORM_WIN32_NT;
    return TRUE;
}

DWORD WINAPI GetModuleFileNameW(HMODULE hModule, LPWSTR buf, DWORD nSize)
{
    if (auto err = Enter("GetModuleFileNameW", u16(), "",
                         std::to_string(nSize))) {
        SetLastError(*err);
        return 0;
    }
    (void)hModule;
    const u16 &path = machine().modulePath;
    if (nSize == 0) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    if (path.size() >= nSize) {
        /* Vista and later cut the name and terminate it; XP left it
         * unterminated.  Either way the result equals nSize. */
        std::copy(path.begin(), path.begin() + (nSize - 1), buf);
        buf[nSize - 1] = 0;
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return nSize;
    }
    std::copy(path.begin(), path.end(), buf);
    buf[path.size()] = 0;
    return static_cast<DWORD>(path.size());
}

LANGID WINAPI GetSystemDefaultLangID(void)
{
    Enter("GetSystemDefaultLangID");
    return machine().systemLanguage;
}

BOOL WINAPI GetFileAttributesExW(LPCWSTR name, GET_FILEEX_INFO_LEVELS level,
                                 LPVOID out)
{
    u16 path = FromWide(name);
    if (auto err = Enter("GetFileAttributesExW", path)) {
        SetLastError(*err);
        return FALSE;
    }
    std::vector<u16> c;
    if (level != GetFileExInfoStandard || !NormalisePath(path, c)) {
        SetLastError(level != GetFileExInfoStandard ? ERROR_INVALID_PARAMETER
                                                    : ERROR_PATH_NOT_FOUND);
        return FALSE;
    }
    FileEntry *e = Lookup(c);
    if (!e) {
        SetLastError(MissingError(c));
        return FALSE;
    }
    auto *data = static_cast<WIN32_FILE_ATTRIBUTE_DATA *>(out);
    data->dwFileAttributes = e->attributes;
    data->ftCreationTime = e->creation;
    data->ftLastAccessTime = e->lastWrite;
    data->ftLastWriteTime = e->lastWrite;
    uint64_t size = e->dir ? 0 : e->content.size();
    data->nFileSizeHigh = static_cast<DWORD>(size >> 32);
    data->nFileSizeLow = static_cast<DWORD>(size);
    return TRUE;
}

BOOL WINAPI CopyFileW(LPCWSTR from, LPCWSTR to, BOOL failIfExists)
{
    u16 src = FromWide(from), dst = FromWide(to);
    if (auto err = Enter("CopyFileW", src, "",
                         ToUtf8(dst) + (failIfExists ? " fail-if-exists" : ""))) {
        SetLastError(*err);
        return FALSE;
    }
    std::vector<u16> s, d;
    if (!NormalisePath(src, s) || !NormalisePath(dst, d)) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return FALSE;
    }
    FileEntry *se = Lookup(s);
    if (!se) {
        SetLastError(MissingError(s));
        return FALSE;
    }
    if (se->dir) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    if (se->heldOpen) {
        SetLastError(ERROR_SHARING_VIOLATION);
        return FALSE;
    }
    if (!FolderExists(Parent(d))) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return FALSE;
    }
    FileEntry *de = Lookup(d);
    if (de) {
        if (failIfExists) {
            SetLastError(ERROR_FILE_EXISTS);
            return FALSE;
        }
        if (de->dir || (de->attributes & FILE_ATTRIBUTE_READONLY)) {
            SetLastError(ERROR_ACCESS_DENIED);
            return FALSE;
        }
        if (de->heldOpen) {
            SetLastError(ERROR_SHARING_VIOLATION);
            return FALSE;
        }
    }
    FileEntry copy = *se;
    copy.heldOpen = false;
    copy.attributes = se->attributes | FILE_ATTRIBUTE_ARCHIVE;
    if (de) {
        /* An overwritten file keeps its name and creation time. */
        copy.path = de->path;
        copy.creation = de->creation;
    } else {
        copy.path = JoinPath(d);
        copy.creation = Now();
    }
    /* CopyFileW keeps the source's last-write time. */
    machine().files[KeyOf(d)] = copy;
    return TRUE;
}

HANDLE WINAPI FindFirstFileW(LPCWSTR pattern, LPWIN32_FIND_DATAW data)
{
    u16 path = FromWide(pattern);
    if (auto err = Enter("FindFirstFileW", path)) {
        SetLastError(*err);
        return INVALID_HANDLE_VALUE;
    }
    std::vector<u16> c;
    if (!NormalisePath(path, c) || c.size() < 2) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    u16 wanted = c.back();
    std::vector<u16> folder = Parent(c);
    if (!FolderExists(folder)) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    HandleObject search{HandleKind::Find, JoinPath(folder)};
    bool wild = wanted.find_first_of(u"*?") != u16::npos;
    if (wild && !IsDriveRoot(folder)) {
        /* Every folder but a drive's root lists "." and ".." first. */
        FileEntry *self = Lookup(folder);
        for (const char16_t *dot : {u".", u".."}) {
            if (Match(wanted, dot)) {
                WIN32_FIND_DATAW d;
                FillFindData(d, *self, dot);
                search.found.push_back(d);
            }
        }
    }
    for (const u16 &key : ChildrenOf(folder)) {
        const FileEntry &e = machine().files[key];
        u16 name = NameOf(e.path);
        if (wild ? Match(wanted, name) : EqualNoCase(wanted, name)) {
            WIN32_FIND_DATAW d;
            FillFindData(d, e, name);
            search.found.push_back(d);
        }
    }
    if (search.found.empty()) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    *data = search.found[0];
    search.position = 1;
    return reinterpret_cast<HANDLE>(NewHandle(std::move(search)));
}

BOOL WINAPI FindNextFileW(HANDLE h, LPWIN32_FIND_DATAW data)
{
    HandleObject *search =
        LookupHandle(reinterpret_cast<uintptr_t>(h), HandleKind::Find);
    if (auto err = Enter("FindNextFileW", search ? search->path : u16())) {
        SetLastError(*err);
        return FALSE;
    }
    if (!search) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (search->position >= search->found.size()) {
        SetLastError(ERROR_NO_MORE_FILES);
        return FALSE;
    }
    *data = search->found[search->position++];
    return TRUE;
}

BOOL WINAPI FindClose(HANDLE h)
{
    HandleObject *search =
        LookupHandle(reinterpret_cast<uintptr_t>(h), HandleKind::Find);
    Enter("FindClose", search ? search->path : u16());
    if (!CloseHandleOf(reinterpret_cast<uintptr_t>(h), HandleKind::Find)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return TRUE;
}

HANDLE WINAPI CreateFileW(LPCWSTR name, DWORD access, DWORD share,
                          LPSECURITY_ATTRIBUTES sa, DWORD disposition,
                          DWORD flags, HANDLE templ)
{
    u16 path = FromWide(name);
    if (auto err = Enter("CreateFileW", path, "",
                         Hex(access) + " share=" + Hex(share) + " disp=" +
                             std::to_string(disposition) + " flags=" +
                             Hex(flags))) {
        SetLastError(*err);
        return INVALID_HANDLE_VALUE;
    }
    (void)sa;
    (void)templ;
    std::vector<u16> c;
    if (!NormalisePath(path, c) || disposition != OPEN_EXISTING) {
        /* Stand-in: only opening an existing file is modelled. */
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    FileEntry *e = Lookup(c);
    if (!e) {
        SetLastError(MissingError(c));
        return INVALID_HANDLE_VALUE;
    }
    if (e->dir) {
        /* A folder opens only with FILE_FLAG_BACKUP_SEMANTICS. */
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    if (e->heldOpen) {
        SetLastError(ERROR_SHARING_VIOLATION);
        return INVALID_HANDLE_VALUE;
    }
    return reinterpret_cast<HANDLE>(
        NewHandle({HandleKind::File, Upper(JoinPath(c)), {}, 0, access}));
}

BOOL WINAPI ReadFile(HANDLE h, LPVOID buffer, DWORD toRead, LPDWORD read,
                     LPOVERLAPPED overlapped)
{
    HandleObject *file =
        LookupHandle(reinterpret_cast<uintptr_t>(h), HandleKind::File);
    if (auto err = Enter("ReadFile", file ? file->path : u16(), "",
                         std::to_string(toRead))) {
        if (read)
            *read = 0;
        SetLastError(*err);
        return FALSE;
    }
    (void)overlapped;
    if (!file || !(file->access & GENERIC_READ)) {
        SetLastError(file ? ERROR_ACCESS_DENIED : ERROR_INVALID_HANDLE);
        return FALSE;
    }
    auto it = machine().files.find(file->path);
    const std::string empty;
    const std::string &content =
        it == machine().files.end() ? empty : it->second.content;
    size_t n = 0;
    if (file->position < content.size())
        n = std::min<size_t>(toRead, content.size() - file->position);
    std::memcpy(buffer, content.data() + file->position, n);
    file->position += n;
    if (read)
        *read = static_cast<DWORD>(n);
    return TRUE;
}

BOOL WINAPI CloseHandle(HANDLE h)
{
    uintptr_t v = reinterpret_cast<uintptr_t>(h);
    HandleObject *file = LookupHandle(v, HandleKind::File);
    Enter("CloseHandle", file ? file->path : u16());
    if (CloseHandleOf(v, HandleKind::File) ||
        CloseHandleOf(v, HandleKind::Token))
        return TRUE;
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
}

HANDLE WINAPI GetCurrentProcess(void)
{
    Enter("GetCurrentProcess");
    return reinterpret_cast<HANDLE>(static_cast<intptr_t>(-1));
}

LSTATUS WINAPI HostRegDeleteKeyExW(HKEY, LPCWSTR, REGSAM, DWORD);
BOOL WINAPI HostSetupUninstallOEMInfW(PCWSTR, DWORD, PVOID);
CONFIGRET WINAPI HostCM_Locate_DevNodeW(PDEVINST, DEVINSTID_W, ULONG);
CONFIGRET WINAPI HostCM_Uninstall_DevNode(DEVNODE, ULONG);

HMODULE WINAPI LoadLibraryW(LPCWSTR name)
{
    u16 lib = FromWide(name);
    if (auto err = Enter("LoadLibraryW", lib)) {
        SetLastError(*err);
        return NULL;
    }
    /* The libraries whose functions the installer looks up by name. */
    u16 module;
    for (const char16_t *known : {u"ADVAPI32", u"SETUPAPI", u"CFGMGR32"}) {
        if (EqualNoCase(lib, known) || EqualNoCase(lib, u16(known) + u".dll"))
            module = u16(known) + u".DLL";
    }
    if (module == u"CFGMGR32.DLL" && !machine().hasCfgMgr32)
        module.clear();
    if (module.empty()) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return NULL;
    }
    machine().loadedLibraries++;
    return reinterpret_cast<HMODULE>(
        NewHandle({HandleKind::Module, module}));
}

FARPROC WINAPI GetProcAddress(HMODULE module, LPCSTR name)
{
    std::string proc = name ? name : "";
    if (auto err = Enter("GetProcAddress", FromUtf8(proc))) {
        SetLastError(*err);
        return NULL;
    }
    HandleObject *m =
        LookupHandle(reinterpret_cast<uintptr_t>(module), HandleKind::Module);
    if (!m) {
        SetLastError(ERROR_INVALID_HANDLE);
        return NULL;
    }
    if (m->path == u"ADVAPI32.DLL" && proc == "RegDeleteKeyExW" &&
        machine().hasRegDeleteKeyEx)
        return reinterpret_cast<FARPROC>(&HostRegDeleteKeyExW);
    if (m->path == u"SETUPAPI.DLL" && proc == "SetupUninstallOEMInfW" &&
        machine().hasSetupUninstallOEMInf)
        return reinterpret_cast<FARPROC>(&HostSetupUninstallOEMInfW);
    /* cfgmgr32 forwards these to setupapi, which exports them itself. */
    if (m->path == u"CFGMGR32.DLL" ||
        (m->path == u"SETUPAPI.DLL" && machine().setupapiHasConfigManager)) {
        if (proc == "CM_Locate_DevNodeW")
            return reinterpret_cast<FARPROC>(&HostCM_Locate_DevNodeW);
        if (proc == "CM_Uninstall_DevNode")
            return reinterpret_cast<FARPROC>(&HostCM_Uninstall_DevNode);
    }
    SetLastError(ERROR_PROC_NOT_FOUND);
    return NULL;
}

BOOL WINAPI FreeLibrary(HMODULE module)
{
    Enter("FreeLibrary");
    if (!CloseHandleOf(reinterpret_cast<uintptr_t>(module),
                       HandleKind::Module)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    machine().loadedLibraries--;
    return TRUE;
}

HANDLE WINAPI CreateMutexW(LPSECURITY_ATTRIBUTES sa, BOOL initialOwner,
                           LPCWSTR lpName)
{
    u16 name = FromWide(lpName);
    if (auto err = Enter("CreateMutexW", name, "",
                         initialOwner ? "initial-owner" : "")) {
        SetLastError(*err);
        return NULL;
    }
    (void)sa;
    /* Stand-in: an unnamed mutex is not modelled. */
    if (name.empty()) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return NULL;
    }
    /* Only a namespace prefix may hold a backslash. */
    u16 rest = name;
    for (const char16_t *prefix : {u"Global\\", u"Local\\"}) {
        if (rest.rfind(prefix, 0) == 0)
            rest = rest.substr(u16(prefix).size());
    }
    if (rest.find(u'\\') != u16::npos) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return NULL;
    }
    auto &mutexes = machine().mutexes;
    if (mutexes.count(name)) {
        /* An existing mutex is opened; the initial owner flag is ignored. */
        SetLastError(ERROR_ALREADY_EXISTS);
    } else {
        mutexes[name].ownedHere = initialOwner ? 1 : 0;
        SetLastError(ERROR_SUCCESS);
    }
    return reinterpret_cast<HANDLE>(NewHandle({HandleKind::Mutex, name}));
}

DWORD WINAPI WaitForSingleObject(HANDLE h, DWORD ms)
{
    /* Stand-in: only mutexes are waited for. */
    HandleObject *object =
        LookupHandle(reinterpret_cast<uintptr_t>(h), HandleKind::Mutex);
    if (auto err = Enter("WaitForSingleObject", object ? object->path : u16(),
                         "", "ms=" + std::to_string(ms))) {
        SetLastError(*err);
        return WAIT_FAILED;
    }
    if (!object) {
        SetLastError(ERROR_INVALID_HANDLE);
        return WAIT_FAILED;
    }
    NamedMutex &m = machine().mutexes[object->path];
    /* The other run ends during the wait; ownership passes to the waiter
     * either way, and a killed owner shows as WAIT_ABANDONED. */
    bool abandoned = m.heldElsewhere && m.abandonedElsewhere;
    m.heldElsewhere = false;
    m.abandonedElsewhere = false;
    m.ownedHere++;
    return abandoned ? WAIT_ABANDONED : WAIT_OBJECT_0;
}

} // extern "C"
