/*
 * Shared parts of the libFuzzer targets: a reader of the fuzzer's bytes and
 * its writer twin for the seeds, the text decoder with its word list, a
 * snapshot of the stand-in machine, a model of what the candidate list
 * accepts, and the checks every target makes after the discovery code ran.
 * A broken check prints one line to stderr and aborts, which libFuzzer
 * reports as a crash and saves as an artifact.
 */
#ifndef QX_FUZZ_COMMON_H
#define QX_FUZZ_COMMON_H

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "discovery/candidates.h"
#include "host/machine.h"

namespace fuzz {

using winhost::u16;

/* Longest entry the list can hold, terminator excluded. */
constexpr size_t ENTRY_MAX_CCH = CANDIDATE_CCH - 1;
constexpr size_t NAME_MIN_CCH = 3;
/* Longest run one repeat piece of a text produces: above the registry's
 * 16383-unit value name limit, so the decoders' clamps are reached. */
constexpr size_t RUN_MAX_CCH = 20000;

[[noreturn]] inline void Fail(const char *what)
{
    std::fprintf(stderr, "fuzz check failed: %s\n", what);
    std::abort();
}

inline void Check(bool ok, const char *what)
{
    if (!ok)
        Fail(what);
}

/* ---- the fuzzer's bytes ---- */

/* Reads the input front to back; an exhausted input reads as zeros. */
class Reader {
public:
    Reader(const uint8_t *data, size_t size) : data_(data), size_(size) {}
    bool Empty() const { return pos_ >= size_; }
    uint8_t Byte() { return Empty() ? 0 : data_[pos_++]; }
    uint16_t U16()
    {
        uint16_t lo = Byte();
        return static_cast<uint16_t>(lo | (Byte() << 8));
    }

private:
    const uint8_t *data_;
    size_t size_;
    size_t pos_ = 0;
};

/* Words a text piece names with one byte, so that the fuzzer reaches the
 * names, descriptions and markers the scans look for without guessing
 * them unit by unit. */
inline const std::vector<u16> &Words()
{
    static const std::vector<u16> words = {
        u"DriverDesc",         /* 0 */
        u"InfPath",            /* 1 */
        u"DeviceDesc",         /* 2 */
        u"QX DSP USB",         /* 3 */
        u"@oem",               /* 4 */
        u".inf",               /* 5 */
        u"oem",                /* 6 */
        u"inf",                /* 7 */
        u"; QX_DSP_USB.inf",   /* 8 */
        u"QUORVANTIX",         /* 9 */
        u"VID_3C7E&PID_51B8",  /* 10 */
        u"libusb0",            /* 11 */
        u"\r\n",               /* 12 */
        u",%desc%;QX DSP USB", /* 13 */
        u"0000",               /* 14 */
        u"5&1",                /* 15 */
        u"Device Parameters",  /* 16 */
        u"oem12.inf",          /* 17 */
        u"OEM",                /* 18 */
        u".",                  /* 19 */
        u" ",                  /* 20 */
        u"\\",                 /* 21 */
        u"@",                  /* 22 */
        u16(1, u'\0'),         /* 23: one zero unit */
        u"..",                 /* 24 */
        u"*",                  /* 25 */
        u"?",                  /* 26 */
        u":",                  /* 27 */
        u"/",                  /* 28 */
        u"\"<>|",              /* 29 */
        u"\t",                 /* 30 */
        u"qx dsp usb",         /* 31 */
        u"InfPath2",           /* 32 */
        u"DriverDescX",        /* 33 */
        u"QX DSP USB Audio",   /* 34 */
        u"1234567",            /* 35 */
        u16(1, u'\xFFFF'),     /* 36 */
        u16(1, u'\xD800'),     /* 37: a lone surrogate */
    };
    return words;
}

/* Text pieces: the first byte of a piece says what follows.
 *   0x00-0x3F  that many units, one byte each (Latin-1)
 *   0x40-0x7F  (byte - 0x40) units, two bytes each, little-endian
 *   0x80-0xBF  word (byte - 0x80) of Words(), modulo their number
 *   0xC0-0xFF  a run: one unit (one byte, or two when the piece byte is
 *              odd), then a 16-bit count, at most RUN_MAX_CCH */
enum : uint8_t {
    PIECE_LATIN1 = 0x00,
    PIECE_UTF16 = 0x40,
    PIECE_WORD = 0x80,
    PIECE_RUN = 0xC0,
    PIECE_RUN_WIDE = 0xC1,
};
constexpr size_t TEXT_PIECES_MAX = 5; /* a text: 0 to 4 pieces */

inline void ReadPiece(Reader &in, u16 &out)
{
    uint8_t h = in.Byte();
    if (h < PIECE_UTF16) {
        for (uint8_t i = 0; i < h; i++)
            out += static_cast<char16_t>(in.Byte());
    } else if (h < PIECE_WORD) {
        for (uint8_t i = 0; i < h - PIECE_UTF16; i++)
            out += static_cast<char16_t>(in.U16());
    } else if (h < PIECE_RUN) {
        out += Words()[(h - PIECE_WORD) % Words().size()];
    } else {
        char16_t unit = (h & 1) ? static_cast<char16_t>(in.U16())
                                : static_cast<char16_t>(in.Byte());
        size_t count = in.U16();
        if (count > RUN_MAX_CCH)
            count = RUN_MAX_CCH;
        out.append(count, unit);
    }
}

/* A text: a byte giving the number of pieces (modulo TEXT_PIECES_MAX),
 * then the pieces. */
inline u16 ReadText(Reader &in)
{
    size_t pieces = in.Byte() % TEXT_PIECES_MAX;
    u16 out;
    for (size_t i = 0; i < pieces; i++)
        ReadPiece(in, out);
    return out;
}

/* The seeds' side of the same format. */
class Writer {
public:
    Writer &Byte(unsigned value)
    {
        bytes_ += static_cast<char>(value & 0xFF);
        return *this;
    }
    Writer &U16(unsigned value) { return Byte(value).Byte(value >> 8); }
    Writer &Raw(const std::string &bytes)
    {
        bytes_ += bytes;
        return *this;
    }
    /* Piece writers, for use after Pieces(n). */
    Writer &Pieces(unsigned n) { return Byte(n); }
    Writer &Latin1(const std::string &text)
    {
        Byte(PIECE_LATIN1 + static_cast<unsigned>(text.size()));
        return Raw(text);
    }
    Writer &Word(unsigned index) { return Byte(PIECE_WORD + index); }
    Writer &Run(char unit, unsigned count)
    {
        return Byte(PIECE_RUN).Byte(static_cast<unsigned char>(unit)).U16(count);
    }
    /* A whole text of one Latin-1 piece, or of one word. */
    Writer &Text(const std::string &text) { return Pieces(1).Latin1(text); }
    Writer &TextWord(unsigned index) { return Pieces(1).Word(index); }
    const std::string &Bytes() const { return bytes_; }

private:
    std::string bytes_;
};

/* LLVMFuzzerInitialize's "--write-seeds=DIR": writes the target's seeds
 * into DIR, one file per seed, and ends the process. */
inline void WriteSeedsIfAsked(
    int argc, char **argv,
    const std::vector<std::pair<std::string, std::string>> &seeds)
{
    static const char kOption[] = "--write-seeds=";
    for (int i = 1; i < argc; i++) {
        if (std::strncmp(argv[i], kOption, sizeof kOption - 1) != 0)
            continue;
        std::string dir = argv[i] + sizeof kOption - 1;
        for (const auto &seed : seeds) {
            std::ofstream out(dir + "/" + seed.first, std::ios::binary);
            out << seed.second;
            if (!out) {
                std::fprintf(stderr, "cannot write %s/%s\n", dir.c_str(),
                             seed.first.c_str());
                std::exit(1);
            }
        }
        std::exit(0);
    }
}

/* ---- the candidate list ---- */

inline void ResetState()
{
    winhost::Reset();
    g_Candidates = CANDIDATE_LIST{};
}

/* Resets the state at the start of an input and again at its end, so that
 * an input frees what it allocated: libFuzzer takes an input whose
 * allocations outlive it for a leak and runs LeakSanitizer on it. */
class InputScope {
public:
    InputScope() { ResetState(); }
    ~InputScope() { ResetState(); }
    InputScope(const InputScope &) = delete;
    InputScope &operator=(const InputScope &) = delete;
};

inline size_t EntryLength(const WCHAR *entry)
{
    size_t cch = 0;
    while (cch < CANDIDATE_CCH && entry[cch] != 0)
        cch++;
    return cch;
}

inline u16 Entry(LONG index)
{
    const WCHAR *entry = g_Candidates.entries[index];
    return u16(entry, EntryLength(entry));
}

/* The units Windows refuses in a file name, besides those below 0x20. */
inline bool IsRefusedUnit(char16_t unit)
{
    static const u16 refused = u"\\/:*?<>\"|";
    return unit < 0x20 || refused.find(unit) != u16::npos;
}

inline bool IsPlainFileName(const u16 &name)
{
    if (name.size() < NAME_MIN_CCH || name == u"." || name == u"..")
        return false;
    for (char16_t unit : name)
        if (IsRefusedUnit(unit))
            return false;
    return name.back() != u'.' && name.back() != u' ';
}

/* "oem", one or more decimal digits, ".inf", ASCII letters in any case:
 * the only name Windows gives a third-party INF it installs. */
inline bool IsOemInfName(const u16 &name)
{
    static const u16 prefix = u"oem", extension = u".inf";
    if (name.size() < prefix.size() + 1 + extension.size())
        return false;
    auto lower = [](char16_t unit) {
        return unit >= u'A' && unit <= u'Z' ? char16_t(unit - u'A' + u'a')
                                            : unit;
    };
    const size_t digitsEnd = name.size() - extension.size();
    for (size_t i = 0; i < prefix.size(); i++)
        if (lower(name[i]) != prefix[i])
            return false;
    for (size_t i = 0; i < extension.size(); i++)
        if (lower(name[digitsEnd + i]) != extension[i])
            return false;
    for (size_t i = prefix.size(); i < digitsEnd; i++)
        if (name[i] < u'0' || name[i] > u'9')
            return false;
    return true;
}

inline std::vector<u16> Entries()
{
    std::vector<u16> out;
    for (LONG e = 0; e < g_Candidates.count; e++)
        out.push_back(Entry(e));
    return out;
}

/* What AddCandidate is documented to do with name (units up to the first
 * zero) given a list holding entries. */
inline bool Accepts(const std::vector<u16> &entries, const u16 &name)
{
    if (entries.size() >= CANDIDATE_MAX)
        return false;
    if (name.size() > ENTRY_MAX_CCH || !IsPlainFileName(name) ||
        !IsOemInfName(name))
        return false;
    for (const u16 &entry : entries) {
        if (entry.compare(0, name.size(), name) == 0)
            return false;
    }
    return true;
}

inline bool WouldAccept(const u16 &name) { return Accepts(Entries(), name); }

/* The list's own invariants, whoever filled it. */
inline void CheckCandidates()
{
    const CANDIDATE_LIST &list = g_Candidates;
    Check(list.count >= 0 && list.count <= CANDIDATE_MAX,
          "candidate count out of range");
    for (LONG e = list.count; e < CANDIDATE_MAX; e++)
        for (size_t i = 0; i < CANDIDATE_CCH; i++)
            Check(list.entries[e][i] == 0, "unused candidate entry not zero");
    for (LONG e = 0; e < list.count; e++) {
        size_t cch = EntryLength(list.entries[e]);
        Check(cch < CANDIDATE_CCH, "candidate entry not terminated");
        Check(cch > 0, "empty candidate entry");
        u16 name = Entry(e);
        Check(IsPlainFileName(name), "candidate entry not a plain file name");
        Check(IsOemInfName(name), "candidate entry not oem, digits, .inf");
        for (LONG earlier = 0; earlier < e; earlier++)
            Check(Entry(earlier).compare(0, name.size(), name) != 0,
                  "candidate entry equal to or a prefix of an earlier one");
    }
}

/* ---- the machine ---- */

inline void SerializeKey(const winhost::RegKey &key, std::string &out)
{
    out += winhost::Utf16Le(key.name) + '\x01';
    for (const auto &v : key.values) {
        out += winhost::Utf16Le(v.name) + '\x02' + std::to_string(v.type) +
               '\x02' + std::to_string(v.data.size()) + '\x02' + v.data +
               (v.refuseDelete ? "R" : "-");
    }
    out += '\x03';
    for (const auto &sub : key.subkeys) {
        out += winhost::Utf16Le(sub.first) + '\x04';
        SerializeKey(*sub.second, out);
    }
    out += '\x05';
}

inline void SerializeFiles(std::string &out)
{
    for (const auto &f : winhost::machine().files) {
        const winhost::FileEntry &e = f.second;
        out += winhost::Utf16Le(f.first) + '\x01' + winhost::Utf16Le(e.path) +
               '\x01' + (e.dir ? "D" : "F") + (e.heldOpen ? "H" : "-") +
               std::to_string(e.attributes) + ',' +
               std::to_string(e.creation.dwLowDateTime) + ',' +
               std::to_string(e.creation.dwHighDateTime) + ',' +
               std::to_string(e.lastWrite.dwLowDateTime) + ',' +
               std::to_string(e.lastWrite.dwHighDateTime) + ',' +
               std::to_string(e.content.size()) + '\x02' + e.content + '\x03';
    }
}

/* Everything the scans must leave as it was: the registry and the files. */
inline std::string MachineState()
{
    std::string out;
    SerializeKey(winhost::machine().hklm, out);
    out += '\x06';
    SerializeFiles(out);
    return out;
}

/* The scans only read: no call outside these, and files opened for
 * reading only. */
inline void CheckReadOnlyCalls()
{
    static const std::set<std::string> kReading = {
        "RegOpenKeyExW",  "RegQueryInfoKeyW", "RegEnumKeyW",
        "RegEnumValueW",  "RegCloseKey",      "FindFirstFileW",
        "FindNextFileW",  "FindClose",        "CreateFileW",
        "ReadFile",       "CloseHandle",      "GetLastError",
    };
    for (const auto &call : winhost::machine().calls) {
        Check(kReading.count(call.fn) == 1, "a scan made a changing call");
        if (call.fn == "CreateFileW")
            Check(call.detail.rfind("0x80000000 ", 0) == 0,
                  "a scan opened a file for more than reading");
    }
}

/* After a scan: the machine as before, no handle open, the list sound. */
inline void CheckAfterScan(const std::string &stateBefore)
{
    Check(winhost::OpenHandleCount() == 0, "a scan left a handle open");
    Check(MachineState() == stateBefore, "a scan changed the machine");
    CheckReadOnlyCalls();
    CheckCandidates();
}

} // namespace fuzz

#endif
