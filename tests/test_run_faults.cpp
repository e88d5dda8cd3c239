/* The whole run against failing platform calls: on a machine that holds an
 * older installation, every call the run makes is failed in turn, one per
 * run, with an error Windows gives for that call; and, in a second mode,
 * every function the run calls fails from its Nth call on, on every call,
 * as it does once the key, file or handle it works on is gone.  Every run
 * must end within four times the undisturbed run's number of calls,
 * report through at most two of the boxes the catalogue composes, exit
 * with the code of the outcome its last box tells (never the waiting
 * message's wParam), and delete nothing but the sweep's targets and the
 * staging folder. */
#include "fixture.h"

#include <regex>
#include <set>

#include "older_installation.h"

using namespace older;

namespace {

/* The message the final pump finds waiting; its wParam must not become
 * the exit code of a run that gets that far. */
const WPARAM kWaitingWParam = 0x51B8;

/* A plausible error for each call that can fail.  Calls missing here
 * cannot fail on Windows for the arguments the installer passes (they
 * take no input, or a handle the installer just got), and are listed in
 * kCannotFail; a call in neither list fails the sweep until it is placed. */
struct FAULT {
    const char *fn;
    DWORD error;
};
const FAULT kFaults[] = {
    {"GetModuleHandleW", ERROR_MOD_NOT_FOUND},
    {"SetDefaultDllDirectories", ERROR_INVALID_PARAMETER},
    {"SetDllDirectoryW", ERROR_NOT_ENOUGH_MEMORY},
    {"GetVersionExW", ERROR_INVALID_PARAMETER},
    /* A station handle without WINSTA_READATTRIBUTES. */
    {"GetUserObjectInformationW", ERROR_ACCESS_DENIED},
    {"ProcessIdToSessionId", ERROR_ACCESS_DENIED},
    {"LoadStringW", ERROR_RESOURCE_NAME_NOT_FOUND},
    {"LoadIconW", ERROR_RESOURCE_TYPE_NOT_FOUND},
    {"LoadCursorW", ERROR_RESOURCE_TYPE_NOT_FOUND},
    {"RegisterClassExW", ERROR_CLASS_ALREADY_EXISTS},
    {"LoadAcceleratorsW", ERROR_RESOURCE_NAME_NOT_FOUND},
    {"GetModuleFileNameW", ERROR_INSUFFICIENT_BUFFER},
    {"SHGetSpecialFolderPathW", ERROR_FILE_NOT_FOUND},
    {"GetFileAttributesExW", ERROR_ACCESS_DENIED},
    {"OpenProcessToken", ERROR_ACCESS_DENIED},
    {"LookupPrivilegeValueW", ERROR_NO_SUCH_PRIVILEGE},
    {"AdjustTokenPrivileges", ERROR_ACCESS_DENIED},
    {"RegOpenKeyExW", ERROR_ACCESS_DENIED},
    {"RegQueryInfoKeyW", ERROR_KEY_DELETED},
    {"RegEnumKeyW", ERROR_KEY_DELETED},
    {"RegEnumValueW", ERROR_KEY_DELETED},
    {"RegDeleteKeyW", ERROR_ACCESS_DENIED},
    {"RegDeleteKeyExW", ERROR_ACCESS_DENIED},
    {"RegDeleteValueW", ERROR_ACCESS_DENIED},
    {"LoadLibraryExW", ERROR_MOD_NOT_FOUND},
    {"GetProcAddress", ERROR_PROC_NOT_FOUND},
    {"SetupUninstallOEMInfW", ERROR_ACCESS_DENIED},
    {"SetupGetInfDriverStoreLocationW", ERROR_FILE_NOT_FOUND},
    /* Configuration Manager answers with its result, not the last error. */
    {"CM_Locate_DevNodeW", CR_FAILURE},
    {"CM_Uninstall_DevNode", CR_REMOVE_VETOED},
    {"FindFirstFileW", ERROR_ACCESS_DENIED},
    {"FindNextFileW", ERROR_NO_MORE_FILES},
    {"CreateFileW", ERROR_SHARING_VIOLATION},
    {"ReadFile", ERROR_LOCK_VIOLATION},
    {"HeapAlloc", ERROR_NOT_ENOUGH_MEMORY},
    {"SHFileOperationW", ERROR_ACCESS_DENIED},
    {"SHCreateDirectoryExW", ERROR_ACCESS_DENIED},
    {"CopyFileW", ERROR_DISK_FULL},
    {"GetFileInformationByHandle", ERROR_ACCESS_DENIED},
    /* A file system that answers neither for a reparse point's tag. */
    {"GetFileInformationByHandleEx", ERROR_INVALID_PARAMETER},
    {"DeviceIoControl", ERROR_INVALID_FUNCTION},
    {"ConvertStringSecurityDescriptorToSecurityDescriptorW",
     ERROR_NOT_ENOUGH_MEMORY},
    {"GetSecurityDescriptorDacl", ERROR_INVALID_SECURITY_DESCR},
    {"SetNamedSecurityInfoW", ERROR_ACCESS_DENIED},
    {"SetupCopyOEMInfW", ERROR_FILE_NOT_FOUND},
    {"MessageBoxW", ERROR_NOT_ENOUGH_MEMORY},
    {"MsgWaitForMultipleObjects", ERROR_INVALID_PARAMETER},
    {"GetMessageW", ERROR_INVALID_PARAMETER},
    {"TranslateAcceleratorW", ERROR_INVALID_HANDLE},
    /* The log's volume is full. */
    {"WriteFile", ERROR_DISK_FULL},
    {"MoveFileExW", ERROR_SHARING_VIOLATION},
    {"IsWow64Process", ERROR_ACCESS_DENIED},
    {"IsWow64Process2", ERROR_ACCESS_DENIED},
    {"DeleteFileW", ERROR_ACCESS_DENIED},
    {"GetFileAttributesW", ERROR_ACCESS_DENIED},
    {"SetFileAttributesW", ERROR_ACCESS_DENIED},
    {"Wow64DisableWow64FsRedirection", ERROR_INVALID_FUNCTION},
    {"Wow64RevertWow64FsRedirection", ERROR_INVALID_FUNCTION},
};
const char *const kCannotFail[] = {
    "GetLastError",  "GetCurrentProcess", "GetProcessHeap",
    "GetSystemDefaultLangID", "wsprintfW", "PeekMessageW",
    "TranslateMessage", "DispatchMessageW", "CloseHandle",
    "FindClose",     "RegCloseKey",       "FreeLibrary",
    "GetCurrentProcessId",
    /* Every process that may show a box has a window station. */
    "GetProcessWindowStation",
    "GetSystemWindowsDirectoryW", /* a MAX_PATH buffer always holds it */
    "GetSystemDirectoryW",        /* likewise */
    "LocalFree", /* of the descriptor just made */
    "SetupWriteTextLog", "GetLocalTime", /* return nothing */
    "GetCommandLineW", /* the process's own */
    "GetDriveTypeW", /* answers a type, never an error */
};

/* Errors a function gives on every call once what it works on is gone or
 * barred: a registry key deleted by another process, access taken away,
 * a handle that no longer serves.  A function missing here fails with its
 * error of kFaults. */
const FAULT kPersistentFaults[] = {
    {"RegOpenKeyExW", ERROR_KEY_DELETED},
    {"RegOpenKeyExW", ERROR_ACCESS_DENIED},
    {"RegOpenKeyExW", ERROR_INVALID_HANDLE},
    {"RegQueryInfoKeyW", ERROR_KEY_DELETED},
    {"RegQueryInfoKeyW", ERROR_ACCESS_DENIED},
    {"RegQueryInfoKeyW", ERROR_INVALID_HANDLE},
    {"RegEnumKeyW", ERROR_KEY_DELETED},
    {"RegEnumKeyW", ERROR_ACCESS_DENIED},
    {"RegEnumKeyW", ERROR_INVALID_HANDLE},
    {"RegEnumValueW", ERROR_KEY_DELETED},
    {"RegEnumValueW", ERROR_ACCESS_DENIED},
    {"RegEnumValueW", ERROR_INVALID_HANDLE},
    {"RegDeleteKeyW", ERROR_KEY_DELETED},
    {"RegDeleteKeyW", ERROR_ACCESS_DENIED},
    {"RegDeleteKeyExW", ERROR_KEY_DELETED},
    {"RegDeleteKeyExW", ERROR_ACCESS_DENIED},
    {"RegDeleteValueW", ERROR_KEY_DELETED},
    {"RegDeleteValueW", ERROR_ACCESS_DENIED},
    {"GetFileAttributesExW", ERROR_ACCESS_DENIED},
    {"FindFirstFileW", ERROR_ACCESS_DENIED},
    {"FindNextFileW", ERROR_ACCESS_DENIED},
    {"CreateFileW", ERROR_ACCESS_DENIED},
    {"ReadFile", ERROR_ACCESS_DENIED},
    {"CopyFileW", ERROR_ACCESS_DENIED},
    {"SHFileOperationW", ERROR_ACCESS_DENIED},
    {"SHCreateDirectoryExW", ERROR_ACCESS_DENIED},
};

/* A run may make this many times the undisturbed run's calls before it
 * counts as one that never ends. */
const size_t kCallBudgetFactor = 4;

const FAULT *FaultOf(const std::string &fn)
{
    for (const FAULT &f : kFaults)
        if (fn == f.fn)
            return &f;
    return nullptr;
}

bool CannotFail(const std::string &fn)
{
    return std::count(std::begin(kCannotFail), std::end(kCannotFail), fn) > 0;
}

/* An installed package INF: UTF-16LE, over 1600 bytes, the three package
 * markers near its start, and the older driver's name. */
std::string InstalledOlderInf()
{
    u16 text = u"\uFEFF; QX_DSP_USB.inf\r\n[Version]\r\nProvider=QUORVANTIX\r\n"
               u"[Devices]\r\n%Dev%=Install, USB\\VID_3C7E&PID_51B8\r\n"
               u"[Files]\r\nlibusb0.sys\r\n";
    while (text.size() < 1000)
        text += u"; padding\r\n";
    return Utf16Le(text);
}

/* The older installation, found by all three scans: oem12.inf through the
 * class key, oem7.inf through the enumeration key, oem1.inf by its
 * content; an older package in the staging folder; and the package in a
 * OneDrive folder, so that every tag is read. */
void SeedMachine(bool windowsXp)
{
    machine().osMajor = windowsXp ? 5 : 10;
    machine().osMinor = windowsXp ? 1 : 0;
    machine().messages.push_back(MSG{nullptr, WM_NULL, kWaitingWParam, 0, 0, {}});
    SeedPackage(kPackage, 0x9000601A);
    SeedOlderInstallation();
    const u16 classKey = u"SYSTEM\\ControlSet001\\Control\\Class\\"
                         u"{eb781aaf-9c70-4523-a5df-642a87eca567}\\0000";
    SeedValue(classKey, u"DriverDesc", u"QX DSP USB");
    SeedValue(classKey, u"InfPath", u"oem12.inf");
    SeedValue(W("SYSTEM\\ControlSet001\\" + kDevice + "\\5&1a2b3c&0&2"),
              u"DeviceDesc", u"@oem7.inf,%qxdsp%;QX DSP USB");
    SeedFile(u"C:\\Windows\\INF\\oem1.inf", InstalledOlderInf());
    SeedFile(kStaging + u"amd64\\libusb0.sys", "older driver");
}

/* What a run may delete: the sweep's targets for the three INF names,
 * and the staging folder, which it deletes and writes anew. */
const std::string kStagingUtf8 = ToUtf8(kStaging.substr(0, kStaging.size() - 1));

Targets RunTargets()
{
    Targets t = TargetsOf(
        {"oem12.inf", "oem7.inf", "oem1.inf"},
        {"qx_dsp_usb.inf_amd64_d4", "qx_dsp_usb.inf_x86_b2", "qx_dsp_usb.inf"});
    t.files.push_back(kStagingUtf8);
    return t;
}

/* The run lock, which a run creates when it is missing. */
const std::string kLockUtf8 =
    "C:\\Program Files (x86)\\Quorvantix\\QxDspInstaller.lock";

/* Entries of the machine that are new or changed after the run, and lie
 * neither in the staging folder nor in the INF folder (where
 * pre-installation adds its copy), nor are the run lock. */
Strings UnexpectedlyAdded(const Snapshot &before, const Snapshot &after)
{
    Strings out;
    for (auto &[what, state] : after) {
        auto it = before.find(what);
        if (it != before.end() && it->second == state)
            continue;
        const std::string path = what.substr(2);
        if (what[0] == 'F' &&
            Below(path, {kStagingUtf8, "C:\\Windows\\INF", kLockUtf8,
                         "C:\\Windows\\QxDspInstaller.log"}))
            continue;
        out.push_back(what);
    }
    return out;
}

/* Entries gone or changed that are no target of the run; kept is what
 * the run must leave as it was (Without(before, targets)). */
Strings UnexpectedlyRemoved(const Snapshot &kept, const Snapshot &after)
{
    Strings out;
    for (auto &[what, state] : kept) {
        auto it = after.find(what);
        if (it == after.end() || it->second != state)
            out.push_back(what);
    }
    return out;
}

/* Every text the run may show in English: success, restart, or the
 * failure prefix followed by what one failure, or the non-fatal
 * delete-folder failure and one more, appends. */
bool IsComposedText(const u16 &text)
{
    static const std::regex composed(
        "Driver Install Success!"
        "|Driver has been updated, you must restart PC before insert Usb "
        "Cable!!!"
        "|Failed, error code: (Find PreInstall File Folder Error\\."
        "|(Delete PreInstall File Folder Error\\.[0-9]+ )?"
        "(Create PreInstall File Folder Error\\.[0-9]+ "
        "|Copy PreInstall File Error\\.|[0-9]+ )?)");
    return std::regex_match(ToUtf8(text), composed);
}

bool IsDeleteFolderFailure(const u16 &text)
{
    static const std::regex deleteOnly(
        "Failed, error code: Delete PreInstall File Folder Error\\.[0-9]+ ");
    return std::regex_match(ToUtf8(text), deleteOnly);
}

/* The exit code is the outcome the last box the run showed (or tried to)
 * tells: 0 for the success text or no box (the silent path), 3010 for
 * the restart notice, and for a failure never one a deployment tool reads
 * as success, restart or busy: the number its text ends with (1603 for
 * one that would be misread), or any other when it ends with none. */
void CheckExitCode(int exitCode, const std::string &what)
{
    const std::vector<CallRecord> boxes = CallsOf("MessageBoxW");
    const std::string last = boxes.empty() ? "" : boxes.back().object;
    const std::set<DWORD> misread = {0, 259, 1618, 1641, 1707, 3010};
    const DWORD code = static_cast<DWORD>(exitCode);
    std::smatch number;
    if (last.empty() || last == "Driver Install Success!")
        EXPECT_EQ(code, 0u) << what << ": " << last;
    else if (last.rfind("Driver has been updated", 0) == 0)
        EXPECT_EQ(code, 3010u) << what;
    else if (std::regex_search(last, number, std::regex("([0-9]+) $")))
        EXPECT_EQ(code, misread.count(std::stoul(number[1])) ? 1603
                                                             : std::stoul(number[1]))
            << what << ": " << last;
    else
        EXPECT_EQ(misread.count(code), 0u) << what << ": " << code << " after " << last;
}

struct RUN_OUTCOME {
    int exitCode;
    Snapshot before, after;
    Snapshot kept; /* what the run must leave as it was */
    bool runaway;  /* stopped by the call budget */
};

/* One failure injected into a run: none, the nth call of fault->fn, or
 * with fromNthOn that call and every later one of fault->fn. */
struct INJECTION {
    const FAULT *fault;
    int nth;
    bool fromNthOn;
};

/* One run; a budget above 0 stops a run that makes more calls. */
RUN_OUTCOME RunOnce(bool windowsXp, const INJECTION &injection,
                    size_t budget = 0)
{
    winhost::Reset();
    ResetProcessState();
    SeedMachine(windowsXp);
    RUN_OUTCOME outcome;
    /* Seeding is the same every time, so the machine before the run and
     * what must survive it are taken once. */
    static const Snapshot before = TakeSnapshot();
    static const Snapshot kept = Without(before, RunTargets());
    outcome.before = before;
    outcome.kept = kept;
    if (injection.fault && injection.fromNthOn)
        winhost::FailCallFrom(injection.fault->fn, injection.fault->error,
                              injection.nth);
    else if (injection.fault)
        winhost::FailCall(injection.fault->fn, injection.fault->error,
                          injection.nth);
    winhost::SetCallBudget(budget);
    outcome.runaway = false;
    outcome.exitCode = 0;
    try {
        outcome.exitCode = InstallerRun(nullptr);
    } catch (const winhost::CallBudgetExhausted &) {
        outcome.runaway = true;
    }
    winhost::SetCallBudget(0);
    outcome.after = TakeSnapshot();
    return outcome;
}

const INJECTION kUndisturbed = {nullptr, 0, false};

/* Checks one faulted run; what names the fault in every message. */
void CheckRun(const RUN_OUTCOME &run, const std::string &what,
              const std::string &failedFn)
{
    if (run.runaway) {
        ADD_FAILURE() << what << ": still running after "
                      << machine().calls.size() << " calls";
        return;
    }
    EXPECT_FALSE(machine().hung) << what;
    CheckExitCode(run.exitCode, what);
    const auto &boxes = machine().boxes;
    EXPECT_LE(boxes.size(), 2u) << what;
    for (size_t i = 0; i < boxes.size(); i++) {
        EXPECT_TRUE(IsComposedText(boxes[i].text))
            << what << ": box " << ToUtf8(boxes[i].text);
        EXPECT_EQ(ToUtf8(boxes[i].caption), "QX DSP USB Driver Installer")
            << what;
        EXPECT_EQ(boxes[i].owner, nullptr) << what;
        EXPECT_EQ(boxes[i].style, (UINT)MB_OK) << what;
    }
    /* Only the non-fatal staging-folder failure is followed by a box. */
    if (boxes.size() == 2)
        EXPECT_TRUE(IsDeleteFolderFailure(boxes[0].text))
            << what << ": first of two boxes " << ToUtf8(boxes[0].text);
    EXPECT_EQ(UnexpectedlyAdded(run.before, run.after), Strings{}) << what;
    EXPECT_EQ(UnexpectedlyRemoved(run.kept, run.after), Strings{}) << what;
    /* A failed close leaves its handle open, as it would on Windows. */
    if (!CannotFail(failedFn))
        EXPECT_EQ(winhost::OpenHandleCount(), 0) << what;
    EXPECT_EQ(machine().loadedLibraries, (int)g_SystemDlls.count) << what;
}

/* The calls of an undisturbed run, checked as a run of its own. */
std::vector<CallRecord> UndisturbedCalls(bool windowsXp)
{
    RUN_OUTCOME baseline = RunOnce(windowsXp, kUndisturbed);
    CheckRun(baseline, "undisturbed run", "");
    return machine().calls;
}

/* Fails every call of an undisturbed run in turn; returns how many runs
 * were made, and every box text the runs showed in shown. */
size_t SweepFaults(bool windowsXp, std::set<std::string> &shown)
{
    const std::vector<CallRecord> calls = UndisturbedCalls(windowsXp);
    const size_t budget = kCallBudgetFactor * calls.size();
    std::map<std::string, int> seen;
    size_t runs = 0;
    for (size_t i = 0; i < calls.size(); i++) {
        const std::string &fn = calls[i].fn;
        const int nth = ++seen[fn];
        const FAULT *fault = FaultOf(fn);
        if (!fault) {
            EXPECT_TRUE(CannotFail(fn)) << fn << " is in neither list";
            continue;
        }
        const std::string what = "call " + std::to_string(i) + ", " + fn +
                                 " #" + std::to_string(nth) + " (" +
                                 calls[i].object + ") failing with " +
                                 std::to_string(fault->error);
        RUN_OUTCOME run = RunOnce(windowsXp, {fault, nth, false}, budget);
        /* The failure was injected where the undisturbed run made the
         * call: every call before it is the same. */
        EXPECT_TRUE(machine().calls.size() > i && machine().calls[i].fn == fn)
            << what;
        CheckRun(run, what, fn);
        for (auto &box : machine().boxes)
            shown.insert(ToUtf8(box.text));
        runs++;
        if (::testing::Test::HasFailure())
            break; /* one broken run says enough */
    }
    return runs;
}

/* What fn may fail with from its Nth call on: its errors of
 * kPersistentFaults, or else its error of kFaults. */
std::vector<const FAULT *> FaultsFromNthOn(const std::string &fn)
{
    std::vector<const FAULT *> out;
    for (const FAULT &f : kPersistentFaults)
        if (fn == f.fn)
            out.push_back(&f);
    if (out.empty() && FaultOf(fn))
        out.push_back(FaultOf(fn));
    return out;
}

/* For each function the undisturbed run calls and each N up to its
 * number of calls there: the function fails from its Nth call on, with
 * its errors in turn (the first for N = 1, the second for N = 2 ...), so
 * that each error starts at every stage of the run and the runs stay as
 * many as the calls.  Returns how many runs were made. */
size_t SweepFaultsFromNthOn(bool windowsXp)
{
    const std::vector<CallRecord> calls = UndisturbedCalls(windowsXp);
    const size_t budget = kCallBudgetFactor * calls.size();
    std::map<std::string, int> callCount;
    for (const CallRecord &c : calls)
        callCount[c.fn]++;
    size_t runs = 0;
    for (const auto &[fn, count] : callCount) {
        const std::vector<const FAULT *> faults = FaultsFromNthOn(fn);
        if (faults.empty())
            continue; /* cannot fail: the single-fault sweep checks that */
        for (int nth = 1; nth <= count; nth++) {
            const FAULT *fault = faults[(nth - 1) % faults.size()];
            const std::string what =
                fn + " from call #" + std::to_string(nth) +
                " on, failing with " + std::to_string(fault->error);
            RUN_OUTCOME run = RunOnce(windowsXp, {fault, nth, true}, budget);
            CheckRun(run, what, fn);
            runs++;
            if (::testing::Test::HasFailure())
                return runs; /* one broken run says enough */
        }
    }
    return runs;
}

class RunFaults : public MachineTest {};

/* The parameter: Windows XP (true) or Windows 10. */
class RunFaultsFromNthCallOn : public MachineTest,
                               public ::testing::WithParamInterface<bool> {};

} // namespace

/* The undisturbed run removes exactly the older installation. */
TEST_F(RunFaults, UndisturbedRunDeletesEveryTargetAndShowsTheRestartText)
{
    RUN_OUTCOME run = RunOnce(false, kUndisturbed);
    EXPECT_EQ(run.exitCode, kRestartExit);
    EXPECT_EQ(g_Candidates.count, 3);
    for (auto &f : RunTargets().files) {
        if (f != kStagingUtf8)
            EXPECT_FALSE(FileExists(W(f))) << f;
    }
    for (auto &k : RunTargets().keys)
        EXPECT_EQ(FindKey(W(k)), nullptr) << k;
    ASSERT_EQ(machine().boxes.size(), 1u);
    EXPECT_EQ(ToUtf8(machine().boxes[0].text),
              "Driver has been updated, you must restart PC before insert "
              "Usb Cable!!!");
    EXPECT_TRUE(FileExists(kStaging + u"x86\\libusbDspQx_x86.dll"));
    EXPECT_FALSE(FileExists(kStaging + u"amd64\\libusb0.sys"));
}

bool AnyStartsWith(const std::set<std::string> &texts, const std::string &start)
{
    for (const std::string &text : texts)
        if (text.rfind(start, 0) == 0)
            return true;
    return false;
}

const std::string kDeleteFailure =
    "Failed, error code: Delete PreInstall File Folder Error.";

/* Besides ending cleanly, the sweep must reach every report the run
 * makes, or it proves less than it seems to.  The delete-folder number is
 * the thread's last error, whatever call left it. */
TEST_F(RunFaults, EveryFailingCallOnWindows10EndsCleanly)
{
    std::set<std::string> shown;
    size_t runs = SweepFaults(false, shown);
    RecordProperty("faulted_runs", (int)runs);
    std::printf("Windows 10: %zu runs, each with one failing call\n", runs);
    EXPECT_GT(runs, 500u);
    const std::string prefix = "Failed, error code: ";
    for (const std::string &text :
         {prefix + "Find PreInstall File Folder Error.", kDeleteFailure,
          prefix + "Create PreInstall File Folder Error.5 ",
          prefix + "Copy PreInstall File Error.", prefix + "2 ",
          std::string("Driver Install Success!"),
          std::string("Driver has been updated")})
        EXPECT_TRUE(AnyStartsWith(shown, text))
            << text << "\nshown: " << ::testing::PrintToString(shown);
}

/* On a pre-Vista system a failed staging-folder deletion is not shown. */
TEST_F(RunFaults, EveryFailingCallOnWindowsXpEndsCleanly)
{
    std::set<std::string> shown;
    size_t runs = SweepFaults(true, shown);
    RecordProperty("faulted_runs", (int)runs);
    std::printf("Windows XP: %zu runs, each with one failing call\n", runs);
    EXPECT_GT(runs, 500u);
    EXPECT_FALSE(AnyStartsWith(shown, kDeleteFailure))
        << ::testing::PrintToString(shown);
    EXPECT_TRUE(AnyStartsWith(shown, "Failed, error code: Copy"))
        << ::testing::PrintToString(shown);
}

/* The checks themselves catch a run that deletes too much or shows a
 * text of its own. */
TEST_F(RunFaults, ChecksCatchADeletionOutsideTheTargetsAndAForeignText)
{
    RUN_OUTCOME run = RunOnce(false, kUndisturbed);
    run.kept["F C:\\Windows\\INF\\oem3.inf"] = "file other";
    EXPECT_EQ(UnexpectedlyRemoved(run.kept, run.after),
              Strings{"F C:\\Windows\\INF\\oem3.inf"});
    run.after["K SYSTEM\\ControlSet001\\Services\\libusbK\\New"] = "New";
    EXPECT_EQ(UnexpectedlyAdded(run.before, run.after),
              Strings{"K SYSTEM\\ControlSet001\\Services\\libusbK\\New"});
    EXPECT_FALSE(IsComposedText(u"Failed, error code: 5 5 "));
    EXPECT_FALSE(IsComposedText(u"Failed, error code: Copy PreInstall File "
                                u"Error.Create PreInstall File Folder "
                                u"Error.5 "));
    EXPECT_TRUE(IsComposedText(u"Failed, error code: Delete PreInstall File "
                               u"Folder Error.5 Copy PreInstall File Error."));
}

/* The budget turns a run that would go on for ever into a failure, and a
 * failure from the Nth call on stays. */
TEST_F(RunFaults, ChecksCatchARunThatOutlastsItsCallBudget)
{
    RUN_OUTCOME run = RunOnce(false, kUndisturbed, 10);
    EXPECT_TRUE(run.runaway);
    EXPECT_EQ(machine().calls.size(), 10u);

    winhost::Reset();
    SeedKey(u"SYSTEM\\Select");
    winhost::FailCallFrom("RegOpenKeyExW", ERROR_KEY_DELETED, 2);
    Strings results;
    for (int i = 0; i < 4; i++) {
        HKEY key = nullptr;
        LSTATUS status = RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"SYSTEM\\Select",
                                       0, KEY_READ, &key);
        results.push_back(std::to_string(status));
        if (status == ERROR_SUCCESS)
            RegCloseKey(key);
    }
    EXPECT_EQ(results, (Strings{"0", "1018", "1018", "1018"}));
}

/* A key deleted by another process while a scan reads it answers every
 * index with ERROR_KEY_DELETED; so may a function whose file or handle is
 * gone.  Each such run still ends, well within its budget. */
TEST_P(RunFaultsFromNthCallOn, EveryRunEndsCleanlyWithinItsCallBudget)
{
    const size_t runs = SweepFaultsFromNthOn(GetParam());
    RecordProperty("faulted_runs", (int)runs);
    std::printf("%s: %zu runs, each failing from one call on\n",
                GetParam() ? "Windows XP" : "Windows 10", runs);
    /* As many as the single-fault sweep: one for each call that can fail. */
    EXPECT_GT(runs, 500u);
}

INSTANTIATE_TEST_SUITE_P(Sweep, RunFaultsFromNthCallOn,
                         ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool> &info) {
                             return std::string(info.param ? "WindowsXp"
                                                           : "Windows10");
                         });
