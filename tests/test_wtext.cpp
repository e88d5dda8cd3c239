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

TEST(TextEqualAsciiNoCase, IgnoresTheCaseOfAsciiLettersOnlyAndComparesLengths)
{
    EXPECT_TRUE(TextEqualAsciiNoCase(TEXT("C:\\windows"), TEXT("C:\\Windows")));
    EXPECT_TRUE(TextEqualAsciiNoCase(TEXT("c:\\WINDOWS"), TEXT("C:\\Windows")));
    EXPECT_FALSE(TextEqualAsciiNoCase(TEXT("C:\\Windows\\"), TEXT("C:\\Windows")));
    EXPECT_FALSE(TextEqualAsciiNoCase(TEXT("C:\\Win"), TEXT("C:\\Windows")));
    EXPECT_FALSE(TextEqualAsciiNoCase(TEXT("C:\\WINNT"), TEXT("C:\\Windows")));
    /* U+00C0 and U+00E0 are one letter's two cases, but not ASCII. */
    EXPECT_FALSE(TextEqualAsciiNoCase(TEXT("\u00C0"), TEXT("\u00E0")));
    EXPECT_TRUE(TextEqualAsciiNoCase(TEXT("LibUsb0"), TEXT("libusb0")));
    EXPECT_FALSE(TextEqualAsciiNoCase(TEXT("libusb0x"), TEXT("libusb0")));
    /* '@' (0x40) and '`' (0x60) are no letters. */
    EXPECT_FALSE(TextEqualAsciiNoCase(TEXT("@"), TEXT("`")));
}
