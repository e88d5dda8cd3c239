/*
 * Window class, window procedure and About box of the installer.
 * No window of the class is created during a run; the class, its menu and
 * the About box are ready should one be.
 */
#ifndef QX_UI_WINDOW_H
#define QX_UI_WINDOW_H

#include "platform/win32.h"

/* Capacity of the title and window class name buffers, in units. */
#define UI_NAME_CCH 100

/* Loads the title (string 103) and class name (string 109) into the given
 * buffers of UI_NAME_CCH units, registers the window class, records the
 * instance for the About box and loads accelerator table 109.  Returns the
 * table, or NULL when it did not load; no other result is examined. */
HACCEL UiStartup(HINSTANCE hInstance, LPWSTR title, LPWSTR className);

/* The class's window procedure: command 104 runs the About box, command
 * 105 destroys the window, WM_PAINT paints nothing, WM_DESTROY posts quit. */
LRESULT CALLBACK UiWndProc(HWND hWnd, UINT message, WPARAM wParam,
                           LPARAM lParam);

/* The About box procedure: TRUE for WM_INITDIALOG and for OK or Cancel,
 * which end the dialog with that command; FALSE for everything else. */
INT_PTR CALLBACK UiAboutProc(HWND hDlg, UINT message, WPARAM wParam,
                             LPARAM lParam);

#endif
