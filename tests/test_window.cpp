/* Window class start-up, window procedure and About box procedure, run
 * against the stand-in machine. */
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host/machine.h"
#include "res/resource.h"
#include "ui/window.h"

namespace {

using winhost::machine;

/* Handles the stand-in never inspects; distinct values tell them apart. */
HINSTANCE const kInstance = reinterpret_cast<HINSTANCE>(0x400000);
HINSTANCE const kOtherInstance = reinterpret_cast<HINSTANCE>(0x10000000);
HWND const kWindow = reinterpret_cast<HWND>(0x2A0);
HWND const kDialog = reinterpret_cast<HWND>(0x3B0);

/* WM_COMMAND's wParam: the command in the low word, its source in the
 * high word (0 from a menu, 1 from an accelerator). */
const WORD kFromMenu = 0;
const WORD kFromAccelerator = 1;
WPARAM Command(WORD id, WORD source)
{
    return static_cast<WPARAM>(static_cast<DWORD>(source) << 16 | id);
}

/* A command the window does not handle itself. */
const WORD kUnhandledCommand = IDM_EXIT + 1;

/* Texts different from the shipped ones, so that a test sees where the
 * buffers and the class name really come from. */
const std::u16string kSeededTitle = u"Seeded title";
const std::u16string kSeededClass = u"SeededClass";

class WindowStartup : public ::testing::Test {
protected:
    void SetUp() override
    {
        winhost::Reset();
        machine().hasResources = true;
        machine().strings[IDS_APP_TITLE] = kSeededTitle;
        machine().strings[IDC_INSTALLER] = kSeededClass;
    }

    HACCEL Run(HINSTANCE instance = kInstance)
    {
        return UiStartup(instance, title, className);
    }

    const WNDCLASSEXW &OnlyClass()
    {
        EXPECT_EQ(machine().classes.size(), 1u);
        return machine().classes.at(0).wc;
    }

    WCHAR title[UI_NAME_CCH] = {};
    WCHAR className[UI_NAME_CCH] = {};
};

class WindowProcedure : public WindowStartup {
protected:
    void SetUp() override
    {
        WindowStartup::SetUp();
        Run();
        machine().calls.clear();
    }
};

class AboutBoxProcedure : public ::testing::Test {
protected:
    void SetUp() override { winhost::Reset(); }
};

/* The record a direct call with the same arguments leaves in the log, for
 * comparing arguments without knowing how the stand-in writes them. */
winhost::CallRecord RecordOfDirectDefWindowProc(HWND hWnd, UINT message,
                                                WPARAM wParam, LPARAM lParam)
{
    size_t before = machine().calls.size();
    DefWindowProcW(hWnd, message, wParam, lParam);
    EXPECT_EQ(machine().calls.size(), before + 1);
    winhost::CallRecord record = machine().calls.back();
    machine().calls.pop_back();
    return record;
}

size_t IndexOfCall(const std::string &fn, const std::string &detail)
{
    const auto &calls = machine().calls;
    for (size_t i = 0; i < calls.size(); i++)
        if (calls[i].fn == fn && calls[i].detail == detail)
            return i;
    ADD_FAILURE() << fn << " " << detail << " was not called";
    return calls.size();
}

/* ---- start-up ---- */

TEST_F(WindowStartup, LoadsTheTitleFromString103Into100Units)
{
    Run();
    EXPECT_EQ(std::u16string(title), kSeededTitle);
    EXPECT_LT(IndexOfCall("LoadStringW", std::to_string(IDS_APP_TITLE) +
                                             " cch=" +
                                             std::to_string(UI_NAME_CCH)),
              machine().calls.size());
}

TEST_F(WindowStartup, LoadsTheClassNameFromString109Into100Units)
{
    Run();
    EXPECT_EQ(std::u16string(className), kSeededClass);
    EXPECT_LT(IndexOfCall("LoadStringW", std::to_string(IDC_INSTALLER) +
                                             " cch=" +
                                             std::to_string(UI_NAME_CCH)),
              machine().calls.size());
}

TEST_F(WindowStartup, RegistersTheClassUnderTheLoadedClassName)
{
    Run();
    EXPECT_EQ(machine().classes.at(0).className, kSeededClass);
    EXPECT_EQ(OnlyClass().lpszClassName, className);
}

TEST_F(WindowStartup, RegistersTheClassWithTheSizeOfTheStructure)
{
    /* sizeof(WNDCLASSEXW) is 48 in the 32-bit executable; the host's
     * pointers are wider, so the host value is larger. */
    Run();
    EXPECT_EQ(OnlyClass().cbSize, sizeof(WNDCLASSEXW));
}

TEST_F(WindowStartup, RegistersTheClassRedrawnOnEveryResize)
{
    Run();
    EXPECT_EQ(OnlyClass().style, static_cast<UINT>(CS_HREDRAW | CS_VREDRAW));
}

TEST_F(WindowStartup, RegistersTheClassWithTheWindowProcedure)
{
    Run();
    EXPECT_EQ(OnlyClass().lpfnWndProc, &UiWndProc);
}

TEST_F(WindowStartup, RegistersTheClassWithoutExtraBytes)
{
    Run();
    EXPECT_EQ(OnlyClass().cbClsExtra, 0);
    EXPECT_EQ(OnlyClass().cbWndExtra, 0);
}

TEST_F(WindowStartup, RegistersTheClassForTheGivenInstance)
{
    Run(kOtherInstance);
    EXPECT_EQ(OnlyClass().hInstance, kOtherInstance);
}

TEST_F(WindowStartup, RegistersTheClassWithIcon107)
{
    Run();
    HICON icon = OnlyClass().hIcon;
    ASSERT_NE(icon, nullptr);
    EXPECT_EQ(icon, LoadIconW(kInstance, MAKEINTRESOURCEW(IDI_INSTALLER)));
    EXPECT_NE(icon, LoadIconW(kInstance, MAKEINTRESOURCEW(IDI_SMALL)));
}

TEST_F(WindowStartup, RegistersTheClassWithSmallIcon108)
{
    Run();
    HICON icon = OnlyClass().hIconSm;
    ASSERT_NE(icon, nullptr);
    EXPECT_EQ(icon, LoadIconW(kInstance, MAKEINTRESOURCEW(IDI_SMALL)));
    EXPECT_NE(icon, LoadIconW(kInstance, MAKEINTRESOURCEW(IDI_INSTALLER)));
}

TEST_F(WindowStartup, RegistersTheClassWithTheSystemArrowCursor)
{
    Run();
    HCURSOR cursor = OnlyClass().hCursor;
    ASSERT_NE(cursor, nullptr);
    EXPECT_EQ(cursor, LoadCursorW(NULL, IDC_ARROW));
}

TEST_F(WindowStartup, RegistersTheClassWithTheWindowColourBrush)
{
    Run();
    EXPECT_EQ(reinterpret_cast<INT_PTR>(OnlyClass().hbrBackground),
              static_cast<INT_PTR>(COLOR_WINDOW + 1));
}

TEST_F(WindowStartup, RegistersTheClassWithMenu109)
{
    Run();
    EXPECT_EQ(OnlyClass().lpszMenuName, MAKEINTRESOURCEW(IDC_INSTALLER));
}

TEST_F(WindowStartup, ReturnsAcceleratorTable109)
{
    HACCEL table = Run();
    ASSERT_NE(table, nullptr);
    EXPECT_EQ(table, LoadAcceleratorsW(kInstance,
                                       MAKEINTRESOURCEW(IDC_INSTALLER)));
    EXPECT_EQ(winhost::CallsOf("LoadAcceleratorsW").at(0).detail,
              "#" + std::to_string(IDC_INSTALLER));
}

TEST_F(WindowStartup, ReturnsNullWhenTheAcceleratorTableDoesNotLoad)
{
    machine().hasResources = false;
    EXPECT_EQ(Run(), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_RESOURCE_TYPE_NOT_FOUND));
}

TEST_F(WindowStartup, LoadsStringsThenRegistersThenLoadsTheAccelerators)
{
    Run();
    size_t title = IndexOfCall("LoadStringW",
                               std::to_string(IDS_APP_TITLE) + " cch=" +
                                   std::to_string(UI_NAME_CCH));
    size_t name = IndexOfCall("LoadStringW",
                              std::to_string(IDC_INSTALLER) + " cch=" +
                                  std::to_string(UI_NAME_CCH));
    std::vector<std::string> names = winhost::CallNames();
    size_t reg = 0, acc = 0;
    for (size_t i = 0; i < names.size(); i++) {
        if (names[i] == "RegisterClassExW")
            reg = i;
        if (names[i] == "LoadAcceleratorsW")
            acc = i;
    }
    EXPECT_LT(title, name);
    EXPECT_LT(name, reg);
    EXPECT_LT(reg, acc);
}

TEST_F(WindowStartup, StillLoadsTheAcceleratorsWhenRegistrationFails)
{
    winhost::FailCall("RegisterClassExW", ERROR_CLASS_ALREADY_EXISTS);
    EXPECT_NE(Run(), nullptr);
    EXPECT_TRUE(machine().classes.empty());
    EXPECT_EQ(winhost::CallsOf("LoadAcceleratorsW").size(), 1u);
}

TEST_F(WindowStartup, StillRegistersTheClassWhenTheStringsAreMissing)
{
    machine().strings.clear();
    EXPECT_NE(Run(), nullptr);
    EXPECT_EQ(title[0], 0);
    EXPECT_EQ(className[0], 0);
    EXPECT_EQ(winhost::CallsOf("RegisterClassExW").size(), 1u);
}

/* ---- window procedure ---- */

TEST_F(WindowProcedure, AboutCommandRunsDialog103OwnedByTheWindow)
{
    EXPECT_EQ(UiWndProc(kWindow, WM_COMMAND, Command(IDM_ABOUT, kFromMenu), 0),
              0);
    ASSERT_EQ(machine().dialogs.size(), 1u);
    const winhost::DialogRecord &d = machine().dialogs[0];
    EXPECT_EQ(d.templateId, static_cast<uintptr_t>(IDD_ABOUTBOX));
    EXPECT_EQ(d.owner, kWindow);
    EXPECT_EQ(d.proc, &UiAboutProc);
    EXPECT_TRUE(winhost::CallsOf("DefWindowProcW").empty());
}

TEST_F(WindowProcedure, AboutCommandUsesTheInstanceRecordedByStartup)
{
    UiWndProc(kWindow, WM_COMMAND, Command(IDM_ABOUT, kFromMenu), 0);
    Run(kOtherInstance);
    UiWndProc(kWindow, WM_COMMAND, Command(IDM_ABOUT, kFromMenu), 0);
    ASSERT_EQ(machine().dialogs.size(), 2u);
    EXPECT_EQ(machine().dialogs[0].instance, kInstance);
    EXPECT_EQ(machine().dialogs[1].instance, kOtherInstance);
}

TEST_F(WindowProcedure, AboutCommandFromTheAcceleratorRunsTheAboutBoxToo)
{
    EXPECT_EQ(UiWndProc(kWindow, WM_COMMAND,
                        Command(IDM_ABOUT, kFromAccelerator), 0),
              0);
    ASSERT_EQ(machine().dialogs.size(), 1u);
    EXPECT_EQ(machine().dialogs[0].templateId,
              static_cast<uintptr_t>(IDD_ABOUTBOX));
}

TEST_F(WindowProcedure, AboutCommandReturnsZeroWhenTheAboutBoxFails)
{
    machine().hasResources = false;
    EXPECT_EQ(UiWndProc(kWindow, WM_COMMAND, Command(IDM_ABOUT, kFromMenu), 0),
              0);
    EXPECT_EQ(machine().dialogs.size(), 1u);
    EXPECT_TRUE(winhost::CallsOf("DefWindowProcW").empty());
}

TEST_F(WindowProcedure, ExitCommandDestroysTheWindow)
{
    EXPECT_EQ(UiWndProc(kWindow, WM_COMMAND, Command(IDM_EXIT, kFromMenu), 0),
              0);
    std::vector<winhost::CallRecord> destroyed =
        winhost::CallsOf("DestroyWindow");
    ASSERT_EQ(destroyed.size(), 1u);
    machine().calls.clear();
    DestroyWindow(kWindow);
    EXPECT_EQ(destroyed[0].detail, machine().calls.at(0).detail);
    EXPECT_TRUE(machine().dialogs.empty());
    EXPECT_TRUE(winhost::CallsOf("DefWindowProcW").empty());
}

TEST_F(WindowProcedure, OtherCommandGoesToDefaultProcessing)
{
    const WPARAM other = Command(kUnhandledCommand, kFromMenu);
    const LPARAM source = 0x5C;
    winhost::CallRecord direct =
        RecordOfDirectDefWindowProc(kWindow, WM_COMMAND, other, source);
    UiWndProc(kWindow, WM_COMMAND, other, source);
    std::vector<winhost::CallRecord> calls = winhost::CallsOf("DefWindowProcW");
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].detail, direct.detail);
    EXPECT_TRUE(machine().dialogs.empty());
    EXPECT_TRUE(winhost::CallsOf("DestroyWindow").empty());
}

TEST_F(WindowProcedure, PaintBeginsAndEndsPaintingAndReturnsZero)
{
    EXPECT_EQ(UiWndProc(kWindow, WM_PAINT, 0, 0), 0);
    EXPECT_EQ(winhost::CallNames(),
              (std::vector<std::string>{"BeginPaint", "EndPaint"}));
    std::string began = machine().calls.at(0).detail;
    std::string ended = machine().calls.at(1).detail;
    machine().calls.clear();
    PAINTSTRUCT ps;
    BeginPaint(kWindow, &ps);
    EXPECT_EQ(began, machine().calls.at(0).detail);
    EXPECT_EQ(ended, machine().calls.at(0).detail);
}

TEST_F(WindowProcedure, DestroyPostsQuitWithCodeZero)
{
    EXPECT_EQ(UiWndProc(kWindow, WM_DESTROY, 0, 0), 0);
    ASSERT_EQ(machine().messages.size(), 1u);
    EXPECT_EQ(machine().messages.front().message,
              static_cast<UINT>(WM_QUIT));
    EXPECT_EQ(machine().messages.front().wParam, 0u);
    EXPECT_TRUE(winhost::CallsOf("DefWindowProcW").empty());
}

TEST_F(WindowProcedure, OtherMessageGoesToDefaultProcessing)
{
    const WPARAM wParam = 0x12;
    const LPARAM lParam = 0x34;
    winhost::CallRecord direct =
        RecordOfDirectDefWindowProc(kWindow, WM_CLOSE, wParam, lParam);
    UiWndProc(kWindow, WM_CLOSE, wParam, lParam);
    EXPECT_EQ(winhost::CallNames(),
              (std::vector<std::string>{"DefWindowProcW"}));
    EXPECT_EQ(machine().calls.at(0).detail, direct.detail);
}

TEST_F(WindowProcedure, AboutBoxClosedWithCancelEndsWithCancel)
{
    machine().dialogCommand = IDCANCEL;
    UiWndProc(kWindow, WM_COMMAND, Command(IDM_ABOUT, kFromMenu), 0);
    ASSERT_EQ(machine().endedDialogs.size(), 1u);
    EXPECT_EQ(machine().endedDialogs[0].second, static_cast<INT_PTR>(IDCANCEL));
    EXPECT_FALSE(machine().hung);
}

/* ---- About box procedure ---- */

TEST_F(AboutBoxProcedure, InitDialogReturnsTrue)
{
    EXPECT_EQ(UiAboutProc(kDialog, WM_INITDIALOG, 0, 0), TRUE);
    EXPECT_TRUE(machine().endedDialogs.empty());
}

TEST_F(AboutBoxProcedure, OkEndsTheDialogWithOk)
{
    EXPECT_EQ(UiAboutProc(kDialog, WM_COMMAND, Command(IDOK, kFromMenu), 0),
              TRUE);
    ASSERT_EQ(machine().endedDialogs.size(), 1u);
    EXPECT_EQ(machine().endedDialogs[0].first, kDialog);
    EXPECT_EQ(machine().endedDialogs[0].second, static_cast<INT_PTR>(IDOK));
}

TEST_F(AboutBoxProcedure, CancelEndsTheDialogWithCancel)
{
    EXPECT_EQ(UiAboutProc(kDialog, WM_COMMAND, Command(IDCANCEL, kFromMenu), 0),
              TRUE);
    ASSERT_EQ(machine().endedDialogs.size(), 1u);
    EXPECT_EQ(machine().endedDialogs[0].first, kDialog);
    EXPECT_EQ(machine().endedDialogs[0].second,
              static_cast<INT_PTR>(IDCANCEL));
}

TEST_F(AboutBoxProcedure, EndsWithTheCommandAloneWhateverItsSource)
{
    EXPECT_EQ(UiAboutProc(kDialog, WM_COMMAND,
                          Command(IDCANCEL, kFromAccelerator), 0),
              TRUE);
    ASSERT_EQ(machine().endedDialogs.size(), 1u);
    EXPECT_EQ(machine().endedDialogs[0].second,
              static_cast<INT_PTR>(IDCANCEL));
}

TEST_F(AboutBoxProcedure, OtherCommandIsNotHandled)
{
    EXPECT_EQ(UiAboutProc(kDialog, WM_COMMAND, Command(IDM_ABOUT, kFromMenu), 0),
              FALSE);
    EXPECT_TRUE(machine().endedDialogs.empty());
}

TEST_F(AboutBoxProcedure, OtherMessageIsNotHandled)
{
    EXPECT_EQ(UiAboutProc(kDialog, WM_CLOSE, 0, 0), FALSE);
    EXPECT_EQ(UiAboutProc(kDialog, WM_PAINT, 0, 0), FALSE);
    EXPECT_TRUE(machine().endedDialogs.empty());
    EXPECT_TRUE(machine().calls.empty());
}

} // namespace
