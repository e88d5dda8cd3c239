#include "app/legacy.h"

#include "app/messages.h"
#include "app/run.h"
#include "discovery/scans.h"
#include "removal/primitives.h"
#include "platform/runlog.h"
#include "platform/wtext.h"
#include "removal/sweep.h"

/* Where an older, libusb0-based package would be staged. */
static const struct {
    PACKAGE_AREA_ID area;
    const FILE_SET *set;
} kOlderPackage[] = {
    {AREA_AMD64, &g_LegacySet},
    {AREA_IA64, &g_LegacySet},
    {AREA_X86, &g_LegacyX86Set},
};

BOOL LegacyStage(void)
{
    /* All three tests are made; any one holding both files counts. */
    BOOL olderStaged = FALSE;
    for (DWORD i = 0; i < ARRAYSIZE(kOlderPackage); i++)
        olderStaged = StagingSetExists(g_Run.staging[kOlderPackage[i].area],
                                       kOlderPackage[i].set) ||
                      olderStaged;

    PrivilegeSequence();

    /* From Vista on every run removes older installations; before Vista
     * only an installed package INF that mentions libusb0 asks for it,
     * and an older staged package means there is nothing to do. */
    g_Run.legacyDriver = TRUE;
    if (g_Run.preVista) {
        g_Run.legacyDriver = FALSE;
        if (olderStaged) {
            RunLog(TEXT("An older package is staged: nothing to do"));
            MsgShow(g_Messages.success);
            return FALSE;
        }
    }

    PrivilegeSequence();
    DiscoveryRunAll(&g_Run.legacyDriver, g_Run.windowsAtDefault);
    RunLog(g_Run.legacyDriver
               ? TEXT("Older installations: removed as found")
               : TEXT("Older installations: none to remove (no installed "
                      "package INF names libusb0)"));
    if (g_Run.legacyDriver) {
        SWEEP_SETTINGS sweep;
        RunSweepSettings(&sweep);
        SWEEP_REPORT report = {};
        RemovalSweep(&sweep, &report);
    }
    return TRUE;
}
