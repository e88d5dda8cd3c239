#include <gtest/gtest.h>

#include "host/machine.h"
#include "platform/registry.h"
#include "platform/system_dll.h"
#include "removal/primitives.h"

using namespace winhost;

namespace {

using Strings = std::vector<std::string>;

const u16 kTop = u"SOFTWARE\\Qx"; /* the 64-bit view's real path */
const u16 kTop32 = u"SOFTWARE\\WOW6432Node\\Qx";

class Primitives : public ::testing::Test {
protected:
    void SetUp() override { Reset(), g_SystemDlls = SYSTEM_DLL_TABLE{}; }
    void TearDown() override
    {
        EXPECT_EQ(OpenHandleCount(), 0);
        EXPECT_EQ(machine().loadedLibraries, (int)g_SystemDlls.count);
    }
};

Strings Field(const std::string &fn, std::string CallRecord::*field)
{
    Strings out;
    for (auto &c : CallsOf(fn))
        out.push_back(c.*field);
    return out;
}

/* Sub-keys a, b (with b\deep) and c, the default value and one more. */
void SeedTree(const u16 &root)
{
    SeedValue(root, u"", u"default");
    SeedValue(root, u"top", u"1");
    SeedValue(root + u"\\a", u"va", u"1");
    SeedValue(root + u"\\b\\deep", u"vd", u"1");
    SeedKey(root + u"\\c");
}

HKEY Open(const u16 &path)
{
    HKEY key = NULL;
    EXPECT_EQ(RegistryOpen(path.c_str(), KEY_WOW64_64KEY, &key), ERROR_SUCCESS);
    return key;
}

} // namespace

/* ---- privileges ---- */

TEST_F(Primitives, EnablePrivilegeFailsWithNotAllAssignedForAPrivilegeNotHeld)
{
    machine().heldPrivileges.erase(u"SeBackupPrivilege");
    EXPECT_FALSE(EnablePrivilege(u"SeBackupPrivilege"));
    EXPECT_EQ(GetLastError(), ERROR_NOT_ALL_ASSIGNED);
    EXPECT_TRUE(EnablePrivilege(u"SeDebugPrivilege"));
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
    EXPECT_EQ(machine().enabledPrivileges, std::set<u16>{u"SeDebugPrivilege"});
    EXPECT_EQ(Field("OpenProcessToken", &CallRecord::detail)[0], "0x28");
    EXPECT_EQ(Field("AdjustTokenPrivileges", &CallRecord::detail)[0],
              "attributes=0x2 length=0");
}

TEST_F(Primitives, EnablePrivilegeSucceedsForAnUnknownNameOrAnUnopenedToken)
{
    EXPECT_TRUE(EnablePrivilege(u"SeNoSuchPrivilege"));
    FailCall("OpenProcessToken", ERROR_ACCESS_DENIED);
    EXPECT_TRUE(EnablePrivilege(u"SeBackupPrivilege"));
    EXPECT_TRUE(CallsOf("AdjustTokenPrivileges").empty());
}

TEST_F(Primitives, PrivilegeSequenceGoesOnToDebugWhateverRestoreGives)
{
    machine().heldPrivileges.erase(u"SeRestorePrivilege");
    PrivilegeSequence();
    EXPECT_EQ(Field("AdjustTokenPrivileges", &CallRecord::object),
              (Strings{"SeBackupPrivilege", "SeRestorePrivilege",
                       "SeDebugPrivilege"}));
}

TEST_F(Primitives, PrivilegeSequenceStopsWhenTheBackupPrivilegeIsRefused)
{
    machine().heldPrivileges.erase(u"SeBackupPrivilege");
    PrivilegeSequence();
    EXPECT_EQ(Field("AdjustTokenPrivileges", &CallRecord::object),
              Strings{"SeBackupPrivilege"});
    EXPECT_TRUE(machine().enabledPrivileges.empty());
}

/* ---- Delete path ---- */

TEST_F(Primitives, DeletePathRemovesAFolderWithEverythingBelowIt)
{
    SeedFile(u"C:\\d\\store\\a.inf", "a");
    SeedFile(u"C:\\d\\store\\sub\\b.sys", "b");
    SeedFile(u"C:\\d\\storex\\c.inf", "c");
    EXPECT_TRUE(DeletePath(u"C:\\d\\store"));
    EXPECT_EQ(ListFolder(u"C:\\d"), std::vector<u16>{u"storex"});
    EXPECT_EQ(Field("SHFileOperationW", &CallRecord::detail),
              Strings{"func=3 flags=0x410"});
}

TEST_F(Primitives, DeletePathCountsOnlyZeroAndDeInvalidFilesAsDone)
{
    EXPECT_TRUE(DeletePath(u"C:\\missing")); /* Windows: DE_INVALIDFILES */
    machine().shellMissingResult = ERROR_FILE_NOT_FOUND; /* Wine 8 */
    EXPECT_FALSE(DeletePath(u"C:\\missing"));
    machine().shellResultForced = true;
    machine().shellResult = DE_INVALIDFILES;
    EXPECT_TRUE(DeletePath(u"C:\\x"));
    machine().shellResult = ERROR_SHARING_VIOLATION;
    EXPECT_FALSE(DeletePath(u"C:\\x"));
}

/* Cut to its first 260 units, the longer path would name the file at
 * exactly 260 units, and that file would go instead. */
TEST_F(Primitives, DeletePathRefusesALongPathInsteadOfDeletingItsPrefix)
{
    const u16 folder = u"C:\\deep\\";
    const u16 at259 = folder + u16(MAX_PATH - 1 - folder.size(), u'a');
    const u16 at260 = at259 + u"b";
    SeedFile(at259, "259");
    SeedFile(at260, "260");
    EXPECT_FALSE(DeletePath((at260 + u"\\x.inf").c_str()));
    EXPECT_FALSE(DeletePath(at260.c_str()));
    EXPECT_TRUE(FileExists(at260));
    EXPECT_TRUE(CallsOf("SHFileOperationW").empty());
    EXPECT_TRUE(DeletePath(at259.c_str()));
    EXPECT_FALSE(FileExists(at259));
}

/* ---- Setup ---- */

TEST_F(Primitives, UninstallOemInfForcesSetupAndFailsOnceTheInfIsGone)
{
    SeedFile(u"C:\\Windows\\INF\\oem5.inf", "inf");
    SeedFile(u"C:\\Windows\\INF\\oem5.PNF", "pnf");
    EXPECT_TRUE(UninstallOemInf(u"oem5.inf"));
    EXPECT_FALSE(FileExists(u"C:\\Windows\\INF\\oem5.inf"));
    EXPECT_FALSE(FileExists(u"C:\\Windows\\INF\\oem5.PNF"));
    EXPECT_FALSE(UninstallOemInf(u"oem5.inf"));
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(Field("SetupUninstallOEMInfW", &CallRecord::detail),
              (Strings{"flags=0x1", "flags=0x1"}));
}

/* ---- key tree deletion ---- */

TEST_F(Primitives, DeleteKeyTreeVisitsSubKeysFromTheHighestIndexDown)
{
    SeedTree(kTop);
    DeleteKeyTree(kTop.c_str(), KEY_WOW64_64KEY);
    Strings topIndexes;
    for (auto &c : CallsOf("RegEnumKeyW"))
        if (c.object == ToUtf8(kTop))
            topIndexes.push_back(c.detail);
    EXPECT_EQ(topIndexes, (Strings{"2", "1", "0"}));
    EXPECT_EQ(Field("RegDeleteKeyExW", &CallRecord::object),
              (Strings{"SOFTWARE\\Qx\\c", "SOFTWARE\\Qx\\b\\deep",
                       "SOFTWARE\\Qx\\b", "SOFTWARE\\Qx\\a", "SOFTWARE\\Qx"}));
}

TEST_F(Primitives, DeleteKeyTreeRemovesTheWholeTreeInTheGivenViewOnly)
{
    SeedTree(kTop);
    SeedTree(kTop32);
    EXPECT_TRUE(DeleteKeyTree(kTop.c_str(), KEY_WOW64_32KEY));
    EXPECT_EQ(FindKey(kTop32), nullptr);
    EXPECT_NE(FindValue(kTop + u"\\b\\deep", u"vd"), nullptr);
    /* advapi32 loaded once for all five levels; view goes with access. */
    EXPECT_EQ(Field("LoadLibraryExW", &CallRecord::object),
              Strings{"C:\\Windows\\System32\\advapi32.dll"});
    EXPECT_EQ(Field("RegDeleteKeyExW", &CallRecord::detail),
              Strings(5, "sam=0x20B"));
}

TEST_F(Primitives, DeleteKeyTreeWithoutRegDeleteKeyExKeepsTheTopKeyAndValues)
{
    machine().hasRegDeleteKeyEx = false;
    SeedTree(kTop);
    EXPECT_TRUE(DeleteKeyTree(kTop.c_str(), KEY_WOW64_64KEY));
    ASSERT_NE(FindKey(kTop), nullptr);
    EXPECT_TRUE(FindKey(kTop)->subkeys.empty());
    EXPECT_EQ(FindKey(kTop)->values.size(), 2u);
}

TEST_F(Primitives, DeleteKeyTreeOfAMissingKeyFailsWithOrWithoutRegDeleteKeyEx)
{
    EXPECT_FALSE(DeleteKeyTree(kTop.c_str(), KEY_WOW64_64KEY));
    machine().hasRegDeleteKeyEx = false;
    EXPECT_FALSE(DeleteKeyTree(kTop.c_str(), KEY_WOW64_64KEY));
}

TEST_F(Primitives, DeleteKeyTreeHandsAKeyThatWouldNotOpenToRegDeleteKeyEx)
{
    SeedValue(kTop, u"v", u"1");
    FailCallOn("RegOpenKeyExW", kTop, ERROR_ACCESS_DENIED);
    EXPECT_TRUE(DeleteKeyTree(kTop.c_str(), KEY_WOW64_64KEY));
    EXPECT_EQ(FindKey(kTop), nullptr);
}

TEST_F(Primitives, DeleteKeyTreeClearsTheParentsValuesWhenASubKeyStays)
{
    SeedValue(kTop, u"", u"default");
    SeedValue(kTop, u"top", u"1");
    SeedValue(kTop + u"\\locked", u"v", u"1");
    SeedKey(kTop + u"\\locked").refuseDelete = true;
    EXPECT_FALSE(DeleteKeyTree(kTop.c_str(), KEY_WOW64_64KEY));
    EXPECT_EQ(FindKey(kTop)->values.size(), 1u);
    EXPECT_TRUE(FindKey(kTop + u"\\locked")->values.empty());
}

TEST_F(Primitives, DeleteKeyTreeSkipsASubKeyWhoseNameCannotBeRead)
{
    SeedTree(kTop);
    /* The first enumeration reads c (index 2), the second b. */
    FailCall("RegEnumKeyW", ERROR_MORE_DATA, 2);
    EXPECT_FALSE(DeleteKeyTree(kTop.c_str(), KEY_WOW64_64KEY));
    EXPECT_EQ(FindKey(kTop)->subkeys.size(), 1u);
    EXPECT_NE(FindValue(kTop + u"\\b\\deep", u"vd"), nullptr);
}

/* An error of the key itself (deleted meanwhile, access taken away) comes
 * again for every index: the sub-keys still to be read are left. */
TEST_F(Primitives, DeleteKeyTreeEndsItsSubKeysAtAnErrorOfTheKey)
{
    SeedTree(kTop);
    FailCall("RegEnumKeyW", ERROR_KEY_DELETED, 2); /* b */
    DeleteKeyTree(kTop.c_str(), KEY_WOW64_64KEY);
    EXPECT_EQ(Field("RegEnumKeyW", &CallRecord::detail).size(), 2u);
    EXPECT_NE(FindValue(kTop + u"\\b\\deep", u"vd"), nullptr);
    EXPECT_NE(FindValue(kTop + u"\\a", u"va"), nullptr);
}

TEST_F(Primitives, DeleteKeyTreeSkipsASubKeyWhosePathWouldNotFit)
{
    /* kTop + "\" + name: 255 units fit, 256 do not. */
    const u16 fits(REG_PATH_CCH - 2 - kTop.size(), u'f');
    const u16 tooLong(REG_PATH_CCH - 1 - kTop.size(), u'k');
    SeedValue(kTop + u"\\" + fits, u"v", u"1");
    SeedValue(kTop + u"\\" + tooLong + u"\\inner", u"v", u"1");
    EXPECT_FALSE(DeleteKeyTree(kTop.c_str(), KEY_WOW64_64KEY));
    EXPECT_EQ(FindKey(kTop + u"\\" + fits), nullptr);
    EXPECT_NE(FindValue(kTop + u"\\" + tooLong + u"\\inner", u"v"), nullptr);
    for (auto &c : CallsOf("RegOpenKeyExW"))
        EXPECT_EQ(c.object.find("kkk"), std::string::npos) << c.object;
}

/* ---- Clear values ---- */

TEST_F(Primitives, ClearValuesDeletesEveryNamedValueBeyondOneTable)
{
    SeedValue(kTop, u"", u"default");
    for (int i = 0; i < 75; i++)
        SeedValue(kTop, u"v" + FromUtf8(std::to_string(i)), u"x");
    HKEY key = Open(kTop);
    EXPECT_TRUE(ClearValues(key));
    RegCloseKey(key);
    ASSERT_EQ(FindKey(kTop)->values.size(), 1u);
    EXPECT_EQ(FindKey(kTop)->values[0].name, u"");
}

TEST_F(Primitives, ClearValuesSkipsANameLongerThan255Units)
{
    const u16 fits(REG_VALUE_NAME_CCH - 1, u'n'),
        tooLong(REG_VALUE_NAME_CCH, u'n');
    SeedValue(kTop, tooLong, u"kept");
    SeedValue(kTop, fits, u"x");
    SeedValue(kTop, u"short", u"x");
    HKEY key = Open(kTop);
    EXPECT_TRUE(ClearValues(key));
    RegCloseKey(key);
    ASSERT_EQ(FindKey(kTop)->values.size(), 1u);
    EXPECT_EQ(FindKey(kTop)->values[0].name, tooLong);
}

TEST_F(Primitives, ClearValuesEndsWhenAPassDeletesNothing)
{
    /* A table full of values that refuse deletion ends it, even though
     * a later value could go. */
    for (int i = 0; i < 30; i++)
        SeedValue(kTop, u"locked" + FromUtf8(std::to_string(i)), u"x")
            .refuseDelete = true;
    SeedValue(kTop, u"late", u"x");
    HKEY key = Open(kTop);
    EXPECT_TRUE(ClearValues(key));
    RegCloseKey(key);
    EXPECT_EQ(FindKey(kTop)->values.size(), 31u);
}

TEST_F(Primitives, ClearValuesEndsOnAKeyDeletedWhileOpen)
{
    SeedValue(kTop, u"v", u"1");
    HKEY key = Open(kTop);
    FindKey(u"SOFTWARE")->subkeys.clear();
    EXPECT_TRUE(ClearValues(key));
    EXPECT_EQ(CallsOf("RegEnumValueW").size(), 1u);
    RegCloseKey(key);
}

/* ---- Delete value, key-exists probe ---- */

TEST_F(Primitives, DeleteValueFailsOnlyWhenTheKeyDoesNotOpen)
{
    SeedValue(kTop, u"v", u"1");
    SeedValue(kTop32, u"v", u"1");
    EXPECT_FALSE(DeleteValue(u"SOFTWARE\\None", u"v", KEY_WOW64_32KEY));
    EXPECT_TRUE(DeleteValue(kTop.c_str(), u"absent", KEY_WOW64_32KEY));
    EXPECT_TRUE(DeleteValue(kTop.c_str(), u"v", KEY_WOW64_32KEY));
    EXPECT_EQ(FindValue(kTop32, u"v"), nullptr);
    EXPECT_NE(FindValue(kTop, u"v"), nullptr);
}

TEST_F(Primitives, KeyExistsOpensWithBackupRestoreInTheGivenView)
{
    SeedKey(kTop);
    EXPECT_TRUE(KeyExists(kTop.c_str(), KEY_WOW64_64KEY));
    EXPECT_FALSE(KeyExists(kTop.c_str(), KEY_WOW64_32KEY));
    EXPECT_EQ(Field("RegOpenKeyExW", &CallRecord::detail),
              (Strings{"options=0x4 sam=0x10B", "options=0x4 sam=0x20B"}));
}

/* ---- device instances through Configuration Manager ---- */

namespace {

const u16 kInstanceKey =
    u"SYSTEM\\CurrentControlSet\\Enum\\USB\\VID_3C7E&PID_51B8\\5&1a&0&1";

u16 InstanceId() { return u"USB\\VID_3C7E&PID_51B8\\5&1a&0&1"; }

void SeedInstance()
{
    SeedValue(kInstanceKey, u"Service", u"libusb0");
    SeedValue(kInstanceKey + u"\\Device Parameters", u"p", u"1");
}

/* Each Configuration Manager call as "function object detail". */
Strings ConfigManagerCalls()
{
    Strings out;
    for (auto &c : machine().calls)
        if (c.fn.rfind("CM_", 0) == 0)
            out.push_back(c.fn + " " + c.object + " " + c.detail);
    return out;
}

} // namespace

TEST_F(Primitives, UninstallPhantomDeviceRemovesAnInstanceThatIsNotPluggedIn)
{
    SeedInstance();
    u16 id = InstanceId();
    EXPECT_EQ(UninstallPhantomDevice(id.data()), DEVICE_UNINSTALLED);
    EXPECT_EQ(FindKey(kInstanceKey), nullptr);
    EXPECT_NE(FindKey(u"SYSTEM\\ControlSet001\\Enum\\USB\\VID_3C7E&PID_51B8"),
              nullptr);
    const std::string device = "USB\\VID_3C7E&PID_51B8\\5&1a&0&1";
    EXPECT_EQ(ConfigManagerCalls(),
              (Strings{"CM_Locate_DevNodeW " + device + " flags=0x0",
                       "CM_Locate_DevNodeW " + device + " flags=0x1",
                       "CM_Uninstall_DevNode " + device + " flags=0x0"}));
    EXPECT_EQ(Field("LoadLibraryExW", &CallRecord::object),
              Strings{"C:\\Windows\\System32\\cfgmgr32.dll"});
}

TEST_F(Primitives, UninstallPhantomDeviceLeavesADevicePluggedInAlone)
{
    SeedInstance();
    machine().presentDevices.insert(InstanceId());
    u16 id = InstanceId();
    EXPECT_EQ(UninstallPhantomDevice(id.data()), DEVICE_PLUGGED_IN);
    EXPECT_NE(FindValue(kInstanceKey, u"Service"), nullptr);
    ASSERT_EQ(ConfigManagerCalls().size(), 1u);
    EXPECT_EQ(CallsOf("CM_Locate_DevNodeW")[0].detail, "flags=0x0");
}

/* Wine 8 answers CR_FAILURE to both lookups, and its CM_Uninstall_DevNode
 * ends the process: nothing is uninstalled on a failed lookup. */
TEST_F(Primitives, UninstallPhantomDeviceUninstallsNothingAfterAFailedLookup)
{
    SeedInstance();
    FailCall("CM_Locate_DevNodeW", CR_FAILURE, 1);
    FailCall("CM_Locate_DevNodeW", CR_FAILURE, 1);
    u16 id = InstanceId();
    EXPECT_EQ(UninstallPhantomDevice(id.data()), DEVICE_KEPT);
    EXPECT_EQ(CallsOf("CM_Locate_DevNodeW").size(), 2u);
    EXPECT_TRUE(CallsOf("CM_Uninstall_DevNode").empty());
    EXPECT_NE(FindKey(kInstanceKey), nullptr);

    /* An instance that is no longer there is not found either. */
    machine().calls.clear();
    u16 gone = u"USB\\VID_3C7E&PID_51B8\\gone";
    EXPECT_EQ(UninstallPhantomDevice(gone.data()), DEVICE_KEPT);
    EXPECT_TRUE(CallsOf("CM_Uninstall_DevNode").empty());
}

TEST_F(Primitives, UninstallPhantomDeviceFailsWhenConfigManagerRefuses)
{
    SeedInstance();
    FailCall("CM_Uninstall_DevNode", CR_ACCESS_DENIED);
    u16 id = InstanceId();
    EXPECT_EQ(UninstallPhantomDevice(id.data()), DEVICE_KEPT);
    EXPECT_NE(FindKey(kInstanceKey), nullptr);
}

/* XP's setupapi.dll exports the functions too. */
TEST_F(Primitives, UninstallPhantomDeviceFallsBackToSetupapi)
{
    SeedInstance();
    machine().hasCfgMgr32 = false;
    u16 id = InstanceId();
    EXPECT_EQ(UninstallPhantomDevice(id.data()), DEVICE_UNINSTALLED);
    EXPECT_EQ(FindKey(kInstanceKey), nullptr);
    EXPECT_EQ(Field("LoadLibraryExW", &CallRecord::object),
              (Strings{"C:\\Windows\\System32\\cfgmgr32.dll",
                       "C:\\Windows\\System32\\setupapi.dll"}));
}

TEST_F(Primitives, UninstallPhantomDeviceWithoutTheFunctionsCallsNothing)
{
    SeedInstance();
    machine().hasCfgMgr32 = false;
    machine().setupapiHasConfigManager = false;
    u16 id = InstanceId();
    EXPECT_EQ(UninstallPhantomDevice(id.data()), DEVICE_KEPT);
    EXPECT_TRUE(ConfigManagerCalls().empty());
    EXPECT_NE(FindKey(kInstanceKey), nullptr);

    /* A library with the lookup but without the uninstall is not used. */
    SetUp();
    SeedInstance();
    FailCallOn("GetProcAddress", u"CM_Uninstall_DevNode", ERROR_PROC_NOT_FOUND);
    EXPECT_EQ(UninstallPhantomDevice(id.data()), DEVICE_KEPT);
    EXPECT_TRUE(ConfigManagerCalls().empty());
    EXPECT_EQ(Field("GetProcAddress", &CallRecord::object),
              (Strings{"CM_Locate_DevNodeW", "CM_Uninstall_DevNode",
                       "CM_Locate_DevNodeW", "CM_Uninstall_DevNode"}));
}
