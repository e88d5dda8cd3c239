/* kernel32 of the stand-in: version, module, language, files, directory
 * searches, libraries. */
#include <algorithm>
#include <cstring>
#include <iterator>

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

/* A folder that exists: drive C: always does, another drive or a
 * \\server\share once something is seeded on it.  Stand-in: a drive
 * letter mapped by another logon session (KB937624) is simply not there. */
bool FolderExists(const std::vector<u16> &components)
{
    if (IsDriveRoot(components)) {
        const u16 root = Upper(components[0]);
        auto it = machine().files.lower_bound(root + u"\\");
        return root == u"C:" ||
               (it != machine().files.end() &&
                it->first.compare(0, root.size() + 1, root + u"\\") == 0);
    }
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

/* Share modes, as Windows checks them ("Creating and Opening Files",
 * CreateFileW's dwShareMode): an open that reads, writes or deletes must
 * be granted that by every other such open of the file, in this process
 * or another, and must itself grant what those others do.  Opens for
 * attributes alone take no part. */
bool Reads(DWORD access) { return (access & (GENERIC_READ | FILE_READ_DATA)) != 0; }
bool Writes(DWORD access)
{
    return (access & (GENERIC_WRITE | FILE_WRITE_DATA | FILE_APPEND_DATA)) != 0;
}
bool Deletes(DWORD access) { return (access & DELETE) != 0; }
bool TakesPart(DWORD access)
{
    return Reads(access) || Writes(access) || Deletes(access);
}
bool Refuses(DWORD access, DWORD share)
{
    return (Reads(access) && !(share & FILE_SHARE_READ)) ||
           (Writes(access) && !(share & FILE_SHARE_WRITE)) ||
           (Deletes(access) && !(share & FILE_SHARE_DELETE));
}

bool SharingViolation(const FileEntry &e, DWORD access, DWORD share)
{
    if (!TakesPart(access))
        return false;
    std::vector<std::pair<DWORD, DWORD>> opens;
    if (e.heldOpen)
        opens.push_back({GENERIC_READ | GENERIC_WRITE, 0});
    if (e.heldAccess)
        opens.push_back({e.heldAccess, e.heldShare});
    const u16 key = Upper(e.path);
    for (const HandleObject *h : HandlesOf(HandleKind::File))
        if (h->path == key)
            opens.push_back({h->access, h->share});
    for (auto &[otherAccess, otherShare] : opens) {
        if (TakesPart(otherAccess) &&
            (Refuses(access, otherShare) || Refuses(otherAccess, share)))
            return true;
    }
    return false;
}

u16 NameOf(const u16 &path)
{
    size_t slash = path.rfind(u'\\');
    return slash == u16::npos ? path : path.substr(slash + 1);
}

/* What a search, an attribute query and a handle's information tell
 * alike of an entry. */
template <typename Data> void FillStandard(Data &data, const FileEntry &e)
{
    data.dwFileAttributes = e.Attributes();
    data.ftCreationTime = e.creation;
    data.ftLastAccessTime = e.lastWrite;
    data.ftLastWriteTime = e.lastWrite;
    uint64_t size = e.dir ? 0 : e.content.size();
    data.nFileSizeHigh = static_cast<DWORD>(size >> 32);
    data.nFileSizeLow = static_cast<DWORD>(size);
}

void FillFindData(WIN32_FIND_DATAW &data, const FileEntry &e, const u16 &name)
{
    std::memset(&data, 0, sizeof data);
    FillStandard(data, e);
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

const u16 &DaclAt(const std::vector<u16> &components)
{
    /* Stand-in: inheritance is not computed; what an entry inherits is
     * the DACL of the nearest folder above that has one. */
    static const u16 none;
    for (std::vector<u16> c = components; !IsDriveRoot(c); c = Parent(c)) {
        const FileEntry *e = Lookup(c);
        if (e && !e->dacl.empty())
            return e->dacl;
    }
    return none;
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
                         std::to_string(info->dwOSVersionInfoSize)))
        return Failed(*err);
    /* OSVERSIONINFOW is 276 bytes, OSVERSIONINFOEXW 284. */
    if (info->dwOSVersionInfoSize != sizeof(OSVERSIONINFOW) &&
        info->dwOSVersionInfoSize != sizeof(OSVERSIONINFOW) + 8)
        return Failed(ERROR_INSUFFICIENT_BUFFER);
    info->dwMajorVersion = machine().osMajor;
    info->dwMinorVersion = machine().osMinor;
    info->dwBuildNumber = machine().osMajor >= 10 ? 19045 : 2600;
    info->dwPlatformId = VER_PLATFORM_WIN32_NT;
    return TRUE;
}

DWORD WINAPI GetModuleFileNameW(HMODULE hModule, LPWSTR buf, DWORD nSize)
{
    if (auto err = Enter("GetModuleFileNameW", u16(), "",
                         std::to_string(nSize)))
        return Failed(*err, 0);
    (void)hModule;
    const u16 &path = machine().modulePath;
    if (nSize == 0)
        return Failed(ERROR_INSUFFICIENT_BUFFER, 0);
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

/* GetSystemWindowsDirectoryW and GetSystemDirectoryW: folder into buf as
 * Windows answers.  Too small a buffer: the size needed, terminator
 * included, and the buffer untouched. */
static UINT CopyFolderAnswer(const u16 &folder, LPWSTR buf, UINT size)
{
    if (!buf || folder.size() >= size)
        return static_cast<UINT>(folder.size() + 1);
    std::copy(folder.begin(), folder.end(), buf);
    buf[folder.size()] = 0;
    return static_cast<UINT>(folder.size());
}

UINT WINAPI GetSystemWindowsDirectoryW(LPWSTR buf, UINT size)
{
    if (auto err = Enter("GetSystemWindowsDirectoryW", u16(), "",
                         std::to_string(size)))
        return Failed(*err, 0);
    return CopyFolderAnswer(machine().windowsFolder, buf, size);
}

UINT WINAPI GetSystemDirectoryW(LPWSTR buf, UINT size)
{
    if (auto err =
            Enter("GetSystemDirectoryW", u16(), "", std::to_string(size)))
        return Failed(*err, 0);
    /* A 32-bit process on 64-bit Windows is answered System32 too; the
     * file system redirects it to SysWOW64. */
    return CopyFolderAnswer(machine().systemFolder, buf, size);
}

BOOL WINAPI GetFileAttributesExW(LPCWSTR name, GET_FILEEX_INFO_LEVELS level,
                                 LPVOID out)
{
    u16 path = FromWide(name);
    if (auto err = Enter("GetFileAttributesExW", path))
        return Failed(*err);
    std::vector<u16> c;
    if (level != GetFileExInfoStandard || !ProcessPath(path, c))
        return Failed(level != GetFileExInfoStandard ? ERROR_INVALID_PARAMETER
                                                     : ERROR_PATH_NOT_FOUND);
    FileEntry *e = Lookup(c);
    if (!e)
        return Failed(MissingError(c));
    FillStandard(*static_cast<WIN32_FILE_ATTRIBUTE_DATA *>(out), *e);
    return TRUE;
}

BOOL WINAPI CopyFileW(LPCWSTR from, LPCWSTR to, BOOL failIfExists)
{
    u16 src = FromWide(from), dst = FromWide(to);
    if (auto err = Enter("CopyFileW", src, "",
                         ToUtf8(dst) + (failIfExists ? " fail-if-exists" : "")))
        return Failed(*err);
    std::vector<u16> s, d;
    if (!ProcessPath(src, s) || !ProcessPath(dst, d))
        return Failed(ERROR_PATH_NOT_FOUND);
    FileEntry *se = Lookup(s);
    if (!se)
        return Failed(MissingError(s));
    if (se->dir)
        return Failed(ERROR_ACCESS_DENIED);
    /* Stand-in: the source is read with FILE_SHARE_READ, the destination
     * written with no sharing; Windows does not document its share modes
     * (Wine reads the source sharing reading and writing). */
    if (SharingViolation(*se, GENERIC_READ, FILE_SHARE_READ))
        return Failed(ERROR_SHARING_VIOLATION);
    if (!FolderExists(Parent(d)))
        return Failed(ERROR_PATH_NOT_FOUND);
    FileEntry *de = Lookup(d);
    if (de) {
        if (failIfExists)
            return Failed(ERROR_FILE_EXISTS);
        if (de->dir || (de->attributes & FILE_ATTRIBUTE_READONLY))
            return Failed(ERROR_ACCESS_DENIED);
        if (SharingViolation(*de, GENERIC_WRITE, 0))
            return Failed(ERROR_SHARING_VIOLATION);
    }
    FileEntry copy = *se;
    copy.heldOpen = false;
    copy.heldAccess = copy.heldShare = 0;
    /* The copy is a file of its own, never a link nor a placeholder.
     * Stand-in: an online-only file's content is always there to read. */
    copy.links = 1;
    copy.reparseTag = 0;
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
    if (auto err = Enter("FindFirstFileW", path))
        return Failed(*err, INVALID_HANDLE_VALUE);
    std::vector<u16> c;
    if (!ProcessPath(path, c) || c.size() < 2)
        return Failed(ERROR_PATH_NOT_FOUND, INVALID_HANDLE_VALUE);
    u16 wanted = c.back();
    std::vector<u16> folder = Parent(c);
    if (!FolderExists(folder))
        return Failed(ERROR_PATH_NOT_FOUND, INVALID_HANDLE_VALUE);
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
    if (search.found.empty())
        return Failed(ERROR_FILE_NOT_FOUND, INVALID_HANDLE_VALUE);
    *data = search.found[0];
    search.position = 1;
    return reinterpret_cast<HANDLE>(NewHandle(std::move(search)));
}

BOOL WINAPI FindNextFileW(HANDLE h, LPWIN32_FIND_DATAW data)
{
    HandleObject *search =
        LookupHandle(reinterpret_cast<uintptr_t>(h), HandleKind::Find);
    if (auto err = Enter("FindNextFileW", search ? search->path : u16()))
        return Failed(*err);
    if (!search)
        return Failed(ERROR_INVALID_HANDLE);
    if (search->position >= search->found.size())
        return Failed(ERROR_NO_MORE_FILES);
    *data = search->found[search->position++];
    return TRUE;
}

BOOL WINAPI FindClose(HANDLE h)
{
    HandleObject *search =
        LookupHandle(reinterpret_cast<uintptr_t>(h), HandleKind::Find);
    Enter("FindClose", search ? search->path : u16());
    if (!CloseHandleOf(reinterpret_cast<uintptr_t>(h), HandleKind::Find))
        return Failed(ERROR_INVALID_HANDLE);
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
                             Hex(flags) +
                             (sa && sa->bInheritHandle ? " inherit" : ""))) {
        SetLastError(*err);
        return INVALID_HANDLE_VALUE;
    }
    (void)templ;
    std::vector<u16> c;
    if (!ProcessPath(path, c) ||
        (disposition != OPEN_EXISTING && disposition != OPEN_ALWAYS &&
         disposition != CREATE_NEW)) {
        /* Stand-in: only opening an existing file, or a file created
         * when missing, or only then, is modelled. */
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    FileEntry *e = Lookup(c);
    if (e && disposition == CREATE_NEW) {
        SetLastError(ERROR_FILE_EXISTS);
        return INVALID_HANDLE_VALUE;
    }
    if (!e && (disposition == OPEN_EXISTING || !FolderExists(Parent(c)))) {
        SetLastError(MissingError(c));
        return INVALID_HANDLE_VALUE;
    }
    const void *sd = sa ? sa->lpSecurityDescriptor : nullptr;
    if (!e) {
        /* A new file: the folder's DACL must grant FILE_ADD_FILE, and
         * the owner a descriptor names must be one the token may assign
         * ("Assignment of Owner"); without one it gets the token's
         * default owner.  The DACL is the descriptor's; without one a
         * file inherits its folder's (CreateFileW, lpSecurityAttributes),
         * which DaclAt finds. */
        FileEntry made;
        u16 owner = sd ? OwnerOfDescriptor(sd) : u16();
        if (sd && !DaclOfDescriptor(sd, made.dacl)) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return INVALID_HANDLE_VALUE;
        }
        if (!DaclGrants(DaclAt(Parent(c)), FILE_WRITE_DATA /* FILE_ADD_FILE */)) {
            SetLastError(ERROR_ACCESS_DENIED);
            return INVALID_HANDLE_VALUE;
        }
        if (!owner.empty() && !TokenMayOwn(owner)) {
            SetLastError(ERROR_INVALID_OWNER);
            return INVALID_HANDLE_VALUE;
        }
        made.path = JoinPath(c);
        made.owner = owner.empty() ? machine().tokenUser : owner;
        made.creation = made.lastWrite = Now();
        e = &machine().files.emplace(KeyOf(c), made).first->second;
        SetLastError(ERROR_SUCCESS);
    } else {
        if (Writes(access) && (e->attributes & FILE_ATTRIBUTE_READONLY)) {
            SetLastError(ERROR_ACCESS_DENIED);
            return INVALID_HANDLE_VALUE;
        }
        if (e->dir && !(flags & FILE_FLAG_BACKUP_SEMANTICS)) {
            /* A folder opens only with FILE_FLAG_BACKUP_SEMANTICS. */
            SetLastError(ERROR_ACCESS_DENIED);
            return INVALID_HANDLE_VALUE;
        }
        /* The DACL is checked before the share modes; an existing file
         * keeps its own security, whatever descriptor is given. */
        if (!DaclGrants(DaclAt(c), access)) {
            SetLastError(ERROR_ACCESS_DENIED);
            return INVALID_HANDLE_VALUE;
        }
        /* Stand-in: a reparse point's target is not modelled, so an open
         * without FILE_FLAG_OPEN_REPARSE_POINT reaches the entry itself
         * too, where Windows would follow the link. */
        if (SharingViolation(*e, access, share)) {
            SetLastError(ERROR_SHARING_VIOLATION);
            return INVALID_HANDLE_VALUE;
        }
        /* OPEN_ALWAYS succeeds on a file that was there with
         * ERROR_ALREADY_EXISTS (CreateFileW, dwCreationDisposition). */
        if (disposition == OPEN_ALWAYS)
            SetLastError(ERROR_ALREADY_EXISTS);
    }
    HandleObject file{HandleKind::File, Upper(JoinPath(c)), {}, 0, access};
    file.share = share;
    file.disposition = disposition;
    return reinterpret_cast<HANDLE>(NewHandle(std::move(file)));
}

/* Records fn's call on file handle h; the entry open on it, or nullptr
 * with the last error set (an injected one, or ERROR_INVALID_HANDLE). */
static const FileEntry *EnterOnFile(const char *fn, HANDLE h,
                                    const std::string &detail = std::string())
{
    HandleObject *file =
        LookupHandle(reinterpret_cast<uintptr_t>(h), HandleKind::File);
    auto err = Enter(fn, file ? file->path : u16(), "", detail);
    auto it = file ? machine().files.find(file->path) : machine().files.end();
    if (err || it == machine().files.end()) {
        SetLastError(err ? *err : ERROR_INVALID_HANDLE);
        return nullptr;
    }
    return &it->second;
}

BOOL WINAPI GetFileInformationByHandle(HANDLE h,
                                       LPBY_HANDLE_FILE_INFORMATION info)
{
    const FileEntry *e = EnterOnFile("GetFileInformationByHandle", h);
    if (!e)
        return FALSE;
    std::memset(info, 0, sizeof *info);
    FillStandard(*info, *e);
    info->dwVolumeSerialNumber = 0x51B83C7E;
    /* A folder counts one link, as NTFS reports it. */
    info->nNumberOfLinks = e->dir ? 1 : e->links;
    return TRUE;
}

/* ReparseTag is undefined for an object that is no reparse point
 * ("FILE_ATTRIBUTE_TAG_INFO structure"): 0 here.  Stand-in: only the
 * class FileAttributeTagInfo is modelled; ERROR_INVALID_PARAMETER else. */
BOOL WINAPI HostGetFileInformationByHandleEx(HANDLE h,
                                             FILE_INFO_BY_HANDLE_CLASS kind,
                                             LPVOID out, DWORD size)
{
    const FileEntry *e = EnterOnFile("GetFileInformationByHandleEx", h,
                                     std::to_string(kind));
    if (!e)
        return FALSE;
    if (kind != FileAttributeTagInfo ||
        size < sizeof(FILE_ATTRIBUTE_TAG_INFO))
        return Failed(ERROR_INVALID_PARAMETER);
    *static_cast<FILE_ATTRIBUTE_TAG_INFO *>(out) = {e->Attributes(),
                                                    e->reparseTag};
    return TRUE;
}

/* FSCTL_GET_REPARSE_POINT answers with the tag, the data's length and a
 * reserved word, then the data; ERROR_NOT_A_REPARSE_POINT for an object
 * that is none, ERROR_INSUFFICIENT_BUFFER for a buffer too small for that
 * header ("FSCTL_GET_REPARSE_POINT control code").  Stand-in: no data
 * follows (a link's target is not modelled); no other code is modelled
 * (ERROR_INVALID_FUNCTION), nor overlapped calls. */
BOOL WINAPI DeviceIoControl(HANDLE h, DWORD code, LPVOID, DWORD, LPVOID out,
                            DWORD outSize, LPDWORD returned, LPOVERLAPPED)
{
    *returned = 0;
    const FileEntry *e = EnterOnFile("DeviceIoControl", h, Hex(code));
    if (!e)
        return FALSE;
    const DWORD header[2] = {e->reparseTag, 0};
    if (code != FSCTL_GET_REPARSE_POINT)
        return Failed(ERROR_INVALID_FUNCTION);
    if (!e->reparseTag)
        return Failed(ERROR_NOT_A_REPARSE_POINT);
    if (outSize < sizeof(header))
        return Failed(ERROR_INSUFFICIENT_BUFFER);
    std::memcpy(out, header, sizeof(header));
    *returned = sizeof(header);
    return TRUE;
}

BOOL WINAPI ReadFile(HANDLE h, LPVOID buffer, DWORD toRead, LPDWORD read,
                     LPOVERLAPPED overlapped)
{
    if (LookupHandle(reinterpret_cast<uintptr_t>(h), HandleKind::Pipe))
        return ReadPipe(reinterpret_cast<uintptr_t>(h), buffer, toRead, read);
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
    if (!file || !(file->access & GENERIC_READ))
        return Failed(file ? ERROR_ACCESS_DENIED : ERROR_INVALID_HANDLE);
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

BOOL WINAPI WriteFile(HANDLE h, LPCVOID buffer, DWORD toWrite, LPDWORD written,
                      LPOVERLAPPED overlapped)
{
    HandleObject *file =
        LookupHandle(reinterpret_cast<uintptr_t>(h), HandleKind::File);
    if (written)
        *written = 0;
    if (auto err = Enter("WriteFile", file ? file->path : u16(), "",
                         std::string(static_cast<const char *>(buffer), toWrite))) {
        SetLastError(*err);
        return FALSE;
    }
    (void)overlapped;
    auto it = file ? machine().files.find(file->path) : machine().files.end();
    if (it == machine().files.end() || !Writes(file->access)) {
        SetLastError(it == machine().files.end() ? ERROR_INVALID_HANDLE
                                                 : ERROR_ACCESS_DENIED);
        return FALSE;
    }
    std::string &content = it->second.content;
    /* A handle with FILE_APPEND_DATA alone writes at the end, whatever
     * others wrote meanwhile. */
    if (!(file->access & (GENERIC_WRITE | FILE_WRITE_DATA)))
        file->position = content.size();
    content.resize(std::max(content.size(), file->position + toWrite));
    content.replace(file->position, toWrite, static_cast<const char *>(buffer),
                    toWrite);
    file->position += toWrite;
    it->second.lastWrite = Now();
    if (written)
        *written = toWrite;
    return TRUE;
}

BOOL WINAPI MoveFileExW(LPCWSTR from, LPCWSTR to, DWORD flags)
{
    u16 src = FromWide(from), dst = FromWide(to);
    if (auto err = Enter("MoveFileExW", src, "",
                         ToUtf8(dst) + " flags=" + Hex(flags))) {
        SetLastError(*err);
        return FALSE;
    }
    /* Deleted at the next start ("MoveFileExW"): recorded for the
     * session manager, which needs an administrator's token.  Stand-in:
     * the file is not looked for (Windows does not document whether it
     * is), and its name is kept as given, the redirector's state aside. */
    if (!to && (flags & MOVEFILE_DELAY_UNTIL_REBOOT)) {
        if (!machine().tokenAdministrators)
            return Failed(ERROR_ACCESS_DENIED);
        machine().deletedAtRestart.push_back(src);
        return TRUE;
    }
    std::vector<u16> s, d;
    FileEntry *se = ProcessPath(src, s) ? Lookup(s) : nullptr;
    if (!se || !ProcessPath(dst, d) || !FolderExists(Parent(d))) {
        SetLastError(se ? ERROR_PATH_NOT_FOUND : ERROR_FILE_NOT_FOUND);
        return FALSE;
    }
    FileEntry *de = Lookup(d);
    /* Stand-in: folders are not moved.  A rename needs DELETE access,
     * which every open that does not share deletion refuses. */
    if (se->dir || (de && (de->dir || !(flags & MOVEFILE_REPLACE_EXISTING))) ||
        SharingViolation(*se, DELETE,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE)) {
        SetLastError(se->dir || (de && de->dir) ? ERROR_ACCESS_DENIED
                     : de && !(flags & MOVEFILE_REPLACE_EXISTING)
                         ? ERROR_ALREADY_EXISTS
                         : ERROR_SHARING_VIOLATION);
        return FALSE;
    }
    FileEntry moved = *se;
    moved.path = JoinPath(d);
    machine().files.erase(KeyOf(s));
    machine().files[KeyOf(d)] = moved;
    return TRUE;
}

/* DeleteFileW: a read-only file or a folder is refused
 * (ERROR_ACCESS_DENIED), and so is a file another open does not share
 * deletion with (ERROR_SHARING_VIOLATION). */
BOOL WINAPI DeleteFileW(LPCWSTR name)
{
    u16 path = FromWide(name);
    if (auto err = Enter("DeleteFileW", path))
        return Failed(*err);
    std::vector<u16> c;
    if (!ProcessPath(path, c))
        return Failed(ERROR_PATH_NOT_FOUND);
    FileEntry *e = Lookup(c);
    if (!e)
        return Failed(MissingError(c));
    /* Windows keeps the image of a running program from deletion, and
     * lets it be renamed. */
    std::vector<u16> image;
    if (e->dir || (e->attributes & FILE_ATTRIBUTE_READONLY) ||
        !DaclGrants(DaclAt(c), DELETE) ||
        (NormalisePath(machine().modulePath, image) && KeyOf(image) == KeyOf(c)))
        return Failed(ERROR_ACCESS_DENIED);
    if (SharingViolation(*e, DELETE,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE))
        return Failed(ERROR_SHARING_VIOLATION);
    machine().files.erase(KeyOf(c));
    return TRUE;
}

/* Stand-in: only a move from the file's start (FILE_BEGIN) within 2 GiB
 * is modelled. */
DWORD WINAPI SetFilePointer(HANDLE h, LONG distance, LONG *high, DWORD method)
{
    HandleObject *file =
        LookupHandle(reinterpret_cast<uintptr_t>(h), HandleKind::File);
    if (auto err = Enter("SetFilePointer", file ? file->path : u16(), "",
                         std::to_string(distance)))
        return Failed(*err, INVALID_SET_FILE_POINTER);
    if (!file)
        return Failed(ERROR_INVALID_HANDLE, INVALID_SET_FILE_POINTER);
    if (method != FILE_BEGIN || distance < 0 || (high && *high != 0))
        return Failed(ERROR_INVALID_PARAMETER, INVALID_SET_FILE_POINTER);
    file->position = static_cast<size_t>(distance);
    return static_cast<DWORD>(distance);
}

DWORD WINAPI GetFileAttributesW(LPCWSTR name)
{
    u16 path = FromWide(name);
    if (auto err = Enter("GetFileAttributesW", path))
        return Failed(*err, INVALID_FILE_ATTRIBUTES);
    std::vector<u16> c;
    if (!ProcessPath(path, c))
        return Failed(ERROR_PATH_NOT_FOUND, INVALID_FILE_ATTRIBUTES);
    if (IsDriveRoot(c) && FolderExists(c))
        return FILE_ATTRIBUTE_DIRECTORY;
    const FileEntry *e = Lookup(c);
    return e ? e->Attributes() : Failed(MissingError(c), INVALID_FILE_ATTRIBUTES);
}

BOOL WINAPI SetFileAttributesW(LPCWSTR name, DWORD attributes)
{
    u16 path = FromWide(name);
    if (auto err = Enter("SetFileAttributesW", path, "", Hex(attributes)))
        return Failed(*err);
    std::vector<u16> c;
    FileEntry *e = ProcessPath(path, c) ? Lookup(c) : nullptr;
    if (!e)
        return Failed(c.empty() ? ERROR_PATH_NOT_FOUND : MissingError(c));
    /* Only these can be set; the others are the file system's. */
    const DWORD settable = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                           FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE;
    e->attributes = (e->attributes & ~settable) | (attributes & settable);
    return TRUE;
}

/* "GetDriveTypeW": a root that names no volume is DRIVE_NO_ROOT_DIR.
 * Stand-in: every drive is fixed, every share remote. */
UINT WINAPI GetDriveTypeW(LPCWSTR root)
{
    u16 path = FromWide(root);
    Enter("GetDriveTypeW", path);
    std::vector<u16> c;
    if (!NormalisePath(path, c) || !IsDriveRoot(c) || !FolderExists(c))
        return DRIVE_NO_ROOT_DIR;
    return c[0][0] == u'\\' ? DRIVE_REMOTE : DRIVE_FIXED;
}

/* A relative name is taken from the process's current folder.  Too small
 * a buffer: the size needed, terminator included. */
DWORD WINAPI GetFullPathNameW(LPCWSTR name, DWORD size, LPWSTR buf,
                              LPWSTR *filePart)
{
    u16 path = FromWide(name);
    if (auto err = Enter("GetFullPathNameW", path, "", std::to_string(size)))
        return Failed(*err, 0);
    /* "\x" names the current folder's drive; "x" and ".\x" the folder.
     * Stand-in: "C:x", relative to a drive's own current folder, is not
     * modelled. */
    const u16 &cwd = machine().currentFolder;
    const bool rooted = path.size() >= 2 && (path[1] == u':' || path.rfind(u"\\\\", 0) == 0);
    if (!rooted && !path.empty() && path[0] == u'\\')
        path = cwd.substr(0, 2) + path;
    else if (!rooted)
        path = cwd + u"\\" + path;
    std::vector<u16> c;
    if (path.empty() || !NormalisePath(path, c))
        return Failed(ERROR_INVALID_NAME, 0);
    const u16 full = JoinPath(c);
    if (full.size() >= size)
        return static_cast<DWORD>(full.size() + 1);
    std::copy(full.begin(), full.end(), buf);
    buf[full.size()] = 0;
    if (filePart)
        *filePart = buf + full.rfind(u'\\') + 1;
    return static_cast<DWORD>(full.size());
}

BOOL WINAPI GetVolumePathNameW(LPCWSTR name, LPWSTR buf, DWORD size)
{
    u16 path = FromWide(name);
    if (auto err = Enter("GetVolumePathNameW", path))
        return Failed(*err);
    /* Stand-in: no folder is a mount point of another volume. */
    std::vector<u16> c;
    if (!NormalisePath(path, c))
        return Failed(ERROR_INVALID_NAME);
    const u16 root = JoinPath({c[0]});
    if (root.size() >= size)
        return Failed(ERROR_FILENAME_EXCED_RANGE);
    std::copy(root.begin(), root.end(), buf);
    buf[root.size()] = 0;
    return TRUE;
}

/* Stand-in: only the file system's flags and name are told.  FAT keeps
 * no security ("File Security and Access Rights"), NTFS does. */
BOOL WINAPI GetVolumeInformationW(LPCWSTR root, LPWSTR, DWORD, LPDWORD,
                                  LPDWORD, LPDWORD flags, LPWSTR fsName,
                                  DWORD fsNameSize)
{
    u16 path = FromWide(root);
    if (auto err = Enter("GetVolumeInformationW", path))
        return Failed(*err);
    std::vector<u16> c;
    if (path.empty() || path.back() != u'\\' || !NormalisePath(path, c) ||
        !IsDriveRoot(c) || !FolderExists(c))
        return Failed(ERROR_INVALID_NAME);
    const bool fat = machine().fatVolumes.count(Upper(c[0])) != 0;
    if (flags)
        *flags = FILE_CASE_PRESERVED_NAMES | FILE_UNICODE_ON_DISK |
                 (fat ? 0 : FILE_PERSISTENT_ACLS);
    const u16 name = fat ? u"FAT32" : u"NTFS";
    if (fsName && fsNameSize > name.size()) {
        std::copy(name.begin(), name.end(), fsName);
        fsName[name.size()] = 0;
    }
    return TRUE;
}

/* Vista on.  Stand-in: only the device form (PROCESS_NAME_NATIVE) of the
 * process's own image is modelled; a local disk's is HarddiskVolume3. */
static BOOL WINAPI HostQueryFullProcessImageNameW(HANDLE process, DWORD flags,
                                                 LPWSTR name, PDWORD size)
{
    if (auto err = Enter("QueryFullProcessImageNameW", u16(), "", Hex(flags)))
        return Failed(*err);
    const u16 &module = machine().modulePath;
    const u16 native = !machine().nativeImagePath.empty()
                           ? machine().nativeImagePath
                           : u"\\Device\\HarddiskVolume3" + module.substr(2);
    if (process != GetCurrentProcess() || flags != PROCESS_NAME_NATIVE)
        return Failed(ERROR_INVALID_PARAMETER);
    if (*size <= native.size())
        return Failed(ERROR_INSUFFICIENT_BUFFER);
    std::copy(native.begin(), native.end(), name);
    name[native.size()] = 0;
    *size = static_cast<DWORD>(native.size());
    return TRUE;
}

/* Wow64DisableWow64FsRedirection (XP x64 on): the thread's redirector off
 * until Wow64RevertWow64FsRedirection; on 32-bit Windows it fails. */
static BOOL WINAPI HostWow64DisableWow64FsRedirection(PVOID *old)
{
    if (auto err = Enter("Wow64DisableWow64FsRedirection"))
        return Failed(*err);
    if (!machine().is64Bit)
        return Failed(ERROR_INVALID_FUNCTION);
    *old = reinterpret_cast<PVOID>(static_cast<uintptr_t>(machine().fsRedirectionOff));
    machine().fsRedirectionOff = true;
    return TRUE;
}

static BOOL WINAPI HostWow64RevertWow64FsRedirection(PVOID old)
{
    if (auto err = Enter("Wow64RevertWow64FsRedirection"))
        return Failed(*err);
    machine().fsRedirectionOff = old != nullptr;
    return TRUE;
}

void WINAPI GetLocalTime(LPSYSTEMTIME now)
{
    Enter("GetLocalTime");
    *now = machine().localTime;
}

LPWSTR WINAPI GetCommandLineW(void)
{
    Enter("GetCommandLineW");
    /* The process's own copy, the same for every call. */
    static u16 line;
    line = machine().commandLine;
    return line.data();
}

BOOL WINAPI CloseHandle(HANDLE h)
{
    uintptr_t v = reinterpret_cast<uintptr_t>(h);
    HandleObject *file = LookupHandle(v, HandleKind::File);
    Enter("CloseHandle", file ? file->path : u16());
    if (CloseHandleOf(v, HandleKind::File) ||
        CloseHandleOf(v, HandleKind::Token) ||
        CloseHandleOf(v, HandleKind::Pipe) ||
        CloseHandleOf(v, HandleKind::Process) ||
        CloseHandleOf(v, HandleKind::Thread))
        return TRUE;
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
}

HANDLE WINAPI GetCurrentProcess(void)
{
    Enter("GetCurrentProcess");
    return reinterpret_cast<HANDLE>(static_cast<intptr_t>(-1));
}

/* The one process the stand-in runs. */
static const DWORD kProcessId = 0x1F4C;

DWORD WINAPI GetCurrentProcessId(void)
{
    Enter("GetCurrentProcessId");
    return kProcessId;
}

BOOL WINAPI ProcessIdToSessionId(DWORD pid, DWORD *session)
{
    if (auto err = Enter("ProcessIdToSessionId", u16(), "",
                         std::to_string(pid))) {
        SetLastError(*err);
        return FALSE;
    }
    /* Stand-in: no other process exists to be asked about. */
    if (pid != kProcessId || session == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    *session = machine().sessionId;
    return TRUE;
}

void WINAPI Sleep(DWORD ms)
{
    Enter("Sleep", u16(), "", std::to_string(ms));
    /* Stand-in: no time passes but what the installer sleeps; another
     * process's open that was to end meanwhile ends. */
    machine().sleptMs += ms;
    for (auto &[key, e] : machine().files) {
        if (e.heldForMs != 0 && machine().sleptMs >= e.heldForMs) {
            e.heldOpen = false;
            e.heldAccess = e.heldShare = e.heldForMs = 0;
        }
    }
}

LSTATUS WINAPI HostRegDeleteKeyExW(HKEY, LPCWSTR, REGSAM, DWORD);
BOOL WINAPI HostSetupUninstallOEMInfW(PCWSTR, DWORD, PVOID);
BOOL WINAPI HostSetupSetNonInteractiveMode(BOOL);
void WINAPIV HostSetupWriteTextLog(DWORDLONG, DWORD, DWORD, LPCSTR, ...);

/* x86 code runs under WOW64 on a 64-bit machine; IsWow64Process2 came
 * with Windows 10 1511. */
static BOOL WINAPI HostIsWow64Process(HANDLE process, BOOL *wow64)
{
    Enter("IsWow64Process");
    (void)process;
    /* x86 code emulated on ARM64 is told FALSE (IsWow64Process). */
    *wow64 = machine().is64Bit && !machine().arm64;
    return TRUE;
}

static BOOL WINAPI HostIsWow64Process2(HANDLE process, USHORT *own, USHORT *native)
{
    Enter("IsWow64Process2");
    (void)process;
    *own = machine().is64Bit ? IMAGE_FILE_MACHINE_I386 : IMAGE_FILE_MACHINE_UNKNOWN;
    *native = !machine().is64Bit ? IMAGE_FILE_MACHINE_I386
              : machine().arm64  ? IMAGE_FILE_MACHINE_ARM64
                                 : IMAGE_FILE_MACHINE_AMD64;
    return TRUE;
}
BOOL WINAPI HostSetupCopyOEMInfW(PCWSTR, PCWSTR, DWORD, DWORD, PWSTR, DWORD,
                                 PDWORD, PZPWSTR);
BOOL WINAPI HostSetupGetInfDriverStoreLocationW(PCWSTR, PVOID, PCWSTR, PWSTR,
                                                DWORD, PDWORD);
HINF WINAPI HostSetupOpenInfFileW(PCWSTR, PCWSTR, DWORD, PUINT);
void WINAPI HostSetupCloseInfFile(HINF);
BOOL WINAPI HostSetupFindFirstLineW(HINF, PCWSTR, PCWSTR, PINFCONTEXT);
BOOL WINAPI HostSetupFindNextLine(PINFCONTEXT, PINFCONTEXT);
BOOL WINAPI HostSetupGetStringFieldW(PINFCONTEXT, DWORD, PWSTR, DWORD, PDWORD);

namespace {

/* The DLLs the system folder holds for the installer's lookups by name. */
const char16_t *const kSystemDlls[] = {u"ADVAPI32.DLL", u"SETUPAPI.DLL",
                                       u"CFGMGR32.DLL", u"NTMARTA.DLL"};

/* Windows' known DLLs among them: always the system's copy, whatever the
 * search order.  Stand-in: setupapi is left out, as on XP (later
 * versions list it), so that a planted copy shows wherever the search
 * would find one. */
const char16_t *const kKnownDlls[] = {u"ADVAPI32.DLL"};

bool Listed(const u16 &upperName, const char16_t *const *list, size_t n)
{
    for (size_t i = 0; i < n; i++)
        if (upperName == list[i])
            return true;
    return false;
}

HMODULE LoadedModule(const u16 &path)
{
    machine().loadedLibraries++;
    machine().loadedModules.push_back(path);
    return reinterpret_cast<HMODULE>(NewHandle({HandleKind::Module, path}));
}

} // namespace

HMODULE WINAPI GetModuleHandleW(LPCWSTR name)
{
    u16 module = FromWide(name);
    if (auto err = Enter("GetModuleHandleW", module)) {
        SetLastError(*err);
        return NULL;
    }
    /* Stand-in: kernel32 is the one module asked for by name; the
     * handle does not count as a load. */
    if (!EqualNoCase(module, u"kernel32.dll") &&
        !EqualNoCase(module, u"kernel32")) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return NULL;
    }
    if (machine().kernel32Module == 0)
        machine().kernel32Module = NewHandle(
            {HandleKind::Module, machine().systemFolder + u"\\KERNEL32.DLL"});
    return reinterpret_cast<HMODULE>(machine().kernel32Module);
}

BOOL WINAPI HostSetDefaultDllDirectories(DWORD flags)
{
    if (auto err = Enter("SetDefaultDllDirectories", u16(), "", Hex(flags))) {
        SetLastError(*err);
        return FALSE;
    }
    const DWORD valid = LOAD_LIBRARY_SEARCH_APPLICATION_DIR |
                        LOAD_LIBRARY_SEARCH_USER_DIRS |
                        LOAD_LIBRARY_SEARCH_SYSTEM32 |
                        LOAD_LIBRARY_SEARCH_DEFAULT_DIRS;
    if (flags == 0 || (flags & ~valid) != 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    machine().defaultDllDirectories = flags;
    return TRUE;
}

BOOL WINAPI HostSetDllDirectoryW(LPCWSTR path)
{
    u16 folder = FromWide(path);
    if (auto err = Enter("SetDllDirectoryW", folder)) {
        SetLastError(*err);
        return FALSE;
    }
    /* Stand-in: only the empty folder (the current folder taken out of
     * the search) is modelled; the current folder is never searched. */
    machine().dllDirectorySet = path != nullptr;
    return TRUE;
}

CONFIGRET WINAPI HostCM_Locate_DevNodeW(PDEVINST, DEVINSTID_W, ULONG);
CONFIGRET WINAPI HostCM_Uninstall_DevNode(DEVNODE, ULONG);

HMODULE WINAPI LoadLibraryExW(LPCWSTR name, HANDLE handle, DWORD flags)
{
    u16 lib = FromWide(name);
    if (auto err = Enter("LoadLibraryExW", lib, "", "flags=" + Hex(flags))) {
        SetLastError(*err);
        return NULL;
    }
    /* LOAD_WITH_ALTERED_SEARCH_PATH (undefined for a relative name) has
     * the DLL's imports looked for in its folder first.  Stand-in: other
     * flags are refused, and imports are not modelled. */
    if (handle != NULL || (flags & ~DWORD{LOAD_WITH_ALTERED_SEARCH_PATH}) ||
        (flags && lib.find(u'\\') == u16::npos)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return NULL;
    }
    u16 file = Upper(lib);
    /* By full path: only the system folder's own DLLs are there.
     * Stand-in: no other folder holds a DLL a full path could name. */
    const size_t slash = file.rfind(u'\\');
    if (slash != u16::npos) {
        file = file.substr(slash + 1);
        if (!EqualNoCase(lib.substr(0, slash), machine().systemFolder) ||
            !Listed(file, kSystemDlls, std::size(kSystemDlls)) ||
            (file == u"CFGMGR32.DLL" && !machine().hasCfgMgr32)) {
            SetLastError(ERROR_MOD_NOT_FOUND);
            return NULL;
        }
        return LoadedModule(machine().systemFolder + u"\\" + file);
    }
    if (file.empty() || file.find(u'/') != u16::npos) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return NULL;
    }
    /* A name without an extension gets ".DLL", as on Windows. */
    if (file.find(u'.') == u16::npos)
        file += u".DLL";
    const u16 system = machine().systemFolder + u"\\" + file;
    if (Listed(file, kKnownDlls, std::size(kKnownDlls)))
        return LoadedModule(system);
    /* Windows' order: the application's folder, then the system folder
     * (then the Windows folder, the current folder unless
     * SetDllDirectoryW took it out, and PATH).  Restricted by
     * SetDefaultDllDirectories, only what its flags name.  Stand-in: the
     * search ends after the system folder, nothing of ours lies further;
     * and the executable's own imports, which Windows maps at start
     * (setupapi among them), are not modelled, so every load searches.
     * Wine differs: for a planted name it loads its builtin DLL. */
    DWORD restricted = machine().defaultDllDirectories;
    if (restricted == 0 ||
        (restricted & (LOAD_LIBRARY_SEARCH_APPLICATION_DIR |
                       LOAD_LIBRARY_SEARCH_DEFAULT_DIRS))) {
        const u16 &exe = machine().modulePath;
        const u16 beside = exe.substr(0, exe.rfind(u'\\') + 1) + file;
        const FileEntry *planted = FindFile(beside);
        if (planted && !planted->dir)
            return LoadedModule(beside);
    }
    /* Stand-in: a machine may lack cfgmgr32 (XP keeps the functions in
     * setupapi). */
    if (Listed(file, kSystemDlls, std::size(kSystemDlls)) &&
        (file != u"CFGMGR32.DLL" || machine().hasCfgMgr32))
        return LoadedModule(system);
    SetLastError(ERROR_MOD_NOT_FOUND);
    return NULL;
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
    /* Only the system's copies export anything: a planted DLL did its
     * harm when it was loaded. */
    const u16 &system = machine().systemFolder;
    u16 path = Upper(m->path);
    if (path.rfind(Upper(system) + u"\\", 0) == 0) {
        u16 file = path.substr(system.size() + 1);
        if (file == u"ADVAPI32.DLL" && proc == "RegDeleteKeyExW" &&
            machine().hasRegDeleteKeyEx)
            return reinterpret_cast<FARPROC>(&HostRegDeleteKeyExW);
        if (file == u"SETUPAPI.DLL" && proc == "SetupUninstallOEMInfW" &&
            machine().hasSetupUninstallOEMInf)
            return reinterpret_cast<FARPROC>(&HostSetupUninstallOEMInfW);
        if (file == u"SETUPAPI.DLL" && proc == "SetupSetNonInteractiveMode")
            return reinterpret_cast<FARPROC>(&HostSetupSetNonInteractiveMode);
        if (file == u"SETUPAPI.DLL" && proc == "SetupWriteTextLog" &&
            machine().osMajor >= 6)
            return reinterpret_cast<FARPROC>(&HostSetupWriteTextLog);
        if (file == u"KERNEL32.DLL" && proc == "QueryFullProcessImageNameW" &&
            machine().osMajor >= 6)
            return reinterpret_cast<FARPROC>(&HostQueryFullProcessImageNameW);
        if (file == u"KERNEL32.DLL" && proc == "Wow64DisableWow64FsRedirection")
            return reinterpret_cast<FARPROC>(&HostWow64DisableWow64FsRedirection);
        if (file == u"KERNEL32.DLL" && proc == "Wow64RevertWow64FsRedirection")
            return reinterpret_cast<FARPROC>(&HostWow64RevertWow64FsRedirection);
        if (file == u"KERNEL32.DLL" && proc == "IsWow64Process")
            return reinterpret_cast<FARPROC>(&HostIsWow64Process);
        if (file == u"KERNEL32.DLL" && proc == "IsWow64Process2" &&
            machine().osMajor >= 10)
            return reinterpret_cast<FARPROC>(&HostIsWow64Process2);
        if (file == u"SETUPAPI.DLL" && proc == "SetupCopyOEMInfW")
            return reinterpret_cast<FARPROC>(&HostSetupCopyOEMInfW);
        static const struct {
            const char *name;
            FARPROC address;
        } kInfReading[] = {
            {"SetupOpenInfFileW", reinterpret_cast<FARPROC>(&HostSetupOpenInfFileW)},
            {"SetupCloseInfFile", reinterpret_cast<FARPROC>(&HostSetupCloseInfFile)},
            {"SetupFindFirstLineW", reinterpret_cast<FARPROC>(&HostSetupFindFirstLineW)},
            {"SetupFindNextLine", reinterpret_cast<FARPROC>(&HostSetupFindNextLine)},
            {"SetupGetStringFieldW", reinterpret_cast<FARPROC>(&HostSetupGetStringFieldW)},
        };
        for (const auto &f : kInfReading) {
            if (file == u"SETUPAPI.DLL" && proc == f.name)
                return f.address;
        }
        if (file == u"SETUPAPI.DLL" && /* the driver store is Vista's */
            proc == "SetupGetInfDriverStoreLocationW" && machine().osMajor >= 6)
            return reinterpret_cast<FARPROC>(
                &HostSetupGetInfDriverStoreLocationW);
        if (file == u"KERNEL32.DLL" && proc == "SetDefaultDllDirectories" &&
            machine().hasSetDefaultDllDirectories)
            return reinterpret_cast<FARPROC>(&HostSetDefaultDllDirectories);
        if (file == u"KERNEL32.DLL" && proc == "SetDllDirectoryW" &&
            machine().hasSetDllDirectory)
            return reinterpret_cast<FARPROC>(&HostSetDllDirectoryW);
        if (file == u"KERNEL32.DLL" && machine().osMajor >= 6 &&
            ProcessProc(proc)) /* the attribute list's, Vista's */
            return ProcessProc(proc);
        if (file == u"KERNEL32.DLL" && machine().osMajor >= 6 &&
            proc == "GetFileInformationByHandleEx")
            return reinterpret_cast<FARPROC>(&HostGetFileInformationByHandleEx);
        /* cfgmgr32 forwards these to setupapi, which exports them
         * itself. */
        if (file == u"CFGMGR32.DLL" ||
            (file == u"SETUPAPI.DLL" && machine().setupapiHasConfigManager)) {
            if (proc == "CM_Locate_DevNodeW")
                return reinterpret_cast<FARPROC>(&HostCM_Locate_DevNodeW);
            if (proc == "CM_Uninstall_DevNode")
                return reinterpret_cast<FARPROC>(&HostCM_Uninstall_DevNode);
        }
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

} // extern "C"
