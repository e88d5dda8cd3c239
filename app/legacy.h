/*
 * The legacy stage: decides whether an older libusb0-based installation
 * must be removed, finds what it left and removes it, before the run
 * stages the current package.
 */
#ifndef QX_APP_LEGACY_H
#define QX_APP_LEGACY_H

#include "platform/win32.h"

/* Runs the stage on g_Run.  TRUE: the run goes on.  FALSE: the run ends
 * with exit code 0 (the stage has shown what it had to). */
BOOL LegacyStage(void);

#endif
