/*
 * The run's log: one block of plain lines per run, appended to a UTF-8
 * file a support engineer reads, and one summary line in Windows' own
 * Setup log.  A log that cannot be opened or written changes nothing else:
 * every function keeps the thread's last error as it found it.
 */
#ifndef QX_PLATFORM_RUNLOG_H
#define QX_PLATFORM_RUNLOG_H

#include "platform/win32.h"

/* Units of one line, terminator included.  A longer line is left out,
 * with a line that says so in its place. */
#define RUN_LOG_LINE_CCH 1024

/* A log this large when a run holding the run lock opens it is renamed
 * (its name with ".old" before the extension, replacing an older one)
 * and a new one begun. */
#define RUN_LOG_ROTATE_CB (1024 * 1024)

/* Setup's log takes one entry of at most 336 characters, its prefix of 5
 * and its event category among them: the text it gets has at most this
 * many. */
#define RUN_LOG_SETUP_TEXT_CCH 325

/* Opens the log file at path for appending, sharing reading and writing,
 * without following a link, and starts the run's block with a line of the
 * local date and time followed by first.  With rotate, an oversized log
 * is renamed first.  A file created new starts with a UTF-8 byte-order
 * mark.  TRUE: open.  FALSE: no log this run (it could not be opened, or
 * is a reparse point, a folder, or a file with a second hard link). */
BOOL RunLogOpen(LPCWSTR path, BOOL rotate, LPCWSTR first);

/* Appends one line made from format: %s a wide string (NULL as
 * "(none)", control units as spaces), %u a DWORD in decimal, %x a DWORD
 * in upper-case hexadecimal, %% a percent sign.  Nothing when no log is
 * open or the write fails. */
void RunLog(LPCWSTR format, ...);

/* Ends the block with an empty line and closes the log. */
void RunLogClose(void);

/* Writes text (non-ASCII units as "?") as one summary line into Windows'
 * setupapi.dev.log through SetupWriteTextLog, which setupapi has from
 * Vista on.  Nothing where it lacks it, or when text is longer than
 * RUN_LOG_SETUP_TEXT_CCH. */
void RunLogSetupSummary(LPCWSTR text);

#endif
