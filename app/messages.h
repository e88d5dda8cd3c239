/*
 * The message catalogue: every text the installer shows, in English and
 * Chinese, and the process-wide message buffers the run reports through.
 */
#ifndef QX_APP_MESSAGES_H
#define QX_APP_MESSAGES_H

#include "platform/win32.h"

/* Capacity of every message buffer, in units. */
#define MSG_TEXT_CCH 256

/* Language whose texts are the Chinese column (Chinese, PRC). */
#define MSG_LANG_CHINESE_PRC 0x0804

/* Process-wide message buffers, filled once by MsgSelectAndFill. The
 * failure text starts as the failure prefix and only grows. */
typedef struct MESSAGES {
    WCHAR success[MSG_TEXT_CCH];
    WCHAR failure[MSG_TEXT_CCH];
    WCHAR caption[MSG_TEXT_CCH];
    WCHAR restart[MSG_TEXT_CCH];
    /* The name Apps & features shows for the driver. */
    WCHAR displayName[MSG_TEXT_CCH];
    /* The usage of the command line, in the catalogue's column; too long
     * for a message buffer, it points at the catalogue's own text. */
    LPCWSTR usage;
    /* Nobody can see the run, or it is quiet (decided once at its start):
     * every box is skipped, everything else is done as when one is
     * shown. */
    BOOL unattended;
    /* The Windows error of the last failure shown with MsgShowFailure
     * (ERROR_SUCCESS when that failure had none). */
    DWORD failureError;
} MESSAGES;
extern MESSAGES g_Messages;

/* The error details the run appends itself or hands on. */
typedef struct ERROR_TEXTS {
    WCHAR findFolder[MSG_TEXT_CCH];
    WCHAR createFolder[MSG_TEXT_CCH];
    WCHAR copy[MSG_TEXT_CCH];
    WCHAR deleteFolder[MSG_TEXT_CCH];
    /* The package is on a mapped drive the elevated run cannot see. */
    WCHAR unreachableDrive[MSG_TEXT_CCH];
    /* Setup refused to uninstall the driver package. */
    WCHAR uninstallPackage[MSG_TEXT_CCH];
    /* The package has no driver for this PC's processor (ARM64). */
    WCHAR unsupportedProcessor[MSG_TEXT_CCH];
} ERROR_TEXTS;

/* Selects the column by the system default language and fills
 * g_Messages and *errors, with the uninstall run's success text and
 * failure prefix for an uninstall. */
void MsgSelectAndFill(ERROR_TEXTS *errors, BOOL uninstall);

/* Appends detail to the failure text.  TRUE: appended.  FALSE: it would
 * not fit; the failure text is unchanged. */
BOOL MsgAppendDetail(LPCWSTR detail);

/* Appends the thread's last error as "%u ".  TRUE/FALSE as above. */
BOOL MsgAppendErrorNumber(void);

/* Appends number as "%u ".  TRUE/FALSE as above. */
BOOL MsgAppendNumber(DWORD number);

/* Whether a user can see a box of this process.  TRUE: the window station
 * is visible, and on Vista and later (preVista FALSE) the process is not
 * in session 0; also TRUE when either check fails.  FALSE: nobody can. */
BOOL MsgAnyoneCanSee(BOOL preVista);

/* Shows text in a message box with the caption, no owner, MB_OK; shows
 * nothing when g_Messages.unattended is set.  Either way the log gets the
 * text. */
void MsgShow(LPCWSTR text);

/* Records error as g_Messages.failureError and shows the failure text:
 * a failure that ends what the run set out to do. */
void MsgShowFailure(DWORD error);

#endif
