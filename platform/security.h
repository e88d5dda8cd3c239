/*
 * Security descriptors the run gives what it creates (the run lock, the
 * staging folder, the installer's copy): without one, an object gets its
 * creator's default DACL, and a SYSTEM run's would refuse an administrator.
 */
#ifndef QX_PLATFORM_SECURITY_H
#define QX_PLATFORM_SECURITY_H

#include "platform/win32.h"

/* Fills *sa with the descriptor sddl describes, not inheritable, so that
 * no child process gets a handle made with it.  TRUE: made; the caller
 * frees sa->lpSecurityDescriptor with LocalFree.  FALSE: not made, with
 * the last error set. */
BOOL SecurityAttributesFromSddl(LPCWSTR sddl, SECURITY_ATTRIBUTES *sa);

#endif
