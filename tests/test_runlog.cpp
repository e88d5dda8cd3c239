#include "fixture.h"

#include "platform/runlog.h"

using winhost::machine;

namespace {

const std::string kBom = "\xEF\xBB\xBF";
/* The stand-in's local time, as the first line gives it. */
const std::string kTime = "2026-12-10 14:03:22 ";

} // namespace

class RunLogTest : public MachineTest {
protected:
    void SetUp() override
    {
        MachineTest::SetUp();
        winhost::SeedFolder(u"C:\\Windows");
    }
};

/* One block: the time line, then each line as formatted, UTF-8 with a
 * byte-order mark in a new file, CR LF, an empty line at the end; the
 * thread's last error is left as it was. */
TEST_F(RunLogTest, ABlockIsUtf8LinesAfterATimeLineAndKeepsTheLastError)
{
    SetLastError(1234);
    ASSERT_TRUE(RunLogOpen(kLog.c_str(), FALSE, u"Qx 1.0"));
    RunLog(u"%s|%u|%x|%%|%s|%s", u"a\r\nb", 4294967295u, 0xE000022Fu,
           nullptr, u"驱动 \U0001F600 \xD800.");
    RunLogClose();
    EXPECT_EQ(GetLastError(), 1234u);
    EXPECT_EQ(FileText(kLog), kBom + kTime + "Qx 1.0\r\n" +
                                 "a  b|4294967295|E000022F|%|(none)|"
                                 "\xE9\xA9\xB1\xE5\x8A\xA8 \xF0\x9F\x98\x80 "
                                 "\xEF\xBF\xBD.\r\n\r\n");
    EXPECT_EQ(winhost::OpenHandleCount(), 0);
    /* A second block is appended, without a second mark; a line too long
     * to hold is left out with a word. */
    ASSERT_TRUE(RunLogOpen(kLog.c_str(), FALSE, u"again"));
    RunLog(u"%s", u16(RUN_LOG_LINE_CCH, u'x').c_str());
    RunLogClose();
    EXPECT_EQ(FileText(kLog).substr(FileText(kLog).find("again")),
              "again\r\n(a line too long for the log is left out)\r\n\r\n");
    auto open = winhost::CallsOf("CreateFileW").at(0);
    EXPECT_EQ(open.detail, "0x84 share=0x3 disp=4 flags=0x200080");
}

/* On XP Power Users may write to the Windows folder: a link planted under
 * the log's name, or a second name of another file, is not written
 * through; nor is a folder of that name, nor a log that cannot be
 * opened. */
TEST_F(RunLogTest, ALinkASecondHardLinkOrAFolderIsNotWritten)
{
    const struct {
        const char *what;
        DWORD attributes;
        DWORD links;
    } cases[] = {{"reparse point", FILE_ATTRIBUTE_REPARSE_POINT, 1},
                 {"hard link", 0, 2},
                 {"folder", 0, 1},
                 {"cannot open", 0, 1}};
    for (auto &c : cases) {
        SetUp();
        SCOPED_TRACE(c.what);
        if (std::string(c.what) == "folder") {
            winhost::SeedFolder(kLog);
        } else if (std::string(c.what) == "cannot open") {
            winhost::FailCall("CreateFileW", ERROR_SHARING_VIOLATION);
        } else {
            winhost::FileEntry &e = winhost::SeedFile(kLog, "planted");
            e.attributes |= c.attributes;
            e.links = c.links;
        }
        SetLastError(77);
        EXPECT_FALSE(RunLogOpen(kLog.c_str(), TRUE, u"Qx"));
        EXPECT_EQ(GetLastError(), 77u);
        RunLog(u"nothing");
        RunLogClose();
        EXPECT_TRUE(winhost::CallsOf("WriteFile").empty());
        EXPECT_EQ(winhost::OpenHandleCount(), 0);
    }
}

/* A log over 1 MiB, opened by a run holding the run lock, becomes the
 * old log (replacing an older one) and a new one starts; at 1 MiB, or
 * without the lock, it grows on.  The old name keeps the extension.  A
 * rename refused while another run has the log open leaves the log to
 * grow until a later run can rename it. */
TEST_F(RunLogTest, ALogOverOneMibIsRenamedByARunHoldingTheLock)
{
    const u16 kOld = u"C:\\Windows\\QxDspInstaller.old.log";
    const struct {
        u16 log, old;
        size_t size;
        BOOL rotate;
        bool held, renamed;
    } cases[] = {
        {kLog, kOld, RUN_LOG_ROTATE_CB + 1, TRUE, false, true},
        {kLog, kOld, RUN_LOG_ROTATE_CB, TRUE, false, false},
        {kLog, kOld, RUN_LOG_ROTATE_CB + 1, FALSE, false, false},
        {kLog, kOld, RUN_LOG_ROTATE_CB + 1, TRUE, true, false},
        {u"C:\\logs.d\\qx", u"C:\\logs.d\\qx.old", RUN_LOG_ROTATE_CB + 1, TRUE,
         false, true},
    };
    for (auto &c : cases) {
        SetUp();
        SCOPED_TRACE(winhost::ToUtf8(c.log) + " " + std::to_string(c.size) +
                     (c.held ? " held" : ""));
        const std::string big = kBom + std::string(c.size - kBom.size(), 'o');
        winhost::FileEntry &e = winhost::SeedFile(c.log, big);
        if (c.held) {
            e.heldAccess = FILE_APPEND_DATA;
            e.heldShare = FILE_SHARE_READ | FILE_SHARE_WRITE;
        }
        winhost::SeedFile(c.old, "older still");
        ASSERT_TRUE(RunLogOpen(c.log.c_str(), c.rotate, u"Qx"));
        RunLogClose();
        const std::string block = kTime + "Qx\r\n\r\n";
        EXPECT_EQ(FileText(c.log), c.renamed ? kBom + block : big + block);
        EXPECT_EQ(FileText(c.old), c.renamed ? big : "older still");
        EXPECT_EQ(winhost::CallsOf("MoveFileExW").size(),
                  c.renamed || c.held ? 1u : 0u);
        EXPECT_EQ(winhost::OpenHandleCount(), 0);
    }
}

/* Setup's log takes one ANSI line of at most 325 characters of text, from
 * Vista on; its text goes in as the argument of a "%s" format. */
TEST_F(RunLogTest, TheSetupSummaryIsOneAnsiLineFromVistaOn)
{
    const struct {
        DWORD major;
        u16 text;
        std::vector<std::string> lines;
    } cases[] = {
        {10, u"Qx: 100% done, C:\\Windows\\驱动.log",
         {"Qx: 100% done, C:\\Windows\\??.log"}},
        {10, u16(325, u'x'), {std::string(325, 'x')}},
        {10, u16(326, u'x'), {}},
        {5, u"Qx on XP", {}},
    };
    for (auto &c : cases) {
        SetUp();
        machine().osMajor = c.major;
        SetLastError(5);
        RunLogSetupSummary(c.text.c_str());
        EXPECT_EQ(GetLastError(), 5u);
        EXPECT_EQ(machine().setupLogLines, c.lines);
        for (auto &call : winhost::CallsOf("SetupWriteTextLog"))
            EXPECT_EQ(call.detail, "token=3 category=0x80000000 flags=0x4");
    }
}
