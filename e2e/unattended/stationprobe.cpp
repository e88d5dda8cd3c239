// stationprobe: writes what a process sees of where it runs, for the
// scenarios that start the installer on a window station nobody sees.
//
// Usage: stationprobe.exe OUTFILE
// OUTFILE gets one line: "flags=<UOI_FLAGS dwFlags, hex> session=<id>"
// (a failed query reads "error=<number>" in place of its value).
// Exit code 0 when the line was written, 3 otherwise.
#include <windows.h>
#include <stdio.h>

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) return 2;
    char flagsText[32], sessionText[32];
    USEROBJECTFLAGS flags;
    DWORD needed = 0;
    HWINSTA station = GetProcessWindowStation();
    if (station && GetUserObjectInformationW(station, UOI_FLAGS, &flags, sizeof flags, &needed))
        snprintf(flagsText, sizeof flagsText, "flags=%lx", static_cast<unsigned long>(flags.dwFlags));
    else
        snprintf(flagsText, sizeof flagsText, "flags=error=%lu", GetLastError());
    DWORD session = 0;
    if (ProcessIdToSessionId(GetCurrentProcessId(), &session))
        snprintf(sessionText, sizeof sessionText, "session=%lu", session);
    else
        snprintf(sessionText, sizeof sessionText, "session=error=%lu", GetLastError());
    char line[80];
    int len = snprintf(line, sizeof line, "%s %s\n", flagsText, sessionText);
    HANDLE f = CreateFileW(argv[1], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE) return 3;
    DWORD written = 0;
    BOOL ok = WriteFile(f, line, static_cast<DWORD>(len), &written, nullptr);
    CloseHandle(f);
    return ok ? 0 : 3;
}
