/*
 * Control surface of the host stand-in machine.
 *
 * The stand-in implements, in memory, exactly the Win32 functions the
 * installer calls (declared in host/winhost.h), behaving as Windows does
 * for what the installer uses, last error included.  Tests seed a machine
 * through this header, make single calls fail, and read back every call in
 * order and every message box shown.  The host side may use the C++
 * standard library freely.
 *
 * Deliberate differences from Windows are marked "Stand-in:" where they
 * are implemented.
 */
#ifndef QX_HOST_MACHINE_H
#define QX_HOST_MACHINE_H

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "host/winhost.h"

namespace winhost {

using u16 = std::u16string;

/* One file or folder.  Names are case-preserving; lookups ignore case. */
struct FileEntry {
    u16 path;            /* as created, e.g. C:\Windows\INF\oem1.inf */
    bool dir = false;
    std::string content; /* bytes */
    FILETIME creation{};
    FILETIME lastWrite{};
    DWORD attributes = FILE_ATTRIBUTE_ARCHIVE;
    bool heldOpen = false; /* opened by another process, no sharing */
    /* Or opened by another process with this access (GENERIC_READ,
     * GENERIC_WRITE) granting these FILE_SHARE_* flags; every open is
     * checked against it, and against the installer's own open handles,
     * as Windows checks share modes. */
    DWORD heldAccess = 0;
    DWORD heldShare = 0;
    /* That process's open (heldOpen or heldAccess) ends, as the process
     * does, once the installer has slept this long in all; 0: it lasts. */
    DWORD heldForMs = 0;
    /* Names of the file's data (hard links).  Stand-in: the other names
     * are not entries of their own. */
    DWORD links = 1;
    /* A reparse point's tag (0x9000601A a OneDrive placeholder, 0xA0000003
     * a junction), 0 for none; as NTFS does, the attributes reported
     * (never those set) then hold FILE_ATTRIBUTE_REPARSE_POINT. */
    DWORD reparseTag = 0;
    DWORD Attributes() const
    {
        return attributes | (reparseTag ? FILE_ATTRIBUTE_REPARSE_POINT : 0);
    }
    /* The DACL given at creation or set later, as SDDL: "D:", "P" when
     * it is protected from inheritance, then its ACEs; empty when none
     * was given.  Stand-in: inheritance is not computed, and the ACEs are
     * kept as the installer wrote them.  Opening a file, and creating
     * one in a folder, is checked against the DACL of the nearest entry
     * at or above it that has one (none: everything is granted). */
    u16 dacl;
    /* The owner's SID as text ("S-1-5-32-544"); empty when none is kept
     * (a volume without permissions, and a seeded file unless a test
     * gives one). */
    u16 owner;
};

struct RegValue {
    u16 name; /* empty: the default value */
    DWORD type = REG_SZ;
    std::string data; /* bytes */
    bool refuseDelete = false;
};

struct RegKey {
    u16 name;
    std::map<u16, std::unique_ptr<RegKey>> subkeys; /* by upper-case name */
    std::vector<RegValue> values;                   /* in creation order */
    bool refuseDelete = false;
};

/* One platform call: function, its main object (a path, a key path with
 * its registry view, a privilege name ...), and the other arguments. */
struct CallRecord {
    std::string fn;
    std::string object; /* UTF-8 */
    std::string view;   /* "32", "64" or "" for calls without a view */
    std::string detail; /* other arguments, UTF-8 */
};

struct MessageBoxRecord {
    HWND owner;
    u16 text;
    u16 caption;
    UINT style;
};

struct ClassRecord {
    WNDCLASSEXW wc;
    u16 className;
};

struct DialogRecord {
    HINSTANCE instance;
    uintptr_t templateId;
    HWND owner;
    DLGPROC proc;
};

struct Machine {
    /* Settings a test may change before the run. */
    DWORD osMajor = 10;
    DWORD osMinor = 0;
    LANGID systemLanguage = 0x0409;
    u16 modulePath = u"C:\\pkg\\QxDspInstaller.exe";
    /* The image's native name (QueryFullProcessImageNameW); empty: the
     * device form of modulePath on a local disk. */
    u16 nativeImagePath;
    u16 commandLine = u"\"C:\\pkg\\QxDspInstaller.exe\"";
    SYSTEMTIME localTime = {2026, 12, 4, 10, 14, 3, 22, 0};
    u16 programFiles = u"C:\\Program Files (x86)";
    /* Where Windows lives (GetSystemWindowsDirectoryW, and where Setup
     * keeps its INF copies); C:\WINNT after an upgrade, another drive. */
    u16 windowsFolder = u"C:\\Windows";
    bool programFilesMissing = false;
    /* The process's current folder (GetFullPathNameW of a relative name):
     * Explorer's is the program's own, psexec's System32. */
    u16 currentFolder = u"C:\\pkg";
    /* Volumes ("C:") formatted FAT32, which keep no security. */
    std::set<u16> fatVolumes;
    /* 64-bit Windows: the registry's two views, and the file-system
     * redirector of the installer's 32-bit process (ProcessPath). */
    bool is64Bit = true;
    /* 64-bit Windows on ARM64 (10 and 11), which runs x86 code emulated
     * under WOW64. */
    bool arm64 = false;
    std::set<u16> heldPrivileges = {u"SeBackupPrivilege",
                                    u"SeRestorePrivilege",
                                    u"SeDebugPrivilege"};
    /* Where the process runs: its window station's WSF_VISIBLE and its
     * session (0 is where services and deployment tools run). */
    bool stationVisible = true;
    DWORD sessionId = 1;
    /* The process's token: its user, and whether it holds the
     * Administrators group (an elevated administrator's token does, and
     * so does SYSTEM's: S-1-5-18), which it may then also name as the
     * owner of what it creates.  Stand-in: every token also holds
     * Everyone and Users, and the owner given to what it creates without
     * naming one is its user (XP's "object creator" default, KB318825;
     * an elevated token from Vista on defaults to Administrators). */
    u16 tokenUser = u"S-1-5-21-1-2-3-1000";
    bool tokenAdministrators = true;
    /* The loader.  The system folder holds the DLLs the installer loads
     * (advapi32, setupapi, cfgmgr32).  Stand-in: it does not follow
     * windowsFolder; a test that moves Windows moves it too, or leaves
     * it where no load of the run looks.  kernel32 exports
     * SetDefaultDllDirectories (Windows 8, and 7 and Vista with
     * KB2533623) and SetDllDirectoryW (XP SP1 and later). */
    u16 systemFolder = u"C:\\Windows\\System32";
    bool hasSetDefaultDllDirectories = true;
    bool hasSetDllDirectory = true;
    bool hasRegDeleteKeyEx = true;
    bool hasSetupUninstallOEMInf = true; /* setupapi exports it */
    /* The native pnputil (Vista on; a 32-bit process names it in Sysnative)
     * exits with pnputilExit, having done its job through the Setup
     * stand-ins only for 0 and 3010 (-a INF as SetupCopyOEMInfW, printing
     * "Published name : oemN.inf"; -f -d NAME as SetupUninstallOEMInfW; a
     * failed one exits with Setup's error), else nothing; pnputilOutput,
     * when set, is what it prints.  One that hangs does nothing and never
     * ends.  CreateProcessW's call record holds its command line, flags
     * and what it inherited.  Stand-in: pnputil.exe is no entry of files,
     * and the one program CreateProcessW starts; it runs at once. */
    DWORD pnputilExit = 0;
    std::string pnputilOutput; /* in the OEM code page */
    bool pnputilHangs = false;
    /* setupapi's SetupSetNonInteractiveMode was called with TRUE, and the
     * text of each SetupWriteTextLog (which it exports from Vista on). */
    bool setupNonInteractive = false;
    std::vector<std::string> setupLogLines;
    /* cfgmgr32.dll is there, exporting Configuration Manager's functions;
     * setupapi.dll exports them too (XP keeps them there). */
    bool hasCfgMgr32 = true;
    bool setupapiHasConfigManager = true;
    /* Windows: the Enum tree below SYSTEM\<control set> is writable only
     * by SYSTEM (others read), so RegDeleteKeyW and RegDeleteKeyExW, which
     * reopen the key for DELETE without backup semantics, are refused to
     * an administrator (ERROR_ACCESS_DENIED), while its values still go
     * through a key opened with REG_OPTION_BACKUP_RESTORE.  XP and Vista
     * ignore that option (RegOpenKeyExW documents only REG_OPTION_OPEN_LINK;
     * NtOpenKeyEx, which carries it, is Windows 7's): there an open asking
     * more than KEY_READ is refused.  Stand-in: off unless a test sets it,
     * as Wine (which enforces no registry ACLs) behaves; Configuration
     * Manager's uninstall, done by the PnP service, is never refused. */
    bool enumSystemOnly = false;
    /* The driver store (Vista on): each installed INF copy's package
     * folder in FileRepository, by the copy's upper-case name (OEM12.INF). */
    std::map<u16, u16> driverStore;
    /* Device instance IDs (USB\VID_...\<instance>) of devices plugged
     * in now; every other instance with a key below
     * CurrentControlSet\Enum is a phantom. */
    std::set<u16> presentDevices;
    bool hasResources = false;     /* icons, menu, accelerators, dialog */
    std::map<UINT, u16> strings;   /* string table */
    /* When set, SHFileOperationW returns this without doing anything. */
    bool shellResultForced = false;
    int shellResult = 0;
    /* What FO_DELETE returns for a source that is not there: Windows
     * answers 0x7C (DE_INVALIDFILES), Wine 8 answers 2. */
    int shellMissingResult = 0x7C;
    std::deque<MSG> messages;      /* waiting for the thread */
    std::deque<MSG> laterMessages; /* arrive during the next wait */
    int translateAcceleratorResult = 0;
    UINT dialogCommand = IDOK; /* what the user presses in a dialog */

    /* State. */
    std::map<u16, FileEntry> files; /* by upper-case normalised path */
    RegKey hklm;
    RegKey hkcu; /* seeded below "HKEY_CURRENT_USER\\..." */
    std::set<u16> enabledPrivileges;
    DWORD sleptMs = 0; /* Sleep's milliseconds and waits', in all */
    std::vector<CallRecord> calls;
    std::vector<MessageBoxRecord> boxes;
    std::vector<ClassRecord> classes;
    std::vector<DialogRecord> dialogs;
    std::vector<std::pair<HWND, INT_PTR>> endedDialogs;
    std::vector<u16> registeredInfs; /* INF paths handed to setup */
    /* Files MoveFileExW scheduled for deletion at the next restart. */
    std::vector<u16> deletedAtRestart;
    std::vector<u16> devnodes; /* located instance IDs; devnode = index + 1 */
    int loadedLibraries = 0;         /* LoadLibraryExW minus FreeLibrary */
    /* Full path of the module each successful LoadLibraryExW returned. */
    std::vector<u16> loadedModules;
    DWORD defaultDllDirectories = 0; /* SetDefaultDllDirectories' flags */
    bool dllDirectorySet = false;    /* SetDllDirectoryW was called */
    uintptr_t kernel32Module = 0;    /* handle GetModuleHandleW returns */
    /* Wow64DisableWow64FsRedirection turned the redirector off. */
    bool fsRedirectionOff = false;
    bool hung = false; /* a call that blocks forever on Windows was made */
    uint64_t clock = 0x01DC7B1E00000000ULL; /* FILETIME of "now" */
    DWORD lastError = 0;
};

/* The one machine; Reset() gives a fresh default one and frees every
 * handle and heap block of the previous one. */
Machine &machine();
void Reset();

/* Failure injection.  FailCall: the nth call of fn from now on fails with
 * error.  FailCallFrom: the nth call of fn from now on and every later
 * one fail with error.  FailCallOn: every call of fn whose object is path
 * (compared without case) fails with error. */
void FailCall(const std::string &fn, DWORD error, int nth = 1);
void FailCallFrom(const std::string &fn, DWORD error, int nth = 1);
void FailCallOn(const std::string &fn, const u16 &path, DWORD error);

/* Call budget.  Stand-in: Windows has no such limit.  With a budget set,
 * the call that would be number budget + 1 since the last Reset() throws
 * CallBudgetExhausted instead of running, so that a run that would never
 * end comes back to the test as a failure rather than a hang.  0, the
 * default, sets no limit. */
struct CallBudgetExhausted {
    size_t budget;
};
void SetCallBudget(size_t budget);

/* Files.  Seeding creates missing parent folders. */
FILETIME Ft(uint64_t value);
void SeedFolder(const u16 &path);
FileEntry &SeedFile(const u16 &path, const std::string &content,
                    FILETIME lastWrite = Ft(0x01D5000000000000ULL),
                    DWORD attributes = FILE_ATTRIBUTE_ARCHIVE);
FileEntry *FindFile(const u16 &path); /* nullptr when absent */
void RemoveFile(const u16 &path);     /* a file, or an empty folder */
bool FileExists(const u16 &path);
std::vector<u16> ListFolder(const u16 &path); /* names, sorted */
std::string Utf16Le(const u16 &text);        /* text as UTF-16LE bytes */

/* Registry, below HKEY_LOCAL_MACHINE, by real path (no view mapping:
 * the 32-bit view of SOFTWARE is SOFTWARE\WOW6432Node). */
RegKey &SeedKey(const u16 &path);
RegValue &SeedValue(const u16 &keyPath, const u16 &name, const u16 &text);
RegValue &SeedValueBytes(const u16 &keyPath, const u16 &name, DWORD type,
                         const std::string &data);
RegKey *FindKey(const u16 &path);
const RegValue *FindValue(const u16 &keyPath, const u16 &name);

/* Call log. */
std::vector<CallRecord> CallsOf(const std::string &fn);
std::vector<std::string> CallNames();
std::string ToUtf8(const u16 &text);
u16 FromUtf8(const std::string &text);

/* Handles the installer left open (keys, files, searches, tokens; not
 * modules, which loadedLibraries counts, nor a file opened sharing
 * nothing with OPEN_ALWAYS, the run lock a run holds until it ends). */
int OpenHandleCount();

/* The installer's process ends, or is killed: Windows closes every
 * handle it held ("Terminating a Process"), so another process may open
 * what it held. */
void EndProcess();

/* Security descriptors the installer got from
 * ConvertStringSecurityDescriptorToSecurityDescriptorW and has not freed
 * with LocalFree. */
int LiveSecurityDescriptors();

} // namespace winhost

#endif
