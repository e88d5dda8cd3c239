#include "discovery/candidates.h"

#include "platform/wtext.h"

/* The removal sweep derives a second name from an entry by replacing its
 * last three units, so a shorter name has nothing to replace. */
#define CANDIDATE_MIN_CCH 3

/* The only name Windows gives an INF it installs for a third party:
 * "oem", one or more decimal digits, ".inf". */
#define OEM_INF_PREFIX "oem"
#define OEM_INF_PREFIX_CCH 3
#define OEM_INF_EXTENSION ".inf"
#define OEM_INF_EXTENSION_CCH 4

/* Only this many needle units take part in a search. */
#define SEARCH_NEEDLE_MAX_CCH 256

/* The removal sweep hands "C:\Windows\INF\" + entry to SHFileOperationW,
 * which deletes recursively and expands wildcards, so an entry must name
 * one file in that folder and nothing else.  These are the units Windows
 * refuses in a file name: separators and the drive colon would reach
 * outside the folder, and "*" "?" (and "<" ">" "\"", which the file
 * system also treats as wildcards) would match more than one file. */
static const WCHAR kRefusedUnits[] = {
    TEXT('\\'), TEXT('/'), TEXT(':'), TEXT('*'), TEXT('?'),
    TEXT('<'),  TEXT('>'), TEXT('"'), TEXT('|'),
};

CANDIDATE_LIST g_Candidates;

static BOOL IsRefusedUnit(WCHAR unit)
{
    /* Control units are not allowed in file names either. */
    if (unit < TEXT(' '))
        return TRUE;
    for (DWORD i = 0; i < ARRAYSIZE(kRefusedUnits); i++) {
        if (unit == kRefusedUnits[i])
            return TRUE;
    }
    return FALSE;
}

/* A name that stands for one file of the INF folder, under that name. */
static BOOL IsPlainFileName(LPCWSTR name, DWORD cch)
{
    for (DWORD i = 0; i < cch; i++) {
        if (IsRefusedUnit(name[i]))
            return FALSE;
    }
    /* Win32 drops trailing dots and spaces from a path's last component:
     * "." and ".." name the folder and its parent, and "..." or "a. "
     * would name the folder itself or another file. */
    WCHAR last = name[cch - 1];
    return last != TEXT('.') && last != TEXT(' ');
}

/* An ASCII letter in lower case; every other unit as it is. */
static WCHAR AsciiLower(WCHAR unit)
{
    if (unit >= TEXT('A') && unit <= TEXT('Z'))
        return (WCHAR)(unit - TEXT('A') + TEXT('a'));
    return unit;
}

/* TRUE when the cch units of text equal the ASCII text lower, letters in
 * any case. */
static BOOL AsciiEqualNoCase(LPCWSTR text, const char *lower, DWORD cch)
{
    for (DWORD i = 0; i < cch; i++) {
        if (AsciiLower(text[i]) != (WCHAR)lower[i])
            return FALSE;
    }
    return TRUE;
}

/* A device's keys may name Windows' own INF files (a composite device's
 * "@usb.inf,...", WinUSB's "@winusb.inf,...", an InfPath of machine.inf):
 * those must never reach the sweep, which uninstalls and deletes what the
 * list holds, so only a third-party INF's name passes. */
static BOOL IsOemInfName(LPCWSTR name, DWORD cch)
{
    if (cch < OEM_INF_PREFIX_CCH + 1 + OEM_INF_EXTENSION_CCH)
        return FALSE;
    DWORD digitsEnd = cch - OEM_INF_EXTENSION_CCH;
    if (!AsciiEqualNoCase(name, OEM_INF_PREFIX, OEM_INF_PREFIX_CCH) ||
        !AsciiEqualNoCase(name + digitsEnd, OEM_INF_EXTENSION,
                          OEM_INF_EXTENSION_CCH))
        return FALSE;
    for (DWORD i = OEM_INF_PREFIX_CCH; i < digitsEnd; i++) {
        if (name[i] < TEXT('0') || name[i] > TEXT('9'))
            return FALSE;
    }
    return TRUE;
}

BOOL AddCandidate(LPCWSTR name)
{
    /* A full list compares nothing. */
    if (g_Candidates.count >= CANDIDATE_MAX)
        return FALSE;
    DWORD cch = TextLength(name, TEXT_MEASURE_MAX_CCH);
    if (cch < CANDIDATE_MIN_CCH || !IsPlainFileName(name, cch) ||
        !IsOemInfName(name, cch))
        return FALSE;
    /* Equal to, or a prefix of, an earlier entry: compared over the
     * name's own length, unit for unit, so case matters. */
    for (LONG e = 0; e < g_Candidates.count; e++) {
        LPCWSTR entry = g_Candidates.entries[e];
        DWORD i = 0;
        while (i < cch && entry[i] == name[i])
            i++;
        if (i == cch)
            return FALSE;
    }
    if (!TextCopy(g_Candidates.entries[g_Candidates.count],
                  ARRAYSIZE(g_Candidates.entries[0]), name))
        return FALSE;
    g_Candidates.count++;
    return TRUE;
}

LONG WideTextSearch(LPCWSTR text, LPCWSTR needle)
{
    DWORD textCch = TextLength(text, TEXT_MEASURE_MAX_CCH);
    DWORD needleCch = TextLength(needle, SEARCH_NEEDLE_MAX_CCH);
    /* An empty needle would match at 0 and yield 0: "not found". */
    if (needleCch == 0)
        return 0;
    for (DWORD i = 0; i < textCch; i++) {
        DWORD j = 0;
        /* No needle unit taking part is zero, so a match never runs past
         * the text's terminator. */
        while (j < needleCch && text[i + j] == needle[j])
            j++;
        if (j == needleCch)
            return static_cast<LONG>(i + needleCch);
    }
    return 0;
}
