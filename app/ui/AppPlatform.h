// The operating-system services of the dialog layer other than the window
// manager: one implementation per platform, picked by the build.
//   app/ui/win32/     the real Win32 calls
//   tests/fakes/headless/  plain C++ for unit tests: folders and the module path
//                     injected, the Save As dialog and sockets scripted,
//                     profiles as real INI files, file errors injectable
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "app/ui/UiApi.h"

// Module, folders and paths.
void PlatformSetInstance(HINSTANCE hInstance);  // by the entry point
HINSTANCE PlatformInstance();
std::string PlatformModulePath();
std::string PlatformAppDataFolder();    // the per-user settings folder; "" when unknown
std::string PlatformDocumentsFolder();  // the user's Documents; "" when unknown
std::string PlatformWindowsFolder();    // where a profile named without a folder lives
// Where Windows redirected an old program's writes to the Windows folder
// (%LOCALAPPDATA%\VirtualStore\Windows); "" when unknown.
std::string PlatformVirtualStoreFolder();
char PlatformPathSeparator();

// The window a new modal window over hWnd is to be owned by: the innermost
// modal dialog up over hWnd, or hWnd itself. Owned by that one, the new
// window keeps every window under it disabled; owned by hWnd, it would be
// left enabled when a dialog between them ends.
HWND PlatformModalOwner(HWND hWnd);

// Modal dialog: runs template nIDTemplate with pfnProc until EndDialog.
INT_PTR PlatformRunModal(UINT nIDTemplate, HWND hParent, DLGPROC pfnProc, LPARAM lParam);
// The template's initialisation data (the resources' RT_DLGINIT layout), or
// null when it has none.
const BYTE* PlatformLoadDlgInit(UINT nIDTemplate, DWORD* pcbSize);

// The serial ports Windows lists as present (the data of the values under
// HKLM\HARDWARE\DEVICEMAP\SERIALCOMM), in the registry's order; read anew
// at each call, so an adapter plugged in since shows.
std::vector<std::string> PlatformSerialPortNames();

// Sockets layer.
BOOL PlatformSocketsStartup(WORD wVersionRequested, WORD* pwVersionGranted);
void PlatformSocketsCleanup();

// The Save As dialog; pszFilter is the NUL-separated pair list ending in two
// NULs. strPath holds the initial name and receives the chosen full path.
// FALSE when the user cancels (*pdwError 0) or the dialog fails (*pdwError
// its extended error, such as a refused initial name).
BOOL PlatformSaveAsDialog(HWND hOwner, const char* pszFilter, const char* pszDefExt, std::string& strPath,
                          DWORD* pdwError);

// Private profile file at a full path.
std::string PlatformProfileGetString(const std::string& strPath, const char* pszSection, const char* pszKey,
                                     const char* pszDefault);
BOOL PlatformProfileWriteString(const std::string& strPath, const char* pszSection, const char* pszKey,
                                const char* pszValue);

// Files. Failures return FALSE with the Win32 error code in *pdwError.
BOOL PlatformFileExists(const std::string& strPath);
BOOL PlatformCreateFolder(const std::string& strPath);  // TRUE also when it exists
BOOL PlatformCopyFile(const std::string& strFrom, const std::string& strTo);
// Opens an existing file for exclusive writing and closes it again, without
// changing it: can the user replace it?
BOOL PlatformProbeWritable(const std::string& strPath, DWORD* pdwError);
