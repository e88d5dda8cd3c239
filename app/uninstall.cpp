#include "app/uninstall.h"

#include "discovery/scans.h"
#include "platform/runlog.h"
#include "platform/wtext.h"
#include "removal/primitives.h"
#include "staging/uninstall_entry.h"

/* The driver itself: no removal row names it, and Setup's uninstall
 * leaves it in System32\drivers. */
#define DRIVER_FILE SYSTEM32_FOLDER TEXT("drivers\\libusbDspQx.sys")

/* What else the uninstall met, beside the sweep's report. */
typedef struct UNINSTALL_TALLY {
    BOOL restart; /* something goes only at the next restart */
    BOOL removed; /* something was removed */
} UNINSTALL_TALLY;

/* The staging folder, the entry, then the copy, once the driver is gone:
 * each stays while something before it did not go, so that a later run
 * can still finish the job.  FALSE: shown as the run's failure. */
static BOOL RemoveWhatTheInstallLeft(const ERROR_TEXTS *errors,
                                     UNINSTALL_TALLY *tally)
{
    STAGING_DELETE staging = RunDeleteStagingFolder(errors);
    if (staging == STAGING_KEPT) {
        MsgShowFailure(GetLastError());
        return FALSE;
    }
    tally->removed = tally->removed || staging == STAGING_DELETED;
    tally->removed = UninstallEntryDelete() || tally->removed;
    WCHAR copy[MAX_PATH];
    if (!RunProgramFilesPath(copy, RUN_INSTALLED_COPY))
        return TRUE;
    /* The run's own hold on its image would keep the copy from going
     * when the uninstall runs from it. */
    if (g_Run.image != INVALID_HANDLE_VALUE) {
        CloseHandle(g_Run.image);
        g_Run.image = INVALID_HANDLE_VALUE;
    }
    /* A copy set aside goes at the restart, but the driver is gone now:
     * no restart is needed for it. */
    COPY_END end = InstalledCopyDelete(copy);
    tally->removed =
        tally->removed || end == COPY_DELETED || end == COPY_SET_ASIDE;
    return TRUE;
}

RUN_END UninstallStages(const ERROR_TEXTS *errors)
{
    if (g_Messages.unattended)
        RunSetupNonInteractive();
    if (!RunProgramFilesPath(g_Run.staging[AREA_ROOT], RUN_STAGING_FOLDER)) {
        MsgAppendDetail(errors->findFolder);
        MsgShowFailure(GetLastError());
        return OUTCOME_FAILURE;
    }
    RunLog(TEXT("Uninstall; staging folder: %s"), g_Run.staging[AREA_ROOT]);

    /* Every version, XP included: the package's own INF never names
     * libusb0, which is what an install run on XP looks for. */
    PrivilegeSequence();
    BOOL legacyDriver = TRUE;
    DiscoveryRunAll(&legacyDriver, g_Run.windowsAtDefault);
    SWEEP_SETTINGS settings;
    RunSweepSettings(&settings);
    SWEEP_REPORT report = {};
    RemovalSweep(&settings, &report);
    if (report.refused != 0) {
        MsgAppendDetail(errors->uninstallPackage);
        MsgShowFailure(report.refusalError);
        return OUTCOME_FAILURE;
    }

    UNINSTALL_TALLY tally = {report.pluggedIn != 0, FALSE};
    BOOL stuck = FALSE;
    if (g_Run.windowsAtDefault) {
        SYSTEM_FILE_END driver = DeleteSystemFile(
            DRIVER_FILE, System32Access(g_Run.machine.wow64, g_Run.preVista),
            TRUE, &stuck);
        tally.restart = tally.restart || driver == SYSTEM_FILE_SCHEDULED;
        tally.removed = driver == SYSTEM_FILE_DELETED;
    }
    if (!RemoveWhatTheInstallLeft(errors, &tally))
        return OUTCOME_FAILURE;

    /* Run again, the uninstall finds nothing: a fleet's retry is no
     * failure. */
    MsgShow(g_Messages.success);
    if (tally.restart)
        return OUTCOME_UNINSTALLED_RESTART;
    return tally.removed || g_RemovalDeletions != 0 ? OUTCOME_UNINSTALLED
                                                    : OUTCOME_NOTHING_TO_REMOVE;
}
