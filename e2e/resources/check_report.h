// The PASS/FAIL report of the Wine test programs: one line a check, in
// UTF-8, in a file the scenario reads (a pipe would be held open by Wine's
// background processes).  Safe to use from more than one thread.
#ifndef QX_E2E_CHECK_REPORT_H
#define QX_E2E_CHECK_REPORT_H

#include <windows.h>
#include <stdarg.h>
#include <stdio.h>

namespace report {

inline HANDLE g_file = INVALID_HANDLE_VALUE;
inline CRITICAL_SECTION g_lock;
inline LONG g_failures = 0;

inline void WriteLine(const wchar_t *text)
{
    char buf[4096];
    int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, buf, sizeof buf, NULL,
                                NULL);
    if (n > 1) {
        DWORD written;
        EnterCriticalSection(&g_lock);
        WriteFile(g_file, buf, (DWORD)(n - 1), &written, NULL);
        LeaveCriticalSection(&g_lock);
    }
}

// Creates the report file.  false: it could not be created.
inline bool Open(const wchar_t *path)
{
    InitializeCriticalSection(&g_lock);
    g_file = CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ, NULL,
                         CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    return g_file != INVALID_HANDLE_VALUE;
}

// Writes the closing "DONE n" line and closes the file; returns the exit
// code: 0 when every check passed, 1 otherwise.
inline int Close()
{
    wchar_t done[32];
    _snwprintf(done, ARRAYSIZE(done), L"DONE %ld\r\n", g_failures);
    WriteLine(done);
    CloseHandle(g_file);
    return g_failures ? 1 : 0;
}

} // namespace report

// Records one check; the detail says what was found when it failed.
inline bool Check(bool ok, const wchar_t *name, const wchar_t *detailFormat,
                  ...)
{
    wchar_t line[2048];
    if (ok) {
        _snwprintf(line, ARRAYSIZE(line), L"PASS %ls\r\n", name);
    } else {
        wchar_t detail[1536];
        va_list ap;
        va_start(ap, detailFormat);
        _vsnwprintf(detail, ARRAYSIZE(detail), detailFormat, ap);
        va_end(ap);
        detail[ARRAYSIZE(detail) - 1] = 0;
        _snwprintf(line, ARRAYSIZE(line), L"FAIL %ls: %ls\r\n", name, detail);
        InterlockedIncrement(&report::g_failures);
    }
    line[ARRAYSIZE(line) - 1] = 0;
    report::WriteLine(line);
    return ok;
}

#endif
