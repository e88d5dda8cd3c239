/* advapi32's security descriptors and kernel32's LocalFree, as far as the
 * installer uses them: a descriptor made from SDDL, its DACL, and a DACL
 * set on a file or folder by name. */
#include <algorithm>
#include <cstdlib>
#include <map>

#include "host/internal.h"

namespace winhost {

FileEntry *FindEntry(const std::vector<u16> &components);
bool FolderExistsAt(const std::vector<u16> &components);
const u16 &DaclAt(const std::vector<u16> &components);

namespace {

/* Stand-in: a descriptor is a block of its own whose meaning is kept
 * here, its DACL in canonical SDDL; the ACL it hands out is the block's
 * second byte, so that the two are told apart as on Windows. */
struct Descriptor {
    u16 flags; /* "P" and the like, between "D:" and the first ACE */
    u16 aces;
    u16 owner; /* "S-1-..."; empty when none is named */
};
std::map<const void *, Descriptor> g_descriptors;

const Descriptor *DescriptorOf(const void *p)
{
    auto it = g_descriptors.find(p);
    return it == g_descriptors.end() ? nullptr : &it->second;
}

const Descriptor *DescriptorOfAcl(const void *acl)
{
    for (auto &d : g_descriptors)
        if (static_cast<const char *>(d.first) + 1 == acl)
            return &d.second;
    return nullptr;
}

/* SDDL's SID aliases that the stand-in knows. */
const struct {
    const char16_t *alias, *sid;
} kSidAliases[] = {{u"SY", u"S-1-5-18"},
                   {u"BA", u"S-1-5-32-544"},
                   {u"BU", u"S-1-5-32-545"},
                   {u"WD", u"S-1-1-0"}};

u16 SidOfAlias(const u16 &text)
{
    for (auto &a : kSidAliases)
        if (text == a.alias)
            return a.sid;
    return text;
}

/* Parses an optional "O:" owner, then "D:" flags and ACEs; group and
 * SACL parts are refused.  Stand-in: an ACE is checked for its
 * parentheses and five semicolons only, not for its rights or SID. */
bool ParseSddl(const u16 &sddl, Descriptor &out)
{
    size_t i = 0;
    if (sddl.rfind(u"O:", 0) == 0) {
        i = sddl.find(u"D:");
        out.owner = SidOfAlias(sddl.substr(2, i == u16::npos ? 0 : i - 2));
        if (SidBytes(out.owner).empty())
            return false;
    }
    if (sddl.compare(i, 2, u"D:") != 0)
        return false;
    i += 2;
    while (i < sddl.size() && sddl[i] != u'(')
        out.flags += sddl[i++];
    if (out.flags != u"" && out.flags != u"P" && out.flags != u"AI" &&
        out.flags != u"PAI" && out.flags != u"AR")
        return false;
    while (i < sddl.size()) {
        size_t end = sddl.find(u')', i);
        if (sddl[i] != u'(' || end == u16::npos)
            return false;
        u16 ace = sddl.substr(i, end - i + 1);
        if (std::count(ace.begin(), ace.end(), u';') != 5)
            return false;
        out.aces += ace;
        i = end + 1;
    }
    return true;
}

} // namespace

bool DaclOfDescriptor(const void *descriptor, u16 &dacl)
{
    const Descriptor *d = DescriptorOf(descriptor);
    if (!d)
        return false;
    dacl = u"D:" + d->flags + d->aces;
    return true;
}

bool SidText(const void *sid, u16 &text)
{
    const unsigned char *b = static_cast<const unsigned char *>(sid);
    if (!b || b[0] != 1 || b[1] > 15)
        return false;
    uint64_t authority = 0;
    for (int i = 2; i < 8; i++)
        authority = (authority << 8) | b[i];
    std::string out = "S-1-" + std::to_string(authority);
    for (int i = 0; i < b[1]; i++) {
        uint32_t sub = 0;
        for (int k = 3; k >= 0; k--)
            sub = (sub << 8) | b[8 + 4 * i + k];
        out += "-" + std::to_string(sub);
    }
    text = FromUtf8(out);
    return true;
}

std::vector<unsigned char> SidBytes(const u16 &text)
{
    const std::string t = ToUtf8(text);
    if (t.rfind("S-1-", 0) != 0)
        return {};
    std::vector<uint64_t> parts;
    for (size_t i = 4; i <= t.size();) {
        size_t end = t.find('-', i);
        if (end == std::string::npos)
            end = t.size();
        const std::string part = t.substr(i, end - i);
        if (part.empty() || part.find_first_not_of("0123456789") != std::string::npos)
            return {};
        parts.push_back(std::stoull(part));
        i = end + 1;
    }
    if (parts.size() < 2 || parts.size() > 16)
        return {};
    /* Revision, sub-authority count, 48-bit authority (big-endian), then
     * 32-bit sub-authorities (little-endian). */
    std::vector<unsigned char> out = {1, static_cast<unsigned char>(parts.size() - 1)};
    for (int k = 5; k >= 0; k--)
        out.push_back(static_cast<unsigned char>(parts[0] >> (8 * k)));
    for (size_t i = 1; i < parts.size(); i++)
        for (int k = 0; k < 4; k++)
            out.push_back(static_cast<unsigned char>(parts[i] >> (8 * k)));
    return out;
}

u16 OwnerOfDescriptor(const void *descriptor)
{
    const Descriptor *d = DescriptorOf(descriptor);
    return d ? d->owner : u16();
}

bool TokenHolds(const u16 &sid)
{
    return TokenMayOwn(sid) || sid == u"S-1-1-0" || sid == u"S-1-5-32-545";
}

bool TokenMayOwn(const u16 &sid)
{
    return sid == machine().tokenUser ||
           (machine().tokenAdministrators && sid == u"S-1-5-32-544");
}

namespace {

/* Generic rights as file rights ("File Security and Access Rights"). */
const DWORD kFileAllAccess = 0x1F01FF;
const DWORD kFileGenericRead = 0x120089;
const DWORD kFileGenericWrite = 0x120116;

DWORD FileRights(DWORD access)
{
    DWORD rights = access & 0xFFFFFF;
    if (access & GENERIC_READ)
        rights |= kFileGenericRead;
    if (access & GENERIC_WRITE)
        rights |= kFileGenericWrite;
    return rights;
}

/* An ACE's rights: a number, or two-letter file and generic rights. */
DWORD RightsOf(const u16 &text)
{
    if (text.rfind(u"0x", 0) == 0)
        return static_cast<DWORD>(std::stoul(ToUtf8(text), nullptr, 16));
    DWORD rights = 0;
    for (size_t i = 0; i + 1 < text.size(); i += 2) {
        const u16 r = text.substr(i, 2);
        if (r == u"FA" || r == u"GA")
            rights |= kFileAllAccess;
        else if (r == u"FR" || r == u"GR")
            rights |= kFileGenericRead;
        else if (r == u"FW" || r == u"GW")
            rights |= kFileGenericWrite;
    }
    return rights;
}

} // namespace

bool DaclGrants(const u16 &dacl, DWORD access)
{
    Descriptor d;
    if (dacl.empty())
        return true;
    if (!ParseSddl(dacl, d))
        return false;
    DWORD granted = 0;
    for (size_t i = 0; i < d.aces.size();) {
        const size_t end = d.aces.find(u')', i);
        std::vector<u16> field(1);
        for (char16_t ch : d.aces.substr(i + 1, end - i - 1)) {
            if (ch == u';')
                field.emplace_back();
            else
                field.back() += ch;
        }
        i = end + 1;
        /* Stand-in: only allowing ACEs that apply to the entry itself
         * are evaluated; a deny ACE is not. */
        if (field[0] == u"A" && field[1].find(u"IO") == u16::npos &&
            TokenHolds(SidOfAlias(field[5])))
            granted |= RightsOf(field[2]);
    }
    return (granted & FileRights(access)) == FileRights(access);
}

int LiveSecurityDescriptors() { return static_cast<int>(g_descriptors.size()); }

void ClearDescriptors()
{
    for (auto &d : g_descriptors)
        std::free(const_cast<void *>(d.first));
    g_descriptors.clear();
}

} // namespace winhost

using namespace winhost;

extern "C" {

BOOL WINAPI ConvertStringSecurityDescriptorToSecurityDescriptorW(
    LPCWSTR text, DWORD revision, PSECURITY_DESCRIPTOR *sd, ULONG *size)
{
    u16 sddl = FromWide(text);
    if (auto err = Enter("ConvertStringSecurityDescriptorToSecurityDescriptorW",
                         sddl, "", std::to_string(revision))) {
        SetLastError(*err);
        return FALSE;
    }
    if (!text || !sd) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (revision != SDDL_REVISION_1) {
        SetLastError(ERROR_UNKNOWN_REVISION);
        return FALSE;
    }
    Descriptor d;
    if (!ParseSddl(sddl, d)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    /* A self-relative descriptor: header, ACL header, one ACE of 20 bytes
     * each, as Windows sizes these. */
    ULONG bytes = static_cast<ULONG>(20 + 8 + 20 * std::count(d.aces.begin(),
                                                              d.aces.end(), u'('));
    void *block = std::calloc(1, bytes);
    g_descriptors[block] = d;
    *sd = block;
    if (size)
        *size = bytes;
    return TRUE;
}

HLOCAL WINAPI LocalFree(HLOCAL mem)
{
    Enter("LocalFree");
    if (!mem)
        return NULL;
    auto it = g_descriptors.find(mem);
    if (it == g_descriptors.end()) {
        /* Stand-in: only descriptors are local blocks here. */
        SetLastError(ERROR_INVALID_HANDLE);
        return mem;
    }
    std::free(mem);
    g_descriptors.erase(it);
    return NULL;
}

BOOL WINAPI CreateWellKnownSid(WELL_KNOWN_SID_TYPE type, PSID domain, PSID sid,
                               DWORD *cb)
{
    if (auto err = Enter("CreateWellKnownSid", u16(), "",
                         std::to_string(type))) {
        SetLastError(*err);
        return FALSE;
    }
    (void)domain;
    std::vector<unsigned char> bytes;
    if (type == WinLocalSystemSid)
        bytes = SidBytes(u"S-1-5-18");
    else if (type == WinBuiltinAdministratorsSid)
        bytes = SidBytes(u"S-1-5-32-544");
    else {
        /* Stand-in: only the SIDs the installer names are known. */
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (!cb || *cb < bytes.size() || !sid) {
        if (cb)
            *cb = static_cast<DWORD>(bytes.size());
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    std::copy(bytes.begin(), bytes.end(), static_cast<unsigned char *>(sid));
    *cb = static_cast<DWORD>(bytes.size());
    return TRUE;
}

BOOL WINAPI GetSecurityDescriptorDacl(PSECURITY_DESCRIPTOR sd, BOOL *present,
                                      PACL *dacl, BOOL *defaulted)
{
    if (auto err = Enter("GetSecurityDescriptorDacl")) {
        SetLastError(*err);
        return FALSE;
    }
    if (!DescriptorOf(sd)) {
        SetLastError(ERROR_INVALID_SECURITY_DESCR);
        return FALSE;
    }
    *present = TRUE;
    *dacl = reinterpret_cast<PACL>(static_cast<char *>(sd) + 1);
    *defaulted = FALSE;
    return TRUE;
}

/* The file or folder a named-security call names, in *e with its path
 * components in c; otherwise the error Windows gives for a missing one. */
static DWORD NamedEntry(const u16 &path, std::vector<u16> &c, FileEntry **e)
{
    if (!ProcessPath(path, c))
        return ERROR_PATH_NOT_FOUND;
    *e = FindEntry(c);
    if (*e)
        return ERROR_SUCCESS;
    return FolderExistsAt(std::vector<u16>(c.begin(), c.end() - 1))
               ? ERROR_FILE_NOT_FOUND
               : ERROR_PATH_NOT_FOUND;
}

DWORD WINAPI SetNamedSecurityInfoW(LPWSTR name, SE_OBJECT_TYPE type,
                                   SECURITY_INFORMATION info, PSID owner,
                                   PSID group, PACL dacl, PACL sacl)
{
    u16 path = FromWide(name);
    if (auto err = Enter("SetNamedSecurityInfoW", path, "", Hex(info)))
        return *err;
    (void)owner;
    (void)group;
    (void)sacl;
    const Descriptor *d = DescriptorOfAcl(dacl);
    if (type != SE_FILE_OBJECT || !(info & DACL_SECURITY_INFORMATION))
        return ERROR_INVALID_PARAMETER;
    if (!d)
        return ERROR_INVALID_ACL;
    std::vector<u16> c;
    FileEntry *e = nullptr;
    if (DWORD error = NamedEntry(path, c, &e))
        return error;
    /* Stand-in: Windows also rewrites the inherited ACEs of everything
     * below; inheritance is not modelled, so the children keep theirs. */
    e->dacl = u16(u"D:") +
              ((info & PROTECTED_DACL_SECURITY_INFORMATION) ? u"P" : u"") +
              d->aces;
    return ERROR_SUCCESS;
}

DWORD WINAPI GetNamedSecurityInfoW(LPCWSTR name, SE_OBJECT_TYPE type,
                                   SECURITY_INFORMATION info, PSID *owner,
                                   PSID *group, PACL *dacl, PACL *sacl,
                                   PSECURITY_DESCRIPTOR *sd)
{
    u16 path = FromWide(name);
    if (auto err = Enter("GetNamedSecurityInfoW", path, "", Hex(info)))
        return *err;
    (void)group;
    (void)dacl;
    (void)sacl;
    /* Stand-in: only a file's owner is read. */
    std::vector<u16> c;
    if (type != SE_FILE_OBJECT || info != OWNER_SECURITY_INFORMATION ||
        !owner || !sd)
        return ERROR_INVALID_PARAMETER;
    FileEntry *e = nullptr;
    if (DWORD error = NamedEntry(path, c, &e))
        return error;
    /* It takes READ_CONTROL, which an object's owner always has. */
    if (!TokenHolds(e->owner) && !DaclGrants(DaclAt(c), READ_CONTROL))
        return ERROR_ACCESS_DENIED;
    /* A self-relative descriptor, the owner's SID after its header.
     * Stand-in: on FAT, which keeps no security, Windows' answer is not
     * documented; ReactOS reports Everyone, and so does this. */
    const bool fat = machine().fatVolumes.count(Upper(c[0])) != 0;
    const std::vector<unsigned char> sid = SidBytes(fat ? u"S-1-1-0" : e->owner);
    auto *block = static_cast<unsigned char *>(std::calloc(1, 20 + sid.size()));
    std::copy(sid.begin(), sid.end(), block + 20);
    g_descriptors[block].owner = fat ? u"S-1-1-0" : e->owner;
    *owner = sid.empty() ? nullptr : block + 20;
    *sd = block;
    return ERROR_SUCCESS;
}

BOOL WINAPI EqualSid(PSID a, PSID b)
{
    Enter("EqualSid");
    u16 ta, tb;
    /* A SID that is not well formed equals nothing.  Stand-in: the last
     * error is cleared either way, as Wine's EqualSid does; Microsoft
     * documents no error for SIDs that differ. */
    SetLastError(ERROR_SUCCESS);
    return SidText(a, ta) && SidText(b, tb) && ta == tb;
}

} // extern "C"
