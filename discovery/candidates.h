/*
 * The candidate INF list: names of installed OEM INF copies that belong to
 * the device, offered by the discovery scans and read by the removal
 * sweep; and the wide text search the scans match with.
 */
#ifndef QX_DISCOVERY_CANDIDATES_H
#define QX_DISCOVERY_CANDIDATES_H

#include "platform/win32.h"

#define CANDIDATE_MAX 10  /* entries */
#define CANDIDATE_CCH 256 /* units per entry, terminator included */

typedef struct CANDIDATE_LIST {
    LONG count;
    WCHAR entries[CANDIDATE_MAX][CANDIDATE_CCH];
} CANDIDATE_LIST;

/* Process-wide, empty at start, never cleared. */
extern CANDIDATE_LIST g_Candidates;

/* Appends name.  TRUE: appended as the new last entry.  FALSE: refused
 * (list full, a name not of the form "oem" + decimal digits + ".inf" with
 * its ASCII letters in any case, or equal to or a prefix of an earlier
 * entry). */
BOOL AddCandidate(LPCWSTR name);

/* Index, in units from the start of text, of the first unit after the
 * first occurrence of needle; 0 when needle does not occur (an empty
 * needle or text included). */
LONG WideTextSearch(LPCWSTR text, LPCWSTR needle);

#endif
