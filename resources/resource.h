// Resource ids shared by TandrelConfigurationController.rc and the program.
// Included by both the C++ sources and windres, so it holds #defines only.
#ifndef TCC_RESOURCES_RESOURCE_H
#define TCC_RESOURCES_RESOURCE_H

// Dialog templates and strings. The help topics follow the template ids
// (0x20000 + id), so these numbers must not change.
#define IDD_ABOUTBOX             100
#define IDS_ABOUTBOX             101
#define IDD_UPLOADER_DIALOG      102
#define IDS_SOCKETS_INIT_FAILED  103

// The program's icon, two images: 32x32 and 16x16, 16 colours.
#define IDR_MAINFRAME            128

// Controls of the upload window.
#define IDC_UPLOAD               1000
#define IDC_PORT                 1007
#define IDC_PROGRESS             1009
#define IDC_STATUS               1010

// The Help command; the framework's standard command id.
#ifndef ID_HELP
#define ID_HELP                  0xE146
#endif

// System-menu entry of the About box. The low four bits of system-command ids
// belong to the system, so compare with (id & 0xFFF0).
#define IDM_ABOUTBOX             0x0010

#endif  // TCC_RESOURCES_RESOURCE_H
