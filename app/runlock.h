/*
 * The run lock: one run at a time on a machine, whoever starts it (a
 * user's double-click, an administrator, a deployment tool as SYSTEM).
 * The lock is a file below Program Files opened sharing nothing, which
 * only administrators and SYSTEM can create or open there; the process's
 * end, killed or not, closes it for the next run.
 */
#ifndef QX_APP_RUNLOCK_H
#define QX_APP_RUNLOCK_H

#include "platform/win32.h"

/* The vendor's folder below Program Files, with both backslashes: it
 * holds the lock file and the staging folder. */
#define RUN_VENDOR_FOLDER TEXT("\\Quorvantix\\")

/* The lock file in the vendor's folder.  It is empty and never deleted:
 * a file deleted on close would refuse the next opener while its
 * deletion is pending. */
#define RUN_LOCK_FILE_NAME TEXT("QxDspInstaller.lock")

/* The lock file's own descriptor, given when a run creates it: owned by
 * the Administrators group (so that every administrator's run, and
 * SYSTEM's, knows it for a run's, whatever account made it), SYSTEM and
 * Administrators full control, protected from the folder's inheritance. */
#define RUN_LOCK_SDDL TEXT("O:BAD:P(A;;FA;;;SY)(A;;FA;;;BA)")

/* How long a waiting run sleeps between two tries. */
#define RUN_LOCK_RETRY_MS 250

typedef enum RUN_LOCK_RESULT {
    RUN_LOCK_HELD,     /* this run holds the lock until it ends */
    RUN_LOCK_UNLOCKED, /* no lock could be had (or someone else's file): go on unlocked */
    RUN_LOCK_BUSY      /* another run still held it after maxWaitMs */
} RUN_LOCK_RESULT;

/* Takes the run lock, waiting at most maxWaitMs (INFINITE: without a limit). */
RUN_LOCK_RESULT RunLockTake(DWORD maxWaitMs);

/* Program Files as the 32-bit process sees it (on 64-bit Windows the
 * folder for 32-bit programs) followed by below, into path (MAX_PATH
 * units).  TRUE: done.  FALSE: Program Files is unknown or the path would
 * not fit. */
BOOL RunProgramFilesPath(LPWSTR path, LPCWSTR below);

#endif
