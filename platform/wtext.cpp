#include "platform/wtext.h"

DWORD TextLength(LPCWSTR text, DWORD cchMax)
{
    DWORD cch = 0;
    while (cch < cchMax && text[cch] != 0)
        cch++;
    return cch;
}

void TextZero(LPWSTR buf, DWORD cch)
{
    for (DWORD i = 0; i < cch; i++)
        buf[i] = 0;
}

BOOL TextAppend(LPWSTR dst, DWORD cchDst, LPCWSTR src)
{
    DWORD used = TextLength(dst, cchDst);
    DWORD add = TextLength(src, TEXT_MEASURE_MAX_CCH);
    if (used >= cchDst || add >= cchDst - used)
        return FALSE;
    for (DWORD i = 0; i < add; i++)
        dst[used + i] = src[i];
    dst[used + add] = 0;
    return TRUE;
}

BOOL TextCopy(LPWSTR dst, DWORD cchDst, LPCWSTR src)
{
    if (cchDst == 0)
        return FALSE;
    dst[0] = 0;
    return TextAppend(dst, cchDst, src);
}

BOOL TextJoin(LPWSTR dst, DWORD cchDst, const LPCWSTR *parts, DWORD count)
{
    TextZero(dst, cchDst);
    for (DWORD i = 0; i < count; i++) {
        if (!TextAppend(dst, cchDst, parts[i]))
            return FALSE;
    }
    return TRUE;
}

BOOL TextStartsWith(LPCWSTR text, LPCWSTR prefix)
{
    for (DWORD i = 0; prefix[i] != 0; i++) {
        if (text[i] != prefix[i])
            return FALSE;
    }
    return TRUE;
}

BOOL TextEqual(LPCWSTR a, LPCWSTR b)
{
    DWORD i = 0;
    while (a[i] != 0 && a[i] == b[i])
        i++;
    return a[i] == b[i];
}

/* Only A-Z and a-z fold; every other unit compares as it is. */
static WCHAR AsciiLower(WCHAR c)
{
    return (c >= TEXT('A') && c <= TEXT('Z')) ? (WCHAR)(c - TEXT('A') + TEXT('a'))
                                              : c;
}

BOOL TextEqualAsciiNoCase(LPCWSTR a, LPCWSTR b)
{
    DWORD i = 0;
    while (a[i] != 0 && AsciiLower(a[i]) == AsciiLower(b[i]))
        i++;
    return AsciiLower(a[i]) == AsciiLower(b[i]);
}

BOOL TextStartsWithAsciiNoCase(LPCWSTR text, LPCWSTR prefix)
{
    for (DWORD i = 0; prefix[i] != 0; i++) {
        if (AsciiLower(text[i]) != AsciiLower(prefix[i]))
            return FALSE;
    }
    return TRUE;
}
