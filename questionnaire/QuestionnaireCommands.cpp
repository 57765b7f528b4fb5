#include "questionnaire/QuestionnaireCommands.h"

#include "questionnaire/CQuestionnaireDlg.h"
#include "questionnaire/SurveyExchange.h"
#include "results/ResultRecord.h"
#include "ui/Message.h"

#include <wx/log.h>
#include <wx/utils.h>

namespace {

// The browser decides the window's size: a desktop launcher cannot ask for a maximised window.
// A failure to start it is not reported (wxWidgets would log one as an error box).
void LaunchDesktopBrowser(const std::string& url, wxWindow*)
{
    wxLogNull quiet;
    wxLaunchDefaultBrowser(wxString::FromUTF8(url));
}

BrowserLauncher& Launcher()
{
    static BrowserLauncher launcher = &LaunchDesktopBrowser;
    return launcher;
}

} // namespace

BrowserLauncher SetBrowserLauncher(BrowserLauncher launcher)
{
    BrowserLauncher previous = std::move(Launcher());
    Launcher() = launcher ? std::move(launcher) : BrowserLauncher(&LaunchDesktopBrowser);
    return previous;
}

void OpenInBrowser(const std::string& url, wxWindow* owner)
{
    Launcher()(url, owner);
}

void RunQuestionnaire()
{
    CQuestionnaireDlg dialog;
    dialog.ShowModal();
}

void ShowResultPage(wxWindow* owner)
{
    if (!ResultRecord.IsSent()) {
        ShowMessage(Translate(SHOW_RESULT_NOTICE));
        return;
    }
    // Not checked: the desktop starts the browser on its own, so whether a page appears is beyond
    // what Tonvale can see; and nothing is lost when none does, since the results are on the
    // server already and the command can be tried again.
    OpenInBrowser(ResultsPageUrl(), owner);
}

void OfferQuestionnaireAtQuit()
{
    if (ResultRecord.IsSent() || !ResultRecord.AnyMeasured())
        return;
    if (AppMessageBox(Translate(QUIT_OFFER_TEXT), MB_OKCANCEL | MB_SYSTEMMODAL) == IDOK)
        RunQuestionnaire();
}
