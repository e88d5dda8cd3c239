// scanprobe: runs the installer's discovery, exactly as its legacy stage
// does (the privilege sequence, then every scan in the stage's order), and
// writes what the scans found.  A test build only, never shipped: the
// scans change nothing on the machine, so this is how a Wine scenario
// sees their result.
//
// Usage: scanprobe.exe REPORT
//
// Report (UTF-8, one line each, fields separated by one tab):
//   CANDIDATE <name>    every entry of the candidate INF list, in order
//   LEGACY    <0|1>     the legacy-driver flag, which starts clear
//   DONE
//
// Exit code 0 when the report was written, 2 on bad usage, 3 when the
// report could not be written.
#include <windows.h>

#include "discovery/candidates.h"
#include "discovery/scans.h"
#include "removal/primitives.h"

namespace {

// Report line: a tag, and a tab and one field unless the field is empty.
const int kLineCch = 300;

bool WriteLine(HANDLE report, const wchar_t *tag, const wchar_t *field)
{
    wchar_t line[kLineCch];
    if (lstrlenW(tag) + lstrlenW(field) + 3 > kLineCch)
        return false;
    lstrcpyW(line, tag);
    if (field[0]) {
        lstrcatW(line, L"\t");
        lstrcatW(line, field);
    }
    lstrcatW(line, L"\n");
    char utf8[kLineCch * 3];
    int bytes = WideCharToMultiByte(CP_UTF8, 0, line, -1, utf8, sizeof utf8,
                                    nullptr, nullptr);
    DWORD written = 0;
    return bytes > 1 &&
           WriteFile(report, utf8, bytes - 1, &written, nullptr) &&
           written == static_cast<DWORD>(bytes - 1);
}

} // namespace

int wmain(int argc, wchar_t **argv)
{
    if (argc != 2)
        return 2;
    BOOL legacyDriver = FALSE;
    // The legacy stage runs the privilege sequence (twice) before its
    // scans; on Windows the backup-restore opens rely on it.
    PrivilegeSequence();
    PrivilegeSequence();
    DiscoveryRunAll(&legacyDriver, TRUE);

    HANDLE report = CreateFileW(argv[1], GENERIC_WRITE, 0, nullptr,
                                CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (report == INVALID_HANDLE_VALUE)
        return 3;
    bool ok = true;
    for (LONG i = 0; i < g_Candidates.count; i++)
        ok = WriteLine(report, L"CANDIDATE", g_Candidates.entries[i]) && ok;
    ok = WriteLine(report, L"LEGACY", legacyDriver ? L"1" : L"0") && ok;
    ok = WriteLine(report, L"DONE", L"") && ok;
    CloseHandle(report);
    return ok ? 0 : 3;
}
