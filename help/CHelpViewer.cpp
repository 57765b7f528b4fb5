#include "help/CHelpViewer.h"

#include "ui/Accessibility.h"

#include <wx/button.h>
#include <wx/display.h>
#include <wx/html/htmlwin.h>
#include <wx/log.h>
#include <wx/sizer.h>

#include <gtk/gtk.h>

#include <algorithm>

namespace {

constexpr const char* TITLE_FORMAT = "Tonvale Help - %s";

wxTopLevelWindow* TopLevelOf(wxWindow* window)
{
    return window != nullptr ? dynamic_cast<wxTopLevelWindow*>(wxGetTopLevelParent(window)) : nullptr;
}

// Links lead to other topics of the same file ("range.htm", "#part"); anything else (a web
// address, a local file) has no place in the help and is ignored.
bool IsTopicLink(const wxString& href)
{
    const int colon = href.Find(':');
    return colon == wxNOT_FOUND || href.Mid(0, static_cast<size_t>(colon)) == "tvchm";
}

} // namespace

CHelpViewer::CHelpViewer() : wxFrame(nullptr, wxID_ANY, "Tonvale Help")
{
    // A dialog opened while help has the focus would otherwise take it as its parent; GTK then
    // moves the dialog into the help window's group, where the dialog's grab blocks help.
    SetExtraStyle(GetExtraStyle() | wxWS_EX_TRANSIENT);

    m_html = new wxHtmlWindow(this, wxID_ANY, wxDefaultPosition, wxDefaultSize, wxHW_SCROLLBAR_AUTO);
    m_html->SetRelatedFrame(this, TITLE_FORMAT);
    SetAccessibleName(m_html, "Help topic");

    m_back = new wxButton(this, wxID_BACKWARD, "&Back");
    m_forward = new wxButton(this, wxID_FORWARD, "&Forward");
    auto* close = new wxButton(this, wxID_CLOSE, "&Close");

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

    // Out of reach of the grab of any modal dialog, which holds only inside its own group. The
    // window keeps the group alive.
    GtkWindowGroup* group = gtk_window_group_new();
    gtk_window_group_add_window(group, GTK_WINDOW(GetHandle()));
    g_object_unref(group);

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

void CHelpViewer::Present(wxWindow* caller)
{
    wxTopLevelWindow* callerTop = TopLevelOf(caller);
    if (!IsShown())
        PlaceBeside(callerTop);
    m_caller = callerTop;
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
    // Keyboard users go back to the window they asked for help from.
    if (m_caller && m_caller->IsShown())
        m_caller->Raise();
}

void CHelpViewer::UpdateButtons()
{
    m_back->Enable(m_html->HistoryCanBack());
    m_forward->Enable(m_html->HistoryCanForward());
}

void CHelpViewer::PlaceBeside(wxTopLevelWindow* caller)
{
    if (caller == nullptr || !caller->IsShown()) {
        CentreOnScreen();
        return;
    }
    const wxRect owner = caller->GetScreenRect();
    const int displayIndex = wxDisplay::GetFromWindow(caller);
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
