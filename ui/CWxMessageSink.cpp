#include "ui/CWxMessageSink.h"

#include <wx/app.h>
#include <wx/msgdlg.h>
#include <wx/toplevel.h>

wxString ApplicationTitle()
{
    // Not the executable's name: it is lower case only because Debian names programs so, and
    // every window of the program says "Tonvale".
    return "Tonvale";
}

namespace {

// The window a message box belongs to: the dialog that has the focus, else the active one.
wxWindow* MessageParent()
{
    if (wxWindow* focus = wxWindow::FindFocus())
        return wxGetTopLevelParent(focus);
    if (wxWindow* active = wxGetActiveWindow())
        return wxGetTopLevelParent(active);
    return wxTheApp != nullptr ? wxTheApp->GetTopWindow() : nullptr;
}

long IconStyle(unsigned type)
{
    switch (type & MB_ICONMASK) {
    case MB_ICONSTOP:
        return wxICON_ERROR;
    case MB_ICONQUESTION:
        return wxICON_QUESTION;
    case MB_ICONINFORMATION:
        return wxICON_INFORMATION;
    default:
        return wxICON_EXCLAMATION;
    }
}

} // namespace

int CWxMessageSink::Show(const std::string& textUtf8, unsigned type)
{
    // "System-modal" has no counterpart on the desktop: every message box is application-modal.
    const bool okCancel = (type & 0x000F) == MB_OKCANCEL;
    long style = (okCancel ? (wxOK | wxCANCEL) : wxOK) | IconStyle(type) | wxCENTRE;
    wxMessageDialog box(MessageParent(), wxString::FromUTF8(textUtf8), ApplicationTitle(), style);
    return box.ShowModal() == wxID_OK ? IDOK : IDCANCEL;
}
