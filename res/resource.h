/* Resource identifiers of the installer executable, shared by the
 * resource script and the code that loads them. */
#ifndef QX_RES_RESOURCE_H
#define QX_RES_RESOURCE_H

#define IDR_MANIFEST 1
#define IDD_ABOUTBOX 103
#define IDS_APP_TITLE 103
#define IDM_ABOUT 104
#define IDM_EXIT 105
#define IDI_INSTALLER 107
#define IDI_SMALL 108
#define IDC_INSTALLER 109
#define IDI_ABOUT_ICON 128
#define VS_VERSION_INFO_ID 1

/* The program's version: the version resource's numbers and texts, and
 * the first line of each block the run writes to its log. */
#define QX_VERSION_NUMBERS 1, 0, 0, 1
#define QX_VERSION_TEXT "1.0.0.1"

/* Controls of the About box that nothing addresses by id. */
#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif

#endif
