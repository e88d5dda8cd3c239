#include "removal/primitives.h"

#include "platform/pnputil.h"
#include "platform/registry.h"
#include "platform/runlog.h"
#include "platform/shell_list.h"
#include "platform/system_dll.h"
#include "platform/wtext.h"

/* Clear values collects this many names before it deletes any: deleting
 * while enumerating would shift the indexes still to be read. */
#define CLEAR_VALUES_SLOT_COUNT 30

BOOL EnablePrivilege(LPCWSTR name)
{
    HANDLE token;
    if (!OpenProcessToken(GetCurrentProcess(),
                          TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token))
        return TRUE;
    TOKEN_PRIVILEGES request;
    if (!LookupPrivilegeValueW(NULL, name, &request.Privileges[0].Luid)) {
        CloseHandle(token);
        return TRUE;
    }
    request.PrivilegeCount = 1;
    request.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    /* AdjustTokenPrivileges succeeds even for a privilege the token does
     * not hold; only the last error (ERROR_NOT_ALL_ASSIGNED) tells. */
    AdjustTokenPrivileges(token, FALSE, &request, 0, NULL, NULL);
    DWORD error = GetLastError();
    CloseHandle(token);
    return error == ERROR_SUCCESS;
}

void PrivilegeSequence(void)
{
    if (!EnablePrivilege(TEXT("SeBackupPrivilege")))
        return;
    EnablePrivilege(TEXT("SeRestorePrivilege"));
    EnablePrivilege(TEXT("SeDebugPrivilege"));
}

BOOL DeletePath(LPCWSTR path)
{
    /* ShellDelete refuses a path the shell list cannot hold whole, so a
     * long path is never cut into a shorter one that names something
     * else.  DE_INVALIDFILES is what Windows answers for a missing source
     * (Wine 8 answers ERROR_FILE_NOT_FOUND, which counts as a failure). */
    int result = ShellDelete(path, FOF_NOCONFIRMATION | FOF_NOERRORUI);
    if (result == ERROR_SUCCESS) {
        g_RemovalDeletions++;
        RunLog(TEXT("Deleted %s"), path);
    }
    else if (result != DE_INVALIDFILES && result != ERROR_FILE_NOT_FOUND &&
             result != ERROR_PATH_NOT_FOUND)
        RunLog(TEXT("Not deleted: %s (shell result %u)"), path, (DWORD)result);
    return result == ERROR_SUCCESS || result == DE_INVALIDFILES;
}

/* The 64-bit System32 as a 32-bit process names it from Vista on. */
#define SYSNATIVE_FOLDER TEXT("C:\\Windows\\Sysnative\\")

DWORD g_RemovalDeletions;

/* NOLINTNEXTLINE(bugprone-easily-swappable-parameters): as the run keeps them */
SYSTEM32_ACCESS System32Access(BOOL wow64, BOOL preVista)
{
    if (!wow64)
        return SYSTEM32_DIRECT;
    /* XP x64 and Server 2003 x64 have Sysnative only with a hotfix. */
    return preVista ? SYSTEM32_UNREDIRECTED : SYSTEM32_SYSNATIVE;
}

typedef BOOL (*FILE_CALL)(LPCWSTR path);

static BOOL DeleteCall(LPCWSTR path) { return DeleteFileW(path); }

/* Windows' session manager deletes it at the next start, before any
 * program can hold it. */
static BOOL ScheduleCall(LPCWSTR path)
{
    return MoveFileExW(path, NULL, MOVEFILE_DELAY_UNTIL_REBOOT);
}

/* call on path with the file-system redirector turned off.  It is the
 * thread's for every file call, so it is off for the one call alone, as
 * Microsoft asks ("Wow64DisableWow64FsRedirection"). */
static BOOL Unredirected(FILE_CALL call, LPCWSTR path, BOOL *stuck)
{
    HMODULE kernel32 = GetModuleHandleW(TEXT("kernel32.dll"));
    FARPROC off = NULL, on = NULL;
    if (kernel32 != NULL) {
        off = GetProcAddress(kernel32, "Wow64DisableWow64FsRedirection");
        on = GetProcAddress(kernel32, "Wow64RevertWow64FsRedirection");
    }
    PVOID old = NULL;
    if (off == NULL || on == NULL ||
        !((PFN_WOW64_DISABLE_WOW64_FS_REDIRECTION)(void (*)(void))off)(&old))
        return FALSE;
    BOOL done = call(path);
    /* At once, before even the last error is read: a revert that succeeds
     * leaves it. */
    if (!((PFN_WOW64_REVERT_WOW64_FS_REDIRECTION)(void (*)(void))on)(old)) {
        *stuck = TRUE;
        RunLog(TEXT("The file-system redirector could not be turned on again: "
                    "no further file is deleted"));
    }
    return done;
}

SYSTEM_FILE_END DeleteSystemFile(LPCWSTR path, SYSTEM32_ACCESS access,
                                 BOOL schedule, BOOL *stuck)
{
    WCHAR reached[MAX_PATH];
    TextZero(reached, ARRAYSIZE(reached));
    const DWORD prefix = TextLength(SYSTEM32_FOLDER, MAX_PATH);
    if (!TextStartsWith(path, SYSTEM32_FOLDER) ||
        !TextAppend(reached, ARRAYSIZE(reached),
                    access == SYSTEM32_SYSNATIVE ? SYSNATIVE_FOLDER
                                                 : SYSTEM32_FOLDER) ||
        !TextAppend(reached, ARRAYSIZE(reached), path + prefix))
        return SYSTEM_FILE_STAYS;
    LPCWSTR where = access == SYSTEM32_DIRECT ? TEXT("") : TEXT(" (the 64-bit System32)");
    BOOL deleted;
    if (access == SYSTEM32_UNREDIRECTED) {
        /* A read-only file stays there: clearing it would take another
         * turn of the redirector. */
        deleted = Unredirected(DeleteCall, reached, stuck);
    } else {
        /* DeleteFileW refuses a read-only file, which the shell's deletion
         * of the other rows takes; whether the shell accepts Sysnative is
         * not documented. */
        DWORD attributes = GetFileAttributesW(reached);
        if (attributes != INVALID_FILE_ATTRIBUTES &&
            (attributes & FILE_ATTRIBUTE_READONLY))
            SetFileAttributesW(reached, attributes & ~FILE_ATTRIBUTE_READONLY);
        deleted = DeleteFileW(reached);
    }
    DWORD error = deleted ? ERROR_SUCCESS : GetLastError();
    if (deleted) {
        g_RemovalDeletions++;
        RunLog(TEXT("Deleted %s%s"), reached, where);
        return SYSTEM_FILE_DELETED;
    }
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
        return SYSTEM_FILE_ABSENT;
    /* In use (a driver still loaded): the boot-time session manager knows
     * no redirector, so it is given the System32 name, recorded with the
     * redirector off. */
    if (schedule && !*stuck &&
        (error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION) &&
        (access == SYSTEM32_DIRECT ? ScheduleCall(path)
                                   : Unredirected(ScheduleCall, path, stuck))) {
        RunLog(TEXT("%s%s is in use (error %u): it is deleted at the next "
                    "restart"),
               path, where, error);
        return SYSTEM_FILE_SCHEDULED;
    }
    RunLog(TEXT("Not deleted: %s%s: error %u"), reached, where, error);
    return SYSTEM_FILE_STAYS;
}

BOOL UninstallOemInf(LPCWSTR name)
{
    /* An installed INF is the published name of a package in the driver
     * store (Vista and later): deleting the file by hand would leave the
     * package registered under a name whose file is gone.  Setup removes
     * the package, the INF, its PNF and its catalogue together; the force
     * flag does so even while a device still uses it. */
    FARPROC proc = SystemDllProc(SETUPAPI_DLL, "SetupUninstallOEMInfW");
    if (proc == NULL)
        return FALSE;
    BOOL uninstalled = ((PFN_SETUP_UNINSTALL_OEM_INF_W)(void (*)(void))proc)(
        name, SUOI_FORCEDELETE, NULL);
    if (!uninstalled && GetLastError() == ERROR_IN_WOW64) {
        RunLog(TEXT("Setup refused a 32-bit caller (ERROR_IN_WOW64): pnputil "
                    "does the job"));
        uninstalled = PnputilDelete(name);
    }
    if (uninstalled)
        g_RemovalDeletions++;
    return uninstalled;
}

BOOL DriverStoreFolderOf(LPCWSTR name, LPWSTR folder, DWORD cchFolder)
{
    TextZero(folder, cchFolder);
    FARPROC proc =
        SystemDllProc(SETUPAPI_DLL, "SetupGetInfDriverStoreLocationW");
    if (proc == NULL)
        return FALSE;
    /* MAX_PATH is the longest answer Setup gives. */
    WCHAR location[MAX_PATH];
    TextZero(location, ARRAYSIZE(location));
    if (!((PFN_SETUP_GET_INF_DRIVER_STORE_LOCATION_W)(void (*)(void))proc)(
            name, NULL, NULL, location, ARRAYSIZE(location), NULL))
        return FALSE;
    /* ...\FileRepository\<folder>\<inf>: the folder is the part before
     * the last backslash.  Only its name counts: on 64-bit Vista a 32-bit
     * process sees the store through the file-system redirector, under
     * another path than the one Setup names. */
    DWORD cch = TextLength(location, ARRAYSIZE(location));
    DWORD end = cch;
    while (end > 0 && location[end - 1] != TEXT('\\'))
        end--;
    DWORD start = end > 0 ? end - 1 : 0;
    while (start > 0 && location[start - 1] != TEXT('\\'))
        start--;
    /* No folder named, or one too long: unknown, never a guess. */
    if (cch >= ARRAYSIZE(location) || start == 0 || end - 1 <= start ||
        end - 1 - start >= cchFolder) {
        SetLastError(ERROR_BAD_PATHNAME);
        return FALSE;
    }
    for (DWORD i = start; i < end - 1; i++)
        folder[i - start] = location[i];
    return TRUE;
}

/* Where Configuration Manager's functions live: cfgmgr32.dll from Windows
 * 2000 on, setupapi.dll as well on XP (cfgmgr32 forwards to it there). */
static const LPCWSTR kConfigManagerLibraries[] = {TEXT("cfgmgr32.dll"),
                                                  SETUPAPI_DLL};

/* Locates deviceId and uninstalls it only when the phantom lookup found
 * it: Wine 8 answers CR_FAILURE to every lookup and exports
 * CM_Uninstall_DevNode as a stub that ends the process when called. */
static DEVICE_END UninstallIfPhantom(PFN_CM_LOCATE_DEVNODE_W locate,
                                     PFN_CM_UNINSTALL_DEVNODE uninstall,
                                     LPWSTR deviceId)
{
    DEVINST devnode = 0;
    /* Plugged in now: left alone, the user restarts before plugging in. */
    if (locate(&devnode, deviceId, CM_LOCATE_DEVNODE_NORMAL) == CR_SUCCESS)
        return DEVICE_PLUGGED_IN;
    devnode = 0;
    if (locate(&devnode, deviceId, CM_LOCATE_DEVNODE_PHANTOM) != CR_SUCCESS ||
        uninstall(devnode, 0) != CR_SUCCESS)
        return DEVICE_KEPT;
    g_RemovalDeletions++;
    return DEVICE_UNINSTALLED;
}

DEVICE_END UninstallPhantomDevice(LPWSTR deviceId)
{
    /* The Enum tree is SYSTEM's: deleting an instance's keys by hand is
     * refused on Windows, and would leave the PnP manager's own record of
     * the instance.  Configuration Manager's uninstall is the supported
     * way to have Windows forget it. */
    for (DWORD i = 0; i < ARRAYSIZE(kConfigManagerLibraries); i++) {
        FARPROC locate =
            SystemDllProc(kConfigManagerLibraries[i], "CM_Locate_DevNodeW");
        if (locate == NULL)
            continue;
        FARPROC uninstall =
            SystemDllProc(kConfigManagerLibraries[i], "CM_Uninstall_DevNode");
        if (uninstall == NULL)
            continue;
        return UninstallIfPhantom(
            (PFN_CM_LOCATE_DEVNODE_W)(void (*)(void))locate,
            (PFN_CM_UNINSTALL_DEVNODE)(void (*)(void))uninstall, deviceId);
    }
    return DEVICE_KEPT;
}

/* Deletes the sub-keys of an open key, highest index first, so that the
 * indexes still to be visited stay valid. */
/* Recursion: REG_PATH_CCH bounds the depth; REGSAM is a DWORD.
 * NOLINTNEXTLINE(misc-no-recursion,bugprone-easily-swappable-parameters) */
static void DeleteSubKeys(HKEY key, LPCWSTR path, REGSAM access,
                          DWORD subKeyCount)
{
    WCHAR name[REG_KEY_NAME_CCH];
    WCHAR child[REG_PATH_CCH];
    TextZero(name, ARRAYSIZE(name));
    for (DWORD index = subKeyCount; index-- > 0;) {
        LSTATUS status = RegEnumKeyW(key, index, name, ARRAYSIZE(name));
        /* An error of the key itself ends it; a lost or overlong name
         * skips that index. */
        if (RegistryEnumEnded(status))
            break;
        if (status != ERROR_SUCCESS)
            continue;
        /* A child path that would not fit is skipped whole: cut short it
         * would name another key. */
        if (!RegistryChildPath(child, path, name))
            continue;
        /* The access value goes down as the child's view; its access
         * bits are added again to no effect. */
        DeleteKeyTree(child, access);
        /* This fails whenever the child's own RegDeleteKeyExW already
         * deleted it; then the values of this key go instead. */
        if (RegDeleteKeyW(key, name) == ERROR_SUCCESS)
            g_RemovalDeletions++;
        else
            ClearValues(key);
    }
}

/* NOLINTNEXTLINE(misc-no-recursion): REG_PATH_CCH bounds the depth */
BOOL DeleteKeyTree(LPCWSTR path, REGSAM view)
{
    REGSAM access = view | INSTALLER_KEY_ACCESS;
    BOOL result = TRUE;
    HKEY key;
    if (RegistryOpen(path, access, &key) != ERROR_SUCCESS) {
        result = FALSE;
    } else {
        DWORD subKeyCount = 0;
        if (RegQueryInfoKeyW(key, NULL, NULL, NULL, &subKeyCount, NULL, NULL,
                             NULL, NULL, NULL, NULL, NULL) == ERROR_SUCCESS) {
            if (subKeyCount == 0)
                ClearValues(key);
            else
                DeleteSubKeys(key, path, access, subKeyCount);
        }
        RegCloseKey(key);
    }

    /* XP's advapi32 has no RegDeleteKeyExW, so it is looked up.  It gets
     * the access value, not the bare view: only the view bits count for
     * it. */
    FARPROC proc = SystemDllProc(TEXT("advapi32.dll"), "RegDeleteKeyExW");
    if (proc == NULL)
        return result;
    /* Handed over even when the key did not open above. */
    LSTATUS status = ((PFN_REG_DELETE_KEY_EX_W)(void (*)(void))proc)(
        HKEY_LOCAL_MACHINE, path, access, 0);
    if (status == ERROR_SUCCESS)
        g_RemovalDeletions++;
    /* A key that was there and stays (the Enum tree is SYSTEM's). */
    else if (result)
        RunLog(TEXT("Key not deleted: HKLM\\%s (%u-bit view): error %u"), path,
               RegistryViewBits(view), (DWORD)status);
    return status == ERROR_SUCCESS;
}

/* Reads the names of up to CLEAR_VALUES_SLOT_COUNT named values, from
 * index 0, into names.  Returns how many slots it filled. */
static DWORD CollectValueNames(HKEY key,
                               WCHAR names[][REG_VALUE_NAME_CCH])
{
    DWORD filled = 0;
    for (DWORD index = 0; filled < CLEAR_VALUES_SLOT_COUNT; index++) {
        LPWSTR slot = names[filled];
        DWORD cchName = REG_VALUE_NAME_CCH;
        /* The data is never looked at, so none is asked for: then
         * ERROR_MORE_DATA can only mean a name longer than the slot (with
         * a data buffer it also comes for long data, name filled in), and
         * what the slot holds after it is not defined. */
        LSTATUS status =
            RegEnumValueW(key, index, slot, &cchName, NULL, NULL, NULL, NULL);
        if (status == ERROR_MORE_DATA) {
            slot[0] = 0;
            continue;
        }
        /* ERROR_NO_MORE_ITEMS ends the list; any other error is one of
         * the handle (a key deleted meanwhile) and would repeat for every
         * index, never reaching the end. */
        if (status != ERROR_SUCCESS)
            break;
        /* The unnamed default value stays. */
        if (slot[0] != 0)
            filled++;
    }
    return filled;
}

BOOL ClearValues(HKEY key)
{
    WCHAR names[CLEAR_VALUES_SLOT_COUNT][REG_VALUE_NAME_CCH];
    /* Each pass starts again from index 0, since deleting renumbers the
     * values.  A pass that deletes nothing ends it: what is left refuses
     * deletion or has a name too long to hold, and would come back. */
    for (;;) {
        for (DWORD slot = 0; slot < CLEAR_VALUES_SLOT_COUNT; slot++)
            TextZero(names[slot], ARRAYSIZE(names[slot]));
        DWORD filled = CollectValueNames(key, names);
        DWORD deleted = 0;
        for (DWORD slot = 0; slot < filled; slot++) {
            if (RegDeleteValueW(key, names[slot]) == ERROR_SUCCESS)
                deleted++;
        }
        g_RemovalDeletions += deleted;
        if (deleted == 0)
            return TRUE;
    }
}

/* NOLINTNEXTLINE(bugprone-easily-swappable-parameters): key, then value */
BOOL DeleteValue(LPCWSTR path, LPCWSTR name, REGSAM view)
{
    HKEY key;
    if (RegistryOpen(path, view, &key) != ERROR_SUCCESS)
        return FALSE;
    if (RegDeleteValueW(key, name) == ERROR_SUCCESS) {
        g_RemovalDeletions++;
        RunLog(TEXT("Deleted value %s of HKLM\\%s (%u-bit view)"), name, path,
               RegistryViewBits(view));
    }
    RegCloseKey(key);
    return TRUE;
}

BOOL KeyExists(LPCWSTR path, REGSAM view)
{
    HKEY key;
    if (RegistryOpenToRead(path, view, &key) != ERROR_SUCCESS)
        return FALSE;
    RegCloseKey(key);
    return TRUE;
}
