// The application object: resets the measurements, runs the main window modally, and ends the
// program when the main window ends. There is no main loop outside the modal dialogs.
#include "app/CMainDlg.h"
#include "app/CommandLine.h"
#include "results/ResultRecord.h"
#include "ui/CWxMessageSink.h"

#include <wx/app.h>
#include <wx/image.h>

#include <iostream>

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

wxIMPLEMENT_WX_THEME_SUPPORT wxIMPLEMENT_APP_NO_MAIN(CToneApp);

int main(int argc, char** argv)
{
    // The options need no display: they are answered before the toolkit starts.
    const int status = HandleCommandLine(argc, argv, std::cout, std::cerr);
    if (status != START_MAIN_WINDOW)
        return status;
    return wxEntry(argc, argv);
}
