#pragma once
// The program's help window: a frame with an HTML view of the compiled help file's topics.
//
// Help is pressed from modal dialogs. A window beside a modal dialog gets no input (GTK gives the
// dialog every input of its window group) and, on Wayland, cannot even place or raise itself. So
// the help window belongs to the window it was asked from (its owner): it stays above it, in its
// window group, and is modal over it while shown, as a dialog's own message box is. Keys and
// clicks then go to the help window alone, Escape closes only the help, and the owner takes its
// input again once the help is closed. Nothing waits for it: the owner's event loop runs it.
// Closing only hides the window, and the owner's next Help press reuses it. It hides with its owner
// and is destroyed with it (it is the owner's child), so it is never modal over nothing. GUI thread
// only.
#include <wx/frame.h>
#include <wx/toplevel.h>

#include <filesystem>
#include <string>
#include <vector>

class wxButton;
class wxHtmlWindow;
class wxHtmlLinkEvent;

class CHelpViewer : public wxFrame {
public:
    // With no `owner` it is an ordinary window, modal over nothing.
    explicit CHelpViewer(wxTopLevelWindow* owner);

    // Shows the page at `location` (see ChmFileSystem.h). False, with the page unchanged, when it
    // cannot be read.
    bool ShowPage(const wxString& location);

    // Shows the window (beside its owner when it was hidden) and gives it the keyboard focus.
    void Present();
    wxTopLevelWindow* Owner() const { return m_owner; }

    wxHtmlWindow* Html() const { return m_html; }
    wxString CurrentPage() const;

private:
    void OnLinkClicked(wxHtmlLinkEvent& event);
    void OnCharHook(wxKeyEvent& event);
    void OnClose(wxCloseEvent& event);
    void OnOwnerShown(wxShowEvent& event);
    void UpdateButtons();
    void PlaceBesideOwner();

    wxHtmlWindow* m_html = nullptr;
    wxButton* m_back = nullptr;
    wxButton* m_forward = nullptr;
    wxTopLevelWindow* m_owner;
};

// What HtmlHelp does, with the directories to search for `file` and the catalog language given (see
// ResolveHelpFile): shows `topic` in the help window of `caller`'s top-level window (made anew when
// the last one belonged to another window). Returns that window, or nullptr (showing nothing, and
// leaving an open help window as it was) when the reader, the file or the topic cannot be found.
CHelpViewer* ShowHelpTopic(wxWindow* caller, const wxString& file, const wxString& topic,
                           const std::vector<std::filesystem::path>& searchDirs,
                           const std::string& language = {});

// The help window, when one has been opened and not destroyed since.
CHelpViewer* ExistingHelpViewer();
