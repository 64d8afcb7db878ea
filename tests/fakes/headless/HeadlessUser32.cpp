// The window manager of the headless backend: windows are records that the
// user32 subset of UiApi.h reads and writes, dialogs are built from the
// templates below (a copy of the resource script's controls), and the
// "user" is the test, through Headless.h.
#include <algorithm>
#include <cctype>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <map>
#include <mutex>

#include "app/ui/Dialog.h"
#include "app/ui/Platform.h"
#include "app/ui/headless/Headless.h"
#include "resources/resource.h"

namespace {

struct ControlTemplate {
    int nID;
    const char* pszClass;
    const char* pszText;
    LONG lStyle;
};

const std::vector<ControlTemplate>* FindTemplate(UINT nTemplate)
{
    static const std::vector<ControlTemplate> kUploader = {
        {IDC_UPLOAD, "button", "Upload", 0},
        {IDCANCEL, "button", "Cancel", 0},
        {ID_HELP, "button", "&Help", 0},
        {-1, "static", "COM port", 0},
        {IDC_PORT, "combobox", "", CBS_DROPDOWN | CBS_SORT | CBS_UPPERCASE},
        {IDC_PROGRESS, "msctls_progress32", "", 0},
        {IDC_STATUS, "edit", "", 0},
    };
    static const std::vector<ControlTemplate> kAbout = {
        {-1, "static", "", 0},
        {-1, "static", "TandrelConfigurationController Version 1.0", 0},
        {-1, "static", "", 0},
        {IDOK, "button", "OK", 0},
    };
    if (nTemplate == IDD_UPLOADER_DIALOG)
        return &kUploader;
    if (nTemplate == IDD_ABOUTBOX)
        return &kAbout;
    return nullptr;
}

std::vector<BYTE> DlgInitFor(UINT nTemplate)
{
    std::vector<BYTE> data;
    if (nTemplate != IDD_UPLOADER_DIALOG)
        return data;
    auto putWord = [&](unsigned w) { data.push_back(static_cast<BYTE>(w)); data.push_back(static_cast<BYTE>(w >> 8)); };
    for (const char* pszPort : {"COM1", "COM2", "COM3", "COM4"}) {
        putWord(IDC_PORT);
        putWord(DLGINIT_CB_ADDSTRING);
        putWord(5);
        putWord(0);
        data.insert(data.end(), pszPort, pszPort + 5);
    }
    putWord(0);
    return data;
}

struct UiState {
    std::map<UINT, HeadlessDriver> drivers;
    std::vector<HWND> openDialogs;
    std::map<UINT, std::string> strings = {
        {IDS_ABOUTBOX, "&About TandrelConfigurationController..."},
        {IDS_SOCKETS_INIT_FAILED, "Windows sockets initialization failed."},
    };
    std::map<UINT, std::vector<BYTE>> dlgInit;
    std::vector<HeadlessIconDraw> iconDraws;
    BOOL bShift = FALSE, bCtrl = FALSE, bAlt = FALSE;
    std::vector<HeadlessHelpCall> helpCalls;
    BOOL bHelpResult = TRUE;
    BOOL bHtmlHelpOpens = TRUE;
    int nHtmlHelpWindows = 0;
};

UiState& Ui()
{
    static UiState state;
    return state;
}

// Message boxes come from worker threads too: their own lock.
struct BoxState {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<HeadlessMessageBox> boxes;
    std::vector<int> answers;
};

BoxState& Boxes()
{
    static BoxState state;
    return state;
}

std::string Upper(std::string strText)
{
    for (char& ch : strText)
        ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    return strText;
}

BOOL IsUpperCase(HWND hWnd) { return (hWnd->lStyle & CBS_UPPERCASE) != 0; }

LRESULT ComboMessage(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    switch (uMsg) {
    case CB_ADDSTRING: {
        std::string strItem = reinterpret_cast<const char*>(lParam);
        if (IsUpperCase(hWnd))
            strItem = Upper(strItem);
        auto it = hWnd->items.end();
        if (hWnd->lStyle & CBS_SORT)
            it = std::upper_bound(hWnd->items.begin(), hWnd->items.end(), strItem,
                                  [](const std::string& a, const std::string& b) { return Upper(a) < Upper(b); });
        return hWnd->items.insert(it, strItem) - hWnd->items.begin();
    }
    case CB_GETCOUNT:
        return static_cast<LRESULT>(hWnd->items.size());
    case CB_GETCURSEL:
        return hWnd->nCurSel;
    case CB_SETCURSEL: {
        int nIndex = static_cast<int>(wParam);
        if (nIndex < 0 || nIndex >= static_cast<int>(hWnd->items.size())) {
            hWnd->nCurSel = CB_ERR;
            hWnd->strText.clear();
            return CB_ERR;
        }
        hWnd->nCurSel = nIndex;
        hWnd->strText = hWnd->items[static_cast<std::size_t>(nIndex)];
        return nIndex;
    }
    default:
        return 0;
    }
}

// A progress bar keeps its position inside its range, as the real one does.
LRESULT ProgressMessage(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    auto clamp = [hWnd](int nPos) { return std::min(std::max(nPos, hWnd->nLower), hWnd->nUpper); };
    switch (uMsg) {
    case PBM_SETRANGE32:
        hWnd->nLower = static_cast<int>(wParam);
        hWnd->nUpper = static_cast<int>(lParam);
        hWnd->nPos = clamp(hWnd->nPos);
        return 0;
    case PBM_SETPOS: {
        int nOld = hWnd->nPos;
        hWnd->nPos = clamp(static_cast<int>(wParam));
        return nOld;
    }
    case PBM_GETPOS:
        return hWnd->nPos;
    default:
        return 0;
    }
}

LRESULT TextMessage(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    switch (uMsg) {
    case WM_SETTEXT:
        hWnd->strText = reinterpret_cast<const char*>(lParam);
        if (hWnd->strClass == "combobox" && IsUpperCase(hWnd))
            hWnd->strText = Upper(hWnd->strText);
        return TRUE;
    case WM_GETTEXTLENGTH:
        return static_cast<LRESULT>(hWnd->strText.size());
    case WM_GETTEXT: {
        if (wParam == 0)
            return 0;
        std::size_t cch = std::min(hWnd->strText.size(), static_cast<std::size_t>(wParam) - 1);
        char* pszOut = reinterpret_cast<char*>(lParam);
        std::memcpy(pszOut, hWnd->strText.data(), cch);
        pszOut[cch] = '\0';
        return static_cast<LRESULT>(cch);
    }
    default:
        return 0;
    }
}

// What DefDlgProc does with what the dialog procedure left alone.
LRESULT DefaultDialogMessage(HWND hDlg, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    hDlg->unhandled.push_back(uMsg);
    switch (uMsg) {
    case WM_SETICON: {
        HICON& hSlot = wParam == ICON_BIG ? hDlg->hIconBig : hDlg->hIconSmall;
        HICON hOld = hSlot;
        hSlot = reinterpret_cast<HICON>(lParam);
        return reinterpret_cast<LRESULT>(hOld);
    }
    case WM_CLOSE:
        return SendMessageA(hDlg, WM_COMMAND, IDCANCEL, 0);
    case WM_SETTEXT:
    case WM_GETTEXT:
    case WM_GETTEXTLENGTH:
        return TextMessage(hDlg, uMsg, wParam, lParam);
    default:
        return 0;
    }
}

HWND CreateDialogWindow(UINT nTemplate, HWND hParent, DLGPROC pfnProc)
{
    const std::vector<ControlTemplate>* pControls = FindTemplate(nTemplate);
    if (pControls == nullptr)
        return nullptr;
    HWND hDlg = new HWND__;
    hDlg->strClass = "dialog";
    hDlg->nTemplate = nTemplate;
    hDlg->pParent = hParent;
    hDlg->pfnProc = pfnProc;
    for (const ControlTemplate& item : *pControls) {
        auto pControl = std::make_unique<HWND__>();
        pControl->nID = item.nID;
        pControl->strClass = item.pszClass;
        pControl->strText = item.pszText;
        pControl->lStyle = item.lStyle;
        pControl->pParent = hDlg;
        hDlg->children.push_back(std::move(pControl));
    }
    return hDlg;
}

}  // namespace

// --- the user32 subset -----------------------------------------------------

LRESULT SendMessageA(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    if (hWnd == nullptr)
        return 0;
    if (hWnd->strClass == "dialog") {
        INT_PTR nResult = hWnd->pfnProc(hWnd, uMsg, wParam, lParam);
        if (!nResult)
            return DefaultDialogMessage(hWnd, uMsg, wParam, lParam);
        return uMsg == WM_QUERYDRAGICON || uMsg == WM_INITDIALOG ? nResult : hWnd->lMsgResult;
    }
    if (uMsg == WM_SETTEXT || uMsg == WM_GETTEXT || uMsg == WM_GETTEXTLENGTH)
        return TextMessage(hWnd, uMsg, wParam, lParam);
    if (hWnd->strClass == "combobox")
        return ComboMessage(hWnd, uMsg, wParam, lParam);
    if (hWnd->strClass == "msctls_progress32")
        return ProgressMessage(hWnd, uMsg, wParam, lParam);
    return 0;
}

HWND GetDlgItem(HWND hDlg, int nIDDlgItem) { return HeadlessControl(hDlg, nIDDlgItem); }

BOOL EnableWindow(HWND hWnd, BOOL bEnable)
{
    BOOL bWasDisabled = !hWnd->bEnabled;
    hWnd->bEnabled = bEnable ? TRUE : FALSE;
    return bWasDisabled;
}

BOOL IsWindowEnabled(HWND hWnd) { return hWnd != nullptr && hWnd->bEnabled; }
BOOL SetWindowTextA(HWND hWnd, LPCSTR lpString) { return static_cast<BOOL>(SendMessageA(hWnd, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(lpString))); }
int GetWindowTextA(HWND hWnd, LPSTR lpString, int nMaxCount)
{
    return static_cast<int>(SendMessageA(hWnd, WM_GETTEXT, static_cast<WPARAM>(nMaxCount), reinterpret_cast<LPARAM>(lpString)));
}
int GetWindowTextLengthA(HWND hWnd) { return static_cast<int>(SendMessageA(hWnd, WM_GETTEXTLENGTH, 0, 0)); }
BOOL IsIconic(HWND hWnd) { return hWnd->bIconic; }

BOOL GetClientRect(HWND hWnd, RECT* lpRect)
{
    *lpRect = hWnd->rcClient;
    return TRUE;
}

LONG_PTR SetWindowLongPtrA(HWND hWnd, int nIndex, LONG_PTR dwNewLong)
{
    LONG_PTR& lSlot = nIndex == DWLP_USER ? hWnd->lUser : hWnd->lMsgResult;
    LONG_PTR lOld = lSlot;
    lSlot = dwNewLong;
    return lOld;
}

LONG_PTR GetWindowLongPtrA(HWND hWnd, int nIndex)
{
    if (nIndex == DWLP_DLGPROC)
        return reinterpret_cast<LONG_PTR>(hWnd->pfnProc);
    return nIndex == DWLP_USER ? hWnd->lUser : hWnd->lMsgResult;
}

UINT_PTR SetTimer(HWND hWnd, UINT_PTR nIDEvent, UINT uElapse, void*)
{
    KillTimer(hWnd, nIDEvent);
    hWnd->timers.emplace_back(nIDEvent, uElapse);
    return nIDEvent;
}

BOOL KillTimer(HWND hWnd, UINT_PTR uIDEvent)
{
    auto it = std::find_if(hWnd->timers.begin(), hWnd->timers.end(), [&](const auto& t) { return t.first == uIDEvent; });
    if (it == hWnd->timers.end())
        return FALSE;
    hWnd->timers.erase(it);
    return TRUE;
}

BOOL EndDialog(HWND hDlg, INT_PTR nResult)
{
    hDlg->bEnded = TRUE;
    hDlg->nResult = nResult;
    return TRUE;
}

HMENU GetSystemMenu(HWND hWnd, BOOL) { return hWnd->bHasSystemMenu ? reinterpret_cast<HMENU>(hWnd) : nullptr; }

BOOL AppendMenuA(HMENU hMenu, UINT uFlags, UINT_PTR uIDNewItem, LPCSTR lpNewItem)
{
    reinterpret_cast<HWND>(hMenu)->systemMenu.push_back({uFlags, uIDNewItem, lpNewItem != nullptr ? lpNewItem : ""});
    return TRUE;
}

HDC BeginPaint(HWND hWnd, PAINTSTRUCT* lpPaint)
{
    lpPaint->hdc = reinterpret_cast<HDC>(hWnd);
    return lpPaint->hdc;
}

BOOL EndPaint(HWND, const PAINTSTRUCT*) { return TRUE; }

BOOL DrawIcon(HDC, int X, int Y, HICON hIcon)
{
    Ui().iconDraws.push_back({X, Y, hIcon});
    return TRUE;
}

int GetSystemMetrics(int nIndex) { return nIndex == SM_CXICON || nIndex == SM_CYICON ? 32 : 0; }

short GetKeyState(int nVirtKey)
{
    UiState& ui = Ui();
    BOOL bDown = (nVirtKey == VK_SHIFT && ui.bShift) || (nVirtKey == VK_CONTROL && ui.bCtrl) || (nVirtKey == VK_MENU && ui.bAlt);
    return bDown ? static_cast<short>(-128) : 0;
}

int LoadStringA(HINSTANCE, UINT uID, LPSTR lpBuffer, int cchBufferMax)
{
    auto it = Ui().strings.find(uID);
    std::string strText = it != Ui().strings.end() ? it->second : std::string();
    int cch = std::min(static_cast<int>(strText.size()), cchBufferMax - 1);
    std::memcpy(lpBuffer, strText.data(), static_cast<std::size_t>(cch));
    lpBuffer[cch] = '\0';
    return cch;
}

HICON LoadIconA(HINSTANCE, LPCSTR lpIconName) { return reinterpret_cast<HICON>(const_cast<char*>(lpIconName)); }

int MessageBoxA(HWND hWnd, LPCSTR lpText, LPCSTR lpCaption, UINT uType)
{
    BoxState& state = Boxes();
    int nAnswer = IDOK;
    {
        std::lock_guard<std::mutex> lock(state.mutex);
        state.boxes.push_back({hWnd, lpText, lpCaption, uType});
        if (!state.answers.empty()) {
            nAnswer = state.answers.front();
            state.answers.erase(state.answers.begin());
        }
    }
    state.changed.notify_all();
    return nAnswer;
}

BOOL WinHelpA(HWND hWndMain, LPCSTR lpszHelp, UINT uCommand, ULONG_PTR dwData)
{
    Ui().helpCalls.push_back({hWndMain, lpszHelp, uCommand, dwData});
    return Ui().bHelpResult;
}

// A window handle that only stands for "the viewer opened": never dereferenced.
HWND HtmlHelpA(HWND hwndCaller, LPCSTR pszFile, UINT uCommand, ULONG_PTR dwData)
{
    UiState& ui = Ui();
    ui.helpCalls.push_back({hwndCaller, pszFile != nullptr ? pszFile : "", uCommand, dwData, TRUE});
    if (uCommand != HH_HELP_CONTEXT || !ui.bHtmlHelpOpens)
        return nullptr;
    return reinterpret_cast<HWND>(static_cast<std::uintptr_t>(++ui.nHtmlHelpWindows));
}

// --- the modal loop and the platform's dialog services ----------------------

INT_PTR PlatformRunModal(UINT nIDTemplate, HWND hParent, DLGPROC pfnProc, LPARAM lParam)
{
    std::unique_ptr<HWND__> pDlg(CreateDialogWindow(nIDTemplate, hParent, pfnProc));
    if (!pDlg)
        return -1;
    HWND hDlg = pDlg.get();
    UiState& ui = Ui();
    BOOL bParentWasDisabled = hParent != nullptr ? EnableWindow(hParent, FALSE) : FALSE;
    ui.openDialogs.push_back(hDlg);

    pfnProc(hDlg, WM_INITDIALOG, 0, lParam);
    auto it = ui.drivers.find(nIDTemplate);
    if (!hDlg->bEnded && it != ui.drivers.end() && it->second) {
        HeadlessDriver fnDriver = it->second;  // the driver may replace itself
        fnDriver(hDlg);
    }
    if (!hDlg->bEnded)
        SendMessageA(hDlg, WM_COMMAND, IDCANCEL, 0);
    SendMessageA(hDlg, WM_DESTROY, 0, 0);

    ui.openDialogs.pop_back();
    if (hParent != nullptr)
        EnableWindow(hParent, !bParentWasDisabled);
    return hDlg->nResult;
}

const BYTE* PlatformLoadDlgInit(UINT nIDTemplate, DWORD* pcbSize)
{
    std::vector<BYTE>& data = Ui().dlgInit[nIDTemplate];
    data = DlgInitFor(nIDTemplate);
    *pcbSize = static_cast<DWORD>(data.size());
    return data.empty() ? nullptr : data.data();
}

// --- Headless.h -------------------------------------------------------------

HWND HeadlessControl(HWND hDlg, int nID)
{
    if (hDlg == nullptr)
        return nullptr;
    for (auto& pChild : hDlg->children)
        if (pChild->nID == nID)
            return pChild.get();
    return nullptr;
}

void HeadlessSetModalDriver(UINT nTemplate, HeadlessDriver fnDriver) { Ui().drivers[nTemplate] = std::move(fnDriver); }

HWND HeadlessActiveDialog() { return Ui().openDialogs.empty() ? nullptr : Ui().openDialogs.back(); }

BOOL HeadlessClick(HWND hDlg, int nID)
{
    HWND hButton = HeadlessControl(hDlg, nID);
    if (hButton == nullptr || !hButton->bEnabled || !hDlg->bEnabled)
        return FALSE;
    SendMessageA(hDlg, WM_COMMAND, static_cast<WPARAM>(nID) | (static_cast<WPARAM>(BN_CLICKED) << 16),
                 reinterpret_cast<LPARAM>(hButton));
    return TRUE;
}

// Typing into the field of a drop-down combo box: the letters are forced to
// upper case and, the list not being dropped, no entry stays selected.
void HeadlessTypeText(HWND hCombo, const std::string& strText)
{
    hCombo->strText = IsUpperCase(hCombo) ? Upper(strText) : strText;
    hCombo->nCurSel = CB_ERR;
}

void HeadlessSelect(HWND hCombo, int nIndex)
{
    SendMessageA(hCombo, CB_SETCURSEL, static_cast<WPARAM>(nIndex), 0);
}

int HeadlessTick(HWND hDlg)
{
    std::vector<std::pair<UINT_PTR, UINT>> timers = hDlg->timers;
    for (const auto& timer : timers)
        SendMessageA(hDlg, WM_TIMER, timer.first, 0);
    return static_cast<int>(timers.size());
}

void HeadlessPressKey(HWND hDlg, int nVirtKey, BOOL bShift, BOOL bCtrl, BOOL bAlt)
{
    UiState& ui = Ui();
    ui.bShift = bShift;
    ui.bCtrl = bCtrl;
    ui.bAlt = bAlt;
    TranslateHelpKey(hDlg, WM_KEYDOWN, static_cast<WPARAM>(nVirtKey));
    ui.bShift = ui.bCtrl = ui.bAlt = FALSE;
}

std::vector<HeadlessIconDraw> HeadlessIconDraws() { return Ui().iconDraws; }

void HeadlessSetString(UINT nID, const std::string& strText) { Ui().strings[nID] = strText; }

void HeadlessScriptMessageBoxAnswers(std::vector<int> answers)
{
    std::lock_guard<std::mutex> lock(Boxes().mutex);
    Boxes().answers = std::move(answers);
}

std::vector<HeadlessMessageBox> HeadlessMessageBoxes()
{
    std::lock_guard<std::mutex> lock(Boxes().mutex);
    return Boxes().boxes;
}

BOOL HeadlessWaitForMessageBoxes(std::size_t nCount)
{
    BoxState& state = Boxes();
    std::unique_lock<std::mutex> lock(state.mutex);
    return state.changed.wait_for(lock, std::chrono::seconds(60), [&] { return state.boxes.size() >= nCount; });
}

void HeadlessSetHelpResult(BOOL bResult) { Ui().bHelpResult = bResult; }

void HeadlessSetHtmlHelpOpens(BOOL bOpens) { Ui().bHtmlHelpOpens = bOpens; }

std::vector<HeadlessHelpCall> HeadlessHelpCalls() { return Ui().helpCalls; }

void HeadlessResetUser32()
{
    Ui() = UiState();
    std::lock_guard<std::mutex> lock(Boxes().mutex);
    Boxes().boxes.clear();
    Boxes().answers.clear();
}
