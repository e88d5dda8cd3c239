#include "app/legacy.h"

#include "app/run.h"

BOOL LegacyStage(void)
{
    /* Older installations are not looked for yet: the legacy-driver flag
     * stays clear. */
    g_Run.legacyDriver = FALSE;
    return TRUE;
}
