/*
 * Whether anything but the device uses the libusb0 driver, which many
 * other products install too.  It reads the registry and changes nothing.
 */
#ifndef QX_DISCOVERY_SHARED_DRIVER_H
#define QX_DISCOVERY_SHARED_DRIVER_H

#include "platform/win32.h"

/* Reads CurrentControlSet's USB device instances (but the device's own)
 * and device setup classes, in the 32-bit and then the 64-bit view.
 * TRUE: one runs libusb0 as its service or filter, or the walk could not
 * tell (a key that cannot be read, or more keys than it reads).  FALSE:
 * nothing else uses libusb0. */
BOOL Libusb0Shared(void);

#endif
