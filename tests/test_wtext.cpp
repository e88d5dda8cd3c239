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

TEST(TextEqualNoCase, IgnoresTheCaseOfAsciiLettersAloneOverTheWholeText)
{
    EXPECT_TRUE(TextEqualNoCase(TEXT("LibUsb0"), TEXT("libusb0")));
    EXPECT_FALSE(TextEqualNoCase(TEXT("libusb0"), TEXT("libusb0x")));
    EXPECT_FALSE(TextEqualNoCase(TEXT("libusb0x"), TEXT("libusb0")));
    /* U+00E9 and U+00C9 differ: only 'a'-'z' fold. */
    EXPECT_FALSE(TextEqualNoCase(u"\u00e9", u"\u00c9"));
    /* '@' (0x40) and '`' (0x60) are no letters. */
    EXPECT_FALSE(TextEqualNoCase(TEXT("@"), TEXT("`")));
}
