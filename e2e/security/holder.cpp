// holder: keeps a file open as another program would, so that a Wine
// scenario can make the installer meet a file it cannot delete.  A test
// program only, never shipped.
//
// Usage: holder.exe FILE READY SECONDS
//   Opens FILE for reading, sharing reading alone (so it can be neither
//   deleted nor written meanwhile), then creates the file READY to say so,
//   and keeps FILE open for SECONDS before it ends.
//
// Exit code 0 after the hold, 1 when FILE or READY could not be opened.
#include <windows.h>

#include <cwchar>

int wmain(int argc, wchar_t **argv)
{
    if (argc != 4)
        return 1;
    HANDLE file = CreateFileW(argv[1], GENERIC_READ, FILE_SHARE_READ, NULL,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return 1;
    HANDLE ready = CreateFileW(argv[2], GENERIC_WRITE, 0, NULL, CREATE_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, NULL);
    if (ready == INVALID_HANDLE_VALUE)
        return 1;
    CloseHandle(ready);
    Sleep((DWORD)wcstoul(argv[3], NULL, 10) * 1000);
    CloseHandle(file);
    return 0;
}
