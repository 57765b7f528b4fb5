#pragma once
// The About box (dialog 100): the program's icon, name and version. It keeps its Japanese texts.
#include <wx/dialog.h>

class CAboutDlg : public wxDialog {
public:
    CAboutDlg();
};
