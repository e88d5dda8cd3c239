/*
 * The driver package's file sets, its folder layout, and the operations on
 * the staging folder: existence, comparison, folder creation, copy and
 * pre-installation.  Folder arguments end with a backslash.
 */
#ifndef QX_STAGING_STAGING_H
#define QX_STAGING_STAGING_H

#include "platform/win32.h"

/* Names in a file set; every operation walks them in order. */
#define FILE_SET_SIZE 2

typedef struct FILE_SET {
    LPCWSTR names[FILE_SET_SIZE];
} FILE_SET;

extern const FILE_SET g_InfSet;       /* package and staging folders */
extern const FILE_SET g_DriverSet;    /* amd64 and ia64 folders */
extern const FILE_SET g_X86DriverSet; /* x86 folders */
extern const FILE_SET g_LegacySet;    /* staged older driver, amd64, ia64 */
extern const FILE_SET g_LegacyX86Set; /* staged older driver, x86 */

/* The package layout, the same below the package and staging folders:
 * the folder itself, then one sub-folder per processor architecture. */
typedef enum PACKAGE_AREA_ID {
    AREA_ROOT,
    AREA_AMD64,
    AREA_IA64,
    AREA_X86,
    AREA_COUNT
} PACKAGE_AREA_ID;

typedef struct PACKAGE_AREA {
    LPCWSTR subfolder; /* below the folder, with its backslash */
    const FILE_SET *set;
} PACKAGE_AREA;

extern const PACKAGE_AREA g_PackageAreas[AREA_COUNT];

/* TRUE when both names of set exist in folder (a folder of that name
 * counts); FALSE at the first that does not or whose path would not fit. */
BOOL StagingSetExists(LPCWSTR folder, const FILE_SET *set);

/* TRUE when each name of set has the same last-write time and size in
 * both folders; FALSE when a query fails or anything differs. */
BOOL StagingSameFiles(LPCWSTR source, LPCWSTR destination,
                      const FILE_SET *set);

/* Creates folder with its missing parents.  TRUE: created or already
 * there.  FALSE: reported with errorText and the shell's error, shown as
 * the run's failure (MsgShowFailure). */
BOOL StagingCreateFolder(LPCWSTR folder, LPCWSTR errorText);

/* The staging folder's own DACL: SYSTEM and Administrators full control,
 * inherited by everything below, protected from the inheritance of
 * Program Files (which lets every user read). */
#define STAGING_FOLDER_SDDL TEXT("D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)")

/* As StagingCreateFolder, with STAGING_FOLDER_SDDL given to the folder at
 * its creation, or set on it (propagated to what it holds) when it was
 * already there.  FALSE: reported with errorText and the error number,
 * also when the DACL could not be made or set. */
BOOL StagingCreateSecuredFolder(LPCWSTR folder, LPCWSTR errorText);

/* The package's folders and the files the run copies from them, opened
 * without following links and shared for reading only, so that none can
 * be written, replaced or renamed until the copies are done.  A handle
 * is INVALID_HANDLE_VALUE where that folder or file did not open. */
typedef struct PACKAGE_HOLD {
    HANDLE folders[AREA_COUNT];
    HANDLE files[AREA_COUNT][FILE_SET_SIZE];
} PACKAGE_HOLD;

/* Opens package[area] (folders ending with a backslash) and the files of
 * each area's set into hold, and checks them on their handles.  TRUE:
 * nothing is refused; what did not open is left out of the hold, and its
 * copy fails as a missing file's does.  FALSE: a folder or file is a
 * link the elevated copy would follow (a reparse point whose tag is a
 * name surrogate, such as a junction or symbolic link, or whose tag
 * cannot be read), a file has more than one hard link, a folder is a
 * file or a file a folder, or one could not be examined; hold is then
 * released.  Other reparse points, such as cloud placeholders, pass. */
BOOL StagingHoldPackage(const WCHAR package[AREA_COUNT][MAX_PATH],
                        PACKAGE_HOLD *hold);

/* Closes every handle of hold. */
void StagingReleasePackage(PACKAGE_HOLD *hold);

/* Copies both names of set, overwriting, each only when held[i] holds it
 * open (so nothing that was not checked is ever copied).  TRUE: both
 * copied.  FALSE at the first that is not held or fails to copy, with
 * the Windows error of why as the last error (ERROR_SUCCESS when no call
 * tells); the log gets which file, nothing is reported. */
BOOL StagingCopySet(LPCWSTR source, LPCWSTR destination, const FILE_SET *set,
                    const HANDLE held[FILE_SET_SIZE]);

/* Units of the name Windows gives a pre-installed INF. */
#define OEM_INF_NAME_CCH 128

/* The INF Windows made of the package at the last pre-installation (its
 * full path, C:\Windows\INF\oemNN.inf); empty before one, or after a
 * refusal. */
extern WCHAR g_PreinstalledInf[OEM_INF_NAME_CCH];

/* Pre-installs the package INF staged in stagingFolder with
 * SetupCopyOEMInfW, into g_PreinstalledInf; where Setup refuses a 32-bit
 * caller (ERROR_IN_WOW64), the native pnputil does it (PnputilAdd).
 * TRUE: Windows took it.
 * FALSE: reported with the error number, and shown as the run's failure
 * (MsgShowFailure). */
BOOL StagingPreinstall(LPCWSTR stagingFolder);

#endif
