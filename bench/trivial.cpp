// trivial: the floor of the Wine benchmark (bench/wine-run).
//
//   trivial.exe
//
// Shows one MB_OK box and exits with 0, and does nothing else, so that
// timing it under the same Wine and the same watcher as the installer
// measures what every run pays whatever it does: Wine starting a process,
// the box being found and closed, and the process ending.
#include <windows.h>

namespace {
const wchar_t kCaption[] = L"Benchmark floor";
const wchar_t kText[] = L"Nothing was done.";
} // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int)
{
    MessageBoxW(nullptr, kText, kCaption, MB_OK);
    return 0;
}
