#include "staging/package_inf.h"

#include "platform/system_dll.h"
#include "platform/wtext.h"

/* An ARM64 models section's decoration, alone or before a '.' and the
 * OS version it is for. */
#define ARM64_DECORATION TEXT("NTarm64")

/* Setup's INF reading, looked up in setupapi like every Setup function. */
typedef struct INF_READER {
    PFN_SETUP_OPEN_INF_FILE_W open;
    PFN_SETUP_CLOSE_INF_FILE close;
    PFN_SETUP_FIND_FIRST_LINE_W findFirst;
    PFN_SETUP_FIND_NEXT_LINE findNext;
    PFN_SETUP_GET_STRING_FIELD_W field;
} INF_READER;

/* Opens the INF at path, Windows NT style, with every function looked up.
 * INVALID_HANDLE_VALUE when a function or the INF cannot be had. */
static HINF OpenInf(LPCWSTR path, INF_READER *reader)
{
    reader->open = (PFN_SETUP_OPEN_INF_FILE_W)(void (*)(void))SystemDllProc(
        SETUPAPI_DLL, "SetupOpenInfFileW");
    reader->close = (PFN_SETUP_CLOSE_INF_FILE)(void (*)(void))SystemDllProc(
        SETUPAPI_DLL, "SetupCloseInfFile");
    reader->findFirst = (PFN_SETUP_FIND_FIRST_LINE_W)(void (*)(void))
        SystemDllProc(SETUPAPI_DLL, "SetupFindFirstLineW");
    reader->findNext = (PFN_SETUP_FIND_NEXT_LINE)(void (*)(void))SystemDllProc(
        SETUPAPI_DLL, "SetupFindNextLine");
    reader->field = (PFN_SETUP_GET_STRING_FIELD_W)(void (*)(void))
        SystemDllProc(SETUPAPI_DLL, "SetupGetStringFieldW");
    if (reader->open == NULL || reader->close == NULL ||
        reader->findFirst == NULL || reader->findNext == NULL ||
        reader->field == NULL)
        return INVALID_HANDLE_VALUE;
    return reader->open(path, NULL, INF_STYLE_WIN4, NULL);
}

/* Field index of [Version]'s line key into text (INF_FIELD_CCH units),
 * empty where the line, the field or the room for it is missing. */
static void ReadVersionField(const INF_READER *reader, HINF inf, LPCWSTR key,
                             DWORD index, LPWSTR text)
{
    INFCONTEXT line;
    if (!reader->findFirst(inf, TEXT("Version"), key, &line) ||
        !reader->field(&line, index, text, INF_FIELD_CCH, NULL))
        TextZero(text, INF_FIELD_CCH);
}

BOOL PackageInfReadVersion(LPCWSTR path, PACKAGE_INF_VERSION *info)
{
    TextZero(info->version, ARRAYSIZE(info->version));
    TextZero(info->provider, ARRAYSIZE(info->provider));
    INF_READER reader;
    HINF inf = OpenInf(path, &reader);
    if (inf == INVALID_HANDLE_VALUE)
        return FALSE;
    ReadVersionField(&reader, inf, TEXT("DriverVer"), 2, info->version);
    ReadVersionField(&reader, inf, TEXT("Provider"), 1, info->provider);
    reader.close(inf);
    return TRUE;
}

/* TRUE for NTarm64 alone or followed by '.', without case. */
static BOOL IsArm64Decoration(LPCWSTR decoration)
{
    DWORD cch = TextLength(ARM64_DECORATION, INF_FIELD_CCH);
    return TextStartsWithAsciiNoCase(decoration, ARM64_DECORATION) &&
           (decoration[cch] == 0 || decoration[cch] == TEXT('.'));
}

BOOL PackageInfNamesArm64(LPCWSTR path)
{
    INF_READER reader;
    HINF inf = OpenInf(path, &reader);
    if (inf == INVALID_HANDLE_VALUE)
        return FALSE;
    BOOL named = FALSE;
    INFCONTEXT line;
    /* Field 1 is the models section's name; its decorations follow.  A
     * field past the line's last fails, which ends that line; one too
     * long for the buffer is no NTarm64 and is passed over. */
    BOOL more = reader.findFirst(inf, TEXT("Manufacturer"), NULL, &line);
    while (more && !named) {
        WCHAR decoration[INF_FIELD_CCH];
        for (DWORD i = 2; !named; i++) {
            if (reader.field(&line, i, decoration, ARRAYSIZE(decoration),
                             NULL))
                named = IsArm64Decoration(decoration);
            else if (GetLastError() != ERROR_INSUFFICIENT_BUFFER)
                break;
        }
        more = reader.findNext(&line, &line);
    }
    reader.close(inf);
    return named;
}
