#include "app/ui/Dialog.h"

#include <cstring>

#include "app/ui/AppPlatform.h"
#include "app/ui/WinApp.h"
#include "resources/resource.h"

namespace {

// The Win16 value of CB_ADDSTRING, which dialog-initialisation data carries.
constexpr WORD kDlgInitAddString16 = 0x0403;

WORD ReadWord(const BYTE* p) { return static_cast<WORD>(p[0] | (p[1] << 8)); }
DWORD ReadDword(const BYTE* p) { return ReadWord(p) | (static_cast<DWORD>(ReadWord(p + 2)) << 16); }

}  // namespace

void DDX_Control(CDataExchange* pDX, int nIDC, CWindow& rControl) { rControl.Attach(pDX->m_pDlg->GetDlgItem(nIDC)); }

void DDX_Text(CDataExchange* pDX, int nIDC, const std::string& strValue)
{
    ::SetWindowTextA(pDX->m_pDlg->GetDlgItem(nIDC), strValue.c_str());
}

CDialog::CDialog(UINT nIDTemplate, HWND hParent)
    : m_nIDTemplate(nIDTemplate), m_hWndParent(hParent), m_bMsgHandled(FALSE)
{
}

CDialog::~CDialog() = default;

INT_PTR CDialog::DoModal()
{
    // A dialog without a parent of its own is owned by the main window.
    HWND hParent = m_hWndParent;
    CWinApp* pApp = AfxGetApp();
    if (hParent == nullptr && pApp != nullptr && pApp->m_pMainWnd != this)
        hParent = pApp->GetMainWindowHandle();
    INT_PTR nResult = PlatformRunModal(m_nIDTemplate, hParent, DialogProc, reinterpret_cast<LPARAM>(this));
    m_hWnd = nullptr;
    return nResult;
}

void CDialog::UpdateData()
{
    CDataExchange dx(this);
    DoDataExchange(&dx);
}

BOOL CDialog::OnInitDialog()
{
    ExecuteDlgInit();
    UpdateData();
    return TRUE;
}

void CDialog::DoDataExchange(CDataExchange*) {}

BOOL CDialog::ProcessWindowMessage(UINT, WPARAM, LPARAM, LRESULT&) { return FALSE; }

// Sends the template's list entries (records of control id, message, byte
// count, bytes; a zero id ends them) to its controls. Every length is checked
// against the resource's size, so damaged data stops the list, nothing more.
void CDialog::ExecuteDlgInit() const
{
    DWORD cbSize = 0;
    const BYTE* p = PlatformLoadDlgInit(m_nIDTemplate, &cbSize);
    if (p == nullptr)
        return;
    const BYTE* pEnd = p + cbSize;
    while (pEnd - p >= 8 && ReadWord(p) != 0) {
        int nIDC = ReadWord(p);
        WORD nMsg = ReadWord(p + 2);
        DWORD cbData = ReadDword(p + 4);
        p += 8;
        if (cbData > static_cast<DWORD>(pEnd - p))
            return;
        if (nMsg == kDlgInitAddString16 || nMsg == CB_ADDSTRING) {
            std::string strText(reinterpret_cast<const char*>(p), strnlen(reinterpret_cast<const char*>(p), cbData));
            ::SendMessageA(GetDlgItem(nIDC), CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(strText.c_str()));
        }
        p += cbData;
    }
}

INT_PTR CALLBACK CDialog::DialogProc(HWND hDlg, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    CDialog* pThis;
    if (uMsg == WM_INITDIALOG) {
        pThis = reinterpret_cast<CDialog*>(lParam);
        ::SetWindowLongPtrA(hDlg, DWLP_USER, lParam);
        pThis->m_hWnd = hDlg;
    }
    else {
        pThis = reinterpret_cast<CDialog*>(::GetWindowLongPtrA(hDlg, DWLP_USER));
    }
    // Messages before WM_INITDIALOG (WM_SETFONT) find no object yet.
    return pThis != nullptr ? pThis->HandleMessage(uMsg, wParam, lParam) : FALSE;
}

INT_PTR CDialog::HandleMessage(UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    CWinApp* pApp = AfxGetApp();
    BOOL bMainWindow = pApp != nullptr && pApp->m_pMainWnd == this;
    if (uMsg == WM_INITDIALOG) {
        if (bMainWindow)
            pApp->SetMainWindowHandle(m_hWnd);
        return OnInitDialog();
    }
    LRESULT lResult = 0;
    BOOL bHandled = ProcessWindowMessage(uMsg, wParam, lParam, lResult);
    // The destroy handlers still act for the main window (the help viewer is
    // told to quit on its behalf); only after them is it gone.
    if (uMsg == WM_DESTROY && bMainWindow)
        pApp->SetMainWindowHandle(nullptr);
    if (bHandled) {
        // WM_QUERYDRAGICON is one of the few whose result a dialog procedure
        // returns directly; the others go through DWLP_MSGRESULT.
        if (uMsg == WM_QUERYDRAGICON)
            return static_cast<INT_PTR>(lResult);
        ::SetWindowLongPtrA(m_hWnd, DWLP_MSGRESULT, lResult);
        return TRUE;
    }
    if (uMsg != WM_COMMAND)
        return FALSE;
    switch (LOWORD(wParam)) {
    case IDOK: OnOK(); return TRUE;
    case IDCANCEL:  // Cancel button, Esc and the close box
        OnCancel();
        return TRUE;
    default: return pApp != nullptr && pApp->ProcessCommand(LOWORD(wParam), this);
    }
}

BOOL TranslateHelpKey(HWND hDlg, UINT uMsg, WPARAM wParam)
{
    if (uMsg != WM_KEYDOWN || wParam != VK_F1)
        return FALSE;
    // The key filter sees every dialog of the thread: Save As, message boxes,
    // the help viewer. Their F1 is their own; only the program's dialogs
    // (those this layer runs) have a topic.
    if (::GetWindowLongPtrA(hDlg, DWLP_DLGPROC) != reinterpret_cast<LONG_PTR>(&CDialog::DialogProc))
        return FALSE;
    // Shift+F1 and the like are the system's, not the Help command.
    if (::GetKeyState(VK_SHIFT) < 0 || ::GetKeyState(VK_CONTROL) < 0 || ::GetKeyState(VK_MENU) < 0)
        return FALSE;
    ::SendMessageA(hDlg, WM_COMMAND, ID_HELP, 0);
    return TRUE;
}
