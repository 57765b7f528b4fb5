#pragma once
// The program's help window: one frame with an HTML view of the compiled help file's topics.
//
// Help is pressed from modal dialogs, and under GTK a modal dialog takes every input of the windows
// in its window group. The viewer therefore lives in a window group of its own, so that it can be
// scrolled, its links followed and it closed while a dialog runs, and the dialog still takes its
// own input beside it. Closing only hides the window: every later Help press reuses it. GUI thread
// only.
#include <wx/frame.h>
#include <wx/toplevel.h>
#include <wx/weakref.h>

#include <filesystem>
#include <vector>

class wxButton;
class wxHtmlWindow;
class wxHtmlLinkEvent;

class CHelpViewer : public wxFrame {
public:
    CHelpViewer();

    // Shows the page at `location` (see ChmFileSystem.h). False, with the page unchanged, when it
    // cannot be read.
    bool ShowPage(const wxString& location);

    // Shows the window (beside `caller`'s window when it was hidden) and brings it to the front.
    void Present(wxWindow* caller);

    wxHtmlWindow* Html() const { return m_html; }
    wxString CurrentPage() const;

private:
    void OnLinkClicked(wxHtmlLinkEvent& event);
    void OnCharHook(wxKeyEvent& event);
    void OnClose(wxCloseEvent& event);
    void UpdateButtons();
    void PlaceBeside(wxTopLevelWindow* caller);

    wxHtmlWindow* m_html = nullptr;
    wxButton* m_back = nullptr;
    wxButton* m_forward = nullptr;
    wxWeakRef<wxTopLevelWindow> m_caller;
};

// What HtmlHelp does, with the directories to search for `file` given: shows `topic` in the one
// help window, beside `caller`. Returns that window, or nullptr (showing nothing, and leaving an
// open help window as it was) when the reader, the file or the topic cannot be found.
CHelpViewer* ShowHelpTopic(wxWindow* caller, const wxString& file, const wxString& topic,
                           const std::vector<std::filesystem::path>& searchDirs);

// The help window, when one has been opened and not destroyed since.
CHelpViewer* ExistingHelpViewer();
