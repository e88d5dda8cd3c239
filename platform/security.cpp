#include "platform/security.h"

BOOL SecurityAttributesFromSddl(LPCWSTR sddl, SECURITY_ATTRIBUTES *sa)
{
    sa->nLength = sizeof(*sa);
    sa->lpSecurityDescriptor = NULL;
    sa->bInheritHandle = FALSE;
    return ConvertStringSecurityDescriptorToSecurityDescriptorW(
        sddl, SDDL_REVISION_1, &sa->lpSecurityDescriptor, NULL);
}
