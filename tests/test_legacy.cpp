#include "fixture.h"

#include <cctype>
#include <map>

using winhost::CallsOf;
using winhost::machine;

namespace {

const u16 kClassKey =
    u"SYSTEM\\ControlSet001\\Control\\Class\\"
    u"{eb781aaf-9c70-4523-a5df-642a87eca567}";
const u16 kEnumKey = u"SYSTEM\\ControlSet001\\Enum\\USB\\VID_3C7E&PID_51B8";
const u16 kRestart = u"Driver has been updated, you must restart PC before "
                     u"insert Usb Cable!!!";

/* An installed copy of a package INF: UTF-16LE, over 1600 bytes, with the
 * three package markers near its start. */
std::string InstalledInf(bool mentionsLibusb0)
{
    u16 text = u"\uFEFF; QX_DSP_USB.inf\r\n[Version]\r\nProvider=QUORVANTIX\r\n"
               u"[Devices]\r\n%Dev%=Install, USB\\VID_3C7E&PID_51B8\r\n";
    if (mentionsLibusb0)
        text += u"[Files]\r\nlibusb0.sys\r\n";
    while (text.size() < 1000)
        text += u"; padding\r\n";
    return winhost::Utf16Le(text);
}

/* What an older installation leaves on a 64-bit Windows 10 machine. */
void SeedOlderInstallation()
{
    winhost::SeedValue(kClassKey + u"\\0000", u"DriverDesc", u"QX DSP USB");
    winhost::SeedValue(kClassKey + u"\\0000", u"InfPath", u"oem12.inf");
    winhost::SeedValue(kEnumKey + u"\\5&1a2b", u"DeviceDesc",
                       u"@oem12.inf,%qxdsp%;QX DSP USB");
    winhost::SeedValue(u"SYSTEM\\ControlSet001\\Services\\libusb0", u"Start",
                       u"3");
    winhost::SeedKey(u"SYSTEM\\ControlSet001\\Services\\libusbDspQx\\Enum");
    winhost::SeedFile(u"C:\\Windows\\INF\\oem12.inf", InstalledInf(true));
    winhost::SeedFile(u"C:\\Windows\\INF\\oem12.PNF", "pnf");
    winhost::SeedFile(u"C:\\Windows\\System32\\drivers\\libusb0.sys", "sys");
    winhost::SeedFile(u"C:\\Windows\\syswow64\\libusb0.dll", "dll");
    winhost::SeedFile(u"C:\\Windows\\System32\\DriverStore\\FileRepository\\"
                      u"qx_dsp_usb.inf_amd64_1f2e\\QX_DSP_USB.inf",
                      "inf");
    machine().driverStore[u"OEM12.INF"] = u"qx_dsp_usb.inf_amd64_1f2e";
    winhost::SeedValue(u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Setup\\"
                       u"PnpLockdownFiles",
                       u"%SystemPath%\\system32\\drivers\\libusb0.sys", u"x");
}

/* Files and values that only look like the older installation's. */
void SeedLookAlikes()
{
    winhost::SeedFile(u"C:\\Windows\\INF\\oem3.inf", "other driver");
    winhost::SeedFile(u"C:\\Windows\\System32\\DriverStore\\FileRepository\\"
                      u"QX_DSP_USB.INF_amd64_a1\\x.inf",
                      "case differs");
    winhost::SeedValue(u"SYSTEM\\ControlSet001\\Services\\libusbK", u"Start",
                       u"3");
    winhost::SeedValue(u"SYSTEM\\ControlSet001\\Enum\\USB\\VID_3C7E&PID_51B9",
                       u"DeviceDesc", u"@oem3.inf,%x%");
}

void StageOlderPackage(const u16 &area, const FILE_SET &set)
{
    for (LPCWSTR name : set.names)
        winhost::SeedFile(kStaging + area + name, "older");
}

std::vector<u16> BoxTexts()
{
    std::vector<u16> texts;
    for (auto &b : machine().boxes)
        texts.push_back(b.text);
    return texts;
}

/* Everything that changes the machine. */
size_t ChangingCalls()
{
    size_t n = 0;
    for (const char *fn : {"SHFileOperationW", "SHCreateDirectoryExW",
                           "CopyFileW", "SetupCopyOEMInfW",
                           "SetupUninstallOEMInfW", "RegDeleteKeyW",
                           "RegDeleteKeyExW", "RegDeleteValueW"})
        n += CallsOf(fn).size();
    return n;
}

/* The registry rows of the sweep ran: the enumeration key, libusb0's
 * service and its lockdown entry are gone. */
void ExpectRegistryRowsRan()
{
    EXPECT_EQ(winhost::FindKey(kEnumKey), nullptr);
    EXPECT_EQ(winhost::FindKey(u"SYSTEM\\ControlSet001\\Services\\libusb0"),
              nullptr);
    EXPECT_EQ(winhost::FindValue(
                  u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Setup\\"
                  u"PnpLockdownFiles",
                  u"%SystemPath%\\system32\\drivers\\libusb0.sys"),
              nullptr);
}

} // namespace

class Legacy : public MachineTest {
protected:
    void SetUp() override
    {
        MachineTest::SetUp();
        SeedPackage(kPackage);
    }
};

TEST_F(Legacy, OnXpAnOlderStagedPackageEndsWithSuccessAndChangesNothing)
{
    machine().osMajor = 5;
    StageOlderPackage(u"amd64\\", g_LegacySet);
    auto filesBefore = machine().files.size();
    EXPECT_EQ(InstallerRun(nullptr), 0);
    EXPECT_EQ(BoxTexts(), std::vector<u16>{u"Driver Install Success!"});
    /* Nothing but the run lock, whose folder was there. */
    EXPECT_EQ(ChangingCalls(), 1u);
    EXPECT_EQ(machine().files.size(), filesBefore + 1);
    EXPECT_TRUE(winhost::FileExists(kStaging + u"..\\QxDspInstaller.lock"));
    EXPECT_FALSE(g_Run.legacyDriver);
    /* Nothing was looked for either. */
    EXPECT_TRUE(CallsOf("RegOpenKeyExW").empty());
    EXPECT_TRUE(CallsOf("MsgWaitForMultipleObjects").empty());
}

TEST_F(Legacy, AllThreeOlderPackageTestsAreMadeAndTheX86OneCounts)
{
    machine().osMajor = 5;
    StageOlderPackage(u"x86\\", g_LegacyX86Set);
    EXPECT_EQ(InstallerRun(nullptr), 0);
    EXPECT_EQ(BoxTexts(), std::vector<u16>{u"Driver Install Success!"});
    std::vector<u16> probed;
    for (auto &c : CallsOf("GetFileAttributesExW"))
        probed.push_back(winhost::FromUtf8(c.object));
    ASSERT_GE(probed.size(), 4u);
    EXPECT_EQ(probed[0], kStaging + u"amd64\\libusb0.dll");
    EXPECT_EQ(probed[1], kStaging + u"ia64\\libusb0.dll");
    EXPECT_EQ(probed[2], kStaging + u"x86\\libusb0.sys");
    EXPECT_EQ(probed[3], kStaging + u"x86\\libusb0_x86.dll");
}

TEST_F(Legacy, OnXpAHalfStagedOlderPackageGoesOnToDiscoveryAndStaging)
{
    machine().osMajor = 5;
    for (const u16 area : {u"amd64\\", u"ia64\\"})
        winhost::SeedFile(kStaging + area + u"libusb0.dll", "older");
    EXPECT_EQ(InstallerRun(nullptr), 0);
    EXPECT_FALSE(CallsOf("RegOpenKeyExW").empty());
    EXPECT_FALSE(CallsOf("FindFirstFileW").empty());
    EXPECT_FALSE(g_Run.legacyDriver);
    /* No sweep without the flag: nothing below the INF folder is named. */
    for (auto &c : CallsOf("SHFileOperationW"))
        EXPECT_EQ(winhost::FromUtf8(c.object), kStaging);
    EXPECT_EQ(BoxTexts(), std::vector<u16>{u"Driver Install Success!"});
}

TEST_F(Legacy, OnWindows10AnIdenticalStagedPackageIsStillSweptAndRefreshed)
{
    for (const char16_t *name : kPackageFiles) {
        const auto *src = winhost::FindFile(kPackage + name);
        winhost::SeedFile(kStaging + name, src->content, src->lastWrite);
    }
    winhost::SeedFile(kStaging + u"leftover.txt", "x");
    EXPECT_EQ(InstallerRun(nullptr), kRestartExit);
    EXPECT_TRUE(g_Run.legacyDriver);
    EXPECT_FALSE(winhost::FileExists(kStaging + u"leftover.txt"));
    EXPECT_TRUE(winhost::FileExists(kStaging + u"x86\\libusbDspQx_x86.dll"));
    EXPECT_FALSE(CallsOf("RegDeleteKeyExW").empty());
    EXPECT_EQ(BoxTexts(), std::vector<u16>{kRestart});
}

TEST_F(Legacy, OnXpAnInstalledInfMentioningLibusb0IsSweptThenReportsSuccess)
{
    machine().osMajor = 5;
    winhost::SeedFile(u"C:\\Windows\\INF\\oem4.inf", InstalledInf(true));
    winhost::SeedFile(u"C:\\Windows\\INF\\oem4.PNF", "pnf");
    EXPECT_EQ(InstallerRun(nullptr), 0);
    EXPECT_TRUE(g_Run.legacyDriver);
    EXPECT_FALSE(winhost::FileExists(u"C:\\Windows\\INF\\oem4.inf"));
    EXPECT_FALSE(winhost::FileExists(u"C:\\Windows\\INF\\oem4.PNF"));
    EXPECT_EQ(BoxTexts(), std::vector<u16>{u"Driver Install Success!"});
}

TEST_F(Legacy, OnXpAnInstalledInfWithoutLibusb0LeavesTheFlagClear)
{
    machine().osMajor = 5;
    winhost::SeedFile(u"C:\\Windows\\INF\\oem4.inf", InstalledInf(false));
    EXPECT_EQ(InstallerRun(nullptr), 0);
    EXPECT_FALSE(g_Run.legacyDriver);
    EXPECT_TRUE(winhost::FileExists(u"C:\\Windows\\INF\\oem4.inf"));
}

TEST_F(Legacy, PrivilegesRunTwiceBeforeDiscoveryWhichRunsInItsFixedOrder)
{
    /* The top keys of the scans, by label; deeper opens are the walks'. */
    std::map<std::string, std::string> tops;
    for (const char *set : {"ControlSet001", "ControlSet002",
                            "CurrentControlSet"}) {
        tops[std::string("SYSTEM\\") + set +
             "\\Control\\Class\\{eb781aaf-9c70-4523-a5df-642a87eca567}"] =
            std::string("class ") + set;
        tops[std::string("SYSTEM\\") + set + "\\Enum\\USB\\VID_3C7E&PID_51B8"] =
            std::string("enum ") + set;
    }
    InstallerRun(nullptr);
    std::vector<std::string> order;
    for (auto &c : machine().calls) {
        if (c.fn == "AdjustTokenPrivileges")
            order.push_back("privilege " + c.object);
        if (c.fn == "RegOpenKeyExW" && tops.count(c.object))
            order.push_back(tops[c.object] + " " + c.view);
        if (c.fn == "FindFirstFileW")
            order.push_back("find " + c.object);
    }
    std::vector<std::string> expected = {
        "privilege SeBackupPrivilege", "privilege SeRestorePrivilege",
        "privilege SeDebugPrivilege",  "privilege SeBackupPrivilege",
        "privilege SeRestorePrivilege", "privilege SeDebugPrivilege",
        "class ControlSet001 32", "class ControlSet001 64",
        "class ControlSet002 32", "class ControlSet002 64",
        "class CurrentControlSet 32", "class CurrentControlSet 64",
        "enum ControlSet001 32", "enum ControlSet001 64",
        "enum ControlSet002 32", "enum ControlSet002 64",
        "enum CurrentControlSet 32", "enum CurrentControlSet 64",
        "find C:\\Windows\\INF\\*.*",
        /* The sweep enables the privileges once more. */
        "privilege SeBackupPrivilege", "privilege SeRestorePrivilege",
        "privilege SeDebugPrivilege"};
    order.resize(std::min(order.size(), expected.size()));
    EXPECT_EQ(order, expected);
}

TEST_F(Legacy, WithoutTheBackupPrivilegeRestoreAndDebugAreNotTried)
{
    machine().heldPrivileges.erase(u"SeBackupPrivilege");
    InstallerRun(nullptr);
    for (auto &c : CallsOf("AdjustTokenPrivileges"))
        EXPECT_EQ(c.object, "SeBackupPrivilege");
    EXPECT_EQ(CallsOf("AdjustTokenPrivileges").size(), 3u);
}

TEST_F(Legacy, AFullRunOnWindows10RemovesTheOlderInstallationAndNothingElse)
{
    SeedOlderInstallation();
    SeedLookAlikes();
    EXPECT_EQ(InstallerRun(nullptr), kRestartExit);
    EXPECT_EQ(g_Candidates.count, 1);
    EXPECT_EQ(u16(g_Candidates.entries[0]), u"oem12.inf");
    for (const char16_t *gone :
         {u"C:\\Windows\\INF\\oem12.inf", u"C:\\Windows\\INF\\oem12.PNF",
          u"C:\\Windows\\System32\\drivers\\libusb0.sys",
          u"C:\\Windows\\syswow64\\libusb0.dll",
          u"C:\\Windows\\System32\\DriverStore\\FileRepository\\"
          u"qx_dsp_usb.inf_amd64_1f2e"})
        EXPECT_FALSE(winhost::FileExists(gone)) << winhost::ToUtf8(gone);
    ExpectRegistryRowsRan();
    EXPECT_EQ(
        winhost::FindKey(u"SYSTEM\\ControlSet001\\Services\\libusbDspQx"),
        nullptr);
    /* The class key is only read. */
    EXPECT_NE(winhost::FindValue(kClassKey + u"\\0000", u"InfPath"), nullptr);
    EXPECT_TRUE(winhost::FileExists(u"C:\\Windows\\INF\\oem3.inf"));
    EXPECT_TRUE(winhost::FileExists(
        u"C:\\Windows\\System32\\DriverStore\\FileRepository\\"
        u"QX_DSP_USB.INF_amd64_a1\\x.inf"));
    EXPECT_NE(winhost::FindKey(u"SYSTEM\\ControlSet001\\Services\\libusbK"),
              nullptr);
    EXPECT_NE(
        winhost::FindKey(u"SYSTEM\\ControlSet001\\Enum\\USB\\VID_3C7E&PID_51B9"),
        nullptr);
    EXPECT_TRUE(winhost::FileExists(kStaging + u"QX_DSP_USB.inf"));
    EXPECT_EQ(BoxTexts(), std::vector<u16>{kRestart});
    EXPECT_EQ(winhost::OpenHandleCount(), 0);
    EXPECT_EQ(machine().loadedLibraries, (int)g_SystemDlls.count);
}

/* Calls whose object lies under C:\Windows, any case. */
/* Calls naming a path under C:\Windows; the DLL loads are left out, as
 * they name the folder GetSystemDirectoryW reports. */
std::vector<std::string> CallsUnderCWindows()
{
    std::vector<std::string> out;
    for (auto &c : machine().calls) {
        if (c.fn == "LoadLibraryExW")
            continue;
        std::string upper = c.object;
        for (auto &ch : upper)
            ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
        if (upper.rfind("C:\\WINDOWS\\", 0) == 0)
            out.push_back(c.fn + " " + c.object);
    }
    return out;
}

/* Where Windows lives elsewhere, C:\Windows is anyone's folder: what an
 * older installation seems to have left there is neither read nor
 * deleted, while the registry rows and Setup's uninstall of the names
 * the registry gave still run. */
TEST_F(Legacy, WithWindowsElsewhereNothingUnderCWindowsIsTouched)
{
    machine().windowsFolder = u"D:\\WINNT";
    machine().systemFolder = u"D:\\WINNT\\System32";
    SeedOlderInstallation();
    winhost::SeedFile(u"D:\\WINNT\\INF\\oem12.inf", InstalledInf(true));
    const auto filesBefore = machine().files;
    EXPECT_EQ(InstallerRun(nullptr), kRestartExit);
    EXPECT_EQ(CallsUnderCWindows(), std::vector<std::string>{});
    for (auto &[key, entry] : filesBefore)
        if (winhost::ToUtf8(key).rfind("C:\\WINDOWS\\", 0) == 0)
            EXPECT_TRUE(winhost::FileExists(entry.path))
                << winhost::ToUtf8(entry.path);
    ExpectRegistryRowsRan();
    ASSERT_EQ(CallsOf("SetupUninstallOEMInfW").size(), 1u);
    EXPECT_EQ(CallsOf("SetupUninstallOEMInfW")[0].object, "oem12.inf");
    EXPECT_FALSE(winhost::FileExists(u"D:\\WINNT\\INF\\oem12.inf"));
    EXPECT_EQ(BoxTexts(), std::vector<u16>{kRestart});
}

TEST_F(Legacy, AWindowsFolderThatCannotBeReadCountsAsElsewhere)
{
    SeedOlderInstallation();
    winhost::FailCall("GetSystemWindowsDirectoryW", ERROR_NOT_ENOUGH_MEMORY);
    EXPECT_EQ(InstallerRun(nullptr), kRestartExit);
    EXPECT_EQ(CallsUnderCWindows(), std::vector<std::string>{});
    EXPECT_TRUE(winhost::FileExists(u"C:\\Windows\\System32\\drivers\\libusb0.sys"));
    EXPECT_EQ(winhost::FindKey(kEnumKey), nullptr);
}

TEST_F(Legacy, CWindowsInAnyAsciiCaseIsWhereTheFixedPathsPoint)
{
    machine().windowsFolder = u"c:\\WINDOWS";
    SeedOlderInstallation();
    EXPECT_EQ(InstallerRun(nullptr), kRestartExit);
    EXPECT_FALSE(winhost::FileExists(u"C:\\Windows\\INF\\oem12.inf"));
    EXPECT_FALSE(winhost::FileExists(u"C:\\Windows\\System32\\drivers\\libusb0.sys"));
    ASSERT_FALSE(CallsOf("GetSystemWindowsDirectoryW").empty());
    EXPECT_EQ(CallsOf("GetSystemWindowsDirectoryW")[0].detail, "260");
}
