/*
 * The uninstall run (/uninstall): removes what the install run installed
 * and left, with the install run's own discovery and removal, and
 * installs nothing.
 */
#ifndef QX_APP_UNINSTALL_H
#define QX_APP_UNINSTALL_H

#include "app/run.h"

/* The uninstall's work, once it holds the run lock (or goes on unlocked),
 * on g_Run.  Returns its outcome: OUTCOME_UNINSTALLED,
 * OUTCOME_UNINSTALLED_RESTART (a device plugged in, or a file to go at
 * the next restart), OUTCOME_NOTHING_TO_REMOVE, or OUTCOME_FAILURE (shown
 * with MsgShowFailure). */
RUN_END UninstallStages(const ERROR_TEXTS *errors);

#endif
