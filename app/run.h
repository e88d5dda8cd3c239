/*
 * The installer run: one pass from start to exit on the main thread,
 * reporting through message boxes only.
 */
#ifndef QX_APP_RUN_H
#define QX_APP_RUN_H

#include "app/cmdline.h"
#include "app/messages.h"
#include "app/runlock.h"
#include "platform/win32.h"
#include "platform/wow64.h"
#include "removal/sweep.h"
#include "staging/staging.h"
#include "ui/window.h"

/* How long the final pump waits for a message of the thread, in
 * milliseconds: the process never outlives its last box by more. */
#define RUN_PUMP_WAIT_MS 1000

/* How long a run that is quiet, or that nobody sees, waits for another
 * run before it ends with ERROR_INSTALL_ALREADY_RUNNING, none of its work
 * done; a person's run waits without a limit. */
#define RUN_UNATTENDED_WAIT_MS (5 * 60 * 1000)

/* Below Program Files: the staging folder, and the copy of the installer
 * an uninstall runs from, beside the run lock; each with its backslashes. */
#define RUN_STAGING_FOLDER RUN_VENDOR_FOLDER TEXT("DriverQxDsp\\")
#define RUN_INSTALLED_COPY RUN_VENDOR_FOLDER TEXT("QxDspInstaller.exe")

/* The log a run appends to by default: in the Windows folder, beside
 * where DPInst writes its own. */
#define RUN_LOG_NAME TEXT("QxDspInstaller.log")

/* The run's process-wide state, zero at start. */
typedef struct RUN_STATE {
    CMDLINE cmdline;
    BOOL seen;         /* a user can see the run's boxes (not quiet alone) */
    BOOL preVista;     /* OS major version below 6 */
    BOOL vista;        /* Windows 6.0 */
    BOOL legacyDriver; /* an older libusb0-based installation must go */
    WOW64_INFO machine; /* read once, before the run lock */
    WCHAR title[UI_NAME_CCH];
    WCHAR className[UI_NAME_CCH];
    HACCEL accelerators;
    /* Package and staging folders, indexed by PACKAGE_AREA_ID; every one
     * ends with a backslash. */
    WCHAR package[AREA_COUNT][MAX_PATH];
    WCHAR staging[AREA_COUNT][MAX_PATH];
    /* Where Windows lives (GetSystemWindowsDirectoryW), read once; empty
     * when it could not be read. */
    WCHAR windows[MAX_PATH];
    WCHAR logPath[MAX_PATH]; /* the log this run appends to */
    BOOL windowsAtDefault;   /* Windows lives in C:\Windows */
    /* The run's own image (GetModuleFileNameW), empty when it could not
     * be had (moduleError), and the image opened sharing reading only,
     * so that nobody can rename or replace it while the run copies it;
     * INVALID_HANDLE_VALUE where it did not open. */
    WCHAR module[MAX_PATH];
    DWORD moduleError;
    HANDLE image;
} RUN_STATE;
extern RUN_STATE g_Run;

/* How a run ends; each has its exit code. */
typedef enum RUN_END {
    OUTCOME_SUCCESS, /* the success text, the silent re-registration, the
                        early end of XP: 0 */
    OUTCOME_RESTART, /* the restart notice: ERROR_SUCCESS_REBOOT_REQUIRED */
    OUTCOME_FAILURE, /* a failure shown (MsgShowFailure): its Windows
                        error, or ERROR_INSTALL_FAILURE without one or for
                        one a deployment tool would misread */
    OUTCOME_BUSY,    /* another run still held the lock after the bounded
                        wait: ERROR_INSTALL_ALREADY_RUNNING */
    OUTCOME_USAGE,   /* /? and the like: 0 */
    OUTCOME_BAD_COMMAND_LINE, /* ERROR_INVALID_COMMAND_LINE */
    OUTCOME_UNINSTALLED,      /* the uninstall removed it all: 0 */
    OUTCOME_UNINSTALLED_RESTART, /* ... but for what goes at the next
                                    restart: ERROR_SUCCESS_REBOOT_REQUIRED */
    OUTCOME_NOTHING_TO_REMOVE, /* the uninstall found nothing: 0 */
    OUTCOME_COUNT
} RUN_END;

/* The whole run, its command line read with GetCommandLineW.  Returns
 * the process exit code of its outcome (RUN_END). */
int InstallerRun(HINSTANCE hInstance);

/* Steps the install and the uninstall run share. */

/* Tells Setup to ask nothing, for a run nobody can answer. */
void RunSetupNonInteractive(void);

/* The sweep's settings for this run. */
void RunSweepSettings(SWEEP_SETTINGS *settings);

typedef enum STAGING_DELETE {
    STAGING_DELETED,
    STAGING_ABSENT, /* nothing was there */
    STAGING_KEPT    /* reported: the detail and the error number appended
                       to the failure text, not shown */
} STAGING_DELETE;

/* Deletes the staging folder with everything in it, asking nothing of a
 * run nobody watches. */
STAGING_DELETE RunDeleteStagingFolder(const ERROR_TEXTS *errors);

#endif
