#include "staging/staging.h"

#include "app/messages.h"
#include "platform/pnputil.h"
#include "platform/runlog.h"
#include "platform/security.h"
#include "platform/system_dll.h"
#include "platform/wtext.h"

WCHAR g_PreinstalledInf[OEM_INF_NAME_CCH];

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
    MsgShowFailure((DWORD)result);
    return FALSE;
}

/* Opens path without following a link at its end, reading shared with
 * no one else; a folder needs FILE_FLAG_BACKUP_SEMANTICS to open. */
static HANDLE OpenUnfollowed(LPCWSTR path, BOOL folder)
{
    DWORD flags = FILE_FLAG_OPEN_REPARSE_POINT;
    if (folder)
        flags |= FILE_FLAG_BACKUP_SEMANTICS;
    return CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, NULL,
                       OPEN_EXISTING, flags, NULL);
}

/* Reads the reparse tag of the reparse point open on handle into *tag.
 * FALSE when it cannot be read. */
static BOOL ReadReparseTag(HANDLE handle, DWORD *tag)
{
    HMODULE kernel32 = GetModuleHandleW(TEXT("kernel32.dll"));
    FARPROC proc = NULL;
    if (kernel32 != NULL)
        proc = GetProcAddress(kernel32, "GetFileInformationByHandleEx");
    if (proc != NULL) {
        FILE_ATTRIBUTE_TAG_INFO info;
        /* The tag is defined only while the object is a reparse point. */
        if (!((PFN_GET_FILE_INFORMATION_BY_HANDLE_EX)(void (*)(void))proc)(
                handle, FileAttributeTagInfo, &info, sizeof(info)) ||
            !(info.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
            return FALSE;
        *tag = info.ReparseTag;
        return TRUE;
    }
    /* XP: the tag heads the reparse data, which never exceeds
     * MAXIMUM_REPARSE_DATA_BUFFER_SIZE. */
    DWORD data[(DWORD)MAXIMUM_REPARSE_DATA_BUFFER_SIZE / sizeof(DWORD)];
    DWORD returned = 0;
    if (!DeviceIoControl(handle, FSCTL_GET_REPARSE_POINT, NULL, 0, data,
                         sizeof(data), &returned, NULL) ||
        returned < sizeof(data[0]))
        return FALSE;
    *tag = data[0];
    return TRUE;
}

/* TRUE when the object open on handle is what the package may hold there:
 * no link, a folder where a folder is due and a file with one link where
 * a file is.  A link is a reparse point whose tag is a name surrogate (a
 * junction, a symbolic link, a mount point), or whose tag cannot be read;
 * other reparse points (OneDrive's cloud placeholders, deduplicated or
 * archived files) hold their own content, which the copy reads. */
static BOOL IsPlainObject(HANDLE handle, BOOL folder)
{
    BY_HANDLE_FILE_INFORMATION info;
    DWORD tag = 0;
    if (!GetFileInformationByHandle(handle, &info))
        return FALSE;
    if ((info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) &&
        (!ReadReparseTag(handle, &tag) || IsReparseTagNameSurrogate(tag)))
        return FALSE;
    if (folder)
        return (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    return !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
           info.nNumberOfLinks == 1;
}

/* Opens path into *handle and checks it.  FALSE only when it opened and
 * is refused; what does not open is left INVALID_HANDLE_VALUE. */
static BOOL HoldOne(LPCWSTR path, BOOL folder, HANDLE *handle)
{
    *handle = OpenUnfollowed(path, folder);
    return *handle == INVALID_HANDLE_VALUE || IsPlainObject(*handle, folder);
}

void StagingReleasePackage(PACKAGE_HOLD *hold)
{
    for (int area = AREA_ROOT; area < AREA_COUNT; area++) {
        if (hold->folders[area] != INVALID_HANDLE_VALUE)
            CloseHandle(hold->folders[area]);
        hold->folders[area] = INVALID_HANDLE_VALUE;
        for (DWORD i = 0; i < FILE_SET_SIZE; i++) {
            if (hold->files[area][i] != INVALID_HANDLE_VALUE)
                CloseHandle(hold->files[area][i]);
            hold->files[area][i] = INVALID_HANDLE_VALUE;
        }
    }
}

BOOL StagingHoldPackage(const WCHAR package[AREA_COUNT][MAX_PATH],
                        PACKAGE_HOLD *hold)
{
    for (int area = AREA_ROOT; area < AREA_COUNT; area++) {
        hold->folders[area] = INVALID_HANDLE_VALUE;
        for (DWORD i = 0; i < FILE_SET_SIZE; i++)
            hold->files[area][i] = INVALID_HANDLE_VALUE;
    }
    /* Each folder before its files: once it is held, it cannot be
     * renamed or replaced by a junction under them. */
    for (int area = AREA_ROOT; area < AREA_COUNT; area++) {
        BOOL plain = HoldOne(package[area], TRUE, &hold->folders[area]);
        /* A folder that did not open was not checked: its files are
         * neither opened through it nor copied (another process may hold
         * a junction open to keep it from being examined). */
        BOOL held = hold->folders[area] != INVALID_HANDLE_VALUE;
        const FILE_SET *set = g_PackageAreas[area].set;
        WCHAR path[MAX_PATH];
        for (DWORD i = 0; plain && held && i < FILE_SET_SIZE; i++) {
            /* A path that would not fit is not opened, and not copied. */
            if (BuildFilePath(path, package[area], set->names[i]))
                plain = HoldOne(path, FALSE, &hold->files[area][i]);
        }
        if (!plain) {
            StagingReleasePackage(hold);
            return FALSE;
        }
    }
    return TRUE;
}

BOOL StagingCopySet(LPCWSTR source, LPCWSTR destination, const FILE_SET *set,
                    const HANDLE held[FILE_SET_SIZE])
{
    WCHAR from[MAX_PATH], to[MAX_PATH];
    for (DWORD i = 0; i < FILE_SET_SIZE; i++) {
        if (!BuildFilePath(from, source, set->names[i]) ||
            !BuildFilePath(to, destination, set->names[i])) {
            RunLog(TEXT("Not copied, its path is too long: %s%s"), source,
                   set->names[i]);
            SetLastError(ERROR_SUCCESS);
            return FALSE;
        }
        if (held[i] == INVALID_HANDLE_VALUE) {
            /* It did not open for the check: its attributes tell why (a
             * missing file), or nothing does. */
            SetLastError(ERROR_SUCCESS);
            WIN32_FILE_ATTRIBUTE_DATA data;
            GetFileAttributesExW(from, GetFileExInfoStandard, &data);
            RunLog(TEXT("Not copied, it did not open to be checked: %s (error %u)"),
                   from, GetLastError());
            return FALSE;
        }
        if (!CopyFileW(from, to, FALSE)) {
            RunLog(TEXT("Copy of %s to %s failed: error %u"), from, to,
                   GetLastError());
            return FALSE;
        }
    }
    return TRUE;
}

/* Sets sd's DACL on folder, protected, which Windows also propagates to
 * everything already below it.  Returns the error, ERROR_SUCCESS when
 * set. */
static DWORD SecureExistingFolder(LPCWSTR folder, PSECURITY_DESCRIPTOR sd)
{
    BOOL present = FALSE, defaulted = FALSE;
    PACL dacl = NULL;
    if (!GetSecurityDescriptorDacl(sd, &present, &dacl, &defaulted))
        return GetLastError();
    /* SetNamedSecurityInfoW takes a writable name. */
    WCHAR path[MAX_PATH];
    if (!TextCopy(path, ARRAYSIZE(path), folder))
        return ERROR_FILENAME_EXCED_RANGE;
    return SetNamedSecurityInfoW(path, SE_FILE_OBJECT,
                                 DACL_SECURITY_INFORMATION |
                                     PROTECTED_DACL_SECURITY_INFORMATION,
                                 NULL, NULL, dacl, NULL);
}

/* NOLINTNEXTLINE(bugprone-easily-swappable-parameters): what, then its text */
BOOL StagingCreateSecuredFolder(LPCWSTR folder, LPCWSTR errorText)
{
    SECURITY_ATTRIBUTES sa;
    DWORD error;
    if (!SecurityAttributesFromSddl(STAGING_FOLDER_SDDL, &sa)) {
        error = GetLastError();
    } else {
        /* See StagingCreateFolder for the shell's results. */
        int result = SHCreateDirectoryExW(NULL, folder, &sa);
        error = (DWORD)result;
        /* A folder this run did not create (its deletion failed) is
         * filled all the same, so it gets the same DACL first. */
        if (result == ERROR_ALREADY_EXISTS || result == ERROR_FILE_EXISTS)
            error = SecureExistingFolder(folder, sa.lpSecurityDescriptor);
        LocalFree(sa.lpSecurityDescriptor);
    }
    if (error == ERROR_SUCCESS)
        return TRUE;
    MsgAppendDetail(errorText);
    MsgAppendNumber(error);
    MsgShowFailure(error);
    return FALSE;
}

BOOL StagingPreinstall(LPCWSTR stagingFolder)
{
    WCHAR inf[MAX_PATH];
    TextZero(g_PreinstalledInf, ARRAYSIZE(g_PreinstalledInf));
    BOOL copied = FALSE;
    if (!BuildFilePath(inf, stagingFolder, g_InfSet.names[0])) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
    } else {
        /* Looked up like every Setup function (PFN_SETUP_COPY_OEM_INF_W);
         * a setupapi that cannot be had leaves the loader's error. */
        FARPROC copy = SystemDllProc(SETUPAPI_DLL, "SetupCopyOEMInfW");
        copied = copy != NULL &&
                 ((PFN_SETUP_COPY_OEM_INF_W)(void (*)(void))copy)(
                     inf, NULL, SPOST_PATH, SP_COPY_NEWER, g_PreinstalledInf,
                     ARRAYSIZE(g_PreinstalledInf), NULL, NULL);
    }
    /* Read at once: showing the box may change it. */
    DWORD error = copied ? ERROR_SUCCESS : GetLastError();
    if (error == ERROR_IN_WOW64) {
        RunLog(TEXT("Setup refused a 32-bit caller (ERROR_IN_WOW64): pnputil "
                    "does the job"));
        copied = PnputilAdd(inf, g_PreinstalledInf,
                            ARRAYSIZE(g_PreinstalledInf));
        error = GetLastError();
    }
    if (copied) {
        RunLog(TEXT("Pre-installed %s: Windows named it %s"), inf,
               g_PreinstalledInf);
        return TRUE;
    }
    TextZero(g_PreinstalledInf, ARRAYSIZE(g_PreinstalledInf));
    RunLog(TEXT("Pre-installation of %s refused: error %u (0x%x)"), inf,
           error, error);
    MsgAppendNumber(error);
    MsgShowFailure(error);
    return FALSE;
}
