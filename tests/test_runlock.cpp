#include "fixture.h"

#include "app/runlock.h"

using winhost::CallsOf;
using winhost::machine;

namespace {

const u16 kVendor = u"C:\\Program Files (x86)\\Quorvantix\\";
const u16 kLock = kVendor + u"QxDspInstaller.lock";
const u16 kAdministrators = u"S-1-5-32-544";
const u16 kSystem = u"S-1-5-18";
const u16 kRunUser = u"S-1-5-21-1-2-3-1000"; /* the stand-in's default */
const u16 kOtherUser = u"S-1-5-21-1-2-3-1001";

/* The milliseconds of every Sleep, in order. */
std::vector<std::string> Sleeps()
{
    std::vector<std::string> out;
    for (auto &c : CallsOf("Sleep"))
        out.push_back(c.detail);
    return out;
}

void RunAs(const u16 &user, bool administrators)
{
    machine().tokenUser = user;
    machine().tokenAdministrators = administrators;
}

} // namespace

class RunLock : public MachineTest {};

TEST_F(RunLock, TheFirstRunCreatesAnEmptyAdministratorsOnlyFileAndHoldsIt)
{
    EXPECT_EQ(RunLockTake(INFINITE), RUN_LOCK_HELD);
    const winhost::FileEntry *lock = winhost::FindFile(kLock);
    ASSERT_NE(lock, nullptr);
    EXPECT_EQ(lock->content, "");
    EXPECT_EQ(lock->dacl, u"D:P(A;;FA;;;SY)(A;;FA;;;BA)");
    EXPECT_EQ(lock->owner, kAdministrators);
    EXPECT_EQ(CallsOf("SHCreateDirectoryExW").at(0).object,
              winhost::ToUtf8(kVendor));
    ASSERT_EQ(CallsOf("CreateFileW").size(), 1u);
    EXPECT_EQ(CallsOf("CreateFileW")[0].detail,
              "0x80000000 share=0x0 disp=4 flags=0x80");
    EXPECT_TRUE(Sleeps().empty());
    EXPECT_EQ(winhost::LiveSecurityDescriptors(), 0);
}

/* A second run waits while the first holds the file and gets it once the
 * first is killed, whoever starts them: a deployment tool's run as SYSTEM
 * and an administrator's take turns either way, and so do two
 * administrators' runs, since the file is owned by the Administrators
 * group whoever made it (XP would give it to the account that made it).
 * The same process stands for both runs: share modes hold between the
 * handles of one process as between two.  The file stays, and opening it
 * again as existing is no failure. */
TEST_F(RunLock, ASecondRunWaitsUntilTheFirstIsKilledWhoeverStartsThem)
{
    const struct {
        const char16_t *first, *second;
    } kTurns[] = {
        {u"S-1-5-21-1-2-3-1000", u"S-1-5-21-1-2-3-1000"},
        {u"S-1-5-18", u"S-1-5-21-1-2-3-1000"},
        {u"S-1-5-21-1-2-3-1000", u"S-1-5-18"},
        {u"S-1-5-21-1-2-3-1000", u"S-1-5-21-1-2-3-500"},
    };
    for (auto &turn : kTurns) {
        SetUp();
        SCOPED_TRACE(winhost::ToUtf8(turn.first) + " " +
                     winhost::ToUtf8(turn.second));
        RunAs(turn.first, true);
        ASSERT_EQ(RunLockTake(INFINITE), RUN_LOCK_HELD);
        RunAs(turn.second, true);
        machine().calls.clear();
        EXPECT_EQ(RunLockTake(600), RUN_LOCK_BUSY);
        EXPECT_EQ(Sleeps(), (std::vector<std::string>{"250", "250", "100"}));
        EXPECT_EQ(CallsOf("CreateFileW").size(), 4u);
        EXPECT_EQ(CallsOf("GetLastError").back().detail, "32");
        winhost::EndProcess();
        EXPECT_EQ(RunLockTake(0), RUN_LOCK_HELD);
        EXPECT_EQ(winhost::LiveSecurityDescriptors(), 0);
    }
}

/* Program Files and what inherits from it let users read, not create
 * (Vista and later); the lock file lets them do nothing.  Neither refusal
 * is waited on. */
TEST_F(RunLock, AStandardUserCanNeitherCreateTheFileNorOpenIt)
{
    winhost::SeedFolder(kVendor);
    winhost::FindFile(u"C:\\Program Files (x86)")->dacl =
        u"D:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)";
    RunAs(kOtherUser, false);
    EXPECT_EQ(RunLockTake(INFINITE), RUN_LOCK_UNLOCKED);
    EXPECT_EQ(CallsOf("GetLastError").back().detail, "5");
    EXPECT_FALSE(winhost::FileExists(kLock));

    RunAs(kRunUser, true);
    ASSERT_EQ(RunLockTake(INFINITE), RUN_LOCK_HELD);
    winhost::EndProcess();
    RunAs(kOtherUser, false);
    machine().calls.clear();
    EXPECT_EQ(RunLockTake(INFINITE), RUN_LOCK_UNLOCKED);
    EXPECT_EQ(CallsOf("GetLastError").back().detail, "5");
    EXPECT_TRUE(Sleeps().empty());
}

/* Another process holds the file: it is waited on only when a run made
 * it (SYSTEM, the Administrators group, or the run's own account: XP's
 * default owner, and Wine's for every file; a descriptor without an owner
 * tells nobody apart), or when its volume keeps no owners at all (FAT32,
 * whose files read as Everyone's).  Someone else's file, or one whose
 * owner cannot be read, is not waited on: its owner could hold it for
 * ever. */
TEST_F(RunLock, AHeldFileIsWaitedOnOnlyWhenARunMadeIt)
{
    const struct {
        const char16_t *owner;
        const char *failing; /* a call that fails with ERROR_ACCESS_DENIED */
        RUN_LOCK_RESULT result;
        bool fat;
    } kOwners[] = {
        {u"S-1-5-32-544", nullptr, RUN_LOCK_BUSY},
        {u"S-1-5-18", nullptr, RUN_LOCK_BUSY},
        {u"S-1-5-21-1-2-3-1000", nullptr, RUN_LOCK_BUSY},
        {u"", nullptr, RUN_LOCK_BUSY},
        {u"S-1-5-21-1-2-3-1001", nullptr, RUN_LOCK_UNLOCKED},
        {u"S-1-5-32-544", "GetNamedSecurityInfoW", RUN_LOCK_UNLOCKED},
        {u"S-1-5-21-1-2-3-1000", "OpenProcessToken", RUN_LOCK_UNLOCKED},
        {u"S-1-5-21-1-2-3-1000", "GetTokenInformation", RUN_LOCK_UNLOCKED},
        {u"S-1-5-32-544", nullptr, RUN_LOCK_BUSY, true},
        {u"S-1-5-32-544", "GetVolumeInformationW", RUN_LOCK_UNLOCKED, true},
        {u"S-1-5-32-544", "GetVolumePathNameW", RUN_LOCK_UNLOCKED, true},
    };
    for (auto &row : kOwners) {
        SetUp();
        SCOPED_TRACE(winhost::ToUtf8(row.owner) + " " +
                     (row.failing ? row.failing : ""));
        winhost::FileEntry &other = winhost::SeedFile(kLock, "");
        other.owner = row.owner;
        other.heldAccess = GENERIC_READ;
        if (row.fat)
            machine().fatVolumes.insert(u"C:");
        if (row.failing)
            winhost::FailCall(row.failing, ERROR_ACCESS_DENIED);
        EXPECT_EQ(RunLockTake(250), row.result);
        EXPECT_EQ(Sleeps().size(), row.result == RUN_LOCK_BUSY ? 1u : 0u);
        EXPECT_EQ(winhost::LiveSecurityDescriptors(), 0);
        EXPECT_EQ(winhost::OpenHandleCount(), 0);
    }
}

/* Program Files unknown, a path too long, the folder or the descriptor
 * not made, the file refused: the run goes on unlocked, at once. */
TEST_F(RunLock, AnyOtherFailureLetsTheRunGoOnUnlocked)
{
    const struct {
        const char *fn;
        DWORD error;
    } kFailures[] = {
        {"SHGetSpecialFolderPathW", ERROR_FILE_NOT_FOUND},
        {"SHCreateDirectoryExW", ERROR_ACCESS_DENIED},
        {"ConvertStringSecurityDescriptorToSecurityDescriptorW",
         ERROR_NOT_ENOUGH_MEMORY},
        {"CreateFileW", ERROR_ACCESS_DENIED},
        {nullptr, 0}, /* a Program Files whose lock path would not fit */
    };
    for (auto &f : kFailures) {
        SetUp();
        SCOPED_TRACE(f.fn ? f.fn : "long path");
        if (f.fn)
            winhost::FailCall(f.fn, f.error);
        else
            machine().programFiles = u"C:\\" + u16(MAX_PATH - 24, u'p');
        EXPECT_EQ(RunLockTake(INFINITE), RUN_LOCK_UNLOCKED);
        EXPECT_TRUE(Sleeps().empty());
        EXPECT_EQ(winhost::LiveSecurityDescriptors(), 0);
    }
}
