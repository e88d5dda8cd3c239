#include "platform/wow64.h"

BOOL Wow64Read(WOW64_INFO *info)
{
    info->wow64 = FALSE;
    info->nativeMachine = IMAGE_FILE_MACHINE_UNKNOWN;
    HMODULE kernel32 = GetModuleHandleW(TEXT("kernel32.dll"));
    if (kernel32 == NULL)
        return FALSE;
    /* Only IsWow64Process2 tells an x86 program on ARM64 Windows that it
     * runs under WOW64: IsWow64Process answers FALSE there. */
    FARPROC proc = GetProcAddress(kernel32, "IsWow64Process2");
    USHORT process = IMAGE_FILE_MACHINE_UNKNOWN;
    USHORT native = IMAGE_FILE_MACHINE_UNKNOWN;
    if (proc != NULL &&
        ((PFN_IS_WOW64_PROCESS2)(void (*)(void))proc)(GetCurrentProcess(),
                                                       &process, &native)) {
        info->wow64 = process != IMAGE_FILE_MACHINE_UNKNOWN;
        info->nativeMachine = native;
        return TRUE;
    }
    proc = GetProcAddress(kernel32, "IsWow64Process");
    BOOL wow64 = FALSE;
    if (proc == NULL ||
        !((PFN_IS_WOW64_PROCESS)(void (*)(void))proc)(GetCurrentProcess(),
                                                     &wow64))
        return FALSE;
    info->wow64 = wow64;
    /* 64-bit Windows before 1511 runs on x64 or Itanium: not told. */
    info->nativeMachine = wow64 ? IMAGE_FILE_MACHINE_UNKNOWN
                                : IMAGE_FILE_MACHINE_I386;
    return TRUE;
}
