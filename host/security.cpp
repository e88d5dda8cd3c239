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

namespace {

/* Stand-in: a descriptor is a block of its own whose meaning is kept
 * here, its DACL in canonical SDDL; the ACL it hands out is the block's
 * second byte, so that the two are told apart as on Windows. */
struct Descriptor {
    u16 flags; /* "P" and the like, between "D:" and the first ACE */
    u16 aces;
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

/* Parses "D:" flags and ACEs; owner, group and SACL parts are refused.
 * Stand-in: an ACE is checked for its parentheses and five semicolons
 * only, not for its rights or SID. */
bool ParseDacl(const u16 &sddl, Descriptor &out)
{
    if (sddl.rfind(u"D:", 0) != 0)
        return false;
    size_t i = 2;
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
    if (!ParseDacl(sddl, d)) {
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
    /* Revision, sub-authority count, NT authority (5), sub-authorities. */
    std::vector<unsigned char> bytes = {1, 0, 0, 0, 0, 0, 0, 5};
    std::vector<uint32_t> subs;
    if (type == WinLocalSystemSid)
        subs = {18};
    else if (type == WinBuiltinAdministratorsSid)
        subs = {32, 544};
    else {
        /* Stand-in: only the SIDs the installer names are known. */
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    bytes[1] = static_cast<unsigned char>(subs.size());
    for (uint32_t sub : subs)
        for (int k = 0; k < 4; k++)
            bytes.push_back(static_cast<unsigned char>(sub >> (8 * k)));
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
    if (!NormalisePath(path, c))
        return ERROR_PATH_NOT_FOUND;
    FileEntry *e = FindEntry(c);
    if (!e)
        return FolderExistsAt(std::vector<u16>(c.begin(), c.end() - 1))
                   ? ERROR_FILE_NOT_FOUND
                   : ERROR_PATH_NOT_FOUND;
    /* Stand-in: Windows also rewrites the inherited ACEs of everything
     * below; inheritance is not modelled, so the children keep theirs. */
    e->dacl = u16(u"D:") +
              ((info & PROTECTED_DACL_SECURITY_INFORMATION) ? u"P" : u"") +
              d->aces;
    return ERROR_SUCCESS;
}

} // extern "C"
