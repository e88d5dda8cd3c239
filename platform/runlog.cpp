#include "platform/runlog.h"

#include <stdarg.h>

#include "platform/system_dll.h"
#include "platform/wtext.h"

/* One unit takes at most three bytes of UTF-8 (a surrogate pair, two
 * units, takes four); a line ends with CR LF. */
#define RUN_LOG_LINE_CB (RUN_LOG_LINE_CCH * 3 + 2)

/* What the old log's name adds before the extension. */
#define RUN_LOG_OLD_INFIX TEXT(".old")

/* SYSTEMTIME fields as "YYYY-MM-DD hh:mm:ss ". */
#define RUN_LOG_TIME_CCH 21

static HANDLE s_Log = INVALID_HANDLE_VALUE;

typedef struct LOG_LINE {
    WCHAR text[RUN_LOG_LINE_CCH];
    DWORD cch;
    BOOL full; /* something did not fit */
} LOG_LINE;

static void PutUnit(LOG_LINE *line, WCHAR unit)
{
    if (line->cch + 1 >= RUN_LOG_LINE_CCH) {
        line->full = TRUE;
        return;
    }
    line->text[line->cch++] = unit;
}

/* A control unit (a line end in a registry name, a usage text) would
 * break the block's one-line-per-entry form. */
static void PutText(LOG_LINE *line, LPCWSTR text)
{
    if (text == NULL)
        text = TEXT("(none)");
    for (DWORD i = 0; text[i] != 0 && !line->full; i++)
        PutUnit(line, text[i] < TEXT(' ') ? TEXT(' ') : text[i]);
}

/* value in base 10 or 16, at least minDigits digits. */
/* NOLINTNEXTLINE(bugprone-easily-swappable-parameters): value, base, width as printf reads them */
static void PutNumber(LOG_LINE *line, DWORD value, DWORD base, DWORD minDigits)
{
    static const WCHAR kDigits[] = TEXT("0123456789ABCDEF");
    WCHAR digits[32];
    DWORD n = 0;
    do {
        digits[n++] = kDigits[value % base];
        value /= base;
    } while (value != 0);
    while (n < minDigits && n < ARRAYSIZE(digits))
        digits[n++] = TEXT('0');
    while (n > 0)
        PutUnit(line, digits[--n]);
}

/* The thread's last error survives the write, so that logging between a
 * failed call and the read of its error changes nothing. */
static void WriteLine(const LOG_LINE *line)
{
    DWORD kept = GetLastError();
    BYTE bytes[RUN_LOG_LINE_CB];
    DWORD cb = 0;
    for (DWORD i = 0; i < line->cch; i++) {
        DWORD cp = line->text[i];
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < line->cch &&
            line->text[i + 1] >= 0xDC00 && line->text[i + 1] <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (line->text[i + 1] - 0xDC00);
            i++;
        } else if (cp >= 0xD800 && cp <= 0xDFFF) {
            cp = 0xFFFD; /* half a pair stands for no character */
        }
        if (cp < 0x80) {
            bytes[cb++] = (BYTE)cp;
        } else if (cp < 0x800) {
            bytes[cb++] = (BYTE)(0xC0 | (cp >> 6));
            bytes[cb++] = (BYTE)(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            bytes[cb++] = (BYTE)(0xE0 | (cp >> 12));
            bytes[cb++] = (BYTE)(0x80 | ((cp >> 6) & 0x3F));
            bytes[cb++] = (BYTE)(0x80 | (cp & 0x3F));
        } else {
            bytes[cb++] = (BYTE)(0xF0 | (cp >> 18));
            bytes[cb++] = (BYTE)(0x80 | ((cp >> 12) & 0x3F));
            bytes[cb++] = (BYTE)(0x80 | ((cp >> 6) & 0x3F));
            bytes[cb++] = (BYTE)(0x80 | (cp & 0x3F));
        }
    }
    bytes[cb++] = '\r';
    bytes[cb++] = '\n';
    /* One write per line: runs appending at once never split a line. */
    DWORD written = 0;
    WriteFile(s_Log, bytes, cb, &written, NULL);
    SetLastError(kept);
}

/* NOLINTNEXTLINE(cert-dcl50-cpp): a printf form, as Win32's own loggers take */
void RunLog(LPCWSTR format, ...)
{
    if (s_Log == INVALID_HANDLE_VALUE)
        return;
    LOG_LINE line;
    line.cch = 0;
    line.full = FALSE;
    va_list args;
    va_start(args, format);
    for (DWORD i = 0; format[i] != 0 && !line.full; i++) {
        if (format[i] != TEXT('%') || format[i + 1] == 0) {
            PutUnit(&line, format[i]);
            continue;
        }
        WCHAR conversion = format[++i];
        if (conversion == TEXT('s'))
            PutText(&line, va_arg(args, LPCWSTR));
        else if (conversion == TEXT('u'))
            PutNumber(&line, va_arg(args, DWORD), 10, 1);
        else if (conversion == TEXT('x'))
            PutNumber(&line, va_arg(args, DWORD), 16, 1);
        else
            PutUnit(&line, conversion);
    }
    va_end(args);
    if (line.full) {
        /* Never a line cut short without a word. */
        line.cch = 0;
        line.full = FALSE;
        PutText(&line, TEXT("(a line too long for the log is left out)"));
    }
    WriteLine(&line);
}

/* path with RUN_LOG_OLD_INFIX before the extension of its last
 * component (at its end when it has none).  FALSE: it would not fit. */
static BOOL OldLogPath(LPWSTR old, LPCWSTR path)
{
    DWORD cch = TextLength(path, MAX_PATH);
    DWORD dot = cch;
    for (DWORD i = cch; i > 0 && path[i - 1] != TEXT('\\'); i--) {
        if (path[i - 1] == TEXT('.')) {
            dot = i - 1;
            break;
        }
    }
    DWORD infix = TextLength(RUN_LOG_OLD_INFIX, MAX_PATH);
    if (cch + infix >= MAX_PATH)
        return FALSE;
    TextZero(old, MAX_PATH);
    for (DWORD i = 0; i < dot; i++)
        old[i] = path[i];
    TextAppend(old, MAX_PATH, RUN_LOG_OLD_INFIX);
    return TextAppend(old, MAX_PATH, path + dot);
}

/* Opens path for appending and checks what opened.  On XP Power Users may
 * write to the Windows folder: a link planted under the log's name would
 * make the elevated run append to any file the link names.  Returns the
 * handle with *sizeCb (a size over 4 GiB reads as the largest DWORD), or
 * INVALID_HANDLE_VALUE. */
static HANDLE OpenChecked(LPCWSTR path, DWORD *sizeCb)
{
    HANDLE log = CreateFileW(path, FILE_APPEND_DATA | FILE_READ_ATTRIBUTES,
                             FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                             OPEN_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL |
                                 FILE_FLAG_OPEN_REPARSE_POINT,
                             NULL);
    if (log == INVALID_HANDLE_VALUE)
        return log;
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(log, &info) ||
        (info.dwFileAttributes &
         (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) ||
        info.nNumberOfLinks != 1) {
        CloseHandle(log);
        return INVALID_HANDLE_VALUE;
    }
    *sizeCb = info.nFileSizeHigh != 0 ? 0xFFFFFFFF : info.nFileSizeLow;
    return log;
}

/* "YYYY-MM-DD hh:mm:ss " of the local time into line. */
static void PutLocalTime(LOG_LINE *line)
{
    SYSTEMTIME now;
    GetLocalTime(&now);
    const struct {
        WORD value;
        DWORD digits;
        WCHAR after;
    } fields[] = {
        {now.wYear, 4, TEXT('-')},  {now.wMonth, 2, TEXT('-')},
        {now.wDay, 2, TEXT(' ')},   {now.wHour, 2, TEXT(':')},
        {now.wMinute, 2, TEXT(':')}, {now.wSecond, 2, TEXT(' ')},
    };
    for (DWORD i = 0; i < ARRAYSIZE(fields); i++) {
        PutNumber(line, fields[i].value, 10, fields[i].digits);
        PutUnit(line, fields[i].after);
    }
}

BOOL RunLogOpen(LPCWSTR path, BOOL rotate, LPCWSTR first)
{
    DWORD kept = GetLastError();
    DWORD sizeCb = 0;
    s_Log = OpenChecked(path, &sizeCb);
    WCHAR old[MAX_PATH];
    if (s_Log != INVALID_HANDLE_VALUE && rotate && sizeCb > RUN_LOG_ROTATE_CB &&
        OldLogPath(old, path)) {
        /* Closed first: the log's own handle does not share deletion.
         * Where the rename fails (a waiting run holds the log open), the
         * log goes on growing until a later run can rename it. */
        CloseHandle(s_Log);
        MoveFileExW(path, old, MOVEFILE_REPLACE_EXISTING);
        s_Log = OpenChecked(path, &sizeCb);
    }
    if (s_Log != INVALID_HANDLE_VALUE && sizeCb == 0) {
        /* So that old Notepads read a non-ASCII folder name. */
        static const BYTE kBom[] = {0xEF, 0xBB, 0xBF};
        DWORD written = 0;
        WriteFile(s_Log, kBom, sizeof(kBom), &written, NULL);
    }
    SetLastError(kept);
    if (s_Log == INVALID_HANDLE_VALUE)
        return FALSE;
    LOG_LINE line;
    line.cch = 0;
    line.full = FALSE;
    PutLocalTime(&line);
    PutText(&line, first);
    WriteLine(&line);
    return TRUE;
}

void RunLogClose(void)
{
    if (s_Log == INVALID_HANDLE_VALUE)
        return;
    DWORD kept = GetLastError();
    LOG_LINE empty;
    empty.cch = 0;
    WriteLine(&empty);
    CloseHandle(s_Log);
    s_Log = INVALID_HANDLE_VALUE;
    SetLastError(kept);
}

void RunLogSetupSummary(LPCWSTR text)
{
    DWORD kept = GetLastError();
    CHAR ansi[RUN_LOG_SETUP_TEXT_CCH + 1];
    DWORD cch = TextLength(text, RUN_LOG_SETUP_TEXT_CCH + 1);
    FARPROC proc = NULL;
    if (cch <= RUN_LOG_SETUP_TEXT_CCH)
        proc = SystemDllProc(SETUPAPI_DLL, "SetupWriteTextLog");
    if (proc != NULL) {
        for (DWORD i = 0; i < cch; i++)
            ansi[i] = text[i] >= TEXT(' ') && text[i] < 0x7F ? (CHAR)text[i]
                                                             : '?';
        ansi[cch] = 0;
        /* Its text is a printf format: ours goes in as an argument. */
        ((PFN_SETUP_WRITE_TEXT_LOG)(void (*)(void))proc)(
            LOGTOKEN_SETUPAPI_DEVLOG, TXTLOG_VENDOR, TXTLOG_SUMMARY, "%s",
            ansi);
    }
    SetLastError(kept);
}
