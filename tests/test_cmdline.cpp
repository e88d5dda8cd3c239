#include "fixture.h"

#include "app/cmdline.h"

TEST(CmdLine, SwitchesAreCaseBlindAndAnythingElseIsABadCommandLine)
{
    const u16 longArg = u"/log C:\\" + u16(MAX_PATH, u'x');
    const u16 longName = u"\"C:\\" + u16(MAX_PATH, u'p') + u"\\Qx.exe\" /q";
    const struct {
        u16 line;
        CMDLINE_ACTION action;
        BOOL quiet;
        u16 log;
        BOOL uninstall;
    } cases[] = {
        {u"", CMDLINE_RUN, FALSE, u""},
        {u"\"C:\\pkg\\QxDspInstaller.exe\"", CMDLINE_RUN, FALSE, u""},
        {u"Qx.exe /quiet", CMDLINE_RUN, TRUE, u""},
        {u"Qx.exe /Q", CMDLINE_RUN, TRUE, u""},
        {u"Qx.exe\t-S  /NoRestart", CMDLINE_RUN, TRUE, u""},
        {u"\"C:\\Program Files\\Qx.exe\" -QUIET", CMDLINE_RUN, TRUE, u""},
        {longName, CMDLINE_RUN, TRUE, u""},
        {u"Qx.exe /norestart", CMDLINE_RUN, FALSE, u""},
        {u"Qx.exe /log C:\\l.txt", CMDLINE_RUN, FALSE, u"C:\\l.txt"},
        {u"Qx.exe /LOG \"C:\\a b\\l.txt\" /q", CMDLINE_RUN, TRUE, u"C:\\a b\\l.txt"},
        {u"Qx.exe /?", CMDLINE_HELP, FALSE, u""},
        {u"Qx.exe -H /quiet", CMDLINE_HELP, TRUE, u""},
        {u"Qx.exe /Help", CMDLINE_HELP, FALSE, u""},
        {u"Qx.exe /bogus", CMDLINE_BAD, FALSE, u""},
        {u"Qx.exe quiet", CMDLINE_BAD, FALSE, u""},
        {u"Qx.exe /quietly", CMDLINE_BAD, FALSE, u""},
        {u"Qx.exe /", CMDLINE_BAD, FALSE, u""},
        {u"Qx.exe /? /bogus", CMDLINE_BAD, FALSE, u""},
        {u"Qx.exe /log", CMDLINE_BAD, FALSE, u""},
        {u"Qx.exe /log \"\"", CMDLINE_BAD, FALSE, u""},
        /* A forgotten FILE must not swallow the quiet switch. */
        {u"Qx.exe /log /quiet", CMDLINE_BAD, FALSE, u""},
        {u"Qx.exe /log -q", CMDLINE_BAD, FALSE, u""},
        {u"Qx.exe " + longArg, CMDLINE_BAD, FALSE, u""},
        {u"Qx.exe /uninstall /quiet", CMDLINE_RUN, TRUE, u"", TRUE},
        {u"Qx.exe -U /log C:\\u.log", CMDLINE_RUN, FALSE, u"C:\\u.log", TRUE},
        {u"Qx.exe /X /?", CMDLINE_HELP, FALSE, u"", TRUE},
        {u"Qx.exe /uninstal", CMDLINE_BAD, FALSE, u""},
    };
    for (auto &c : cases) {
        SCOPED_TRACE(winhost::ToUtf8(c.line).substr(0, 80));
        CMDLINE parsed;
        CmdLineParse(c.line.c_str(), &parsed);
        EXPECT_EQ(parsed.action, c.action);
        EXPECT_EQ(parsed.quiet, c.quiet);
        EXPECT_EQ(u16(parsed.log), c.log);
        EXPECT_EQ(parsed.uninstall, c.uninstall);
    }
}
