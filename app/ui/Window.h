// Non-owning wrapper of one window handle, in the manner of WTL's CWindow:
// it never creates or destroys the window, and copying it copies the handle.
#pragma once

#include <string>

#include "app/ui/UiApi.h"

class CWindow {
public:
    explicit CWindow(HWND hWnd = nullptr) : m_hWnd(hWnd) {}

    void Attach(HWND hWnd) { m_hWnd = hWnd; }

    LRESULT SendMessage(UINT uMsg, WPARAM wParam = 0, LPARAM lParam = 0) const
    {
        return ::SendMessageA(m_hWnd, uMsg, wParam, lParam);
    }
    BOOL EnableWindow(BOOL bEnable = TRUE) const { return ::EnableWindow(m_hWnd, bEnable); }
    BOOL IsWindowEnabled() const { return ::IsWindowEnabled(m_hWnd); }
    BOOL IsIconic() const { return ::IsIconic(m_hWnd); }
    BOOL GetClientRect(RECT* pRect) const { return ::GetClientRect(m_hWnd, pRect); }
    HWND GetDlgItem(int nID) const { return ::GetDlgItem(m_hWnd, nID); }
    std::string GetWindowText() const
    {
        std::string strText(static_cast<std::size_t>(::GetWindowTextLengthA(m_hWnd)) + 1, '\0');
        strText.resize(
            static_cast<std::size_t>(::GetWindowTextA(m_hWnd, strText.data(), static_cast<int>(strText.size()))));
        return strText;
    }
    BOOL SetWindowText(const std::string& strText) const { return ::SetWindowTextA(m_hWnd, strText.c_str()); }
    UINT_PTR SetTimer(UINT_PTR nIDEvent, UINT uElapse) const { return ::SetTimer(m_hWnd, nIDEvent, uElapse, nullptr); }
    BOOL KillTimer(UINT_PTR nIDEvent) const { return ::KillTimer(m_hWnd, nIDEvent); }
    HICON SetIcon(HICON hIcon, BOOL bBigIcon) const
    {
        return reinterpret_cast<HICON>(
            SendMessage(WM_SETICON, bBigIcon ? ICON_BIG : ICON_SMALL, reinterpret_cast<LPARAM>(hIcon)));
    }
    HMENU GetSystemMenu(BOOL bRevert) const { return ::GetSystemMenu(m_hWnd, bRevert); }

    HWND m_hWnd;
};

// BeginPaint/EndPaint for the lifetime of the object, as WTL's CPaintDC.
class CPaintDC {
public:
    explicit CPaintDC(HWND hWnd) : m_hWnd(hWnd) { m_hDC = ::BeginPaint(m_hWnd, &m_ps); }
    ~CPaintDC() { ::EndPaint(m_hWnd, &m_ps); }
    CPaintDC(const CPaintDC&) = delete;
    CPaintDC& operator=(const CPaintDC&) = delete;

    BOOL DrawIcon(int x, int y, HICON hIcon) const { return ::DrawIcon(m_hDC, x, y, hIcon); }

    HDC m_hDC;

private:
    HWND m_hWnd;
    PAINTSTRUCT m_ps;
};
