/*
 * What the run reads of a package INF, through Setup's own INF parser:
 * its version and provider for Apps & features, and whether it has a
 * driver for ARM64.
 */
#ifndef QX_STAGING_PACKAGE_INF_H
#define QX_STAGING_PACKAGE_INF_H

#include "platform/win32.h"

/* Units of a field the run reads (a version, a provider's name). */
#define INF_FIELD_CCH 128

typedef struct PACKAGE_INF_VERSION {
    WCHAR version[INF_FIELD_CCH];  /* DriverVer's version, "1.2.6.0" */
    WCHAR provider[INF_FIELD_CCH]; /* Provider, its %strkey% resolved */
} PACKAGE_INF_VERSION;

/* Reads [Version]'s DriverVer (field 2, the version; field 1 is the date)
 * and Provider (field 1) of the INF at path into *info, either left empty
 * where the INF lacks it or it does not fit.  FALSE: Setup could not open
 * the INF (both empty). */
BOOL PackageInfReadVersion(LPCWSTR path, PACKAGE_INF_VERSION *info);

/* TRUE when a [Manufacturer] line of the INF at path names an NTarm64
 * models section (its field 2 or later, without case, NTarm64 or
 * NTarm64.<anything>).  FALSE when none does, or Setup cannot open or
 * read the INF. */
BOOL PackageInfNamesArm64(LPCWSTR path);

#endif
