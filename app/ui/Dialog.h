// Modal dialogs from a template id, with WTL-style message maps.
//
// A derived dialog lists its handlers between BEGIN_MSG_MAP and END_MSG_MAP;
// the map reads top to bottom like a table and the first matching entry
// handles the message. A cracked handler that wants the default processing
// as well calls SetMsgHandled(FALSE). WM_INITDIALOG, IDOK and IDCANCEL go to
// the virtual OnInitDialog, OnOK and OnCancel; commands that no map handles
// go on to the application object (the Help command).
#pragma once

#include <string>

#include "app/ui/Controls.h"

class CDialog;

// Control data exchange, members to controls only: the program never reads
// its controls back through DDX.
class CDataExchange {
public:
    explicit CDataExchange(CDialog* pDlg) : m_pDlg(pDlg) {}
    CDialog* m_pDlg;
};

void DDX_Control(CDataExchange* pDX, int nIDC, CWindow& rControl);
void DDX_Text(CDataExchange* pDX, int nIDC, const std::string& strValue);

class CDialog : public CWindow {
public:
    explicit CDialog(UINT nIDTemplate, HWND hParent = nullptr);
    virtual ~CDialog();
    CDialog(const CDialog&) = delete;
    CDialog& operator=(const CDialog&) = delete;

    // Runs the dialog until EndDialog and returns its result (-1: no window).
    INT_PTR DoModal();
    void EndDialog(int nResult) const { ::EndDialog(m_hWnd, nResult); }
    UINT GetTemplateId() const { return m_nIDTemplate; }
    // Members to controls; the program only ever calls UpdateData(FALSE).
    void UpdateData();
    // The keyboard focus to that control, as the dialog moves it (a push
    // button getting it becomes the default one, which Enter presses).
    void GotoDlgCtrl(HWND hCtl) const { SendMessage(WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(hCtl), TRUE); }

    // The message map; the macros below generate the override.
    virtual BOOL ProcessWindowMessage(UINT uMsg, WPARAM wParam, LPARAM lParam, LRESULT& lResult);

protected:
    virtual BOOL OnInitDialog();
    virtual void DoDataExchange(CDataExchange* pDX);
    virtual void OnOK() { EndDialog(IDOK); }
    virtual void OnCancel() { EndDialog(IDCANCEL); }

    void SetMsgHandled(BOOL bHandled) { m_bMsgHandled = bHandled; }
    BOOL IsMsgHandled() const { return m_bMsgHandled; }

private:
    friend BOOL TranslateHelpKey(HWND hDlg, UINT uMsg, WPARAM wParam);
    static INT_PTR CALLBACK DialogProc(HWND hDlg, UINT uMsg, WPARAM wParam, LPARAM lParam);
    INT_PTR HandleMessage(UINT uMsg, WPARAM wParam, LPARAM lParam);
    void ExecuteDlgInit() const;

    UINT m_nIDTemplate;
    HWND m_hWndParent;
    BOOL m_bMsgHandled;
};

#define BEGIN_MSG_MAP(theClass)                                                                   \
    BOOL ProcessWindowMessage(UINT uMsg, WPARAM wParam, LPARAM lParam, LRESULT& lResult) override \
    {                                                                                             \
        (void)wParam;                                                                             \
        (void)lParam;                                                                             \
        (void)lResult;

#define MSG_HANDLED_RETURN(call) \
    SetMsgHandled(TRUE);         \
    call;                        \
    if (IsMsgHandled())          \
        return TRUE;

#define MSG_WM_SYSCOMMAND(func)                                     \
    if (uMsg == WM_SYSCOMMAND) {                                    \
        MSG_HANDLED_RETURN(func(static_cast<UINT>(wParam), lParam)) \
    }
#define MSG_WM_DESTROY(func)       \
    if (uMsg == WM_DESTROY) {      \
        MSG_HANDLED_RETURN(func()) \
    }
#define MSG_WM_PAINT(func)         \
    if (uMsg == WM_PAINT) {        \
        MSG_HANDLED_RETURN(func()) \
    }
#define MSG_WM_QUERYDRAGICON(func)                                      \
    if (uMsg == WM_QUERYDRAGICON) {                                     \
        MSG_HANDLED_RETURN(lResult = reinterpret_cast<LRESULT>(func())) \
    }
#define MSG_WM_TIMER(func)                                      \
    if (uMsg == WM_TIMER) {                                     \
        MSG_HANDLED_RETURN(func(static_cast<UINT_PTR>(wParam))) \
    }
#define COMMAND_BN_CLICKED(id, func)                                                    \
    if (uMsg == WM_COMMAND && LOWORD(wParam) == (id) && HIWORD(wParam) == BN_CLICKED) { \
        MSG_HANDLED_RETURN(func())                                                      \
    }

#define COMMAND_HANDLER_EX(id, code, func)                                          \
    if (uMsg == WM_COMMAND && LOWORD(wParam) == (id) && HIWORD(wParam) == (code)) { \
        MSG_HANDLED_RETURN(func())                                                  \
    }

#define END_MSG_MAP() \
    return FALSE;     \
    }

// F1 without Shift, Ctrl or Alt in a dialog becomes its Help command (sent to
// hDlg, the dialog the key was pressed in). TRUE when the key was used.
BOOL TranslateHelpKey(HWND hDlg, UINT uMsg, WPARAM wParam);
