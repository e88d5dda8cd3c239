/*
 * The installer run: one pass from start to exit on the main thread,
 * reporting through message boxes only.
 */
#ifndef QX_APP_RUN_H
#define QX_APP_RUN_H

#include "platform/win32.h"
#include "staging/staging.h"
#include "ui/window.h"

/* How long the final pump waits for a message of the thread, in
 * milliseconds: the process never outlives its last box by more. */
#define RUN_PUMP_WAIT_MS 1000

/* The run's process-wide state, zero at start. */
typedef struct RUN_STATE {
    BOOL preVista;     /* OS major version below 6 */
    BOOL legacyDriver; /* an older libusb0-based installation must go */
    WCHAR title[UI_NAME_CCH];
    WCHAR className[UI_NAME_CCH];
    HACCEL accelerators;
    /* Package and staging folders, indexed by PACKAGE_AREA_ID; every one
     * ends with a backslash. */
    WCHAR package[AREA_COUNT][MAX_PATH];
    WCHAR staging[AREA_COUNT][MAX_PATH];
} RUN_STATE;
extern RUN_STATE g_Run;

/* The whole run.  Returns the process exit code: 0 on every early end,
 * otherwise the wParam of the one message the final pump retrieved. */
int InstallerRun(HINSTANCE hInstance);

#endif
