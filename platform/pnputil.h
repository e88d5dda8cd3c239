/*
 * The native pnputil, for the jobs Setup refuses a 32-bit caller on 64-bit
 * Windows (ERROR_IN_WOW64): started from Sysnative (Vista and later) in
 * its legacy syntax, which Vista through 11 accept, with no window and
 * its output pipe the one handle it inherits; its output goes into the
 * run's log, and its wait is bounded.  Its exit code decides: 0, and 3010
 * (ERROR_SUCCESS_REBOOT_REQUIRED: the package was handled, a restart
 * completes it), count as done.
 */
#ifndef QX_PLATFORM_PNPUTIL_H
#define QX_PLATFORM_PNPUTIL_H

#include "platform/win32.h"

/* How long pnputil may run before it is ended, in milliseconds. */
#define PNPUTIL_WAIT_MS (2 * 60 * 1000)
/* How long one wait for its end lasts between reads of its output. */
#define PNPUTIL_SLICE_MS 100
/* Bytes of its output kept for the log; what follows is read and dropped. */
#define PNPUTIL_OUTPUT_CB 4096

/* pnputil -a INF: adds inf's package to the driver store; the oemNN.inf
 * its output names goes into published (cchPublished units) as the path
 * of Windows' INF folder's copy, empty when the output names none.
 * TRUE: done.  FALSE: the last error is pnputil's exit code, or the error
 * of what kept it from running to its end (ERROR_TIMEOUT: ended after
 * PNPUTIL_WAIT_MS), or ERROR_INSUFFICIENT_BUFFER for a path that would
 * not fit. */
BOOL PnputilAdd(LPCWSTR inf, LPWSTR published, DWORD cchPublished);

/* pnputil -f -d NAME: deletes the installed INF copy name (oemNN.inf) and
 * its package, even while a device uses it.  TRUE: done.  FALSE: as for
 * PnputilAdd. */
BOOL PnputilDelete(LPCWSTR name);

#endif
