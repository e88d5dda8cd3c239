#include "app/runlock.h"

#include "platform/security.h"
#include "platform/wtext.h"

BOOL RunProgramFilesPath(LPWSTR path, LPCWSTR below)
{
    TextZero(path, MAX_PATH);
    /* Not created when missing: a machine without it has no staging
     * folder either. */
    return SHGetSpecialFolderPathW(NULL, path, CSIDL_PROGRAM_FILES, FALSE) &&
           TextAppend(path, MAX_PATH, below);
}

/* The owners a run's lock file may have besides the run's own account:
 * accounts only an elevated run holds. */
static const WELL_KNOWN_SID_TYPE kRunOwners[] = {
    WinBuiltinAdministratorsSid,
    WinLocalSystemSid,
};

/* TOKEN_USER with room for the SID it points to. */
typedef union TOKEN_USER_BUFFER {
    TOKEN_USER user;
    BYTE bytes[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
} TOKEN_USER_BUFFER;

/* TRUE when sid is the user of the run's own token (XP's default
 * "object creator" ownership; Wine reports every file as the running
 * user's).  FALSE when it is not, or the token cannot be read. */
static BOOL IsRunAccount(PSID sid)
{
    HANDLE token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return FALSE;
    TOKEN_USER_BUFFER info;
    DWORD cb = 0;
    BOOL same = GetTokenInformation(token, TokenUser, &info, sizeof(info),
                                    &cb) &&
                EqualSid(sid, info.user.User.Sid);
    CloseHandle(token);
    return same;
}

/* TRUE when the lock file at path may be waited on: a run made it.  A
 * file of any other owner is someone else's, who could hold it for ever;
 * a descriptor without an owner (a volume that keeps none) tells nobody
 * apart, so it is waited on as before.  FALSE too when the owner cannot
 * be read. */
static BOOL MadeByARun(LPCWSTR path)
{
    PSID owner = NULL;
    PSECURITY_DESCRIPTOR sd = NULL;
    if (GetNamedSecurityInfoW(path, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION,
                              &owner, NULL, NULL, NULL, &sd) != ERROR_SUCCESS)
        return FALSE;
    BOOL made = owner == NULL;
    for (DWORD i = 0; !made && i < ARRAYSIZE(kRunOwners); i++) {
        BYTE known[SECURITY_MAX_SID_SIZE];
        DWORD cb = sizeof(known);
        made = CreateWellKnownSid(kRunOwners[i], NULL, known, &cb) &&
               EqualSid(owner, known);
    }
    if (!made)
        made = IsRunAccount(owner);
    LocalFree(sd);
    return made;
}

/* FALSE when the volume path lies on keeps no security, as FAT32 does (no
 * FILE_PERSISTENT_ACLS): no owner then tells whose the file is (Windows
 * keeps none; ReactOS reports Everyone), and only the share mode keeps
 * the runs apart.  TRUE otherwise, also when either query fails. */
static BOOL VolumeKeepsOwners(LPCWSTR path)
{
    WCHAR root[MAX_PATH];
    TextZero(root, ARRAYSIZE(root));
    DWORD flags = 0;
    if (!GetVolumePathNameW(path, root, ARRAYSIZE(root)) ||
        !GetVolumeInformationW(root, NULL, 0, NULL, NULL, &flags, NULL, 0))
        return TRUE;
    return (flags & FILE_PERSISTENT_ACLS) != 0;
}

/* Opens the lock file at path until it opens, another failure than a
 * sharing violation, someone else's file, or maxWaitMs of waiting. */
static RUN_LOCK_RESULT OpenLockFile(LPCWSTR path, SECURITY_ATTRIBUTES *sa,
                                    DWORD maxWaitMs)
{
    DWORD waitedMs = 0;
    for (BOOL ownerChecked = FALSE;; ownerChecked = TRUE) {
        /* Share modes are checked only against opens that ask for data,
         * so GENERIC_READ.  An existing file opens with
         * ERROR_ALREADY_EXISTS, and keeps the descriptor it was made
         * with.  The handle is never closed: the process's end closes
         * it, also when the run is killed or crashes. */
        HANDLE lock = CreateFileW(path, GENERIC_READ, 0, sa, OPEN_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, NULL);
        if (lock != INVALID_HANDLE_VALUE)
            return RUN_LOCK_HELD;
        if (GetLastError() != ERROR_SHARING_VIOLATION ||
            (!ownerChecked && VolumeKeepsOwners(path) && !MadeByARun(path)))
            return RUN_LOCK_UNLOCKED;
        if (maxWaitMs != INFINITE && waitedMs >= maxWaitMs)
            return RUN_LOCK_BUSY;
        DWORD sleepMs = RUN_LOCK_RETRY_MS;
        if (maxWaitMs != INFINITE && maxWaitMs - waitedMs < sleepMs)
            sleepMs = maxWaitMs - waitedMs;
        Sleep(sleepMs);
        /* Counted only against a limit: without one it may wrap. */
        waitedMs += sleepMs;
    }
}

RUN_LOCK_RESULT RunLockTake(DWORD maxWaitMs)
{
    WCHAR path[MAX_PATH];
    if (!RunProgramFilesPath(path, RUN_VENDOR_FOLDER))
        return RUN_LOCK_UNLOCKED;
    /* A folder made here inherits Program Files' permissions: from Vista
     * on, on NTFS, only administrators and SYSTEM may create in it.
     * "Exists" is documented both as ERROR_ALREADY_EXISTS and as
     * ERROR_FILE_EXISTS. */
    int made = SHCreateDirectoryExW(NULL, path, NULL);
    if ((made != ERROR_SUCCESS && made != ERROR_ALREADY_EXISTS &&
         made != ERROR_FILE_EXISTS) ||
        !TextAppend(path, MAX_PATH, RUN_LOCK_FILE_NAME))
        return RUN_LOCK_UNLOCKED;
    SECURITY_ATTRIBUTES sa;
    if (!SecurityAttributesFromSddl(RUN_LOCK_SDDL, &sa))
        return RUN_LOCK_UNLOCKED;
    RUN_LOCK_RESULT result = OpenLockFile(path, &sa, maxWaitMs);
    LocalFree(sa.lpSecurityDescriptor);
    return result;
}
