#include "platform/system_dll.h"

#include "platform/wtext.h"

SYSTEM_DLL_TABLE g_SystemDlls;

/* Loads library from the system folder.  A bare name would be looked for
 * in the installer's own folder first wherever the run could not restrict
 * the search (XP, Vista, and 7 without the update); a full path alone
 * still leaves the DLL's own imports to that search.  With
 * LOAD_WITH_ALTERED_SEARCH_PATH they are looked for in the loaded DLL's
 * folder, the system folder, first, and the installer's folder is not in
 * that search at all.  Used on every version, one way for all: the system
 * folder holds every DLL a system DLL imports.  (Loads made once DLL
 * initialisation has begun, and delay-loads, fall back to the standard
 * search.)  NULL with the last error set. */
static HMODULE LoadSystemDll(LPCWSTR library)
{
    WCHAR path[MAX_PATH];
    TextZero(path, ARRAYSIZE(path));
    /* 0 is a failure; a result not below the buffer's size is the size
     * it would need. */
    UINT cch = GetSystemDirectoryW(path, ARRAYSIZE(path));
    if (cch == 0 || cch >= ARRAYSIZE(path) ||
        !TextAppend(path, ARRAYSIZE(path), TEXT("\\")) ||
        !TextAppend(path, ARRAYSIZE(path), library)) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return NULL;
    }
    return LoadLibraryExW(path, NULL, LOAD_WITH_ALTERED_SEARCH_PATH);
}

/* The table's entry of library, loading it the first time.  NULL with the
 * last error set when it cannot be had; nothing is kept then, so a later
 * call tries again. */
static const SYSTEM_DLL *SystemDll(LPCWSTR library)
{
    for (DWORD i = 0; i < g_SystemDlls.count; i++) {
        if (TextEqualAsciiNoCase(g_SystemDlls.dlls[i].name, library))
            return &g_SystemDlls.dlls[i];
    }
    if (g_SystemDlls.count >= SYSTEM_DLL_MAX) {
        SetLastError(ERROR_TOO_MANY_MODULES);
        return NULL;
    }
    SYSTEM_DLL *slot = &g_SystemDlls.dlls[g_SystemDlls.count];
    if (!TextCopy(slot->name, ARRAYSIZE(slot->name), library)) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return NULL;
    }
    slot->module = LoadSystemDll(library);
    if (slot->module == NULL)
        return NULL;
    g_SystemDlls.count++;
    return slot;
}

FARPROC SystemDllProc(LPCWSTR library, LPCSTR name)
{
    /* Kept for the run, never freed: Setup keeps state of its own between
     * calls, and the process's end releases them all. */
    const SYSTEM_DLL *dll = SystemDll(library);
    if (dll == NULL)
        return NULL;
    return GetProcAddress(dll->module, name);
}

BOOL SystemDllLoad(LPCWSTR library) { return SystemDll(library) != NULL; }
