/* advapi32 of the stand-in: the registry below HKEY_LOCAL_MACHINE, with
 * the two views of a 64-bit machine. */
#include <algorithm>
#include <cstring>

#include "host/internal.h"

namespace winhost {

namespace {

std::vector<u16> Split(const u16 &path)
{
    std::vector<u16> parts;
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find(u'\\', start);
        if (end == u16::npos)
            end = path.size();
        if (end > start)
            parts.push_back(path.substr(start, end - start));
        start = end + 1;
    }
    return parts;
}

u16 Join(const std::vector<u16> &parts)
{
    u16 out;
    for (size_t i = 0; i < parts.size(); i++)
        out += (i ? u"\\" : u"") + parts[i];
    return out;
}

/* The 32-bit view of a 64-bit machine sees SOFTWARE\WOW6432Node in place
 * of SOFTWARE; a path that already names WOW6432Node is not redirected
 * again.  SYSTEM is shared by both views. */
std::vector<u16> MapView(std::vector<u16> parts, REGSAM sam)
{
    bool view32 = !(sam & KEY_WOW64_64KEY);
    if (machine().is64Bit && view32 && !parts.empty() &&
        EqualNoCase(parts[0], u"SOFTWARE") &&
        !(parts.size() > 1 && EqualNoCase(parts[1], u"WOW6432Node")))
        parts.insert(parts.begin() + 1, u"WOW6432Node");
    return parts;
}

std::string ViewName(REGSAM sam)
{
    if (sam & KEY_WOW64_64KEY)
        return "64";
    if (sam & KEY_WOW64_32KEY)
        return "32";
    return "";
}

/* HKEY_CURRENT_USER's keys are named by this first part.  Stand-in: the
 * user's hive has no views, and only what a test seeds. */
const u16 kCurrentUser = u"HKEY_CURRENT_USER";

RegKey *Walk(std::vector<u16> parts, bool create)
{
    if (!parts.empty() && parts[0] == kCurrentUser) {
        RegKey *key = &machine().hkcu;
        for (size_t i = 1; key && i < parts.size(); i++) {
            auto it = key->subkeys.find(Upper(parts[i]));
            if (it == key->subkeys.end() && create) {
                auto child = std::make_unique<RegKey>();
                child->name = parts[i];
                it = key->subkeys.emplace(Upper(parts[i]), std::move(child)).first;
            }
            key = it == key->subkeys.end() ? nullptr : it->second.get();
        }
        return key;
    }
    /* SYSTEM\CurrentControlSet is a link to the control set in use. */
    if (parts.size() > 1 && EqualNoCase(parts[0], u"SYSTEM") &&
        EqualNoCase(parts[1], u"CurrentControlSet"))
        parts[1] = u"ControlSet001";
    RegKey *key = &machine().hklm;
    for (const u16 &part : parts) {
        auto it = key->subkeys.find(Upper(part));
        if (it == key->subkeys.end()) {
            if (!create)
                return nullptr;
            auto child = std::make_unique<RegKey>();
            child->name = part;
            it = key->subkeys.emplace(Upper(part), std::move(child)).first;
        }
        key = it->second.get();
    }
    return key;
}

/* An open key: the handle table keeps its real path and access. */
struct OpenKey {
    HandleObject *object;
    RegKey *key; /* nullptr once deleted */
};

OpenKey Resolve(HKEY h)
{
    HandleObject *o = LookupHandle(reinterpret_cast<uintptr_t>(h),
                                   HandleKind::Key);
    if (!o)
        return {nullptr, nullptr};
    return {o, Walk(Split(o->path), false)};
}

/* The path and view a call names, for the log. */
u16 PathOf(HKEY h, const u16 &sub, std::string *view)
{
    if (h == HKEY_LOCAL_MACHINE)
        return sub;
    if (h == HKEY_CURRENT_USER)
        return kCurrentUser + u"\\" + sub;
    HandleObject *o = LookupHandle(reinterpret_cast<uintptr_t>(h),
                                   HandleKind::Key);
    if (!o)
        return u"?\\" + sub;
    if (view)
        *view = ViewName(o->access);
    return sub.empty() ? o->path : o->path + u"\\" + sub;
}

/* Below SYSTEM\<control set>\Enum, with Machine::enumSystemOnly. */
bool InEnumTree(const std::vector<u16> &parts)
{
    return machine().enumSystemOnly && parts.size() >= 3 &&
           EqualNoCase(parts[0], u"SYSTEM") && EqualNoCase(parts[2], u"Enum");
}

LSTATUS DeleteKeyAt(const std::vector<u16> &parts)
{
    if (parts.empty())
        return ERROR_ACCESS_DENIED;
    RegKey *parent = Walk({parts.begin(), parts.end() - 1}, false);
    RegKey *key = Walk(parts, false);
    if (!parent || !key)
        return ERROR_FILE_NOT_FOUND;
    /* Windows deletes only a key without sub-keys. */
    if (!key->subkeys.empty() || key->refuseDelete)
        return ERROR_ACCESS_DENIED;
    if (InEnumTree(parts))
        return ERROR_ACCESS_DENIED;
    parent->subkeys.erase(Upper(parts.back()));
    return ERROR_SUCCESS;
}

} // namespace

RegKey &SeedKey(const u16 &path) { return *Walk(Split(path), true); }

RegValue &SeedValueBytes(const u16 &keyPath, const u16 &name, DWORD type,
                         const std::string &data)
{
    RegKey &key = SeedKey(keyPath);
    for (auto &v : key.values) {
        if (EqualNoCase(v.name, name)) {
            v.type = type;
            v.data = data;
            return v;
        }
    }
    key.values.push_back({name, type, data});
    return key.values.back();
}

RegValue &SeedValue(const u16 &keyPath, const u16 &name, const u16 &text)
{
    return SeedValueBytes(keyPath, name, REG_SZ, Utf16Le(text) + '\0' + '\0');
}

RegKey *FindKey(const u16 &path) { return Walk(Split(path), false); }

const RegValue *FindValue(const u16 &keyPath, const u16 &name)
{
    RegKey *key = FindKey(keyPath);
    if (!key)
        return nullptr;
    for (auto &v : key->values)
        if (EqualNoCase(v.name, name))
            return &v;
    return nullptr;
}

} // namespace winhost

using namespace winhost;

extern "C" {

LSTATUS WINAPI RegOpenKeyExW(HKEY root, LPCWSTR subKey, DWORD options,
                             REGSAM sam, PHKEY result)
{
    u16 sub = FromWide(subKey);
    std::string view = ViewName(sam);
    u16 logged = PathOf(root, sub, nullptr);
    if (auto err = Enter("RegOpenKeyExW", logged, view,
                         "options=" + Hex(options) + " sam=" + Hex(sam))) {
        *result = NULL;
        return static_cast<LSTATUS>(*err);
    }
    std::vector<u16> parts;
    if (root == HKEY_LOCAL_MACHINE) {
        parts = MapView(Split(sub), sam);
    } else if (root == HKEY_CURRENT_USER) {
        parts = Split(kCurrentUser + u"\\" + sub);
    } else {
        OpenKey parent = Resolve(root);
        if (!parent.object) {
            *result = NULL;
            return ERROR_INVALID_HANDLE;
        }
        if (!parent.key) {
            *result = NULL;
            return ERROR_KEY_DELETED;
        }
        parts = Split(parent.object->path);
        for (auto &p : Split(sub))
            parts.push_back(p);
    }
    RegKey *key = Walk(parts, false);
    if (!key) {
        *result = NULL;
        return ERROR_FILE_NOT_FOUND;
    }
    /* An Enum key grants an administrator more than reading only through
     * REG_OPTION_BACKUP_RESTORE, from Windows 7 on (Machine::
     * enumSystemOnly).  Stand-in: the privileges it needs are not checked. */
    const Machine &m = machine();
    if (InEnumTree(parts) &&
        (sam & ~REGSAM{KEY_WOW64_32KEY | KEY_WOW64_64KEY | KEY_READ}) &&
        !(m.osMajor * 100 + m.osMinor >= 601 &&
          (options & REG_OPTION_BACKUP_RESTORE))) {
        *result = NULL;
        return ERROR_ACCESS_DENIED;
    }
    /* Store the real, case-preserved path of the key. */
    std::vector<u16> real;
    for (size_t i = 0; i < parts.size(); i++) {
        RegKey *walk = Walk({parts.begin(), parts.begin() + i + 1}, false);
        real.push_back(i == 0 && parts[0] == kCurrentUser ? kCurrentUser
                                                          : walk->name);
    }
    *result = reinterpret_cast<HKEY>(
        NewHandle({HandleKind::Key, Join(real), {}, 0, sam}));
    return ERROR_SUCCESS;
}

/* Why the open key k cannot be used, ERROR_SUCCESS when it can: a handle
 * that is no key's, a reserved argument given, or a key deleted since it
 * was opened. */
static LSTATUS KeyError(const OpenKey &k, bool reserved)
{
    if (!k.object || reserved)
        return k.object ? ERROR_INVALID_PARAMETER : ERROR_INVALID_HANDLE;
    return k.key ? ERROR_SUCCESS : ERROR_KEY_DELETED;
}

LSTATUS WINAPI RegQueryInfoKeyW(HKEY h, LPWSTR cls, LPDWORD cchClass,
                                LPDWORD reserved, LPDWORD subKeys,
                                LPDWORD maxSubKeyLen, LPDWORD maxClassLen,
                                LPDWORD values, LPDWORD maxValueNameLen,
                                LPDWORD maxValueLen, LPDWORD securityLen,
                                FILETIME *lastWrite)
{
    std::string view;
    u16 path = PathOf(h, u"", &view);
    if (auto err = Enter("RegQueryInfoKeyW", path, view))
        return static_cast<LSTATUS>(*err);
    (void)reserved;
    OpenKey k = Resolve(h);
    if (LSTATUS error = KeyError(k, false))
        return error;
    if (cls && cchClass && *cchClass)
        cls[0] = 0;
    if (cchClass)
        *cchClass = 0;
    if (subKeys)
        *subKeys = static_cast<DWORD>(k.key->subkeys.size());
    DWORD maxSub = 0, maxName = 0, maxData = 0;
    for (auto &s : k.key->subkeys)
        maxSub = std::max<DWORD>(maxSub, s.second->name.size());
    for (auto &v : k.key->values) {
        maxName = std::max<DWORD>(maxName, v.name.size());
        maxData = std::max<DWORD>(maxData, v.data.size());
    }
    if (maxSubKeyLen)
        *maxSubKeyLen = maxSub;
    if (maxClassLen)
        *maxClassLen = 0;
    if (values)
        *values = static_cast<DWORD>(k.key->values.size());
    if (maxValueNameLen)
        *maxValueNameLen = maxName;
    if (maxValueLen)
        *maxValueLen = maxData;
    if (securityLen)
        *securityLen = 0;
    if (lastWrite)
        *lastWrite = Ft(0);
    return ERROR_SUCCESS;
}

LSTATUS WINAPI RegEnumKeyW(HKEY h, DWORD index, LPWSTR name, DWORD cchName)
{
    std::string view;
    u16 path = PathOf(h, u"", &view);
    if (auto err = Enter("RegEnumKeyW", path, view, std::to_string(index)))
        return static_cast<LSTATUS>(*err);
    OpenKey k = Resolve(h);
    if (LSTATUS error = KeyError(k, false))
        return error;
    /* Sub-keys enumerate sorted without case, as Windows gives them. */
    if (index >= k.key->subkeys.size())
        return ERROR_NO_MORE_ITEMS;
    auto it = k.key->subkeys.begin();
    std::advance(it, index);
    const u16 &sub = it->second->name;
    if (sub.size() + 1 > cchName)
        return ERROR_MORE_DATA;
    std::copy(sub.begin(), sub.end(), name);
    name[sub.size()] = 0;
    return ERROR_SUCCESS;
}

LSTATUS WINAPI RegEnumValueW(HKEY h, DWORD index, LPWSTR name,
                             LPDWORD cchName, LPDWORD reserved, LPDWORD type,
                             LPBYTE data, LPDWORD cbData)
{
    std::string view;
    u16 path = PathOf(h, u"", &view);
    if (auto err = Enter("RegEnumValueW", path, view, std::to_string(index)))
        return static_cast<LSTATUS>(*err);
    (void)reserved;
    OpenKey k = Resolve(h);
    if (LSTATUS error = KeyError(k, false))
        return error;
    if (index >= k.key->values.size())
        return ERROR_NO_MORE_ITEMS;
    const RegValue &v = k.key->values[index];
    /* A name that does not fit: ERROR_MORE_DATA, nothing written. */
    if (v.name.size() + 1 > *cchName)
        return ERROR_MORE_DATA;
    std::copy(v.name.begin(), v.name.end(), name);
    name[v.name.size()] = 0;
    *cchName = static_cast<DWORD>(v.name.size());
    if (type)
        *type = v.type;
    if (data && cbData && v.data.size() > *cbData) {
        /* Data that does not fit leaves the buffer's content unspecified;
         * the stand-in writes text that would match if anyone read it. */
        static const char16_t junk[] = u"QX DSP USB@oem1.inf";
        for (DWORD i = 0; i < *cbData; i++)
            data[i] = reinterpret_cast<const BYTE *>(junk)[i % (sizeof junk - 2)];
        *cbData = static_cast<DWORD>(v.data.size());
        return ERROR_MORE_DATA;
    }
    if (data && cbData)
        std::memcpy(data, v.data.data(), v.data.size());
    if (cbData)
        *cbData = static_cast<DWORD>(v.data.size());
    return ERROR_SUCCESS;
}

/* Creates what is missing of HKEY_LOCAL_MACHINE\subKey in the view.
 * Stand-in: no class, options or security; the access is not checked. */
LSTATUS WINAPI RegCreateKeyExW(HKEY root, LPCWSTR subKey, DWORD reserved,
                               LPWSTR cls, DWORD options, REGSAM sam,
                               LPSECURITY_ATTRIBUTES sa, PHKEY result,
                               LPDWORD disposition)
{
    u16 sub = FromWide(subKey);
    if (auto err = Enter("RegCreateKeyExW", sub, ViewName(sam),
                         "sam=" + Hex(sam))) {
        *result = NULL;
        return static_cast<LSTATUS>(*err);
    }
    (void)cls;
    (void)sa;
    if (root != HKEY_LOCAL_MACHINE || reserved || options) {
        *result = NULL;
        return ERROR_INVALID_PARAMETER;
    }
    std::vector<u16> parts = MapView(Split(sub), sam);
    const bool existed = Walk(parts, false) != nullptr;
    Walk(parts, true);
    if (disposition)
        *disposition = existed ? 2 /* REG_OPENED_EXISTING_KEY */
                               : 1 /* REG_CREATED_NEW_KEY */;
    std::vector<u16> real;
    for (size_t i = 0; i < parts.size(); i++)
        real.push_back(Walk({parts.begin(), parts.begin() + i + 1}, false)->name);
    *result = reinterpret_cast<HKEY>(
        NewHandle({HandleKind::Key, Join(real), {}, 0, sam}));
    return ERROR_SUCCESS;
}

LSTATUS WINAPI RegSetValueExW(HKEY h, LPCWSTR valueName, DWORD reserved,
                              DWORD type, const BYTE *data, DWORD cbData)
{
    std::string view;
    const u16 name = FromWide(valueName);
    if (auto err = Enter("RegSetValueExW", PathOf(h, u"", &view), view,
                         ToUtf8(name) + " type=" + std::to_string(type)))
        return static_cast<LSTATUS>(*err);
    OpenKey k = Resolve(h);
    if (LSTATUS error = KeyError(k, reserved != 0))
        return error;
    if (!(k.object->access & KEY_SET_VALUE))
        return ERROR_ACCESS_DENIED;
    const std::string bytes(reinterpret_cast<const char *>(data), cbData);
    for (RegValue &v : k.key->values) {
        if (EqualNoCase(v.name, name)) {
            v.type = type;
            v.data = bytes;
            return ERROR_SUCCESS;
        }
    }
    k.key->values.push_back({name, type, bytes});
    return ERROR_SUCCESS;
}

/* A value's type and data; too small a buffer: ERROR_MORE_DATA with the
 * size needed ("RegQueryValueExW"). */
LSTATUS WINAPI RegQueryValueExW(HKEY h, LPCWSTR valueName, LPDWORD reserved,
                                LPDWORD type, LPBYTE data, LPDWORD cbData)
{
    std::string view;
    const u16 name = FromWide(valueName);
    if (auto err = Enter("RegQueryValueExW", PathOf(h, u"", &view), view,
                         ToUtf8(name)))
        return static_cast<LSTATUS>(*err);
    OpenKey k = Resolve(h);
    if (LSTATUS error = KeyError(k, reserved != nullptr))
        return error;
    for (const RegValue &v : k.key->values) {
        if (!EqualNoCase(v.name, name))
            continue;
        if (type)
            *type = v.type;
        const DWORD size = static_cast<DWORD>(v.data.size());
        const bool fits = !cbData || *cbData >= size;
        if (data && cbData && fits)
            std::memcpy(data, v.data.data(), size);
        if (cbData)
            *cbData = size;
        return data && !fits ? ERROR_MORE_DATA : ERROR_SUCCESS;
    }
    return ERROR_FILE_NOT_FOUND;
}

LSTATUS WINAPI RegDeleteKeyW(HKEY h, LPCWSTR subKey)
{
    std::string view;
    u16 sub = FromWide(subKey);
    u16 path = PathOf(h, sub, &view);
    if (auto err = Enter("RegDeleteKeyW", path, view))
        return static_cast<LSTATUS>(*err);
    std::vector<u16> parts;
    if (h == HKEY_LOCAL_MACHINE) {
        parts = MapView(Split(sub), 0);
    } else {
        OpenKey k = Resolve(h);
        if (LSTATUS error = KeyError(k, false))
            return error;
        parts = Split(k.object->path);
        for (auto &p : Split(sub))
            parts.push_back(p);
    }
    return DeleteKeyAt(parts);
}

LSTATUS WINAPI HostRegDeleteKeyExW(HKEY h, LPCWSTR subKey, REGSAM sam,
                                   DWORD reserved)
{
    u16 sub = FromWide(subKey);
    if (auto err = Enter("RegDeleteKeyExW", sub, ViewName(sam),
                         "sam=" + Hex(sam)))
        return static_cast<LSTATUS>(*err);
    if (h != HKEY_LOCAL_MACHINE || reserved != 0)
        return ERROR_INVALID_PARAMETER;
    return DeleteKeyAt(MapView(Split(sub), sam));
}

LSTATUS WINAPI RegDeleteValueW(HKEY h, LPCWSTR valueName)
{
    std::string view;
    u16 name = FromWide(valueName);
    if (auto err = Enter("RegDeleteValueW", PathOf(h, u"", &view), view,
                         ToUtf8(name)))
        return static_cast<LSTATUS>(*err);
    OpenKey k = Resolve(h);
    if (LSTATUS error = KeyError(k, false))
        return error;
    auto &values = k.key->values;
    for (auto it = values.begin(); it != values.end(); ++it) {
        if (EqualNoCase(it->name, name)) {
            if (it->refuseDelete)
                return ERROR_ACCESS_DENIED;
            values.erase(it);
            return ERROR_SUCCESS;
        }
    }
    return ERROR_FILE_NOT_FOUND;
}

LSTATUS WINAPI RegCloseKey(HKEY h)
{
    std::string view;
    u16 path = PathOf(h, u"", &view);
    if (auto err = Enter("RegCloseKey", path, view))
        return static_cast<LSTATUS>(*err);
    if (!CloseHandleOf(reinterpret_cast<uintptr_t>(h), HandleKind::Key))
        return ERROR_INVALID_HANDLE;
    return ERROR_SUCCESS;
}

} // extern "C"
