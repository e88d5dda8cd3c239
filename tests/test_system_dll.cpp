#include "fixture.h"

#include "platform/system_dll.h"

using SystemDll = MachineTest;

/* (Loading once and keeping: test_run's DllSearch.) */
TEST_F(SystemDll, KeepsNoLibraryThatDidNotLoad)
{
    winhost::FailCall("LoadLibraryExW", ERROR_MOD_NOT_FOUND);
    EXPECT_EQ(SystemDllProc(u"advapi32.dll", "RegDeleteKeyExW"), nullptr);
    EXPECT_EQ(GetLastError(), DWORD{ERROR_MOD_NOT_FOUND});
    EXPECT_NE(SystemDllProc(u"ADVAPI32.DLL", "RegDeleteKeyExW"), nullptr);
    EXPECT_EQ(SystemDllProc(u"advapi32.dll", "NoSuchFunction"), nullptr);
    EXPECT_EQ(GetLastError(), DWORD{ERROR_PROC_NOT_FOUND});
    EXPECT_EQ(winhost::CallsOf("LoadLibraryExW").size(), 2u);
    EXPECT_EQ(g_SystemDlls.count, 1u);
}
