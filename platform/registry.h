/*
 * How the installer opens registry keys: always below HKEY_LOCAL_MACHINE,
 * with REG_OPTION_BACKUP_RESTORE, and one access combined with a view.
 */
#ifndef QX_PLATFORM_REGISTRY_H
#define QX_PLATFORM_REGISTRY_H

#include "platform/win32.h"

/* Access of every key the installer opens, before the view is added. */
#define INSTALLER_KEY_ACCESS                                                 \
    (KEY_QUERY_VALUE | KEY_SET_VALUE | KEY_ENUMERATE_SUB_KEYS)

/* Registry key names and the installer's registry paths fit a wide path
 * buffer: 255 units and the terminator. */
#define REG_PATH_CCH 256
#define REG_KEY_NAME_CCH 256
#define REG_VALUE_NAME_CCH 256

/* The two views, in the order every registry operation applies them. */
#define REGISTRY_VIEW_COUNT 2
extern const REGSAM g_RegistryViews[REGISTRY_VIEW_COUNT];

/* Opens HKEY_LOCAL_MACHINE\path in view.  Returns RegOpenKeyExW's
 * result; *key is valid only for ERROR_SUCCESS. */
LSTATUS RegistryOpen(LPCWSTR path, REGSAM view, HKEY *key);

/* Opens HKEY_LOCAL_MACHINE\path in view for reading only: as
 * RegistryOpen, and when that is refused with ERROR_ACCESS_DENIED, once
 * more with KEY_READ and no options.  Returns the last open's result. */
LSTATUS RegistryOpenToRead(LPCWSTR path, REGSAM view, HKEY *key);

/* TRUE when an enumeration result is an error of the key itself, not of
 * the index asked for: anything but ERROR_SUCCESS, ERROR_MORE_DATA (that
 * entry did not fit) and ERROR_NO_MORE_ITEMS (no entry there now).  It
 * comes again for every index, so the enumeration ends. */
BOOL RegistryEnumEnded(LSTATUS status);

/* 32 when view (or an access holding it) names the 32-bit view, else 64:
 * how the log names a view. */
DWORD RegistryViewBits(REGSAM view);

/* child = path + "\" + name.  TRUE: built.  FALSE: it would not fit a
 * REG_PATH_CCH buffer; child is empty then. */
BOOL RegistryChildPath(LPWSTR child, LPCWSTR path, LPCWSTR name);

#endif
