#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>

#include "discovery/candidates.h"
#include "host/machine.h"
#include "removal/sweep.h"
#include "older_installation.h"

using namespace winhost;
using namespace older;

namespace {

const char *const kViews[] = {"32", "64"};

class Sweep : public ::testing::Test {
protected:
    void SetUp() override
    {
        Reset();
        g_Candidates = CANDIDATE_LIST{};
    }
    void TearDown() override
    {
        EXPECT_EQ(OpenHandleCount(), 0);
        EXPECT_EQ(machine().loadedLibraries, 0);
    }
};

Strings Deletions()
{
    Strings out;
    for (auto &c : machine().calls) {
        if (c.fn == "SHFileOperationW" || c.fn == "RegDeleteKeyExW")
            out.push_back(c.fn + " " + c.object + " " + c.view);
        else if (c.fn == "SetupUninstallOEMInfW")
            out.push_back(c.fn + " " + c.object + " " + c.detail);
        else if (c.fn == "RegDeleteValueW")
            out.push_back(c.fn + " " + c.object + " " + c.view + " " +
                          c.detail);
    }
    return out;
}

void Add(const std::string &name)
{
    ASSERT_TRUE(AddCandidate(W(name).c_str()));
}

} // namespace

/* The sweep deletes nothing but its targets, and every target goes.
 * Stand-in: there is no file-system redirector, so System32 and syswow64
 * are two folders here; a 32-bit process on 64-bit Windows sees one. */
TEST_F(Sweep, DeletesItsTargetsAndLeavesEverythingElseAsItWas)
{
    SeedOlderInstallation();
    Add("oem12.inf");
    Add("oem7.inf");
    const Targets targets = TargetsOf(
        {"oem12.inf", "oem7.inf"},
        {"qx_dsp_usb.inf_amd64_d4", "qx_dsp_usb.inf_x86_b2", "qx_dsp_usb.inf"});
    for (auto &f : targets.files)
        ASSERT_TRUE(FileExists(W(f))) << f;
    for (auto &k : targets.keys)
        ASSERT_NE(FindKey(W(k)), nullptr) << k;
    const Snapshot before = TakeSnapshot();
    EXPECT_TRUE(RemovalSweep(TRUE));
    EXPECT_EQ(TakeSnapshot(), Without(before, targets));
}

TEST_F(Sweep, AppliesEveryRowInOrderEachRegistryRow32BitViewFirst)
{
    SeedKey(W(kLockdown));
    SeedKey(W(kLockdown32));
    SeedFolder(W(kStore + "\\qx_dsp_usb.inf_amd64_a1"));
    Add("oem12.inf");
    Add("oem7.inf");
    RemovalSweep(TRUE);

    /* Each entry through Setup, forced, while its package is whole; then
     * everything by hand. */
    Strings want = {"SetupUninstallOEMInfW oem12.inf flags=0x1",
                    "SetupUninstallOEMInfW oem7.inf flags=0x1",
                    "SHFileOperationW " + kStore +
                        "\\qx_dsp_usb.inf_amd64_a1 "};
    auto path = [&](const std::string &p) {
        want.push_back("SHFileOperationW " + p + " ");
    };
    path("C:\\Windows\\System32\\drivers\\libusb0.sys");
    path("C:\\Windows\\System32\\libusb0.dll");
    path("C:\\Windows\\syswow64\\libusb0.dll");
    for (std::string entry : {"oem12", "oem7"}) {
        path("C:\\Windows\\INF\\" + entry + ".inf");
        path("C:\\Windows\\INF\\" + entry + ".PNF");
    }
    for (auto &driver : {"libusb0", "libusbDspQx"}) {
        if (std::string(driver) == "libusbDspQx") {
            path("C:\\Windows\\System32\\libusbDspQx.dll");
            path("C:\\Windows\\syswow64\\libusbDspQx.dll");
        }
        for (auto &tree : {kLockdown, kLockdown32})
            for (auto &f : LockdownFiles(driver))
                for (auto &v : kViews)
                    want.push_back("RegDeleteKeyExW " + tree +
                                   "\\%SystemRoot%/" + f + " " + v);
        /* The 32-bit view reads the native key through WOW6432Node.
         * Stand-in: the two trees are separate keys; Wine 8 links
         * WOW6432Node's Setup key to the native one. */
        for (auto &tree : {kLockdown, kLockdown32})
            for (auto &f : LockdownFiles(driver))
                for (auto &v : kViews)
                    want.push_back(
                        "RegDeleteValueW " +
                        (std::string(v) == "32" ? kLockdown32 : tree) + " " +
                        v + " %SystemPath%\\" + Backslashes(f));
        for (auto &set : kControlSets)
            for (auto &key : {kDevice, "Services\\" + std::string(driver)})
                for (auto &v : kViews)
                    want.push_back("RegDeleteKeyExW SYSTEM\\" +
                                   std::string(set) + "\\" + key + " " + v);
    }
    EXPECT_EQ(Deletions(), want);
}

TEST_F(Sweep, RunsThePrivilegeSequenceFirstAndGoesOnWithoutPrivileges)
{
    machine().heldPrivileges.clear();
    SeedFile(u"C:\\Windows\\System32\\libusb0.dll", "dll");
    EXPECT_TRUE(RemovalSweep(TRUE));
    const Strings names = CallNames();
    EXPECT_LT(std::find(names.begin(), names.end(), "AdjustTokenPrivileges"),
              std::find(names.begin(), names.end(), "FindFirstFileW"));
    EXPECT_EQ(CallsOf("AdjustTokenPrivileges").size(), 1u);
    EXPECT_FALSE(FileExists(u"C:\\Windows\\System32\\libusb0.dll"));
}

/* Setup removes a package from the driver store and its index together;
 * a store folder deleted by hand first would leave it half there. */
TEST_F(Sweep, UninstallsEveryEntryThroughSetupBeforeSearchingTheStore)
{
    SeedOlderInstallation();
    Add("oem12.inf");
    Add("oem7.inf");
    Add("oem1.inf");
    RemovalSweep(TRUE);
    Strings order;
    for (auto &c : machine().calls)
        if (c.fn == "AdjustTokenPrivileges" ||
            c.fn == "SetupUninstallOEMInfW" || c.fn == "FindFirstFileW")
            order.push_back(c.fn + " " + c.object);
    EXPECT_EQ(order,
              (Strings{"AdjustTokenPrivileges SeBackupPrivilege",
                       "AdjustTokenPrivileges SeRestorePrivilege",
                       "AdjustTokenPrivileges SeDebugPrivilege",
                       "SetupUninstallOEMInfW oem12.inf",
                       "SetupUninstallOEMInfW oem7.inf",
                       "SetupUninstallOEMInfW oem1.inf",
                       "FindFirstFileW " + kStore + "\\*.*"}));
    /* Setup took the INF copies, and the store folders went by hand. */
    for (auto &f : TargetsOf({"oem12.inf", "oem7.inf", "oem1.inf"},
                             {"qx_dsp_usb.inf_amd64_d4"})
                       .files)
        EXPECT_FALSE(FileExists(W(f))) << f;
}

TEST_F(Sweep, GoesOnPastTargetsThatStay)
{
    SeedOlderInstallation();
    FindFile(u"C:\\Windows\\System32\\drivers\\libusb0.sys")->heldOpen = true;
    SeedKey(u"SYSTEM\\ControlSet001\\Services\\libusb0").refuseDelete = true;
    FailCall("FindFirstFileW", ERROR_ACCESS_DENIED);
    EXPECT_TRUE(RemovalSweep(TRUE));
    EXPECT_TRUE(FileExists(u"C:\\Windows\\System32\\drivers\\libusb0.sys"));
    EXPECT_NE(FindKey(u"SYSTEM\\ControlSet001\\Services\\libusb0"), nullptr);
    EXPECT_TRUE(FileExists(W(kStore + "\\qx_dsp_usb.inf_x86_b2")));
    EXPECT_FALSE(FileExists(u"C:\\Windows\\syswow64\\libusbDspQx.dll"));
    EXPECT_EQ(FindKey(u"SYSTEM\\CurrentControlSet\\Services\\libusbDspQx"),
              nullptr);
}

TEST_F(Sweep, DeletesEachEntryWithTheShellWhereSetupCannotUninstallIt)
{
    machine().hasSetupUninstallOEMInf = false;
    SeedFile(u"C:\\Windows\\INF\\oem12.inf", "inf");
    SeedFile(u"C:\\Windows\\INF\\oem12.PNF", "pnf");
    Add("oem12.inf");
    RemovalSweep(TRUE);
    EXPECT_TRUE(CallsOf("SetupUninstallOEMInfW").empty());
    EXPECT_FALSE(FileExists(u"C:\\Windows\\INF\\oem12.inf"));
    EXPECT_FALSE(FileExists(u"C:\\Windows\\INF\\oem12.PNF"));
}

/* Written past Add candidate, which refuses oem4.txt. */
void Place(const std::string &name)
{
    const u16 entry = W(name);
    ASSERT_LT(entry.size(), (size_t)CANDIDATE_CCH);
    std::copy(entry.begin(), entry.end(),
              g_Candidates.entries[g_Candidates.count]);
    g_Candidates.count++;
}

TEST_F(Sweep, ReplacesTheLastThreeUnitsOfAnEntryForItsPnfName)
{
    Add("oem3.INF");
    Place("oem4.txt");
    RemovalSweep(TRUE);
    Strings inf;
    for (auto &c : CallsOf("SHFileOperationW"))
        if (c.object.rfind("C:\\Windows\\INF\\", 0) == 0)
            inf.push_back(c.object.substr(15));
    EXPECT_EQ(inf, (Strings{"oem3.INF", "oem3.PNF", "oem4.txt", "oem4.PNF"}));
}

/* "C:\Windows\INF\" is 15 units and the store folder with its backslash
 * 47: entries of 240 units and store names of 208 are the longest that
 * fit.  Anything longer is skipped, never cut into another name. */
TEST_F(Sweep, SkipsNamesThatWouldNotFitAPathBuffer)
{
    const std::string entry240(236, 'e'), entry241(237, 'f');
    const std::string store208 = "qx_dsp_usb.inf" + std::string(194, 's');
    const std::string store209 = "qx_dsp_usb.inf" + std::string(195, 't');
    SeedFile(W("C:\\Windows\\INF\\" + entry240 + ".inf"), "240");
    SeedFile(W("C:\\Windows\\INF\\" + entry241 + ".inf"), "241");
    SeedFile(W("C:\\Windows\\INF\\" + entry241 + ".in"), "cut copy");
    SeedFolder(W(kStore + "\\" + store208));
    SeedFolder(W(kStore + "\\" + store209));
    Place(entry240 + ".inf");
    Place(entry241 + ".inf");
    RemovalSweep(TRUE);
    EXPECT_FALSE(FileExists(W("C:\\Windows\\INF\\" + entry240 + ".inf")));
    EXPECT_TRUE(FileExists(W("C:\\Windows\\INF\\" + entry241 + ".inf")));
    EXPECT_TRUE(FileExists(W("C:\\Windows\\INF\\" + entry241 + ".in")));
    EXPECT_EQ(ListFolder(W(kStore)), std::vector<u16>{W(store209)});
}

TEST_F(Sweep, NeverAddressesTheInfFolderForAnEntryTooShortForAPnfName)
{
    SeedFile(u"C:\\Windows\\INF\\ab", "two units");
    /* Add candidate refuses these; written past it, they still do no harm. */
    g_Candidates.count = 2;
    g_Candidates.entries[1][0] = u'a';
    g_Candidates.entries[1][1] = u'b';
    RemovalSweep(TRUE);
    EXPECT_TRUE(FileExists(u"C:\\Windows\\INF\\ab"));
    for (auto &c : CallsOf("SHFileOperationW"))
        EXPECT_EQ(c.object.find("C:\\Windows\\INF"), std::string::npos);
}
