/*
 * Google Benchmark of the three discovery scans, and of the legacy stage's
 * whole discovery, against the stand-in machine at N = 100, 1000, 5000:
 *
 *   C:\Windows\INF\oem1.inf ... oemN.inf, UTF-16LE, each above the 1600
 *     bytes below which the INF folder scan opens no file; every tenth
 *     (oem10, oem20, ...) carries the device's package markers, the
 *     others are another vendor's INF;
 *   N/4 instance keys 0000, 0001, ... below the device's setup class key,
 *     key j with InfPath oem(j+1).inf and DriverDesc "QX DSP USB" when that
 *     is one of the device's INFs, another device's otherwise;
 *   N/4 instance keys below the device's USB enumeration key, each with a
 *     DeviceDesc "@oemK.inf,...;QX DSP USB" naming one of the device's
 *     INFs (the Wine benchmark seeds none of these).
 *
 * Each benchmark reports what one scan does: files opened (CreateFileW
 * calls), registry calls (Reg* calls) and candidates found, and fits its
 * time against N (Complexity oN).  The scans change nothing, so a size is
 * seeded once, outside the timed loop; between iterations the candidate
 * list and the stand-in's call log are cleared, untimed, so that every
 * iteration starts alike and memory stays flat.
 *
 *   build/bench/bench/bench_scans [Google Benchmark options]
 */
#include <benchmark/benchmark.h>

#include <string>

#include "discovery/candidates.h"
#include "discovery/scans.h"
#include "host/machine.h"
#include "platform/registry.h"

namespace {

using winhost::u16;

/* CurrentControlSet is a link to ControlSet001 in the stand-in, so the
 * real path is seeded and both are scanned. */
const u16 kClassKey = u"SYSTEM\\ControlSet001\\Control\\Class\\"
                      u"{eb781aaf-9c70-4523-a5df-642a87eca567}";
const u16 kUsbKey = u"SYSTEM\\ControlSet001\\Enum\\USB\\VID_3C7E&PID_51B8";
const u16 kInfFolder = u"C:\\Windows\\INF\\";
const u16 kDeviceDesc = u"QX DSP USB";

constexpr int DEVICE_INF_EVERY = 10;   /* every tenth oem INF the device's */
constexpr int INSTANCES_PER_INF = 4;   /* N/4 instance keys per key tree */
constexpr int OTHER_VENDORS = 9;
constexpr size_t INF_FILE_CB = 6000;   /* each seeded INF, above 1600 bytes */
constexpr int SIZES[] = {100, 1000, 5000};

/* The device's package INF, as far as the scan reads it: its first lines
 * carry the three markers. */
const u16 kDeviceInfText =
    u"; QX_DSP_USB.inf - QX DSP USB driver package\r\n"
    u"[Version]\r\nSignature=\"$Windows NT$\"\r\nClass=USBDevice\r\n"
    u"ClassGuid={eb781aaf-9c70-4523-a5df-642a87eca567}\r\n"
    u"Provider=%Mfg%\r\nCatalogFile=USB_DSP.cat\r\n\r\n"
    u"[Models.NTx86]\r\n%QxDsp.DeviceDesc%=Install,USB\\VID_3C7E&PID_51B8\r\n"
    u"\r\n[Strings]\r\nMfg=\"QUORVANTIX\"\r\n";

u16 OtherInfText(int vendor)
{
    const u16 v = winhost::FromUtf8(std::to_string(vendor));
    return u"; usbser" + v + u".inf - USB serial adapter of Example Devices " +
           v + u"\r\n[Version]\r\nSignature=\"$Windows NT$\"\r\nClass=Ports\r\n" +
           u"Provider=%Mfg%\r\nCatalogFile=usbser" + v + u".cat\r\n\r\n" +
           u"[Models.NTamd64]\r\n%Dev%=Install,USB\\VID_1A8" + v + u"&PID_752" +
           v + u"\r\n\r\n[Strings]\r\nMfg=\"Example Devices " + v + u"\"\r\n";
}

/* text as UTF-16LE with a byte order mark, padded with comment text to
 * INF_FILE_CB bytes. */
std::string InfFile(const u16 &text)
{
    u16 padded = u"\xFEFF" + text;
    const u16 pad = u"; revision history\r\n";
    while ((padded.size() + pad.size()) * sizeof(char16_t) <= INF_FILE_CB)
        padded += pad;
    return winhost::Utf16Le(padded);
}

u16 Number(int value) { return winhost::FromUtf8(std::to_string(value)); }

u16 InstanceName(int index)
{
    std::string name = std::to_string(index);
    name.insert(0, name.size() < 4 ? 4 - name.size() : 0, '0');
    return winhost::FromUtf8(name);
}

/* A fresh machine seeded for size n; kept while the next benchmark asks
 * for the same size. */
void SeedMachine(int n)
{
    static int seededN = -1;
    if (seededN == n)
        return;
    winhost::Reset();
    const std::string deviceInf = InfFile(kDeviceInfText);
    std::string otherInf[OTHER_VENDORS + 1];
    for (int v = 1; v <= OTHER_VENDORS; v++)
        otherInf[v] = InfFile(OtherInfText(v));
    for (int k = 1; k <= n; k++) {
        const int vendor = k % DEVICE_INF_EVERY;
        winhost::SeedFile(kInfFolder + u"oem" + Number(k) + u".inf",
                          vendor == 0 ? deviceInf : otherInf[vendor]);
    }
    const int instances = n / INSTANCES_PER_INF;
    const int deviceInfs = n / DEVICE_INF_EVERY;
    for (int j = 0; j < instances; j++) {
        const int k = j + 1;
        const u16 key = kClassKey + u"\\" + InstanceName(j);
        const bool device = k % DEVICE_INF_EVERY == 0;
        winhost::SeedValue(key, u"DriverDesc",
                           device ? kDeviceDesc
                                  : u"USB Serial Port (" + Number(k % DEVICE_INF_EVERY) + u")");
        winhost::SeedValue(key, u"InfPath", u"oem" + Number(k) + u".inf");

        const int deviceK = DEVICE_INF_EVERY * (deviceInfs ? j % deviceInfs + 1 : 1);
        const u16 usbKey = kUsbKey + u"\\5&1a2b3c4d&0&" + Number(j);
        winhost::SeedValue(usbKey, u"DeviceDesc",
                           u"@oem" + Number(deviceK) +
                               u".inf,%QxDsp.DeviceDesc%;QX DSP USB");
        winhost::SeedValue(usbKey, u"Service", u"libusbDspQx");
    }
    seededN = n;
}

/* Untimed: an empty candidate list and call log before each iteration. */
void StartIteration(benchmark::State &state)
{
    state.PauseTiming();
    g_Candidates = CANDIDATE_LIST{};
    winhost::machine().calls.clear();
    state.ResumeTiming();
}

/* The counters of the last iteration, whose calls the log still holds. */
void ReportCounters(benchmark::State &state)
{
    double registryCalls = 0;
    for (const auto &call : winhost::machine().calls)
        registryCalls += call.fn.compare(0, 3, "Reg") == 0;
    state.counters["files_opened"] =
        static_cast<double>(winhost::CallsOf("CreateFileW").size());
    state.counters["registry_calls"] = registryCalls;
    state.counters["candidates"] = g_Candidates.count;
    state.SetComplexityN(state.range(0));
}

void BM_ClassKeyScan(benchmark::State &state)
{
    SeedMachine(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        StartIteration(state);
        benchmark::DoNotOptimize(ClassKeyScan(kClassKey.c_str(), KEY_WOW64_32KEY));
    }
    ReportCounters(state);
}

void BM_UsbEnumScan(benchmark::State &state)
{
    SeedMachine(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        StartIteration(state);
        benchmark::DoNotOptimize(UsbEnumScan(kUsbKey.c_str(), KEY_WOW64_32KEY));
    }
    ReportCounters(state);
}

void BM_InfFolderScan(benchmark::State &state)
{
    SeedMachine(static_cast<int>(state.range(0)));
    BOOL legacyDriver = FALSE;
    for (auto _ : state) {
        StartIteration(state);
        benchmark::DoNotOptimize(InfFolderScan(kInfFolder.c_str(), &legacyDriver));
    }
    ReportCounters(state);
}

/* What the legacy stage runs: both registry scans under three control
 * sets in two views each, then the INF folder scan. */
void BM_DiscoveryRunAll(benchmark::State &state)
{
    SeedMachine(static_cast<int>(state.range(0)));
    BOOL legacyDriver = FALSE;
    for (auto _ : state) {
        StartIteration(state);
        DiscoveryRunAll(&legacyDriver, TRUE);
        benchmark::DoNotOptimize(legacyDriver);
    }
    ReportCounters(state);
}

/* Not a scan: the stand-in's own RegEnumKeyW over the class key's N/4
 * sub-keys, highest index first as the scans ask, with the fit left to
 * the library.  The stand-in keeps sub-keys in a std::map and steps to
 * index i one node at a time, so a full enumeration costs O(K^2) in the
 * stand-in where Windows and Wine index a sorted array; this shows how
 * much of the registry scans' growth is the stand-in's. */
void BM_StandInEnumKeys(benchmark::State &state)
{
    SeedMachine(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        StartIteration(state);
        HKEY key;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kClassKey.c_str(), 0,
                          KEY_READ | KEY_WOW64_32KEY, &key) != ERROR_SUCCESS) {
            state.SkipWithError("the class key did not open");
            break;
        }
        DWORD subKeys = 0;
        RegQueryInfoKeyW(key, NULL, NULL, NULL, &subKeys, NULL, NULL, NULL,
                         NULL, NULL, NULL, NULL);
        WCHAR name[REG_KEY_NAME_CCH];
        for (DWORD i = subKeys; i > 0; i--)
            benchmark::DoNotOptimize(RegEnumKeyW(key, i - 1, name, ARRAYSIZE(name)));
        RegCloseKey(key);
    }
    ReportCounters(state);
}

void Sizes(benchmark::internal::Benchmark *b)
{
    for (int n : SIZES)
        b->Arg(n);
}

} // namespace

BENCHMARK(BM_ClassKeyScan)->Apply(Sizes)->Complexity(benchmark::oN);
BENCHMARK(BM_UsbEnumScan)->Apply(Sizes)->Complexity(benchmark::oN);
BENCHMARK(BM_InfFolderScan)->Apply(Sizes)->Complexity(benchmark::oN);
BENCHMARK(BM_DiscoveryRunAll)->Apply(Sizes)->Complexity(benchmark::oN);
BENCHMARK(BM_StandInEnumKeys)->Apply(Sizes)->Complexity();

BENCHMARK_MAIN();
