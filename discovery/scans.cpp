#include "discovery/scans.h"

#include "discovery/candidates.h"
#include "platform/registry.h"
#include "platform/runlog.h"
#include "platform/wtext.h"

/* Value data buffer: 256 units, of which RegEnumValueW may fill 255
 * bytes, so the units behind the data always hold a terminator. */
#define VALUE_DATA_CB 512
#define VALUE_DATA_LIMIT_CB 255

/* Longest InfPath the class-key scan offers. */
#define CLASS_INF_PATH_MAX_CCH 12

/* Longest INF name the USB enumeration scan takes from a DeviceDesc of
 * the form "@oemNN.inf,...", and the buffer it is copied into. */
#define USB_INF_NAME_MAX_CCH 11
#define USB_INF_NAME_CCH 20
#define AT_SIGN TEXT('@')

/* INF folder scan: a file is opened only when larger than
 * INF_MIN_SIZE_CB; its first INF_HEAD_READ_CB bytes are read into a
 * zero-filled head of INF_HEAD_CB bytes, so zeros always end its text. */
#define INF_MIN_SIZE_CB 1600
#define INF_HEAD_READ_CB 3200
#define INF_HEAD_CB 6400

/* Other readers (a user, an antivirus scanner) must not hide a file from
 * the scan, so reading is shared; a file open for writing still does not
 * open, nor can one be opened for writing while it is read. */
#define SHARE_INF_READ FILE_SHARE_READ

#define INF_NAME_PREFIX TEXT("oem")
#define INF_NAME_SUFFIX TEXT("inf")
#define INF_NAME_SUFFIX_CCH 3
#define INF_SEARCH_PATTERN TEXT("*.*")

static_assert(USB_INF_NAME_MAX_CCH < USB_INF_NAME_CCH,
              "the USB INF name buffer holds the longest name and a zero");
static_assert(VALUE_DATA_LIMIT_CB < VALUE_DATA_CB,
              "value data is always followed by a zero unit");
static_assert(INF_HEAD_READ_CB < INF_HEAD_CB,
              "the INF head is always followed by a zero unit");

/* Markers of the device's package INF, all required, searched in this
 * order in the head of a file. */
static const LPCWSTR kPackageMarkers[] = {
    TEXT("; QX_DSP_USB.inf"),
    TEXT("QUORVANTIX"),
    TEXT("VID_3C7E&PID_51B8"),
};
/* The older driver's INF mentions it. */
#define LEGACY_DRIVER_MARKER TEXT("libusb0")

/* The scans, in the order the legacy stage runs them, each in both views;
 * the same key seen through another control set or view offers the same
 * names, which the candidate list refuses as duplicates. */
typedef BOOL (*REGISTRY_SCAN)(LPCWSTR keyPath, REGSAM view);
typedef struct REGISTRY_SCAN_STEP {
    REGISTRY_SCAN scan;
    LPCWSTR keyPath;
} REGISTRY_SCAN_STEP;

static const REGISTRY_SCAN_STEP kRegistryScanSteps[] = {
    {ClassKeyScan, TEXT("SYSTEM\\ControlSet001\\Control\\Class\\")
                   TEXT("{eb781aaf-9c70-4523-a5df-642a87eca567}")},
    {ClassKeyScan, TEXT("SYSTEM\\ControlSet002\\Control\\Class\\")
                   TEXT("{eb781aaf-9c70-4523-a5df-642a87eca567}")},
    {ClassKeyScan, TEXT("SYSTEM\\CurrentControlSet\\Control\\Class\\")
                   TEXT("{eb781aaf-9c70-4523-a5df-642a87eca567}")},
    {UsbEnumScan, TEXT("SYSTEM\\ControlSet001\\Enum\\USB\\VID_3C7E&PID_51B8")},
    {UsbEnumScan, TEXT("SYSTEM\\ControlSet002\\Enum\\USB\\VID_3C7E&PID_51B8")},
    {UsbEnumScan,
     TEXT("SYSTEM\\CurrentControlSet\\Enum\\USB\\VID_3C7E&PID_51B8")},
};
#define INF_FOLDER TEXT("C:\\Windows\\INF\\")

/* ---- the key walk shared by the two registry scans ---- */

/* The key whose values are being examined, and its view, for the log's
 * line of each name offered. */
static LPCWSTR s_ValuesKey;
static REGSAM s_ValuesView;

/* Offers name to the candidate list, logging where it was found.  TRUE:
 * it was added. */
static BOOL Offer(LPCWSTR name, LPCWSTR value)
{
    if (!AddCandidate(name))
        return FALSE;
    RunLog(TEXT("Candidate %s: %s of HKLM\\%s (%u-bit view)"), name, value,
           s_ValuesKey, RegistryViewBits(s_ValuesView));
    return TRUE;
}

/* Examines one value of a key.  TRUE: go on with the next value.  FALSE:
 * the key's examination ends.  latch starts FALSE for every key. */
typedef BOOL (*VALUE_RULE)(LPCWSTR name, LPCWSTR data, BOOL *latch);

typedef struct KEY_SCAN {
    VALUE_RULE rule;
    BOOL valuesOfLeavesOnly; /* values only in keys without sub-keys */
} KEY_SCAN;

static void ExamineValues(HKEY key, const KEY_SCAN *scan)
{
    WCHAR name[REG_VALUE_NAME_CCH];
    WCHAR data[VALUE_DATA_CB / sizeof(WCHAR)];
    BOOL latch = FALSE;
    for (DWORD index = 0;; index++) {
        TextZero(name, ARRAYSIZE(name));
        TextZero(data, ARRAYSIZE(data));
        DWORD nameCch = ARRAYSIZE(name);
        DWORD dataCb = VALUE_DATA_LIMIT_CB;
        LSTATUS status =
            RegEnumValueW(key, index, name, &nameCch, NULL, NULL,
                          reinterpret_cast<LPBYTE>(data), &dataCb);
        /* ERROR_NO_MORE_ITEMS ends the list.  Any other error belongs to
         * the key, not to the index: once another process deletes the key
         * (a device unplugged, a cleaning tool), every index answers
         * ERROR_KEY_DELETED, and going on would never end. */
        if (status != ERROR_SUCCESS && status != ERROR_MORE_DATA)
            return;
        /* Data that did not fit leaves the buffer's content undefined; it
         * counts as empty, so that nothing half-fetched can match. */
        if (status == ERROR_MORE_DATA)
            TextZero(data, ARRAYSIZE(data));
        /* Judged by what the buffers hold: a name that did not fit leaves
         * the name empty. */
        if (name[0] != 0 && !scan->rule(name, data, &latch))
            return;
    }
}

/* Depth first, the highest sub-key index first, a key's own values after
 * everything below it.  FALSE: the key did not open. */
/* NOLINTNEXTLINE(misc-no-recursion): REG_PATH_CCH bounds the depth */
static BOOL WalkKey(LPCWSTR keyPath, REGSAM view, const KEY_SCAN *scan)
{
    HKEY key;
    if (RegistryOpenToRead(keyPath, view, &key) != ERROR_SUCCESS)
        return FALSE;
    DWORD subKeys = 0;
    if (RegQueryInfoKeyW(key, NULL, NULL, NULL, &subKeys, NULL, NULL, NULL,
                         NULL, NULL, NULL, NULL) == ERROR_SUCCESS) {
        WCHAR subName[REG_KEY_NAME_CCH];
        WCHAR subPath[REG_PATH_CCH];
        TextZero(subName, ARRAYSIZE(subName));
        for (DWORD i = subKeys; i > 0; i--) {
            LSTATUS status =
                RegEnumKeyW(key, i - 1, subName, ARRAYSIZE(subName));
            /* Counting down, ERROR_NO_MORE_ITEMS only says that the key
             * lost sub-keys since they were counted: the lower indexes
             * are still there. */
            if (RegistryEnumEnded(status))
                break;
            if (status != ERROR_SUCCESS)
                continue;
            /* A sub-key whose path would not fit is skipped. */
            if (!RegistryChildPath(subPath, keyPath, subName))
                continue;
            WalkKey(subPath, view, scan);
        }
        if (subKeys == 0 || !scan->valuesOfLeavesOnly) {
            s_ValuesKey = keyPath;
            s_ValuesView = view;
            ExamineValues(key, scan);
        }
    }
    RegCloseKey(key);
    return TRUE;
}

/* ---- class-key scan ---- */

/* The InfPath of a key counts only after a DriverDesc naming the device;
 * at most one name is taken from a key. */
static BOOL ClassKeyValue(LPCWSTR name, LPCWSTR data, BOOL *latch)
{
    if (!*latch) {
        if (TextStartsWith(name, TEXT("DriverDesc")) &&
            TextStartsWith(data, TEXT("QX DSP USB")))
            *latch = TRUE;
        return TRUE;
    }
    if (!TextStartsWith(name, TEXT("InfPath")))
        return TRUE;
    if (TextLength(data, TEXT_MEASURE_MAX_CCH) > CLASS_INF_PATH_MAX_CCH)
        return FALSE;
    return !Offer(data, TEXT("InfPath"));
}

static const KEY_SCAN kClassKeyScan = {ClassKeyValue, TRUE};

BOOL ClassKeyScan(LPCWSTR keyPath, REGSAM view)
{
    return WalkKey(keyPath, view, &kClassKeyScan);
}

/* ---- USB enumeration scan ---- */

/* A DeviceDesc "@oem5.inf,%desc%;QX DSP USB" names the INF the device was
 * installed from: the units after the at sign up to the first ".inf". */
/* NOLINTNEXTLINE(bugprone-easily-swappable-parameters): VALUE_RULE's form */
static BOOL UsbEnumValue(LPCWSTR name, LPCWSTR data, BOOL *latch)
{
    (void)latch;
    if (!TextStartsWith(name, TEXT("DeviceDesc")))
        return TRUE;
    if (data[0] != AT_SIGN)
        return FALSE;
    /* The index after ".inf" counts the at sign, and is 0 without one. */
    LONG end = WideTextSearch(data, TEXT(".inf"));
    if (end - 1 > USB_INF_NAME_MAX_CCH)
        return FALSE;
    WCHAR infName[USB_INF_NAME_CCH];
    TextZero(infName, ARRAYSIZE(infName));
    for (LONG i = 1; i < end; i++)
        infName[i - 1] = data[i];
    /* Without ".inf" the name is empty, and refused. */
    return !Offer(infName, TEXT("DeviceDesc"));
}

static const KEY_SCAN kUsbEnumScan = {UsbEnumValue, FALSE};

BOOL UsbEnumScan(LPCWSTR keyPath, REGSAM view)
{
    return WalkKey(keyPath, view, &kUsbEnumScan);
}

/* ---- INF folder scan ---- */

/* folder + name into a MAX_PATH buffer; FALSE when it would not fit. */
static BOOL BuildFolderPath(LPWSTR path, LPCWSTR folder, LPCWSTR name)
{
    TextZero(path, MAX_PATH);
    return TextAppend(path, MAX_PATH, folder) &&
           TextAppend(path, MAX_PATH, name);
}

/* Names that begin with "oem" and end with "inf"; the unit before "inf"
 * is not looked at, and case matters. */
static BOOL IsOemInfName(LPCWSTR name, DWORD cchMax)
{
    if (!TextStartsWith(name, INF_NAME_PREFIX))
        return FALSE;
    DWORD cch = TextLength(name, cchMax);
    return cch >= INF_NAME_SUFFIX_CCH &&
           TextEqual(name + cch - INF_NAME_SUFFIX_CCH, INF_NAME_SUFFIX);
}

static BOOL HasPackageMarkers(LPCWSTR head)
{
    for (DWORD i = 0; i < ARRAYSIZE(kPackageMarkers); i++) {
        if (WideTextSearch(head, kPackageMarkers[i]) == 0)
            return FALSE;
    }
    return TRUE;
}

static void ExamineInfEntry(LPCWSTR folder, const WIN32_FIND_DATAW *entry,
                            BOOL *legacyDriver)
{
    LPCWSTR name = entry->cFileName;
    if (name[0] == TEXT('.'))
        return;
    if (entry->dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        return;
    if (!IsOemInfName(name, ARRAYSIZE(entry->cFileName)))
        return;
    /* Only the low 32 bits of the size are looked at. */
    if (entry->nFileSizeLow <= INF_MIN_SIZE_CB)
        return;
    WCHAR path[MAX_PATH];
    if (!BuildFolderPath(path, folder, name))
        return;
    HANDLE file = CreateFileW(path, GENERIC_READ, SHARE_INF_READ, NULL,
                              OPEN_EXISTING, FILE_ATTRIBUTE_ARCHIVE, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return;
    /* Read as UTF-16LE from the first byte; what a short file does not
     * fill stays zero and ends the text. */
    WCHAR head[INF_HEAD_CB / sizeof(WCHAR)];
    TextZero(head, ARRAYSIZE(head));
    DWORD readCb = 0;
    if (ReadFile(file, head, INF_HEAD_READ_CB, &readCb, NULL) &&
        HasPackageMarkers(head)) {
        /* Set before the name is offered, so that a full list or a name
         * already there still counts. */
        BOOL legacy = WideTextSearch(head, LEGACY_DRIVER_MARKER) > 0;
        if (legacy)
            *legacyDriver = TRUE;
        if (AddCandidate(name))
            RunLog(TEXT("Candidate %s: its content in %s%s"), name, folder,
                   legacy ? TEXT(" (names libusb0)") : TEXT(""));
    }
    CloseHandle(file);
}

BOOL InfFolderScan(LPCWSTR folder, BOOL *legacyDriver)
{
    WCHAR pattern[MAX_PATH];
    if (!BuildFolderPath(pattern, folder, INF_SEARCH_PATTERN))
        return FALSE;
    WIN32_FIND_DATAW entry;
    HANDLE search = FindFirstFileW(pattern, &entry);
    if (search == INVALID_HANDLE_VALUE)
        return FALSE;
    do {
        ExamineInfEntry(folder, &entry, legacyDriver);
    } while (FindNextFileW(search, &entry));
    FindClose(search);
    return TRUE;
}

/* ---- the legacy stage's discovery ---- */

void DiscoveryRunAll(BOOL *legacyDriver, BOOL windowsAtDefault)
{
    for (DWORD s = 0; s < ARRAYSIZE(kRegistryScanSteps); s++) {
        for (DWORD v = 0; v < REGISTRY_VIEW_COUNT; v++)
            kRegistryScanSteps[s].scan(kRegistryScanSteps[s].keyPath,
                                       g_RegistryViews[v]);
    }
    if (windowsAtDefault)
        InfFolderScan(INF_FOLDER, legacyDriver);
}
