// The headless backend's controls for tests: the recorded window state and
// the scripted answers of dialogs, sockets, help and files.
#pragma once

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
    BOOL bEnabled = TRUE;
    HWND__* pParent = nullptr;
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
    RECT rcClient = {0, 0, 285, 179};
    std::vector<UINT> unhandled;  // messages the dialog procedure left to the default
};

HWND HeadlessControl(HWND hDlg, int nID);

// Modal dialogs. The driver runs once the dialog has initialised; a dialog
// still open when it returns is closed as with Esc. No driver: closed at once.
typedef std::function<void(HWND hDlg)> HeadlessDriver;
void HeadlessSetModalDriver(UINT nTemplate, HeadlessDriver fnDriver);

// User actions; each returns FALSE when the control cannot take it (disabled).
BOOL HeadlessClick(HWND hDlg, int nID);
void HeadlessTypeText(HWND hCombo, const std::string& strText);
void HeadlessSelect(HWND hCombo, int nIndex);  // picks a list entry
int HeadlessTick(HWND hDlg);  // WM_TIMER for every running timer; how many fired
void HeadlessPressKey(HWND hDlg, int nVirtKey, BOOL bShift = FALSE, BOOL bCtrl = FALSE, BOOL bAlt = FALSE);

struct HeadlessIconDraw {
    int x;
    int y;
    HICON hIcon;
};
std::vector<HeadlessIconDraw> HeadlessIconDraws();

// Strings and icons of the resources.

// Message boxes, from any thread; each is answered IDOK.
struct HeadlessMessageBox {
    HWND hOwner;
    std::string strText;
    std::string strCaption;
    UINT uType;
};
std::vector<HeadlessMessageBox> HeadlessMessageBoxes();
// Waits until at least nCount boxes have been shown; FALSE after a long
// safety limit, so a broken test fails instead of hanging.
BOOL HeadlessWaitForMessageBoxes(std::size_t nCount);

// Save As: the handler sees each request while "the dialog is open".
struct HeadlessSaveAsRequest {
    HWND hOwner;
    std::string strFilter;  // NUL-separated, up to and including the final double NUL
    std::string strDefExt;
    std::string strInitialPath;
};
typedef std::function<BOOL(const HeadlessSaveAsRequest& request, std::string& strPath)> HeadlessSaveAsHandler;
void HeadlessSetSaveAsHandler(HeadlessSaveAsHandler fnHandler);  // none: cancel
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
