#include "platform/system_dll.h"

#include "platform/wtext.h"

/* DLLs kept loaded in one run, at most; the run looks in three. */
#define SYSTEM_DLL_MAX 8

/* A DLL once loaded stays: setupapi keeps state of the run in it (its
 * non-interactive flag), and loading again by a bare name would search the
 * installer's own folder first wherever the search is not restricted. */
static struct {
    DWORD count;
    struct {
        WCHAR name[MAX_PATH];
        HMODULE module;
    } kept[SYSTEM_DLL_MAX];
} s_Dlls;

void SystemDllForget(void) { s_Dlls.count = 0; }

/* The module of library, loaded now when it is not kept yet; NULL with
 * the last error set when it cannot be had. */
static HMODULE KeptModule(LPCWSTR library)
{
    for (DWORD i = 0; i < s_Dlls.count; i++) {
        if (TextEqualAsciiNoCase(s_Dlls.kept[i].name, library))
            return s_Dlls.kept[i].module;
    }
    if (s_Dlls.count == SYSTEM_DLL_MAX) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return NULL;
    }
    WCHAR path[MAX_PATH];
    TextZero(path, ARRAYSIZE(path));
    /* 0 is a failure; a result not below the buffer's size is the size it
     * would need. */
    UINT cch = GetSystemDirectoryW(path, ARRAYSIZE(path));
    if (cch == 0 || cch >= ARRAYSIZE(path) ||
        !TextAppend(path, ARRAYSIZE(path), TEXT("\\")) ||
        !TextAppend(path, ARRAYSIZE(path), library) ||
        !TextCopy(s_Dlls.kept[s_Dlls.count].name, MAX_PATH, library)) {
        if (cch != 0)
            SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return NULL;
    }
    HMODULE module = LoadLibraryW(path);
    if (module != NULL)
        s_Dlls.kept[s_Dlls.count++].module = module;
    return module;
}

FARPROC SystemDllProc(LPCWSTR library, LPCSTR name)
{
    HMODULE module = KeptModule(library);
    return module == NULL ? NULL : GetProcAddress(module, name);
}
