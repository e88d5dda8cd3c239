/* setupapi's INF reading, in the stand-in: the few functions the run
 * reads its package INF with (DriverVer, Provider, [Manufacturer]). */
#include <algorithm>

#include "host/internal.h"

namespace winhost {

FileEntry *FindEntry(const std::vector<u16> &components);

namespace {

struct InfLine {
    u16 key;                 /* empty for a line without "=" */
    std::vector<u16> fields; /* 1 on; %strkey% resolved, quotes removed */
};
struct InfSection {
    u16 name;
    std::vector<InfLine> lines;
};

u16 Trim(const u16 &text)
{
    size_t begin = text.find_first_not_of(u" \t");
    if (begin == u16::npos)
        return u16();
    return text.substr(begin, text.find_last_not_of(u" \t") - begin + 1);
}

/* Splits at separator outside double quotes. */
std::vector<u16> SplitOutsideQuotes(const u16 &text, char16_t separator)
{
    std::vector<u16> parts(1);
    bool quoted = false;
    for (char16_t ch : text) {
        if (ch == u'"')
            quoted = !quoted;
        if (ch == separator && !quoted)
            parts.emplace_back();
        else
            parts.back() += ch;
    }
    return parts;
}

/* A field as Setup returns it: %strkey% from [Strings] (%% is one %),
 * then its quotes removed.  Stand-in: an unknown %key% stays as it is. */
u16 Resolve(const u16 &raw, const std::vector<std::pair<u16, u16>> &strings)
{
    u16 out;
    for (size_t i = 0; i < raw.size(); i++) {
        size_t close = raw[i] == u'%' ? raw.find(u'%', i + 1) : u16::npos;
        if (close == u16::npos) {
            if (raw[i] != u'"')
                out += raw[i];
            continue;
        }
        u16 key = raw.substr(i + 1, close - i - 1);
        auto found = std::find_if(strings.begin(), strings.end(),
                                  [&](const auto &s) { return EqualNoCase(s.first, key); });
        out += key.empty() ? u"%"
               : found != strings.end() ? found->second
                                        : raw.substr(i, close - i + 1);
        i = close;
    }
    return Trim(out);
}

/* The INF's text: UTF-16LE after its byte-order mark, else one byte a
 * unit.  Stand-in: the system's ANSI code page is not modelled. */
u16 Decode(const std::string &bytes)
{
    u16 text;
    if (bytes.size() >= 2 && bytes[0] == '\xFF' && bytes[1] == '\xFE') {
        for (size_t i = 2; i + 1 < bytes.size(); i += 2)
            text += static_cast<char16_t>(
                static_cast<unsigned char>(bytes[i]) |
                static_cast<unsigned char>(bytes[i + 1]) << 8);
    } else {
        for (char ch : bytes)
            text += static_cast<char16_t>(static_cast<unsigned char>(ch));
    }
    return text;
}

std::vector<InfSection> Parse(const std::vector<u16> &rawLines)
{
    /* Sections of one name are one section, as Setup merges them. */
    std::vector<std::pair<u16, std::vector<u16>>> raw;
    for (const u16 &full : rawLines) {
        u16 line = Trim(SplitOutsideQuotes(full, u';')[0]);
        if (line.size() >= 2 && line.front() == u'[' && line.back() == u']') {
            u16 name = Trim(line.substr(1, line.size() - 2));
            auto same = std::find_if(raw.begin(), raw.end(), [&](const auto &s) {
                return EqualNoCase(s.first, name);
            });
            if (same == raw.end())
                raw.push_back({name, {}});
            else
                std::rotate(same, same + 1, raw.end());
        } else if (!line.empty() && !raw.empty()) {
            raw.back().second.push_back(line);
        }
    }
    std::vector<std::pair<u16, u16>> strings;
    for (auto &[name, lines] : raw) {
        if (!EqualNoCase(name, u"Strings"))
            continue;
        for (const u16 &line : lines) {
            std::vector<u16> kv = SplitOutsideQuotes(line, u'=');
            if (kv.size() == 2)
                strings.push_back({Trim(kv[0]), Resolve(kv[1], {})});
        }
    }
    std::vector<InfSection> sections;
    for (auto &[name, lines] : raw) {
        InfSection section{name, {}};
        for (const u16 &line : lines) {
            std::vector<u16> kv = SplitOutsideQuotes(line, u'=');
            InfLine parsed;
            if (kv.size() > 1)
                parsed.key = Resolve(kv[0], strings);
            for (const u16 &field : SplitOutsideQuotes(kv.back(), u','))
                parsed.fields.push_back(Resolve(field, strings));
            section.lines.push_back(parsed);
        }
        sections.push_back(section);
    }
    return sections;
}

/* The parsed INF an INFCONTEXT or HINF names; nullptr for another. */
std::vector<InfSection> *InfOf(PVOID inf)
{
    static std::vector<InfSection> parsed;
    HandleObject *h =
        LookupHandle(reinterpret_cast<uintptr_t>(inf), HandleKind::Inf);
    if (!h)
        return nullptr;
    parsed = Parse(h->entries);
    return &parsed;
}

} // namespace

} // namespace winhost

using namespace winhost;

extern "C" {

/* Reached through GetProcAddress only, as the installer reaches them. */
HINF WINAPI HostSetupOpenInfFileW(PCWSTR fileName, PCWSTR infClass,
                                  DWORD infStyle, PUINT errorLine)
{
    u16 path = FromWide(fileName);
    if (auto err = Enter("SetupOpenInfFileW", path, "",
                         "style=" + Hex(infStyle)))
        return Failed<HINF>(*err, INVALID_HANDLE_VALUE);
    if (errorLine)
        *errorLine = 0;
    /* Stand-in: the run names no class, so a class filter is refused
     * rather than modelled. */
    std::vector<u16> c;
    FileEntry *e = ProcessPath(path, c) ? FindEntry(c) : nullptr;
    if (!e || e->dir || infClass != nullptr)
        return Failed<HINF>(e ? ERROR_ACCESS_DENIED : ERROR_FILE_NOT_FOUND,
                            INVALID_HANDLE_VALUE);
    HandleObject object{HandleKind::Inf, path};
    u16 text = Decode(e->content);
    object.entries = SplitOutsideQuotes(text, u'\n');
    for (u16 &line : object.entries)
        line.erase(std::remove(line.begin(), line.end(), u'\r'), line.end());
    /* A Windows NT INF names its style in [Version]; anything else is
     * refused as the wrong style, as Setup refuses an old-style INF. */
    bool win4 = false;
    for (const InfSection &s : Parse(object.entries))
        for (const InfLine &l : s.lines)
            win4 = win4 || (EqualNoCase(s.name, u"Version") &&
                            EqualNoCase(l.key, u"Signature") &&
                            (EqualNoCase(l.fields[0], u"$Windows NT$") ||
                             EqualNoCase(l.fields[0], u"$Chicago$")));
    if (!(infStyle & INF_STYLE_WIN4) || !win4)
        return Failed<HINF>(ERROR_WRONG_INF_STYLE, INVALID_HANDLE_VALUE);
    return reinterpret_cast<HINF>(NewHandle(object));
}

void WINAPI HostSetupCloseInfFile(HINF inf)
{
    Enter("SetupCloseInfFile");
    CloseHandleOf(reinterpret_cast<uintptr_t>(inf), HandleKind::Inf);
}

BOOL WINAPI HostSetupFindFirstLineW(HINF inf, PCWSTR section, PCWSTR key,
                                    PINFCONTEXT context)
{
    u16 name = FromWide(section);
    if (auto err = Enter("SetupFindFirstLineW", name, "",
                         "key=" + ToUtf8(FromWide(key))))
        return Failed(*err);
    std::vector<InfSection> *sections = InfOf(inf);
    if (!sections || !context)
        return Failed(ERROR_INVALID_HANDLE);
    for (UINT s = 0; s < sections->size(); s++) {
        if (!EqualNoCase((*sections)[s].name, name))
            continue;
        const std::vector<InfLine> &lines = (*sections)[s].lines;
        for (UINT l = 0; l < lines.size(); l++) {
            if (key == nullptr || EqualNoCase(lines[l].key, FromWide(key))) {
                *context = INFCONTEXT{inf, inf, s, l};
                return TRUE;
            }
        }
        return Failed(ERROR_LINE_NOT_FOUND);
    }
    return Failed(ERROR_SECTION_NOT_FOUND);
}

BOOL WINAPI HostSetupFindNextLine(PINFCONTEXT in, PINFCONTEXT out)
{
    if (auto err = Enter("SetupFindNextLine"))
        return Failed(*err);
    std::vector<InfSection> *sections = in ? InfOf(in->Inf) : nullptr;
    if (!sections || in->Section >= sections->size())
        return Failed(ERROR_INVALID_PARAMETER);
    if (in->Line + 1 >= (*sections)[in->Section].lines.size())
        return Failed(ERROR_LINE_NOT_FOUND);
    *out = *in;
    out->Line++;
    return TRUE;
}

/* Field 0 is the line's key; a field past the last is refused.
 * Stand-in: field 0 of a line without a key is empty; the run never asks
 * for it, and what Setup gives there is not modelled. */
BOOL WINAPI HostSetupGetStringFieldW(PINFCONTEXT context, DWORD index,
                                     PWSTR buffer, DWORD size, PDWORD required)
{
    if (auto err = Enter("SetupGetStringFieldW", u16(), "",
                         "field=" + std::to_string(index)))
        return Failed(*err);
    std::vector<InfSection> *sections = context ? InfOf(context->Inf) : nullptr;
    if (!sections || context->Section >= sections->size() ||
        context->Line >= (*sections)[context->Section].lines.size())
        return Failed(ERROR_INVALID_PARAMETER);
    const InfLine &line = (*sections)[context->Section].lines[context->Line];
    if (index > line.fields.size())
        return Failed(ERROR_INVALID_PARAMETER);
    const u16 &text = index == 0 ? line.key : line.fields[index - 1];
    if (required)
        *required = static_cast<DWORD>(text.size() + 1);
    if (buffer == nullptr)
        return TRUE;
    if (size < text.size() + 1)
        return Failed(ERROR_INSUFFICIENT_BUFFER);
    std::copy(text.begin(), text.end(), buffer);
    buffer[text.size()] = 0;
    return TRUE;
}

} // extern "C"
