/*
 * The one place that decides how the installer reaches Win32.
 *
 * Windows build: the real SDK headers (mingw-w64), UNICODE, XP as the
 * oldest target.  Host build: the declarations of the in-memory stand-in
 * machine, which defines exactly the functions the installer calls.
 * Product code includes this header and nothing else from the platform.
 */
#ifndef QX_PLATFORM_WIN32_H
#define QX_PLATFORM_WIN32_H

#ifdef _WIN32
#ifndef UNICODE
#define UNICODE
#endif
#ifndef _UNICODE
#define _UNICODE
#endif
#ifndef _WIN32_WINNT
#define _WIN32_WINNT 0x0501
#endif
#ifndef WINVER
#define WINVER 0x0501
#endif
#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>
#include <setupapi.h>
#include <sddl.h>
#include <aclapi.h>
#include <cfgmgr32.h>
#else
#include "../host/winhost.h"
#endif

/* SHFileOperationW's pre-Win32 "invalid source" result, which Windows
 * gives for a source that is not there; the SDK does not define it. */
#ifndef DE_INVALIDFILES
#define DE_INVALIDFILES 0x7C
#endif

/* A reparse point's tag is read where kernel32 has
 * GetFileInformationByHandleEx (Vista and later, looked up at run time),
 * else with DeviceIoControl(FSCTL_GET_REPARSE_POINT).  Below Vista the
 * SDK hides the function's class and result, so they are declared here
 * as Windows defines them. */
#ifdef _WIN32
#include <winioctl.h>
#if _WIN32_WINNT < 0x0600
typedef enum _FILE_INFO_BY_HANDLE_CLASS {
    FileAttributeTagInfo = 9
} FILE_INFO_BY_HANDLE_CLASS;
typedef struct _FILE_ATTRIBUTE_TAG_INFO {
    DWORD FileAttributes;
    DWORD ReparseTag; /* defined only for a reparse point */
} FILE_ATTRIBUTE_TAG_INFO;
#endif
#endif
typedef BOOL(WINAPI *PFN_GET_FILE_INFORMATION_BY_HANDLE_EX)(
    HANDLE hFile, FILE_INFO_BY_HANDLE_CLASS FileInformationClass,
    LPVOID lpFileInformation, DWORD dwBufferSize);

/* RegDeleteKeyExW is not exported by XP's advapi32, so it is looked up at
 * run time through this type; the SDK only declares it for Vista. */
typedef LONG(WINAPI *PFN_REG_DELETE_KEY_EX_W)(HKEY hKey, LPCWSTR lpSubKey,
                                              REGSAM samDesired,
                                              DWORD Reserved);

/* Setup's functions are all looked up at run time in setupapi, loaded by
 * its full path, so that the executable imports nothing from it: on XP and
 * Vista (where setupapi is no known DLL) an import would be searched for
 * in the installer's own folder before the program's first line.
 * SetupGetInfDriverStoreLocationW (Vista and later) is not declared by
 * mingw-w64; its platform argument is reserved and always NULL. */
typedef BOOL(WINAPI *PFN_SETUP_UNINSTALL_OEM_INF_W)(PCWSTR InfFileName,
                                                    DWORD Flags,
                                                    PVOID Reserved);
typedef BOOL(WINAPI *PFN_SETUP_COPY_OEM_INF_W)(
    PCWSTR SourceInfFileName, PCWSTR OEMSourceMediaLocation,
    DWORD OEMSourceMediaType, DWORD CopyStyle, PWSTR DestinationInfFileName,
    DWORD DestinationInfFileNameSize, PDWORD RequiredSize,
    PZPWSTR DestinationInfFileNameComponent);
typedef BOOL(WINAPI *PFN_SETUP_GET_INF_DRIVER_STORE_LOCATION_W)(
    PCWSTR FileName, PVOID AlternatePlatformInfo, PCWSTR LocaleName,
    PWSTR ReturnBuffer, DWORD ReturnBufferSize, PDWORD RequiredSize);
/* Reading the package INF (XP and later). */
typedef HINF(WINAPI *PFN_SETUP_OPEN_INF_FILE_W)(PCWSTR FileName,
                                                PCWSTR InfClass,
                                                DWORD InfStyle,
                                                PUINT ErrorLine);
typedef void(WINAPI *PFN_SETUP_CLOSE_INF_FILE)(HINF InfHandle);
typedef BOOL(WINAPI *PFN_SETUP_FIND_FIRST_LINE_W)(HINF InfHandle,
                                                  PCWSTR Section, PCWSTR Key,
                                                  PINFCONTEXT Context);
typedef BOOL(WINAPI *PFN_SETUP_FIND_NEXT_LINE)(PINFCONTEXT ContextIn,
                                               PINFCONTEXT ContextOut);
typedef BOOL(WINAPI *PFN_SETUP_GET_STRING_FIELD_W)(PINFCONTEXT Context,
                                                   DWORD FieldIndex,
                                                   PWSTR ReturnBuffer,
                                                   DWORD ReturnBufferSize,
                                                   PDWORD RequiredSize);

/* Restricting the DLL search: SetDefaultDllDirectories (Windows 8, and 7
 * and Vista with the update that added it) and SetDllDirectoryW (XP SP1)
 * are both looked up at run time, so that the executable still loads
 * where they are missing. */
#ifndef LOAD_LIBRARY_SEARCH_SYSTEM32
#define LOAD_LIBRARY_SEARCH_SYSTEM32 0x00000800
#endif
typedef BOOL(WINAPI *PFN_SET_DEFAULT_DLL_DIRECTORIES)(DWORD DirectoryFlags);
typedef BOOL(WINAPI *PFN_SET_DLL_DIRECTORY_W)(LPCWSTR lpPathName);
/* Configuration Manager's device functions are looked up at run time
 * (cfgmgr32.dll, or setupapi.dll where XP keeps them), never imported. */
typedef CONFIGRET(WINAPI *PFN_CM_LOCATE_DEVNODE_W)(PDEVINST pdnDevInst,
                                                   DEVINSTID_W pDeviceID,
                                                   ULONG ulFlags);
typedef CONFIGRET(WINAPI *PFN_CM_UNINSTALL_DEVNODE)(DEVNODE dnDevInst,
                                                    ULONG ulFlags);

/* setupapi's non-interactive mode (XP and later) and its text log (Vista
 * and later) are looked up at run time; mingw-w64 declares neither the
 * log function nor its constants.  SetupWriteTextLog is variadic, so it
 * is __cdecl (WINAPIV), not WINAPI. */
typedef BOOL(WINAPI *PFN_SETUP_SET_NON_INTERACTIVE_MODE)(BOOL NonInteractiveFlag);
typedef DWORDLONG SP_LOG_TOKEN;
#define LOGTOKEN_SETUPAPI_DEVLOG 3
#define TXTLOG_SUMMARY 4
#define TXTLOG_VENDOR 0x80000000
typedef void(WINAPIV *PFN_SETUP_WRITE_TEXT_LOG)(SP_LOG_TOKEN LogToken,
                                                DWORD Category, DWORD Flags,
                                                LPCSTR MessageStr, ...);

/* The machine's architecture: IsWow64Process2 (Windows 10 1511 on) names
 * it, where IsWow64Process (XP SP2 on) says FALSE for an x86 program on
 * ARM64 Windows; both are looked up at run time. */
typedef BOOL(WINAPI *PFN_IS_WOW64_PROCESS)(HANDLE hProcess, BOOL *Wow64Process);
typedef BOOL(WINAPI *PFN_IS_WOW64_PROCESS2)(HANDLE hProcess,
                                            USHORT *pProcessMachine,
                                            USHORT *pNativeMachine);

/* The file-system redirector of a 32-bit process on 64-bit Windows is
 * turned off and on again through these (XP x64 and later), looked up
 * at run time: 32-bit XP before SP2 lacks them. */
typedef BOOL(WINAPI *PFN_WOW64_DISABLE_WOW64_FS_REDIRECTION)(PVOID *OldValue);
typedef BOOL(WINAPI *PFN_WOW64_REVERT_WOW64_FS_REDIRECTION)(PVOID OldValue);

/* pnputil's process gets one inheritable handle, its output pipe, named
 * in a PROC_THREAD_ATTRIBUTE_HANDLE_LIST: the attribute list's functions
 * (Vista and later) are looked up at run time, and below Vista the SDK
 * hides the extended start-up record and the attribute's value. */
#ifdef _WIN32
#if _WIN32_WINNT < 0x0600
typedef struct _STARTUPINFOEXW {
    STARTUPINFOW StartupInfo;
    LPPROC_THREAD_ATTRIBUTE_LIST lpAttributeList;
} STARTUPINFOEXW;
#define PROC_THREAD_ATTRIBUTE_HANDLE_LIST 0x00020002
#endif
#endif
typedef BOOL(WINAPI *PFN_INITIALIZE_PROC_THREAD_ATTRIBUTE_LIST)(
    LPPROC_THREAD_ATTRIBUTE_LIST lpAttributeList, DWORD dwAttributeCount,
    DWORD dwFlags, PSIZE_T lpSize);
typedef BOOL(WINAPI *PFN_UPDATE_PROC_THREAD_ATTRIBUTE)(
    LPPROC_THREAD_ATTRIBUTE_LIST lpAttributeList, DWORD dwFlags,
    DWORD_PTR Attribute, PVOID lpValue, SIZE_T cbSize, PVOID lpPreviousValue,
    PSIZE_T lpReturnSize);
typedef void(WINAPI *PFN_DELETE_PROC_THREAD_ATTRIBUTE_LIST)(
    LPPROC_THREAD_ATTRIBUTE_LIST lpAttributeList);

/* The kernel's own name of a process's image (Vista and later), looked
 * up at run time; PROCESS_NAME_NATIVE asks for its device form. */
#ifndef PROCESS_NAME_NATIVE
#define PROCESS_NAME_NATIVE 0x00000001
#endif
typedef BOOL(WINAPI *PFN_QUERY_FULL_PROCESS_IMAGE_NAME_W)(HANDLE hProcess,
                                                        DWORD dwFlags,
                                                        LPWSTR lpExeName,
                                                        PDWORD lpdwSize);

#endif
