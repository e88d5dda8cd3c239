/*
 * What the run is on: a 32-bit process on 64-bit Windows or not, and the
 * machine's own processor, read once.
 */
#ifndef QX_PLATFORM_WOW64_H
#define QX_PLATFORM_WOW64_H

#include "platform/win32.h"

typedef struct WOW64_INFO {
    /* A 32-bit process on 64-bit Windows: Windows redirects what it names
     * below System32 to SysWOW64. */
    BOOL wow64;
    /* The machine's processor (IMAGE_FILE_MACHINE_I386, _AMD64, _ARM64);
     * IMAGE_FILE_MACHINE_UNKNOWN where only IsWow64Process answered and
     * said wow64, or nothing answered. */
    USHORT nativeMachine;
} WOW64_INFO;

/* Fills *info: IsWow64Process2 (Windows 10 1511 on) where it answers,
 * else IsWow64Process (XP SP2 on), both looked up.  TRUE: one answered.
 * FALSE: neither did; *info then says 32-bit Windows, machine unknown. */
BOOL Wow64Read(WOW64_INFO *info);

#endif
