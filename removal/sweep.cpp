#include "removal/sweep.h"

#include "discovery/candidates.h"
#include "platform/registry.h"
#include "platform/wtext.h"
#include "removal/primitives.h"

/* Every path the sweep builds fits a wide path buffer: 255 units and the
 * terminator.  One that would not is skipped, never cut short. */
#define SWEEP_PATH_CCH 256

/* A 32-bit process on 64-bit Windows sees System32 as SysWOW64; Windows 7
 * and later exempt DriverStore from that redirection, Wine 8 does not. */
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

typedef enum SWEEP_OPERATION {
    SWEEP_DELETE_PATH,
    SWEEP_DELETE_KEY_TREE, /* in both views */
    SWEEP_DELETE_VALUE     /* in both views */
} SWEEP_OPERATION;

typedef struct SWEEP_ROW {
    SWEEP_OPERATION operation;
    LPCWSTR path; /* file path, or key path below HKEY_LOCAL_MACHINE */
    LPCWSTR valueName;
} SWEEP_ROW;

/* Rows before this index run before the candidate INF files go. */
#define SWEEP_ROWS_BEFORE_CANDIDATES 3

/* Row n of the removal table is entry n - 1. */
static const SWEEP_ROW g_SweepRows[] = {
    /* 1-3: the libusb0 driver and its DLL copies. */
    {SWEEP_DELETE_PATH, TEXT("C:\\Windows\\System32\\drivers\\libusb0.sys"),
     NULL},
    {SWEEP_DELETE_PATH, TEXT("C:\\Windows\\System32\\libusb0.dll"), NULL},
    {SWEEP_DELETE_PATH, TEXT("C:\\Windows\\syswow64\\libusb0.dll"), NULL},
    /* 4-9: libusb0's PnpLockdownFiles sub-keys. */
    {SWEEP_DELETE_KEY_TREE,
     PNP_LOCKDOWN_NATIVE TEXT("\\%SystemRoot%/system32/drivers/libusb0.sys"),
     NULL},
    {SWEEP_DELETE_KEY_TREE,
     PNP_LOCKDOWN_NATIVE TEXT("\\%SystemRoot%/system32/libusb0.dll"), NULL},
    {SWEEP_DELETE_KEY_TREE,
     PNP_LOCKDOWN_NATIVE TEXT("\\%SystemRoot%/syswow64/libusb0.dll"), NULL},
    {SWEEP_DELETE_KEY_TREE,
     PNP_LOCKDOWN_WOW64 TEXT("\\%SystemRoot%/system32/drivers/libusb0.sys"),
     NULL},
    {SWEEP_DELETE_KEY_TREE,
     PNP_LOCKDOWN_WOW64 TEXT("\\%SystemRoot%/system32/libusb0.dll"), NULL},
    {SWEEP_DELETE_KEY_TREE,
     PNP_LOCKDOWN_WOW64 TEXT("\\%SystemRoot%/syswow64/libusb0.dll"), NULL},
    /* 10-15: libusb0's PnpLockdownFiles values. */
    {SWEEP_DELETE_VALUE, PNP_LOCKDOWN_NATIVE,
     TEXT("%SystemPath%\\system32\\drivers\\libusb0.sys")},
    {SWEEP_DELETE_VALUE, PNP_LOCKDOWN_NATIVE,
     TEXT("%SystemPath%\\system32\\libusb0.dll")},
    {SWEEP_DELETE_VALUE, PNP_LOCKDOWN_NATIVE,
     TEXT("%SystemPath%\\syswow64\\libusb0.dll")},
    {SWEEP_DELETE_VALUE, PNP_LOCKDOWN_WOW64,
     TEXT("%SystemPath%\\system32\\drivers\\libusb0.sys")},
    {SWEEP_DELETE_VALUE, PNP_LOCKDOWN_WOW64,
     TEXT("%SystemPath%\\system32\\libusb0.dll")},
    {SWEEP_DELETE_VALUE, PNP_LOCKDOWN_WOW64,
     TEXT("%SystemPath%\\syswow64\\libusb0.dll")},
    /* 16-21: enumeration and libusb0 service keys. */
    {SWEEP_DELETE_KEY_TREE,
     TEXT("SYSTEM\\ControlSet001\\Enum\\USB\\VID_3C7E&PID_51B8"), NULL},
    {SWEEP_DELETE_KEY_TREE, TEXT("SYSTEM\\ControlSet001\\Services\\libusb0"),
     NULL},
    {SWEEP_DELETE_KEY_TREE,
     TEXT("SYSTEM\\ControlSet002\\Enum\\USB\\VID_3C7E&PID_51B8"), NULL},
    {SWEEP_DELETE_KEY_TREE, TEXT("SYSTEM\\ControlSet002\\Services\\libusb0"),
     NULL},
    {SWEEP_DELETE_KEY_TREE,
     TEXT("SYSTEM\\CurrentControlSet\\Enum\\USB\\VID_3C7E&PID_51B8"), NULL},
    {SWEEP_DELETE_KEY_TREE,
     TEXT("SYSTEM\\CurrentControlSet\\Services\\libusb0"), NULL},
    /* 22-23: the libusbDspQx DLL copies (never a libusbDspQx.sys). */
    {SWEEP_DELETE_PATH, TEXT("C:\\Windows\\System32\\libusbDspQx.dll"), NULL},
    {SWEEP_DELETE_PATH, TEXT("C:\\Windows\\syswow64\\libusbDspQx.dll"), NULL},
    /* 24-29: libusbDspQx's PnpLockdownFiles sub-keys. */
    {SWEEP_DELETE_KEY_TREE,
     PNP_LOCKDOWN_NATIVE
     TEXT("\\%SystemRoot%/system32/drivers/libusbDspQx.sys"),
     NULL},
    {SWEEP_DELETE_KEY_TREE,
     PNP_LOCKDOWN_NATIVE TEXT("\\%SystemRoot%/system32/libusbDspQx.dll"),
     NULL},
    {SWEEP_DELETE_KEY_TREE,
     PNP_LOCKDOWN_NATIVE TEXT("\\%SystemRoot%/syswow64/libusbDspQx.dll"),
     NULL},
    {SWEEP_DELETE_KEY_TREE,
     PNP_LOCKDOWN_WOW64
     TEXT("\\%SystemRoot%/system32/drivers/libusbDspQx.sys"),
     NULL},
    {SWEEP_DELETE_KEY_TREE,
     PNP_LOCKDOWN_WOW64 TEXT("\\%SystemRoot%/system32/libusbDspQx.dll"),
     NULL},
    {SWEEP_DELETE_KEY_TREE,
     PNP_LOCKDOWN_WOW64 TEXT("\\%SystemRoot%/syswow64/libusbDspQx.dll"),
     NULL},
    /* 30-35: libusbDspQx's PnpLockdownFiles values. */
    {SWEEP_DELETE_VALUE, PNP_LOCKDOWN_NATIVE,
     TEXT("%SystemPath%\\system32\\drivers\\libusbDspQx.sys")},
    {SWEEP_DELETE_VALUE, PNP_LOCKDOWN_NATIVE,
     TEXT("%SystemPath%\\system32\\libusbDspQx.dll")},
    {SWEEP_DELETE_VALUE, PNP_LOCKDOWN_NATIVE,
     TEXT("%SystemPath%\\syswow64\\libusbDspQx.dll")},
    {SWEEP_DELETE_VALUE, PNP_LOCKDOWN_WOW64,
     TEXT("%SystemPath%\\system32\\drivers\\libusbDspQx.sys")},
    {SWEEP_DELETE_VALUE, PNP_LOCKDOWN_WOW64,
     TEXT("%SystemPath%\\system32\\libusbDspQx.dll")},
    {SWEEP_DELETE_VALUE, PNP_LOCKDOWN_WOW64,
     TEXT("%SystemPath%\\syswow64\\libusbDspQx.dll")},
    /* 36-41: enumeration keys once more and libusbDspQx service keys. */
    {SWEEP_DELETE_KEY_TREE,
     TEXT("SYSTEM\\ControlSet001\\Enum\\USB\\VID_3C7E&PID_51B8"), NULL},
    {SWEEP_DELETE_KEY_TREE,
     TEXT("SYSTEM\\ControlSet001\\Services\\libusbDspQx"), NULL},
    {SWEEP_DELETE_KEY_TREE,
     TEXT("SYSTEM\\ControlSet002\\Enum\\USB\\VID_3C7E&PID_51B8"), NULL},
    {SWEEP_DELETE_KEY_TREE,
     TEXT("SYSTEM\\ControlSet002\\Services\\libusbDspQx"), NULL},
    {SWEEP_DELETE_KEY_TREE,
     TEXT("SYSTEM\\CurrentControlSet\\Enum\\USB\\VID_3C7E&PID_51B8"), NULL},
    {SWEEP_DELETE_KEY_TREE,
     TEXT("SYSTEM\\CurrentControlSet\\Services\\libusbDspQx"), NULL},
};
#define SWEEP_ROW_COUNT ARRAYSIZE(g_SweepRows)
static_assert(SWEEP_ROW_COUNT == 41, "the removal table has 41 rows");

/* Applies rows first to end - 1; a registry row goes to every view, the
 * 32-bit view first, before the next row.  File rows only with
 * deletePaths. */
static void ApplyRows(DWORD first, DWORD end, BOOL deletePaths)
{
    for (DWORD row = first; row < end; row++) {
        const SWEEP_ROW *r = &g_SweepRows[row];
        if (r->operation == SWEEP_DELETE_PATH) {
            if (deletePaths)
                DeletePath(r->path);
            continue;
        }
        for (DWORD v = 0; v < REGISTRY_VIEW_COUNT; v++) {
            if (r->operation == SWEEP_DELETE_KEY_TREE)
                DeleteKeyTree(r->path, g_RegistryViews[v]);
            else
                DeleteValue(r->path, r->valueName, g_RegistryViews[v]);
        }
    }
}

/* Deletes the driver store's folders of earlier packages of the device. */
static void SweepDriverStore(void)
{
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
            !TextStartsWith(found.cFileName, DRIVER_STORE_PREFIX))
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
 * first may never be removable again. */
static void UninstallCandidates(void)
{
    for (LONG i = 0; i < g_Candidates.count && i < CANDIDATE_MAX; i++) {
        WCHAR path[SWEEP_PATH_CCH];
        /* Setup gets only the names the shell deletes later; it finds
         * its INF folder where Windows really lives. */
        if (CandidateInfPath(path, g_Candidates.entries[i]))
            UninstallOemInf(g_Candidates.entries[i]);
    }
}

/* Deletes one recorded INF copy and its PNF companion with the shell,
 * which covers a setupapi without the uninstall function and a Setup that
 * refused (Wine 8's also leaves the PNF behind).  What Setup removed, the
 * shell no longer finds. */
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

BOOL RemovalSweep(BOOL windowsAtDefault)
{
    PrivilegeSequence();
    UninstallCandidates();
    if (windowsAtDefault)
        SweepDriverStore();
    ApplyRows(0, SWEEP_ROWS_BEFORE_CANDIDATES, windowsAtDefault);
    if (windowsAtDefault) {
        for (LONG i = 0; i < g_Candidates.count && i < CANDIDATE_MAX; i++)
            DeleteCandidate(g_Candidates.entries[i]);
    }
    ApplyRows(SWEEP_ROWS_BEFORE_CANDIDATES, SWEEP_ROW_COUNT,
              windowsAtDefault);
    return TRUE;
}
