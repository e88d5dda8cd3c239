/*
 * The removal sweep: deletes, in one fixed order, what older installations
 * of the device's driver left on the machine.
 */
#ifndef QX_REMOVAL_SWEEP_H
#define QX_REMOVAL_SWEEP_H

#include "platform/win32.h"

/* Runs every step whatever the earlier ones achieved, reading the
 * candidate INF list and the pre-Vista flag; leaves libusb0's rows out
 * while anything else uses libusb0 (Libusb0Shared).  From Vista on, what
 * Setup refuses to uninstall stays whole (its INF, PNF and store folder),
 * and no store folder is deleted by hand when Setup refused one whose
 * store folder it did not name.  Unless windowsAtDefault (Windows lives in
 * C:\Windows), nothing under C:\Windows is searched or deleted: the
 * driver store, the file rows and the candidates' INF and PNF files are
 * skipped, and the candidates only go through Setup's uninstall.  Always
 * TRUE. */
BOOL RemovalSweep(BOOL windowsAtDefault);

#endif
