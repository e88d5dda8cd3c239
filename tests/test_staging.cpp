#include "fixture.h"

#include "staging/staging.h"

using winhost::machine;

class Staging : public MachineTest {
protected:
    void SetUp() override
    {
        MachineTest::SetUp();
        MsgSelectAndFill(&errors, FALSE);
        /* The package's folders, as the run works them out. */
        for (int area = AREA_ROOT; area < AREA_COUNT; area++) {
            const u16 folder = kPackage + g_PackageAreas[area].subfolder;
            std::fill_n(package[area], MAX_PATH, WCHAR{0});
            std::copy_n(folder.c_str(), folder.size(), package[area]);
        }
    }
    ERROR_TEXTS errors;
    WCHAR package[AREA_COUNT][MAX_PATH];
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

/* The two names of set in folder, opened as the package hold opens them;
 * closed at the end of the scope. */
struct Held {
    HANDLE h[FILE_SET_SIZE];
    Held(const u16 &folder, const FILE_SET &set)
    {
        for (DWORD i = 0; i < FILE_SET_SIZE; i++)
            h[i] = CreateFileW((folder + set.names[i]).c_str(), GENERIC_READ,
                               FILE_SHARE_READ, NULL, OPEN_EXISTING,
                               FILE_FLAG_OPEN_REPARSE_POINT, NULL);
    }
    ~Held()
    {
        for (HANDLE one : h)
            if (one != INVALID_HANDLE_VALUE)
                CloseHandle(one);
    }
};

TEST_F(Staging, CopySetOverwritesAndKeepsTheSourceTime)
{
    winhost::SeedFile(u"C:\\a\\libusb0.dll", "new", winhost::Ft(500));
    winhost::SeedFile(u"C:\\a\\libusb0.sys", "new2", winhost::Ft(600));
    winhost::SeedFile(u"C:\\b\\libusb0.dll", "old", winhost::Ft(100));
    Held held(u"C:\\a\\", g_LegacySet);
    EXPECT_TRUE(StagingCopySet(u"C:\\a\\", u"C:\\b\\", &g_LegacySet, held.h));
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
    Held held(u"C:\\a\\", g_LegacySet);
    EXPECT_FALSE(StagingCopySet(u"C:\\a\\", u"C:\\b\\", &g_LegacySet, held.h));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(winhost::CallsOf("CopyFileW").size(), 1u);
    EXPECT_FALSE(winhost::FileExists(u"C:\\b\\libusb0.sys"));
}

TEST_F(Staging, CopySetCopiesNoNameThatIsNotHeld)
{
    winhost::SeedFile(u"C:\\a\\libusb0.dll", "new");
    winhost::SeedFile(u"C:\\a\\libusb0.sys", "new2");
    winhost::SeedFolder(u"C:\\b");
    const HANDLE none[FILE_SET_SIZE] = {INVALID_HANDLE_VALUE,
                                        INVALID_HANDLE_VALUE};
    EXPECT_FALSE(StagingCopySet(u"C:\\a\\", u"C:\\b\\", &g_LegacySet, none));
    EXPECT_TRUE(winhost::CallsOf("CopyFileW").empty());
}

/* The package's folders and files, all plain: each folder is opened before
 * its files, none through a link, each shared for reading only, and all
 * stay open until released. */
TEST_F(Staging, HoldingAPlainPackageKeepsEveryFolderAndFileOpenForReadingOnly)
{
    SeedPackage(kPackage);
    PACKAGE_HOLD hold;
    ASSERT_TRUE(StagingHoldPackage(package, &hold));
    auto opens = winhost::CallsOf("CreateFileW");
    ASSERT_EQ(opens.size(), 12u);
    EXPECT_EQ(opens[0].object, "C:\\pkg\\");
    EXPECT_EQ(opens[0].detail, "0x80000000 share=0x1 disp=3 flags=0x2200000");
    EXPECT_EQ(opens[1].object, "C:\\pkg\\QX_DSP_USB.inf");
    EXPECT_EQ(opens[1].detail, "0x80000000 share=0x1 disp=3 flags=0x200000");
    EXPECT_EQ(opens[3].object, "C:\\pkg\\amd64\\");
    EXPECT_EQ(winhost::OpenHandleCount(), 12);
    /* Readers, the copy among them, may open a held file; a writer or a
     * deleter may not. */
    const u16 inf = kPackage + u"QX_DSP_USB.inf";
    HANDLE writer = CreateFileW(inf.c_str(), GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                                OPEN_EXISTING, 0, NULL);
    EXPECT_EQ(writer, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    HANDLE deleter = CreateFileW((kPackage + u"x86\\").c_str(), DELETE,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE |
                                     FILE_SHARE_DELETE,
                                 NULL, OPEN_EXISTING,
                                 FILE_FLAG_BACKUP_SEMANTICS, NULL);
    EXPECT_EQ(deleter, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(CopyFileW(inf.c_str(), u"C:\\copy.inf", FALSE));
    StagingReleasePackage(&hold);
    EXPECT_EQ(winhost::OpenHandleCount(), 0);
}

TEST_F(Staging, HoldingLeavesOutWhatDoesNotOpenAndRefusesWhatCannotBeExamined)
{
    SeedPackage(kPackage);
    winhost::RemoveFile(kPackage + u"USB_DSP.cat");
    PACKAGE_HOLD hold;
    ASSERT_TRUE(StagingHoldPackage(package, &hold));
    EXPECT_NE(hold.files[AREA_ROOT][0], INVALID_HANDLE_VALUE);
    EXPECT_EQ(hold.files[AREA_ROOT][1], INVALID_HANDLE_VALUE);
    EXPECT_EQ(winhost::OpenHandleCount(), 11);
    StagingReleasePackage(&hold);

    winhost::FailCall("GetFileInformationByHandle", ERROR_ACCESS_DENIED, 5);
    EXPECT_FALSE(StagingHoldPackage(package, &hold));
    EXPECT_EQ(winhost::OpenHandleCount(), 0);
    EXPECT_EQ(hold.folders[AREA_ROOT], INVALID_HANDLE_VALUE);
}

/* Another process holding a junction open keeps the folder from being
 * opened and examined: its files are then not opened through it. */
TEST_F(Staging, AFolderThatDoesNotOpenHasNoneOfItsFilesHeld)
{
    SeedPackage(kPackage);
    winhost::FailCallOn("CreateFileW", kPackage + u"x86\\",
                        ERROR_SHARING_VIOLATION);
    PACKAGE_HOLD hold;
    ASSERT_TRUE(StagingHoldPackage(package, &hold));
    EXPECT_EQ(hold.folders[AREA_X86], INVALID_HANDLE_VALUE);
    for (DWORD i = 0; i < FILE_SET_SIZE; i++)
        EXPECT_EQ(hold.files[AREA_X86][i], INVALID_HANDLE_VALUE);
    int throughFolder = 0;
    for (auto &c : winhost::CallsOf("CreateFileW"))
        throughFolder += c.object.rfind("C:\\pkg\\x86\\", 0) == 0 &&
                         c.object != "C:\\pkg\\x86\\";
    EXPECT_EQ(throughFolder, 0);
    StagingReleasePackage(&hold);
    EXPECT_EQ(winhost::OpenHandleCount(), 0);
}

const u16 kStagingDacl = u"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";

TEST_F(Staging, ASecuredFolderIsCreatedWithExactlyTheStagingDacl)
{
    EXPECT_TRUE(StagingCreateSecuredFolder(kStaging.c_str(), errors.createFolder));
    ASSERT_TRUE(winhost::FileExists(kStaging));
    EXPECT_EQ(winhost::FindFile(kStaging)->dacl, kStagingDacl);
    EXPECT_TRUE(winhost::CallsOf("SetNamedSecurityInfoW").empty());
    EXPECT_EQ(winhost::LiveSecurityDescriptors(), 0);
    EXPECT_TRUE(machine().boxes.empty());
}

TEST_F(Staging, AnExistingFolderGetsTheStagingDaclSetProtected)
{
    winhost::SeedFolder(kStaging);
    EXPECT_TRUE(StagingCreateSecuredFolder(kStaging.c_str(), errors.createFolder));
    EXPECT_EQ(winhost::FindFile(kStaging)->dacl, kStagingDacl);
    auto set = winhost::CallsOf("SetNamedSecurityInfoW");
    ASSERT_EQ(set.size(), 1u);
    EXPECT_EQ(winhost::FromUtf8(set[0].object), kStaging);
    EXPECT_EQ(set[0].detail, "0x80000004");
    EXPECT_EQ(winhost::LiveSecurityDescriptors(), 0);
}

TEST_F(Staging, ADaclThatCannotBeMadeOrSetIsAFolderFailure)
{
    winhost::FailCall("ConvertStringSecurityDescriptorToSecurityDescriptorW",
                      ERROR_NOT_ENOUGH_MEMORY);
    EXPECT_FALSE(StagingCreateSecuredFolder(kStaging.c_str(), errors.createFolder));
    EXPECT_TRUE(winhost::CallsOf("SHCreateDirectoryExW").empty());
    winhost::SeedFolder(kStaging);
    winhost::FailCall("SetNamedSecurityInfoW", ERROR_ACCESS_DENIED);
    EXPECT_FALSE(StagingCreateSecuredFolder(kStaging.c_str(), errors.createFolder));
    ASSERT_EQ(machine().boxes.size(), 2u);
    EXPECT_EQ(machine().boxes[0].text,
              u"Failed, error code: Create PreInstall File Folder Error.8 ");
    EXPECT_EQ(machine().boxes[1].text,
              u"Failed, error code: Create PreInstall File Folder Error.8 "
              u"Create PreInstall File Folder Error.5 ");
    EXPECT_EQ(winhost::FindFile(kStaging)->dacl, u"");
    EXPECT_EQ(winhost::LiveSecurityDescriptors(), 0);
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
