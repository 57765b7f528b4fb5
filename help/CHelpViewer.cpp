#include "help/CHelpViewer.h"

#include "ui/Accessibility.h"
#include "ui/DialogResources.h"
#include "ui/Language.h"

#include <wx/button.h>
#include <wx/display.h>
#include <wx/html/htmlwin.h>
#include <wx/log.h>
#include <wx/sizer.h>

#include <gtk/gtk.h>

#include <algorithm>

namespace {

// The page's title fills in "%s".
constexpr const char* TITLE_FORMAT = TR_NOOP("Tonvale Help - %s");

// Links lead to other topics of the same file ("range.htm", "#part"); anything else (a web
// address, a local file) has no place in the help and is ignored.
bool IsTopicLink(const wxString& href)
{
    const int colon = href.Find(':');
    return colon == wxNOT_FOUND || href.Mid(0, static_cast<size_t>(colon)) == "tvchm";
}

} // namespace

CHelpViewer::CHelpViewer(wxTopLevelWindow* owner)
    : wxFrame(owner, wxID_ANY, U8(Translate("Tonvale Help"))), m_owner(owner)
{
    // A dialog opened while help has the focus would otherwise take it as its parent. And the
    // owner is the window's parent: its keys and commands must end here, not in the owner (whose
    // Escape ends it).
    SetExtraStyle(GetExtraStyle() | wxWS_EX_TRANSIENT | wxWS_EX_BLOCK_EVENTS);

    m_html = new wxHtmlWindow(this, wxID_ANY, wxDefaultPosition, wxDefaultSize, wxHW_SCROLLBAR_AUTO);
    m_html->SetRelatedFrame(this, U8(Translate(TITLE_FORMAT)));
    SetAccessibleName(m_html, U8(Translate("Help topic")));

    m_back = new wxButton(this, wxID_BACKWARD, U8(Translate("&Back")));
    m_forward = new wxButton(this, wxID_FORWARD, U8(Translate("&Forward")));
    auto* close = new wxButton(this, wxID_CLOSE, U8(Translate("&Close")));

    auto* buttons = new wxBoxSizer(wxHORIZONTAL);
    buttons->Add(m_back, 0, wxRIGHT, FromDIP(6));
    buttons->Add(m_forward, 0);
    buttons->AddStretchSpacer();
    buttons->Add(close, 0);
    auto* top = new wxBoxSizer(wxVERTICAL);
    top->Add(m_html, 1, wxEXPAND);
    top->Add(buttons, 0, wxEXPAND | wxALL, FromDIP(6));
    SetSizer(top);
    SetSize(FromDIP(wxSize(520, 560)));
    SetMinSize(FromDIP(wxSize(280, 240)));

    m_html->Bind(wxEVT_HTML_LINK_CLICKED, &CHelpViewer::OnLinkClicked, this);
    m_back->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) {
        wxLogNull quiet;
        m_html->HistoryBack();
        UpdateButtons();
    });
    m_forward->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) {
        wxLogNull quiet;
        m_html->HistoryForward();
        UpdateButtons();
    });
    close->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { Close(); });
    Bind(wxEVT_CHAR_HOOK, &CHelpViewer::OnCharHook, this);
    Bind(wxEVT_CLOSE_WINDOW, &CHelpViewer::OnClose, this);

    // To the desktop it is a dialog. GTK's Wayland backend gives every dialog without a parent (the
    // main window is one) the focused plain window as its parent: were help a plain window, the
    // main window would become its child and be stacked above it.
    GtkWindow* self = GTK_WINDOW(GetHandle());
    gtk_window_set_type_hint(self, GDK_WINDOW_TYPE_HINT_DIALOG);
    if (m_owner != nullptr) {
        // Above the owner and modal over it: the compositor keeps it in view, gives it the focus
        // when the owner is clicked, and GTK gives it every key and click of the owner's group
        // (its grab is the newest there) until it is hidden.
        GtkWindow* ownerWindow = GTK_WINDOW(m_owner->GetHandle());
        gtk_window_set_transient_for(self, ownerWindow);
        gtk_window_group_add_window(gtk_window_get_group(ownerWindow), self);
        gtk_window_set_modal(self, TRUE);
        m_owner->Bind(wxEVT_SHOW, &CHelpViewer::OnOwnerShown, this);
    }

    UpdateButtons();
}

bool CHelpViewer::ShowPage(const wxString& location)
{
    // A page that cannot be read leaves the current one; the viewer never reports it in a message.
    wxLogNull quiet;
    const bool shown = m_html->LoadPage(location);
    UpdateButtons();
    return shown;
}

wxString CHelpViewer::CurrentPage() const
{
    return m_html->GetOpenedPage();
}

void CHelpViewer::Present()
{
    if (!IsShown())
        PlaceBesideOwner();
    if (IsIconized())
        Iconize(false);
    Show();
    Raise();
    m_html->SetFocus();
}

void CHelpViewer::OnLinkClicked(wxHtmlLinkEvent& event)
{
    const wxString href = event.GetLinkInfo().GetHref();
    if (IsTopicLink(href))
        ShowPage(href);
}

void CHelpViewer::OnCharHook(wxKeyEvent& event)
{
    if (event.GetKeyCode() == WXK_ESCAPE && event.GetModifiers() == wxMOD_NONE) {
        Close();
        return;
    }
    event.Skip();
}

void CHelpViewer::OnClose(wxCloseEvent& event)
{
    if (!event.CanVeto()) {
        Destroy();
        return;
    }
    event.Veto();
    Hide();
    // Keyboard users go back to the window they asked for help from (a desktop does that by
    // itself; a bare X server does not).
    if (m_owner != nullptr && m_owner->IsShown())
        m_owner->Raise();
}

void CHelpViewer::OnOwnerShown(wxShowEvent& event)
{
    // A help window left over a hidden owner would hold its grab over whatever comes next.
    if (!event.IsShown())
        Hide();
    event.Skip();
}

void CHelpViewer::UpdateButtons()
{
    m_back->Enable(m_html->HistoryCanBack());
    m_forward->Enable(m_html->HistoryCanForward());
}

void CHelpViewer::PlaceBesideOwner()
{
    // Where the program may place its windows (X11); under Wayland the compositor places it.
    if (m_owner == nullptr || !m_owner->IsShown()) {
        CentreOnScreen();
        return;
    }
    const wxRect owner = m_owner->GetScreenRect();
    const int displayIndex = wxDisplay::GetFromWindow(m_owner);
    const wxRect area =
        wxDisplay(displayIndex == wxNOT_FOUND ? 0u : static_cast<unsigned>(displayIndex)).GetClientArea();
    wxSize size = GetSize();
    size.SetWidth(std::min(size.GetWidth(), area.GetWidth()));
    size.SetHeight(std::min(size.GetHeight(), area.GetHeight()));
    const int gap = FromDIP(8);

    // Right of the caller, else left of it, else against the right edge of the screen.
    int x = owner.GetRight() + 1 + gap;
    if (x + size.GetWidth() > area.GetRight() + 1) {
        x = owner.GetLeft() - gap - size.GetWidth();
        if (x < area.GetLeft())
            x = area.GetRight() + 1 - size.GetWidth();
    }
    const int y = std::max(area.GetTop(), std::min(owner.GetTop(), area.GetBottom() + 1 - size.GetHeight()));
    SetSize(x, y, size.GetWidth(), size.GetHeight());
}
