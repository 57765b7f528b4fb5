#pragma once
// The dialog templates are XRC resources compiled into the program (res/). Dialogs load them by
// name and find their controls by their numeric IDs.
#include <wx/string.h>

#include <wx/window.h>

#include <string>

class wxDialog;

// Registers the XRC handlers and the compiled-in resources; safe to call more than once.
void InitDialogResources();

// Loads dialog template `name` into `dialog`, with the client area the template gives in dialog
// units. Returns false when the resource is missing.
bool LoadDialogResource(wxDialog* dialog, wxWindow* parent, const char* name);

// For a dialog whose template did not load: tells the user which one is missing and makes
// `dialog` an empty window that can only be closed, so that running it neither crashes nor hangs.
void ReportMissingTemplate(wxDialog* dialog, wxWindow* parent, const char* name);

// The control with `id` inside `parent`, as T, or nullptr.
template <class T> T* ControlById(wxWindow* parent, int id)
{
    return dynamic_cast<T*>(parent->FindWindow(id));
}

// Text of the program (UTF-8 literals) as a wxString, whatever the C locale is.
inline wxString U8(const char* utf8)
{
    return wxString::FromUTF8(utf8);
}
inline wxString U8(const std::string& utf8)
{
    return wxString::FromUTF8(utf8.data(), utf8.size());
}
