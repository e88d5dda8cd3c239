/*
 * The command line: the switches a deployment tool or an administrator
 * passes.  No argument at all is a double-click's run.
 */
#ifndef QX_APP_CMDLINE_H
#define QX_APP_CMDLINE_H

#include "platform/win32.h"

typedef enum CMDLINE_ACTION {
    CMDLINE_RUN,  /* do the run */
    CMDLINE_HELP, /* /?, /h or /help: the usage, nothing else */
    CMDLINE_BAD   /* something not understood: the usage, exit 1639 */
} CMDLINE_ACTION;

typedef struct CMDLINE {
    CMDLINE_ACTION action;
    BOOL uninstall;      /* /uninstall, /u or /x: the uninstall run */
    BOOL quiet;          /* /quiet, /q or /s: no box at any point */
    WCHAR log[MAX_PATH]; /* /log FILE; empty: the default log */
} CMDLINE;

/* Reads commandLine, whole as GetCommandLineW gives it (the program's
 * name first, then the arguments: separated by spaces or tabs, double
 * quotes grouping and dropped).  Switches start with / or - and ignore
 * ASCII case; /norestart is taken and changes nothing.  An unknown
 * argument, /log without a FILE, a FILE that looks like a switch, and an
 * argument longer than MAX_PATH - 1 units are CMDLINE_BAD, which wins
 * over CMDLINE_HELP. */
void CmdLineParse(LPCWSTR commandLine, CMDLINE *out);

#endif
