/*
 * Functions looked up at run time in the system's own DLLs.
 */
#ifndef QX_PLATFORM_SYSTEM_DLL_H
#define QX_PLATFORM_SYSTEM_DLL_H

#include "platform/win32.h"

/* The address of function name in the system DLL library (a file name such
 * as "setupapi.dll"), loaded the first time from the system folder by its
 * full path and kept loaded for the rest of the run.  NULL when the DLL or
 * the function cannot be had, with the last error set. */
FARPROC SystemDllProc(LPCWSTR library, LPCSTR name);

/* Forgets the DLLs kept so far without freeing them, for a process whose
 * modules all went at once (the host tests' fresh machines). */
void SystemDllForget(void);

#endif
