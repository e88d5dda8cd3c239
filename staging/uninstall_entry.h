/*
 * What an install run leaves for its uninstall: a copy of the installer
 * beside the run lock, and an entry in Apps & features (Programs and
 * Features, Add or Remove Programs) that starts it with /uninstall.
 */
#ifndef QX_STAGING_UNINSTALL_ENTRY_H
#define QX_STAGING_UNINSTALL_ENTRY_H

#include "platform/win32.h"

/* The entry, below HKEY_LOCAL_MACHINE in the 32-bit view, where a 32-bit
 * program's entries are (WOW6432Node on 64-bit Windows). */
#define UNINSTALL_ENTRY_KEY                                                  \
    TEXT("SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\")       \
    TEXT("QxDspDriver")

/* The copy's own DACL: SYSTEM and Administrators full control, Users read
 * and execute, protected from the vendor folder's inheritance, so that no
 * user can put another program where SYSTEM will later run it from. */
#define INSTALLED_COPY_SDDL                                                  \
    TEXT("D:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;0x1200a9;;;BU)")

/* Makes the file copy hold what the open image holds, with
 * INSTALLED_COPY_SDDL: an existing copy that differs is replaced (the new
 * one written beside it first, then renamed over it).  TRUE: in place,
 * written or already the same.  FALSE: not written; an existing copy is
 * as it was. */
BOOL InstalledCopyWrite(HANDLE image, LPCWSTR copy);

/* What the entry says; a NULL or empty version or publisher is left out. */
typedef struct UNINSTALL_ENTRY {
    LPCWSTR displayName;
    LPCWSTR version;   /* the package INF's DriverVer version */
    LPCWSTR publisher; /* its Provider */
    LPCWSTR copy;      /* the installed copy, which the commands start */
    LPCWSTR stagingFolder;
    DWORD sizeKb;      /* the staged package and the copy */
} UNINSTALL_ENTRY;

/* Writes the entry, deleting what an earlier one had that this one leaves
 * out.  TRUE: every value written.  FALSE: the key or a value could not
 * be written (what was written stays). */
BOOL UninstallEntryWrite(const UNINSTALL_ENTRY *entry);

/* Deletes the entry.  TRUE: deleted.  FALSE: it was not there, or stays
 * (logged). */
BOOL UninstallEntryDelete(void);

/* How the uninstall ends with the copy it may be running from. */
typedef enum COPY_END {
    COPY_DELETED,
    COPY_ABSENT,
    COPY_SET_ASIDE, /* running: renamed aside, deleted at the next restart */
    COPY_STAYS
} COPY_END;

/* Removes the copy: deleted, or, where that fails (Windows keeps a running
 * image), renamed aside under a unique name in its folder and that name
 * scheduled for deletion at the next restart; never the copy's own name,
 * which an install run before the restart writes again. */
COPY_END InstalledCopyDelete(LPCWSTR copy);

#endif
