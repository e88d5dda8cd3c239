#include "staging/staging.h"

#include "app/messages.h"
#include "platform/wtext.h"

/* Destination name buffer handed to SetupCopyOEMInfW; the name it
 * returns is not used. */
#define OEM_INF_NAME_CCH 128

const FILE_SET g_InfSet = {{TEXT("QX_DSP_USB.inf"), TEXT("USB_DSP.cat")}};
const FILE_SET g_DriverSet = {
    {TEXT("libusbDspQx.dll"), TEXT("libusbDspQx.sys")}};
const FILE_SET g_X86DriverSet = {
    {TEXT("libusbDspQx.sys"), TEXT("libusbDspQx_x86.dll")}};
const FILE_SET g_LegacySet = {{TEXT("libusb0.dll"), TEXT("libusb0.sys")}};
const FILE_SET g_LegacyX86Set = {
    {TEXT("libusb0.sys"), TEXT("libusb0_x86.dll")}};

const PACKAGE_AREA g_PackageAreas[AREA_COUNT] = {
    {TEXT(""), &g_InfSet},
    {TEXT("amd64\\"), &g_DriverSet},
    {TEXT("ia64\\"), &g_DriverSet},
    {TEXT("x86\\"), &g_X86DriverSet},
};

/* folder + name into a MAX_PATH buffer; FALSE when it would not fit. */
static BOOL BuildFilePath(LPWSTR path, LPCWSTR folder, LPCWSTR name)
{
    TextZero(path, MAX_PATH);
    return TextAppend(path, MAX_PATH, folder) &&
           TextAppend(path, MAX_PATH, name);
}

static BOOL QueryFile(LPCWSTR folder, LPCWSTR name,
                      WIN32_FILE_ATTRIBUTE_DATA *data)
{
    WCHAR path[MAX_PATH];
    return BuildFilePath(path, folder, name) &&
           GetFileAttributesExW(path, GetFileExInfoStandard, data);
}

BOOL StagingSetExists(LPCWSTR folder, const FILE_SET *set)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    for (DWORD i = 0; i < FILE_SET_SIZE; i++) {
        if (!QueryFile(folder, set->names[i], &data))
            return FALSE;
    }
    return TRUE;
}

BOOL StagingSameFiles(LPCWSTR source, LPCWSTR destination,
                      const FILE_SET *set)
{
    WIN32_FILE_ATTRIBUTE_DATA src, dst;
    for (DWORD i = 0; i < FILE_SET_SIZE; i++) {
        if (!QueryFile(source, set->names[i], &src) ||
            !QueryFile(destination, set->names[i], &dst))
            return FALSE;
        /* Creation time, access time and attributes do not count. */
        if (src.ftLastWriteTime.dwHighDateTime !=
                dst.ftLastWriteTime.dwHighDateTime ||
            src.ftLastWriteTime.dwLowDateTime !=
                dst.ftLastWriteTime.dwLowDateTime ||
            src.nFileSizeHigh != dst.nFileSizeHigh ||
            src.nFileSizeLow != dst.nFileSizeLow)
            return FALSE;
    }
    return TRUE;
}

/* NOLINTNEXTLINE(bugprone-easily-swappable-parameters): what, then its text */
BOOL StagingCreateFolder(LPCWSTR folder, LPCWSTR errorText)
{
    /* SHCreateDirectoryExW returns an error code, and the thread's last
     * error is undefined after it (Wine leaves 87 there after creating).
     * "Exists" is documented both as ERROR_ALREADY_EXISTS and as
     * ERROR_FILE_EXISTS. */
    int result = SHCreateDirectoryExW(NULL, folder, NULL);
    if (result == ERROR_SUCCESS || result == ERROR_ALREADY_EXISTS ||
        result == ERROR_FILE_EXISTS)
        return TRUE;
    MsgAppendDetail(errorText);
    MsgAppendNumber((DWORD)result);
    MsgShow(g_Messages.failure);
    return FALSE;
}

BOOL StagingCopySet(LPCWSTR source, LPCWSTR destination, const FILE_SET *set)
{
    WCHAR from[MAX_PATH], to[MAX_PATH];
    for (DWORD i = 0; i < FILE_SET_SIZE; i++) {
        if (!BuildFilePath(from, source, set->names[i]) ||
            !BuildFilePath(to, destination, set->names[i]))
            return FALSE;
        if (!CopyFileW(from, to, FALSE))
            return FALSE;
    }
    return TRUE;
}

BOOL StagingPreinstall(LPCWSTR stagingFolder)
{
    WCHAR inf[MAX_PATH];
    WCHAR oemName[OEM_INF_NAME_CCH];
    TextZero(oemName, ARRAYSIZE(oemName));
    if (!BuildFilePath(inf, stagingFolder, g_InfSet.names[0])) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
    } else if (SetupCopyOEMInfW(inf, NULL, SPOST_PATH, SP_COPY_NEWER, oemName,
                                ARRAYSIZE(oemName), NULL, NULL)) {
        return TRUE;
    }
    MsgAppendErrorNumber();
    MsgShow(g_Messages.failure);
    return FALSE;
}
