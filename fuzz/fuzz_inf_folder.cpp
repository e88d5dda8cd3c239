/*
 * libFuzzer target of the INF folder scan: files and folders in
 * C:\Windows\INF\ decoded from the fuzzer's bytes, then
 * InfFolderScan(L"C:\\Windows\\INF\\", &flag), then the checks, among them
 * a model of the scan: which files it offers, in which order, and when it
 * sets the flag.
 *
 * Input: a mode byte (bit 0: the flag starts TRUE), then entries until the
 * bytes run out; an entry is a name (fuzz_common.h's text format), a flags
 * byte and a content program.  Flags: bit 0 the file is held open by
 * another process; bit 1 a folder of that name instead, holding the
 * content as oem1.inf; bit 2 read-only, hidden and system.  Names are cut
 * to NTFS' 255 units without separators or zero units, and lose trailing
 * dots and spaces as Win32 drops them.  A content program is a count
 * byte (modulo CONTENT_OPS_MAX) of ops, the op byte modulo OP_COUNT:
 *   TEXT text           the text as UTF-16LE
 *   MARKER k            marker k (see kMarkers) as UTF-16LE
 *   ACROSS k d          spaces up to where marker k starts at byte
 *                       3200 - its size + (int8)d, then the marker
 *   PAD_HEAD d          spaces up to byte 3200 + (int8)d
 *   PAD_SIZE d          spaces up to byte 1600 + (int8)d
 *   RAW n bytes         n raw bytes (odd counts misalign the text)
 *   PAD_TO offset16     spaces up to that byte, at most CONTENT_MAX_CB
 */
#include "discovery/scans.h"
#include "fuzz/fuzz_common.h"

namespace {

using fuzz::Check;
using fuzz::u16;

const u16 kFolder = u"C:\\Windows\\INF\\";
const u16 kFolderNoSlash = u"C:\\Windows\\INF";

/* NTFS names are at most 255 units. */
constexpr size_t NAME_MAX_CCH = 255;
constexpr size_t CONTENT_MAX_CB = 16384;
constexpr size_t ENTRIES_MAX = 64;
constexpr uint8_t CONTENT_OPS_MAX = 24;
/* The scan's documented thresholds: files larger than 1600 bytes are
 * read, their first 3200 bytes searched; paths must fit MAX_PATH. */
constexpr size_t MIN_SIZE_CB = 1600;
constexpr size_t HEAD_CB = 3200;

const u16 kPackageMarkers[] = {u"; QX_DSP_USB.inf", u"QUORVANTIX",
                               u"VID_3C7E&PID_51B8"};
const u16 kLegacyMarker = u"libusb0";
/* What MARKER and ACROSS insert. */
const u16 kMarkers[] = {
    kPackageMarkers[0], kPackageMarkers[1], kPackageMarkers[2],
    kLegacyMarker,      u"\r\n",
    kPackageMarkers[0] + u"\r\n" + kPackageMarkers[1] + u"\r\n" +
        kPackageMarkers[2] + u"\r\n",
};
constexpr uint8_t MARKER_COUNT = ARRAYSIZE(kMarkers);

enum : uint8_t {
    MODE_FLAG_SET = 1,
    ENTRY_HELD_OPEN = 1,
    ENTRY_FOLDER = 2,
    ENTRY_ATTRIBUTES = 4,
};
enum : uint8_t {
    OP_TEXT,
    OP_MARKER,
    OP_ACROSS,
    OP_PAD_HEAD,
    OP_PAD_SIZE,
    OP_RAW,
    OP_PAD_TO,
    OP_COUNT,
};

u16 FileName(const u16 &text)
{
    u16 name;
    for (char16_t unit : text)
        if (unit != u'\\' && unit != u'/' && unit != 0 &&
            name.size() < NAME_MAX_CCH)
            name += unit;
    while (!name.empty() && (name.back() == u'.' || name.back() == u' '))
        name.pop_back();
    return name;
}

/* UTF-16LE spaces up to byte offset, and one byte more for an odd one. */
void PadTo(std::string &content, long offset)
{
    if (offset > static_cast<long>(CONTENT_MAX_CB))
        offset = CONTENT_MAX_CB;
    while (static_cast<long>(content.size()) + 2 <= offset)
        content += winhost::Utf16Le(u" ");
    if (static_cast<long>(content.size()) < offset)
        content += ' ';
}

std::string ReadContent(fuzz::Reader &in)
{
    std::string content;
    uint8_t ops = in.Byte() % CONTENT_OPS_MAX;
    for (uint8_t i = 0; i < ops; i++) {
        switch (in.Byte() % OP_COUNT) {
        case OP_TEXT:
            content += winhost::Utf16Le(fuzz::ReadText(in));
            break;
        case OP_MARKER:
            content += winhost::Utf16Le(kMarkers[in.Byte() % MARKER_COUNT]);
            break;
        case OP_ACROSS: {
            const u16 &marker = kMarkers[in.Byte() % MARKER_COUNT];
            long shift = static_cast<int8_t>(in.Byte());
            PadTo(content, static_cast<long>(HEAD_CB) -
                               static_cast<long>(2 * marker.size()) + shift);
            content += winhost::Utf16Le(marker);
            break;
        }
        case OP_PAD_HEAD:
            PadTo(content, static_cast<long>(HEAD_CB) +
                               static_cast<int8_t>(in.Byte()));
            break;
        case OP_PAD_SIZE:
            PadTo(content, static_cast<long>(MIN_SIZE_CB) +
                               static_cast<int8_t>(in.Byte()));
            break;
        case OP_RAW: {
            uint8_t cb = in.Byte();
            for (uint8_t b = 0; b < cb; b++)
                content += static_cast<char>(in.Byte());
            break;
        }
        default:
            PadTo(content, in.U16());
            break;
        }
        if (content.size() > CONTENT_MAX_CB)
            content.resize(CONTENT_MAX_CB);
    }
    return content;
}

void SeedEntry(const u16 &name, uint8_t flags, const std::string &content)
{
    /* A name is either a file or a folder, as on a real file system. */
    const winhost::FileEntry *existing = winhost::FindFile(kFolder + name);
    if (existing && existing->dir != ((flags & ENTRY_FOLDER) != 0))
        return;
    if (flags & ENTRY_FOLDER) {
        winhost::SeedFolder(kFolder + name);
        winhost::SeedFile(kFolder + name + u"\\oem1.inf", content);
        return;
    }
    DWORD attributes = FILE_ATTRIBUTE_ARCHIVE;
    if (flags & ENTRY_ATTRIBUTES)
        attributes |= FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                      FILE_ATTRIBUTE_SYSTEM;
    winhost::FileEntry &e = winhost::SeedFile(
        kFolder + name, content, winhost::Ft(0x01D5000000000000ULL), attributes);
    e.heldOpen = (flags & ENTRY_HELD_OPEN) != 0;
}

/* ---- the model ---- */

/* The head as the scan searches it: UTF-16LE units of the first 3200
 * bytes up to the first zero unit; a last odd byte reads as a unit. */
u16 Head(const std::string &content)
{
    std::string bytes = content.substr(0, HEAD_CB);
    u16 text;
    for (size_t i = 0; i < bytes.size(); i += 2) {
        char16_t unit = static_cast<unsigned char>(bytes[i]);
        if (i + 1 < bytes.size())
            unit |= static_cast<char16_t>(
                static_cast<unsigned char>(bytes[i + 1]) << 8);
        if (unit == 0)
            break;
        text += unit;
    }
    return text;
}

bool EndsWith(const u16 &text, const u16 &suffix)
{
    return text.size() >= suffix.size() &&
           text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

struct Expected {
    bool searched = false;
    bool legacyDriver = false;
    std::vector<u16> offers;
};

/* The oem*inf files (case matters) larger than 1600 bytes whose path fits
 * MAX_PATH and that open, in the order the folder lists them, whose head
 * carries the three package markers; libusb0 there sets the flag. */
Expected Model()
{
    Expected out;
    const winhost::FileEntry *folder = winhost::FindFile(kFolderNoSlash);
    out.searched = folder != nullptr && folder->dir;
    for (const u16 &name : winhost::ListFolder(kFolder)) {
        const winhost::FileEntry *e = winhost::FindFile(kFolder + name);
        if (!e || e->dir || name[0] == u'.')
            continue;
        if (name.compare(0, 3, u"oem") != 0 || !EndsWith(name, u"inf"))
            continue;
        if (e->content.size() <= MIN_SIZE_CB ||
            kFolder.size() + name.size() + 1 > MAX_PATH || e->heldOpen)
            continue;
        u16 head = Head(e->content);
        bool package = true;
        for (const u16 &marker : kPackageMarkers)
            package = package && head.find(marker) != u16::npos;
        if (!package)
            continue;
        if (head.find(kLegacyMarker) != u16::npos)
            out.legacyDriver = true;
        if (fuzz::Accepts(out.offers, name))
            out.offers.push_back(name);
    }
    return out;
}

/* ---- seeds ---- */

/* A package INF: the markers, libusb0 when asked, padded to size. */
fuzz::Writer &PackageInf(fuzz::Writer &w, const std::string &name, bool legacy,
                         unsigned size)
{
    w.Text(name).Byte(0).Byte(legacy ? 3 : 2);
    w.Byte(OP_MARKER).Byte(5);
    if (legacy)
        w.Byte(OP_MARKER).Byte(3);
    return w.Byte(OP_PAD_TO).U16(size);
}

std::string SeedPackageInfs()
{
    fuzz::Writer w;
    w.Byte(0);
    PackageInf(w, "oem15.inf", false, 2000);
    PackageInf(w, "oem14.inf", true, 2000);
    PackageInf(w, "oem2.inf", false, 4000);
    return w.Bytes();
}

std::string SeedNamesAndSizes()
{
    fuzz::Writer w;
    w.Byte(0);
    for (const char *name : {"OEM2.INF", "oem3inf", "xoem4.inf", "oem5.pnf",
                             "oem1..inf", "oem 2.inf", ".oem6.inf", "oem7.inf..."})
        PackageInf(w, name, false, 2000);
    PackageInf(w, "oem8.inf", false, 1600);
    PackageInf(w, "oem9.inf", false, 1601);
    /* A folder named like an INF, holding one. */
    w.Text("oem10.inf").Byte(ENTRY_FOLDER).Byte(2).Byte(OP_MARKER).Byte(5).Byte(OP_PAD_TO).U16(2000);
    /* A name too long for MAX_PATH. */
    w.Pieces(3).Word(6).Run('x', 240).Word(5).Byte(0).Byte(2).Byte(OP_MARKER).Byte(5).Byte(OP_PAD_TO).U16(2000);
    return w.Bytes();
}

std::string SeedAcrossTheHead()
{
    fuzz::Writer w;
    w.Byte(0);
    /* The last marker ending at byte 3200, then one byte later. */
    for (const char *name : {"oem5.inf", "oem6.inf"}) {
        w.Text(name).Byte(0).Byte(4);
        w.Byte(OP_MARKER).Byte(0).Byte(OP_MARKER).Byte(1);
        w.Byte(OP_ACROSS).Byte(2).Byte(name[3] == '5' ? 0 : 2);
        w.Byte(OP_PAD_HEAD).Byte(100);
    }
    /* libusb0 just inside and just beyond the head. */
    w.Text("oem7.inf").Byte(0).Byte(3).Byte(OP_MARKER).Byte(5).Byte(OP_ACROSS).Byte(3).Byte(0).Byte(OP_PAD_HEAD).Byte(40);
    w.Text("oem8.inf").Byte(0).Byte(3).Byte(OP_MARKER).Byte(5).Byte(OP_ACROSS).Byte(3).Byte(2).Byte(OP_PAD_HEAD).Byte(40);
    return w.Bytes();
}

std::string SeedOddFiles()
{
    fuzz::Writer w;
    w.Byte(MODE_FLAG_SET);
    PackageInf(w, "oem1.inf", true, 2000);
    /* Held open; read-only; odd size; markers in an 8-bit code page; a
     * zero unit before the markers. */
    w.Text("oem2.inf").Byte(ENTRY_HELD_OPEN).Byte(2).Byte(OP_MARKER).Byte(5).Byte(OP_PAD_TO).U16(2000);
    w.Text("oem3.inf").Byte(ENTRY_ATTRIBUTES).Byte(2).Byte(OP_MARKER).Byte(5).Byte(OP_PAD_TO).U16(2001);
    w.Text("oem4.inf").Byte(0).Byte(3).Byte(OP_RAW).Byte(1).Byte('x').Byte(OP_MARKER).Byte(5).Byte(OP_PAD_SIZE).Byte(10);
    w.Text("oem5.inf").Byte(0).Byte(2).Byte(OP_RAW).Byte(16).Raw("QUORVANTIX libus").Byte(OP_PAD_SIZE).Byte(10);
    w.Text("oem6.inf").Byte(0).Byte(3).Byte(OP_TEXT).TextWord(23).Byte(OP_MARKER).Byte(5).Byte(OP_PAD_SIZE).Byte(10);
    return w.Bytes();
}

std::string SeedFullList()
{
    fuzz::Writer w;
    w.Byte(0);
    for (char c = 'a'; c <= 'l'; c++)
        PackageInf(w, "oem" + std::to_string(c - 'a') + ".inf", c == 'l',
                   1700);
    return w.Bytes();
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    fuzz::WriteSeedsIfAsked(*argc, *argv,
                            {{"package-infs", SeedPackageInfs()},
                             {"names-and-sizes", SeedNamesAndSizes()},
                             {"across-the-head", SeedAcrossTheHead()},
                             {"odd-files", SeedOddFiles()},
                             {"full-list", SeedFullList()}});
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fuzz::InputScope scope;
    fuzz::Reader in(data, size);
    uint8_t mode = in.Byte();
    for (size_t n = 0; n < ENTRIES_MAX && !in.Empty(); n++) {
        u16 name = FileName(fuzz::ReadText(in));
        uint8_t flags = in.Byte();
        std::string content = ReadContent(in);
        if (!name.empty())
            SeedEntry(name, flags, content);
    }

    const std::string before = fuzz::MachineState();
    const Expected expected = Model();
    winhost::machine().calls.clear();
    const BOOL flagBefore = (mode & MODE_FLAG_SET) ? TRUE : FALSE;
    BOOL legacyDriver = flagBefore;
    BOOL searched = InfFolderScan(kFolder.c_str(), &legacyDriver);
    fuzz::CheckAfterScan(before);
    Check((searched != FALSE) == expected.searched,
          "InfFolderScan result does not match the folder's presence");
    Check(legacyDriver == TRUE || legacyDriver == FALSE, "flag not a BOOL");
    Check((legacyDriver != FALSE) == (flagBefore || expected.legacyDriver),
          "InfFolderScan set or cleared the flag against the model");
    Check(fuzz::Entries() == expected.offers,
          "InfFolderScan offered other names than the model");
    return 0;
}
