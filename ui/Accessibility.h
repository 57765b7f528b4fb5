#pragma once
// wxGTK gives the accessibility bus no name for edits and lists, so a screen reader would hear
// "combo box" with no label. These give a control the name a user sees beside it.
#include <wx/string.h>

class wxWindow;

// Names `control` after `label`'s current text and links the two (labelled-by / label-for).
// Call it again after the label's text changes.
void LabelControl(wxWindow* control, wxWindow* label);

// Names a control that has no label beside it.
void SetAccessibleName(wxWindow* control, const wxString& name);
