#include "discovery/shared_driver.h"

#include "platform/registry.h"
#include "platform/runlog.h"
#include "platform/wtext.h"

#define USB_DEVICES_KEY TEXT("SYSTEM\\CurrentControlSet\\Enum\\USB")
#define SETUP_CLASSES_KEY TEXT("SYSTEM\\CurrentControlSet\\Control\\Class")
#define SHARED_DRIVER_NAME TEXT("libusb0")

/* The device's own key below Enum\USB, and the prefix of its interfaces'
 * keys (VID_3C7E&PID_51B8&MI_00 ...). */
#define OWN_DEVICE_KEY TEXT("VID_3C7E&PID_51B8")
#define OWN_INTERFACE_PREFIX TEXT("VID_3C7E&PID_51B8&MI_")
#define OWN_INTERFACE_PREFIX_CCH 21

/* Keys the walk opens in one view, at most; a machine with more counts
 * as sharing, since keeping a driver is the safe side. */
#define SHARING_WALK_KEY_MAX 4096

/* Value data: 1024 units, fetched with a limit that leaves two zero units
 * behind the data, so that a list of names always ends. */
#define SHARING_VALUE_CB 2048
#define SHARING_VALUE_LIMIT_CB (SHARING_VALUE_CB - 2 * sizeof(WCHAR))

static_assert(sizeof(OWN_INTERFACE_PREFIX) / sizeof(WCHAR) - 1 ==
                  OWN_INTERFACE_PREFIX_CCH,
              "the interface prefix's length");

/* The values that make a key use a driver: a device instance's service
 * and filters (REG_SZ and REG_MULTI_SZ), a setup class's filters. */
static const LPCWSTR kInstanceValues[] = {TEXT("Service"),
                                          TEXT("UpperFilters"),
                                          TEXT("LowerFilters")};
static const LPCWSTR kClassValues[] = {TEXT("UpperFilters"),
                                       TEXT("LowerFilters")};

typedef struct SHARING_WALK {
    REGSAM view;
    DWORD keysLeft;
} SHARING_WALK;

/* Examines the key at path; TRUE when it shares libusb0 (or cannot tell). */
typedef BOOL (*KEY_VISIT)(LPCWSTR path, SHARING_WALK *walk);

/* Opens HKLM\path for the walk, counting it.  FALSE: the walk's keys are
 * used up, or the key did not open; *status tells which open failed. */
static BOOL OpenCounted(LPCWSTR path, SHARING_WALK *walk, HKEY *key,
                        LSTATUS *status)
{
    *status = ERROR_SUCCESS;
    if (walk->keysLeft == 0)
        return FALSE;
    walk->keysLeft--;
    *status = RegistryOpenToRead(path, walk->view, key);
    return *status == ERROR_SUCCESS;
}

/* TRUE when a list of zero-terminated names (a REG_SZ is a list of one),
 * in its first cb bytes, holds libusb0 in any ASCII case. */
static BOOL ListNamesDriver(LPCWSTR data, DWORD cb)
{
    DWORD units = cb / sizeof(WCHAR);
    DWORD start = 0;
    while (start < units && data[start] != 0) {
        if (TextEqualAsciiNoCase(data + start, SHARED_DRIVER_NAME))
            return TRUE;
        start += TextLength(data + start, units - start) + 1;
    }
    return FALSE;
}

static BOOL IsOneOf(LPCWSTR name, const LPCWSTR *names, DWORD count)
{
    for (DWORD i = 0; i < count; i++) {
        if (TextEqualAsciiNoCase(name, names[i]))
            return TRUE;
    }
    return FALSE;
}

/* TRUE when one of the named values of the open key names libusb0, or
 * cannot be read. */
static BOOL ValuesNameDriver(HKEY key, const LPCWSTR *names, DWORD count)
{
    WCHAR name[REG_VALUE_NAME_CCH];
    WCHAR data[SHARING_VALUE_CB / sizeof(WCHAR)];
    for (DWORD index = 0;; index++) {
        TextZero(name, ARRAYSIZE(name));
        TextZero(data, ARRAYSIZE(data));
        DWORD nameCch = ARRAYSIZE(name);
        DWORD dataCb = SHARING_VALUE_LIMIT_CB;
        LSTATUS status = RegEnumValueW(key, index, name, &nameCch, NULL, NULL,
                                       reinterpret_cast<LPBYTE>(data),
                                       &dataCb);
        if (status == ERROR_NO_MORE_ITEMS)
            return FALSE;
        /* Any other error is one of the key, and would come for every
         * index: what it holds cannot be read. */
        if (status != ERROR_SUCCESS && status != ERROR_MORE_DATA)
            return TRUE;
        if (!IsOneOf(name, names, count))
            continue;
        /* One of the values looked for, too long to read whole. */
        if (status == ERROR_MORE_DATA)
            return TRUE;
        if (ListNamesDriver(data, dataCb))
            return TRUE;
    }
}

static BOOL KeyValuesNameDriver(LPCWSTR path, SHARING_WALK *walk,
                                const LPCWSTR *names, DWORD count)
{
    HKEY key;
    LSTATUS status;
    if (!OpenCounted(path, walk, &key, &status))
        return TRUE;
    BOOL shared = ValuesNameDriver(key, names, count);
    RegCloseKey(key);
    if (shared)
        RunLog(TEXT("libusb0 is named in, or cannot be read from, HKLM\\%s"),
               path);
    return shared;
}

static BOOL InstanceShares(LPCWSTR path, SHARING_WALK *walk)
{
    return KeyValuesNameDriver(path, walk, kInstanceValues,
                               ARRAYSIZE(kInstanceValues));
}

static BOOL ClassShares(LPCWSTR path, SHARING_WALK *walk)
{
    return KeyValuesNameDriver(path, walk, kClassValues,
                               ARRAYSIZE(kClassValues));
}

/* The device's own key and its interfaces' keys, in any ASCII case. */
static BOOL IsOwnDeviceKey(LPCWSTR name)
{
    if (TextEqualAsciiNoCase(name, OWN_DEVICE_KEY))
        return TRUE;
    WCHAR prefix[OWN_INTERFACE_PREFIX_CCH + 1];
    TextZero(prefix, ARRAYSIZE(prefix));
    for (DWORD i = 0; i < OWN_INTERFACE_PREFIX_CCH && name[i] != 0; i++)
        prefix[i] = name[i];
    return TextEqualAsciiNoCase(prefix, OWN_INTERFACE_PREFIX);
}

/* Visits every sub-key of HKLM\path; TRUE as soon as one shares, or when
 * the list cannot be read.  A missing top key holds nothing (topKey);
 * a listed key that does not open cannot be read. */
/* The two walks' options are named at each call. */
static BOOL SubKeysShare(LPCWSTR path, SHARING_WALK *walk, KEY_VISIT visit,
                         BOOL skipOwnDevice, BOOL topKey) /* NOLINT(bugprone-easily-swappable-parameters) */
{
    HKEY key;
    LSTATUS status;
    if (!OpenCounted(path, walk, &key, &status)) {
        if (topKey && status == ERROR_FILE_NOT_FOUND)
            return FALSE;
        RunLog(TEXT("libusb0's users cannot all be read below HKLM\\%s"),
               path);
        return TRUE;
    }
    BOOL shared = FALSE;
    WCHAR name[REG_KEY_NAME_CCH];
    WCHAR child[REG_PATH_CCH];
    for (DWORD index = 0; !shared; index++) {
        TextZero(name, ARRAYSIZE(name));
        status = RegEnumKeyW(key, index, name, ARRAYSIZE(name));
        if (status == ERROR_NO_MORE_ITEMS)
            break;
        /* A name that cannot be read may be any device's; so may a key
         * whose path does not fit. */
        if (status != ERROR_SUCCESS ||
            !RegistryChildPath(child, path, name)) {
            RunLog(TEXT("libusb0's users cannot all be read below HKLM\\%s"),
                   path);
            shared = TRUE;
            break;
        }
        if (skipOwnDevice && IsOwnDeviceKey(name))
            continue;
        shared = visit(child, walk);
    }
    RegCloseKey(key);
    return shared;
}

/* A device key below Enum\USB: its sub-keys are its instances. */
static BOOL UsbDeviceShares(LPCWSTR path, SHARING_WALK *walk)
{
    return SubKeysShare(path, walk, InstanceShares, /*skipOwnDevice=*/FALSE,
                        /*topKey=*/FALSE);
}

BOOL Libusb0Shared(void)
{
    for (DWORD v = 0; v < REGISTRY_VIEW_COUNT; v++) {
        SHARING_WALK walk = {g_RegistryViews[v], SHARING_WALK_KEY_MAX};
        if (SubKeysShare(USB_DEVICES_KEY, &walk, UsbDeviceShares,
                         /*skipOwnDevice=*/TRUE, /*topKey=*/TRUE) ||
            SubKeysShare(SETUP_CLASSES_KEY, &walk, ClassShares,
                         /*skipOwnDevice=*/FALSE, /*topKey=*/TRUE))
            return TRUE;
    }
    return FALSE;
}
