#include "fixture.h"

#include <algorithm>
#include <functional>
#include <map>
#include <set>

#include "older_installation.h"
#include "platform/pnputil.h"
#include "platform/runlog.h"

using winhost::CallsOf;
using winhost::machine;

namespace {

void SeedStagedCopy()
{
    /* A staged copy identical to the package: same times and sizes. */
    for (const char16_t *name : kPackageFiles) {
        const auto *src = winhost::FindFile(kPackage + name);
        winhost::SeedFile(kStaging + name, src->content, src->lastWrite);
    }
}

std::vector<u16> BoxTexts()
{
    std::vector<u16> texts;
    for (auto &b : machine().boxes)
        texts.push_back(b.text);
    return texts;
}

MSG Message(UINT message, WPARAM wParam)
{
    MSG m{};
    m.message = message;
    m.wParam = wParam;
    return m;
}

/* What a run did, for comparing two runs. */
struct Outcome {
    int exitCode;
    /* every call but the boxes, the check whether anyone sees them, the
     * DLL loads and what keeps a run from waiting for a click */
    std::vector<std::string> calls;
    u16 failureText;
    std::vector<u16> boxes;
    /* the latter: the lock's wait, Setup's mode, the staging deletion */
    std::string unattended;
};

Outcome Observe(int exitCode)
{
    Outcome o{exitCode, {}, g_Messages.failure, {}, {}};
    const std::set<std::string> skipped = {
        "MessageBoxW", "GetProcessWindowStation", "GetUserObjectInformationW",
        "GetCurrentProcessId", "ProcessIdToSessionId", "LoadLibraryExW",
        "GetSystemDirectoryW"};
    for (auto &c : machine().calls) {
        if (c.fn == "SetupSetNonInteractiveMode" ||
            (c.fn == "SHFileOperationW" && U16(c.object) == kStaging))
            o.unattended += c.fn + " " + c.detail + "; ";
        else if (!skipped.count(c.fn) && c.object != "SetupSetNonInteractiveMode")
            o.calls.push_back(c.fn + "|" + c.object + "|" + c.view + "|" +
                              c.detail);
    }
    for (auto &b : machine().boxes)
        o.boxes.push_back(b.text);
    return o;
}

const u16 kRestart = u"Driver has been updated, you must restart PC before "
                    u"insert Usb Cable!!!";

/* An older installation whose INF the class key names, so that it goes
 * through Setup. */
void SeedFoundOlderInstallation()
{
    older::SeedOlderInstallation();
    const u16 instance = u"SYSTEM\\ControlSet001\\Control\\Class\\"
                         u"{eb781aaf-9c70-4523-a5df-642a87eca567}\\0000";
    winhost::SeedValue(instance, u"DriverDesc", u"QX DSP USB");
    winhost::SeedValue(instance, u"InfPath", u"oem12.inf");
}


} // namespace

class Run : public MachineTest {
protected:
    void SetUp() override
    {
        MachineTest::SetUp();
        SeedPackage(kPackage);
    }
    void ExpectStagedLikeThePackage()
    {
        for (const char16_t *name : kPackageFiles) {
            const auto *src = winhost::FindFile(kPackage + name);
            const auto *dst = winhost::FindFile(kStaging + name);
            ASSERT_NE(dst, nullptr) << winhost::ToUtf8(name);
            EXPECT_EQ(dst->content, src->content);
            EXPECT_EQ(dst->lastWrite.dwLowDateTime, src->lastWrite.dwLowDateTime);
            EXPECT_EQ(dst->lastWrite.dwHighDateTime,
                      src->lastWrite.dwHighDateTime);
        }
    }
};

TEST_F(Run, AFirstRunOnWindows10StagesRegistersAndAsksForARestart)
{
    EXPECT_EQ(InstallerRun(nullptr), kRestartExit);
    ExpectStagedLikeThePackage();
    ASSERT_EQ(machine().registeredInfs.size(), 1u);
    EXPECT_EQ(machine().registeredInfs[0], kStaging + u"QX_DSP_USB.inf");
    EXPECT_EQ(BoxTexts(), std::vector<u16>{kRestart});
    EXPECT_FALSE(machine().hung);
    EXPECT_EQ(winhost::OpenHandleCount(), 0);
}

TEST_F(Run, AFirstRunOnWindowsXpStagesRegistersAndReportsSuccess)
{
    machine().osMajor = 5;
    EXPECT_EQ(InstallerRun(nullptr), 0);
    ExpectStagedLikeThePackage();
    EXPECT_EQ(machine().registeredInfs.size(), 1u);
    EXPECT_EQ(BoxTexts(), std::vector<u16>{u"Driver Install Success!"});
}

TEST_F(Run, TheFrameQueriesVersionWithTheSmallRecordAndProgramFilesUncreated)
{
    InstallerRun(nullptr);
    EXPECT_EQ(CallsOf("GetVersionExW")[0].detail, "276");
    EXPECT_EQ(CallsOf("SHGetSpecialFolderPathW")[0].detail, "0x26");
    EXPECT_EQ(CallsOf("GetSystemDefaultLangID").size(), 1u);
}

/* Another run holds the lock for ten minutes: this one waits for it,
 * without a limit, right after restricting the DLL search and before
 * anything else, then does its whole job. */
static void HoldRunLockElsewhere(DWORD ms)
{
    winhost::FileEntry &other = winhost::SeedFile(
        u"C:\\Program Files (x86)\\Quorvantix\\QxDspInstaller.lock", "");
    other.owner = u"S-1-5-32-544";
    other.heldAccess = GENERIC_READ;
    other.heldForMs = ms;
}

TEST_F(Run, WaitsWithoutLimitForTheRunLockBeforeAnythingElse)
{
    HoldRunLockElsewhere(600000);
    EXPECT_EQ(InstallerRun(nullptr), kRestartExit);
    auto names = winhost::CallNames();
    auto restricted =
        std::find(names.begin(), names.end(), "SetDefaultDllDirectories");
    /* Only the switches, the version, who sees the run and the language
     * come between the restriction and the lock's first call. */
    auto lockFrom = std::find(restricted, names.end(), "SHGetSpecialFolderPathW");
    const std::set<std::string> before = {
        "GetCommandLineW", "GetVersionExW", "GetProcessWindowStation",
        "GetUserObjectInformationW", "GetCurrentProcessId",
        "ProcessIdToSessionId", "GetSystemDefaultLangID",
        "GetSystemDirectoryW", "LoadLibraryExW", "GetModuleFileNameW",
        "CreateFileW"};
    ASSERT_LT(restricted, lockFrom);
    for (auto it = restricted + 1; it != lockFrom; ++it)
        EXPECT_TRUE(before.count(*it)) << *it;
    auto lockTo = std::find(lockFrom, names.end(), "GetSystemWindowsDirectoryW");
    const std::set<std::string> lock = {
        "SHGetSpecialFolderPathW", "SHCreateDirectoryExW",
        "ConvertStringSecurityDescriptorToSecurityDescriptorW",
        "CreateFileW", "GetLastError", "GetNamedSecurityInfoW",
        "CreateWellKnownSid", "EqualSid", "LocalFree", "Sleep",
        "GetVolumePathNameW", "GetVolumeInformationW"};
    for (auto it = lockFrom; it != lockTo; ++it)
        EXPECT_TRUE(lock.count(*it)) << *it;
    EXPECT_EQ(CallsOf("Sleep").size(), 2400u);
    EXPECT_EQ(CallsOf("CreateFileW").at(2400).detail,
              "0x80000000 share=0x0 disp=4 flags=0x80");
    ExpectStagedLikeThePackage();
    EXPECT_EQ(winhost::OpenHandleCount(), 0);
}

TEST_F(Run, TheStagingFolderIsDeletedWithNoConfirmationThenRebuiltInOrder)
{
    InstallerRun(nullptr);
    std::vector<winhost::CallRecord> del;
    for (auto &c : CallsOf("SHFileOperationW"))
        if (winhost::FromUtf8(c.object) == kStaging)
            del.push_back(c);
    ASSERT_EQ(del.size(), 1u);
    EXPECT_EQ(del[0].detail, "func=3 flags=0x10");
    std::vector<u16> created;
    for (auto &c : CallsOf("SHCreateDirectoryExW"))
        created.push_back(winhost::FromUtf8(c.object));
    /* The run lock's folder first. */
    EXPECT_EQ(created, (std::vector<u16>{u"C:\\Program Files (x86)\\Quorvantix\\",
                                         kStaging, kStaging + u"amd64\\",
                                         kStaging + u"ia64\\",
                                         kStaging + u"x86\\"}));
}

TEST_F(Run, OnWindowsXpAnIdenticalStagedPackageIsOnlyRegisteredAgainSilently)
{
    machine().osMajor = 5;
    SeedStagedCopy();
    EXPECT_EQ(InstallerRun(nullptr), 0);
    EXPECT_TRUE(machine().boxes.empty());
    EXPECT_TRUE(CallsOf("SHFileOperationW").empty());
    EXPECT_TRUE(CallsOf("CopyFileW").empty());
    EXPECT_EQ(machine().registeredInfs.size(), 1u);
    /* The silent path ends before the pump. */
    EXPECT_TRUE(CallsOf("GetMessageW").empty());
    EXPECT_TRUE(CallsOf("MsgWaitForMultipleObjects").empty());
}

TEST_F(Run, OnWindowsXpAFileDifferingOnlyInLastWriteTimeRefreshesTheFolder)
{
    machine().osMajor = 5;
    SeedStagedCopy();
    winhost::FindFile(kStaging + u"x86\\libusbDspQx_x86.dll")->lastWrite =
        winhost::Ft(42);
    winhost::SeedFile(kStaging + u"stale.txt", "left by an older run");
    EXPECT_EQ(InstallerRun(nullptr), 0);
    ExpectStagedLikeThePackage();
    EXPECT_FALSE(winhost::FileExists(kStaging + u"stale.txt"));
    EXPECT_EQ(BoxTexts(), std::vector<u16>{u"Driver Install Success!"});
}

TEST_F(Run, AllFourComparisonsAreMadeEvenAfterAMismatch)
{
    InstallerRun(nullptr);
    /* Each comparison queries the source first; the staging folder is
     * empty, so each stops after its first name. */
    std::vector<u16> queried;
    for (auto &c : CallsOf("GetFileAttributesExW"))
        if (c.object.find("libusb0") == std::string::npos)
            queried.push_back(winhost::FromUtf8(c.object));
    EXPECT_EQ(queried,
              (std::vector<u16>{kPackage + u"QX_DSP_USB.inf",
                                kStaging + u"QX_DSP_USB.inf",
                                kPackage + u"amd64\\libusbDspQx.dll",
                                kStaging + u"amd64\\libusbDspQx.dll",
                                kPackage + u"ia64\\libusbDspQx.dll",
                                kStaging + u"ia64\\libusbDspQx.dll",
                                kPackage + u"x86\\libusbDspQx.sys",
                                kStaging + u"x86\\libusbDspQx.sys"}));
}

TEST_F(Run, APackageWithoutTheCatalogueReportsTheCopyErrorAndKeepsTheCopies)
{
    winhost::RemoveFile(kPackage + u"USB_DSP.cat");
    EXPECT_EQ(InstallerRun(nullptr), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(BoxTexts(), std::vector<u16>{
                              u"Failed, error code: Copy PreInstall File Error."});
    EXPECT_TRUE(winhost::FileExists(kStaging + u"QX_DSP_USB.inf"));
    EXPECT_FALSE(winhost::FileExists(kStaging + u"USB_DSP.cat"));
    /* All four copies were attempted. */
    EXPECT_TRUE(winhost::FileExists(kStaging + u"x86\\libusbDspQx_x86.dll"));
    EXPECT_TRUE(CallsOf("SetupCopyOEMInfW").empty());
}

/* A standard user may prepare the package: a link anywhere in it (a
 * junction or symbolic link), a tag that cannot be read, or a file with a
 * second name refuses the whole package as a failed copy, and nothing is
 * read from it.  OneDrive's placeholders, or a deduplicated file, are no
 * links: that package is staged and registered.  XP, which lacks
 * GetFileInformationByHandleEx, reads the tags with DeviceIoControl. */
TEST_F(Run, OnlyALinkOrAnUnreadableTagInAOneDrivePackageFailsTheCopy)
{
    const DWORD kPlaceholder = 0x9000601A, kJunction = 0xA0000003,
                kSymbolicLink = 0xA000000C, kDeduplicated = 0x80000013;
    const struct {
        const char16_t *path; /* below the package folder */
        DWORD tag, links;
        bool unreadable, staged;
    } kLinks[] = {
        {u"", kPlaceholder, 1, false, true},
        {u"x86\\libusbDspQx.sys", kDeduplicated, 1, false, true},
        {u"", kJunction, 1, false, false},
        {u"amd64", kSymbolicLink, 1, false, false},
        {u"ia64", kJunction, 1, false, false},
        {u"x86", kJunction, 1, false, false},
        {u"USB_DSP.cat", kSymbolicLink, 1, false, false},
        {u"x86\\libusbDspQx_x86.dll", kJunction, 1, false, false},
        {u"amd64\\libusbDspQx.sys", kPlaceholder, 2, false, false},
        {u"ia64\\libusbDspQx.dll", kPlaceholder, 1, true, false},
    };
    for (bool xp : {false, true}) {
        const char *reader =
            xp ? "DeviceIoControl" : "GetFileInformationByHandleEx";
        for (auto &link : kLinks) {
            SetUp();
            SCOPED_TRACE(winhost::ToUtf8(link.path) + (xp ? " on XP" : ""));
            machine().osMajor = xp ? 5 : 10;
            SeedPackage(kPackage, kPlaceholder);
            winhost::FileEntry *e = winhost::FindFile(kPackage + link.path);
            e->reparseTag = link.tag;
            e->links = link.links;
            if (link.unreadable)
                winhost::FailCallOn(reader, kPackage + link.path,
                                    ERROR_INVALID_FUNCTION);
            EXPECT_EQ(InstallerRun(nullptr),
                      !link.staged ? ERROR_INSTALL_FAILURE
                      : xp         ? 0
                                   : kRestartExit);
            const u16 box =
                !link.staged ? u"Failed, error code: Copy PreInstall File Error."
                : xp         ? u"Driver Install Success!"
                             : kRestart;
            EXPECT_EQ(BoxTexts(), std::vector<u16>{box});
            EXPECT_EQ(CallsOf("CopyFileW").empty(), !link.staged);
            for (const char16_t *name : kPackageFiles)
                EXPECT_EQ(winhost::FileExists(kStaging + name), link.staged);
            EXPECT_EQ(machine().registeredInfs.size(), link.staged ? 1u : 0u);
            if (link.staged) /* every folder's and file's tag */
                EXPECT_EQ(CallsOf(reader).size(), 12u);
            EXPECT_EQ(winhost::OpenHandleCount(), 0);
        }
    }
}

/* What did not open for the check is not copied, even when it is there
 * by the time of the copy. */
TEST_F(Run, AFileThatDidNotOpenForTheCheckIsNotCopied)
{
    winhost::FailCallOn("CreateFileW", kPackage + u"ia64\\libusbDspQx.dll",
                        ERROR_ACCESS_DENIED);
    EXPECT_EQ(InstallerRun(nullptr), ERROR_INSTALL_FAILURE);
    EXPECT_EQ(BoxTexts(), std::vector<u16>{
                              u"Failed, error code: Copy PreInstall File Error."});
    for (auto &c : CallsOf("CopyFileW"))
        EXPECT_EQ(c.object.find("ia64"), std::string::npos) << c.object;
    EXPECT_TRUE(winhost::FileExists(kStaging + u"x86\\libusbDspQx_x86.dll"));
    EXPECT_FALSE(winhost::FileExists(kStaging + u"ia64\\libusbDspQx.dll"));
    EXPECT_EQ(winhost::OpenHandleCount(), 0);
}

/* Both ways the run fills the staging folder leave it with its own DACL,
 * set before anything is copied into it. */
TEST_F(Run, TheStagingFolderHasItsOwnDaclOnBothPathsThatFillIt)
{
    const u16 dacl = u"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";
    InstallerRun(nullptr);
    ASSERT_TRUE(winhost::FileExists(kStaging));
    EXPECT_EQ(winhost::FindFile(kStaging)->dacl, dacl);
    EXPECT_TRUE(CallsOf("SetNamedSecurityInfoW").empty());

    SetUp();
    SeedStagedCopy();
    winhost::FailCallOn("SHFileOperationW", kStaging, ERROR_ACCESS_DENIED);
    InstallerRun(nullptr);
    EXPECT_EQ(winhost::FindFile(kStaging)->dacl, dacl);
    auto names = winhost::CallNames();
    auto set = std::find(names.begin(), names.end(), "SetNamedSecurityInfoW");
    auto copy = std::find(names.begin(), names.end(), "CopyFileW");
    EXPECT_LT(set, copy);
    ExpectStagedLikeThePackage();
    EXPECT_EQ(winhost::LiveSecurityDescriptors(), 0);
}

TEST_F(Run, MissingProgramFilesReportsTheFindFolderErrorAndChangesNothing)
{
    machine().programFilesMissing = true;
    EXPECT_EQ(InstallerRun(nullptr), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(BoxTexts(),
              std::vector<u16>{
                  u"Failed, error code: Find PreInstall File Folder Error."});
    EXPECT_TRUE(CallsOf("SHFileOperationW").empty());
    EXPECT_TRUE(CallsOf("SHCreateDirectoryExW").empty());
}

TEST_F(Run, AModulePathCutByItsBufferIsTreatedAsAFolderNotFound)
{
    machine().modulePath = u"C:\\" + u16(MAX_PATH, u'p') + u"\\Qx.exe";
    EXPECT_EQ(InstallerRun(nullptr), ERROR_INSTALL_FAILURE);
    EXPECT_EQ(BoxTexts(),
              std::vector<u16>{
                  u"Failed, error code: Find PreInstall File Folder Error."});
    EXPECT_TRUE(CallsOf("CopyFileW").empty());
}

TEST_F(Run, NothingToDeleteIsNotAFailureWhateverCodeTheShellUses)
{
    for (int result : {0, DE_INVALIDFILES, static_cast<int>(ERROR_FILE_NOT_FOUND),
                       static_cast<int>(ERROR_PATH_NOT_FOUND)}) {
        SetUp();
        machine().shellMissingResult = result;
        EXPECT_EQ(InstallerRun(nullptr), kRestartExit);
        EXPECT_EQ(BoxTexts(), std::vector<u16>{kRestart}) << result;
    }
}

TEST_F(Run, AFailedDeletionIsReportedAndTheRunGoesOn)
{
    winhost::FailCallOn("SHFileOperationW", kStaging, ERROR_ACCESS_DENIED);
    EXPECT_EQ(InstallerRun(nullptr), kRestartExit);
    auto texts = BoxTexts();
    ASSERT_EQ(texts.size(), 2u);
    EXPECT_EQ(texts[0].rfind(u"Failed, error code: Delete PreInstall File "
                             u"Folder Error.", 0),
              0u);
    EXPECT_EQ(texts[1], kRestart);
    ExpectStagedLikeThePackage();
}

TEST_F(Run, AFailedDeletionThenACopyFailureShowBothDetailsInOneText)
{
    winhost::FailCallOn("SHFileOperationW", kStaging, ERROR_ACCESS_DENIED);
    winhost::RemoveFile(kPackage + u"USB_DSP.cat");
    EXPECT_EQ(InstallerRun(nullptr), ERROR_FILE_NOT_FOUND);
    auto texts = BoxTexts();
    ASSERT_EQ(texts.size(), 2u);
    /* The number is the thread's last error, not the shell's result: here
     * the failed query of the missing staged copy (ERROR_PATH_NOT_FOUND). */
    EXPECT_EQ(texts[0],
              u"Failed, error code: Delete PreInstall File Folder Error.3 ");
    EXPECT_EQ(texts[1], u"Failed, error code: Delete PreInstall File Folder "
                        u"Error.3 Copy PreInstall File Error.");
}

TEST_F(Run, OnAPreVistaSystemAFailedDeletionIsNotShownButStaysInTheText)
{
    machine().osMajor = 5;
    winhost::FailCallOn("SHFileOperationW", kStaging, ERROR_ACCESS_DENIED);
    winhost::FailCall("SHCreateDirectoryExW", ERROR_ACCESS_DENIED, 2);
    EXPECT_EQ(InstallerRun(nullptr), ERROR_ACCESS_DENIED);
    EXPECT_EQ(BoxTexts(),
              std::vector<u16>{u"Failed, error code: Delete PreInstall File "
                               u"Folder Error.3 Create PreInstall File Folder "
                               u"Error.5 "});
    /* The run stopped at the failed folder. */
    EXPECT_EQ(CallsOf("SHCreateDirectoryExW").size(), 2u);
    EXPECT_TRUE(CallsOf("CopyFileW").empty());
}

TEST_F(Run, ARefusedPreinstallationIsReportedAndThePumpStillRuns)
{
    winhost::FailCall("SetupCopyOEMInfW", ERROR_FILE_NOT_FOUND);
    machine().messages.push_back(Message(WM_USER, 7));
    EXPECT_EQ(InstallerRun(nullptr), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(BoxTexts(), std::vector<u16>{u"Failed, error code: 2 "});
}

TEST_F(Run, AFailedVersionQueryReadsAsPreVista)
{
    /* The run's own query, after the one that picks the DLL search. */
    winhost::FailCall("GetVersionExW", ERROR_INVALID_PARAMETER, 2);
    InstallerRun(nullptr);
    EXPECT_TRUE(g_Run.preVista);
    EXPECT_EQ(BoxTexts(), std::vector<u16>{u"Driver Install Success!"});
}

TEST_F(Run, AChineseSystemReportsInChinese)
{
    machine().systemLanguage = 0x0804;
    InstallerRun(nullptr);
    ASSERT_EQ(machine().boxes.size(), 1u);
    EXPECT_EQ(machine().boxes[0].text,
              u"驱动已更新,插入设备USB之前,必须先手动重启!!!");
    EXPECT_EQ(machine().boxes[0].caption, u"QX DSP USB 驱动安装");
}

/* Whatever the final pump finds, or fails to get, the exit code is the
 * outcome's; what it gets is translated and dispatched unless it is an
 * accelerator or the end of the thread's messages. */
TEST_F(Run, TheFinalPumpHandlesOneMessageAndLeavesTheExitCodeToTheOutcome)
{
    const struct {
        const char *what;
        std::deque<MSG> waiting, later;
        int accelerator; /* what TranslateAcceleratorW returns */
        bool retrievalFails;
        size_t retrieved, dispatched;
    } cases[] = {
        {"nothing arrives", {}, {}, 0, false, 0, 0},
        {"one waits", {Message(WM_USER, 3)}, {}, 0, false, 1, 1},
        {"one arrives during the wait", {}, {Message(WM_USER, 9)}, 0, false, 1, 1},
        {"an accelerator", {Message(WM_SYSKEYDOWN, 0xBF)}, {}, 1, false, 1, 0},
        {"a quit message", {Message(WM_QUIT, 4)}, {}, 0, false, 1, 0},
        {"a failed retrieval", {Message(WM_USER, 5)}, {}, 0, true, 1, 0},
    };
    for (auto &c : cases) {
        SetUp();
        SCOPED_TRACE(c.what);
        machine().messages = c.waiting;
        machine().laterMessages = c.later;
        machine().hasResources = c.accelerator != 0;
        machine().translateAcceleratorResult = c.accelerator;
        if (c.retrievalFails)
            winhost::FailCall("GetMessageW", ERROR_INVALID_PARAMETER);
        EXPECT_EQ(InstallerRun(nullptr), kRestartExit);
        auto waits = CallsOf("MsgWaitForMultipleObjects");
        if (c.waiting.empty())
            EXPECT_EQ(waits.at(0).detail, "count=0 ms=1000 mask=0x4FF");
        EXPECT_EQ(CallsOf("GetMessageW").size(), c.retrieved);
        EXPECT_EQ(CallsOf("DispatchMessageW").size(), c.dispatched);
        EXPECT_EQ(CallsOf("TranslateMessage").size(), c.dispatched);
        EXPECT_FALSE(machine().hung);
    }
}

/* ---- what a deployment tool reads: the exit code and the log ---- */

/* Each outcome's exit code: 0 and 3010 for success, the failed call's
 * Windows error, 1603 where there is none or a tool would misread it,
 * 1618 when another run outlasts the wait of a run nobody watches, 1639
 * for a switch not understood; a failure's number is the box's too. */
TEST_F(Run, EachOutcomeEndsWithItsExitCode)
{
    auto xp = [] { machine().osMajor = 5; };
    auto refusal = [](DWORD error) {
        return [error] { winhost::FailCall("SetupCopyOEMInfW", error); };
    };
    /* Setup refuses a 32-bit caller: the native pnputil, doing this. */
    auto pnputil = [](DWORD exit, const char *output, bool hangs) {
        return [=] {
            winhost::FailCall("SetupCopyOEMInfW", ERROR_IN_WOW64);
            winhost::SeedFolder(u"C:\\Windows"); /* for the log */
            machine().pnputilExit = exit;
            machine().pnputilOutput = output;
            machine().pnputilHangs = hangs;
        };
    };
    /* Started from Z:, which the user mapped to \\fs\pkgs in a logon
     * session of their own. */
    auto mapped = [](const u16 &remotePath, const u16 &nativeImage) {
        return [=] {
            machine().modulePath = u"Z:\\drivers\\QxDspInstaller.exe";
            machine().nativeImagePath = nativeImage;
            SeedPackage(u"\\\\fs\\pkgs\\drivers\\");
            winhost::SeedFolder(u"C:\\Windows"); /* for the log */
            if (!remotePath.empty())
                winhost::SeedValue(u"HKEY_CURRENT_USER\\Network\\Z",
                                   u"RemotePath", remotePath);
        };
    };
    const struct {
        const char *what;
        std::function<void()> prepare;
        int exitCode;
        bool worked;        /* the run's work began */
        const char *logged; /* a line of the run's log */
    } cases[] = {
        {"success text", xp, 0, true},
        {"restart notice", [] {}, kRestartExit, true},
        {"silent re-registration", [] { machine().osMajor = 5; SeedStagedCopy(); }, 0, true},
        {"XP's early end", [] {
             machine().osMajor = 5;
             winhost::SeedFile(kStaging + u"amd64\\libusb0.dll", "older");
             winhost::SeedFile(kStaging + u"amd64\\libusb0.sys", "older");
         }, 0, true},
        {"Program Files not found", [] { machine().programFilesMissing = true; },
         ERROR_FILE_NOT_FOUND, true},
        {"a folder not created",
         [] { winhost::FailCall("SHCreateDirectoryExW", ERROR_ACCESS_DENIED, 2); },
         ERROR_ACCESS_DENIED, true},
        {"a copy failed", [] { winhost::FailCall("CopyFileW", ERROR_DISK_FULL, 3); },
         ERROR_DISK_FULL, true},
        {"a copy refused", [] { winhost::FindFile(kPackage + u"USB_DSP.cat")->links = 2; },
         ERROR_INSTALL_FAILURE, true},
        {"pre-installation refused", refusal(ERROR_FILE_NOT_FOUND), ERROR_FILE_NOT_FOUND, true},
        {"Setup's own error", refusal(0xE000022F), static_cast<int>(0xE000022F), true},
        {"a refusal without error", refusal(ERROR_SUCCESS), ERROR_INSTALL_FAILURE, true},
        {"a refusal read as restart", refusal(3010), ERROR_INSTALL_FAILURE, true},
        {"a refusal read as success", refusal(1707), ERROR_INSTALL_FAILURE, true},
        {"a refusal read as running", refusal(STILL_ACTIVE), ERROR_INSTALL_FAILURE, true},
        {"pnputil's pre-installation, localized", pnputil(3010, "Nombre publicado :  OEM41.inf\r\n", false),
         kRestartExit, true, "Windows named it C:\\Windows\\INF\\OEM41.inf\r\n"},
        {"pnputil's refusal", pnputil(1, "", false), 1, true, "pnputil exited with 1\r\n"},
        {"pnputil hangs", pnputil(0, "", true), ERROR_TIMEOUT, true,
         "pnputil did not end within 120000 ms: it is ended\r\n"},
        {"another run, quiet", [] {
             machine().commandLine += u" /q";
             HoldRunLockElsewhere(RUN_UNATTENDED_WAIT_MS + 1);
             machine().osMajor = 5;
         }, ERROR_INSTALL_ALREADY_RUNNING, false},
        {"another run, nobody sees", [] {
             machine().stationVisible = false;
             HoldRunLockElsewhere(RUN_UNATTENDED_WAIT_MS + 1);
         }, ERROR_INSTALL_ALREADY_RUNNING, false},
        {"another run, a person waits", [] {
             HoldRunLockElsewhere(RUN_UNATTENDED_WAIT_MS + 1);
             machine().osMajor = 5;
         }, 0, true},
        {"usage", [] { machine().commandLine += u" /?"; }, 0, false},
        {"a bad command line", [] { machine().commandLine += u" /y"; },
         ERROR_INVALID_COMMAND_LINE, false},
        {"an uninstall of an older installation",
         [] { SeedFoundOlderInstallation(); machine().commandLine += u" /u"; }, 0,
         true, "Setup uninstalled oem12.inf\r\n"},
        {"an uninstall with the device plugged in", [] {
             SeedFoundOlderInstallation();
             machine().presentDevices.insert(
                 u"USB\\VID_3C7E&PID_51B8\\5&1a2b3c&0&1");
             machine().commandLine += u" /uninstall";
         }, kRestartExit, true, "is plugged in: left alone"},
        {"an uninstall of a driver in use", [] {
             SeedFoundOlderInstallation();
             winhost::FindFile(u"C:\\Windows\\System32\\drivers\\libusbDspQx.sys")
                 ->heldOpen = true;
             machine().commandLine += u" /uninstall";
         }, kRestartExit, true, "libusbDspQx.sys (the 64-bit System32) is in use"},
        {"an uninstall Setup refuses", [] {
             SeedFoundOlderInstallation();
             winhost::FailCallOn("SetupUninstallOEMInfW", u"oem12.inf",
                                 ERROR_ACCESS_DENIED);
             machine().commandLine += u" /uninstall";
         }, ERROR_ACCESS_DENIED, true,
         "Box: Failed, error code: Uninstall Driver Package Error.\r\n"},
        {"a mapped drive's package", mapped(u"\\\\fs\\pkgs\\", u""), kRestartExit,
         true, "Package folder Z:\\drivers\\: its drive cannot be seen by this "
               "elevated run; the user's mapping in HKCU\\Network names it "
               "\\\\fs\\pkgs\\drivers\\\r\n"},
        {"a mapped drive's package, by its image's name",
         mapped(u"", u"\\Device\\Mup\\;LanmanRedirector\\;Z:00000000000123ab"
                     u"\\fs\\pkgs\\drivers\\QxDspInstaller.exe"),
         kRestartExit, true, "the image's own name names it \\\\fs\\pkgs\\drivers\\\r\n"},
        {"a mapped drive's package, not found", mapped(u"", u""),
         ERROR_PATH_NOT_FOUND, true,
         "Box: Failed, error code: The package is on a drive this elevated "
         "run cannot see (a mapped network drive)"},
    };
    for (auto &c : cases) {
        SetUp();
        SCOPED_TRACE(c.what);
        c.prepare();
        machine().messages.push_back(Message(WM_USER, 0x51B8));
        EXPECT_EQ(InstallerRun(nullptr), c.exitCode);
        /* The package folder is the work's first step. */
        EXPECT_EQ(CallsOf("GetFileAttributesW").empty(), !c.worked);
        const u16 last = BoxTexts().empty() ? u16() : BoxTexts().back();
        if (c.exitCode != 0 && c.exitCode != kRestartExit && c.worked)
            EXPECT_EQ(last.rfind(u"Failed, error code: ", 0), 0u);
        if (c.logged)
            EXPECT_NE(FileText(kLog).find(c.logged), std::string::npos)
                << FileText(kLog);
    }
}

/* pnputil, where Setup refuses a 32-bit caller, is the native one of the
 * Windows folder, started with no window and inheriting its pipe alone;
 * one that hangs is ended once two minutes have passed. */
TEST_F(Run, PnputilStartsWithNoWindowInheritingItsPipeAloneAndIsEndedInTime)
{
    machine().windowsFolder = u"D:\\WINNT";
    winhost::FailCall("SetupCopyOEMInfW", ERROR_IN_WOW64);
    EXPECT_EQ(InstallerRun(nullptr), kRestartExit);
    EXPECT_EQ(CallsOf("CreateProcessW").at(0).detail,
              "\"D:\\WINNT\\Sysnative\\pnputil.exe\" -a \"" + winhost::ToUtf8(kStaging) +
                  "QX_DSP_USB.inf\" flags=0x8080000 inherits pipe write end");
    EXPECT_EQ(u16(g_PreinstalledInf), u"D:\\WINNT\\INF\\oem0.inf");
    EXPECT_EQ(winhost::OpenHandleCount(), 0);

    SetUp();
    winhost::FailCall("SetupCopyOEMInfW", ERROR_IN_WOW64);
    machine().pnputilHangs = true;
    EXPECT_EQ(InstallerRun(nullptr), ERROR_TIMEOUT);
    EXPECT_EQ(machine().sleptMs, static_cast<DWORD>(PNPUTIL_WAIT_MS));
    EXPECT_EQ(CallsOf("TerminateProcess").at(0).detail, "1460");
    EXPECT_FALSE(machine().hung);
}

/* The usage, asked for or after a switch not understood, is a box (none
 * when quiet) in the catalogue's language; nothing is read or changed,
 * and the run lock is not even waited for, but the log gets a short
 * block, without renaming an oversized log. */
TEST_F(Run, TheUsageReadsAndChangesNothingButTheLogsShortBlock)
{
    const struct {
        const char16_t *switches;
        LANGID language;
        const char *usageStart; /* "" for no box */
        const char *outcome;
    } cases[] = {
        {u" /?", 0x0409, "QxDspInstaller.exe [/uninstall] [/quiet] [/log FILE]",
         "Outcome: the usage was asked for; exit code 0"},
        {u" /bogus", 0x0804, "QxDspInstaller.exe [/uninstall] [/quiet] [/log 文件]",
         "Outcome: the command line was not understood; exit code 1639"},
        {u" /q /bogus", 0x0409, "",
         "Outcome: the command line was not understood; exit code 1639"},
    };
    for (auto &c : cases) {
        SetUp();
        SCOPED_TRACE(winhost::ToUtf8(c.switches));
        SeedFoundOlderInstallation();
        const std::string big(RUN_LOG_ROTATE_CB + 1, 'o');
        winhost::SeedFile(kLog, big);
        const auto before = older::TakeSnapshot();
        machine().commandLine += c.switches;
        machine().systemLanguage = c.language;
        InstallerRun(nullptr);
        const std::vector<u16> boxes = BoxTexts();
        EXPECT_EQ(boxes.size(), c.usageStart[0] ? 1u : 0u);
        if (!boxes.empty())
            EXPECT_EQ(winhost::ToUtf8(boxes[0]).rfind(c.usageStart, 0), 0u);
        for (const char *fn : {"SHCreateDirectoryExW", "RegOpenKeyExW", "FindFirstFileW",
                               "GetFileAttributesExW", "SHGetSpecialFolderPathW"})
            EXPECT_TRUE(CallsOf(fn).empty()) << fn;
        auto after = older::TakeSnapshot();
        const std::string log = FileText(kLog);
        after.erase("F " + winhost::ToUtf8(kLog));
        auto unchanged = before;
        unchanged.erase("F " + winhost::ToUtf8(kLog));
        EXPECT_EQ(after, unchanged);
        ASSERT_EQ(log.rfind(big, 0), 0u);
        EXPECT_NE(log.find("Command line: \"C:\\pkg\\QxDspInstaller.exe\""),
                  std::string::npos);
        EXPECT_NE(log.find(std::string(c.outcome) + "\r\n\r\n"), std::string::npos);
    }
}

/* The older installation's run, read back from the log: what was found
 * where, what Setup uninstalled, what was deleted, the name Windows gave
 * the package and the exit code; Setup's own log names ours. */
TEST_F(Run, TheLogOfAnOlderInstallationsRunSaysWhatWasFoundAndDone)
{
    SeedFoundOlderInstallation();
    machine().commandLine += u" /norestart";
    EXPECT_EQ(InstallerRun(nullptr), kRestartExit);
    const std::string log = FileText(kLog);
    ASSERT_EQ(machine().registeredInfs.size(), 1u);
    const std::string oem = "oem0.inf"; /* the first name free */
    for (const std::string &line : {
             std::string("\xEF\xBB\xBF" "2026-12-10 14:03:22 QxDspInstaller 1.0.0.1\r\n"
                         "Windows 10.0 build 19045\r\nMachine: x64\r\n"
                         "Command line: \"C:\\pkg\\QxDspInstaller.exe\" /norestart\r\n"
                         "Anyone can see the run: yes; quiet: no\r\n"
                         "Package folder: C:\\pkg\\\r\n"),
             std::string("Candidate oem12.inf: InfPath of HKLM\\SYSTEM\\ControlSet001"
                         "\\Control\\Class\\{eb781aaf-9c70-4523-a5df-642a87eca567}"
                         "\\0000 (32-bit view)\r\n"),
             std::string("Setup uninstalled oem12.inf\r\n"),
             std::string("Deleted C:\\Windows\\Sysnative\\drivers\\libusb0.sys "
                         "(the 64-bit System32)\r\n"),
             std::string("Deleted key HKLM\\SYSTEM\\ControlSet001\\Services\\"
                         "libusb0 (32-bit view)\r\n"),
             std::string("Comparison: the staged copy differs or is missing\r\n"),
             "Pre-installed " + older::ToUtf8(kStaging) +
                 "QX_DSP_USB.inf: Windows named it C:\\Windows\\INF\\" + oem + "\r\n",
             "Box: " + older::ToUtf8(kRestart) + "\r\n" +
                 "Outcome: installed, a restart is needed; exit code 3010\r\n\r\n"})
        EXPECT_NE(log.find(line), std::string::npos) << line << "\nin:\n" << log;
    EXPECT_EQ(machine().setupLogLines,
              std::vector<std::string>{
                  "QxDspInstaller 1.0.0.1: installed, a restart is needed, exit "
                  "code 3010, OEM INF " + oem + ", log C:\\Windows\\QxDspInstaller.log"});
    EXPECT_EQ(winhost::OpenHandleCount(), 0);
}

/* A relative /log FILE is resolved once, in the folder the run started
 * in, and named so in the log and in Setup's summary, which leaves it out
 * where the line would be longer than Setup takes. */
TEST_F(Run, ARelativeLogIsResolvedOnceAndSetupsLineLeavesOutALongPath)
{
    for (const u16 folder : {u16(u"C:\\Temp"), u"C:\\" + u16(240, u'd')}) {
        SetUp();
        winhost::SeedFolder(folder);
        machine().currentFolder = folder;
        machine().commandLine += u" /log qx.log";
        EXPECT_EQ(InstallerRun(nullptr), kRestartExit);
        const std::string log = FileText(folder + u"\\qx.log");
        EXPECT_NE(log.find("Log: " + winhost::ToUtf8(folder) + "\\qx.log\r\n"),
                  std::string::npos) << log;
        ASSERT_EQ(machine().setupLogLines.size(), 1u);
        const std::string &line = machine().setupLogLines[0];
        const std::string named = ", log " + winhost::ToUtf8(folder) + "\\qx.log";
        const bool shortPath = folder.size() < 100;
        EXPECT_LE(line.size(), 325u);
        EXPECT_EQ(line.rfind(named) + named.size() == line.size(), shortPath);
        EXPECT_EQ(line.find(", log ") == std::string::npos, !shortPath);
        EXPECT_EQ(CallsOf("GetFullPathNameW").size(), 1u);
    }
}

/* ---- what an install leaves, and the uninstall ---- */

const u16 kCopy = u"C:\\Program Files (x86)\\Quorvantix\\QxDspInstaller.exe";
const u16 kEntry = u"SOFTWARE\\WOW6432Node\\Microsoft\\Windows\\CurrentVersion\\"
                   u"Uninstall\\QxDspDriver";

/* The machine as the last run left it, for the next run: a new process. */
void NextProcess(const u16 &commandLine)
{
    winhost::EndProcess();
    ResetProcessState();
    machine().calls.clear();
    machine().boxes.clear();
    machine().loadedLibraries = 0;
    machine().commandLine = commandLine;
}

/* An install of the sample package, then, as the next process, the
 * entry's quiet uninstall, started from the installer's copy. */
void InstallThenStartTheQuietUninstall(int installExit)
{
    winhost::SeedFile(kPackage + u"QX_DSP_USB.inf", SampleInf());
    winhost::SeedFile(machine().modulePath, "MZ the installer");
    winhost::SeedFolder(u"C:\\Windows\\INF");
    EXPECT_EQ(InstallerRun(nullptr), installExit);
    NextProcess(u"\"" + kCopy + u"\" /uninstall /quiet");
    machine().modulePath = kCopy;
}

/* The package, the staging folder, the entry and the copy are gone. */
void ExpectAllTheInstallLeftRemoved()
{
    EXPECT_FALSE(winhost::FileExists(u"C:\\Windows\\INF\\oem0.inf"));
    EXPECT_FALSE(winhost::FileExists(kStaging));
    EXPECT_EQ(winhost::FindKey(kEntry), nullptr);
    EXPECT_FALSE(winhost::FileExists(kCopy));
}

/* An install run leaves the installer's copy, made from its own image
 * with a DACL of its own, and the Apps & features entry; the entry's
 * quiet uninstall, started from the copy, removes the package, the
 * staging folder, the entry and the copy (set aside, as it runs, and
 * gone at the next restart), and run again finds nothing to remove: on
 * Windows 10, XP and a Chinese system alike. */
TEST_F(Run, AnInstallLeavesAnEntryWhoseQuietUninstallRemovesEverything)
{
    const struct {
        DWORD major;
        LANGID language;
        const char16_t *displayName;
        int installExit;
    } kSystems[] = {{10, 0x0409, u"QX DSP USB Driver", kRestartExit},
                    {5, 0x0409, u"QX DSP USB Driver", 0},
                    {10, 0x0804, u"QX DSP USB 驱动", kRestartExit}};
    for (auto &system : kSystems) {
        SetUp();
        SCOPED_TRACE(system.major * 10000 + system.language);
        machine().osMajor = system.major;
        machine().systemLanguage = system.language;
        InstallThenStartTheQuietUninstall(system.installExit);
        const winhost::FileEntry *copy = winhost::FindFile(kCopy);
        ASSERT_NE(copy, nullptr);
        EXPECT_EQ(copy->content, "MZ the installer");
        EXPECT_EQ(copy->dacl, u"D:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;0x1200a9;;;BU)");
        const std::string quoted = "\"" + winhost::ToUtf8(kCopy) + "\" /uninstall";
        const std::map<std::u16string, std::string> kValues = {
            {u"DisplayName", winhost::ToUtf8(system.displayName)},
            {u"UninstallString", quoted},
            {u"QuietUninstallString", quoted + " /quiet"},
            {u"DisplayIcon", winhost::ToUtf8(kCopy) + ",0"},
            {u"InstallLocation", winhost::ToUtf8(kStaging)},
            {u"InstallDate", "20261210"},
            {u"DisplayVersion", "1.2.6.0"},
            {u"Publisher", "Quorvantix"}};
        for (auto &[name, text] : kValues) {
            const winhost::RegValue *v = winhost::FindValue(kEntry, name);
            ASSERT_NE(v, nullptr) << winhost::ToUtf8(name);
            EXPECT_EQ(v->type, DWORD{REG_SZ});
            EXPECT_EQ(v->data, winhost::Utf16Le(U16(text)) + std::string(2, '\0'));
        }
        for (const char16_t *name : {u"NoModify", u"NoRepair", u"EstimatedSize"})
            ASSERT_NE(winhost::FindValue(kEntry, name), nullptr);
        EXPECT_EQ(winhost::FindValue(kEntry, u"NoModify")->data,
                  std::string("\1\0\0\0", 4));

        EXPECT_EQ(InstallerRun(nullptr), 0);
        EXPECT_TRUE(machine().boxes.empty());
        ExpectAllTheInstallLeftRemoved();
        ASSERT_EQ(machine().deletedAtRestart.size(), 1u);
        EXPECT_EQ(machine().deletedAtRestart[0].rfind(kCopy + u".", 0), 0u);
        EXPECT_TRUE(winhost::FileExists(machine().deletedAtRestart[0]));

        NextProcess(u"Qx.exe /uninstall");
        EXPECT_EQ(InstallerRun(nullptr), 0);
        EXPECT_EQ(BoxTexts(), std::vector<u16>{system.language == 0x0804
                                                   ? u"驱动卸载成功!"
                                                   : u"Driver Uninstall Success!"});
        EXPECT_NE(FileText(kLog).find("Outcome: nothing to remove; exit code 0\r\n"),
                  std::string::npos);
        EXPECT_EQ(winhost::OpenHandleCount(), 0);
    }
}

/* An uninstall killed right after Setup's uninstall, the staging folder's
 * deletion or the entry's, started again from the entry, finishes the
 * job: what tells a later run what to remove goes last. */
TEST_F(Run, AKilledUninstallRunAgainFinishesTheJob)
{
    InstallThenStartTheQuietUninstall(kRestartExit);
    ASSERT_EQ(InstallerRun(nullptr), 0);
    const std::vector<std::string> calls = winhost::CallNames();
    for (const char *killedAfter :
         {"SetupUninstallOEMInfW", "SHFileOperationW", "RegDeleteKeyExW"}) {
        SetUp();
        SeedPackage(kPackage);
        SCOPED_TRACE(killedAfter);
        InstallThenStartTheQuietUninstall(kRestartExit);
        const auto last = std::find(calls.rbegin(), calls.rend(), killedAfter);
        ASSERT_NE(last, calls.rend());
        winhost::SetCallBudget(calls.rend() - last);
        EXPECT_THROW(InstallerRun(nullptr), winhost::CallBudgetExhausted);
        winhost::SetCallBudget(0);
        /* The uninstall command names the copy: it must still be there. */
        ASSERT_TRUE(winhost::FileExists(kCopy));
        NextProcess(u"\"" + kCopy + u"\" /uninstall /quiet");
        EXPECT_EQ(InstallerRun(nullptr), 0);
        ExpectAllTheInstallLeftRemoved();
    }
}

/* x86 code runs emulated on ARM64, a driver does not: a package INF
 * whose [Manufacturer] names no NTarm64 models section (or that Setup
 * cannot read) ends the run before anything but the run lock and the log
 * is touched; one that names it installs as anywhere. */
TEST_F(Run, OnArm64OnlyAPackageWithAnArm64DriverIsInstalled)
{
    const std::string inf = SampleInf();
    auto withModels = [&](const std::string &from, const std::string &to) {
        std::string out = inf;
        const std::string a = winhost::Utf16Le(U16(from));
        out.replace(out.find(a), a.size(), winhost::Utf16Le(U16(to)));
        return out;
    };
    const struct {
        const char *what;
        std::string inf;
        LANGID language;
        int exitCode;
        const char16_t *box;
    } cases[] = {
        {"x86, x64 and Itanium models", inf, 0x0409,
         ERROR_INSTALL_PLATFORM_UNSUPPORTED,
         u"Failed, error code: The driver package does not support this PC's "
         u"processor (ARM64)."},
        {"in Chinese", inf, 0x0804, ERROR_INSTALL_PLATFORM_UNSUPPORTED,
         u"驱动安装失败, 原因: 驱动包不支持这台电脑的处理器 (ARM64)."},
        {"an INF Setup cannot read", "not an INF", 0x0409,
         ERROR_INSTALL_PLATFORM_UNSUPPORTED, nullptr},
        {"a decoration that only begins so",
         withModels("NTia64\r\n", "NTarm64x\r\n"), 0x0409,
         ERROR_INSTALL_PLATFORM_UNSUPPORTED, nullptr},
        {"NTarm64", withModels("NTia64\r\n", "ntARM64\r\n"), 0x0409,
         kRestartExit, kRestart.c_str()},
        {"NTarm64 for Windows 10", withModels("NTia64\r\n", "NTarm64.10.0\r\n"),
         0x0409, kRestartExit, kRestart.c_str()},
    };
    for (auto &c : cases) {
        SetUp();
        SCOPED_TRACE(c.what);
        machine().arm64 = true;
        machine().systemLanguage = c.language;
        SeedFoundOlderInstallation();
        winhost::SeedFile(kPackage + u"QX_DSP_USB.inf", c.inf);
        const auto before = older::TakeSnapshot();
        EXPECT_EQ(InstallerRun(nullptr), c.exitCode);
        if (c.box)
            EXPECT_EQ(BoxTexts(), std::vector<u16>{c.box});
        if (c.exitCode != ERROR_INSTALL_PLATFORM_UNSUPPORTED)
            continue;
        auto after = older::TakeSnapshot();
        for (const u16 &touched :
             {kLog, u16(u"C:\\Program Files (x86)"),
              u16(u"C:\\Program Files (x86)\\Quorvantix"),
              u16(u"C:\\Program Files (x86)\\Quorvantix\\QxDspInstaller.lock")})
            after.erase("F " + winhost::ToUtf8(touched));
        EXPECT_EQ(after, before);
        EXPECT_EQ(winhost::OpenHandleCount(), 0);
    }
    /* The uninstall has no such end: it removes what is there. */
    SetUp();
    machine().arm64 = true;
    SeedFoundOlderInstallation();
    machine().commandLine += u" /uninstall";
    EXPECT_EQ(InstallerRun(nullptr), 0);
    EXPECT_FALSE(winhost::FileExists(u"C:\Windows\INF\oem12.inf"));
}

/* A log that cannot be opened or written, or that is refused, changes
 * nothing of the run: its boxes, their numbers (the thread's last error
 * survives every line), its exit code, what it did. */
TEST_F(Run, ALogThatCannotBeWrittenChangesNothing)
{
    auto withLog = [](const std::function<void()> &spoil) {
        std::function<void()> seed = [] {
            SeedFoundOlderInstallation();
            winhost::FailCallOn("SHFileOperationW", kStaging, ERROR_ACCESS_DENIED);
        };
        return [seed, spoil] { seed(); spoil(); };
    };
    const std::function<void()> variants[] = {
        withLog([] {}),
        withLog([] { winhost::FailCallFrom("WriteFile", ERROR_DISK_FULL); }),
        withLog([] { winhost::FailCallOn("CreateFileW", kLog, ERROR_ACCESS_DENIED); }),
        withLog([] { winhost::SeedFile(kLog, "")
                       .attributes |= FILE_ATTRIBUTE_REPARSE_POINT; }),
    };
    std::vector<Outcome> outcomes;
    for (auto &prepare : variants) {
        SetUp();
        prepare();
        Outcome o = Observe(InstallerRun(nullptr));
        /* What the log did itself aside. */
        std::vector<std::string> calls;
        for (const std::string &c : o.calls)
            if (c.rfind("WriteFile|", 0) != 0 && c.rfind("GetLastError|", 0) != 0 &&
                c.rfind("GetLocalTime|", 0) != 0 &&
                older::Upper(c).find("QXDSPINSTALLER.LOG") == std::string::npos)
                calls.push_back(c);
        o.calls = calls;
        outcomes.push_back(o);
        EXPECT_EQ(BoxTexts().size(), 2u);
    }
    EXPECT_NE(outcomes[0].failureText, u"Failed, error code: ");
    for (size_t i = 1; i < outcomes.size(); i++) {
        SCOPED_TRACE(i);
        EXPECT_EQ(outcomes[i].exitCode, outcomes[0].exitCode);
        EXPECT_EQ(outcomes[i].boxes, outcomes[0].boxes);
        EXPECT_EQ(outcomes[i].calls, outcomes[0].calls);
    }
    EXPECT_EQ(outcomes[0].exitCode, kRestartExit);
}

/* ---- runs nobody can see ---- */

class UnattendedRun : public Run {
protected:
    /* The whole run on a fresh machine: prepare seeds it, then the run's
     * window station is made visible or not. */
    template <typename Prepare>
    Outcome RunOn(bool stationVisible, Prepare prepare, bool quiet = false)
    {
        SetUp();
        prepare();
        machine().stationVisible = stationVisible;
        if (quiet)
            machine().commandLine += u" /quiet";
        return Observe(InstallerRun(nullptr));
    }
};

/* Nobody can answer Windows' "file in use" question or Setup's, nor
 * close another run's box: such a run asks Setup to ask nothing, deletes
 * with FOF_NOERRORUI and waits for another run at most 5 minutes.  A
 * quiet run on a visible desktop is one of them. */
TEST_F(UnattendedRun, OnTheSuccessPathNoBoxIsShownAndOnlyWhatCouldWaitDiffers)
{
    auto seed = [] {};
    Outcome seen = RunOn(true, seed);
    Outcome quiet = RunOn(true, seed, true);
    Outcome unseen = RunOn(false, seed);
    EXPECT_EQ(seen.boxes, std::vector<u16>{kRestart});
    EXPECT_TRUE(unseen.boxes.empty());
    EXPECT_TRUE(CallsOf("MessageBoxW").empty());
    EXPECT_EQ(unseen.calls, seen.calls);
    EXPECT_EQ(seen.unattended, "SHFileOperationW func=3 flags=0x10; ");
    EXPECT_EQ(unseen.unattended, "SetupSetNonInteractiveMode 1; "
                                 "SHFileOperationW func=3 flags=0x410; ");
    EXPECT_EQ(quiet.unattended, unseen.unattended);
    EXPECT_TRUE(quiet.boxes.empty());
    for (const Outcome *o : {&seen, &quiet, &unseen})
        EXPECT_EQ(o->exitCode, kRestartExit);
    ExpectStagedLikeThePackage();
    EXPECT_EQ(machine().registeredInfs.size(), 1u);
}

TEST_F(UnattendedRun, OnAFailurePathTheTextIsComposedAndTheRunEndsTheSame)
{
    /* The staging folder cannot be deleted (reported, the run goes on),
     * then the catalogue is missing: two boxes when seen. */
    auto seed = [] {
        winhost::FailCallOn("SHFileOperationW", kStaging, ERROR_ACCESS_DENIED);
        winhost::RemoveFile(kPackage + u"USB_DSP.cat");
    };
    Outcome seen = RunOn(true, seed);
    Outcome unseen = RunOn(false, seed);
    EXPECT_EQ(seen.boxes.size(), 2u);
    EXPECT_TRUE(unseen.boxes.empty());
    EXPECT_EQ(unseen.failureText, u"Failed, error code: Delete PreInstall "
                                  u"File Folder Error.3 Copy PreInstall File "
                                  u"Error.");
    EXPECT_EQ(unseen.failureText, seen.failureText);
    EXPECT_EQ(unseen.calls, seen.calls);
    EXPECT_EQ(unseen.exitCode, ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(seen.exitCode, ERROR_FILE_NOT_FOUND);
}

TEST_F(UnattendedRun, TheStationIsAskedForItsFlagsOnceRightAfterTheVersion)
{
    RunOn(false, [] {});
    auto names = winhost::CallNames();
    auto restricted =
        std::find(names.begin(), names.end(), "SetDefaultDllDirectories");
    auto version = std::find(restricted, names.end(), "GetVersionExW");
    ASSERT_NE(version, names.end());
    ASSERT_GE(names.end() - version, 3);
    EXPECT_EQ(version[1], "GetProcessWindowStation");
    EXPECT_EQ(version[2], "GetUserObjectInformationW");
    auto query = CallsOf("GetUserObjectInformationW");
    ASSERT_EQ(query.size(), 1u);
    EXPECT_EQ(query[0].detail, "index=1 length=12");
    /* An invisible station decides it; the session is not asked. */
    EXPECT_TRUE(CallsOf("ProcessIdToSessionId").empty());
}

/* ---- the DLL search of an elevated run ---- */

class DllSearch : public Run {
protected:
    /* An older installation whose INF goes through Setup, so that the run
     * loads setupapi as well as advapi32 by name; and a copy of each DLL
     * it loads planted beside the installer. */
    void SetUp() override
    {
        Run::SetUp();
        SeedFoundOlderInstallation();
        for (const char16_t *name :
             {u"setupapi.dll", u"Advapi32.dll", u"cfgmgr32.dll", u"ntmarta.dll"})
            winhost::SeedFile(kPackage + name, "planted");
    }
    /* Names of the modules the run's loads returned, upper-case paths. */
    std::vector<std::string> LoadedFrom(const u16 &folder)
    {
        std::vector<std::string> out;
        for (const u16 &path : machine().loadedModules)
            if (winhost::ToUtf8(path).rfind(winhost::ToUtf8(folder), 0) == 0)
                out.push_back(winhost::ToUtf8(path));
        return out;
    }
};

TEST_F(DllSearch, IsRestrictedToTheSystemFolderBeforeAnyOtherCall)
{
    EXPECT_EQ(InstallerRun(nullptr), kRestartExit);
    auto names = winhost::CallNames();
    ASSERT_GE(names.size(), 4u);
    EXPECT_EQ(std::vector<std::string>(names.begin(), names.begin() + 4),
              (std::vector<std::string>{"GetModuleHandleW", "GetVersionExW",
                                        "GetProcAddress",
                                        "SetDefaultDllDirectories"}));
    /* The run lock comes after it, and after advapi32's own ntmarta. */
    EXPECT_LT(std::find(names.begin(), names.end(), "LoadLibraryExW"),
              std::find(names.begin(), names.end(), "CreateFileW"));
    EXPECT_EQ(CallsOf("LoadLibraryExW").at(0).object,
              "C:\\Windows\\System32\\ntmarta.dll");
    EXPECT_EQ(CallsOf("GetModuleHandleW")[0].object, "kernel32.dll");
    ASSERT_EQ(CallsOf("SetDefaultDllDirectories").size(), 1u);
    EXPECT_EQ(CallsOf("SetDefaultDllDirectories")[0].detail, "0x800");
    EXPECT_EQ(machine().defaultDllDirectories,
              DWORD{LOAD_LIBRARY_SEARCH_SYSTEM32});
    EXPECT_TRUE(CallsOf("SetDllDirectoryW").empty());
}

/* On Vista and 7 without the update (and on XP) the restriction leaves the
 * installer's folder first in the search, so the run's own loads name
 * the system folder in full: none returns a planted copy. */
TEST_F(DllSearch, NoDllPlantedInThePackageFolderIsLoaded)
{
    const struct {
        DWORD major, minor;
        bool hasSetDefaultDllDirectories;
    } versions[] = {{10, 0, true}, {6, 1, false}, {6, 0, true}};
    for (auto &v : versions) {
        SetUp();
        machine().osMajor = v.major;
        machine().osMinor = v.minor;
        machine().hasSetDefaultDllDirectories = v.hasSetDefaultDllDirectories;
        SCOPED_TRACE(std::to_string(v.major) + "." + std::to_string(v.minor));
        EXPECT_EQ(InstallerRun(nullptr), kRestartExit);
        EXPECT_EQ(machine().registeredInfs.size(), 1u);
        /* Each of the run's lookups was made ... */
        std::set<std::string> asked;
        for (auto &c : CallsOf("LoadLibraryExW"))
            asked.insert(c.object + " " + c.detail);
        EXPECT_EQ(asked, (std::set<std::string>{
                             "C:\\Windows\\System32\\advapi32.dll flags=0x8",
                             "C:\\Windows\\System32\\setupapi.dll flags=0x8",
                             "C:\\Windows\\System32\\cfgmgr32.dll flags=0x8",
                             "C:\\Windows\\System32\\ntmarta.dll flags=0x8"}));
        /* ... and every one was answered from the system folder. */
        EXPECT_EQ(LoadedFrom(kPackage), std::vector<std::string>{});
        EXPECT_EQ(LoadedFrom(u"C:\\Windows\\System32\\").size(),
                  machine().loadedModules.size());
        EXPECT_EQ(machine().loadedLibraries, (int)g_SystemDlls.count);
    }
}

/* What the restriction guards: the shell and Setup load DLLs by bare name
 * while the run calls them.  After the run such a load finds the
 * system's copy; where nothing restricts the search (neither function
 * exists), the copy planted beside the installer. */
TEST_F(DllSearch, ALaterLoadByBareNameFindsThePlantedCopyOnlyUnrestricted)
{
    const struct {
        bool canRestrict;
        const char *found;
    } cases[] = {{true, "C:\\Windows\\System32\\SETUPAPI.DLL"},
                 {false, "C:\\pkg\\SETUPAPI.DLL"}};
    for (auto &c : cases) {
        SetUp();
        machine().hasSetDefaultDllDirectories = c.canRestrict;
        machine().hasSetDllDirectory = c.canRestrict;
        EXPECT_EQ(InstallerRun(nullptr), kRestartExit);
        HMODULE later = LoadLibraryExW(u"setupapi.dll", nullptr, 0);
        ASSERT_NE(later, nullptr);
        EXPECT_EQ(winhost::ToUtf8(machine().loadedModules.back()), c.found);
        FreeLibrary(later);
    }
}

TEST_F(DllSearch, WithoutSetDefaultDllDirectoriesTheCurrentFolderIsTakenOut)
{
    machine().osMajor = 5;
    machine().osMinor = 1;
    machine().hasSetDefaultDllDirectories = false;
    InstallerRun(nullptr);
    auto set = CallsOf("SetDllDirectoryW");
    ASSERT_EQ(set.size(), 1u);
    EXPECT_EQ(set[0].object, "");
    EXPECT_TRUE(machine().dllDirectorySet);
    EXPECT_TRUE(CallsOf("SetDefaultDllDirectories").empty());
}

TEST_F(DllSearch, VistaTakesOutOnlyTheCurrentFolderAndWindows7Restricts)
{
    struct {
        DWORD minor;
        size_t defaultDirs, dllDirectory;
    } const cases[] = {{0, 0, 1}, {1, 1, 0}};
    for (auto &c : cases) {
        SetUp();
        machine().osMajor = 6;
        machine().osMinor = c.minor;
        InstallerRun(nullptr);
        size_t lookedUp = 0;
        for (auto &call : CallsOf("GetProcAddress"))
            lookedUp += call.object == "SetDefaultDllDirectories";
        EXPECT_EQ(lookedUp, c.defaultDirs) << "6." << c.minor;
        EXPECT_EQ(CallsOf("SetDefaultDllDirectories").size(), c.defaultDirs)
            << "6." << c.minor;
        EXPECT_EQ(CallsOf("SetDllDirectoryW").size(), c.dllDirectory)
            << "6." << c.minor;
    }
}

TEST_F(DllSearch, ARefusedRestrictionFallsBackAndNeverStopsTheRun)
{
    struct {
        const char *fn;
        size_t dllDirectory;
    } const cases[] = {
        {"SetDefaultDllDirectories", 1}, /* then SetDllDirectoryW */
        {"GetModuleHandleW", 0},         /* nothing to look up in */
    };
    for (auto &c : cases) {
        SetUp();
        winhost::FailCall(c.fn, ERROR_INVALID_PARAMETER);
        EXPECT_EQ(InstallerRun(nullptr), kRestartExit) << c.fn;
        EXPECT_EQ(CallsOf("SetDllDirectoryW").size(), c.dllDirectory) << c.fn;
        EXPECT_EQ(BoxTexts(), std::vector<u16>{kRestart}) << c.fn;
        EXPECT_EQ(machine().registeredInfs.size(), 1u) << c.fn;
    }
}
