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
};

// The image size can exceed the 16-bit range of PBM_SETRANGE.
class CProgressCtrl : public CWindow {
public:
    void SetRange32(int nLower, int nUpper) const { SendMessage(PBM_SETRANGE32, static_cast<WPARAM>(nLower), nUpper); }
    int SetPos(int nPos) const { return static_cast<int>(SendMessage(PBM_SETPOS, static_cast<WPARAM>(nPos))); }
};
