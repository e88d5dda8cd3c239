#include <algorithm>
#include <cctype>

#include "fixture.h"
#include "removal/sweep.h"
#include "older_installation.h"

using namespace winhost;
using namespace older;

namespace {

const char *const kViews[] = {"32", "64"};

/* 64-bit Windows 10, Windows in C:\Windows. */
const SWEEP_SETTINGS kWindows10 = {TRUE, FALSE, TRUE, FALSE};

class Sweep : public MachineTest {
protected:
    void TearDown() override
    {
        EXPECT_EQ(OpenHandleCount(), 0);
        EXPECT_EQ(machine().loadedLibraries, (int)g_SystemDlls.count);
    }
};

Strings Deletions()
{
    Strings out;
    for (auto &c : machine().calls) {
        if (c.fn == "SHFileOperationW" || c.fn == "RegDeleteKeyExW" ||
            c.fn == "DeleteFileW")
            out.push_back(c.fn + " " + c.object + " " + c.view);
        else if (c.fn == "SetupUninstallOEMInfW")
            out.push_back(c.fn + " " + c.object + " " + c.detail);
        else if (c.fn == "RegDeleteValueW")
            out.push_back(c.fn + " " + c.object + " " + c.view + " " +
                          c.detail);
    }
    return out;
}

/* The sweep, its report aside. */
BOOL RunSweep(const SWEEP_SETTINGS *settings)
{
    SWEEP_REPORT report = {};
    return RemovalSweep(settings, &report);
}

void Add(const std::string &name)
{
    ASSERT_TRUE(AddCandidate(W(name).c_str()));
}

} // namespace

/* The sweep deletes nothing but its targets, and every target goes, on
 * 32-bit Windows and, for a 32-bit process, on 64-bit Windows: there the
 * rows naming System32 reach the native folder (through Sysnative from
 * Vista on, with a read-only file's attribute cleared; on XP x64 with the
 * redirector off around each DeleteFileW alone, so a read-only file
 * stays, and no file at all once it could not be turned on again), and
 * the store, which 64-bit Vista too redirects, is left to Setup there. */
struct MACHINE_ROW {
    DWORD major, minor;
    bool is64Bit, storeGoes;
    const char *failing; /* a call that fails once, or nullptr */
};
class SweepOn : public Sweep, public ::testing::WithParamInterface<MACHINE_ROW> {};

TEST_P(SweepOn, DeletesItsTargetsAndLeavesEverythingElseAsItWas)
{
    const MACHINE_ROW m = GetParam();
    machine().osMajor = m.major;
    machine().osMinor = m.minor;
    machine().is64Bit = m.is64Bit;
    const SWEEP_SETTINGS settings = {TRUE, m.major < 6, m.is64Bit,
                                     m.major == 6 && m.minor == 0};
    SeedOlderInstallation();
    const std::string readOnly = "C:\\Windows\\System32\\libusbDspQx.dll";
    FindFile(W(readOnly))->attributes |= FILE_ATTRIBUTE_READONLY;
    if (m.failing)
        FailCall(m.failing, ERROR_ACCESS_DENIED);
    Add("oem12.inf");
    Add("oem7.inf");
    /* From Vista on Setup takes the candidates' store folders. */
    Strings store = {"qx_dsp_usb.inf_amd64_d4", "qx_dsp_usb.inf_x86_b2",
                     "qx_dsp_usb.inf"};
    store.resize(m.storeGoes ? 3 : m.major >= 6 ? 2 : 0);
    Targets targets = TargetsOf({"oem12.inf", "oem7.inf"}, store);
    for (auto &f : targets.files)
        ASSERT_TRUE(FileExists(W(f))) << f;
    if (m.failing) /* Setup's, and what the redirector's first turn reached */
        targets.files = {"C:\\Windows\\INF\\oem12.inf", "C:\\Windows\\INF\\oem12.PNF",
                         "C:\\Windows\\INF\\oem7.inf", "C:\\Windows\\INF\\oem7.PNF",
                         "C:\\Windows\\System32\\drivers\\libusb0.sys"};
    else if (m.is64Bit && m.major < 6)
        targets.files.erase(
            std::find(targets.files.begin(), targets.files.end(), readOnly));
    const Snapshot before = TakeSnapshot();
    EXPECT_TRUE(RunSweep(&settings));
    EXPECT_EQ(TakeSnapshot(), Without(before, targets));
    EXPECT_FALSE(machine().fsRedirectionOff && !m.failing);
    /* Nothing but the one deletion while the redirector is off. */
    const Strings names = CallNames();
    for (size_t i = 0; i < names.size(); i++)
        if (names[i] == "Wow64DisableWow64FsRedirection" && !m.failing)
            EXPECT_EQ(Strings(names.begin() + i + 1, names.begin() + i + 3),
                      (Strings{"DeleteFileW", "Wow64RevertWow64FsRedirection"}));
}

/* XP x64 sees no store: System32\DriverStore is SysWOW64's there. */
INSTANTIATE_TEST_SUITE_P(
    Sweep, SweepOn,
    ::testing::Values(MACHINE_ROW{10, 0, true, true, nullptr},
                      MACHINE_ROW{6, 1, true, true, nullptr},
                      MACHINE_ROW{6, 0, true, false, nullptr},
                      MACHINE_ROW{5, 2, true, false, nullptr},
                      MACHINE_ROW{5, 2, true, false,
                                  "Wow64RevertWow64FsRedirection"},
                      MACHINE_ROW{10, 0, false, true, nullptr},
                      MACHINE_ROW{5, 1, false, true, nullptr}));

TEST_F(Sweep, AppliesEveryRowInOrderEachRegistryRow32BitViewFirst)
{
    SeedKey(W(kLockdown));
    SeedKey(W(kLockdown32));
    SeedFolder(W(kStore + "\\qx_dsp_usb.inf_amd64_a1"));
    Add("oem12.inf");
    Add("oem7.inf");
    /* Setup names both packages' store folders, so the store goes too. */
    machine().driverStore = {{u"OEM12.INF", u"gone"}, {u"OEM7.INF", u"gone"}};
    RunSweep(&kWindows10);

    /* Each entry through Setup, forced, while its package is whole; then
     * everything by hand. */
    Strings want = {"SetupUninstallOEMInfW oem12.inf flags=0x1",
                    "SetupUninstallOEMInfW oem7.inf flags=0x1",
                    "SHFileOperationW " + kStore +
                        "\\qx_dsp_usb.inf_amd64_a1 "};
    auto path = [&](const std::string &p) {
        want.push_back("SHFileOperationW " + p + " ");
    };
    /* A 32-bit process reaches the 64-bit System32 as Sysnative. */
    auto native = [&](const std::string &p) {
        want.push_back("DeleteFileW C:\\Windows\\Sysnative\\" + p + " ");
    };
    native("drivers\\libusb0.sys");
    native("libusb0.dll");
    path("C:\\Windows\\syswow64\\libusb0.dll");
    for (std::string entry : {"oem12", "oem7"}) {
        path("C:\\Windows\\INF\\" + entry + ".inf");
        path("C:\\Windows\\INF\\" + entry + ".PNF");
    }
    for (auto &driver : {"libusb0", "libusbDspQx"}) {
        if (std::string(driver) == "libusbDspQx") {
            native("libusbDspQx.dll");
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
    EXPECT_TRUE(RunSweep(&kWindows10));
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
    RunSweep(&kWindows10);
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
    EXPECT_TRUE(RunSweep(&kWindows10));
    EXPECT_TRUE(FileExists(u"C:\\Windows\\System32\\drivers\\libusb0.sys"));
    EXPECT_NE(FindKey(u"SYSTEM\\ControlSet001\\Services\\libusb0"), nullptr);
    EXPECT_TRUE(FileExists(W(kStore + "\\qx_dsp_usb.inf_x86_b2")));
    EXPECT_FALSE(FileExists(u"C:\\Windows\\syswow64\\libusbDspQx.dll"));
    EXPECT_EQ(FindKey(u"SYSTEM\\CurrentControlSet\\Services\\libusbDspQx"),
              nullptr);
}

/* From Vista on what Setup refuses stays whole; a copy Windows does not
 * count as installed goes by hand, and on XP everything does.  No store
 * folder goes by hand when Setup named not the folder of one it refused
 * (oem1's tells).  Where Setup refuses a 32-bit caller, the native
 * pnputil's answer is Setup's. */
struct REFUSAL {
    DWORD error;  /* of oem7's uninstall; 0: setupapi lacks the function */
    BOOL preVista;
    DWORD lookup; /* of every store lookup; ERROR_PROC_NOT_FOUND: none */
    bool refused; /* oem7 (or every entry, for error 0) stays */
    DWORD pnputilExit = 0;
};
class SweepRefusal : public Sweep, public ::testing::WithParamInterface<REFUSAL> {};

TEST_P(SweepRefusal, LeavesWhatSetupRefusedWholeFromVistaOn)
{
    const REFUSAL r = GetParam();
    SWEEP_SETTINGS settings = kWindows10;
    settings.preVista = r.preVista;
    SeedOlderInstallation();
    Add("oem12.inf");
    Add("oem7.inf");
    if (r.error == 0)
        machine().hasSetupUninstallOEMInf = false;
    else
        FailCallOn("SetupUninstallOEMInfW", u"oem7.inf", r.error);
    machine().pnputilExit = r.pnputilExit;
    if (r.lookup == ERROR_PROC_NOT_FOUND)
        FailCallOn("GetProcAddress", u"SetupGetInfDriverStoreLocationW", r.lookup);
    else if (r.lookup != 0)
        FailCallFrom("SetupGetInfDriverStoreLocationW", r.lookup);
    const size_t goes = !r.refused ? 2 : r.error != 0 ? 1 : 0; /* oem12 first */
    Strings gone{"oem12.inf", "oem7.inf"};
    Strings folders{"qx_dsp_usb.inf_amd64_d4", "qx_dsp_usb.inf_x86_b2"};
    gone.resize(goes), folders.resize(goes);
    if (r.lookup == 0 || !r.refused)
        folders.push_back("qx_dsp_usb.inf");
    const Snapshot before = TakeSnapshot();
    SWEEP_REPORT report = {};
    RemovalSweep(&settings, &report);
    EXPECT_EQ(TakeSnapshot(), Without(before, TargetsOf(gone, folders)));
    if (r.error == ERROR_IN_WOW64)
        EXPECT_EQ(report.refusalError, r.pnputilExit);
    EXPECT_EQ(CallsOf("SetupGetInfDriverStoreLocationW").empty(),
              r.preVista || r.lookup == ERROR_PROC_NOT_FOUND);
}

INSTANTIATE_TEST_SUITE_P(
    Sweep, SweepRefusal,
    ::testing::Values(REFUSAL{ERROR_ACCESS_DENIED, FALSE, 0, true},
                      REFUSAL{ERROR_IN_WOW64, FALSE, 0, false},
                      REFUSAL{ERROR_IN_WOW64, FALSE, 0, true, 1},
                      REFUSAL{0, FALSE, 0, true},
                      REFUSAL{ERROR_NOT_AN_INSTALLED_OEM_INF, FALSE, 0, false},
                      REFUSAL{ERROR_FILE_NOT_FOUND, FALSE, 0, false},
                      /* Wine 8's lookup is not implemented. */
                      REFUSAL{ERROR_ACCESS_DENIED, FALSE,
                              ERROR_CALL_NOT_IMPLEMENTED, true},
                      REFUSAL{ERROR_ACCESS_DENIED, FALSE, ERROR_PROC_NOT_FOUND,
                              true},
                      REFUSAL{ERROR_NOT_AN_INSTALLED_OEM_INF, FALSE,
                              ERROR_CALL_NOT_IMPLEMENTED, false},
                      REFUSAL{ERROR_ACCESS_DENIED, TRUE, 0, false},
                      REFUSAL{0, TRUE, 0, false}));

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
    RunSweep(&kWindows10);
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
    machine().driverStore[W(Upper(entry240 + ".inf"))] = u"qx_dsp_usb.inf_x";
    RunSweep(&kWindows10);
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
    RunSweep(&kWindows10);
    EXPECT_TRUE(FileExists(u"C:\\Windows\\INF\\ab"));
    for (auto &c : CallsOf("SHFileOperationW"))
        EXPECT_EQ(c.object.find("C:\\Windows\\INF"), std::string::npos);
}

/* ---- earlier device instances through Configuration Manager ---- */

namespace {

const std::string kInstances = "SYSTEM\\CurrentControlSet\\" + kDevice;
const std::string kDeviceId = "USB\\VID_3C7E&PID_51B8\\";

/* The instances Configuration Manager was asked to locate normally, and
 * those it uninstalled, in order. */
Strings Located(const std::string &flags)
{
    Strings out;
    for (auto &c : CallsOf("CM_Locate_DevNodeW"))
        if (c.detail == "flags=" + flags)
            out.push_back(c.object);
    return out;
}

Strings Uninstalled()
{
    Strings out;
    for (auto &c : CallsOf("CM_Uninstall_DevNode"))
        out.push_back(c.object);
    return out;
}

size_t IndexOf(const Strings &names, const std::string &fn, bool last = false)
{
    size_t found = names.size();
    for (size_t i = 0; i < names.size(); i++) {
        if (names[i] == fn) {
            found = i;
            if (!last)
                break;
        }
    }
    return found;
}

} // namespace

/* Windows refuses the Enum keys' deletion to an administrator: the rows
 * leave every instance's keys (emptied), and only Configuration Manager
 * removes the phantoms.  The one plugged in is not uninstalled. */
TEST_F(Sweep, UninstallsPhantomInstancesAndLeavesTheOnePluggedIn)
{
    machine().enumSystemOnly = true;
    SeedOlderInstallation(); /* instance 5&1a2b3c&0&1 in every set */
    SeedValue(W(kInstances + "\\5&1a2b3c&0&2"), u"Service", u"libusb0");
    SeedValue(W(kInstances + "\\5&1a2b3c&0&3"), u"Service", u"libusbDspQx");
    machine().presentDevices.insert(W(kDeviceId + "5&1a2b3c&0&3"));
    EXPECT_TRUE(RunSweep(&kWindows10));

    EXPECT_EQ(FindKey(W(kInstances + "\\5&1a2b3c&0&1")), nullptr);
    EXPECT_EQ(FindKey(W(kInstances + "\\5&1a2b3c&0&2")), nullptr);
    EXPECT_NE(FindKey(W(kInstances + "\\5&1a2b3c&0&3")), nullptr);
    EXPECT_EQ(Uninstalled(), (Strings{kDeviceId + "5&1a2b3c&0&1",
                                      kDeviceId + "5&1a2b3c&0&2"}));
    /* Each instance once, whatever the control sets and views show. */
    EXPECT_EQ(Located("0x0"), (Strings{kDeviceId + "5&1a2b3c&0&1",
                                       kDeviceId + "5&1a2b3c&0&2",
                                       kDeviceId + "5&1a2b3c&0&3"}));
    /* What the rows alone achieve on Windows: ControlSet002, which
     * Configuration Manager does not keep, still holds its copy. */
    EXPECT_NE(FindKey(W("SYSTEM\\ControlSet002\\" + kDevice +
                        "\\5&1a2b3c&0&1")),
              nullptr);
}

/* After the privilege sequence and every Setup uninstall made before
 * the store search, and before that search. */
TEST_F(Sweep, UninstallsInstancesBeforeTheDriverStoreSearch)
{
    SeedOlderInstallation();
    Add("oem12.inf");
    RunSweep(&kWindows10);
    const Strings names = CallNames();
    const size_t firstUninstall = IndexOf(names, "CM_Uninstall_DevNode");
    const size_t lastLookup = IndexOf(names, "CM_Locate_DevNodeW", true);
    const size_t search = IndexOf(names, "FindFirstFileW");
    ASSERT_LT(firstUninstall, names.size());
    EXPECT_LT(IndexOf(names, "AdjustTokenPrivileges", true),
              IndexOf(names, "CM_Locate_DevNodeW"));
    EXPECT_LT(lastLookup, search);
    EXPECT_LT(IndexOf(names, "CM_Uninstall_DevNode", true), search);
    for (size_t i = 0; i < search; i++)
        if (names[i] == "SetupUninstallOEMInfW")
            EXPECT_LT(i, firstUninstall) << "Setup uninstall at call " << i;
}

/* At most 64 instances; an instance whose ID would not fit
 * MAX_DEVICE_ID_LEN units is skipped, never cut short. */
TEST_F(Sweep, HandsAtMost64InstancesThatFitAnIdToConfigManager)
{
    /* 22 units of prefix: a name of 177 units is the longest that fits. */
    const std::string fits(177, 'f'), tooLong(178, 't');
    SeedKey(W(kInstances + "\\" + tooLong));
    SeedKey(W(kInstances + "\\" + fits));
    for (int i = 0; i < 70; i++)
        SeedKey(W(kInstances + "\\" + std::to_string(100 + i)));
    RunSweep(&kWindows10);
    const Strings located = Located("0x0");
    ASSERT_EQ(located.size(), 64u);
    EXPECT_EQ(located.front(), kDeviceId + "100");
    EXPECT_EQ(std::count(located.begin(), located.end(), kDeviceId + fits), 0);
    for (auto &id : located)
        EXPECT_LT(id.size(), size_t{MAX_DEVICE_ID_LEN});
    EXPECT_EQ(Uninstalled().size(), 64u);
}

/* A listing that fails ends that key's listing in that view only. */
TEST_F(Sweep, GoesOnWithTheNextViewAndKeyWhenAListingFails)
{
    SeedKey(W(kInstances + "\\a"));
    SeedKey(W("SYSTEM\\ControlSet002\\" + kDevice + "\\b"));
    FailCall("RegEnumKeyW", ERROR_KEY_DELETED);
    RunSweep(&kWindows10);
    const std::vector<CallRecord> lists = CallsOf("RegEnumKeyW");
    ASSERT_FALSE(lists.empty());
    EXPECT_EQ(lists[0].view, "32");
    EXPECT_EQ(lists[1].view, "64");
    EXPECT_EQ(lists[1].detail, "0");
    EXPECT_EQ(Located("0x0"), (Strings{kDeviceId + "a", kDeviceId + "b"}));
}

/* ---- libusb0 while another device uses it ---- */

namespace {

Strings SweepDeletionsOf(bool libusb0Shared)
{
    Reset();
    g_Candidates = CANDIDATE_LIST{};
    g_SystemDlls = SYSTEM_DLL_TABLE{};
    SeedOlderInstallation();
    Add("oem12.inf");
    if (libusb0Shared)
        SeedValue(u"SYSTEM\\CurrentControlSet\\Enum\\USB\\VID_16C0&PID_05DC\\"
                  u"5&2f&0&3",
                  u"Service", u"libusb0");
    RunSweep(&kWindows10);
    return Deletions();
}

} // namespace

/* Rows 1-15, 17, 19 and 21 (files, lockdown keys and values, services)
 * are left out, and nothing else changes. */
TEST_F(Sweep, LeavesLibusb0AloneWhileAnotherDeviceUsesIt)
{
    const Strings alone = SweepDeletionsOf(false);
    const Strings shared = SweepDeletionsOf(true);
    Strings withoutLibusb0;
    for (auto &d : alone)
        if (d.find("libusb0") == std::string::npos)
            withoutLibusb0.push_back(d);
    for (const std::string fn :
         {"SHFileOperationW", "RegDeleteKeyExW", "RegDeleteValueW"})
        EXPECT_TRUE(std::any_of(alone.begin(), alone.end(),
                                [&](const std::string &d) {
                                    return d.rfind(fn, 0) == 0 &&
                                           d.find("libusb0") !=
                                               std::string::npos;
                                }))
            << fn;
    EXPECT_EQ(shared, withoutLibusb0);
    EXPECT_TRUE(FileExists(u"C:\\Windows\\System32\\drivers\\libusb0.sys"));
    EXPECT_NE(FindKey(u"SYSTEM\\ControlSet002\\Services\\libusb0"), nullptr);
    EXPECT_NE(FindValue(W(kLockdown), u"%SystemPath%\\syswow64\\libusb0.dll"),
              nullptr);
    EXPECT_EQ(FindKey(u"SYSTEM\\ControlSet002\\Services\\libusbDspQx"),
              nullptr);
    EXPECT_EQ(FindKey(W("SYSTEM\\ControlSet002\\" + kDevice)), nullptr);
    EXPECT_FALSE(FileExists(u"C:\\Windows\\INF\\oem12.inf"));
}

/* The decision reads before the first deletion by hand. */
TEST_F(Sweep, DecidesWhetherLibusb0IsSharedBeforeTheDriverStoreSearch)
{
    RunSweep(&kWindows10);
    const Strings names = CallNames();
    size_t lastRead = 0;
    for (size_t i = 0; i < machine().calls.size(); i++)
        if (machine().calls[i].object.rfind(
                "SYSTEM\\CurrentControlSet\\Control\\Class", 0) == 0)
            lastRead = i;
    EXPECT_GT(lastRead, 0u);
    EXPECT_LT(lastRead, IndexOf(names, "FindFirstFileW"));
}
