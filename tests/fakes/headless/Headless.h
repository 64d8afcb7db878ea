// The headless backend's controls for tests: the recorded window state and
// the scripted answers of dialogs, sockets, help and files.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/ui/UiApi.h"

struct HeadlessMenuItem {
    UINT uFlags;
    UINT_PTR uID;
    std::string strText;
};

struct HWND__ {
    int nID = 0;
    std::string strClass;  // "dialog", "button", "combobox", "msctls_progress32", "edit", "static"
    LONG lStyle = 0;
    std::string strText;
    // A worker's message box disables its owner from another thread.
    std::atomic<BOOL> bEnabled{TRUE};
    HWND__* pParent = nullptr;    // a top-level window's owner
    BOOL bReenableOwner = FALSE;  // it disabled its owner on opening
    std::vector<std::unique_ptr<HWND__>> children;

    // combo box
    std::vector<std::string> items;
    int nCurSel = CB_ERR;
    // progress bar: the control's own default range
    int nLower = 0;
    int nUpper = 100;
    int nPos = 0;

    // dialog
    UINT nTemplate = 0;
    DLGPROC pfnProc = nullptr;
    LONG_PTR lUser = 0;
    LONG_PTR lMsgResult = 0;
    BOOL bEnded = FALSE;
    INT_PTR nResult = 0;
    std::vector<std::pair<UINT_PTR, UINT>> timers;  // id, period
    BOOL bHasSystemMenu = TRUE;
    std::vector<HeadlessMenuItem> systemMenu;
    HICON hIconBig = nullptr;
    HICON hIconSmall = nullptr;
    BOOL bIconic = FALSE;
    // The control with the keyboard focus while the dialog is active, kept
    // while a modal window is over it; null when it has none.
    std::atomic<HWND__*> pFocus{nullptr};
    RECT rcClient = {0, 0, 285, 179};
    std::vector<UINT> unhandled;  // messages the dialog procedure left to the default
};

HWND HeadlessControl(HWND hDlg, int nID);

// Modal dialogs. The driver runs once the dialog has initialised; a dialog
// still open when it returns is closed as with Esc. No driver: closed at once.
// As on Windows, a modal window (dialog, Save As, message box) disables an
// enabled owner while it is up, and ending it (EndDialog) re-enables that
// owner at once, even when another modal window over the owner is still up.
typedef std::function<void(HWND hDlg)> HeadlessDriver;
void HeadlessSetModalDriver(UINT nTemplate, HeadlessDriver fnDriver);

// The keyboard focus, as the dialog manager moves it: WM_INITDIALOG returning
// TRUE and WM_NEXTDLGCTL set it; disabling the control that has it leaves the
// dialog without one; a modal window over the dialog closing gives a dialog
// without one to its first enabled tab stop.
int HeadlessFocusId(HWND hDlg);  // the id of the control with the focus; 0: none

// User actions; each returns FALSE when the control cannot take it (disabled).
BOOL HeadlessClick(HWND hDlg, int nID);
void HeadlessTypeText(HWND hCombo, const std::string& strText);
void HeadlessSelect(HWND hCombo, int nIndex);  // picks a list entry
void HeadlessDropDown(HWND hCombo);            // opens the list (CBN_DROPDOWN to the dialog)
int HeadlessTick(HWND hDlg);                   // WM_TIMER for every running timer; how many fired

// Messages from elsewhere: other threads, other programs, queued input.
// SendMessageA is a sent message (on Windows it also reaches the window from
// inside a wait that serves only sent messages, as the uploader's deletion
// does). A posted message waits in the thread's queue until a modal loop runs:
// each loop here (a dialog's, a message box's on the window's thread, Save As)
// delivers the queue when it opens and again before it ends, to disabled
// windows too. Messages for a window that is destroyed are dropped with it.
void HeadlessPostMessage(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam);
void HeadlessDeliverPosted();  // the loop that is up spins now
#ifndef BM_CLICK
#define BM_CLICK 0x00F5  // sent to a button: an enabled one notifies its parent of a click
#endif
void HeadlessPressKey(HWND hDlg, int nVirtKey, BOOL bShift = FALSE, BOOL bCtrl = FALSE, BOOL bAlt = FALSE);

struct HeadlessIconDraw {
    int x;
    int y;
    HICON hIcon;
};
std::vector<HeadlessIconDraw> HeadlessIconDraws();

// Message boxes, from any thread; answered IDOK unless a handler is set.
struct HeadlessMessageBox {
    HWND hOwner;
    std::string strText;
    std::string strCaption;
    UINT uType;
};
// Called on the showing thread while the box is up (its owner disabled);
// returns the button pressed.
typedef std::function<int(const HeadlessMessageBox& box)> HeadlessMessageBoxHandler;
void HeadlessSetMessageBoxHandler(HeadlessMessageBoxHandler fnHandler);
std::vector<HeadlessMessageBox> HeadlessMessageBoxes();
// Waits until at least nCount boxes have been shown; FALSE after a long
// safety limit, so a broken test fails instead of hanging.
BOOL HeadlessWaitForMessageBoxes(std::size_t nCount);

// Save As: the handler sees each request while "the dialog is open" (hDialog,
// owned by hOwner, valid only until the handler returns). An initial name with characters no file name may hold is
// refused as Windows does (FNERR_INVALIDFILENAME) without showing anything.
struct HeadlessSaveAsRequest {
    HWND hOwner;
    HWND hDialog;
    std::string strFilter;  // NUL-separated, up to and including the final double NUL
    std::string strDefExt;
    std::string strInitialPath;
};
typedef std::function<BOOL(const HeadlessSaveAsRequest& request, std::string& strPath)> HeadlessSaveAsHandler;
void HeadlessSetSaveAsHandler(HeadlessSaveAsHandler fnHandler);  // none: cancel
// The next nTimes dialogs that would be shown fail instead with the extended
// error dwError (CDERR_DIALOGFAILURE: 0xFFFF), as when one cannot be created.
void HeadlessFailSaveAs(int nTimes, DWORD dwError);
std::vector<HeadlessSaveAsRequest> HeadlessSaveAsRequests();

// Help viewers: WinHelp and HTML Help calls, in order.
struct HeadlessHelpCall {
    HWND hOwner;
    std::string strPath;
    UINT uCommand;
    ULONG_PTR dwData;
    BOOL bHtmlHelp = FALSE;
};
void HeadlessSetHelpResult(BOOL bResult);
void HeadlessSetHtmlHelpOpens(BOOL bOpens);  // FALSE: HtmlHelpA returns no window
std::vector<HeadlessHelpCall> HeadlessHelpCalls();

// Module path and folders.
void HeadlessSetModulePath(const std::string& strPath);
void HeadlessSetFolders(const std::string& strAppData, const std::string& strWindows);
void HeadlessSetDocumentsFolder(const std::string& strDocuments);  // none until set

// The ports listed under SERIALCOMM, in the registry's order, and how often
// the program has read them.
void HeadlessSetSerialPorts(const std::vector<std::string>& names);
int HeadlessSerialPortReads();

// Sockets layer: whether the start succeeds and which version it grants.
void HeadlessSetSockets(BOOL bStartOk, WORD wVersionGranted);
int HeadlessSocketsStartups();
int HeadlessSocketsCleanups();

// Every profile access in order: "R section/key" or "W section/key=value".
std::vector<std::string> HeadlessProfileLog();

// File faults: the next operation of that kind fails with dwError (a Win32
// code). A failed write leaves half the data in the new file.
enum HeadlessFileOp { FileOpProbe, FileOpCreate, FileOpWrite, FileOpClose, FileOpReplace };
void HeadlessInjectFileError(HeadlessFileOp op, DWORD dwError);

// Back to the initial state (between tests).
void HeadlessReset();
