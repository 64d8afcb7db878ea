// guidriver: drives and reads the windows of another program in the same Wine
// prefix, one command per run, for the GUI tests. Under Xvfb without a window
// manager no window can be activated, so input is sent as window messages, not
// as keystrokes. Results go to stdout; failures to stderr with exit code 1,
// usage errors exit with 2.
//
// Every wait is bounded by the timeout given in seconds and polls every 50 ms:
// another process's windows offer nothing to block on.
#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr DWORD kPollMs = 50;
constexpr int kMessageBoxTextId = 0xFFFF;  // the static holding a message box's text
constexpr int kFileNameFieldId = 0x47C;    // cmb13: Save As file-name field

struct Args {
    int argc;
    char** argv;
    const char* At(int i) const { return i < argc ? argv[i] : nullptr; }
};

std::string WindowText(HWND hWnd)
{
    char buf[1024] = {};
    // WM_GETTEXT, unlike GetWindowText, reads controls of other processes too.
    SendMessageTimeoutA(hWnd, WM_GETTEXT, sizeof buf, reinterpret_cast<LPARAM>(buf), SMTO_ABORTIFHUNG, 2000, nullptr);
    return buf;
}

std::string ClassName(HWND hWnd)
{
    char buf[256] = {};
    GetClassNameA(hWnd, buf, sizeof buf);
    return buf;
}

struct FindRecord {
    const char* pszTitle;  // null: any title
    const char* pszClass;  // null: any class
    HWND hFound;
};

BOOL CALLBACK FindTopLevel(HWND hWnd, LPARAM lParam)
{
    auto* rec = reinterpret_cast<FindRecord*>(lParam);
    if (!IsWindowVisible(hWnd))
        return TRUE;
    if (rec->pszClass && ClassName(hWnd) != rec->pszClass)
        return TRUE;
    if (rec->pszTitle && WindowText(hWnd) != rec->pszTitle)
        return TRUE;
    rec->hFound = hWnd;
    return FALSE;
}

// A visible top-level window with exactly this title (and class, if given).
HWND FindVisible(const char* pszTitle, const char* pszClass = nullptr)
{
    FindRecord rec{pszTitle, pszClass, nullptr};
    EnumWindows(FindTopLevel, reinterpret_cast<LPARAM>(&rec));
    return rec.hFound;
}

BOOL CALLBACK PrintTopLevel(HWND hWnd, LPARAM)
{
    if (!IsWindowVisible(hWnd))
        return TRUE;
    std::fprintf(stderr, "  window %p class \"%s\" title \"%s\"", static_cast<void*>(hWnd), ClassName(hWnd).c_str(),
                 WindowText(hWnd).c_str());
    if (HWND hText = GetDlgItem(hWnd, kMessageBoxTextId))
        std::fprintf(stderr, " text \"%s\"", WindowText(hText).c_str());
    std::fprintf(stderr, "\n");
    return TRUE;
}

// On a failure, what is on the screen is the most useful clue.
int Fail(const char* pszFormat, const char* pszArg)
{
    std::fprintf(stderr, "guidriver: ");
    std::fprintf(stderr, pszFormat, pszArg);
    std::fprintf(stderr, "\nguidriver: visible top-level windows:\n");
    EnumWindows(PrintTopLevel, 0);
    return 1;
}

double Seconds(const char* psz) { return psz ? std::atof(psz) : 0.0; }

// Polls pfnReady until it returns TRUE or the timeout passes.
template <typename Ready>
BOOL WaitFor(double seconds, Ready ready)
{
    const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(seconds * 1000.0);
    for (;;) {
        if (ready())
            return TRUE;
        if (GetTickCount64() >= deadline)
            return FALSE;
        Sleep(kPollMs);
    }
}

HWND WaitWindow(const char* pszTitle, double seconds, const char* pszClass = nullptr)
{
    HWND hWnd = nullptr;
    WaitFor(seconds, [&] { return (hWnd = FindVisible(pszTitle, pszClass)) != nullptr; });
    return hWnd;
}

// Finds the window and its control, or explains which is missing.
struct Target {
    HWND hDlg = nullptr;
    HWND hCtl = nullptr;
    int rc = 0;
};

Target FindControl(const char* pszTitle, const char* pszId)
{
    Target t;
    t.hDlg = FindVisible(pszTitle);
    if (!t.hDlg) {
        t.rc = Fail("no window titled \"%s\"", pszTitle);
        return t;
    }
    t.hCtl = GetDlgItem(t.hDlg, static_cast<int>(std::strtol(pszId, nullptr, 0)));
    if (!t.hCtl)
        t.rc = Fail("no control with id %s", pszId);
    return t;
}

// A control a person can reach: a modal window over its window disables it.
Target FindReachable(const char* pszTitle, const char* pszId)
{
    Target t = FindControl(pszTitle, pszId);
    if (t.rc == 0 && !IsWindowEnabled(t.hDlg))
        t.rc = Fail("the window \"%s\" is disabled", pszTitle);
    else if (t.rc == 0 && !IsWindowEnabled(t.hCtl))
        t.rc = Fail("control %s is disabled", pszId);
    return t;
}

// Posted, never sent: the click may open a modal dialog, and a sent message
// would not return until that dialog closed.
void PostCommand(HWND hDlg, int id, HWND hCtl)
{
    PostMessageA(hDlg, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(hCtl));
}

// A dialog ended with EndDialog is hidden before it is destroyed; either counts.
BOOL WaitGone(HWND hWnd, double seconds)
{
    return WaitFor(seconds, [&] { return !IsWindow(hWnd) || !IsWindowVisible(hWnd); });
}

int CmdWaitWindow(const Args& a)
{
    if (!WaitWindow(a.At(2), Seconds(a.At(3))))
        return Fail("timed out waiting for the window \"%s\"", a.At(2));
    return 0;
}

// Windows whose title a test cannot know (the help viewer's is the help
// file's): found by class; prints the title.
int CmdWaitClass(const Args& a)
{
    HWND hWnd = WaitWindow(nullptr, Seconds(a.At(3)), a.At(2));
    if (!hWnd)
        return Fail("timed out waiting for a window of class \"%s\"", a.At(2));
    std::printf("%s\n", WindowText(hWnd).c_str());
    return 0;
}

int CmdWaitGone(const Args& a)
{
    HWND hWnd = FindVisible(a.At(2));
    if (hWnd && !WaitGone(hWnd, Seconds(a.At(3))))
        return Fail("the window \"%s\" is still open", a.At(2));
    return 0;
}

int CmdClick(const Args& a)
{
    Target t = FindReachable(a.At(2), a.At(3));
    if (t.rc)
        return t.rc;
    PostMessageA(t.hCtl, BM_CLICK, 0, 0);
    return 0;
}

// A key pressed in a control: posted, so that it passes through the owning
// dialog's message loop (and its message filters) as a typed key does.
int CmdKey(const Args& a)
{
    Target t = FindControl(a.At(2), a.At(3));
    if (t.rc)
        return t.rc;
    const WPARAM vk = static_cast<WPARAM>(std::strtoul(a.At(4), nullptr, 0));
    PostMessageA(t.hCtl, WM_KEYDOWN, vk, 1);
    PostMessageA(t.hCtl, WM_KEYUP, vk, 0xC0000001);
    return 0;
}

int CmdText(const Args& a)
{
    Target t = FindControl(a.At(2), a.At(3));
    if (t.rc)
        return t.rc;
    std::printf("%s\n", WindowText(t.hCtl).c_str());
    return 0;
}

int CmdSetText(const Args& a)
{
    Target t = FindControl(a.At(2), a.At(3));
    if (t.rc)
        return t.rc;
    SendMessageA(t.hCtl, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(a.At(4)));
    return 0;
}

int CmdWaitText(const Args& a)
{
    const std::string wanted = a.At(4);
    std::string last;
    BOOL ok = WaitFor(Seconds(a.At(5)), [&] {
        HWND hDlg = FindVisible(a.At(2));
        HWND hCtl = hDlg ? GetDlgItem(hDlg, static_cast<int>(std::strtol(a.At(3), nullptr, 0))) : nullptr;
        if (hCtl)
            last = WindowText(hCtl);
        return hCtl && last == wanted;
    });
    if (!ok) {
        std::fprintf(stderr, "guidriver: control %s shows \"%s\"\n", a.At(3), last.c_str());
        return Fail("timed out waiting for the text \"%s\"", a.At(4));
    }
    return 0;
}

BOOL CALLBACK PrintChild(HWND hWnd, LPARAM)
{
    std::printf("%d\t%s\t%s\n", GetDlgCtrlID(hWnd), ClassName(hWnd).c_str(), WindowText(hWnd).c_str());
    return TRUE;
}

// Waits until the control with the keyboard focus in the window's thread is
// the one with that id: Enter then presses it. Another program's focus is
// read through GetGUIThreadInfo; on a timeout the id that has it is said.
int CmdWaitFocus(const Args& a)
{
    const int id = static_cast<int>(std::strtol(a.At(3), nullptr, 0));
    int focused = -1;
    BOOL ok = WaitFor(Seconds(a.At(4)), [&] {
        HWND hDlg = FindVisible(a.At(2));
        GUITHREADINFO gti{};
        gti.cbSize = sizeof gti;
        if (!hDlg || !GetGUIThreadInfo(GetWindowThreadProcessId(hDlg, nullptr), &gti))
            return FALSE;
        focused = gti.hwndFocus ? GetDlgCtrlID(gti.hwndFocus) : 0;
        return focused == id ? TRUE : FALSE;
    });
    if (!ok) {
        std::fprintf(stderr, "guidriver: the focus is on control %d (0: none, -1: no window)\n", focused);
        return Fail("timed out waiting for the focus on control %s", a.At(3));
    }
    return 0;
}

// Every control of the window, one line each: id, class, text.
int CmdTexts(const Args& a)
{
    HWND hDlg = FindVisible(a.At(2));
    if (!hDlg)
        return Fail("no window titled \"%s\"", a.At(2));
    EnumChildWindows(hDlg, PrintChild, 0);
    return 0;
}

// Whether a person can reach the top-level window at all.
int CmdWindowEnabled(const Args& a)
{
    HWND hWnd = FindVisible(a.At(2));
    if (!hWnd)
        return Fail("no window titled \"%s\"", a.At(2));
    std::printf("%d\n", IsWindowEnabled(hWnd) ? 1 : 0);
    return 0;
}

// Types into a drop-down combo box as the keyboard does: WM_CHAR to the edit
// field inside it, one character at a time.
int CmdType(const Args& a)
{
    Target t = FindControl(a.At(2), a.At(3));
    if (t.rc)
        return t.rc;
    if (!IsWindowEnabled(t.hDlg))
        return Fail("the window \"%s\" is disabled", a.At(2));
    HWND hEdit = FindWindowExA(t.hCtl, nullptr, "Edit", nullptr);
    if (!hEdit)
        return Fail("control %s has no edit field", a.At(3));
    SendMessageA(hEdit, EM_SETSEL, 0, -1);
    for (const char* p = a.At(4); *p; ++p)
        SendMessageA(hEdit, WM_CHAR, static_cast<WPARAM>(static_cast<unsigned char>(*p)), 1);
    return 0;
}

int CmdEnabled(const Args& a)
{
    Target t = FindControl(a.At(2), a.At(3));
    if (t.rc)
        return t.rc;
    std::printf("%d\n", IsWindowEnabled(t.hCtl) ? 1 : 0);
    return 0;
}

// PBM_GETRANGE's structure would not cross the process boundary; asking for
// each limit separately returns it as the result.
int CmdProgress(const Args& a)
{
    Target t = FindControl(a.At(2), a.At(3));
    if (t.rc)
        return t.rc;
    LRESULT pos = SendMessageA(t.hCtl, PBM_GETPOS, 0, 0);
    LRESULT lo = SendMessageA(t.hCtl, PBM_GETRANGE, TRUE, 0);
    LRESULT hi = SendMessageA(t.hCtl, PBM_GETRANGE, FALSE, 0);
    std::printf("%ld %ld %ld\n", static_cast<long>(pos), static_cast<long>(lo), static_cast<long>(hi));
    return 0;
}

// Waits until the bar's position is at least the given share (percent) of its range.
int CmdWaitProgress(const Args& a)
{
    Target t = FindControl(a.At(2), a.At(3));
    if (t.rc)
        return t.rc;
    const double share = Seconds(a.At(4)) / 100.0;
    BOOL ok = WaitFor(Seconds(a.At(5)), [&] {
        LRESULT pos = SendMessageA(t.hCtl, PBM_GETPOS, 0, 0);
        LRESULT hi = SendMessageA(t.hCtl, PBM_GETRANGE, FALSE, 0);
        return hi > 1 && static_cast<double>(pos) >= share * static_cast<double>(hi);
    });
    if (!ok)
        return Fail("timed out waiting for the progress bar to reach %s%%", a.At(4));
    return 0;
}

// Prints the message box's text, presses OK and waits until the box has gone,
// so a second box with the same caption is not mistaken for this one.
int CmdMsgBox(const Args& a)
{
    HWND hBox = WaitWindow(a.At(2), Seconds(a.At(3)), "#32770");
    if (!hBox)
        return Fail("timed out waiting for a message box captioned \"%s\"", a.At(2));
    HWND hText = GetDlgItem(hBox, kMessageBoxTextId);
    std::printf("%s\n", hText ? WindowText(hText).c_str() : "");
    std::fflush(stdout);
    PostCommand(hBox, IDOK, GetDlgItem(hBox, IDOK));
    if (!WaitGone(hBox, 10.0))
        return Fail("the message box \"%s\" did not close", a.At(2));
    return 0;
}

int CmdSaveAs(const Args& a)
{
    HWND hDlg = WaitWindow("Save As", Seconds(a.At(3)), "#32770");
    if (!hDlg)
        return Fail("timed out waiting for the \"%s\" dialog", "Save As");
    HWND hName = GetDlgItem(hDlg, kFileNameFieldId);
    if (!hName)
        return Fail("the Save As dialog has no file-name field%s", "");
    // The path as typed, in UTF-16: the ANSI argv would already have lost
    // what the code page cannot hold.
    int nArgs = 0;
    LPWSTR* argvW = CommandLineToArgvW(GetCommandLineW(), &nArgs);
    if (argvW && nArgs > 2)
        SendMessageW(hName, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(argvW[2]));
    else
        SendMessageA(hName, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(a.At(2)));
    LocalFree(argvW);
    PostCommand(hDlg, IDOK, GetDlgItem(hDlg, IDOK));
    if (!WaitGone(hDlg, 10.0))
        return Fail("the Save As dialog did not close%s", "");
    return 0;
}

int CmdSysCommand(const Args& a)
{
    HWND hWnd = FindVisible(a.At(2));
    if (!hWnd)
        return Fail("no window titled \"%s\"", a.At(2));
    PostMessageA(hWnd, WM_SYSCOMMAND, static_cast<WPARAM>(std::strtoul(a.At(3), nullptr, 0)), 0);
    return 0;
}

int CmdClose(const Args& a)
{
    HWND hWnd = FindVisible(a.At(2));
    if (!hWnd)
        return Fail("no window titled \"%s\"", a.At(2));
    if (!IsWindowEnabled(hWnd))
        return Fail("the window \"%s\" is disabled", a.At(2));
    PostCommand(hWnd, IDCANCEL, GetDlgItem(hWnd, IDCANCEL));
    return 0;
}

// Closes the window as Cancel does and prints how many milliseconds passed
// until it was gone; the clock starts here, not with this program's start.
int CmdCloseTimed(const Args& a)
{
    HWND hWnd = FindVisible(a.At(2));
    if (!hWnd)
        return Fail("no window titled \"%s\"", a.At(2));
    if (!IsWindowEnabled(hWnd))
        return Fail("the window \"%s\" is disabled", a.At(2));
    const ULONGLONG start = GetTickCount64();
    PostCommand(hWnd, IDCANCEL, GetDlgItem(hWnd, IDCANCEL));
    if (!WaitGone(hWnd, Seconds(a.At(3))))
        return Fail("the window \"%s\" did not close", a.At(2));
    std::printf("%llu\n", GetTickCount64() - start);
    return 0;
}

// The texts of a combo box's list, one per line. CB_GETLBTEXT crosses the
// process boundary only in its wide form.
std::vector<std::wstring> ListItems(HWND hCombo)
{
    std::vector<std::wstring> items;
    const LRESULT nCount = SendMessageW(hCombo, CB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < nCount; ++i) {
        std::wstring item(static_cast<std::size_t>(SendMessageW(hCombo, CB_GETLBTEXTLEN, i, 0)) + 1, L'\0');
        item.resize(
            static_cast<std::size_t>(SendMessageW(hCombo, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(item.data()))));
        items.push_back(item);
    }
    return items;
}

int CmdItems(const Args& a)
{
    Target t = FindControl(a.At(2), a.At(3));
    if (t.rc)
        return t.rc;
    for (const std::wstring& item : ListItems(t.hCtl))
        std::printf("%ls\n", item.c_str());
    return 0;
}

// The list a person drops with the arrow: the combo box tells its dialog
// (CBN_DROPDOWN) before it shows the list.
int CmdDropDown(const Args& a)
{
    Target t = FindReachable(a.At(2), a.At(3));
    if (t.rc)
        return t.rc;
    SendMessageA(t.hCtl, CB_SHOWDROPDOWN, TRUE, 0);
    HWND hList = WaitWindow(nullptr, 5.0, "ComboLBox");
    if (!hList)
        return Fail("the list of control %s did not drop down", a.At(3));
    return 0;
}

// Clicks the entry of the dropped list that reads TEXT, as a person does:
// a press and a release of the left button over it.
int CmdPick(const Args& a)
{
    Target t = FindControl(a.At(2), a.At(3));
    if (t.rc)
        return t.rc;
    HWND hList = FindVisible(nullptr, "ComboLBox");
    if (!hList)
        return Fail("no list is dropped down%s", "");
    const std::vector<std::wstring> items = ListItems(t.hCtl);
    std::wstring wanted(a.At(4), a.At(4) + std::strlen(a.At(4)));
    LRESULT nIndex = -1;
    for (std::size_t i = 0; i < items.size(); ++i)
        if (items[i] == wanted)
            nIndex = static_cast<LRESULT>(i);
    if (nIndex < 0)
        return Fail("the list has no entry \"%s\"", a.At(4));
    const LRESULT nHeight = SendMessageW(hList, LB_GETITEMHEIGHT, 0, 0);
    const LRESULT nTop = SendMessageW(hList, LB_GETTOPINDEX, 0, 0);
    const LPARAM lPoint = MAKELPARAM(4, (nIndex - nTop) * nHeight + nHeight / 2);
    PostMessageA(hList, WM_MOUSEMOVE, 0, lPoint);
    PostMessageA(hList, WM_LBUTTONDOWN, MK_LBUTTON, lPoint);
    PostMessageA(hList, WM_LBUTTONUP, 0, lPoint);
    if (!WaitGone(hList, 5.0))
        return Fail("the list stayed open after the click on \"%s\"", a.At(4));
    return 0;
}

// Every text of the window measured in the dialog font, MS Sans Serif 8:
// a static that needs more lines than it has, or a button or field whose
// one line is wider than it, shows its text cut off. One line per control;
// exit status 1 when any is cut off.
int CmdClipped(const Args& a)
{
    HWND hDlg = FindVisible(a.At(2));
    if (!hDlg)
        return Fail("no window titled \"%s\"", a.At(2));
    HDC hdc = GetDC(hDlg);
    LOGFONTA lf{};
    lf.lfHeight = -MulDiv(8, GetDeviceCaps(hdc, LOGPIXELSY), 72);
    lf.lfCharSet = DEFAULT_CHARSET;
    std::strcpy(lf.lfFaceName, "MS Sans Serif");
    HFONT hFont = CreateFontIndirectA(&lf);
    HGDIOBJ hOld = SelectObject(hdc, hFont);
    int nClipped = 0;
    for (HWND hCtl = GetWindow(hDlg, GW_CHILD); hCtl; hCtl = GetWindow(hCtl, GW_HWNDNEXT)) {
        const std::string cls = ClassName(hCtl);
        const LONG style = GetWindowLongA(hCtl, GWL_STYLE);
        const std::string text = WindowText(hCtl);
        if (text.empty() || (cls == "Static" && (style & SS_TYPEMASK) == SS_ICON))
            continue;
        RECT rcHas{};
        GetClientRect(hCtl, &rcHas);
        const bool bWraps = cls == "Static";
        RECT rcNeeds{0, 0, bWraps ? rcHas.right : 0, 0};
        DrawTextA(hdc, text.c_str(), -1, &rcNeeds, DT_CALCRECT | DT_NOPREFIX | (bWraps ? DT_WORDBREAK : DT_SINGLELINE));
        const int nMargin = cls == "Button" ? 6 : 0;  // the button's frame and focus rectangle
        const bool bCut = rcNeeds.bottom > rcHas.bottom || rcNeeds.right + nMargin > rcHas.right;
        nClipped += bCut;
        std::printf("%s\t%s\t\"%s\"\tneeds %ldx%ld\thas %ldx%ld\n", bCut ? "CUT" : "ok", cls.c_str(), text.c_str(),
                    rcNeeds.right + nMargin, rcNeeds.bottom, rcHas.right, rcHas.bottom);
    }
    SelectObject(hdc, hOld);
    DeleteObject(hFont);
    ReleaseDC(hDlg, hdc);
    return nClipped ? 1 : 0;
}

// Sent, not posted, from COUNT threads released together: as UI automation
// or a second input source would click a button of another program. A sent
// message reaches the window also while its thread waits for something that
// serves only sent messages (as the program's wait for its workers does).
// Returns once every send has returned or timed out.
struct SendRecord {
    HANDLE hGo;
    HWND hDlg;
    WPARAM wParam;
    LPARAM lParam;
    DWORD dwTimeoutMs;
};

DWORD WINAPI SendWhenReleased(LPVOID pParam)
{
    auto* rec = static_cast<SendRecord*>(pParam);
    WaitForSingleObject(rec->hGo, INFINITE);
    DWORD_PTR result = 0;
    SendMessageTimeoutA(rec->hDlg, WM_COMMAND, rec->wParam, rec->lParam, SMTO_NORMAL, rec->dwTimeoutMs, &result);
    return 0;
}

int CmdSendCommand(const Args& a)
{
    Target t = FindControl(a.At(2), a.At(3));
    if (t.rc)
        return t.rc;
    const int nCount = std::atoi(a.At(4));
    const int id = static_cast<int>(std::strtol(a.At(3), nullptr, 0));
    SendRecord rec{CreateEventA(nullptr, TRUE, FALSE, nullptr), t.hDlg, MAKEWPARAM(id, BN_CLICKED),
                   reinterpret_cast<LPARAM>(t.hCtl), static_cast<DWORD>(Seconds(a.At(5)) * 1000.0)};
    std::vector<HANDLE> threads;
    for (int i = 0; i < nCount; ++i)
        threads.push_back(CreateThread(nullptr, 0, SendWhenReleased, &rec, 0, nullptr));
    SetEvent(rec.hGo);
    WaitForMultipleObjects(static_cast<DWORD>(threads.size()), threads.data(), TRUE, INFINITE);
    for (HANDLE h : threads)
        CloseHandle(h);
    CloseHandle(rec.hGo);
    return 0;
}

// Screen rectangle as an ImageMagick geometry, for cropping screenshots.
int CmdRect(const Args& a)
{
    HWND hWnd = FindVisible(a.At(2));
    if (!hWnd)
        return Fail("no window titled \"%s\"", a.At(2));
    RECT rc{};
    GetWindowRect(hWnd, &rc);
    std::printf("%ldx%ld+%ld+%ld\n", rc.right - rc.left, rc.bottom - rc.top, rc.left, rc.top);
    return 0;
}

struct Command {
    const char* pszName;
    int nArgs;
    const char* pszUsage;
    int (*pfn)(const Args&);
};

const Command kCommands[] = {
    {"wait-window", 2, "TITLE SECONDS", CmdWaitWindow},
    {"wait-class", 2, "CLASS SECONDS", CmdWaitClass},
    {"wait-gone", 2, "TITLE SECONDS", CmdWaitGone},
    {"click", 2, "TITLE ID", CmdClick},
    {"key", 3, "TITLE ID VIRTUAL-KEY", CmdKey},
    {"text", 2, "TITLE ID", CmdText},
    {"settext", 3, "TITLE ID TEXT", CmdSetText},
    {"wait-text", 4, "TITLE ID TEXT SECONDS", CmdWaitText},
    {"wait-focus", 3, "TITLE ID SECONDS", CmdWaitFocus},
    {"texts", 1, "TITLE", CmdTexts},
    {"enabled", 2, "TITLE ID", CmdEnabled},
    {"window-enabled", 1, "TITLE", CmdWindowEnabled},
    {"type", 3, "TITLE ID TEXT", CmdType},
    {"progress", 2, "TITLE ID", CmdProgress},
    {"wait-progress", 4, "TITLE ID PERCENT SECONDS", CmdWaitProgress},
    {"msgbox", 2, "CAPTION SECONDS", CmdMsgBox},
    {"saveas", 2, "PATH SECONDS", CmdSaveAs},
    {"syscommand", 2, "TITLE ID", CmdSysCommand},
    {"close", 1, "TITLE", CmdClose},
    {"close-timed", 2, "TITLE SECONDS", CmdCloseTimed},
    {"send-command", 4, "TITLE ID COUNT SECONDS", CmdSendCommand},
    {"rect", 1, "TITLE", CmdRect},
    {"items", 2, "TITLE ID", CmdItems},
    {"dropdown", 2, "TITLE ID", CmdDropDown},
    {"pick", 3, "TITLE ID TEXT", CmdPick},
    {"clipped", 1, "TITLE", CmdClipped},
};

int Usage()
{
    std::fprintf(stderr, "usage: guidriver COMMAND ARGS...\n");
    for (const Command& c : kCommands)
        std::fprintf(stderr, "  %s %s\n", c.pszName, c.pszUsage);
    return 2;
}

}  // namespace

int main(int argc, char** argv)
{
    // Binary mode: the shell script compares lines, and text mode would add CRs.
    _setmode(_fileno(stdout), _O_BINARY);
    if (argc < 2)
        return Usage();
    for (const Command& c : kCommands) {
        if (std::strcmp(argv[1], c.pszName) != 0)
            continue;
        if (argc != c.nArgs + 2)
            return Usage();
        return c.pfn(Args{argc, argv});
    }
    return Usage();
}
