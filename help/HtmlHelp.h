#pragma once
// Opens a topic of the compiled help file in the program's own help window, over `caller`'s window
// (see CHelpViewer.h).
//
// `file` is a bare file name ("Tonvale.chm"). It returns at once, without waiting for the help to
// be closed, and never shows a message of its own: a missing file or topic shows nothing, and the
// caller stays as it was. Returns the help window, or nullptr when nothing could be shown. GUI
// thread only.
#include <wx/string.h>

class wxWindow;

constexpr unsigned HH_DISPLAY_TOPIC = 0;
constexpr const char* HELP_FILE_NAME = "Tonvale.chm";

wxWindow* HtmlHelp(wxWindow* caller, const wxString& file, unsigned command, const wxString& topic);
