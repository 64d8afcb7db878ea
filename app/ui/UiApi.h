// The one seam between the dialog layer and the window manager.
//
// The dialog layer (Window.h, Controls.h, Dialog.h) is written against the
// user32 calls declared here. On Windows this header is <windows.h> and
// <commctrl.h>, and the calls are the real ones. On Linux it declares the
// same names for the subset the program uses; tests/fakes/headless/ implements
// them over recorded window state, so the window's logic runs in unit tests.
#pragma once

#include "platform/AppMessageBox.h"
#include "platform/Win32Types.h"

#ifdef _WIN32

#include <commctrl.h>
#include <htmlhelp.h>

#else  // !_WIN32

typedef std::uintptr_t WPARAM;
typedef std::intptr_t LPARAM;
typedef std::intptr_t LRESULT;
typedef std::intptr_t INT_PTR;
typedef std::intptr_t LONG_PTR;
typedef std::uintptr_t UINT_PTR;

struct HWND__;
typedef HWND__* HWND;
typedef struct HMENU__* HMENU;
typedef struct HICON__* HICON;
typedef struct HDC__* HDC;
typedef struct HINSTANCE__* HINSTANCE;

typedef struct tagRECT {
    LONG left, top, right, bottom;
} RECT;

typedef struct tagPAINTSTRUCT {
    HDC hdc;
    BOOL fErase;
    RECT rcPaint;
} PAINTSTRUCT;

typedef INT_PTR(CALLBACK* DLGPROC)(HWND, UINT, WPARAM, LPARAM);

#define LOWORD(l) (static_cast<WORD>(static_cast<std::uintptr_t>(l) & 0xFFFF))
#define HIWORD(l) (static_cast<WORD>((static_cast<std::uintptr_t>(l) >> 16) & 0xFFFF))
#define MAKEWORD(lo, hi) (static_cast<WORD>(((lo)&0xFF) | (((hi)&0xFF) << 8)))
#define MAKEINTRESOURCEA(i) (reinterpret_cast<LPCSTR>(static_cast<std::uintptr_t>(static_cast<WORD>(i))))

#define WM_DESTROY 0x0002
#define WM_SETTEXT 0x000C
#define WM_GETTEXT 0x000D
#define WM_GETTEXTLENGTH 0x000E
#define WM_PAINT 0x000F
#define WM_CLOSE 0x0010
#define WM_ICONERASEBKGND 0x0027
#define WM_NEXTDLGCTL 0x0028
#define WM_QUERYDRAGICON 0x0037
#define WM_SETICON 0x0080
#define WM_KEYDOWN 0x0100
#define WM_INITDIALOG 0x0110
#define WM_COMMAND 0x0111
#define WM_SYSCOMMAND 0x0112
#define WM_TIMER 0x0113
#define WM_USER 0x0400

#define BN_CLICKED 0
#define ICON_SMALL 0
#define ICON_BIG 1
#define MF_STRING 0x0000u
#define MF_SEPARATOR 0x0800u
#define SM_CXICON 11
#define SM_CYICON 12
#define VK_SHIFT 0x10
#define VK_CONTROL 0x11
#define VK_MENU 0x12
#define VK_F1 0x70
#define SC_CLOSE 0xF060
#define WS_TABSTOP 0x00010000L

#define DWLP_MSGRESULT 0
#define DWLP_DLGPROC 8
#define DWLP_USER 16

#define CBS_DROPDOWN 0x0002L
#define CBS_SORT 0x0100L
#define CBS_UPPERCASE 0x2000L
#define CB_ERR (-1)
#define CB_ADDSTRING 0x0143
#define CB_DELETESTRING 0x0144
#define CB_GETCOUNT 0x0146
#define CB_GETCURSEL 0x0147
#define CB_GETLBTEXT 0x0148
#define CB_INSERTSTRING 0x014A
#define CB_SETCURSEL 0x014E
#define CB_FINDSTRINGEXACT 0x0158
#define CBN_DROPDOWN 7

#define PBM_SETPOS (WM_USER + 2)
#define PBM_SETRANGE32 (WM_USER + 6)
#define PBM_GETRANGE (WM_USER + 7)

#define HELP_CONTEXT 0x0001u
#define HELP_QUIT 0x0002u
#define HH_HELP_CONTEXT 0x000F
#define HH_CLOSE_ALL 0x0012

LRESULT SendMessageA(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam);
HWND GetDlgItem(HWND hDlg, int nIDDlgItem);
BOOL EnableWindow(HWND hWnd, BOOL bEnable);
BOOL IsWindowEnabled(HWND hWnd);
BOOL SetWindowTextA(HWND hWnd, LPCSTR lpString);
int GetWindowTextA(HWND hWnd, LPSTR lpString, int nMaxCount);
int GetWindowTextLengthA(HWND hWnd);
BOOL IsIconic(HWND hWnd);
BOOL GetClientRect(HWND hWnd, RECT* lpRect);
LONG_PTR SetWindowLongPtrA(HWND hWnd, int nIndex, LONG_PTR dwNewLong);
LONG_PTR GetWindowLongPtrA(HWND hWnd, int nIndex);
UINT_PTR SetTimer(HWND hWnd, UINT_PTR nIDEvent, UINT uElapse, void* lpTimerFunc);
BOOL KillTimer(HWND hWnd, UINT_PTR uIDEvent);
BOOL EndDialog(HWND hDlg, INT_PTR nResult);
HMENU GetSystemMenu(HWND hWnd, BOOL bRevert);
BOOL AppendMenuA(HMENU hMenu, UINT uFlags, UINT_PTR uIDNewItem, LPCSTR lpNewItem);
HDC BeginPaint(HWND hWnd, PAINTSTRUCT* lpPaint);
BOOL EndPaint(HWND hWnd, const PAINTSTRUCT* lpPaint);
BOOL DrawIcon(HDC hDC, int X, int Y, HICON hIcon);
int GetSystemMetrics(int nIndex);
short GetKeyState(int nVirtKey);
int LoadStringA(HINSTANCE hInstance, UINT uID, LPSTR lpBuffer, int cchBufferMax);
HICON LoadIconA(HINSTANCE hInstance, LPCSTR lpIconName);
int MessageBoxA(HWND hWnd, LPCSTR lpText, LPCSTR lpCaption, UINT uType);
BOOL WinHelpA(HWND hWndMain, LPCSTR lpszHelp, UINT uCommand, ULONG_PTR dwData);
HWND HtmlHelpA(HWND hwndCaller, LPCSTR pszFile, UINT uCommand, ULONG_PTR dwData);

#endif  // _WIN32
