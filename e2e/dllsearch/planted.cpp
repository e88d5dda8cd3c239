// planted: a DLL an attacker would drop beside the installer under the
// name of a DLL that it, the shell or Setup load by name.  When any process
// loads it, it leaves an empty file "<its own path>.loaded" beside itself,
// and it exports nothing, so that a run that loaded it shows it.
#include <windows.h>
#include <wchar.h>

BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID) {
    if (reason != DLL_PROCESS_ATTACH) return TRUE;
    const wchar_t kSuffix[] = L".loaded";
    wchar_t path[MAX_PATH + 8];
    DWORD n = GetModuleFileNameW(self, path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return TRUE;
    wmemcpy(path + n, kSuffix, sizeof kSuffix / sizeof kSuffix[0]);
    HANDLE f = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f != INVALID_HANDLE_VALUE) CloseHandle(f);
    return TRUE;
}
