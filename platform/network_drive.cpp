#include "platform/network_drive.h"

#include "platform/wtext.h"

/* "X:\" and its terminator. */
#define DRIVE_ROOT_CCH 4
/* Where a persistent mapping is kept below HKEY_CURRENT_USER: its letter
 * is the key's name. */
#define NETWORK_KEY TEXT("Network\\")
#define NETWORK_KEY_CCH 16
/* The devices an SMB (or WebDAV) file's native name begins with: the
 * multiple UNC provider from Vista on, the redirector itself before. */
static const LPCWSTR kRedirectorDevices[] = {
    TEXT("\\Device\\Mup\\"),
    TEXT("\\Device\\LanmanRedirector\\"),
};
/* A native image name: the NT namespace allows 32767 units; ours fits
 * well below. */
#define NATIVE_NAME_CCH 1024

static BOOL IsDriveLetterPath(LPCWSTR path)
{
    WCHAR letter = (WCHAR)(path[0] | 0x20);
    return letter >= TEXT('a') && letter <= TEXT('z') &&
           path[1] == TEXT(':') && path[2] == TEXT('\\');
}

BOOL DriveUnreachable(LPCWSTR folder)
{
    if (!IsDriveLetterPath(folder))
        return FALSE;
    WCHAR root[DRIVE_ROOT_CCH] = {folder[0], TEXT(':'), TEXT('\\'), 0};
    if (GetFileAttributesW(folder) == INVALID_FILE_ATTRIBUTES &&
        GetLastError() == ERROR_PATH_NOT_FOUND)
        return TRUE;
    return GetDriveTypeW(root) == DRIVE_NO_ROOT_DIR;
}

/* The user's persistent mapping of the letter of imageFolder, joined
 * with the rest of imageFolder. */
static BOOL FromPersistentMapping(LPCWSTR imageFolder, LPWSTR unc, DWORD cchUnc)
{
    WCHAR keyPath[NETWORK_KEY_CCH];
    TextZero(keyPath, ARRAYSIZE(keyPath));
    WCHAR letter[2] = {imageFolder[0], 0};
    HKEY key;
    if (!TextAppend(keyPath, ARRAYSIZE(keyPath), NETWORK_KEY) ||
        !TextAppend(keyPath, ARRAYSIZE(keyPath), letter) ||
        RegOpenKeyExW(HKEY_CURRENT_USER, keyPath, 0, KEY_QUERY_VALUE, &key) !=
            ERROR_SUCCESS)
        return FALSE;
    TextZero(unc, cchUnc);
    DWORD type = REG_NONE;
    /* One unit short of the buffer, so that the value ends in a zero
     * whether or not it was stored with one. */
    DWORD cb = (cchUnc - 1) * sizeof(WCHAR);
    LSTATUS status = RegQueryValueExW(key, TEXT("RemotePath"), NULL, &type,
                                      (LPBYTE)unc, &cb);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS || type != REG_SZ ||
        !TextStartsWith(unc, TEXT("\\\\"))) {
        TextZero(unc, cchUnc);
        return FALSE;
    }
    /* "Z:\drivers\" below \\server\share, which may end with a
     * backslash of its own. */
    DWORD cch = TextLength(unc, cchUnc);
    if (unc[cch - 1] == TEXT('\\'))
        unc[cch - 1] = 0;
    return TextAppend(unc, cchUnc, imageFolder + 2);
}

/* The image's native name, such as \Device\Mup\;LanmanRedirector\;Z:000
 * 0000000012345\server\share\drivers\QxDspInstaller.exe: the redirector's
 * own parts begin with ";", then come the server, the share and the path
 * below it. */
static BOOL FromNativeImageName(LPWSTR unc, DWORD cchUnc)
{
    HMODULE kernel32 = GetModuleHandleW(TEXT("kernel32.dll"));
    FARPROC proc = NULL;
    if (kernel32 != NULL)
        proc = GetProcAddress(kernel32, "QueryFullProcessImageNameW");
    WCHAR native[NATIVE_NAME_CCH];
    TextZero(native, ARRAYSIZE(native));
    DWORD cch = ARRAYSIZE(native);
    if (proc == NULL ||
        !((PFN_QUERY_FULL_PROCESS_IMAGE_NAME_W)(void (*)(void))proc)(
            GetCurrentProcess(), PROCESS_NAME_NATIVE, native, &cch))
        return FALSE;
    LPCWSTR rest = NULL;
    for (DWORD i = 0; rest == NULL && i < ARRAYSIZE(kRedirectorDevices); i++) {
        if (TextStartsWithAsciiNoCase(native, kRedirectorDevices[i]))
            rest = native + TextLength(kRedirectorDevices[i], NATIVE_NAME_CCH);
    }
    while (rest != NULL && *rest == TEXT(';')) {
        while (*rest != 0 && *rest != TEXT('\\'))
            rest++;
        rest = *rest != 0 ? rest + 1 : NULL;
    }
    /* The server, the share, then at least the image's own name. */
    DWORD end = 0, separators = 0;
    for (DWORD i = 0; rest != NULL && rest[i] != 0; i++) {
        if (rest[i] == TEXT('\\')) {
            separators++;
            end = i + 1;
        }
    }
    if (rest == NULL || separators < 2 || rest[0] == TEXT('\\'))
        return FALSE;
    TextZero(unc, cchUnc);
    if (end + 2 >= cchUnc)
        return FALSE;
    unc[0] = unc[1] = TEXT('\\');
    for (DWORD i = 0; i < end; i++)
        unc[i + 2] = rest[i];
    return TRUE;
}

BOOL NetworkFolderOfImage(LPCWSTR imageFolder, LPWSTR unc, DWORD cchUnc,
                          LPCWSTR *source)
{
    if (!IsDriveLetterPath(imageFolder))
        return FALSE;
    if (FromPersistentMapping(imageFolder, unc, cchUnc)) {
        *source = TEXT("the user's mapping in HKCU\\Network");
        return TRUE;
    }
    if (FromNativeImageName(unc, cchUnc)) {
        *source = TEXT("the image's own name");
        return TRUE;
    }
    TextZero(unc, cchUnc);
    return FALSE;
}
