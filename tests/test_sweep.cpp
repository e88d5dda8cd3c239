#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>

#include "discovery/candidates.h"
#include "host/machine.h"
#include "removal/sweep.h"

using namespace winhost;

namespace {

using Strings = std::vector<std::string>;
using Snapshot = std::map<std::string, std::string>;

const std::string kStore = "C:\\Windows\\System32\\DriverStore\\FileRepository";
const std::string kLockdown =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Setup\\PnpLockdownFiles";
const std::string kLockdown32 =
    "SOFTWARE\\WOW6432Node\\Microsoft\\Windows\\CurrentVersion\\Setup\\"
    "PnpLockdownFiles";
const std::string kDevice = "Enum\\USB\\VID_3C7E&PID_51B8";
const char *const kControlSets[] = {"ControlSet001", "ControlSet002",
                                    "CurrentControlSet"};
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

u16 W(const std::string &s) { return FromUtf8(s); }

std::string Backslashes(std::string s)
{
    std::replace(s.begin(), s.end(), '/', '\\');
    return s;
}

std::string Upper(std::string s)
{
    for (auto &c : s)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

/* The old driver files of one driver name as PnpLockdownFiles names them
 * after "%SystemRoot%/" (sub-keys) or "%SystemPath%\" (values). */
Strings LockdownFiles(const std::string &driver)
{
    return {"system32/drivers/" + driver + ".sys",
            "system32/" + driver + ".dll", "syswow64/" + driver + ".dll"};
}

/* What the sweep deletes: files and keys with everything below them, and
 * values as "key path|value name". */
struct Targets {
    Strings files, keys, values;
};

Targets TargetsOf(const Strings &candidates, const Strings &storeFolders)
{
    Targets t;
    for (auto &f : storeFolders)
        t.files.push_back(kStore + "\\" + f);
    for (auto &f : {"System32\\drivers\\libusb0.sys", "System32\\libusb0.dll",
                    "syswow64\\libusb0.dll", "System32\\libusbDspQx.dll",
                    "syswow64\\libusbDspQx.dll"})
        t.files.push_back(std::string("C:\\Windows\\") + f);
    for (auto &c : candidates) {
        t.files.push_back("C:\\Windows\\INF\\" + c);
        t.files.push_back("C:\\Windows\\INF\\" + c.substr(0, c.size() - 3) +
                          "PNF");
    }
    for (auto &driver : {"libusb0", "libusbDspQx"}) {
        for (auto &tree : {kLockdown, kLockdown32})
            for (auto &f : LockdownFiles(driver)) {
                t.keys.push_back(tree + "\\%SystemRoot%/" + f);
                t.values.push_back(tree + "|%SystemPath%\\" + Backslashes(f));
            }
        for (auto &set : kControlSets) {
            t.keys.push_back(std::string("SYSTEM\\") + set + "\\" + kDevice);
            t.keys.push_back(std::string("SYSTEM\\") + set + "\\Services\\" +
                             driver);
        }
    }
    return t;
}

/* Paths ignore case, in the file system and in the registry. */
bool Below(const std::string &path, const Strings &roots)
{
    const std::string p = Upper(path);
    for (auto &r : roots)
        if (p == Upper(r) || p.rfind(Upper(r) + "\\", 0) == 0)
            return true;
    return false;
}

std::string Time(const FILETIME &t)
{
    return std::to_string(t.dwHighDateTime) + "." +
           std::to_string(t.dwLowDateTime);
}

void SnapshotKey(const RegKey &key, const std::string &path, Snapshot &out)
{
    out["K " + path] = ToUtf8(key.name);
    for (auto &v : key.values)
        out["V " + path + "|" + ToUtf8(v.name)] =
            std::to_string(v.type) + ":" + v.data;
    for (auto &s : key.subkeys)
        SnapshotKey(*s.second,
                    (path.empty() ? "" : path + "\\") + ToUtf8(s.second->name),
                    out);
}

/* Every file and folder, key and value, with all it holds. */
Snapshot TakeSnapshot()
{
    Snapshot out;
    for (auto &f : machine().files) {
        const FileEntry &e = f.second;
        out["F " + ToUtf8(e.path)] = std::string(e.dir ? "dir " : "file ") +
                                     e.content + " " +
                                     std::to_string(e.attributes) + " " +
                                     Time(e.creation) + " " + Time(e.lastWrite);
    }
    SnapshotKey(machine().hklm, "", out);
    return out;
}

Snapshot Without(const Snapshot &before, const Targets &t)
{
    Snapshot out;
    for (auto &[what, state] : before) {
        const std::string path = what.substr(2);
        const std::string key = path.substr(0, path.find('|'));
        bool target = what[0] == 'F'   ? Below(path, t.files)
                      : what[0] == 'K' ? Below(path, t.keys)
                                       : Below(key, t.keys) ||
                                             std::count(t.values.begin(),
                                                        t.values.end(), path);
        if (!target)
            out[what] = state;
    }
    return out;
}

void SeedKeyTree(const std::string &path)
{
    SeedValue(W(path), u"", u"default");
    SeedValue(W(path), u"Type", u"1");
    SeedValue(W(path + "\\5&1a2b3c&0&1"), u"DeviceDesc", u"QX DSP USB");
    SeedValue(W(path + "\\5&1a2b3c&0&1\\Device Parameters"), u"p", u"1");
}

/* An older installation, both drivers, and look-alikes of every target. */
void SeedOlderInstallation()
{
    /* Folder names ignore case: QX_DSP_USB.INF_amd64_a1 has no lower-case
     * twin beside it. */
    for (auto &f :
         {"qx_dsp_usb.inf_amd64_d4", "qx_dsp_usb.inf_x86_b2", "qx_dsp_usb.inf",
          "QX_DSP_USB.INF_amd64_a1", "qx_dsp_usb.in", "other_usb.inf_x86_c3"}) {
        SeedFile(W(kStore + "\\" + f + "\\qx_dsp_usb.inf"), f);
        SeedFile(W(kStore + "\\" + f + "\\amd64\\libusbDspQx.sys"), "sys");
    }
    SeedFile(W(kStore + "\\qx_dsp_usb.inf_old"), "plain file");
    for (auto &f :
         {"System32\\drivers\\libusb0.sys", "System32\\libusb0.dll",
          "syswow64\\libusb0.dll", "System32\\libusbDspQx.dll",
          "syswow64\\libusbDspQx.dll", "System32\\drivers\\libusbDspQx.sys",
          "System32\\libusbDspQx.sys", "System32\\drivers\\libusb0.sys.bak",
          "System32\\drivers\\usbhub.sys", "System32\\libusb0x.dll",
          "INF\\oem12.inf", "INF\\oem12.PNF", "INF\\oem7.inf", "INF\\oem7.PNF",
          "INF\\oem1.inf", "INF\\oem1.PNF", "INF\\oem120.inf", "INF\\oem7.infx",
          "INF\\usb.inf"})
        SeedFile(W(std::string("C:\\Windows\\") + f), f);
    for (auto &tree : {kLockdown, kLockdown32}) {
        SeedValue(W(tree), u"", u"default");
        for (auto &driver : {"libusb0", "libusbDspQx", "usbhub", "libusb0.sys"})
            for (auto &f : LockdownFiles(driver)) {
                SeedValue(W(tree + "\\%SystemRoot%/" + f), u"Class", u"Driver");
                SeedValue(W(tree), W("%SystemPath%\\" + Backslashes(f)), u"1");
            }
    }
    for (auto &set : {"ControlSet001", "ControlSet002", "CurrentControlSet",
                      "ControlSet003"}) {
        std::string root = std::string("SYSTEM\\") + set + "\\";
        for (auto &k :
             {"Services\\libusb0", "Services\\libusbDspQx",
              "Services\\libusb0x", "Services\\libusbK",
              "Services\\libusbDspQxFilter", "Services\\usbhub",
              "Enum\\USB\\VID_3C7E&PID_51B8", "Enum\\USB\\VID_3C7E&PID_51B9",
              "Enum\\USB\\VID_3C7E&PID_51B8&MI_00", "Enum\\USB\\ROOT_HUB30"})
            SeedKeyTree(root + k);
    }
    SeedValue(u"SOFTWARE\\Quorvantix\\DriverQxDsp", u"Path", u"C:\\x");
}

Strings Deletions()
{
    Strings out;
    for (auto &c : machine().calls) {
        if (c.fn == "SHFileOperationW" || c.fn == "RegDeleteKeyExW")
            out.push_back(c.fn + " " + c.object + " " + c.view);
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
    EXPECT_TRUE(RemovalSweep());
    EXPECT_EQ(TakeSnapshot(), Without(before, targets));
}

TEST_F(Sweep, AppliesEveryRowInOrderEachRegistryRow32BitViewFirst)
{
    SeedKey(W(kLockdown));
    SeedKey(W(kLockdown32));
    SeedFolder(W(kStore + "\\qx_dsp_usb.inf_amd64_a1"));
    Add("oem12.inf");
    Add("oem7.inf");
    RemovalSweep();

    Strings want = {"SHFileOperationW " + kStore +
                    "\\qx_dsp_usb.inf_amd64_a1 "};
    auto path = [&](const std::string &p) {
        want.push_back("SHFileOperationW " + p + " ");
    };
    path("C:\\Windows\\System32\\drivers\\libusb0.sys");
    path("C:\\Windows\\System32\\libusb0.dll");
    path("C:\\Windows\\syswow64\\libusb0.dll");
    for (auto &f : {"oem12.inf", "oem12.PNF", "oem7.inf", "oem7.PNF"})
        path(std::string("C:\\Windows\\INF\\") + f);
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
    EXPECT_TRUE(RemovalSweep());
    const Strings names = CallNames();
    EXPECT_LT(std::find(names.begin(), names.end(), "AdjustTokenPrivileges"),
              std::find(names.begin(), names.end(), "FindFirstFileW"));
    EXPECT_EQ(CallsOf("AdjustTokenPrivileges").size(), 1u);
    EXPECT_FALSE(FileExists(u"C:\\Windows\\System32\\libusb0.dll"));
}

TEST_F(Sweep, GoesOnPastTargetsThatStay)
{
    SeedOlderInstallation();
    FindFile(u"C:\\Windows\\System32\\drivers\\libusb0.sys")->heldOpen = true;
    SeedKey(u"SYSTEM\\ControlSet001\\Services\\libusb0").refuseDelete = true;
    FailCall("FindFirstFileW", ERROR_ACCESS_DENIED);
    EXPECT_TRUE(RemovalSweep());
    EXPECT_TRUE(FileExists(u"C:\\Windows\\System32\\drivers\\libusb0.sys"));
    EXPECT_NE(FindKey(u"SYSTEM\\ControlSet001\\Services\\libusb0"), nullptr);
    EXPECT_TRUE(FileExists(W(kStore + "\\qx_dsp_usb.inf_x86_b2")));
    EXPECT_FALSE(FileExists(u"C:\\Windows\\syswow64\\libusbDspQx.dll"));
    EXPECT_EQ(FindKey(u"SYSTEM\\CurrentControlSet\\Services\\libusbDspQx"),
              nullptr);
}

TEST_F(Sweep, ReplacesTheLastThreeUnitsOfAnEntryForItsPnfName)
{
    Add("oem3.INF");
    Add("oem4.txt");
    RemovalSweep();
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
    Add(entry240 + ".inf");
    Add(entry241 + ".inf");
    RemovalSweep();
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
    RemovalSweep();
    EXPECT_TRUE(FileExists(u"C:\\Windows\\INF\\ab"));
    for (auto &c : CallsOf("SHFileOperationW"))
        EXPECT_EQ(c.object.find("C:\\Windows\\INF"), std::string::npos);
}
