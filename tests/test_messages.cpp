#include "fixture.h"

using Messages = MachineTest;

TEST_F(Messages, ChinesePrcSystemLanguageSelectsTheChineseTexts)
{
    winhost::machine().systemLanguage = 0x0804;
    ERROR_TEXTS errors;
    MsgSelectAndFill(&errors, FALSE);
    EXPECT_EQ(u16(g_Messages.success), u"驱动安装成功!");
    EXPECT_EQ(u16(g_Messages.failure), u"驱动安装失败, 原因: ");
    EXPECT_EQ(u16(g_Messages.caption), u"QX DSP USB 驱动安装");
    EXPECT_EQ(u16(g_Messages.restart),
              u"驱动已更新,插入设备USB之前,必须先手动重启!!!");
    EXPECT_EQ(u16(errors.findFolder), u"查找预安装文件夹出错");
    EXPECT_EQ(u16(errors.createFolder), u"创建预安装文件夹出错");
    EXPECT_EQ(u16(errors.copy), u"复制预安装文件出错");
    EXPECT_EQ(u16(errors.deleteFolder), u"删除预安装文件夹出错");
}

TEST_F(Messages, OtherLanguagesIncludingChineseTaiwanSelectEnglish)
{
    for (LANGID lang : {0x0404, 0x0409, 0x0C04, 0x0000}) {
        g_Messages = MESSAGES{};
        winhost::machine().systemLanguage = lang;
        ERROR_TEXTS errors;
        MsgSelectAndFill(&errors, FALSE);
        EXPECT_EQ(u16(g_Messages.success), u"Driver Install Success!") << lang;
        EXPECT_EQ(u16(g_Messages.failure), u"Failed, error code: ");
        EXPECT_EQ(u16(g_Messages.caption), u"QX DSP USB Driver Installer");
        EXPECT_EQ(u16(g_Messages.restart),
                  u"Driver has been updated, you must restart PC before "
                  u"insert Usb Cable!!!");
        EXPECT_EQ(u16(errors.deleteFolder),
                  u"Delete PreInstall File Folder Error.");
    }
}

TEST_F(Messages, DetailsAndNumbersAppendWithoutSeparator)
{
    ERROR_TEXTS errors;
    MsgSelectAndFill(&errors, FALSE);
    SetLastError(ERROR_ACCESS_DENIED);
    EXPECT_TRUE(MsgAppendDetail(errors.deleteFolder));
    EXPECT_TRUE(MsgAppendErrorNumber());
    EXPECT_TRUE(MsgAppendDetail(errors.copy));
    EXPECT_EQ(u16(g_Messages.failure),
              u"Failed, error code: Delete PreInstall File Folder Error.5 "
              u"Copy PreInstall File Error.");
}

TEST_F(Messages, ErrorNumberIsUnsignedDecimalWithOneSpace)
{
    ERROR_TEXTS errors;
    MsgSelectAndFill(&errors, FALSE);
    EXPECT_TRUE(MsgAppendNumber(0xFFFFFFFFu));
    EXPECT_EQ(u16(g_Messages.failure), u"Failed, error code: 4294967295 ");
}

TEST_F(Messages, AppendThatWouldNotFitLeavesTheFailureTextWhole)
{
    ERROR_TEXTS errors;
    MsgSelectAndFill(&errors, FALSE);
    u16 longDetail(MSG_TEXT_CCH, u'x');
    EXPECT_FALSE(MsgAppendDetail(longDetail.c_str()));
    EXPECT_EQ(u16(g_Messages.failure), u"Failed, error code: ");
}

TEST_F(Messages, ShowUsesNoOwnerTheCaptionAndOkStyle)
{
    ERROR_TEXTS errors;
    MsgSelectAndFill(&errors, FALSE);
    MsgShow(g_Messages.success);
    ASSERT_EQ(winhost::machine().boxes.size(), 1u);
    const auto &box = winhost::machine().boxes[0];
    EXPECT_EQ(box.owner, nullptr);
    EXPECT_EQ(box.text, u"Driver Install Success!");
    EXPECT_EQ(box.caption, u"QX DSP USB Driver Installer");
    EXPECT_EQ(box.style, static_cast<UINT>(MB_OK));
}

TEST_F(Messages, NobodySeesAnInvisibleStationNorSessionZeroFromVistaOn)
{
    struct {
        bool stationVisible;
        BOOL preVista;
        DWORD session;
        BOOL seen;
    } const cases[] = {
        {true, FALSE, 1, TRUE},  {false, FALSE, 1, FALSE},
        {true, FALSE, 0, FALSE}, {false, TRUE, 1, FALSE},
        /* On XP session 0 is the console user's. */
        {true, TRUE, 0, TRUE},
    };
    for (auto &c : cases) {
        winhost::Reset();
        winhost::machine().stationVisible = c.stationVisible;
        winhost::machine().sessionId = c.session;
        EXPECT_EQ(MsgAnyoneCanSee(c.preVista), c.seen)
            << "visible " << c.stationVisible << " preVista " << c.preVista
            << " session " << c.session;
    }
}

TEST_F(Messages, AFailedCheckCountsAsVisible)
{
    /* Each check failing where it would have found nobody watching. */
    struct {
        const char *fn;
        bool stationVisible;
        DWORD session;
    } const cases[] = {
        {"GetProcessWindowStation", false, 1},
        {"GetUserObjectInformationW", false, 1},
        {"ProcessIdToSessionId", true, 0},
    };
    for (auto &c : cases) {
        winhost::Reset();
        winhost::machine().stationVisible = c.stationVisible;
        winhost::machine().sessionId = c.session;
        winhost::FailCall(c.fn, ERROR_ACCESS_DENIED);
        EXPECT_TRUE(MsgAnyoneCanSee(FALSE)) << c.fn;
        EXPECT_EQ(winhost::CallsOf(c.fn).size(), 1u) << c.fn;
        EXPECT_EQ(winhost::machine().lastError, DWORD{ERROR_ACCESS_DENIED})
            << c.fn;
    }
}

TEST_F(Messages, AnUnattendedRunShowsNoBox)
{
    g_Messages.unattended = TRUE;
    MsgShow(g_Messages.failure);
    EXPECT_TRUE(winhost::machine().boxes.empty());
    EXPECT_TRUE(winhost::CallsOf("MessageBoxW").empty());
    g_Messages.unattended = FALSE;
    MsgShow(g_Messages.failure);
    EXPECT_EQ(winhost::machine().boxes.size(), 1u);
}
