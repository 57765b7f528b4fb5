// The application object: resets the measurements, runs the main window modally, and ends the
// program when the main window ends. There is no main loop outside the modal dialogs.
#include "app/CMainDlg.h"
#include "app/CommandLine.h"
#include "results/ResultRecord.h"
#include "ui/CWxMessageSink.h"
#include "ui/Catalog.h"

#include <wx/app.h>
#include <wx/image.h>

#include <dlfcn.h>
#include <gdk/gdk.h>

#include <iostream>

// A Wayland compositor may offer no seat at all (headless, or a kiosk without input devices). GDK
// then has no devices, and its Wayland backend reads the first entry of that empty list when asked
// for the "client pointer", which wxWidgets asks for at the start of every modal dialog (to release
// a mouse grab). Defined here, this function is found before GDK's own: it answers "no pointer"
// for a display without a seat, and leaves every other question to GDK.
extern "C" GdkDevice* gdk_device_manager_get_client_pointer(GdkDeviceManager* manager)
{
    using Lookup = GdkDevice* (*)(GdkDeviceManager*);
    static const auto gdkOwn =
        reinterpret_cast<Lookup>(dlsym(RTLD_NEXT, "gdk_device_manager_get_client_pointer"));
    G_GNUC_BEGIN_IGNORE_DEPRECATIONS
    GdkDisplay* display = manager != nullptr ? gdk_device_manager_get_display(manager) : nullptr;
    G_GNUC_END_IGNORE_DEPRECATIONS
    if (gdkOwn == nullptr || display == nullptr || gdk_display_get_default_seat(display) == nullptr)
        return nullptr;
    return gdkOwn(manager);
}

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
    // Before anything is said, --help included.
    UseEnvironmentLanguage();
    // The options need no display: they are answered before the toolkit starts.
    const int status = HandleCommandLine(argc, argv, std::cout, std::cerr);
    if (status != START_MAIN_WINDOW)
        return status;
    return wxEntry(argc, argv);
}
