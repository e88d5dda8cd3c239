/* Shared internals of the stand-in's modules; not for tests. */
#ifndef QX_HOST_INTERNAL_H
#define QX_HOST_INTERNAL_H

#include <optional>
#include <string>
#include <vector>

#include "host/machine.h"

namespace winhost {

/* Records a call and tells whether an injected failure applies to it. */
std::optional<DWORD> Enter(const char *fn, const u16 &object = u16(),
                           const std::string &view = std::string(),
                           const std::string &detail = std::string());

/* Set while a child process the stand-in runs makes its calls, which are
 * then neither recorded nor made to fail: they are not the installer's. */
extern bool g_otherProcess;

/* Sets the last error and returns result, as a failing call does. */
template <typename Result = BOOL>
Result Failed(DWORD error, Result result = FALSE)
{
    SetLastError(error);
    return result;
}

u16 Upper(const u16 &text);
bool EqualNoCase(const u16 &a, const u16 &b);
u16 FromWide(LPCWSTR text); /* empty for NULL */
std::string Hex(uint64_t value);

/* Win32 path normalisation: '/' is '\', "." and ".." are resolved, empty
 * components dropped, trailing dots and spaces of a component removed.
 * Returns false for a path that is not absolute (X:\...). */
bool NormalisePath(const u16 &path, std::vector<u16> &components);
u16 JoinPath(const std::vector<u16> &components);

/* NormalisePath of a path the installer's 32-bit process names, then
 * where the file-system redirector sends it on 64-bit Windows. */
bool ProcessPath(const u16 &path, std::vector<u16> &components);

FILETIME Now();

/* Handle table shared by files, searches, tokens, keys, modules, INFs,
 * pipes, processes and threads. */
enum class HandleKind { File, Find, Token, Key, Module, Inf, Pipe, Process, Thread };
struct HandleObject {
    HandleKind kind;
    u16 path; /* file path, real key path or module name */
    std::vector<u16> entries; /* search: upper-case paths; "." ".." kept */
    size_t position = 0;      /* file read offset or search index */
    DWORD access = 0;
    std::vector<WIN32_FIND_DATAW> found;
    DWORD share = 0; /* file: the FILE_SHARE_* flags it was opened with */
    DWORD disposition = 0; /* file: CreateFileW's creation disposition */
    bool inherit = false; /* HANDLE_FLAG_INHERIT */
    std::string data;     /* pipe read end: what it holds */
    uintptr_t peer = 0;   /* pipe write end: its read end */
    DWORD exitCode = 0;   /* process: STILL_ACTIVE while it runs */
};
uintptr_t NewHandle(HandleObject object);
HandleObject *LookupHandle(uintptr_t value, HandleKind kind);
bool CloseHandleOf(uintptr_t value, HandleKind kind);
void ClearHandles();
/* The open handles of one kind. */
std::vector<const HandleObject *> HandlesOf(HandleKind kind);

/* kernel32's process functions for GetProcAddress (nullptr for another
 * name), and ReadFile of a pipe's read end (process.cpp). */
FARPROC ProcessProc(const std::string &name);
BOOL ReadPipe(uintptr_t value, LPVOID buffer, DWORD toRead, LPDWORD read);

/* The DACL of a descriptor the stand-in made, in the canonical SDDL form
 * FileEntry::dacl holds; false for one it did not make. */
bool DaclOfDescriptor(const void *descriptor, u16 &dacl);

/* A binary SID as text ("S-1-5-32-544"); false for one that is not
 * well formed. */
bool SidText(const void *sid, u16 &text);

/* A SID's text as binary; empty for text that is not "S-1-..." numbers. */
std::vector<unsigned char> SidBytes(const u16 &text);

/* The owner a descriptor the stand-in made names ("S-1-..."), empty when
 * it names none. */
u16 OwnerOfDescriptor(const void *descriptor);

/* Whether the process's token holds sid, and whether it may name sid as
 * the owner of an object (its user, or Administrators when it holds the
 * group, which the token then marks SE_GROUP_OWNER). */
bool TokenHolds(const u16 &sid);
bool TokenMayOwn(const u16 &sid);

/* Whether dacl (FileEntry::dacl's form; empty: none) grants the token
 * every right of access, generic rights mapped as for files. */
bool DaclGrants(const u16 &dacl, DWORD access);

} // namespace winhost

#endif
