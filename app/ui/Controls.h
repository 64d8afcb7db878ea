// Non-owning control wrappers: each holds the one HWND it was attached to
// (by DDX_Control) and sends it the control's messages.
#pragma once

#include "app/ui/Window.h"

class CButton : public CWindow {};

class CComboBox : public CWindow {
public:
    // CB_ERR (-1) when no list entry is selected, e.g. after typing.
    int GetCurSel() const { return static_cast<int>(SendMessage(CB_GETCURSEL)); }
    // An index outside the list clears the selection and the field.
    int SetCurSel(int nSelect) const
    {
        return static_cast<int>(SendMessage(CB_SETCURSEL, static_cast<WPARAM>(nSelect)));
    }
    int GetCount() const { return static_cast<int>(SendMessage(CB_GETCOUNT)); }
    int DeleteString(int nIndex) const
    {
        return static_cast<int>(SendMessage(CB_DELETESTRING, static_cast<WPARAM>(nIndex)));
    }
    // At nIndex (-1: the end). Unlike CB_ADDSTRING it never sorts, so a
    // list with the sorted style keeps the order it is given.
    int InsertString(int nIndex, const std::string& strItem) const
    {
        return static_cast<int>(
            SendMessage(CB_INSERTSTRING, static_cast<WPARAM>(nIndex), reinterpret_cast<LPARAM>(strItem.c_str())));
    }
    // The entry equal to strItem, ignoring case; CB_ERR when there is none.
    int FindStringExact(const std::string& strItem) const
    {
        return static_cast<int>(
            SendMessage(CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(strItem.c_str())));
    }
};

// The image size can exceed the 16-bit range of PBM_SETRANGE.
class CProgressCtrl : public CWindow {
public:
    void SetRange32(int nLower, int nUpper) const { SendMessage(PBM_SETRANGE32, static_cast<WPARAM>(nLower), nUpper); }
    int SetPos(int nPos) const { return static_cast<int>(SendMessage(PBM_SETPOS, static_cast<WPARAM>(nPos))); }
};
