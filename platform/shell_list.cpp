#include "platform/shell_list.h"

#include "platform/wtext.h"

LPWSTR ShellListNew(LPCWSTR path)
{
    /* Measure one unit past the limit so that a longer path shows. */
    DWORD cch = TextLength(path, SHELL_LIST_PATH_MAX_CCH + 1);
    if (cch == 0 || cch > SHELL_LIST_PATH_MAX_CCH)
        return NULL;
    /* Zeroed, with room for the path's terminator and the list's. */
    LPWSTR list = (LPWSTR)HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY,
                                    (cch + 2) * sizeof(WCHAR));
    if (list == NULL)
        return NULL;
    for (DWORD i = 0; i < cch; i++)
        list[i] = path[i];
    return list;
}

int ShellDelete(LPCWSTR path, FILEOP_FLAGS flags)
{
    LPWSTR list = ShellListNew(path);
    if (list == NULL) {
        DWORD cch = TextLength(path, MAX_PATH);
        if (cch == 0)
            return ERROR_INVALID_PARAMETER;
        return cch > SHELL_LIST_PATH_MAX_CCH ? ERROR_FILENAME_EXCED_RANGE
                                             : ERROR_NOT_ENOUGH_MEMORY;
    }
    SHFILEOPSTRUCTW op;
    op.hwnd = NULL;
    op.wFunc = FO_DELETE;
    op.pFrom = list;
    op.pTo = NULL;
    op.fFlags = flags;
    op.fAnyOperationsAborted = FALSE;
    op.hNameMappings = NULL;
    op.lpszProgressTitle = NULL;
    return SHFileOperationW(&op);
}
