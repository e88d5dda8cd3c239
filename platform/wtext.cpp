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

/* 'a'..'z' as 'A'..'Z'; every other unit as it is. */
static WCHAR AsciiUpper(WCHAR unit)
{
    if (unit >= TEXT('a') && unit <= TEXT('z'))
        return (WCHAR)(unit - TEXT('a') + TEXT('A'));
    return unit;
}

BOOL TextEqualNoCase(LPCWSTR a, LPCWSTR b)
{
    DWORD i = 0;
    while (a[i] != 0 && AsciiUpper(a[i]) == AsciiUpper(b[i]))
        i++;
    return AsciiUpper(a[i]) == AsciiUpper(b[i]);
}
