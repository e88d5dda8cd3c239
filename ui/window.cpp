/*
 * Window class, window procedure and About box of the installer.
 */
#include "ui/window.h"

#include "res/resource.h"

/* Quit code posted when a window of the class is destroyed; the pump
 * hands it back as the exit code. */
#define UI_QUIT_CODE 0

/* The window procedure only receives its window, yet the About box needs
 * the module that holds its template; start-up records it here. */
static HINSTANCE s_dialogInstance;

HACCEL UiStartup(HINSTANCE hInstance, LPWSTR title, LPWSTR className)
{
    WNDCLASSEXW wcex;

    s_dialogInstance = hInstance;

    LoadStringW(hInstance, IDS_APP_TITLE, title, UI_NAME_CCH);
    LoadStringW(hInstance, IDC_INSTALLER, className, UI_NAME_CCH);

    /* 48 bytes in the 32-bit executable; the host build's pointers are
     * wider, so the size is taken from the type rather than written out. */
    wcex.cbSize = sizeof(WNDCLASSEXW);
    wcex.style = CS_HREDRAW | CS_VREDRAW;
    wcex.lpfnWndProc = UiWndProc;
    wcex.cbClsExtra = 0;
    wcex.cbWndExtra = 0;
    wcex.hInstance = hInstance;
    wcex.hIcon = LoadIconW(hInstance, MAKEINTRESOURCEW(IDI_INSTALLER));
    wcex.hCursor = LoadCursorW(NULL, IDC_ARROW);
    /* A system colour index plus one stands for that colour's brush. */
    wcex.hbrBackground = (HBRUSH)(INT_PTR)(COLOR_WINDOW + 1);
    wcex.lpszMenuName = MAKEINTRESOURCEW(IDC_INSTALLER);
    wcex.lpszClassName = className;
    wcex.hIconSm = LoadIconW(hInstance, MAKEINTRESOURCEW(IDI_SMALL));
    RegisterClassExW(&wcex);

    return LoadAcceleratorsW(hInstance, MAKEINTRESOURCEW(IDC_INSTALLER));
}

LRESULT CALLBACK UiWndProc(HWND hWnd, UINT message, WPARAM wParam,
                           LPARAM lParam)
{
    switch (message) {
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDM_ABOUT:
            DialogBoxW(s_dialogInstance, MAKEINTRESOURCEW(IDD_ABOUTBOX), hWnd,
                       UiAboutProc);
            return 0;
        case IDM_EXIT:
            DestroyWindow(hWnd);
            return 0;
        default:
            return DefWindowProcW(hWnd, message, wParam, lParam);
        }
    case WM_PAINT: {
        /* Nothing is drawn, but painting must still be begun and ended so
         * that the window stops asking to be painted. */
        PAINTSTRUCT ps;
        BeginPaint(hWnd, &ps);
        EndPaint(hWnd, &ps);
        return 0;
    }
    case WM_DESTROY:
        PostQuitMessage(UI_QUIT_CODE);
        return 0;
    default:
        return DefWindowProcW(hWnd, message, wParam, lParam);
    }
}

/* NOLINTNEXTLINE(bugprone-easily-swappable-parameters): DLGPROC's form */
INT_PTR CALLBACK UiAboutProc(HWND hDlg, UINT message, WPARAM wParam,
                             LPARAM lParam)
{
    (void)lParam;

    switch (message) {
    case WM_INITDIALOG:
        return TRUE;
    case WM_COMMAND:
        /* Escape and the caption's close button arrive as IDCANCEL. */
        if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
            EndDialog(hDlg, LOWORD(wParam));
            return TRUE;
        }
        break;
    default:
        break;
    }
    return FALSE;
}
