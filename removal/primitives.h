/*
 * Privileged deletion primitives of the removal sweep: privileges, shell
 * deletion of files and folders, registry values and key trees.  None of
 * them reports anything to the user.
 */
#ifndef QX_REMOVAL_PRIMITIVES_H
#define QX_REMOVAL_PRIMITIVES_H

#include "platform/win32.h"

/* Enables privilege name in the process token.  FALSE only when the
 * adjustment left an error (the token lacks it); TRUE otherwise, also
 * when the token cannot be opened or the name is unknown. */
BOOL EnablePrivilege(LPCWSTR name);

/* Enables the backup privilege and, only when that returned TRUE, the
 * restore and debug privileges. */
void PrivilegeSequence(void);

/* Deletes a file, or a folder with its contents, through the shell.
 * TRUE: the shell returned 0 or DE_INVALIDFILES.  FALSE: any other
 * result, or a path too long to hand over whole (nothing is deleted). */
BOOL DeletePath(LPCWSTR path);

/* Where the file rows name the 64-bit System32 ("C:\Windows\System32\"). */
#define SYSTEM32_FOLDER TEXT("C:\\Windows\\System32\\")

/* How the run reaches a file of System32 (SYSTEM32_FOLDER). */
typedef enum SYSTEM32_ACCESS {
    SYSTEM32_DIRECT,       /* 32-bit Windows: System32 is the one folder */
    SYSTEM32_SYSNATIVE,    /* WOW64 from Vista on: as Sysnative */
    SYSTEM32_UNREDIRECTED, /* WOW64 on XP x64: the redirector turned off */
} SYSTEM32_ACCESS;

/* The access of a run under WOW64 (wow64) or not, before Vista or not. */
SYSTEM32_ACCESS System32Access(BOOL wow64, BOOL preVista);

typedef enum SYSTEM_FILE_END {
    SYSTEM_FILE_DELETED,
    SYSTEM_FILE_ABSENT,    /* nothing was there */
    SYSTEM_FILE_SCHEDULED, /* in use: deleted at the next restart */
    SYSTEM_FILE_STAYS
} SYSTEM_FILE_END;

/* Deletes the file path names in System32 (path begins with
 * SYSTEM32_FOLDER) where the machine's own system keeps it, as access
 * says (a 32-bit process would reach SysWOW64's otherwise): DeleteFileW
 * with a read-only attribute cleared first, or, unredirected, with the
 * redirector off around the DeleteFileW alone (a read-only file stays).
 * With schedule, a file in use is scheduled for deletion at the next
 * restart (MOVEFILE_DELAY_UNTIL_REBOOT) under its System32 name.  Logs
 * the path it reached.  *stuck is set when the redirector could not be
 * turned on again, after which no file may be touched this run. */
SYSTEM_FILE_END DeleteSystemFile(LPCWSTR path, SYSTEM32_ACCESS access,
                                 BOOL schedule, BOOL *stuck);

/* How many deletions the functions here made this run, counted where
 * they log one: the uninstall run tells "nothing to remove" by it. */
extern DWORD g_RemovalDeletions;

/* Uninstalls the INF copy C:\Windows\INF\name through Setup
 * (SetupUninstallOEMInfW, forced): with its PNF and catalogue, and from
 * Vista on its driver-store package; where Setup refuses a 32-bit caller
 * (ERROR_IN_WOW64), the native pnputil does it (PnputilDelete).  TRUE:
 * uninstalled.  FALSE: Setup (or pnputil) refused, as for a name that is
 * not installed, or this Windows lacks the function; the last error says
 * which (pnputil's exit code for pnputil). */
BOOL UninstallOemInf(LPCWSTR name);

/* Asks Setup (SetupGetInfDriverStoreLocationW, Vista and later) for the
 * driver-store folder of the installed INF copy name, and puts the
 * folder's own name (the last part of its path) into folder, cchFolder
 * units.  TRUE: learnt.  FALSE: the function is missing or failed, or its
 * answer names no folder that fits; folder is empty. */
BOOL DriverStoreFolderOf(LPCWSTR name, LPWSTR folder, DWORD cchFolder);

typedef enum DEVICE_END {
    DEVICE_UNINSTALLED,
    DEVICE_PLUGGED_IN, /* left alone: its driver stays loaded until then */
    DEVICE_KEPT        /* not found, refused, or no Configuration Manager */
} DEVICE_END;

/* Has Configuration Manager forget the device instance deviceId when it
 * is not plugged in (CM_Uninstall_DevNode on what the phantom lookup
 * found), and tells which of the three ends it met: DEVICE_KEPT too when
 * neither cfgmgr32.dll nor setupapi.dll has the functions. */
DEVICE_END UninstallPhantomDevice(LPWSTR deviceId);

/* Deletes HKLM\path with every sub-key and value, in view.  TRUE: the
 * top key was deleted (or, without RegDeleteKeyExW, it opened).  FALSE
 * otherwise. */
BOOL DeleteKeyTree(LPCWSTR path, REGSAM view);

/* Deletes the named values of an open key, in passes that each collect
 * up to 30 names from index 0 and then delete them, until a pass deletes
 * nothing (so 30 values that refuse deletion, read first, end it early).
 * The default value stays, and so do values whose names are longer than
 * 255 units.  Always TRUE. */
BOOL ClearValues(HKEY key);

/* Deletes value name of HKLM\path in view.  FALSE: the key did not open;
 * TRUE otherwise, whether or not the value was there. */
BOOL DeleteValue(LPCWSTR path, LPCWSTR name, REGSAM view);

/* TRUE when HKLM\path opens in view for reading (RegistryOpenToRead). */
BOOL KeyExists(LPCWSTR path, REGSAM view);

#endif
