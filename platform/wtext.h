/*
 * Bounded UTF-16 text helpers shared by every subsystem.
 *
 * A unit is one 16-bit code unit; a string ends at its first zero unit.
 * Every concatenation into a fixed buffer goes through TextAppend, which
 * refuses a result that would not fit instead of cutting it.
 */
#ifndef QX_PLATFORM_WTEXT_H
#define QX_PLATFORM_WTEXT_H

#include "platform/win32.h"

/* Longest text the installer ever measures, in units. */
#define TEXT_MEASURE_MAX_CCH 65535

/* Units before the first zero unit of text, counting at most cchMax. */
DWORD TextLength(LPCWSTR text, DWORD cchMax);

/* Fills cch units of buf with zero. */
void TextZero(LPWSTR buf, DWORD cch);

/* Appends src to the string in dst (capacity cchDst units, terminator
 * included).  TRUE: appended.  FALSE: it would not fit; dst is unchanged. */
BOOL TextAppend(LPWSTR dst, DWORD cchDst, LPCWSTR src);

/* Copies src into dst (capacity cchDst).  TRUE: copied.  FALSE: it would
 * not fit; dst is left an empty string. */
BOOL TextCopy(LPWSTR dst, DWORD cchDst, LPCWSTR src);

/* The first count of parts, one after the other, into dst (capacity
 * cchDst).  TRUE: joined.  FALSE: they would not fit; dst is then what
 * fitted of them, to be used for nothing. */
BOOL TextJoin(LPWSTR dst, DWORD cchDst, const LPCWSTR *parts, DWORD count);

/* TRUE when text begins with prefix, compared unit for unit (case matters)
 * over the prefix's own length; the terminators take no part. */
BOOL TextStartsWith(LPCWSTR text, LPCWSTR prefix);

/* As TextStartsWith, but the ASCII letters' case is ignored. */
BOOL TextStartsWithAsciiNoCase(LPCWSTR text, LPCWSTR prefix);

/* TRUE when a and b are equal unit for unit, terminators included. */
BOOL TextEqual(LPCWSTR a, LPCWSTR b);

/* As TextEqual, but the ASCII letters' case is ignored (only A-Z, a-z). */
BOOL TextEqualAsciiNoCase(LPCWSTR a, LPCWSTR b);

#endif
