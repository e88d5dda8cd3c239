#include "removal/sweep.h"

#include "discovery/candidates.h"
#include "discovery/shared_driver.h"
#include "platform/registry.h"
#include "platform/runlog.h"
#include "platform/wtext.h"
#include "removal/primitives.h"

/* Every path the sweep builds fits a wide path buffer: 255 units and the
 * terminator.  One that would not is skipped, never cut short. */
#define SWEEP_PATH_CCH 256

/* A 32-bit process on 64-bit Windows sees System32 as SysWOW64; Windows 7
 * and later exempt DriverStore from that redirection, Vista and Wine 8 do
 * not. */
#define DRIVER_STORE_FOLDER                                                  \
    TEXT("C:\\Windows\\System32\\DriverStore\\FileRepository")
#define DRIVER_STORE_PATTERN TEXT("\\*.*")
/* Compared unit for unit over its 14 units, so case matters and any
 * units may follow (the store adds the architecture and a hash). */
#define DRIVER_STORE_PREFIX TEXT("qx_dsp_usb.inf")

#define INF_FOLDER TEXT("C:\\Windows\\INF\\")
/* The precompiled companion of an INF: its last three units replaced. */
#define PNF_EXTENSION TEXT("PNF")
#define PNF_EXTENSION_CCH 3

#define PNP_LOCKDOWN_NATIVE                                                  \
    TEXT("SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Setup\\")           \
    TEXT("PnpLockdownFiles")
#define PNP_LOCKDOWN_WOW64                                                   \
    TEXT("SOFTWARE\\WOW6432Node\\Microsoft\\Windows\\CurrentVersion\\")     \
    TEXT("Setup\\PnpLockdownFiles")

/* The device's enumeration key in each control set the rows name; its
 * sub-keys are the device's instances. */
static const LPCWSTR kDeviceEnumKeys[] = {
    TEXT("SYSTEM\\ControlSet001\\Enum\\USB\\VID_3C7E&PID_51B8"),
    TEXT("SYSTEM\\ControlSet002\\Enum\\USB\\VID_3C7E&PID_51B8"),
    TEXT("SYSTEM\\CurrentControlSet\\Enum\\USB\\VID_3C7E&PID_51B8"),
};
/* An instance's ID is this followed by its key's name. */
#define DEVICE_ID_PREFIX TEXT("USB\\VID_3C7E&PID_51B8\\")
/* Instances handed to Configuration Manager in one run, at most. */
#define DEVICE_INSTANCE_MAX 64
/* A device instance ID and its terminator fit MAX_DEVICE_ID_LEN units. */
#define DEVICE_ID_CCH MAX_DEVICE_ID_LEN

typedef struct DEVICE_ID_LIST {
    DWORD count;
    WCHAR ids[DEVICE_INSTANCE_MAX][DEVICE_ID_CCH];
} DEVICE_ID_LIST;

typedef enum SWEEP_OPERATION {
    SWEEP_DELETE_PATH,
    SWEEP_DELETE_KEY_TREE, /* in both views */
    SWEEP_DELETE_VALUE     /* in both views */
} SWEEP_OPERATION;

/* NOLINTNEXTLINE(clang-analyzer-optin.performance.Padding): fields in the removal table's reading order */
typedef struct SWEEP_ROW {
    SWEEP_OPERATION operation;
    LPCWSTR path; /* file path, or key path below HKEY_LOCAL_MACHINE */
    LPCWSTR valueName;
    /* Part of libusb0, which other devices may run too: the row is
     * skipped while anything else uses it. */
    BOOL libusb0;
} SWEEP_ROW;

/* Rows before this index run before the candidate INF files go. */
#define SWEEP_ROWS_BEFORE_CANDIDATES 3

/* Row n of the removal table is entry n - 1. */
static const SWEEP_ROW g_SweepRows[] = {
    /* 1-3: the libusb0 driver and its DLL copies. */
    {SWEEP_DELETE_PATH, TEXT("C:\\Windows\\System32\\drivers\\libusb0.sys"),
     NULL, TRUE},
    {SWEEP_DELETE_PATH, TEXT("C:\\Windows\\System32\\libusb0.dll"),
     NULL, TRUE},
    {SWEEP_DELETE_PATH, TEXT("C:\\Windows\\syswow64\\libusb0.dll"),
     NULL, TRUE},
    /* 4-9: libusb0's PnpLockdownFiles sub-keys. */
    {SWEEP_DELETE_KEY_TREE,
     PNP_LOCKDOWN_NATIVE TEXT("\\%SystemRoot%/system32/drivers/libusb0.sys"),
     NULL, TRUE},
    {SWEEP_DELETE_KEY_TREE,
     PNP_LOCKDOWN_NATIVE TEXT("\\%SystemRoot%/system32/libusb0.dll"),
     NULL, TRUE},
    {SWEEP_DELETE_KEY_TREE,
     PNP_LOCKDOWN_NATIVE TEXT("\\%SystemRoot%/syswow64/libusb0.dll"),
     NULL, TRUE},
    {SWEEP_DELETE_KEY_TREE,
     PNP_LOCKDOWN_WOW64 TEXT("\\%SystemRoot%/system32/drivers/libusb0.sys"),
     NULL, TRUE},
    {SWEEP_DELETE_KEY_TREE,
     PNP_LOCKDOWN_WOW64 TEXT("\\%SystemRoot%/system32/libusb0.dll"),
     NULL, TRUE},
    {SWEEP_DELETE_KEY_TREE,
     PNP_LOCKDOWN_WOW64 TEXT("\\%SystemRoot%/syswow64/libusb0.dll"),
     NULL, TRUE},
    /* 10-15: libusb0's PnpLockdownFiles values. */
    {SWEEP_DELETE_VALUE, PNP_LOCKDOWN_NATIVE,
     TEXT("%SystemPath%\\system32\\drivers\\libusb0.sys"), TRUE},
    {SWEEP_DELETE_VALUE, PNP_LOCKDOWN_NATIVE,
     TEXT("%SystemPath%\\system32\\libusb0.dll"), TRUE},
    {SWEEP_DELETE_VALUE, PNP_LOCKDOWN_NATIVE,
     TEXT("%SystemPath%\\syswow64\\libusb0.dll"), TRUE},
    {SWEEP_DELETE_VALUE, PNP_LOCKDOWN_WOW64,
     TEXT("%SystemPath%\\system32\\drivers\\libusb0.sys"), TRUE},
    {SWEEP_DELETE_VALUE, PNP_LOCKDOWN_WOW64,
     TEXT("%SystemPath%\\system32\\libusb0.dll"), TRUE},
    {SWEEP_DELETE_VALUE, PNP_LOCKDOWN_WOW64,
     TEXT("%SystemPath%\\syswow64\\libusb0.dll"), TRUE},
    /* 16-21: enumeration and libusb0 service keys. */
    {SWEEP_DELETE_KEY_TREE,
     TEXT("SYSTEM\\ControlSet001\\Enum\\USB\\VID_3C7E&PID_51B8"), NULL, FALSE},
    {SWEEP_DELETE_KEY_TREE, TEXT("SYSTEM\\ControlSet001\\Services\\libusb0"),
     NULL, TRUE},
    {SWEEP_DELETE_KEY_TREE,
     TEXT("SYSTEM\\ControlSet002\\Enum\\USB\\VID_3C7E&PID_51B8"), NULL, FALSE},
    {SWEEP_DELETE_KEY_TREE, TEXT("SYSTEM\\ControlSet002\\Services\\libusb0"),
     NULL, TRUE},
    {SWEEP_DELETE_KEY_TREE,
     TEXT("SYSTEM\\CurrentControlSet\\Enum\\USB\\VID_3C7E&PID_51B8"),
     NULL, FALSE},
    {SWEEP_DELETE_KEY_TREE,
     TEXT("SYSTEM\\CurrentControlSet\\Services\\libusb0"), NULL, TRUE},
    /* 22-23: the libusbDspQx DLL copies (never a libusbDspQx.sys). */
    {SWEEP_DELETE_PATH, TEXT("C:\\Windows\\System32\\libusbDspQx.dll"),
     NULL, FALSE},
    {SWEEP_DELETE_PATH, TEXT("C:\\Windows\\syswow64\\libusbDspQx.dll"),
     NULL, FALSE},
    /* 24-29: libusbDspQx's PnpLockdownFiles sub-keys. */
    {SWEEP_DELETE_KEY_TREE,
     PNP_LOCKDOWN_NATIVE
     TEXT("\\%SystemRoot%/system32/drivers/libusbDspQx.sys"),
     NULL, FALSE},
    {SWEEP_DELETE_KEY_TREE,
     PNP_LOCKDOWN_NATIVE TEXT("\\%SystemRoot%/system32/libusbDspQx.dll"),
     NULL, FALSE},
    {SWEEP_DELETE_KEY_TREE,
     PNP_LOCKDOWN_NATIVE TEXT("\\%SystemRoot%/syswow64/libusbDspQx.dll"),
     NULL, FALSE},
    {SWEEP_DELETE_KEY_TREE,
     PNP_LOCKDOWN_WOW64
     TEXT("\\%SystemRoot%/system32/drivers/libusbDspQx.sys"),
     NULL, FALSE},
    {SWEEP_DELETE_KEY_TREE,
     PNP_LOCKDOWN_WOW64 TEXT("\\%SystemRoot%/system32/libusbDspQx.dll"),
     NULL, FALSE},
    {SWEEP_DELETE_KEY_TREE,
     PNP_LOCKDOWN_WOW64 TEXT("\\%SystemRoot%/syswow64/libusbDspQx.dll"),
     NULL, FALSE},
    /* 30-35: libusbDspQx's PnpLockdownFiles values. */
    {SWEEP_DELETE_VALUE, PNP_LOCKDOWN_NATIVE,
     TEXT("%SystemPath%\\system32\\drivers\\libusbDspQx.sys"), FALSE},
    {SWEEP_DELETE_VALUE, PNP_LOCKDOWN_NATIVE,
     TEXT("%SystemPath%\\system32\\libusbDspQx.dll"), FALSE},
    {SWEEP_DELETE_VALUE, PNP_LOCKDOWN_NATIVE,
     TEXT("%SystemPath%\\syswow64\\libusbDspQx.dll"), FALSE},
    {SWEEP_DELETE_VALUE, PNP_LOCKDOWN_WOW64,
     TEXT("%SystemPath%\\system32\\drivers\\libusbDspQx.sys"), FALSE},
    {SWEEP_DELETE_VALUE, PNP_LOCKDOWN_WOW64,
     TEXT("%SystemPath%\\system32\\libusbDspQx.dll"), FALSE},
    {SWEEP_DELETE_VALUE, PNP_LOCKDOWN_WOW64,
     TEXT("%SystemPath%\\syswow64\\libusbDspQx.dll"), FALSE},
    /* 36-41: enumeration keys once more and libusbDspQx service keys. */
    {SWEEP_DELETE_KEY_TREE,
     TEXT("SYSTEM\\ControlSet001\\Enum\\USB\\VID_3C7E&PID_51B8"), NULL, FALSE},
    {SWEEP_DELETE_KEY_TREE,
     TEXT("SYSTEM\\ControlSet001\\Services\\libusbDspQx"), NULL, FALSE},
    {SWEEP_DELETE_KEY_TREE,
     TEXT("SYSTEM\\ControlSet002\\Enum\\USB\\VID_3C7E&PID_51B8"), NULL, FALSE},
    {SWEEP_DELETE_KEY_TREE,
     TEXT("SYSTEM\\ControlSet002\\Services\\libusbDspQx"), NULL, FALSE},
    {SWEEP_DELETE_KEY_TREE,
     TEXT("SYSTEM\\CurrentControlSet\\Enum\\USB\\VID_3C7E&PID_51B8"),
     NULL, FALSE},
    {SWEEP_DELETE_KEY_TREE,
     TEXT("SYSTEM\\CurrentControlSet\\Services\\libusbDspQx"), NULL, FALSE},
};
#define SWEEP_ROW_COUNT ARRAYSIZE(g_SweepRows)
static_assert(SWEEP_ROW_COUNT == 41, "the removal table has 41 rows");

/* What this sweep leaves out, and how it reaches the files. */
typedef struct SWEEP_SCOPE {
    const SWEEP_SETTINGS *settings;
    BOOL libusb0Shared; /* TRUE: libusb0's rows are left out */
    /* The redirector stayed off after a deletion: no file row runs. */
    BOOL filesStopped;
} SWEEP_SCOPE;

/* A driver-store folder's own name and its terminator. */
#define STORE_FOLDER_NAME_CCH 256

/* What Setup answered for the candidates, from Vista on (XP has no driver
 * store, and there every candidate goes by hand as well). */
typedef struct SETUP_ANSWERS {
    /* Setup refused it: its INF, PNF and store folder stay whole. */
    BOOL refused[CANDIDATE_MAX];
    /* The name of its package's store folder, asked before it went. */
    WCHAR storeFolders[CANDIDATE_MAX][STORE_FOLDER_NAME_CCH];
    /* Setup refused a candidate whose store folder could not be learnt:
     * no store folder is deleted by hand, since any could be the one
     * Setup keeps.  (What Setup uninstalled, or never counted as
     * installed, has no package left for a folder to belong to.) */
    BOOL storeUnknown;
} SETUP_ANSWERS;

/* Applies rows first to end - 1 within scope; a registry row goes to
 * every view, the 32-bit view first, before the next row. */
static void ApplyRows(DWORD first, DWORD end, SWEEP_SCOPE *scope)
{
    const SWEEP_SETTINGS *settings = scope->settings;
    for (DWORD row = first; row < end; row++) {
        const SWEEP_ROW *r = &g_SweepRows[row];
        if (r->libusb0 && scope->libusb0Shared)
            continue;
        if (r->operation == SWEEP_DELETE_PATH) {
            if (!settings->windowsAtDefault || scope->filesStopped)
                continue;
            /* The older installation left a copy in each folder; a 32-bit
             * process naming System32 would reach the SysWOW64 copy a
             * second time. */
            if (settings->wow64 && TextStartsWith(r->path, SYSTEM32_FOLDER))
                DeleteSystemFile(r->path,
                                 System32Access(TRUE, settings->preVista),
                                 FALSE, &scope->filesStopped);
            else
                DeletePath(r->path);
            continue;
        }
        for (DWORD v = 0; v < REGISTRY_VIEW_COUNT; v++) {
            if (r->operation != SWEEP_DELETE_KEY_TREE)
                DeleteValue(r->path, r->valueName, g_RegistryViews[v]);
            else if (DeleteKeyTree(r->path, g_RegistryViews[v]))
                RunLog(TEXT("Deleted key HKLM\\%s (%u-bit view)"), r->path,
                       RegistryViewBits(g_RegistryViews[v]));
        }
    }
}

/* Adds the ID of the instance whose key is name, unless it is there
 * already (the control sets and views show the same instances) or would
 * not fit. */
static void AddDeviceId(DEVICE_ID_LIST *list, LPCWSTR name)
{
    WCHAR id[DEVICE_ID_CCH];
    TextZero(id, ARRAYSIZE(id));
    if (!TextAppend(id, ARRAYSIZE(id), DEVICE_ID_PREFIX) ||
        !TextAppend(id, ARRAYSIZE(id), name))
        return;
    for (DWORD i = 0; i < list->count; i++) {
        if (TextEqualAsciiNoCase(list->ids[i], id))
            return;
    }
    TextCopy(list->ids[list->count], DEVICE_ID_CCH, id);
    list->count++;
}

/* Adds the IDs of the instances below HKLM\keyPath in view, until the
 * list is full. */
static void ListDeviceInstances(LPCWSTR keyPath, REGSAM view,
                                DEVICE_ID_LIST *list)
{
    HKEY key;
    if (RegistryOpenToRead(keyPath, view, &key) != ERROR_SUCCESS)
        return;
    WCHAR name[REG_KEY_NAME_CCH];
    for (DWORD index = 0; list->count < DEVICE_INSTANCE_MAX; index++) {
        TextZero(name, ARRAYSIZE(name));
        LSTATUS status = RegEnumKeyW(key, index, name, ARRAYSIZE(name));
        /* A name too long for the buffer makes no ID that would fit. */
        if (status == ERROR_MORE_DATA)
            continue;
        /* ERROR_NO_MORE_ITEMS ends the list; any other error is one of
         * the key (deleted meanwhile) and would come for every index. */
        if (status != ERROR_SUCCESS)
            break;
        AddDeviceId(list, name);
    }
    RegCloseKey(key);
}

/* Has Configuration Manager forget every earlier instance of the device
 * that is not plugged in: on Windows the rows below cannot delete the
 * Enum keys (SYSTEM's alone), and a half-emptied instance naming a
 * service that is gone could keep the device from its new driver.  All
 * instances are listed before the first goes, so that no listing runs
 * over keys being deleted. */
static void SweepDeviceInstances(SWEEP_REPORT *report)
{
    DEVICE_ID_LIST list;
    list.count = 0;
    for (DWORD k = 0; k < ARRAYSIZE(kDeviceEnumKeys); k++) {
        for (DWORD v = 0; v < REGISTRY_VIEW_COUNT; v++)
            ListDeviceInstances(kDeviceEnumKeys[k], g_RegistryViews[v],
                                &list);
    }
    static const LPCWSTR kEnds[] = {
        TEXT("Configuration Manager uninstalled %s"),
        TEXT("%s is plugged in: left alone until it is unplugged or the PC "
             "restarts"),
        TEXT("Configuration Manager did not uninstall %s (not found, or "
             "refused)"),
    };
    for (DWORD i = 0; i < list.count; i++) {
        DEVICE_END end = UninstallPhantomDevice(list.ids[i]);
        RunLog(kEnds[end], list.ids[i]);
        if (end == DEVICE_PLUGGED_IN)
            report->pluggedIn++;
    }
}

/* TRUE when name is the store folder of a candidate Setup refused. */
static BOOL RefusedStoreFolder(LPCWSTR name, const SETUP_ANSWERS *answers)
{
    for (LONG i = 0; i < g_Candidates.count && i < CANDIDATE_MAX; i++) {
        /* Store folders ignore case, as the file system does. */
        if (answers->refused[i] &&
            TextEqualAsciiNoCase(answers->storeFolders[i], name))
            return TRUE;
    }
    return FALSE;
}

/* Deletes the driver store's folders of earlier packages of the device,
 * but those of packages Setup refused to uninstall: deleted by hand, the
 * store's index would still list a package whose files are gone, one that
 * could then be neither removed nor used. */
static void SweepDriverStore(const SETUP_ANSWERS *answers)
{
    if (answers->storeUnknown) {
        RunLog(TEXT("Driver store folders left to Setup: where a package "
                    "it refused lives is not known"));
        return;
    }
    WCHAR pattern[SWEEP_PATH_CCH];
    TextZero(pattern, ARRAYSIZE(pattern));
    if (!TextAppend(pattern, ARRAYSIZE(pattern), DRIVER_STORE_FOLDER) ||
        !TextAppend(pattern, ARRAYSIZE(pattern), DRIVER_STORE_PATTERN))
        return;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(pattern, &found);
    if (search == INVALID_HANDLE_VALUE)
        return;
    do {
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ||
            !TextStartsWith(found.cFileName, DRIVER_STORE_PREFIX) ||
            RefusedStoreFolder(found.cFileName, answers))
            continue;
        WCHAR path[SWEEP_PATH_CCH];
        TextZero(path, ARRAYSIZE(path));
        /* A name longer than 208 units does not fit beside the folder. */
        if (TextAppend(path, ARRAYSIZE(path), DRIVER_STORE_FOLDER) &&
            TextAppend(path, ARRAYSIZE(path), TEXT("\\")) &&
            TextAppend(path, ARRAYSIZE(path), found.cFileName))
            DeletePath(path);
    } while (FindNextFileW(search, &found));
    FindClose(search);
}

/* C:\Windows\INF\ + entry into path (SWEEP_PATH_CCH units).  FALSE:
 * the entry is to be left alone. */
static BOOL CandidateInfPath(LPWSTR path, LPCWSTR entry)
{
    /* Add candidate refuses names this short; without three units to
     * replace, the PNF name would reach outside the entry, and an empty
     * one would name the INF folder itself. */
    if (TextLength(entry, PNF_EXTENSION_CCH) < PNF_EXTENSION_CCH)
        return FALSE;
    TextZero(path, SWEEP_PATH_CCH);
    /* An entry longer than 240 units does not fit beside the folder. */
    return TextAppend(path, SWEEP_PATH_CCH, INF_FOLDER) &&
           TextAppend(path, SWEEP_PATH_CCH, entry);
}

/* Uninstalls every recorded INF copy through Setup, in list order, while
 * its driver package is still whole: Setup removes the package from the
 * driver store and the store's index together with the INF, its PNF and
 * its catalogue, and a package whose store folder was deleted by hand
 * first may never be removable again.  From Vista on (driverStore) Setup
 * is first asked where each package lives, and its refusals are kept in
 * answers (zeroed by the caller). */
static void UninstallCandidates(BOOL driverStore, SETUP_ANSWERS *answers,
                                SWEEP_REPORT *report)
{
    for (LONG i = 0; i < g_Candidates.count && i < CANDIDATE_MAX; i++) {
        LPCWSTR entry = g_Candidates.entries[i];
        WCHAR path[SWEEP_PATH_CCH];
        /* Setup gets only the names the shell deletes later; it finds
         * its INF folder where Windows really lives. */
        if (!CandidateInfPath(path, entry))
            continue;
        /* Wine 8 answers ERROR_CALL_NOT_IMPLEMENTED here. */
        if (driverStore) {
            if (DriverStoreFolderOf(entry, answers->storeFolders[i],
                                    STORE_FOLDER_NAME_CCH)) {
                RunLog(TEXT("%s lives in the driver store as %s"), entry,
                       answers->storeFolders[i]);
            } else {
                RunLog(TEXT("Where %s lives in the driver store is not known: "
                            "error %u (0x%x)"),
                       entry, GetLastError(), GetLastError());
            }
        }
        if (UninstallOemInf(entry)) {
            RunLog(TEXT("Setup uninstalled %s"), entry);
            continue;
        }
        /* Read once: the log's own calls keep it, but it is Setup's. */
        DWORD error = GetLastError();
        RunLog(TEXT("Setup did not uninstall %s: error %u (0x%x)"), entry,
               error, error);
        if (!driverStore)
            continue;
        /* A copy that is gone, or one Windows does not count as installed
         * (the leftover the sweep is for), goes by hand.  Any other answer
         * is a refusal (a package a device was installed from, with files
         * in the store's own folder; a 32-bit caller on 64-bit Windows
         * whose pnputil failed too),
         * and so is a setupapi without the function. */
        answers->refused[i] = error != ERROR_FILE_NOT_FOUND &&
                              error != ERROR_NOT_AN_INSTALLED_OEM_INF;
        if (answers->refused[i]) {
            if (report->refused++ == 0)
                report->refusalError = error;
            RunLog(TEXT("%s stays whole: Setup refused it"), entry);
            if (answers->storeFolders[i][0] == 0)
                answers->storeUnknown = TRUE;
        }
    }
}

/* Deletes one recorded INF copy and its PNF companion with the shell,
 * which covers a copy Windows does not count as installed, and on XP a
 * setupapi without the uninstall function or a Setup that refused (Wine
 * 8's also leaves the PNF behind).  What Setup removed, the shell no
 * longer finds. */
static void DeleteCandidate(LPCWSTR entry)
{
    WCHAR path[SWEEP_PATH_CCH];
    if (!CandidateInfPath(path, entry))
        return;
    DeletePath(path);
    DWORD extension = TextLength(path, ARRAYSIZE(path)) - PNF_EXTENSION_CCH;
    for (DWORD i = 0; i < PNF_EXTENSION_CCH; i++)
        path[extension + i] = PNF_EXTENSION[i];
    DeletePath(path);
}

BOOL RemovalSweep(const SWEEP_SETTINGS *settings, SWEEP_REPORT *report)
{
    PrivilegeSequence();
    SETUP_ANSWERS answers = {};
    UninstallCandidates(!settings->preVista, &answers, report);
    SweepDeviceInstances(report);
    SWEEP_SCOPE scope;
    scope.settings = settings;
    scope.filesStopped = FALSE;
    /* Another device's libusb0 service, files or lockdown entries gone,
     * that device (or, for a class filter, the whole class) would not
     * start after the next restart; the device itself runs libusbDspQx. */
    scope.libusb0Shared = Libusb0Shared();
    RunLog(scope.libusb0Shared
               ? TEXT("libusb0 is kept: something else uses it, or that "
                      "could not be told")
               : TEXT("libusb0 is removed: nothing else uses it"));
    if (settings->windowsAtDefault && settings->wow64 && settings->vista)
        RunLog(TEXT("Driver store folders left to Setup: 64-bit Vista shows "
                    "a 32-bit process SysWOW64 there"));
    else if (settings->windowsAtDefault)
        SweepDriverStore(&answers);
    ApplyRows(0, SWEEP_ROWS_BEFORE_CANDIDATES, &scope);
    if (settings->windowsAtDefault && !scope.filesStopped) {
        for (LONG i = 0; i < g_Candidates.count && i < CANDIDATE_MAX; i++) {
            if (!answers.refused[i])
                DeleteCandidate(g_Candidates.entries[i]);
        }
    }
    ApplyRows(SWEEP_ROWS_BEFORE_CANDIDATES, SWEEP_ROW_COUNT, &scope);
    return TRUE;
}
