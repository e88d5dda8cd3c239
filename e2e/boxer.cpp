// boxer: a stand-in GUI program for testing the harness itself.
//
//   boxer.exe EXITCODE SLEEP_MS CAPTION [TEXT...]
//
// Shows one MB_OK box per TEXT, in order, with CAPTION, then sleeps
// SLEEP_MS milliseconds and exits with EXITCODE.
#include <windows.h>
#include <shellapi.h>
#include <stdlib.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int) {
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (!argv || argc < 4) return 99;
    for (int i = 4; i < argc; ++i) MessageBoxW(nullptr, argv[i], argv[3], MB_OK);
    Sleep(static_cast<DWORD>(wcstoul(argv[2], nullptr, 10)));
    return static_cast<int>(wcstoul(argv[1], nullptr, 10));
}
