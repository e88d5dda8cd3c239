#include "staging/uninstall_entry.h"

#include "platform/runlog.h"
#include "platform/security.h"
#include "platform/system_dll.h"
#include "platform/wtext.h"

/* Bytes read from the image and the copy at a time. */
#define COPY_CHUNK_CB 4096
/* The copy written beside the one it replaces, then renamed over it. */
#define COPY_NEW_SUFFIX TEXT(".new")
/* A command: the copy's path in quotes and the switches. */
#define ENTRY_TEXT_CCH (MAX_PATH + 32)
/* Names a running copy is set aside under, tried in turn. */
#define COPY_ASIDE_TRIES 8

/* Reads from the start of file: a copy is made from the image's own
 * handle, never by its path, which a user who owns its folder could
 * point at another file meanwhile. */
static BOOL Rewind(HANDLE file)
{
    return SetFilePointer(file, 0, NULL, FILE_BEGIN) != INVALID_SET_FILE_POINTER;
}

/* TRUE when the file copy holds what image holds, byte for byte. */
static BOOL SameContent(HANDLE image, LPCWSTR copy)
{
    HANDLE file = CreateFileW(copy, GENERIC_READ, FILE_SHARE_READ, NULL,
                              OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return FALSE;
    BY_HANDLE_FILE_INFORMATION a, b;
    BOOL same = GetFileInformationByHandle(image, &a) &&
                GetFileInformationByHandle(file, &b) &&
                a.nFileSizeHigh == b.nFileSizeHigh &&
                a.nFileSizeLow == b.nFileSizeLow && Rewind(image);
    BYTE ours[COPY_CHUNK_CB], theirs[COPY_CHUNK_CB];
    for (DWORD readA = 1; same && readA != 0;) {
        DWORD readB = 0;
        same = ReadFile(image, ours, sizeof(ours), &readA, NULL) &&
               ReadFile(file, theirs, sizeof(theirs), &readB, NULL) &&
               readA == readB;
        for (DWORD i = 0; same && i < readA; i++)
            same = ours[i] == theirs[i];
    }
    CloseHandle(file);
    return same;
}

/* Writes what image holds into the new file at path, with the copy's
 * DACL.  FALSE: not written whole (what was written is deleted). */
static BOOL WriteFresh(HANDLE image, LPCWSTR path)
{
    SECURITY_ATTRIBUTES sa;
    if (!SecurityAttributesFromSddl(INSTALLED_COPY_SDDL, &sa))
        return FALSE;
    /* A file left by a run that was killed would keep its own security:
     * it goes first, so that the new one gets ours. */
    DeleteFileW(path);
    HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, &sa, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, NULL);
    LocalFree(sa.lpSecurityDescriptor);
    if (file == INVALID_HANDLE_VALUE)
        return FALSE;
    BYTE chunk[COPY_CHUNK_CB];
    BOOL written = Rewind(image);
    for (DWORD read = 1; written && read != 0;) {
        DWORD put = 0;
        written = ReadFile(image, chunk, sizeof(chunk), &read, NULL) &&
                  (read == 0 || (WriteFile(file, chunk, read, &put, NULL) &&
                                 put == read));
    }
    written = CloseHandle(file) && written;
    if (!written)
        DeleteFileW(path);
    return written;
}

BOOL InstalledCopyWrite(HANDLE image, LPCWSTR copy)
{
    if (SameContent(image, copy)) {
        RunLog(TEXT("Installed copy %s: already this installer"), copy);
        return TRUE;
    }
    WCHAR fresh[MAX_PATH];
    const LPCWSTR parts[] = {copy, COPY_NEW_SUFFIX};
    if (!TextJoin(fresh, ARRAYSIZE(fresh), parts, ARRAYSIZE(parts)) ||
        !WriteFresh(image, fresh)) {
        RunLog(TEXT("Installed copy %s not written: error %u"), copy,
               GetLastError());
        return FALSE;
    }
    if (!MoveFileExW(fresh, copy, MOVEFILE_REPLACE_EXISTING)) {
        RunLog(TEXT("Installed copy %s not replaced: error %u"), copy,
               GetLastError());
        DeleteFileW(fresh);
        return FALSE;
    }
    RunLog(TEXT("Installed copy %s written"), copy);
    return TRUE;
}

typedef enum ENTRY_FIELD {
    ENTRY_DISPLAY_NAME,
    ENTRY_VERSION,
    ENTRY_PUBLISHER,
    ENTRY_UNINSTALL,
    ENTRY_QUIET_UNINSTALL,
    ENTRY_ICON,
    ENTRY_LOCATION,
    ENTRY_DATE,
    ENTRY_SIZE,
    ENTRY_ONE
} ENTRY_FIELD;

/* The entry's values, as Apps & features and deployment tools read them. */
static const struct {
    LPCWSTR name;
    DWORD type;
    ENTRY_FIELD field;
} kEntryValues[] = {
    {TEXT("DisplayName"), REG_SZ, ENTRY_DISPLAY_NAME},
    {TEXT("DisplayVersion"), REG_SZ, ENTRY_VERSION},
    {TEXT("Publisher"), REG_SZ, ENTRY_PUBLISHER},
    {TEXT("UninstallString"), REG_SZ, ENTRY_UNINSTALL},
    {TEXT("QuietUninstallString"), REG_SZ, ENTRY_QUIET_UNINSTALL},
    {TEXT("DisplayIcon"), REG_SZ, ENTRY_ICON},
    {TEXT("InstallLocation"), REG_SZ, ENTRY_LOCATION},
    {TEXT("InstallDate"), REG_SZ, ENTRY_DATE},
    {TEXT("EstimatedSize"), REG_DWORD, ENTRY_SIZE},
    {TEXT("NoModify"), REG_DWORD, ENTRY_ONE},
    {TEXT("NoRepair"), REG_DWORD, ENTRY_ONE},
};

/* field's text (ENTRY_TEXT_CCH units, empty where it is left out) or
 * number.  FALSE: the text would not fit. */
static BOOL EntryValue(ENTRY_FIELD field, const UNINSTALL_ENTRY *entry,
                       LPWSTR text, DWORD *number)
{
    TextZero(text, ENTRY_TEXT_CCH);
    LPCWSTR parts[] = {TEXT("\""), entry->copy, TEXT("\" /uninstall"),
                       TEXT(" /quiet")};
    SYSTEMTIME now;
    switch (field) {
    case ENTRY_DISPLAY_NAME:
        return TextCopy(text, ENTRY_TEXT_CCH, entry->displayName);
    case ENTRY_VERSION:
        return entry->version == NULL ||
               TextCopy(text, ENTRY_TEXT_CCH, entry->version);
    case ENTRY_PUBLISHER:
        return entry->publisher == NULL ||
               TextCopy(text, ENTRY_TEXT_CCH, entry->publisher);
    case ENTRY_UNINSTALL:
        return TextJoin(text, ENTRY_TEXT_CCH, parts, 3);
    case ENTRY_QUIET_UNINSTALL:
        return TextJoin(text, ENTRY_TEXT_CCH, parts, 4);
    case ENTRY_ICON:
        parts[0] = entry->copy;
        parts[1] = TEXT(",0");
        return TextJoin(text, ENTRY_TEXT_CCH, parts, 2);
    case ENTRY_LOCATION:
        return TextCopy(text, ENTRY_TEXT_CCH, entry->stagingFolder);
    case ENTRY_DATE:
        GetLocalTime(&now);
        /* yyyymmdd, as the number it reads as. */
        wsprintfW(text, TEXT("%u"),
                  (UINT)(now.wYear * 10000 + now.wMonth * 100 + now.wDay));
        return TRUE;
    case ENTRY_SIZE:
        *number = entry->sizeKb;
        return TRUE;
    case ENTRY_ONE:
        *number = 1;
        return TRUE;
    }
    return FALSE;
}

BOOL UninstallEntryWrite(const UNINSTALL_ENTRY *entry)
{
    HKEY key;
    LSTATUS status = RegCreateKeyExW(HKEY_LOCAL_MACHINE, UNINSTALL_ENTRY_KEY,
                                     0, NULL, REG_OPTION_NON_VOLATILE,
                                     KEY_SET_VALUE | KEY_WOW64_32KEY, NULL,
                                     &key, NULL);
    if (status != ERROR_SUCCESS) {
        RunLog(TEXT("Apps & features entry not written: error %u"),
               (DWORD)status);
        return FALSE;
    }
    BOOL all = TRUE;
    for (DWORD i = 0; i < ARRAYSIZE(kEntryValues); i++) {
        WCHAR text[ENTRY_TEXT_CCH];
        DWORD number = 0;
        if (!EntryValue(kEntryValues[i].field, entry, text, &number)) {
            all = FALSE;
            continue;
        }
        LPCWSTR name = kEntryValues[i].name;
        if (kEntryValues[i].type == REG_DWORD)
            status = RegSetValueExW(key, name, 0, REG_DWORD,
                                    (const BYTE *)&number, sizeof(number));
        else if (text[0] != 0)
            status = RegSetValueExW(
                key, name, 0, REG_SZ, (const BYTE *)text,
                (TextLength(text, ENTRY_TEXT_CCH) + 1) * sizeof(WCHAR));
        else /* an earlier package's version must not stay */
            RegDeleteValueW(key, name);
        all = all && status == ERROR_SUCCESS;
    }
    RegCloseKey(key);
    RunLog(all ? TEXT("Apps & features entry written: HKLM\\%s (32-bit view)")
               : TEXT("Apps & features entry HKLM\\%s not written whole"),
           UNINSTALL_ENTRY_KEY);
    return all;
}

BOOL UninstallEntryDelete(void)
{
    /* XP has no RegDeleteKeyExW; there a 32-bit process's RegDeleteKeyW
     * reaches the 32-bit view by itself. */
    FARPROC proc = SystemDllProc(TEXT("advapi32.dll"), "RegDeleteKeyExW");
    LSTATUS status =
        proc != NULL
            ? ((PFN_REG_DELETE_KEY_EX_W)(void (*)(void))proc)(
                  HKEY_LOCAL_MACHINE, UNINSTALL_ENTRY_KEY, KEY_WOW64_32KEY, 0)
            : RegDeleteKeyW(HKEY_LOCAL_MACHINE, UNINSTALL_ENTRY_KEY);
    if (status == ERROR_SUCCESS)
        RunLog(TEXT("Apps & features entry deleted"));
    else if (status != ERROR_FILE_NOT_FOUND)
        RunLog(TEXT("Apps & features entry not deleted: error %u"),
               (DWORD)status);
    return status == ERROR_SUCCESS;
}

COPY_END InstalledCopyDelete(LPCWSTR copy)
{
    if (DeleteFileW(copy)) {
        RunLog(TEXT("Deleted %s"), copy);
        return COPY_DELETED;
    }
    DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
        return COPY_ABSENT;
    /* Windows keeps the image of a running program: the uninstall's own,
     * when it was started from the entry.  A running image may be renamed
     * on its volume. */
    for (DWORD n = 0; n < COPY_ASIDE_TRIES; n++) {
        WCHAR aside[MAX_PATH];
        WCHAR tag[ENTRY_TEXT_CCH];
        TextZero(tag, ARRAYSIZE(tag));
        wsprintfW(tag, TEXT(".%u-%u.old"), (UINT)GetCurrentProcessId(), (UINT)n);
        const LPCWSTR parts[] = {copy, tag};
        if (!TextJoin(aside, ARRAYSIZE(aside), parts, ARRAYSIZE(parts)))
            break;
        if (MoveFileExW(copy, aside, 0)) {
            BOOL scheduled = MoveFileExW(aside, NULL, MOVEFILE_DELAY_UNTIL_REBOOT);
            RunLog(scheduled ? TEXT("%s is running: set aside as %s, which goes at "
                                    "the next restart")
                             : TEXT("%s is running: set aside as %s, which stays"),
                   copy, aside);
            return COPY_SET_ASIDE;
        }
        error = GetLastError();
        if (error != ERROR_ALREADY_EXISTS && error != ERROR_FILE_EXISTS)
            break;
    }
    RunLog(TEXT("Not deleted: %s: error %u"), copy, error);
    return COPY_STAYS;
}
