// The HTML Help entry point, bound on first use as the SDK's htmlhelp.lib
// does: the program starts without loading hhctrl.ocx, and the control is
// taken from the system folder only, never from a copy beside the program.
#include "app/ui/UiApi.h"

#include <string>

namespace {

typedef HWND(WINAPI* HtmlHelpProc)(HWND, LPCSTR, UINT, DWORD_PTR);

HtmlHelpProc LoadHtmlHelp()
{
    char szSystem[MAX_PATH];
    UINT cch = ::GetSystemDirectoryA(szSystem, MAX_PATH);
    if (cch == 0 || cch >= MAX_PATH)
        return nullptr;
    HMODULE hControl = ::LoadLibraryA((std::string(szSystem, cch) + "\\hhctrl.ocx").c_str());
    if (hControl == nullptr)
        return nullptr;
    return reinterpret_cast<HtmlHelpProc>(reinterpret_cast<void*>(::GetProcAddress(hControl, "HtmlHelpA")));
}

}  // namespace

// Only the UI thread calls it; the control stays loaded until the process ends.
extern "C" HWND WINAPI HtmlHelpA(HWND hwndCaller, LPCSTR pszFile, UINT uCommand, DWORD_PTR dwData)
{
    static HtmlHelpProc pfnHtmlHelp = LoadHtmlHelp();
    return pfnHtmlHelp != nullptr ? pfnHtmlHelp(hwndCaller, pszFile, uCommand, dwData) : nullptr;
}
