#include "platform/registry.h"

#include "platform/wtext.h"

/* On 64-bit Windows the 32-bit view comes first; on 32-bit Windows both
 * flags are ignored and name the one registry. */
const REGSAM g_RegistryViews[REGISTRY_VIEW_COUNT] = {KEY_WOW64_32KEY,
                                                     KEY_WOW64_64KEY};

LSTATUS RegistryOpen(LPCWSTR path, REGSAM view, HKEY *key)
{
    return RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, REG_OPTION_BACKUP_RESTORE,
                         view | INSTALLER_KEY_ACCESS, key);
}

LSTATUS RegistryOpenToRead(LPCWSTR path, REGSAM view, HKEY *key)
{
    LSTATUS status = RegistryOpen(path, view, key);
    /* RegOpenKeyExW documents no option but REG_OPTION_OPEN_LINK, and the
     * backup option takes effect only from Windows 7 on (NtOpenKeyEx, which
     * carries it, is Windows 7's).  On XP and Vista an administrator is
     * then refused KEY_SET_VALUE on the Enum keys (SYSTEM's, readable by
     * others), so a read asks for reading alone: the documented open. */
    if (status == ERROR_ACCESS_DENIED)
        status = RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, view | KEY_READ,
                               key);
    return status;
}

BOOL RegistryEnumEnded(LSTATUS status)
{
    /* ERROR_KEY_DELETED once another process deleted the key, and
     * ERROR_ACCESS_DENIED or ERROR_INVALID_HANDLE for a handle that no
     * longer serves. */
    return status != ERROR_SUCCESS && status != ERROR_MORE_DATA &&
           status != ERROR_NO_MORE_ITEMS;
}

BOOL RegistryChildPath(LPWSTR child, LPCWSTR path, LPCWSTR name)
{
    TextZero(child, REG_PATH_CCH);
    if (TextAppend(child, REG_PATH_CCH, path) &&
        TextAppend(child, REG_PATH_CCH, TEXT("\\")) &&
        TextAppend(child, REG_PATH_CCH, name))
        return TRUE;
    child[0] = 0;
    return FALSE;
}

DWORD RegistryViewBits(REGSAM view)
{
    return (view & KEY_WOW64_32KEY) ? 32 : 64;
}
