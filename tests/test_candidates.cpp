/* The candidate INF list and the wide text search. */
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "discovery/candidates.h"
#include "tests/fixture.h"

namespace {

class CandidateList : public MachineTest {
protected:
    static std::vector<u16> Entries()
    {
        std::vector<u16> out;
        for (LONG i = 0; i < g_Candidates.count; i++)
            out.push_back(g_Candidates.entries[i]);
        return out;
    }
};

TEST_F(CandidateList, AppendsNamesInTheOrderOffered)
{
    EXPECT_TRUE(AddCandidate(u"oem12.inf"));
    EXPECT_TRUE(AddCandidate(u"oem3.inf"));
    EXPECT_EQ(Entries(), (std::vector<u16>{u"oem12.inf", u"oem3.inf"}));
}

TEST_F(CandidateList, RefusesANameEqualToOrAPrefixOfAnEarlierEntry)
{
    ASSERT_TRUE(AddCandidate(u"oem12.inf"));
    EXPECT_FALSE(AddCandidate(u"oem12.inf"));
    EXPECT_FALSE(AddCandidate(u"oem12.in"));
    EXPECT_FALSE(AddCandidate(u"oem1"));
    EXPECT_EQ(g_Candidates.count, 1);
}

TEST_F(CandidateList, AcceptsANameThatOnlySharesAPrefixOrDiffersInCase)
{
    ASSERT_TRUE(AddCandidate(u"oem12.inf"));
    EXPECT_TRUE(AddCandidate(u"oem1.inf"));
    EXPECT_TRUE(AddCandidate(u"oem123.inf"));
    EXPECT_TRUE(AddCandidate(u"OEM12.INF"));
    EXPECT_EQ(g_Candidates.count, 4);
}

TEST_F(CandidateList, HoldsTenNamesAndRefusesTheEleventh)
{
    for (int i = 0; i < CANDIDATE_MAX; i++)
        ASSERT_TRUE(
            AddCandidate((u"oem" + u16(1, u'0' + i) + u".inf").c_str()));
    EXPECT_FALSE(AddCandidate(u"oem10.inf"));
    EXPECT_EQ(g_Candidates.count, CANDIDATE_MAX);
}

TEST_F(CandidateList, RefusesNamesShorterThanThreeUnits)
{
    EXPECT_FALSE(AddCandidate(u""));
    EXPECT_FALSE(AddCandidate(u"ab"));
    EXPECT_FALSE(AddCandidate(u"abc"));
    EXPECT_EQ(g_Candidates.count, 0);
    EXPECT_TRUE(AddCandidate(u"oem1.inf"));
}

/* The removal sweep deletes C:\Windows\INF\ + entry, recursively and with
 * wildcards expanded: only a name of one file in that folder may pass. */
TEST_F(CandidateList, RefusesNamesThatReachBeyondOneFileOfTheFolder)
{
    /* Other places; wildcards; names Win32 trims; units no name holds. */
    const u16 refused[] = {
        u"..\\System32", u"a\\b",     u"a/b",       u"C:x",
        u"*",            u"oem*.inf", u"oem?.inf",  u"oem<.inf",
        u".",            u"..",       u"...",       u"oem1.inf.",
        u"oem1.inf ",    u"a|b",      u"a\"b",      u"a\tb",
    };
    for (const u16 &name : refused)
        EXPECT_FALSE(AddCandidate(name.c_str())) << winhost::ToUtf8(name);
    EXPECT_EQ(g_Candidates.count, 0);
}

/* Windows names a third-party INF it installs "oem", a number, ".inf";
 * a device's keys may also name Windows' own INF files, which the sweep
 * must never uninstall or delete. */
TEST_F(CandidateList, AcceptsOnlyOemDigitsDotInfWithLettersInAnyCase)
{
    const u16 accepted[] = {u"oem0.inf", u"OEM21.INF", u"Oem3.iNf",
                            u"oem0123456789.inf"};
    for (const u16 &name : accepted)
        EXPECT_TRUE(AddCandidate(name.c_str())) << winhost::ToUtf8(name);
    EXPECT_EQ(g_Candidates.count, 4);
}

TEST_F(CandidateList, RefusesWindowsOwnInfsAndEveryOtherName)
{
    const u16 refused[] = {
        /* Windows' own. */
        u"usb.inf", u"winusb.inf", u"machine.inf", u"wpdmtp.inf",
        /* Almost the form: no digits, a letter or a space or a sign
         * among them, digits elsewhere, another extension, a dot or a
         * prefix more or less, a full-width digit. */
        u"oem.inf", u"oema.inf", u"oem1a.inf", u"oem 2.inf", u"oem+2.inf",
        u"oem-2.inf", u"1oem.inf", u"oem1.pnf", u"oem1.infx", u"oem1.in",
        u"oem1inf", u"oem1..inf", u".oem1.inf", u"xoem1.inf", u"oem１.inf",
        u"oem1.inf.bak",
    };
    for (const u16 &name : refused)
        EXPECT_FALSE(AddCandidate(name.c_str())) << winhost::ToUtf8(name);
    EXPECT_EQ(g_Candidates.count, 0);
}

TEST_F(CandidateList, RefusesANameLongerThanAnEntryHolds)
{
    /* "oem", digits and ".inf": 256 units, then 255. */
    EXPECT_FALSE(AddCandidate((u"oem" + u16(249, u'7') + u".inf").c_str()));
    EXPECT_TRUE(AddCandidate((u"oem" + u16(248, u'7') + u".inf").c_str()));
    EXPECT_EQ(u16(g_Candidates.entries[0]).size(), CANDIDATE_CCH - 1u);
}

TEST(WideTextSearch, ReturnsTheIndexAfterTheFirstOccurrence)
{
    EXPECT_EQ(WideTextSearch(u"oem12.inf,desc", u".inf"), 9);
    EXPECT_EQ(WideTextSearch(u"xabc", u"bc"), 4);
    EXPECT_EQ(WideTextSearch(u"abc", u"abc"), 3);
    EXPECT_EQ(WideTextSearch(u"a.inf.inf", u".inf"), 5);
}

TEST(WideTextSearch, ReturnsZeroWhenTheNeedleDoesNotOccurExactly)
{
    EXPECT_EQ(WideTextSearch(u"abc", u"abcd"), 0);
    EXPECT_EQ(WideTextSearch(u"", u"a"), 0);
    EXPECT_EQ(WideTextSearch(u"abc", u""), 0);
    EXPECT_EQ(WideTextSearch(u".INF", u".inf"), 0);
}

TEST(WideTextSearch, UsesOnlyTheFirst256NeedleUnits)
{
    u16 text = u"x" + u16(256, u'n') + u"-";
    EXPECT_EQ(WideTextSearch(text.c_str(), (u16(256, u'n') + u"?").c_str()),
              257);
}

TEST(WideTextSearch, FindsAMatchOnlyWhenItBeginsInTheFirst65535Units)
{
    u16 text(65534, u'a');
    EXPECT_EQ(WideTextSearch((text + u"bc").c_str(), u"bc"), 65536);
    EXPECT_EQ(WideTextSearch((text + u"abc").c_str(), u"bc"), 0);
}

} // namespace
