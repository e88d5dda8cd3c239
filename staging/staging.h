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
 * there.  FALSE: reported with errorText and the shell's error. */
BOOL StagingCreateFolder(LPCWSTR folder, LPCWSTR errorText);

/* Copies both names of set, overwriting.  TRUE: both copied.  FALSE at
 * the first copy that fails; nothing is reported. */
BOOL StagingCopySet(LPCWSTR source, LPCWSTR destination, const FILE_SET *set);

/* Pre-installs the package INF staged in stagingFolder with
 * SetupCopyOEMInfW.  TRUE: Windows took it.  FALSE: reported with the
 * error number. */
BOOL StagingPreinstall(LPCWSTR stagingFolder);

#endif
