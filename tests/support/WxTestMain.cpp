// main() of every GUI test program: a wxWidgets application without a main loop of its own (the
// tests run the dialogs modally), the program's real message boxes, and a guard against dialogs
// that nobody answers.
#include "tests/support/WxTesting.h"
#include "ui/CWxMessageSink.h"
#include "ui/DialogResources.h"

#include <gtest/gtest.h>
#include <wx/app.h>
#include <wx/image.h>
#include <wx/init.h>
#include <wx/modalhook.h>
#include <wx/msgdlg.h>

namespace {

class CUnexpectedDialogHook : public wxModalDialogHook {
protected:
    int Enter(wxDialog* dialog) override
    {
        if (RealDialogAllowed(dialog))
            return wxID_NONE;
        const bool messageBox = dynamic_cast<wxMessageDialog*>(dialog) != nullptr;
        if (messageBox) {
            auto* box = static_cast<wxMessageDialog*>(dialog);
            ADD_FAILURE() << "unexpected message box: " << box->GetMessage().utf8_str().data();
        } else {
            ADD_FAILURE() << "unexpected dialog: " << dialog->GetTitle().utf8_str().data();
        }
        return wxID_CANCEL;
    }
    void Exit(wxDialog*) override {}
};

} // namespace

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    wxApp::SetInstance(new wxApp);
    if (!wxEntryStart(argc, argv)) {
        fprintf(stderr, "cannot initialise wxWidgets (is DISPLAY set?)\n");
        return 2;
    }
    wxInitAllImageHandlers();
    InitDialogResources();
    int rc = 0;
    {
        CWxMessageSink sink;
        CMessageSink* previous = SetMessageSink(&sink);
        CUnexpectedDialogHook hook;
        hook.Register();
        rc = RUN_ALL_TESTS();
        hook.Unregister();
        SetMessageSink(previous);
    }
    wxEntryCleanup();
    return rc;
}
