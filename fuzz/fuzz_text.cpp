/*
 * libFuzzer target of the candidate list and the wide text search, fed
 * arbitrary UTF-16 units: AddCandidate against a model of what it accepts,
 * WideTextSearch against a plain reference search.
 *
 * Input: records until the bytes run out, each an op byte and a text
 * (fuzz_common.h's text format).  Op bits 0-1 say what to do:
 *   0  AddCandidate(text)
 *   1  the text becomes the haystack of later searches
 *   2  WideTextSearch(haystack, text) and WideTextSearch(text, haystack)
 *   3  AddCandidate of an entry (index: op bits 3-6, modulo the count)
 *      followed by the text, or with op bit 7 the entry's first
 *      text-length units, so that equal names and prefixes come cheaply
 * At the end every entry is searched for in the haystack.  Every string
 * handed over lives in a heap block of exactly its size, so that a read
 * past its terminator reaches AddressSanitizer.
 */
#include <memory>

#include "fuzz/fuzz_common.h"

namespace {

using fuzz::Check;
using fuzz::u16;

/* Searches take part only with the first 256 needle units, and find
 * matches that begin within the first 65535 text units. */
constexpr size_t NEEDLE_MAX_CCH = 256;
constexpr size_t TEXT_MAX_CCH = 65535;

enum : uint8_t {
    OP_ADD = 0,
    OP_HAYSTACK = 1,
    OP_SEARCH = 2,
    OP_ADD_DERIVED = 3,
    OP_ACTION_MASK = 3,
    OP_ENTRY_SHIFT = 3,
    OP_ENTRY_MASK = 0x0F,
    OP_PREFIX = 0x80,
};

/* units and a terminator, in a block of exactly that size. */
class WideBuffer {
public:
    explicit WideBuffer(const u16 &units)
        : cch_(units.size()), units_(new WCHAR[units.size() + 1])
    {
        std::copy(units.begin(), units.end(), units_.get());
        units_[cch_] = 0;
    }
    LPCWSTR Get() const { return units_.get(); }
    /* What a caller reading up to the first zero unit sees. */
    u16 Text() const { return u16(units_.get()); }

private:
    size_t cch_;
    std::unique_ptr<WCHAR[]> units_;
};

LONG ReferenceSearch(const u16 &text, const u16 &needleUnits)
{
    u16 needle = needleUnits.substr(0, NEEDLE_MAX_CCH);
    if (needle.empty())
        return 0;
    size_t at = text.find(needle);
    if (at == u16::npos || at >= TEXT_MAX_CCH)
        return 0;
    return static_cast<LONG>(at + needle.size());
}

void CheckSearch(const WideBuffer &text, const WideBuffer &needle)
{
    LONG found = WideTextSearch(text.Get(), needle.Get());
    u16 t = text.Text(), n = needle.Text().substr(0, NEEDLE_MAX_CCH);
    if (found != 0) {
        Check(found >= static_cast<LONG>(n.size()) &&
                  static_cast<size_t>(found) <= t.size(),
              "WideTextSearch result outside the text");
        Check(t.compare(found - n.size(), n.size(), n) == 0,
              "WideTextSearch result not just after an occurrence");
    }
    Check(found == ReferenceSearch(t, needle.Text()),
          "WideTextSearch differs from the reference search");
}

void CheckAdd(const WideBuffer &name)
{
    const CANDIDATE_LIST before = g_Candidates;
    u16 text = name.Text();
    bool expected = fuzz::WouldAccept(text);
    BOOL added = AddCandidate(name.Get());
    Check(added == TRUE || added == FALSE, "AddCandidate result not a BOOL");
    if (added) {
        Check(g_Candidates.count == before.count + 1,
              "AddCandidate TRUE but the count did not grow by one");
        Check(fuzz::Entry(g_Candidates.count - 1) == text,
              "AddCandidate TRUE but the last entry differs from the name");
        Check(std::memcmp(g_Candidates.entries, before.entries,
                          sizeof before.entries[0] * before.count) == 0,
              "AddCandidate changed an earlier entry");
    } else {
        Check(std::memcmp(&g_Candidates, &before, sizeof before) == 0,
              "AddCandidate FALSE but the list changed");
    }
    Check((added != FALSE) == expected,
          "AddCandidate accepted or refused against its contract");
    fuzz::CheckCandidates();
}

u16 Derived(uint8_t op, const u16 &text)
{
    if (g_Candidates.count == 0)
        return text;
    LONG index = ((op >> OP_ENTRY_SHIFT) & OP_ENTRY_MASK) % g_Candidates.count;
    u16 entry = fuzz::Entry(index);
    return (op & OP_PREFIX) ? entry.substr(0, text.size()) : entry + text;
}

/* ---- seeds ---- */

std::string SeedAdds()
{
    fuzz::Writer w;
    w.Byte(OP_ADD).Text("oem12.inf");
    w.Byte(OP_ADD).Text("oem3.inf");
    w.Byte(OP_ADD_DERIVED).Pieces(0);                    /* oem12.inf again */
    w.Byte(OP_ADD_DERIVED | OP_PREFIX).Text("oem12.i");  /* a prefix */
    w.Byte(OP_ADD_DERIVED | 1 << OP_ENTRY_SHIFT).Text("x"); /* oem3.infx */
    w.Byte(OP_ADD).Text("OEM12.INF");
    return w.Bytes();
}

std::string SeedFull()
{
    fuzz::Writer w;
    for (char c = '0'; c <= '9'; c++)
        w.Byte(OP_ADD).Pieces(3).Word(6).Latin1(std::string(1, c)).Word(5);
    for (const char *name : {"oem10", "OEM11"})
        w.Byte(OP_ADD).Pieces(2).Latin1(name).Word(5);
    /* Windows' own INF files, never the device's. */
    for (const char *name : {"usb.inf", "winusb.inf", "machine.inf", "oema.inf"})
        w.Byte(OP_ADD).Text(name);
    return w.Bytes();
}

std::string SeedRefused()
{
    fuzz::Writer w;
    for (const char *name : {"..\\x", "a*b", "ab", "oem1.inf.", "oem1.inf ",
                             "a\tb", "...", "C:x", "a/b", "a|b"})
        w.Byte(OP_ADD).Text(name);
    w.Byte(OP_ADD).Pieces(1).Run('x', CANDIDATE_CCH);     /* too long */
    w.Byte(OP_ADD).Pieces(1).Run('x', CANDIDATE_CCH - 1); /* just fits */
    w.Byte(OP_ADD).Pieces(3).Latin1("oem").Word(23).Latin1("1.inf");
    return w.Bytes();
}

std::string SeedSearches()
{
    fuzz::Writer w;
    w.Byte(OP_HAYSTACK).Pieces(2).Word(4).Latin1("5.inf,%desc%");
    w.Byte(OP_SEARCH).TextWord(5);
    w.Byte(OP_SEARCH).Text(".INF");
    w.Byte(OP_SEARCH).Pieces(0);
    w.Byte(OP_HAYSTACK).Pieces(3).Run('n', 300).Latin1("-").Word(23);
    w.Byte(OP_SEARCH).Pieces(2).Run('n', 256).Latin1("?");
    w.Byte(OP_ADD).Text("oem7.inf");
    return w.Bytes();
}

std::string SeedLongText()
{
    fuzz::Writer w;
    w.Byte(OP_HAYSTACK).Pieces(2).Run('a', 65534).Latin1("abc");
    w.Byte(OP_SEARCH).Text("bc");
    w.Byte(OP_SEARCH).Text("abc");
    return w.Bytes();
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    fuzz::WriteSeedsIfAsked(*argc, *argv,
                            {{"adds", SeedAdds()},
                             {"full", SeedFull()},
                             {"refused", SeedRefused()},
                             {"searches", SeedSearches()},
                             {"long-text", SeedLongText()}});
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fuzz::InputScope scope;
    fuzz::Reader in(data, size);
    WideBuffer haystack(u16{});
    while (!in.Empty()) {
        uint8_t op = in.Byte();
        u16 text = fuzz::ReadText(in);
        switch (op & OP_ACTION_MASK) {
        case OP_ADD:
            CheckAdd(WideBuffer(text));
            break;
        case OP_HAYSTACK:
            haystack = WideBuffer(text);
            break;
        case OP_SEARCH: {
            WideBuffer needle(text);
            CheckSearch(haystack, needle);
            CheckSearch(needle, haystack);
            break;
        }
        default:
            CheckAdd(WideBuffer(Derived(op, text)));
            break;
        }
    }
    for (LONG e = 0; e < g_Candidates.count; e++)
        CheckSearch(haystack, WideBuffer(fuzz::Entry(e)));
    fuzz::CheckCandidates();
    return 0;
}
