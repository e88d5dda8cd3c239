/*
 * The system DLLs the run looks functions up in (advapi32, setupapi,
 * cfgmgr32) or loads before anything else could (ntmarta): each loaded
 * once, from the system folder by its full path, and kept loaded until
 * the process ends.
 */
#ifndef QX_PLATFORM_SYSTEM_DLL_H
#define QX_PLATFORM_SYSTEM_DLL_H

#include "platform/win32.h"

/* Libraries the run keeps loaded, at most; it names four. */
#define SYSTEM_DLL_MAX 4
/* A library's file name and its terminator ("setupapi.dll"). */
#define SYSTEM_DLL_NAME_CCH 16
/* Setup's library: every Setup function the run calls is looked up in it. */
#define SETUPAPI_DLL TEXT("setupapi.dll")

typedef struct SYSTEM_DLL {
    WCHAR name[SYSTEM_DLL_NAME_CCH];
    HMODULE module;
} SYSTEM_DLL;

/* The libraries loaded so far, process-wide, empty at start. */
typedef struct SYSTEM_DLL_TABLE {
    DWORD count;
    SYSTEM_DLL dlls[SYSTEM_DLL_MAX];
} SYSTEM_DLL_TABLE;
extern SYSTEM_DLL_TABLE g_SystemDlls;

/* The address of function name in the system DLL library (a file name such
 * as "setupapi.dll"), loaded the first time from the system folder by its
 * full path and kept loaded for the rest of the run.  NULL when the DLL or
 * the function cannot be had, with the last error set. */
FARPROC SystemDllProc(LPCWSTR library, LPCSTR name);

/* Loads the system DLL library as SystemDllProc does, keeping it for the
 * run.  TRUE: loaded.  FALSE: it cannot be had, with the last error set. */
BOOL SystemDllLoad(LPCWSTR library);

#endif
