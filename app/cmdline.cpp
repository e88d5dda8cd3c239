#include "app/cmdline.h"

#include "platform/wtext.h"

typedef enum SWITCH_ID {
    SWITCH_QUIET,
    SWITCH_LOG,
    SWITCH_NONE,
    SWITCH_HELP,
    SWITCH_UNINSTALL
} SWITCH_ID;

/* Every switch, without its / or -. */
static const struct {
    LPCWSTR name;
    SWITCH_ID id;
} kSwitches[] = {
    {TEXT("quiet"), SWITCH_QUIET}, {TEXT("q"), SWITCH_QUIET},
    {TEXT("s"), SWITCH_QUIET},     {TEXT("log"), SWITCH_LOG},
    /* Deployment recipes pass it by habit; the run never restarts. */
    {TEXT("norestart"), SWITCH_NONE},
    {TEXT("?"), SWITCH_HELP},      {TEXT("h"), SWITCH_HELP},
    {TEXT("help"), SWITCH_HELP},
    /* msiexec's /x and /uninstall, and Inno Setup's habit of /u. */
    {TEXT("uninstall"), SWITCH_UNINSTALL}, {TEXT("u"), SWITCH_UNINSTALL},
    {TEXT("x"), SWITCH_UNINSTALL},
};

static BOOL IsBlank(WCHAR unit) { return unit == TEXT(' ') || unit == TEXT('\t'); }

static BOOL StartsLikeSwitch(LPCWSTR arg)
{
    return arg[0] == TEXT('/') || arg[0] == TEXT('-');
}

/* Copies the argument at *cursor into arg (MAX_PATH units) and moves the
 * cursor past it.  FALSE at the end of the line.  *fits is FALSE when
 * the argument was longer than arg holds (arg then holds its start). */
static BOOL NextArgument(LPCWSTR *cursor, LPWSTR arg, BOOL *fits)
{
    LPCWSTR at = *cursor;
    while (IsBlank(*at))
        at++;
    if (*at == 0)
        return FALSE;
    DWORD cch = 0;
    BOOL quoted = FALSE;
    *fits = TRUE;
    for (; *at != 0 && (quoted || !IsBlank(*at)); at++) {
        if (*at == TEXT('"')) {
            quoted = !quoted;
        } else if (cch + 1 < MAX_PATH) {
            arg[cch++] = *at;
        } else {
            *fits = FALSE;
        }
    }
    arg[cch] = 0;
    *cursor = at;
    return TRUE;
}

void CmdLineParse(LPCWSTR commandLine, CMDLINE *out)
{
    out->action = CMDLINE_RUN;
    out->uninstall = FALSE;
    out->quiet = FALSE;
    TextZero(out->log, ARRAYSIZE(out->log));
    WCHAR arg[MAX_PATH];
    BOOL fits;
    LPCWSTR cursor = commandLine;
    /* The program's own name, however long. */
    if (!NextArgument(&cursor, arg, &fits))
        return;
    BOOL help = FALSE, bad = FALSE;
    while (!bad && NextArgument(&cursor, arg, &fits)) {
        bad = !fits || !StartsLikeSwitch(arg);
        DWORD i = 0;
        while (!bad && i < ARRAYSIZE(kSwitches) &&
               !TextEqualAsciiNoCase(arg + 1, kSwitches[i].name))
            i++;
        if (bad || i == ARRAYSIZE(kSwitches)) {
            bad = TRUE;
        } else if (kSwitches[i].id == SWITCH_QUIET) {
            out->quiet = TRUE;
        } else if (kSwitches[i].id == SWITCH_HELP) {
            help = TRUE;
        } else if (kSwitches[i].id == SWITCH_UNINSTALL) {
            out->uninstall = TRUE;
        } else if (kSwitches[i].id == SWITCH_LOG) {
            /* "/log /quiet" is a forgotten FILE, not a file named so: the
             * run must not lose its quiet switch to it. */
            bad = !NextArgument(&cursor, out->log, &fits) || !fits ||
                  out->log[0] == 0 || StartsLikeSwitch(out->log);
            /* The short block of a bad line then goes to the default log. */
            if (bad)
                TextZero(out->log, ARRAYSIZE(out->log));
        }
    }
    out->action = bad ? CMDLINE_BAD : help ? CMDLINE_HELP : CMDLINE_RUN;
}
