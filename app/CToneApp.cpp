// The application object: resets the measurements, runs the main window modally, and ends the
// program when the main window ends. There is no main loop outside the modal dialogs.
#include "app/CMainDlg.h"
#include "ui/CWxMessageSink.h"
#include "results/ResultRecord.h"

#include <wx/app.h>
#include <wx/image.h>

class CToneApp : public wxApp {
public:
    bool OnInit() override
    {
        wxInitAllImageHandlers();
        SetMessageSink(&m_messages);
        ResetResultRecord();
        return true;
    }

    int OnRun() override
    {
        {
            CMainDlg main;
            SetTopWindow(&main);
            main.ShowModal();
            SetTopWindow(nullptr);
        }
        // Ended however the window was ended (Quit, Escape, the close button): a normal exit.
        return 0;
    }

    int OnExit() override
    {
        SetMessageSink(nullptr);
        return wxApp::OnExit();
    }

private:
    CWxMessageSink m_messages;
};

wxIMPLEMENT_APP(CToneApp);
