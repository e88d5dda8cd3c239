// rescheck: reads the resources of an executable through the Win32
// resource functions and checks each against what the installer must
// carry.
//
// Usage: rescheck.exe REPORT EXE
//
// The executable is loaded as a data file, so none of its code runs.  One
// line per check goes to REPORT (UTF-8): "PASS <check>" or
// "FAIL <check>: <what was found>", then "DONE <failures>".  Exit code 0
// when every check passed, 1 when one failed, 2 on bad usage or when the
// report cannot be written.
#include <windows.h>
#include <stdarg.h>
#include <stdio.h>
#include <string.h>
#include <wchar.h>

#include "e2e/resources/check_report.h"
#include "res/resource.h"

namespace {

// Chinese (PRC) for every resource but the manifest, which is US English.
const LANGID kChinese = MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_SIMPLIFIED);
const LANGID kEnglish = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);

// One icon image: 128 x 128 pixels at 32 bits, BMP form (header, colour
// pixels, then a 1-bit AND mask whose rows are padded to 32 bits).
const int kIconSide = 128;
const WORD kIconBits = 32;
const DWORD kIconImageBytes = sizeof(BITMAPINFOHEADER) +
                              kIconSide * kIconSide * 4 +
                              kIconSide * ((kIconSide + 31) / 32) * 4;

// The icon format version CreateIconFromResourceEx takes.
const DWORD kIconFormat = 0x00030000;

// Strings are stored in blocks of 16; block n holds ids 16(n-1)..16n-1.
const UINT kStringsPerBlock = 16;


// A resource's bytes in one language, or NULL with the last error set.
const BYTE *ResourceBytes(HMODULE module, LPCWSTR type, LPCWSTR name,
                          LANGID lang, DWORD *size)
{
    *size = 0;
    HRSRC found = FindResourceExW(module, type, name, lang);
    if (!found)
        return NULL;
    HGLOBAL loaded = LoadResource(module, found);
    if (!loaded)
        return NULL;
    *size = SizeofResource(module, found);
    return (const BYTE *)LockResource(loaded);
}

// ---- which resources exist, and in which languages ----

struct Inventory {
    LPCWSTR types[32];
    int typeCount;
    UINT_PTR names[32];
    int nameCount;
    LANGID langs[8];
    int langCount;
};

BOOL CALLBACK OnType(HMODULE, LPWSTR type, LONG_PTR param)
{
    Inventory *inv = (Inventory *)param;
    if (inv->typeCount < (int)ARRAYSIZE(inv->types))
        inv->types[inv->typeCount] = IS_INTRESOURCE(type) ? type : NULL;
    inv->typeCount++;
    return TRUE;
}

BOOL CALLBACK OnName(HMODULE, LPCWSTR, LPWSTR name, LONG_PTR param)
{
    Inventory *inv = (Inventory *)param;
    if (inv->nameCount < (int)ARRAYSIZE(inv->names))
        inv->names[inv->nameCount] =
            IS_INTRESOURCE(name) ? (UINT_PTR)name : (UINT_PTR)-1;
    inv->nameCount++;
    return TRUE;
}

BOOL CALLBACK OnLang(HMODULE, LPCWSTR, LPCWSTR, WORD lang, LONG_PTR param)
{
    Inventory *inv = (Inventory *)param;
    if (inv->langCount < (int)ARRAYSIZE(inv->langs))
        inv->langs[inv->langCount] = lang;
    inv->langCount++;
    return TRUE;
}

struct Expected {
    LPCWSTR type;
    const wchar_t *typeName;
    UINT_PTR names[4];
    int nameCount;
    LANGID lang;
};

void CheckInventory(HMODULE module, const UINT_PTR iconIds[2])
{
    const Expected expected[] = {
        {RT_MANIFEST, L"manifest", {IDR_MANIFEST}, 1, kEnglish},
        {RT_GROUP_ICON, L"icon group", {IDI_INSTALLER, IDI_SMALL}, 2, kChinese},
        {RT_ICON, L"icon image", {iconIds[0], iconIds[1]}, 2, kChinese},
        {RT_MENU, L"menu", {IDC_INSTALLER}, 1, kChinese},
        {RT_ACCELERATOR, L"accelerators", {IDC_INSTALLER}, 1, kChinese},
        {RT_DIALOG, L"dialog", {IDD_ABOUTBOX}, 1, kChinese},
        {RT_STRING, L"string block", {IDS_APP_TITLE / kStringsPerBlock + 1}, 1,
         kChinese},
        {RT_VERSION, L"version", {VS_VERSION_INFO_ID}, 1, kChinese},
    };

    Inventory inv = {};
    EnumResourceTypesW(module, OnType, (LONG_PTR)&inv);
    bool typesOk = inv.typeCount == (int)ARRAYSIZE(expected);
    for (int i = 0; typesOk && i < inv.typeCount; i++) {
        bool known = false;
        for (size_t j = 0; j < ARRAYSIZE(expected); j++)
            known = known || inv.types[i] == expected[j].type;
        typesOk = known;
    }
    Check(typesOk, L"resource types are exactly manifest, icons, icon groups, "
                   L"menu, accelerators, dialog, strings and version",
          L"%d types", inv.typeCount);

    for (size_t j = 0; j < ARRAYSIZE(expected); j++) {
        const Expected &e = expected[j];
        wchar_t name[128];
        inv.nameCount = 0;
        EnumResourceNamesW(module, e.type, OnName, (LONG_PTR)&inv);
        bool namesOk = inv.nameCount == e.nameCount;
        for (int i = 0; namesOk && i < e.nameCount; i++) {
            bool found = false;
            for (int k = 0; k < inv.nameCount; k++)
                found = found || inv.names[k] == e.names[i];
            namesOk = found;
        }
        _snwprintf(name, ARRAYSIZE(name), L"%ls ids are exactly the expected",
                   e.typeName);
        Check(namesOk, name, L"%d ids, first %u", inv.nameCount,
              (unsigned)(inv.nameCount ? inv.names[0] : 0));

        for (int i = 0; i < e.nameCount; i++) {
            inv.langCount = 0;
            EnumResourceLanguagesW(module, e.type, (LPCWSTR)e.names[i], OnLang,
                                   (LONG_PTR)&inv);
            _snwprintf(name, ARRAYSIZE(name), L"%ls %u is in language 0x%04x only",
                       e.typeName, (unsigned)e.names[i], e.lang);
            Check(inv.langCount == 1 && inv.langs[0] == e.lang, name,
                  L"%d languages, first 0x%04x", inv.langCount,
                  inv.langCount ? inv.langs[0] : 0);
        }
    }
}

// ---- strings ----

// The text of string id in one language, read from its block.
bool StringInLanguage(HMODULE module, UINT id, LANGID lang, wchar_t *out,
                      size_t cch)
{
    DWORD size;
    const BYTE *p = ResourceBytes(module, RT_STRING,
                                  MAKEINTRESOURCEW(id / kStringsPerBlock + 1),
                                  lang, &size);
    out[0] = 0;
    if (!p)
        return false;
    const WCHAR *w = (const WCHAR *)p;
    const WCHAR *end = (const WCHAR *)(p + size);
    for (UINT i = 0; i < id % kStringsPerBlock; i++) {
        if (w >= end)
            return false;
        w += 1 + *w;
    }
    if (w >= end || *w >= cch)
        return false;
    memcpy(out, w + 1, *w * sizeof(WCHAR));
    out[*w] = 0;
    return true;
}

void CheckString(HMODULE module, UINT id, const wchar_t *text)
{
    wchar_t name[128], buf[256];
    _snwprintf(name, ARRAYSIZE(name), L"string %u in Chinese (PRC) is \"%ls\"",
               id, text);
    bool found = StringInLanguage(module, id, kChinese, buf, ARRAYSIZE(buf));
    Check(found && wcscmp(buf, text) == 0, name, L"found=%d \"%ls\" error %lu",
          found, buf, GetLastError());

    _snwprintf(name, ARRAYSIZE(name), L"LoadStringW of string %u gives \"%ls\"",
               id, text);
    SetLastError(ERROR_SUCCESS);
    int n = LoadStringW(module, id, buf, ARRAYSIZE(buf));
    Check(n == (int)wcslen(text) && wcscmp(buf, text) == 0, name,
          L"%d \"%ls\" error %lu", n, n > 0 ? buf : L"", GetLastError());
}

// ---- menu ----

bool MenuItem(HMENU menu, UINT pos, wchar_t *text, size_t cch, UINT *id,
              HMENU *sub, UINT *type)
{
    MENUITEMINFOW mii = {};
    mii.cbSize = sizeof mii;
    mii.fMask = MIIM_STRING | MIIM_ID | MIIM_SUBMENU | MIIM_FTYPE;
    mii.dwTypeData = text;
    mii.cch = (UINT)cch;
    text[0] = 0;
    if (!GetMenuItemInfoW(menu, pos, TRUE, &mii))
        return false;
    *id = mii.wID;
    *sub = mii.hSubMenu;
    *type = mii.fType;
    return true;
}

void CheckPopup(HMENU bar, UINT pos, const wchar_t *popupText,
                const wchar_t *itemText, UINT command)
{
    wchar_t name[160], text[128];
    UINT id = 0, type = 0;
    HMENU sub = NULL;
    bool ok = MenuItem(bar, pos, text, ARRAYSIZE(text), &id, &sub, &type);
    _snwprintf(name, ARRAYSIZE(name), L"menu 109 item %u is popup \"%ls\"", pos,
               popupText);
    if (!Check(ok && sub != NULL && wcscmp(text, popupText) == 0 &&
                   type == MFT_STRING,
               name, L"ok=%d sub=%p \"%ls\" type 0x%x error %lu", ok, sub, text,
               ok ? type : 0, GetLastError()))
        return;

    int count = GetMenuItemCount(sub);
    _snwprintf(name, ARRAYSIZE(name), L"popup \"%ls\" has one item", popupText);
    Check(count == 1, name, L"%d items", count);

    HMENU subsub = NULL;
    ok = MenuItem(sub, 0, text, ARRAYSIZE(text), &id, &subsub, &type);
    _snwprintf(name, ARRAYSIZE(name),
               L"popup \"%ls\" item is \"%ls\" with command %u", popupText,
               itemText, command);
    Check(ok && subsub == NULL && id == command && wcscmp(text, itemText) == 0 &&
              type == MFT_STRING,
          name, L"ok=%d \"%ls\" command %u sub=%p type 0x%x", ok, text, id,
          subsub, ok ? type : 0);
}

void CheckMenu(HMODULE module)
{
    DWORD size;
    Check(ResourceBytes(module, RT_MENU, MAKEINTRESOURCEW(IDC_INSTALLER),
                        kChinese, &size) != NULL,
          L"menu 109 exists in Chinese (PRC)", L"error %lu", GetLastError());
    HMENU bar = LoadMenuW(module, MAKEINTRESOURCEW(IDC_INSTALLER));
    if (!Check(bar != NULL, L"LoadMenuW loads menu 109", L"error %lu",
               GetLastError()))
        return;
    int count = GetMenuItemCount(bar);
    Check(count == 2, L"menu 109 has two popups", L"%d items", count);
    CheckPopup(bar, 0, L"文件(&F)", L"退出(&X)", IDM_EXIT);
    CheckPopup(bar, 1, L"帮助(&H)", L"关于(&A) ...", IDM_ABOUT);
    DestroyMenu(bar);
}

// ---- accelerators ----

void CheckAccelerators(HMODULE module)
{
    DWORD size;
    Check(ResourceBytes(module, RT_ACCELERATOR, MAKEINTRESOURCEW(IDC_INSTALLER),
                        kChinese, &size) != NULL,
          L"accelerators 109 exist in Chinese (PRC)", L"error %lu",
          GetLastError());
    HACCEL table = LoadAcceleratorsW(module, MAKEINTRESOURCEW(IDC_INSTALLER));
    if (!Check(table != NULL, L"LoadAcceleratorsW loads table 109",
               L"error %lu", GetLastError()))
        return;
    ACCEL entries[8];
    int n = CopyAcceleratorTableW(table, entries, ARRAYSIZE(entries));
    Check(n == 2, L"accelerator table 109 has two entries", L"%d entries", n);
    const WCHAR keys[] = {L'?', L'/'};
    for (size_t k = 0; k < ARRAYSIZE(keys); k++) {
        bool found = false;
        for (int i = 0; i < n && i < (int)ARRAYSIZE(entries); i++) {
            // A character (not a virtual key) typed with Alt.
            found = found || (entries[i].key == keys[k] &&
                              entries[i].fVirt == FALT &&
                              entries[i].cmd == IDM_ABOUT);
        }
        wchar_t name[96];
        _snwprintf(name, ARRAYSIZE(name),
                   L"Alt+\"%lc\" as a character issues command %u", keys[k],
                   IDM_ABOUT);
        Check(found, name, L"first entry key %u flags 0x%x command %u",
              n > 0 ? entries[0].key : 0, n > 0 ? entries[0].fVirt : 0,
              n > 0 ? entries[0].cmd : 0);
    }
    DestroyAcceleratorTable(table);
}

// ---- dialog ----

// Reads a DLGTEMPLATEEX field by field, stopping at the end of the data.
struct Reader {
    const BYTE *p;
    const BYTE *end;
    bool ok;

    WORD Word()
    {
        if (p + sizeof(WORD) > end) {
            ok = false;
            return 0;
        }
        WORD v;
        memcpy(&v, p, sizeof v);
        p += sizeof v;
        return v;
    }
    DWORD Dword()
    {
        WORD lo = Word();
        WORD hi = Word();
        return MAKELONG(lo, hi);
    }
    BYTE Byte()
    {
        if (p >= end) {
            ok = false;
            return 0;
        }
        return *p++;
    }
    // A zero-terminated string into out, cut to cch units.
    void Text(wchar_t *out, size_t cch)
    {
        size_t i = 0;
        for (WORD c = Word(); ok && c != 0; c = Word())
            if (i + 1 < cch)
                out[i++] = c;
        out[i] = 0;
    }
    // sz_Or_Ord: an ordinal (0xFFFF then the number), empty, or a string.
    void NameOrOrdinal(WORD *ordinal, wchar_t *out, size_t cch)
    {
        *ordinal = 0;
        out[0] = 0;
        if (p + sizeof(WORD) <= end && p[0] == 0xFF && p[1] == 0xFF) {
            Word();
            *ordinal = Word();
            return;
        }
        Text(out, cch);
    }
    void AlignDword(const BYTE *base)
    {
        while ((p - base) % sizeof(DWORD))
            p++;
    }
};

struct ExpectedControl {
    const wchar_t *what;
    WORD classOrdinal;
    WORD textOrdinal; // 0: the text below
    const wchar_t *text; // NULL: any text containing textPart
    const wchar_t *textPart;
    short x, y, cx, cy;
    DWORD id;
    DWORD style;
};

// What the dialog manager's own class ordinals stand for.
const WORD kButtonClass = 0x0080;
const WORD kStaticClass = 0x0082;

void CheckDialog(HMODULE module)
{
    DWORD size;
    const BYTE *base = ResourceBytes(module, RT_DIALOG,
                                     MAKEINTRESOURCEW(IDD_ABOUTBOX), kChinese,
                                     &size);
    if (!Check(base != NULL, L"dialog 103 exists in Chinese (PRC)",
               L"error %lu", GetLastError()))
        return;
    Reader r = {base, base + size, true};
    WORD version = r.Word();
    WORD signature = r.Word();
    Check(version == 1 && signature == 0xFFFF,
          L"dialog 103 is an extended template",
          L"version %u signature 0x%x", version, signature);
    r.Dword(); // help id
    DWORD exStyle = r.Dword();
    DWORD style = r.Dword();
    const DWORD wantStyle = DS_SETFONT | DS_MODALFRAME | DS_FIXEDSYS |
                            WS_POPUP | WS_CAPTION | WS_SYSMENU;
    Check(style == wantStyle && wantStyle == 0x80C800C8,
          L"dialog 103 style is 0x80C800C8", L"0x%08lx", style);
    Check(exStyle == 0, L"dialog 103 has no extended style", L"0x%08lx",
          exStyle);
    WORD count = r.Word();
    short x = (short)r.Word(), y = (short)r.Word();
    short cx = (short)r.Word(), cy = (short)r.Word();
    Check(x == 0 && y == 0 && cx == 170 && cy == 62,
          L"dialog 103 is 170 x 62 at 0, 0", L"%d x %d at %d, %d", cx, cy, x,
          y);
    WORD menuOrd, classOrd;
    wchar_t menu[64], cls[64], caption[128], face[64];
    r.NameOrOrdinal(&menuOrd, menu, ARRAYSIZE(menu));
    r.NameOrOrdinal(&classOrd, cls, ARRAYSIZE(cls));
    Check(r.ok && menuOrd == 0 && menu[0] == 0 && classOrd == 0 && cls[0] == 0,
          L"dialog 103 has no menu and the standard dialog class",
          L"menu %u \"%ls\" class %u \"%ls\"", menuOrd, menu, classOrd, cls);
    r.Text(caption, ARRAYSIZE(caption));
    Check(r.ok && wcscmp(caption, L"关于 Ostrilon") == 0,
          L"dialog 103 caption is \"关于 Ostrilon\"", L"\"%ls\"", caption);
    WORD points = r.Word();
    WORD weight = r.Word();
    BYTE italic = r.Byte();
    BYTE charset = r.Byte();
    r.Text(face, ARRAYSIZE(face));
    Check(r.ok && points == 9 && weight == FW_DONTCARE && italic == FALSE &&
              charset == DEFAULT_CHARSET && wcscmp(face, L"MS Shell Dlg") == 0,
          L"dialog 103 font is \"MS Shell Dlg\" 9 point, normal",
          L"\"%ls\" %u point weight %u italic %u charset %u", face, points,
          weight, italic, charset);
    Check(count == 4, L"dialog 103 has four controls", L"%u controls", count);

    const DWORD child = WS_CHILD | WS_VISIBLE;
    const ExpectedControl controls[] = {
        {L"icon", kStaticClass, IDI_ABOUT_ICON, NULL, NULL, 14, 14, 21, 20,
         (DWORD)IDC_STATIC, child | SS_ICON},
        {L"title line", kStaticClass, 0, L"Ostrilon, 版本 1.0", NULL, 42, 14,
         114, 8, (DWORD)IDC_STATIC, child | WS_GROUP | SS_LEFT | SS_NOPREFIX},
        {L"year line", kStaticClass, 0, NULL, L"2019", 42, 26, 114, 8,
         (DWORD)IDC_STATIC, child | WS_GROUP | SS_LEFT},
        {L"OK button", kButtonClass, 0, L"确定", NULL, 113, 41, 50, 14, IDOK,
         child | WS_GROUP | WS_TABSTOP | BS_DEFPUSHBUTTON},
    };
    for (size_t i = 0; i < ARRAYSIZE(controls) && i < count; i++) {
        const ExpectedControl &e = controls[i];
        r.AlignDword(base);
        r.Dword(); // help id
        DWORD cExStyle = r.Dword();
        DWORD cStyle = r.Dword();
        short ix = (short)r.Word(), iy = (short)r.Word();
        short icx = (short)r.Word(), icy = (short)r.Word();
        DWORD id = r.Dword();
        WORD cClass, cTextOrd;
        wchar_t cClassName[64], text[128];
        r.NameOrOrdinal(&cClass, cClassName, ARRAYSIZE(cClassName));
        r.NameOrOrdinal(&cTextOrd, text, ARRAYSIZE(text));
        WORD extra = r.Word();
        r.p += extra;

        wchar_t name[128];
        _snwprintf(name, ARRAYSIZE(name),
                   L"dialog 103 control %u is the %ls at %d, %d, %d x %d", (unsigned)i,
                   e.what, e.x, e.y, e.cx, e.cy);
        Check(r.ok && cClass == e.classOrdinal && ix == e.x && iy == e.y &&
                  icx == e.cx && icy == e.cy,
              name, L"class %u \"%ls\" at %d, %d, %d x %d", cClass, cClassName,
              ix, iy, icx, icy);
        _snwprintf(name, ARRAYSIZE(name), L"dialog 103 %ls has id %ld",
                   e.what, (long)(int)e.id);
        Check(id == e.id, name, L"%ld", (long)(int)id);
        _snwprintf(name, ARRAYSIZE(name), L"dialog 103 %ls style is 0x%08lx",
                   e.what, e.style);
        Check(cStyle == e.style && cExStyle == 0, name,
              L"0x%08lx extended 0x%08lx", cStyle, cExStyle);
        bool textOk;
        if (e.textOrdinal)
            textOk = cTextOrd == e.textOrdinal;
        else if (e.text)
            textOk = cTextOrd == 0 && wcscmp(text, e.text) == 0;
        else
            textOk = cTextOrd == 0 && wcsstr(text, e.textPart) != NULL;
        if (e.textOrdinal)
            _snwprintf(name, ARRAYSIZE(name), L"dialog 103 %ls names icon %u",
                       e.what, e.textOrdinal);
        else if (e.text)
            _snwprintf(name, ARRAYSIZE(name), L"dialog 103 %ls reads \"%ls\"",
                       e.what, e.text);
        else
            _snwprintf(name, ARRAYSIZE(name),
                       L"dialog 103 %ls names the year %ls", e.what,
                       e.textPart);
        Check(textOk, name, L"ordinal %u text \"%ls\"", cTextOrd, text);
    }
    Check(r.ok && r.p <= r.end, L"dialog 103 template ends where its data ends",
          L"read past the end");
}

// ---- icons ----

#pragma pack(push, 2)
struct GroupIconDir {
    WORD reserved;
    WORD type;
    WORD count;
};
struct GroupIconEntry {
    BYTE width;
    BYTE height;
    BYTE colours;
    BYTE reserved;
    WORD planes;
    WORD bitCount;
    DWORD bytes;
    WORD id;
};
#pragma pack(pop)

// Checks icon group id and its one image; returns the image's RT_ICON id.
UINT_PTR CheckIconGroup(HMODULE module, UINT group)
{
    wchar_t name[128];
    DWORD size;
    const BYTE *p = ResourceBytes(module, RT_GROUP_ICON, MAKEINTRESOURCEW(group),
                                  kChinese, &size);
    _snwprintf(name, ARRAYSIZE(name), L"icon group %u exists in Chinese (PRC)",
               group);
    if (!Check(p != NULL, name, L"error %lu", GetLastError()))
        return 0;
    GroupIconDir dir = {};
    GroupIconEntry entry = {};
    if (size >= sizeof dir)
        memcpy(&dir, p, sizeof dir);
    if (size >= sizeof dir + sizeof entry)
        memcpy(&entry, p + sizeof dir, sizeof entry);
    _snwprintf(name, ARRAYSIZE(name), L"icon group %u holds one icon image",
               group);
    Check(size == sizeof dir + sizeof entry && dir.reserved == 0 &&
              dir.type == 1 && dir.count == 1,
          name, L"%lu bytes, type %u, %u images", size, dir.type, dir.count);
    _snwprintf(name, ARRAYSIZE(name),
               L"icon group %u lists a 128 x 128 image of 32 bits", group);
    // A width or height of 0 in the directory would mean 256.
    Check(entry.width == kIconSide && entry.height == kIconSide &&
              entry.colours == 0 && entry.planes == 1 &&
              entry.bitCount == kIconBits,
          name, L"%u x %u, %u colours, %u planes, %u bits", entry.width,
          entry.height, entry.colours, entry.planes, entry.bitCount);

    const BYTE *image = ResourceBytes(module, RT_ICON, MAKEINTRESOURCEW(entry.id),
                                      kChinese, &size);
    _snwprintf(name, ARRAYSIZE(name),
               L"icon group %u image is a 128 x 128, 32-bit bitmap, not PNG",
               group);
    BITMAPINFOHEADER bih = {};
    if (image && size >= sizeof bih)
        memcpy(&bih, image, sizeof bih);
    Check(image != NULL && bih.biSize == sizeof bih &&
              bih.biWidth == kIconSide && bih.biHeight == 2 * kIconSide &&
              bih.biPlanes == 1 && bih.biBitCount == kIconBits &&
              bih.biCompression == BI_RGB,
          name, L"found=%d header %lu, %ld x %ld, %u bits, compression %lu",
          image != NULL, bih.biSize, bih.biWidth, bih.biHeight, bih.biBitCount,
          bih.biCompression);
    _snwprintf(name, ARRAYSIZE(name),
               L"icon group %u image holds its pixels and mask, as listed",
               group);
    Check(image != NULL && size == kIconImageBytes && entry.bytes == size, name,
          L"%lu bytes, listed %lu, expected %lu", size, entry.bytes,
          kIconImageBytes);

    if (image) {
        // Some pixels opaque and some transparent: the alpha channel is used.
        int opaque = 0, clear = 0;
        const BYTE *px = image + sizeof bih;
        for (int i = 0; i < kIconSide * kIconSide; i++) {
            BYTE alpha = px[i * 4 + 3];
            opaque += alpha == 0xFF;
            clear += alpha == 0;
        }
        _snwprintf(name, ARRAYSIZE(name),
                   L"icon group %u image has opaque and transparent pixels",
                   group);
        Check(opaque > 0 && clear > 0, name, L"%d opaque, %d transparent",
              opaque, clear);

        HICON icon = CreateIconFromResourceEx((PBYTE)image, size, TRUE,
                                              kIconFormat, kIconSide, kIconSide,
                                              LR_DEFAULTCOLOR);
        ICONINFO info = {};
        BITMAP bm = {};
        bool got = icon && GetIconInfo(icon, &info) && info.hbmColor &&
                   GetObjectW(info.hbmColor, sizeof bm, &bm);
        _snwprintf(name, ARRAYSIZE(name),
                   L"icon group %u image makes a 128 x 128 icon", group);
        Check(got && bm.bmWidth == kIconSide && bm.bmHeight == kIconSide, name,
              L"made=%d %ld x %ld error %lu", got, bm.bmWidth, bm.bmHeight,
              GetLastError());
        if (info.hbmColor)
            DeleteObject(info.hbmColor);
        if (info.hbmMask)
            DeleteObject(info.hbmMask);
        if (icon)
            DestroyIcon(icon);
    }
    return entry.id;
}

void CheckNoAboutIcon(HMODULE module)
{
    SetLastError(ERROR_SUCCESS);
    HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(IDI_ABOUT_ICON),
                                RT_GROUP_ICON);
    DWORD error = GetLastError();
    Check(found == NULL && error == ERROR_RESOURCE_NAME_NOT_FOUND,
          L"icon 128 named by the About box is not in the executable",
          L"found=%p error %lu", found, error);
}

// ---- version ----

void CheckVersionString(const BYTE *info, const wchar_t *field,
                        const wchar_t *want)
{
    wchar_t path[128], name[192];
    _snwprintf(path, ARRAYSIZE(path), L"\\StringFileInfo\\080404b0\\%ls", field);
    LPVOID value = NULL;
    UINT len = 0;
    bool ok = VerQueryValueW(info, path, &value, &len) && value;
    const wchar_t *text = ok ? (const wchar_t *)value : L"";
    if (want) {
        _snwprintf(name, ARRAYSIZE(name), L"version %ls is \"%ls\"", field, want);
        Check(ok && wcscmp(text, want) == 0, name, L"found=%d \"%ls\"", ok,
              text);
    } else {
        _snwprintf(name, ARRAYSIZE(name), L"version %ls is given", field);
        Check(ok && text[0] != 0, name, L"found=%d \"%ls\"", ok, text);
    }
}

void CheckVersion(HMODULE module, const wchar_t *exe)
{
    DWORD size;
    Check(ResourceBytes(module, RT_VERSION, MAKEINTRESOURCEW(VS_VERSION_INFO_ID),
                        kChinese, &size) != NULL,
          L"version 1 exists in Chinese (PRC)", L"error %lu", GetLastError());
    DWORD handle = 0;
    DWORD infoSize = GetFileVersionInfoSizeW(exe, &handle);
    static BYTE info[16384];
    bool ok = infoSize > 0 && infoSize <= sizeof info &&
              GetFileVersionInfoW(exe, 0, infoSize, info);
    if (!Check(ok, L"GetFileVersionInfoW reads the version", L"size %lu error %lu",
               infoSize, GetLastError()))
        return;

    VS_FIXEDFILEINFO *fixed = NULL;
    UINT len = 0;
    ok = VerQueryValueW(info, L"\\", (LPVOID *)&fixed, &len) && fixed &&
         len >= sizeof *fixed && fixed->dwSignature == VS_FFI_SIGNATURE;
    if (!Check(ok, L"version has its fixed part", L"length %u", len))
        return;
    const DWORD high = MAKELONG(0, 1), low = MAKELONG(1, 0); // 1.0 and 0.1
    Check(fixed->dwFileVersionMS == high && fixed->dwFileVersionLS == low,
          L"file version is 1.0.0.1", L"%u.%u.%u.%u",
          HIWORD(fixed->dwFileVersionMS), LOWORD(fixed->dwFileVersionMS),
          HIWORD(fixed->dwFileVersionLS), LOWORD(fixed->dwFileVersionLS));
    Check(fixed->dwProductVersionMS == high && fixed->dwProductVersionLS == low,
          L"product version is 1.0.0.1", L"%u.%u.%u.%u",
          HIWORD(fixed->dwProductVersionMS), LOWORD(fixed->dwProductVersionMS),
          HIWORD(fixed->dwProductVersionLS), LOWORD(fixed->dwProductVersionLS));
    Check(fixed->dwFileOS == VOS_NT_WINDOWS32 && VOS_NT_WINDOWS32 == 0x40004,
          L"file OS is 0x40004", L"0x%lx", fixed->dwFileOS);
    Check(fixed->dwFileType == VFT_APP, L"file type is application", L"%lu",
          fixed->dwFileType);
    Check((fixed->dwFileFlags & fixed->dwFileFlagsMask) == 0,
          L"file flags are clear (a release build)", L"0x%lx",
          fixed->dwFileFlags);

    struct Translation {
        WORD lang;
        WORD codePage;
    } *tr = NULL;
    ok = VerQueryValueW(info, L"\\VarFileInfo\\Translation", (LPVOID *)&tr,
                        &len) && tr;
    Check(ok && len == sizeof *tr && tr->lang == kChinese &&
              tr->codePage == 1200,
          L"version translation is Chinese (PRC), Unicode (0x804, 1200)",
          L"length %u lang 0x%x code page %u", len, ok ? tr->lang : 0,
          ok ? tr->codePage : 0);

    CheckVersionString(info, L"CompanyName", L"Quorvantix");
    CheckVersionString(
        info, L"FileDescription",
        L"Driver Installer With Notify For Quorvantix Dsp Usb Driver.");
    CheckVersionString(info, L"FileVersion", L"1.0.0.1");
    CheckVersionString(info, L"ProductVersion", L"1.0.0.1");
    CheckVersionString(info, L"OriginalFilename", L"QxDspInstaller.exe");
    CheckVersionString(info, L"InternalName", NULL);
    CheckVersionString(info, L"ProductName", NULL);
    CheckVersionString(info, L"LegalCopyright", NULL);
}

// ---- manifest ----

bool Contains(const char *text, size_t len, const char *part)
{
    size_t n = strlen(part);
    for (size_t i = 0; i + n <= len; i++)
        if (memcmp(text + i, part, n) == 0)
            return true;
    return false;
}

void CheckManifest(HMODULE module)
{
    DWORD size;
    const char *text = (const char *)ResourceBytes(
        module, RT_MANIFEST, MAKEINTRESOURCEW(IDR_MANIFEST), kEnglish, &size);
    if (!Check(text != NULL, L"manifest 1 exists in US English (0x0409)",
               L"error %lu", GetLastError()))
        return;
    Check(Contains(text, size, "<requestedExecutionLevel") &&
              Contains(text, size, "level=\"requireAdministrator\""),
          L"manifest requests requireAdministrator", L"%lu bytes", size);
    Check(Contains(text, size, "uiAccess=\"false\""),
          L"manifest sets uiAccess false", L"%lu bytes", size);
    Check(Contains(text, size,
                   "<trustInfo xmlns=\"urn:schemas-microsoft-com:asm.v3\">"),
          L"manifest trust section declares one namespace", L"%lu bytes",
          size);
    const struct {
        const char *id;
        const wchar_t *os;
    } oses[] = {
        {"{e2011457-1546-43c5-a5fe-008deee3d3f0}", L"Windows Vista"},
        {"{35138b9a-5d96-4fbd-8e2d-a2440225f93a}", L"Windows 7"},
        {"{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}", L"Windows 8"},
        {"{1f676c76-80e1-4239-95bb-83d0f6d0da78}", L"Windows 8.1"},
        {"{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}", L"Windows 10"},
    };
    for (size_t i = 0; i < ARRAYSIZE(oses); i++) {
        char want[96];
        wchar_t name[96];
        _snprintf(want, sizeof want, "<supportedOS Id=\"%s\"/>", oses[i].id);
        _snwprintf(name, ARRAYSIZE(name), L"manifest declares %ls",
                   oses[i].os);
        Check(Contains(text, size, want), name, L"%lu bytes", size);
    }
}

} // namespace

int wmain(int argc, wchar_t **argv)
{
    if (argc != 3)
        return 2;
    if (!report::Open(argv[1]))
        return 2;

    HMODULE module = LoadLibraryExW(argv[2], NULL, LOAD_LIBRARY_AS_DATAFILE);
    if (Check(module != NULL, L"the executable loads as a data file",
              L"error %lu", GetLastError())) {
        CheckString(module, IDS_APP_TITLE, L"Ostrilon");
        CheckString(module, IDC_INSTALLER, L"OSTRILON");
        CheckMenu(module);
        CheckAccelerators(module);
        CheckDialog(module);
        UINT_PTR icons[2];
        icons[0] = CheckIconGroup(module, IDI_INSTALLER);
        icons[1] = CheckIconGroup(module, IDI_SMALL);
        Check(icons[0] != 0 && icons[1] != 0 && icons[0] != icons[1],
              L"icon groups 107 and 108 have images of their own",
              L"images %u and %u", (unsigned)icons[0], (unsigned)icons[1]);
        CheckNoAboutIcon(module);
        CheckVersion(module, argv[2]);
        CheckManifest(module);
        CheckInventory(module, icons);
        FreeLibrary(module);
    }

    return report::Close();
}
