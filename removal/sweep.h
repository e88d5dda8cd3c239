/*
 * The removal sweep: deletes, in one fixed order, what older installations
 * of the device's driver left on the machine.
 */
#ifndef QX_REMOVAL_SWEEP_H
#define QX_REMOVAL_SWEEP_H

#include "platform/win32.h"

/* Runs every step whatever the earlier ones achieved, reading the
 * candidate INF list.  Always TRUE. */
BOOL RemovalSweep(void);

#endif
