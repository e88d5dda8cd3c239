/*
 * Source lists for SHFileOperationW: one path followed by two zero units,
 * since the shell reads a list of strings ended by an empty one.
 */
#ifndef QX_PLATFORM_SHELL_LIST_H
#define QX_PLATFORM_SHELL_LIST_H

#include "platform/win32.h"

/* Longest path a shell list takes, in units: MAX_PATH less the
 * terminator.  A longer path is refused, never cut into another path. */
#define SHELL_LIST_PATH_MAX_CCH (MAX_PATH - 1)

/* A zero-filled heap block holding path and both terminators.  Returns
 * NULL when path is empty, longer than SHELL_LIST_PATH_MAX_CCH, or the
 * block could not be had.  The block is not freed: the process is
 * short-lived. */
LPWSTR ShellListNew(LPCWSTR path);

/* FO_DELETE of path with flags, no window and no destination.  Returns
 * the shell's result, or, when no list could be built and nothing was
 * deleted, ERROR_INVALID_PARAMETER (empty path), ERROR_FILENAME_EXCED_RANGE
 * (too long) or ERROR_NOT_ENOUGH_MEMORY. */
int ShellDelete(LPCWSTR path, FILEOP_FLAGS flags);

#endif
