/*
 * A package on a network drive the user mapped: an elevated run does not
 * see it, since mappings belong to the logon session that made them and
 * UAC gives the elevated token a session of its own (KB937624).
 */
#ifndef QX_PLATFORM_NETWORK_DRIVE_H
#define QX_PLATFORM_NETWORK_DRIVE_H

#include "platform/win32.h"

/* TRUE when folder ("X:\...") is on a drive letter this process cannot
 * reach: GetFileAttributesW of it fails with ERROR_PATH_NOT_FOUND, or
 * GetDriveTypeW of its root answers DRIVE_NO_ROOT_DIR.  FALSE: reachable,
 * or no drive letter's path. */
BOOL DriveUnreachable(LPCWSTR folder);

/* The \\server\share\... form of imageFolder, the running image's own
 * folder on a drive letter this process cannot reach, into unc (cchUnc
 * units), and in *source what told it: the user's persistent mapping
 * (HKCU\Network\<letter>\RemotePath; the elevated token is the same
 * user's), else the kernel's own name of the image (QueryFullProcess
 * ImageNameW, PROCESS_NAME_NATIVE), which names the share the network
 * redirector opened it from.  TRUE: found, and it fits.  FALSE: neither
 * tells. */
BOOL NetworkFolderOfImage(LPCWSTR imageFolder, LPWSTR unc, DWORD cchUnc,
                          LPCWSTR *source);

#endif
