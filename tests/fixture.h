/* Shared test fixture: a fresh stand-in machine and zeroed process-wide
 * state before every test, and a sample package to stage. */
#ifndef QX_TESTS_FIXTURE_H
#define QX_TESTS_FIXTURE_H

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>

#include "app/messages.h"
#include "app/run.h"
#include "discovery/candidates.h"
#include "host/machine.h"
#include "platform/system_dll.h"
#include "removal/primitives.h"

using winhost::u16;

/* The run's process-wide state as a new process has it. */
inline void ResetProcessState()
{
    g_Run = RUN_STATE{};
    g_Messages = MESSAGES{};
    g_Candidates = CANDIDATE_LIST{};
    g_SystemDlls = SYSTEM_DLL_TABLE{};
    g_RemovalDeletions = 0;
}

class MachineTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        winhost::Reset();
        ResetProcessState();
    }
};

/* The package folder the stand-in's executable lives in. */
inline const u16 kPackage = u"C:\\pkg\\";
inline const u16 kStaging = u"C:\\Program Files (x86)\\Quorvantix\\DriverQxDsp\\";

/* The eight files of a package below folder, each with its own content
 * and last-write time; its folders and files carry reparseTag (a OneDrive
 * placeholder's, say) when it is not 0. */
inline const char16_t *const kPackageFiles[] = {
    u"QX_DSP_USB.inf",        u"USB_DSP.cat",
    u"amd64\\libusbDspQx.dll", u"amd64\\libusbDspQx.sys",
    u"ia64\\libusbDspQx.dll",  u"ia64\\libusbDspQx.sys",
    u"x86\\libusbDspQx.sys",   u"x86\\libusbDspQx_x86.dll",
};

inline void SeedPackage(const u16 &folder, DWORD reparseTag = 0)
{
    uint64_t time = 0x01D6000000000000ULL;
    for (const char16_t *name : kPackageFiles) {
        winhost::SeedFile(folder + name,
                          "content of " + winhost::ToUtf8(name),
                          winhost::Ft(time))
            .reparseTag = reparseTag;
        time += 0x100000;
    }
    for (const char16_t *sub : {u"", u"amd64", u"ia64", u"x86"})
        winhost::FindFile(folder + sub)->reparseTag = reparseTag;
}

inline u16 U16(const std::string &utf8) { return winhost::FromUtf8(utf8); }

/* The run's log in the stand-in's Windows folder, and a file's bytes. */
inline const u16 kLog = u"C:\\Windows\\QxDspInstaller.log";
inline std::string FileText(const u16 &path)
{
    const winhost::FileEntry *e = winhost::FindFile(path);
    return e ? e->content : "(absent)";
}

/* The bundled sample package's INF, as the release engineer ships it. */
inline std::string SampleInf()
{
    std::ifstream file(QX_SOURCE_DIR "/package/QX_DSP_USB.inf",
                       std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(file)),
                       std::istreambuf_iterator<char>());
}

/* A run that shows the restart notice ends with this. */
inline const int kRestartExit = ERROR_SUCCESS_REBOOT_REQUIRED;

#endif
