/*
 * libFuzzer target of the class-key and USB enumeration scans: a registry
 * tree decoded from the fuzzer's bytes below the device class key and the
 * device's USB enumeration key, then the scans in both views (or the
 * legacy stage's whole discovery), then the checks.
 *
 * Input: a mode byte (bit 0: DiscoveryRunAll instead of the scans one by
 * one), then ops until the bytes run out; the op byte modulo OP_COUNT:
 *   ROOT  byte               the current key becomes root (byte mod roots)
 *   PUSH  text               into the sub-key of that name, created
 *   POP                      back to the parent, not above the root
 *   VALUE text type data     sets a value of the current key
 *   NEST  byte text          byte mod 64 levels of sub-keys of that name
 * Key names are cut to Windows' 255 units without backslashes or zero
 * units, value names to 16383 units without zero units.  Data: a mode byte;
 * bits 0-1: 0 text + zero unit, 1 text alone, 2 text + zero unit less its
 * last byte, 3 a length byte and raw bytes; bit 2: then a fill byte and a
 * 16-bit count of it, at most DATA_MAX_CB bytes in all.
 */
#include "discovery/scans.h"
#include "fuzz/fuzz_common.h"
#include "platform/registry.h"

namespace {

using fuzz::Check;
using fuzz::u16;

/* Windows' limits on registry names, and the longest data decoded. */
constexpr size_t KEY_NAME_MAX_CCH = 255;
constexpr size_t VALUE_NAME_MAX_CCH = 16383;
constexpr size_t DATA_MAX_CB = 4096;
/* Windows nests keys at most 512 levels deep; keys whose path is much
 * longer than the scans' 256-unit path buffer cannot be reached, so the
 * decoder stops there rather than spend its time on them. */
constexpr size_t DEPTH_MAX = 512;
constexpr size_t PATH_MAX_CCH = REG_PATH_CCH + 64;
constexpr size_t NEST_MAX = 64;
/* The scans' documented limits: value data beyond RegEnumValueW's 255
 * bytes, and value names beyond 255 units, are passed over; the class
 * scan offers InfPaths of at most 12 units, the USB scan names of at
 * most 11. */
constexpr size_t SCAN_DATA_MAX_CB = 255;
constexpr size_t SCAN_NAME_MAX_CCH = 255;
constexpr size_t CLASS_INF_MAX_CCH = 12;
constexpr size_t USB_INF_MAX_CCH = 11;

const u16 kClassTail = u"\\Control\\Class\\{eb781aaf-9c70-4523-a5df-642a87eca567}";
const u16 kUsbTail = u"\\Enum\\USB\\VID_3C7E&PID_51B8";
const u16 kSet1 = u"SYSTEM\\ControlSet001";
const u16 kSet2 = u"SYSTEM\\ControlSet002";

enum Kind { CLASS_KEY, USB_KEY, OTHER_KEY };
struct Root {
    u16 path;
    Kind kind;
};
/* Where the decoder builds; the last one is scanned by nobody. */
const Root kRoots[] = {
    {kSet1 + kClassTail, CLASS_KEY}, {kSet1 + kUsbTail, USB_KEY},
    {kSet2 + kClassTail, CLASS_KEY}, {kSet2 + kUsbTail, USB_KEY},
    {kSet1 + u"\\Control\\Class", OTHER_KEY},
};
constexpr uint8_t ROOT_COUNT = ARRAYSIZE(kRoots);

enum : uint8_t { OP_ROOT, OP_PUSH, OP_POP, OP_VALUE, OP_NEST, OP_COUNT };
enum : uint8_t {
    MODE_RUN_ALL = 1,
    DATA_TEXT = 0,
    DATA_TEXT_UNTERMINATED = 1,
    DATA_TEXT_ODD = 2,
    DATA_RAW = 3,
    DATA_KIND_MASK = 3,
    DATA_FILL = 4,
};

u16 KeyName(u16 text)
{
    u16 name;
    for (char16_t unit : text)
        if (unit != u'\\' && unit != 0 && name.size() < KEY_NAME_MAX_CCH)
            name += unit;
    return name;
}

u16 ValueName(u16 text)
{
    u16 name;
    for (char16_t unit : text)
        if (unit != 0 && name.size() < VALUE_NAME_MAX_CCH)
            name += unit;
    return name;
}

std::string ReadData(fuzz::Reader &in)
{
    uint8_t mode = in.Byte();
    std::string data;
    switch (mode & DATA_KIND_MASK) {
    case DATA_RAW: {
        uint8_t cb = in.Byte();
        for (uint8_t i = 0; i < cb; i++)
            data += static_cast<char>(in.Byte());
        break;
    }
    default:
        data = winhost::Utf16Le(fuzz::ReadText(in));
        if ((mode & DATA_KIND_MASK) != DATA_TEXT_UNTERMINATED)
            data += std::string(2, '\0');
        if ((mode & DATA_KIND_MASK) == DATA_TEXT_ODD)
            data.pop_back();
        break;
    }
    if (mode & DATA_FILL) {
        char fill = static_cast<char>(in.Byte());
        data.append(in.U16(), fill);
    }
    if (data.size() > DATA_MAX_CB)
        data.resize(DATA_MAX_CB);
    return data;
}

class TreeBuilder {
public:
    TreeBuilder() { Root(0); }
    void Root(uint8_t index)
    {
        path_ = kRoots[index % ROOT_COUNT].path;
        lengths_.clear();
        winhost::SeedKey(path_);
    }
    void Push(const u16 &name)
    {
        if (name.empty() || lengths_.size() >= DEPTH_MAX ||
            path_.size() + 1 + name.size() > PATH_MAX_CCH)
            return;
        lengths_.push_back(path_.size());
        path_ += u"\\" + name;
        winhost::SeedKey(path_);
    }
    void Pop()
    {
        if (lengths_.empty())
            return;
        path_.resize(lengths_.back());
        lengths_.pop_back();
    }
    void Value(const u16 &name, DWORD type, const std::string &data)
    {
        winhost::SeedValueBytes(path_, name, type, data);
    }

private:
    u16 path_;                   /* of the current key */
    std::vector<size_t> lengths_; /* of the path before each push */
};

/* ---- where an offered name may come from ---- */

/* Value data as the scans' buffer holds it: little-endian units up to
 * the first zero unit, an odd last byte as a unit of its own. */
u16 DataText(const std::string &data)
{
    u16 text;
    for (size_t i = 0; i < data.size(); i += 2) {
        char16_t unit = static_cast<unsigned char>(data[i]);
        if (i + 1 < data.size())
            unit |= static_cast<char16_t>(
                static_cast<unsigned char>(data[i + 1]) << 8);
        if (unit == 0)
            break;
        text += unit;
    }
    return text;
}

bool Fetchable(const winhost::RegValue &v)
{
    return v.name.size() <= SCAN_NAME_MAX_CCH && v.data.size() <= SCAN_DATA_MAX_CB;
}

bool StartsWith(const u16 &text, const u16 &prefix)
{
    return text.compare(0, prefix.size(), prefix) == 0;
}

/* Names the class scan may offer from the tree below key: InfPaths of
 * leaf keys that follow a DriverDesc naming the device. */
void ClassOffers(const winhost::RegKey &key, std::set<u16> &out)
{
    for (const auto &sub : key.subkeys)
        ClassOffers(*sub.second, out);
    if (!key.subkeys.empty())
        return;
    bool described = false;
    for (const auto &v : key.values) {
        if (!Fetchable(v))
            continue;
        u16 text = DataText(v.data);
        if (StartsWith(v.name, u"DriverDesc") && StartsWith(text, u"QX DSP USB"))
            described = true;
        else if (described && StartsWith(v.name, u"InfPath") &&
                 text.size() <= CLASS_INF_MAX_CCH)
            out.insert(text);
    }
}

/* Names the USB scan may offer from the tree below key: what follows the
 * at sign of a DeviceDesc up to the first ".inf". */
void UsbOffers(const winhost::RegKey &key, std::set<u16> &out)
{
    for (const auto &sub : key.subkeys)
        UsbOffers(*sub.second, out);
    for (const auto &v : key.values) {
        if (!Fetchable(v) || !StartsWith(v.name, u"DeviceDesc"))
            continue;
        u16 text = DataText(v.data);
        size_t dot = text.find(u".inf");
        if (!text.empty() && text[0] == u'@' && dot != u16::npos &&
            dot + 3 <= USB_INF_MAX_CCH)
            out.insert(text.substr(1, dot + 3));
    }
}

std::set<u16> PossibleOffers()
{
    std::set<u16> out;
    for (const Root &root : kRoots) {
        const winhost::RegKey *key = winhost::FindKey(root.path);
        if (!key)
            continue;
        if (root.kind == CLASS_KEY)
            ClassOffers(*key, out);
        else if (root.kind == USB_KEY)
            UsbOffers(*key, out);
    }
    return out;
}

/* ---- the scans ---- */

/* CurrentControlSet is a link to ControlSet001; DiscoveryRunAll goes
 * through it. */
void RunScansOneByOne()
{
    for (REGSAM view : g_RegistryViews) {
        for (const u16 &set : {kSet1, kSet2}) {
            u16 classKey = set + kClassTail, usbKey = set + kUsbTail;
            bool classExists = winhost::FindKey(classKey) != nullptr;
            bool usbExists = winhost::FindKey(usbKey) != nullptr;
            Check(ClassKeyScan(classKey.c_str(), view) == (classExists ? TRUE : FALSE),
                  "ClassKeyScan result does not match the key's presence");
            Check(UsbEnumScan(usbKey.c_str(), view) == (usbExists ? TRUE : FALSE),
                  "UsbEnumScan result does not match the key's presence");
        }
    }
}

/* ---- seeds ---- */

fuzz::Writer &Value(fuzz::Writer &w, unsigned nameWord, const std::string &text)
{
    return w.Byte(OP_VALUE).TextWord(nameWord).Byte(REG_SZ).Byte(DATA_TEXT).Text(text);
}

std::string SeedClassInstance()
{
    fuzz::Writer w;
    w.Byte(0).Byte(OP_ROOT).Byte(0).Byte(OP_PUSH).Text("0000");
    Value(w, 0, "QX DSP USB");
    Value(w, 1, "oem7.inf");
    return w.Bytes();
}

std::string SeedClassOddValues()
{
    fuzz::Writer w;
    w.Byte(0).Byte(OP_ROOT).Byte(0).Byte(OP_PUSH).Text("0001");
    Value(w, 1, "oem1.inf"); /* InfPath before DriverDesc */
    Value(w, 0, "QX DSP USB");
    Value(w, 32, "oem123456789.inf"); /* InfPath2, too long */
    w.Byte(OP_POP).Byte(OP_PUSH).Text("0002");
    /* A DriverDesc name of 256 units; non-string, unterminated and odd
     * data; data one byte over the 255 the scan fetches. */
    w.Byte(OP_VALUE).Pieces(2).Word(0).Run('x', 246).Byte(REG_SZ).Byte(DATA_TEXT).Text("QX DSP USB");
    w.Byte(OP_VALUE).TextWord(33).Byte(REG_DWORD).Byte(DATA_TEXT_UNTERMINATED).TextWord(3);
    w.Byte(OP_VALUE).TextWord(1).Byte(REG_BINARY).Byte(DATA_TEXT_ODD).Text("oem2.inf");
    w.Byte(OP_VALUE).TextWord(32).Byte(REG_SZ).Byte(DATA_TEXT | DATA_FILL).Text("oem3.inf").Byte(0).U16(238);
    w.Byte(OP_VALUE).Pieces(0).Byte(REG_SZ).Byte(DATA_RAW).Byte(5).Raw(std::string("o\0e\0m", 5));
    /* A DriverDesc whose data does not fit, before an InfPath. */
    w.Byte(OP_POP).Byte(OP_PUSH).Text("0003");
    w.Byte(OP_VALUE).TextWord(0).Byte(REG_SZ).Byte(DATA_TEXT | DATA_FILL).TextWord(3).Byte('x').U16(300);
    Value(w, 1, "oem8.inf");
    return w.Bytes();
}

std::string SeedUsbInstances()
{
    fuzz::Writer w;
    w.Byte(0).Byte(OP_ROOT).Byte(1).Byte(OP_PUSH).TextWord(15);
    w.Byte(OP_VALUE).TextWord(2).Byte(REG_SZ).Byte(DATA_TEXT).Pieces(4).Word(4).Latin1("5").Word(5).Word(13);
    w.Byte(OP_PUSH).TextWord(16);
    Value(w, 2, "@oem3.inf");
    w.Byte(OP_POP).Byte(OP_POP);
    Value(w, 2, "@oem12345678.inf,%x%");
    w.Byte(OP_PUSH).Text("5&2");
    Value(w, 2, "QX DSP USB");
    Value(w, 2, "@..\\x.inf");
    return w.Bytes();
}

std::string SeedDeepAndLong()
{
    fuzz::Writer w;
    w.Byte(0).Byte(OP_ROOT).Byte(0).Byte(OP_NEST).Byte(40).Text("a");
    Value(w, 0, "QX DSP USB");
    Value(w, 1, "oem4.inf");
    w.Byte(OP_ROOT).Byte(0).Byte(OP_PUSH).Pieces(1).Run('k', 255);
    Value(w, 0, "QX DSP USB");
    Value(w, 1, "oem5.inf");
    w.Byte(OP_ROOT).Byte(1).Byte(OP_PUSH).Pieces(1).Run('k', 170);
    w.Byte(OP_VALUE).Pieces(2).Word(2).Run('v', 16400).Byte(REG_SZ).Byte(DATA_TEXT).Text("@oem6.inf");
    Value(w, 2, "@oem6.inf");
    return w.Bytes();
}

std::string SeedRunAll()
{
    fuzz::Writer w;
    w.Byte(MODE_RUN_ALL);
    for (unsigned root : {0u, 2u}) {
        w.Byte(OP_ROOT).Byte(root).Byte(OP_PUSH).Text("0000");
        Value(w, 0, "QX DSP USB Audio");
        Value(w, 1, "oem12.inf");
    }
    for (unsigned root : {1u, 3u, 4u}) {
        w.Byte(OP_ROOT).Byte(root).Byte(OP_PUSH).Text("5&1");
        Value(w, 2, "@oem13.inf,%d%");
    }
    return w.Bytes();
}

/* Windows' own INF files named by a composite and a WinUSB instance, and
 * a class instance's InfPath: none is offered, the OEM one is. */
std::string SeedWindowsInfs()
{
    fuzz::Writer w;
    w.Byte(0).Byte(OP_ROOT).Byte(1).Byte(OP_PUSH).Text("5&1");
    Value(w, 2, "@usb.inf,%usb\\composite.devicedesc%;USB Composite Device");
    w.Byte(OP_POP).Byte(OP_PUSH).Text("5&2");
    Value(w, 2, "@winusb.inf,%usb\\ms_comp_winusb.devicedesc%;WinUsb Device");
    w.Byte(OP_POP).Byte(OP_PUSH).Text("5&3");
    Value(w, 2, "@oem21.inf,%d%;QX DSP USB");
    w.Byte(OP_ROOT).Byte(0).Byte(OP_PUSH).Text("0000");
    Value(w, 0, "QX DSP USB");
    Value(w, 1, "machine.inf");
    return w.Bytes();
}

std::string SeedFullList()
{
    fuzz::Writer w;
    w.Byte(0).Byte(OP_ROOT).Byte(1);
    for (char c = 'a'; c <= 'l'; c++) {
        w.Byte(OP_PUSH).Text(std::string(1, c));
        Value(w, 2, std::string("@oem") + std::to_string(c - 'a') + ".inf");
        w.Byte(OP_POP);
    }
    return w.Bytes();
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    fuzz::WriteSeedsIfAsked(*argc, *argv,
                            {{"class-instance", SeedClassInstance()},
                             {"class-odd-values", SeedClassOddValues()},
                             {"usb-instances", SeedUsbInstances()},
                             {"deep-and-long", SeedDeepAndLong()},
                             {"run-all", SeedRunAll()},
                             {"full-list", SeedFullList()},
                             {"windows-infs", SeedWindowsInfs()}});
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fuzz::InputScope scope;
    fuzz::Reader in(data, size);
    uint8_t mode = in.Byte();
    TreeBuilder tree;
    while (!in.Empty()) {
        switch (in.Byte() % OP_COUNT) {
        case OP_ROOT:
            tree.Root(in.Byte());
            break;
        case OP_PUSH:
            tree.Push(KeyName(fuzz::ReadText(in)));
            break;
        case OP_POP:
            tree.Pop();
            break;
        case OP_VALUE: {
            u16 name = ValueName(fuzz::ReadText(in));
            DWORD type = in.Byte();
            tree.Value(name, type, ReadData(in));
            break;
        }
        default: {
            size_t levels = in.Byte() % NEST_MAX;
            u16 name = KeyName(fuzz::ReadText(in));
            for (size_t i = 0; i < levels; i++)
                tree.Push(name);
            break;
        }
        }
    }

    const std::string before = fuzz::MachineState();
    const std::set<u16> possible = PossibleOffers();
    winhost::machine().calls.clear();
    if (mode & MODE_RUN_ALL) {
        BOOL legacyDriver = FALSE;
        DiscoveryRunAll(&legacyDriver, TRUE);
        /* No INF folder: nothing can set the flag. */
        Check(legacyDriver == FALSE, "DiscoveryRunAll set the flag without INFs");
    } else {
        RunScansOneByOne();
    }
    fuzz::CheckAfterScan(before);
    for (LONG e = 0; e < g_Candidates.count; e++)
        Check(possible.count(fuzz::Entry(e)) == 1,
              "a scan offered a name no scanned value holds");
    return 0;
}
