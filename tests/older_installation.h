/* An older installation of the driver on a 64-bit Windows machine, with
 * look-alikes of everything the removal sweep deletes, and the means to
 * check that a run deleted its targets and nothing else: a snapshot of
 * every file, key and value, and the list of what the sweep deletes. */
#ifndef QX_TESTS_OLDER_INSTALLATION_H
#define QX_TESTS_OLDER_INSTALLATION_H

#include <algorithm>
#include <cctype>
#include <map>
#include <string>
#include <vector>

#include "host/machine.h"

namespace older {

using namespace winhost;

using Strings = std::vector<std::string>;
using Snapshot = std::map<std::string, std::string>;

inline const std::string kStore = "C:\\Windows\\System32\\DriverStore\\FileRepository";
inline const std::string kLockdown =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Setup\\PnpLockdownFiles";
inline const std::string kLockdown32 =
    "SOFTWARE\\WOW6432Node\\Microsoft\\Windows\\CurrentVersion\\Setup\\"
    "PnpLockdownFiles";
inline const std::string kDevice = "Enum\\USB\\VID_3C7E&PID_51B8";
inline const char *const kControlSets[] = {"ControlSet001", "ControlSet002",
                                    "CurrentControlSet"};

inline u16 W(const std::string &s) { return FromUtf8(s); }

inline std::string Backslashes(std::string s)
{
    std::replace(s.begin(), s.end(), '/', '\\');
    return s;
}

inline std::string Upper(std::string s)
{
    for (auto &c : s)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

/* The old driver files of one driver name as PnpLockdownFiles names them
 * after "%SystemRoot%/" (sub-keys) or "%SystemPath%\" (values). */
inline Strings LockdownFiles(const std::string &driver)
{
    return {"system32/drivers/" + driver + ".sys",
            "system32/" + driver + ".dll", "syswow64/" + driver + ".dll"};
}

/* What the sweep deletes: files and keys with everything below them, and
 * values as "key path|value name". */
struct Targets {
    Strings files, keys, values;
};

inline Targets TargetsOf(const Strings &candidates, const Strings &storeFolders)
{
    Targets t;
    for (auto &f : storeFolders)
        t.files.push_back(kStore + "\\" + f);
    for (auto &f : {"System32\\drivers\\libusb0.sys", "System32\\libusb0.dll",
                    "syswow64\\libusb0.dll", "System32\\libusbDspQx.dll",
                    "syswow64\\libusbDspQx.dll"})
        t.files.push_back(std::string("C:\\Windows\\") + f);
    for (auto &c : candidates) {
        t.files.push_back("C:\\Windows\\INF\\" + c);
        t.files.push_back("C:\\Windows\\INF\\" + c.substr(0, c.size() - 3) +
                          "PNF");
    }
    for (auto &driver : {"libusb0", "libusbDspQx"}) {
        for (auto &tree : {kLockdown, kLockdown32})
            for (auto &f : LockdownFiles(driver)) {
                t.keys.push_back(tree + "\\%SystemRoot%/" + f);
                t.values.push_back(tree + "|%SystemPath%\\" + Backslashes(f));
            }
        for (auto &set : kControlSets) {
            t.keys.push_back(std::string("SYSTEM\\") + set + "\\" + kDevice);
            t.keys.push_back(std::string("SYSTEM\\") + set + "\\Services\\" +
                             driver);
        }
    }
    return t;
}

/* Paths ignore case, in the file system and in the registry. */
inline bool Below(const std::string &path, const Strings &roots)
{
    const std::string p = Upper(path);
    for (auto &r : roots)
        if (p == Upper(r) || p.rfind(Upper(r) + "\\", 0) == 0)
            return true;
    return false;
}

inline std::string Time(const FILETIME &t)
{
    return std::to_string(t.dwHighDateTime) + "." +
           std::to_string(t.dwLowDateTime);
}

inline void SnapshotKey(const RegKey &key, const std::string &path, Snapshot &out)
{
    out["K " + path] = ToUtf8(key.name);
    for (auto &v : key.values)
        out["V " + path + "|" + ToUtf8(v.name)] =
            std::to_string(v.type) + ":" + v.data;
    for (auto &s : key.subkeys)
        SnapshotKey(*s.second,
                    (path.empty() ? "" : path + "\\") + ToUtf8(s.second->name),
                    out);
}

/* Every file and folder, key and value, with all it holds. */
inline Snapshot TakeSnapshot()
{
    Snapshot out;
    for (auto &f : machine().files) {
        const FileEntry &e = f.second;
        out["F " + ToUtf8(e.path)] = std::string(e.dir ? "dir " : "file ") +
                                     e.content + " " +
                                     std::to_string(e.attributes) + " " +
                                     Time(e.creation) + " " + Time(e.lastWrite);
    }
    SnapshotKey(machine().hklm, "", out);
    return out;
}

inline Snapshot Without(const Snapshot &before, const Targets &t)
{
    Snapshot out;
    for (auto &[what, state] : before) {
        const std::string path = what.substr(2);
        const std::string key = path.substr(0, path.find('|'));
        bool target = what[0] == 'F'   ? Below(path, t.files)
                      : what[0] == 'K' ? Below(path, t.keys)
                                       : Below(key, t.keys) ||
                                             std::count(t.values.begin(),
                                                        t.values.end(), path);
        if (!target)
            out[what] = state;
    }
    return out;
}

inline void SeedKeyTree(const std::string &path)
{
    SeedValue(W(path), u"", u"default");
    SeedValue(W(path), u"Type", u"1");
    SeedValue(W(path + "\\5&1a2b3c&0&1"), u"DeviceDesc", u"QX DSP USB");
    SeedValue(W(path + "\\5&1a2b3c&0&1\\Device Parameters"), u"p", u"1");
}

/* An older installation, both drivers, and look-alikes of every target. */
inline void SeedOlderInstallation()
{
    /* Folder names ignore case: QX_DSP_USB.INF_amd64_a1 has no lower-case
     * twin beside it. */
    for (auto &f :
         {"qx_dsp_usb.inf_amd64_d4", "qx_dsp_usb.inf_x86_b2", "qx_dsp_usb.inf",
          "QX_DSP_USB.INF_amd64_a1", "qx_dsp_usb.in", "other_usb.inf_x86_c3"}) {
        SeedFile(W(kStore + "\\" + f + "\\qx_dsp_usb.inf"), f);
        SeedFile(W(kStore + "\\" + f + "\\amd64\\libusbDspQx.sys"), "sys");
    }
    SeedFile(W(kStore + "\\qx_dsp_usb.inf_old"), "plain file");
    for (auto &f :
         {"System32\\drivers\\libusb0.sys", "System32\\libusb0.dll",
          "syswow64\\libusb0.dll", "System32\\libusbDspQx.dll",
          "syswow64\\libusbDspQx.dll", "System32\\drivers\\libusbDspQx.sys",
          "System32\\libusbDspQx.sys", "System32\\drivers\\libusb0.sys.bak",
          "System32\\drivers\\usbhub.sys", "System32\\libusb0x.dll",
          "INF\\oem12.inf", "INF\\oem12.PNF", "INF\\oem7.inf", "INF\\oem7.PNF",
          "INF\\oem1.inf", "INF\\oem1.PNF", "INF\\oem120.inf", "INF\\oem7.infx",
          "INF\\usb.inf"})
        SeedFile(W(std::string("C:\\Windows\\") + f), f);
    for (auto &tree : {kLockdown, kLockdown32}) {
        SeedValue(W(tree), u"", u"default");
        for (auto &driver : {"libusb0", "libusbDspQx", "usbhub", "libusb0.sys"})
            for (auto &f : LockdownFiles(driver)) {
                SeedValue(W(tree + "\\%SystemRoot%/" + f), u"Class", u"Driver");
                SeedValue(W(tree), W("%SystemPath%\\" + Backslashes(f)), u"1");
            }
    }
    for (auto &set : {"ControlSet001", "ControlSet002", "CurrentControlSet",
                      "ControlSet003"}) {
        std::string root = std::string("SYSTEM\\") + set + "\\";
        for (auto &k :
             {"Services\\libusb0", "Services\\libusbDspQx",
              "Services\\libusb0x", "Services\\libusbK",
              "Services\\libusbDspQxFilter", "Services\\usbhub",
              "Enum\\USB\\VID_3C7E&PID_51B8", "Enum\\USB\\VID_3C7E&PID_51B9",
              "Enum\\USB\\VID_3C7E&PID_51B8&MI_00", "Enum\\USB\\ROOT_HUB30"})
            SeedKeyTree(root + k);
    }
    SeedValue(u"SOFTWARE\\Quorvantix\\DriverQxDsp", u"Path", u"C:\\x");
    /* The packages Setup published as oem12, oem7 and oem1 (Vista on). */
    machine().driverStore = {{u"OEM12.INF", u"qx_dsp_usb.inf_amd64_d4"},
                             {u"OEM7.INF", u"qx_dsp_usb.inf_x86_b2"},
                             {u"OEM1.INF", u"qx_dsp_usb.inf"}};
}

} // namespace older

#endif
