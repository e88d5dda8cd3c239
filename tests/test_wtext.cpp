#include <gtest/gtest.h>

#include "platform/wtext.h"

TEST(TextAppend, RefusesWhatWouldNotFitAndLeavesTheBufferAlone)
{
    WCHAR buf[6] = TEXT("ab");
    EXPECT_TRUE(TextAppend(buf, ARRAYSIZE(buf), TEXT("cde")));
    EXPECT_EQ(std::u16string(buf), u"abcde");
    EXPECT_FALSE(TextAppend(buf, ARRAYSIZE(buf), TEXT("f")));
    EXPECT_EQ(std::u16string(buf), u"abcde");
}

TEST(TextStartsWith, ComparesOverThePrefixLengthWithCase)
{
    EXPECT_TRUE(TextStartsWith(TEXT("QX DSP USB Audio"), TEXT("QX DSP USB")));
    EXPECT_FALSE(TextStartsWith(TEXT("qx dsp usb"), TEXT("QX DSP USB")));
    EXPECT_FALSE(TextStartsWith(TEXT("QX"), TEXT("QX DSP")));
}
