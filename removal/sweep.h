/*
 * The removal sweep: deletes, in one fixed order, what older installations
 * of the device's driver left on the machine.
 */
#ifndef QX_REMOVAL_SWEEP_H
#define QX_REMOVAL_SWEEP_H

#include "platform/win32.h"

/* What the sweep needs to know of the run. */
typedef struct SWEEP_SETTINGS {
    /* Windows lives in C:\Windows: otherwise nothing under it is searched
     * or deleted (the driver store, the file rows and the candidates' INF
     * and PNF files are skipped), and the candidates only go through
     * Setup's uninstall. */
    BOOL windowsAtDefault;
    BOOL preVista; /* XP: no driver store; every candidate goes by hand */
    /* A 32-bit process on 64-bit Windows: the rows naming System32 reach
     * the native folder (DeleteSystemFile), and on Vista, where the
     * driver store too is redirected to SysWOW64, the store's folders are
     * left to Setup. */
    BOOL wow64;
    BOOL vista; /* Windows 6.0 */
} SWEEP_SETTINGS;

/* What the sweep met that a run reports. */
typedef struct SWEEP_REPORT {
    /* Candidates Setup refused to uninstall (Vista on: on XP they go by
     * hand), and Setup's error for the first of them. */
    DWORD refused;
    DWORD refusalError;
    /* Earlier instances of the device plugged in now, left alone. */
    DWORD pluggedIn;
} SWEEP_REPORT;

/* Runs every step whatever the earlier ones achieved, reading the
 * candidate INF list; leaves libusb0's rows out while anything else uses
 * libusb0 (Libusb0Shared).  From Vista on, what Setup refuses to
 * uninstall stays whole (its INF, PNF and store folder), and no store
 * folder is deleted by hand when Setup refused one whose store folder it
 * did not name.  Fills *report (zeroed by the caller).  Always TRUE. */
BOOL RemovalSweep(const SWEEP_SETTINGS *settings, SWEEP_REPORT *report);

#endif
