/*
 * The discovery scans: the device's setup class key, its USB enumeration
 * key and the INF folder, each offering the OEM INF names it finds to the
 * candidate INF list.  They change nothing on the machine.
 */
#ifndef QX_DISCOVERY_SCANS_H
#define QX_DISCOVERY_SCANS_H

#include "platform/win32.h"

/* Walks the class key tree at HKLM\keyPath in view, offering the InfPath
 * of each leaf key whose DriverDesc names the device.  FALSE: the key
 * could not be opened.  TRUE otherwise, whatever was found. */
BOOL ClassKeyScan(LPCWSTR keyPath, REGSAM view);

/* Walks the USB enumeration key tree at HKLM\keyPath in view, offering the
 * INF named by each "@oemNN.inf,..." DeviceDesc.  FALSE/TRUE as above. */
BOOL UsbEnumScan(LPCWSTR keyPath, REGSAM view);

/* Reads the oem*inf files of folder (ending in a backslash), offering
 * those that carry the package markers; sets *legacyDriver when such a
 * file also mentions libusb0.  FALSE: the folder could not be searched. */
BOOL InfFolderScan(LPCWSTR folder, BOOL *legacyDriver);

/* The legacy stage's discovery, its results not examined: the class-key
 * scan of the device class key under ControlSet001, ControlSet002 and
 * CurrentControlSet, then the USB enumeration scan of the device's
 * enumeration key under the same three, each in the 32-bit and then the
 * 64-bit view; then, only when windowsAtDefault (Windows lives in
 * C:\Windows), the INF folder scan of C:\Windows\INF\, which may set
 * *legacyDriver. */
void DiscoveryRunAll(BOOL *legacyDriver, BOOL windowsAtDefault);

#endif
