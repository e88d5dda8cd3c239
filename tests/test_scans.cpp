/* The three discovery scans and the legacy stage's sequence of them, run
 * against the stand-in machine. */
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "discovery/scans.h"
#include "tests/fixture.h"

namespace {

using winhost::CallsOf;
using winhost::FailCall;
using winhost::FailCallOn;
using winhost::machine;
using Names = std::vector<u16>;
using Strings = std::vector<std::string>;
using Values = std::vector<std::pair<u16, u16>>;

/* Seeded and failed by their real paths: in the stand-in, as on Windows,
 * CurrentControlSet is a link to ControlSet001. */
const u16 kClassKey = u"SYSTEM\\ControlSet001\\Control\\Class\\"
                      u"{eb781aaf-9c70-4523-a5df-642a87eca567}";
const u16 kUsbKey = u"SYSTEM\\ControlSet001\\Enum\\USB\\VID_3C7E&PID_51B8";
const u16 kInf = u"C:\\Windows\\INF\\";
const u16 kDesc = u"QX DSP USB";
const u16 kMarkers = u"; QX_DSP_USB.inf\r\nProvider=QUORVANTIX\r\n"
                     u"%Dev%=Install,USB\\VID_3C7E&PID_51B8\r\n";

Values Instance(const u16 &infPath)
{
    return {{u"DriverDesc", kDesc}, {u"InfPath", infPath}};
}

/* text as UTF-16LE, padded with spaces to cb bytes. */
std::string Inf(const u16 &text, size_t cb = 2000)
{
    return winhost::Utf16Le(text + u16((cb - 2 * text.size()) / 2, u' '));
}

class Scan : public MachineTest {
protected:
    void TearDown() override { EXPECT_EQ(winhost::OpenHandleCount(), 0); }

    /* Values are created, and so enumerate, in the order given. */
    static void Seed(const u16 &key, const Values &values)
    {
        winhost::SeedKey(key);
        for (const auto &v : values)
            winhost::SeedValue(key, v.first, v.second);
    }

    static Names Entries()
    {
        return Names(g_Candidates.entries,
                     g_Candidates.entries + g_Candidates.count);
    }

    /* What the scan offers from one instance key holding values. */
    Names ClassOffers(const Values &values)
    {
        Seed(kClassKey + u"\\0000", values);
        EXPECT_TRUE(ClassKeyScan(kClassKey.c_str(), KEY_WOW64_32KEY));
        return Entries();
    }
    Names UsbOffers(const Values &values)
    {
        Seed(kUsbKey + u"\\5&1", values);
        EXPECT_TRUE(UsbEnumScan(kUsbKey.c_str(), KEY_WOW64_32KEY));
        return Entries();
    }

    static Strings Objects(const std::string &fn)
    {
        Strings out;
        for (const auto &c : CallsOf(fn))
            out.push_back(c.object);
        return out;
    }

    BOOL legacy = FALSE;
};

/* ---- class-key scan ---- */

using ClassKeyScanTest = Scan;

TEST_F(ClassKeyScanTest, OffersAnInfPathThatFollowsAMatchingDriverDesc)
{
    EXPECT_EQ(ClassOffers(Instance(u"oem7.inf")), Names{u"oem7.inf"});
}

TEST_F(ClassKeyScanTest, IgnoresAnInfPathBeforeTheDriverDesc)
{
    EXPECT_EQ(ClassOffers({{u"InfPath", u"oem7.inf"}, {u"DriverDesc", kDesc}}),
              Names{});
}

TEST_F(ClassKeyScanTest, MatchesTheDriverDescByItsStartWithCase)
{
    Seed(kClassKey + u"\\0001",
         {{u"DriverDesc", u"qx dsp usb"}, {u"InfPath", u"oem2.inf"}});
    EXPECT_EQ(ClassOffers({{u"DriverDesc", u"QX DSP USB Audio"},
                           {u"InfPath", u"oem1.inf"}}),
              Names{u"oem1.inf"});
}

TEST_F(ClassKeyScanTest, TakesOneInfPathOfAtMost12UnitsAndThenEndsTheKey)
{
    Seed(kClassKey + u"\\0001", {{u"DriverDesc", kDesc},
                                 {u"InfPath", u"oem123456.inf"},
                                 {u"InfPath2", u"oem3.inf"}});
    EXPECT_EQ(ClassOffers({{u"DriverDesc", kDesc},
                           {u"InfPath", u"oem12345.inf"},
                           {u"InfPath2", u"oem2.inf"}}),
              Names{u"oem12345.inf"});
}

TEST_F(ClassKeyScanTest, NeverOffersAnInfPathThatIsNotAPlainFileName)
{
    const u16 paths[] = {u"..\\System32", u"*", u"a\\b", u"C:x", u"...", u"ab"};
    for (size_t i = 0; i < std::size(paths); i++)
        Seed(kClassKey + u"\\000" + u16(1, u'1' + i), Instance(paths[i]));
    EXPECT_EQ(ClassOffers({}), Names{});
}

/* The stand-in fills the data buffer with text that would latch the
 * description ("QX DSP USB@oem1.inf...") if anyone read it. */
TEST_F(ClassKeyScanTest, TreatsValueDataThatDidNotFitAsEmpty)
{
    const u16 tooLong(128, u'x'); /* 258 bytes with its terminator */
    Seed(kClassKey + u"\\0001",
         {{u"DriverDesc", tooLong}, {u"InfPath", u"oem1.inf"}});
    EXPECT_EQ(ClassOffers({{u"DriverDesc", kDesc},
                           {u"InfPath", tooLong},
                           {u"InfPath2", u"oem2.inf"}}),
              Names{u"oem2.inf"});
}

TEST_F(ClassKeyScanTest, PassesOverAValueNameTooLongForItsBuffer)
{
    EXPECT_EQ(ClassOffers({{u"DriverDesc" + u16(246, u'x'), kDesc},
                           {u"InfPath", u"oem1.inf"},
                           {u"DriverDesc" + u16(245, u'x'), kDesc},
                           {u"InfPath2", u"oem2.inf"}}),
              Names{u"oem2.inf"});
}

TEST_F(ClassKeyScanTest, WalksDepthFirstHighestIndexFirstInTheGivenView)
{
    Seed(kClassKey + u"\\0000\\Sub", Instance(u"oem1.inf"));
    Seed(kClassKey + u"\\0001", Instance(u"oem2.inf"));
    EXPECT_TRUE(ClassKeyScan(kClassKey.c_str(), KEY_WOW64_64KEY));
    EXPECT_EQ(Entries(), (Names{u"oem2.inf", u"oem1.inf"}));
    const std::string top = winhost::ToUtf8(kClassKey);
    EXPECT_EQ(Objects("RegOpenKeyExW"),
              (Strings{top, top + "\\0001", top + "\\0000",
                       top + "\\0000\\Sub"}));
    for (const auto &c : CallsOf("RegOpenKeyExW"))
        EXPECT_EQ(c.view + " " + c.detail, "64 options=0x4 sam=0x10B");
}

TEST_F(ClassKeyScanTest, PassesOverTheValuesOfAKeyThatHasSubKeys)
{
    Seed(kClassKey + u"\\0000\\Sub", Instance(u"oem2.inf"));
    EXPECT_EQ(ClassOffers(Instance(u"oem1.inf")), Names{u"oem2.inf"});
}

TEST_F(ClassKeyScanTest, SkipsASubKeyWhosePathWouldNotFit)
{
    /* 77 units of key path, a backslash and 200 units of name. */
    Seed(kClassKey + u"\\" + u16(200, u'x'), Instance(u"oem1.inf"));
    EXPECT_EQ(ClassOffers(Instance(u"oem2.inf")), Names{u"oem2.inf"});
    EXPECT_EQ(CallsOf("RegOpenKeyExW").size(), 2u);
}

TEST_F(ClassKeyScanTest, SkipsWhatItCannotOpenCountOrName)
{
    for (char16_t i = u'1'; i <= u'3'; i++)
        Seed(kClassKey + u"\\000" + i, Instance(u16(u"oem") + i + u".inf"));
    FailCallOn("RegOpenKeyExW", kClassKey + u"\\0003", ERROR_ACCESS_DENIED);
    FailCallOn("RegQueryInfoKeyW", kClassKey + u"\\0002", ERROR_ACCESS_DENIED);
    FailCall("RegEnumKeyW", ERROR_NO_MORE_ITEMS, 3); /* index 1 */
    EXPECT_EQ(ClassOffers(Instance(u"oem0.inf")), Names{u"oem0.inf"});
    EXPECT_EQ(CallsOf("RegCloseKey").size(), 3u); /* top, 0002, 0000 */
}

/* Windows' own INF files are never the device's: the key goes on as for
 * any refused name. */
TEST_F(ClassKeyScanTest, OffersNoInfPathButAnOemOne)
{
    Seed(kClassKey + u"\\0001", {{u"DriverDesc", kDesc},
                                 {u"InfPath", u"machine.inf"},
                                 {u"InfPath2", u"oem22.inf"}});
    Seed(kClassKey + u"\\0002", Instance(u"usb.inf"));
    EXPECT_EQ(ClassOffers(Instance(u"oem21.inf")),
              (Names{u"oem22.inf", u"oem21.inf"}));
}

/* Once another process deletes a key, every index answers
 * ERROR_KEY_DELETED; so may a handle that no longer serves. */
TEST_F(ClassKeyScanTest, EndsAKeysValuesAtAnErrorOfTheKey)
{
    for (DWORD error :
         {ERROR_KEY_DELETED, ERROR_ACCESS_DENIED, ERROR_INVALID_HANDLE}) {
        winhost::Reset();
        g_Candidates = CANDIDATE_LIST{};
        Seed(kClassKey + u"\\0000", Instance(u"oem1.inf"));
        winhost::FailCallFrom("RegEnumValueW", error);
        EXPECT_TRUE(ClassKeyScan(kClassKey.c_str(), KEY_WOW64_32KEY));
        EXPECT_EQ(CallsOf("RegEnumValueW").size(), 1u) << error;
        EXPECT_EQ(Entries(), Names{}) << error;
        EXPECT_EQ(winhost::OpenHandleCount(), 0) << error;
    }
}

TEST_F(ClassKeyScanTest, EndsTheSubKeysAtAnErrorOfTheKey)
{
    for (char16_t i = u'0'; i <= u'2'; i++)
        Seed(kClassKey + u"\\000" + i, Instance(u16(u"oem") + i + u".inf"));
    FailCall("RegEnumKeyW", ERROR_KEY_DELETED, 2); /* index 1 */
    EXPECT_EQ(ClassOffers({}), Names{u"oem2.inf"});
    EXPECT_EQ(CallsOf("RegEnumKeyW").size(), 2u);
}

TEST_F(ClassKeyScanTest, ReturnsFalseForAKeyThatDoesNotOpen)
{
    EXPECT_FALSE(ClassKeyScan(kClassKey.c_str(), KEY_WOW64_32KEY));
    EXPECT_EQ(winhost::CallNames(), Strings{"RegOpenKeyExW"});
}

TEST_F(ClassKeyScanTest, ClosesAKeyWhoseSubKeysCannotBeCountedUnexamined)
{
    FailCallOn("RegQueryInfoKeyW", kClassKey, ERROR_ACCESS_DENIED);
    EXPECT_EQ(ClassOffers(Instance(u"oem1.inf")), Names{});
    EXPECT_EQ(winhost::CallNames(),
              (Strings{"RegOpenKeyExW", "RegQueryInfoKeyW", "RegCloseKey"}));
}

/* ---- USB enumeration scan ---- */

using UsbEnumScanTest = Scan;

TEST_F(UsbEnumScanTest, OffersTheNameAfterTheAtSignUpToTheFirstDotInf)
{
    EXPECT_EQ(UsbOffers({{u"DeviceDesc", u"@oem5.inf,%desc%;QX DSP USB"}}),
              Names{u"oem5.inf"});
}

/* On XP the enumeration key refuses 0xB (see Machine::enumSystemOnly). */
TEST_F(UsbEnumScanTest, OnXpReadsTheEnumerationKeyWithKeyReadInTheSameView)
{
    machine().osMajor = 5;
    machine().enumSystemOnly = true;
    EXPECT_EQ(UsbOffers({{u"DeviceDesc", u"@oem5.inf,%x%"}}), Names{u"oem5.inf"});
    EXPECT_EQ(Objects("RegOpenKeyExW").size(), 4u); /* each key twice */
    EXPECT_EQ(CallsOf("RegOpenKeyExW")[1].detail, "options=0x0 sam=0x20219");
}

TEST_F(UsbEnumScanTest, TakesANameOfAtMost11UnitsAndThenEndsTheKey)
{
    Seed(kUsbKey + u"\\5&2", {{u"DeviceDesc", u"@oem12345.inf,%x%"},
                              {u"DeviceDesc2", u"@oem6.inf"}});
    EXPECT_EQ(UsbOffers({{u"DeviceDesc", u"@oem1234.inf,%x%"},
                         {u"DeviceDesc2", u"@oem7.inf"}}),
              Names{u"oem1234.inf"});
}

TEST_F(UsbEnumScanTest, EndsTheKeyAtADeviceDescWithoutTheAtSign)
{
    EXPECT_EQ(
        UsbOffers({{u"DeviceDesc", kDesc}, {u"DeviceDesc2", u"@oem6.inf"}}),
        Names{});
}

TEST_F(UsbEnumScanTest, GoesOnPastADeviceDescWithoutDotInf)
{
    EXPECT_EQ(UsbOffers({{u"DeviceDesc", u"@QX DSP USB"},
                         {u"DeviceDesc2", u"@oem7.inf"}}),
              Names{u"oem7.inf"});
}

TEST_F(UsbEnumScanTest, ExaminesEveryKeysValuesAfterItsSubKeys)
{
    Seed(kUsbKey, {{u"DeviceDesc", u"@oem1.inf"}});
    Seed(kUsbKey + u"\\5&1\\Device Parameters",
         {{u"DeviceDesc", u"@oem3.inf"}});
    EXPECT_EQ(UsbOffers({{u"DeviceDesc", u"@oem2.inf"}}),
              (Names{u"oem3.inf", u"oem2.inf", u"oem1.inf"}));
}

TEST_F(UsbEnumScanTest, NeverOffersAnInfNameThatIsNotAPlainFileName)
{
    EXPECT_EQ(UsbOffers({{u"DeviceDesc", u"@..\\x.inf,%d%"},
                         {u"DeviceDesc1", u"@*.inf"},
                         {u"DeviceDesc2", u"@C:x.inf"},
                         {u"DeviceDesc3", u"@a/b.inf"},
                         {u"DeviceDesc4", u"@oem9.inf"}}),
              Names{u"oem9.inf"});
}

/* A composite device and a WinUSB device, bound to Windows' own INF
 * files: nothing is offered, and the key's examination goes on as for
 * any refused name. */
TEST_F(UsbEnumScanTest, OffersNothingForWindowsOwnInfsAndGoesOn)
{
    Seed(kUsbKey + u"\\5&2",
         {{u"DeviceDesc",
           u"@winusb.inf,%usb\\ms_comp_winusb.devicedesc%;WinUsb Device"}});
    EXPECT_EQ(UsbOffers({{u"DeviceDesc", u"@usb.inf,%usb\\composite."
                                         u"devicedesc%;USB Composite Device"},
                         {u"DeviceDesc2", u"@oem21.inf,%x%;QX DSP USB"}}),
              Names{u"oem21.inf"});
    EXPECT_EQ(CallsOf("RegEnumValueW").size(), 2u + 3u);
}

TEST_F(UsbEnumScanTest, OffersNothingForAKeyOfWindowsOwnInfsAlone)
{
    EXPECT_EQ(UsbOffers({{u"DeviceDesc", u"@usb.inf,%usb\\composite."
                                         u"devicedesc%;USB Composite Device"}}),
              Names{});
    EXPECT_EQ(UsbOffers({{u"DeviceDesc", u"@winusb.inf,%usb\\ms_comp_"
                                         u"winusb.devicedesc%;WinUsb Device"}}),
              Names{});
}

TEST_F(UsbEnumScanTest, EndsAKeysValuesAtAnErrorOfTheKey)
{
    Seed(kUsbKey + u"\\5&2", {{u"DeviceDesc", u"@oem2.inf"}});
    winhost::FailCallFrom("RegEnumValueW", ERROR_KEY_DELETED);
    EXPECT_EQ(UsbOffers({{u"DeviceDesc", u"@oem1.inf"}}), Names{});
    /* One call for each of the three keys. */
    EXPECT_EQ(CallsOf("RegEnumValueW").size(), 3u);
}

/* ---- INF folder scan ---- */

using InfFolderScanTest = Scan;

TEST_F(InfFolderScanTest, OffersEveryPackageInfInTheOrderTheSearchGives)
{
    for (const char16_t *name : {u"oem2.inf", u"oem14.inf", u"oem15.inf"})
        winhost::SeedFile(kInf + name, Inf(kMarkers));
    EXPECT_TRUE(InfFolderScan(kInf.c_str(), &legacy));
    EXPECT_EQ(Entries(), (Names{u"oem14.inf", u"oem15.inf", u"oem2.inf"}));
}

TEST_F(InfFolderScanTest, SetsTheFlagOnlyForAPackageInfThatMentionsLibusb0)
{
    winhost::SeedFile(kInf + u"oem15.inf", Inf(kMarkers));
    InfFolderScan(kInf.c_str(), &legacy);
    EXPECT_FALSE(legacy);
    /* oem14.inf comes first; oem15.inf after it must not clear the flag. */
    winhost::SeedFile(kInf + u"oem14.inf", Inf(kMarkers + u"libusb0.sys"));
    InfFolderScan(kInf.c_str(), &legacy);
    EXPECT_TRUE(legacy);
}

/* The bundled package INF, once Windows has installed it under an OEM
 * name, is what a later run recognises: the package check and the scan
 * agree on the sample a release engineer starts from. */
TEST_F(InfFolderScanTest, RecognisesTheBundledPackageInfOnceInstalled)
{
    const std::string content = SampleInf();
    ASSERT_FALSE(content.empty());
    winhost::SeedFile(kInf + u"oem23.inf", content);
    EXPECT_TRUE(InfFolderScan(kInf.c_str(), &legacy));
    EXPECT_EQ(Entries(), Names{u"oem23.inf"});
    EXPECT_FALSE(legacy);
}

TEST_F(InfFolderScanTest, OpensOnlyOemInfFilesLargerThan1600Bytes)
{
    for (const char16_t *name :
         {u"oem1.inf", u"OEM2.INF", u"oem3inf", u"xoem4.inf", u"oem5.pnf"})
        winhost::SeedFile(kInf + name, Inf(kMarkers));
    winhost::SeedFile(kInf + u"oem6.inf", Inf(kMarkers, 1600));
    winhost::SeedFile(kInf + u"oem7.inf", Inf(kMarkers, 1600) + ' ');
    winhost::SeedFolder(kInf + u"oem9.inf");
    InfFolderScan(kInf.c_str(), &legacy);
    EXPECT_EQ(Objects("CreateFileW"),
              (Strings{"C:\\Windows\\INF\\oem1.inf",
                       "C:\\Windows\\INF\\oem3inf",
                       "C:\\Windows\\INF\\oem7.inf"}));
    EXPECT_EQ(CallsOf("CreateFileW").at(0).detail,
              "0x80000000 share=0x1 disp=3 flags=0x20");
    EXPECT_EQ(CallsOf("ReadFile").at(0).detail, "3200");
}

/* Examined as always, and its libusb0 still counts; but only an oem,
 * digits, .inf name is ever offered. */
TEST_F(InfFolderScanTest, OffersOnlyANameOfOemDigitsDotInf)
{
    for (const char16_t *name : {u"oem3inf", u"oem4a.inf", u"oem5.inf"})
        winhost::SeedFile(kInf + name, Inf(kMarkers + u"libusb0"));
    EXPECT_TRUE(InfFolderScan(kInf.c_str(), &legacy));
    EXPECT_EQ(Objects("CreateFileW").size(), 3u);
    EXPECT_EQ(Entries(), Names{u"oem5.inf"});
    EXPECT_TRUE(legacy);
}

TEST_F(InfFolderScanTest, IgnoresAnInfMissingAMarkerEvenIfItMentionsLibusb0)
{
    const u16 markers[] = {u"; QX_DSP_USB.inf", u"QUORVANTIX",
                           u"VID_3C7E&PID_51B8"};
    for (size_t missing = 0; missing < std::size(markers); missing++) {
        u16 text = u"libusb0";
        for (size_t i = 0; i < std::size(markers); i++)
            text += i == missing ? u16() : markers[i] + u"\r\n";
        winhost::SeedFile(kInf + u"oem" + u16(1, u'1' + missing) + u".inf",
                          Inf(text));
    }
    InfFolderScan(kInf.c_str(), &legacy);
    EXPECT_EQ(Entries(), Names{});
    EXPECT_FALSE(legacy);
}

TEST_F(InfFolderScanTest, IgnoresAnInfInAnEightBitCodePage)
{
    winhost::SeedFile(kInf + u"oem4.inf",
                      winhost::ToUtf8(kMarkers) + std::string(2000, ' '));
    InfFolderScan(kInf.c_str(), &legacy);
    EXPECT_EQ(Entries(), Names{});
}

TEST_F(InfFolderScanTest, LooksOnlyAtTheFirst3200Bytes)
{
    /* The last marker ends at unit 1600, or one unit later. */
    const u16 lead = kMarkers.substr(0, kMarkers.size() - 19);
    const u16 pad(1600 - lead.size() - 17, u' ');
    winhost::SeedFile(kInf + u"oem5.inf",
                      Inf(lead + pad + u"VID_3C7E&PID_51B8", 4000));
    winhost::SeedFile(kInf + u"oem6.inf",
                      Inf(lead + pad + u" VID_3C7E&PID_51B8", 4000));
    InfFolderScan(kInf.c_str(), &legacy);
    EXPECT_EQ(Entries(), Names{u"oem5.inf"});
}

TEST_F(InfFolderScanTest, SkipsAFileItCannotOpenOrRead)
{
    winhost::SeedFile(kInf + u"oem1.inf", Inf(kMarkers)).heldOpen = true;
    winhost::SeedFile(kInf + u"oem2.inf", Inf(kMarkers));
    winhost::SeedFile(kInf + u"oem3.inf", Inf(kMarkers));
    FailCall("ReadFile", ERROR_READ_FAULT);
    EXPECT_TRUE(InfFolderScan(kInf.c_str(), &legacy));
    EXPECT_EQ(Entries(), Names{u"oem3.inf"});
    EXPECT_EQ(CallsOf("CloseHandle").size(), 2u);
}

TEST_F(InfFolderScanTest, ReadsAnInfOtherReadersHoldButNotOneHeldForWriting)
{
    winhost::FileEntry &read = winhost::SeedFile(kInf + u"oem1.inf", Inf(kMarkers));
    read.heldAccess = GENERIC_READ;
    read.heldShare = FILE_SHARE_READ;
    winhost::FileEntry &written = winhost::SeedFile(kInf + u"oem2.inf", Inf(kMarkers));
    written.heldAccess = GENERIC_WRITE;
    written.heldShare = FILE_SHARE_READ;
    EXPECT_TRUE(InfFolderScan(kInf.c_str(), &legacy));
    EXPECT_EQ(Entries(), Names{u"oem1.inf"});
    EXPECT_EQ(CallsOf("CreateFileW").size(), 2u);
    EXPECT_EQ(CallsOf("CloseHandle").size(), 1u);
    EXPECT_EQ(winhost::OpenHandleCount(), 0);
}

TEST_F(InfFolderScanTest, SetsTheFlagEvenWhenTheListIsFull)
{
    for (char16_t c = u'0'; c < u'0' + CANDIDATE_MAX; c++)
        ASSERT_TRUE(AddCandidate((u16(u"oem") + c + u".inf").c_str()));
    winhost::SeedFile(kInf + u"oem14.inf", Inf(kMarkers + u"libusb0"));
    InfFolderScan(kInf.c_str(), &legacy);
    EXPECT_TRUE(legacy);
}

TEST_F(InfFolderScanTest, SkipsAFileWhosePathWouldNotFit)
{
    /* 250 units of folder: its pattern fits, a 12-unit name does not. */
    const u16 folder = u"C:\\" + u16(246, u'f') + u"\\";
    winhost::SeedFile(folder + u"oem1.inf", Inf(kMarkers));
    winhost::SeedFile(folder + u"oem12345.inf", Inf(kMarkers));
    EXPECT_TRUE(InfFolderScan(folder.c_str(), &legacy));
    EXPECT_EQ(Entries(), Names{u"oem1.inf"});
    EXPECT_EQ(CallsOf("CreateFileW").size(), 1u);
}

TEST_F(InfFolderScanTest, ReturnsFalseForAFolderItCannotSearch)
{
    EXPECT_FALSE(InfFolderScan(u"C:\\Missing\\", &legacy));
    winhost::SeedFile(kInf + u"oem1.inf", Inf(kMarkers));
    FailCall("FindFirstFileW", ERROR_ACCESS_DENIED);
    EXPECT_FALSE(InfFolderScan(kInf.c_str(), &legacy));
    EXPECT_EQ(Entries(), Names{});
}

/* ---- the legacy stage's sequence ---- */

using DiscoveryRunAllTest = Scan;

TEST_F(DiscoveryRunAllTest, ScansEachKeyInBothViewsThenTheInfFolder)
{
    DiscoveryRunAll(&legacy, TRUE);
    Strings opened, expected;
    for (const auto &c : CallsOf("RegOpenKeyExW"))
        opened.push_back(c.view + " " + c.object);
    for (const char *tail :
         {"Control\\Class\\{eb781aaf-9c70-4523-a5df-642a87eca567}",
          "Enum\\USB\\VID_3C7E&PID_51B8"})
        for (const char *set :
             {"ControlSet001", "ControlSet002", "CurrentControlSet"})
            for (const char *view : {"32 ", "64 "})
                expected.push_back(view + std::string("SYSTEM\\") + set +
                                   "\\" + tail);
    EXPECT_EQ(opened, expected);
    EXPECT_EQ(Objects("FindFirstFileW"), Strings{"C:\\Windows\\INF\\*.*"});
    EXPECT_EQ(winhost::CallNames().back(), "FindFirstFileW");
    EXPECT_EQ(Entries(), Names{});
    EXPECT_FALSE(legacy);
}

TEST_F(DiscoveryRunAllTest, CollectsEachNameOnceFromAllThreePlaces)
{
    for (const u16 set : {u"ControlSet001", u"ControlSet002"}) {
        Seed(u"SYSTEM\\" + set + kClassKey.substr(20) + u"\\0000",
             Instance(u"oem12.inf"));
        Seed(u"SYSTEM\\" + set + kUsbKey.substr(20) + u"\\5&1",
             {{u"DeviceDesc", u"@oem13.inf,%d%"}});
    }
    winhost::SeedFile(kInf + u"oem14.inf", Inf(kMarkers + u"libusb0"));
    DiscoveryRunAll(&legacy, TRUE);
    EXPECT_EQ(Entries(), (Names{u"oem12.inf", u"oem13.inf", u"oem14.inf"}));
    EXPECT_TRUE(legacy);
}

} // namespace
