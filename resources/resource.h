// Resource ids shared by TandrelConfigurationController.rc and the program.
// Included by both the C++ sources and windres, so it holds #defines only.
#ifndef TCC_RESOURCES_RESOURCE_H
#define TCC_RESOURCES_RESOURCE_H

// Dialog templates and strings. The help topics follow the template ids
// (0x20000 + id), so these numbers must not change.
#define IDD_ABOUTBOX 100
#define IDS_ABOUTBOX 101
#define IDD_UPLOADER_DIALOG 102
#define IDS_SOCKETS_INIT_FAILED 103

// The program's icon, two images: 32x32 and 16x16, 16 colours.
#define IDR_MAINFRAME 128

// Controls of the upload window.
#define IDC_UPLOAD 1000
#define IDC_PORT 1007
#define IDC_PROGRESS 1009
#define IDC_STATUS 1010

// The Help command; the framework's standard command id.
#ifndef ID_HELP
#define ID_HELP 0xE146
#endif

// System-menu entry of the About box. The low four bits of system-command ids
// belong to the system, so compare with (id & 0xFFF0).
#define IDM_ABOUTBOX 0x0010

// The port drop-down's list entries ship as dialog-initialisation data, as
// the framework lays it out: a resource of type RT_DLGINIT_TYPE named after
// the dialog template, holding records of WORD control id, WORD message
// (DLGINIT_CB_ADDSTRING, the Win16 value of CB_ADDSTRING: send CB_ADDSTRING),
// DWORD byte count, that many bytes of ANSI text with its NUL; no padding
// between records, a WORD 0 ends the list.
#define RT_DLGINIT_TYPE 240
#define DLGINIT_CB_ADDSTRING 0x0403

#endif  // TCC_RESOURCES_RESOURCE_H
