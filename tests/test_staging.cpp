#include "fixture.h"

#include "staging/staging.h"

using winhost::machine;

class Staging : public MachineTest {
protected:
    void SetUp() override
    {
        MachineTest::SetUp();
        MsgSelectAndFill(&errors);
    }
    ERROR_TEXTS errors;
};

TEST_F(Staging, SameFilesIsFalseForSameSizeButOtherLastWriteTime)
{
    winhost::SeedFile(u"C:\\a\\libusb0.dll", "1234", winhost::Ft(100));
    winhost::SeedFile(u"C:\\a\\libusb0.sys", "abcd", winhost::Ft(200));
    winhost::SeedFile(u"C:\\b\\libusb0.dll", "1234", winhost::Ft(100));
    winhost::SeedFile(u"C:\\b\\libusb0.sys", "wxyz", winhost::Ft(201));
    EXPECT_FALSE(StagingSameFiles(u"C:\\a\\", u"C:\\b\\", &g_LegacySet));
}

TEST_F(Staging, SameFilesIgnoresCreationTimeAndAttributes)
{
    winhost::SeedFile(u"C:\\a\\libusb0.dll", "1234", winhost::Ft(100));
    winhost::SeedFile(u"C:\\a\\libusb0.sys", "abcd", winhost::Ft(200));
    winhost::SeedFile(u"C:\\b\\libusb0.dll", "5678", winhost::Ft(100))
        .creation = winhost::Ft(7);
    winhost::SeedFile(u"C:\\b\\libusb0.sys", "efgh", winhost::Ft(200),
                      FILE_ATTRIBUTE_READONLY);
    EXPECT_TRUE(StagingSameFiles(u"C:\\a\\", u"C:\\b\\", &g_LegacySet));
}

TEST_F(Staging, SameFilesIsFalseForOtherSizeOrAMissingFile)
{
    winhost::SeedFile(u"C:\\a\\libusb0.dll", "1234", winhost::Ft(100));
    winhost::SeedFile(u"C:\\a\\libusb0.sys", "abcd", winhost::Ft(200));
    winhost::SeedFile(u"C:\\b\\libusb0.dll", "12345", winhost::Ft(100));
    winhost::SeedFile(u"C:\\b\\libusb0.sys", "abcd", winhost::Ft(200));
    EXPECT_FALSE(StagingSameFiles(u"C:\\a\\", u"C:\\b\\", &g_LegacySet));
    EXPECT_FALSE(StagingSameFiles(u"C:\\a\\", u"C:\\c\\", &g_LegacySet));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
}

TEST_F(Staging, SetExistsCountsAFolderBearingTheFileName)
{
    winhost::SeedFolder(u"C:\\s\\amd64\\libusb0.dll");
    winhost::SeedFile(u"C:\\s\\amd64\\libusb0.sys", "x");
    EXPECT_TRUE(StagingSetExists(u"C:\\s\\amd64\\", &g_LegacySet));
}

TEST_F(Staging, SetExistsStopsAtTheFirstMissingName)
{
    winhost::SeedFile(u"C:\\s\\x86\\libusb0_x86.dll", "x");
    EXPECT_FALSE(StagingSetExists(u"C:\\s\\x86\\", &g_LegacyX86Set));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(winhost::CallsOf("GetFileAttributesExW").size(), 1u);
}

TEST_F(Staging, AFilePathThatWouldNotFitIsNotQueried)
{
    u16 folder = u"C:\\" + u16(MAX_PATH - 10, u'd') + u"\\";
    EXPECT_FALSE(StagingSetExists(folder.c_str(), &g_InfSet));
    EXPECT_TRUE(winhost::CallsOf("GetFileAttributesExW").empty());
}

TEST_F(Staging, CopySetOverwritesAndKeepsTheSourceTime)
{
    winhost::SeedFile(u"C:\\a\\libusb0.dll", "new", winhost::Ft(500));
    winhost::SeedFile(u"C:\\a\\libusb0.sys", "new2", winhost::Ft(600));
    winhost::SeedFile(u"C:\\b\\libusb0.dll", "old", winhost::Ft(100));
    EXPECT_TRUE(StagingCopySet(u"C:\\a\\", u"C:\\b\\", &g_LegacySet));
    EXPECT_EQ(winhost::FindFile(u"C:\\b\\libusb0.dll")->content, "new");
    EXPECT_EQ(winhost::FindFile(u"C:\\b\\libusb0.sys")->lastWrite.dwLowDateTime,
              600u);
    EXPECT_TRUE(StagingSameFiles(u"C:\\a\\", u"C:\\b\\", &g_LegacySet));
}

TEST_F(Staging, CopySetOverAReadOnlyFileFailsBeforeTheSecondName)
{
    winhost::SeedFile(u"C:\\a\\libusb0.dll", "new");
    winhost::SeedFile(u"C:\\a\\libusb0.sys", "new2");
    winhost::SeedFile(u"C:\\b\\libusb0.dll", "old", winhost::Ft(1),
                      FILE_ATTRIBUTE_READONLY);
    EXPECT_FALSE(StagingCopySet(u"C:\\a\\", u"C:\\b\\", &g_LegacySet));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(winhost::CallsOf("CopyFileW").size(), 1u);
    EXPECT_FALSE(winhost::FileExists(u"C:\\b\\libusb0.sys"));
}

TEST_F(Staging, CreatingAFreshFolderSucceedsWhateverTheLastErrorSays)
{
    /* The stand-in, like Wine, leaves 87 as last error after creating. */
    EXPECT_TRUE(StagingCreateFolder(u"C:\\P\\Q\\R\\", errors.createFolder));
    EXPECT_TRUE(winhost::FindFile(u"C:\\P\\Q\\R")->dir);
    EXPECT_TRUE(machine().boxes.empty());
}

TEST_F(Staging, CreatingAnExistingFolderSucceedsWithoutAMessage)
{
    winhost::SeedFolder(u"C:\\P");
    EXPECT_TRUE(StagingCreateFolder(u"C:\\P\\", errors.createFolder));
    EXPECT_TRUE(machine().boxes.empty());
}

TEST_F(Staging, AFailedCreationReportsTheShellsErrorCode)
{
    winhost::FailCall("SHCreateDirectoryExW", ERROR_ACCESS_DENIED);
    SetLastError(0);
    EXPECT_FALSE(StagingCreateFolder(u"C:\\P\\", errors.createFolder));
    ASSERT_EQ(machine().boxes.size(), 1u);
    EXPECT_EQ(machine().boxes[0].text,
              u"Failed, error code: Create PreInstall File Folder Error.5 ");
}

TEST_F(Staging, PreinstallRegistersTheStagedInf)
{
    winhost::SeedFile(kStaging + u"QX_DSP_USB.inf", "inf");
    EXPECT_TRUE(StagingPreinstall(kStaging.c_str()));
    auto calls = winhost::CallsOf("SetupCopyOEMInfW");
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(winhost::FromUtf8(calls[0].object), kStaging + u"QX_DSP_USB.inf");
    EXPECT_EQ(calls[0].detail, "media= type=1 style=0x4 size=128");
    EXPECT_TRUE(winhost::FileExists(u"C:\\Windows\\INF\\oem0.inf"));
    EXPECT_TRUE(machine().boxes.empty());
}

TEST_F(Staging, PreinstallOfAMissingInfShowsThePrefixAndTheNumber)
{
    EXPECT_FALSE(StagingPreinstall(kStaging.c_str()));
    ASSERT_EQ(machine().boxes.size(), 1u);
    EXPECT_EQ(machine().boxes[0].text, u"Failed, error code: 2 ");
}
