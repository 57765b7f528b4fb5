// The questionnaire reached from the main window: Send Result, Show Result and the quit-time offer,
// end to end against a loopback server, with result.dat as what survives the run.
#include "app/CMainDlg.h"
#include "questionnaire/CQuestionnaireDlg.h"
#include "questionnaire/QuestionnaireCommands.h"
#include "questionnaire/SurveyExchange.h"
#include "results/ResultRecord.h"
#include "tests/questionnaire/LoopbackHttpServer.h"
#include "tests/questionnaire/SubmissionTestSupport.h"
#include "tests/support/CapturingMessageSink.h"
#include "tests/support/TempDir.h"
#include "tests/support/WxTesting.h"
#include "ui/DialogResources.h"

#include <gtest/gtest.h>
#include <wx/modalhook.h>
#include <wx/textctrl.h>

#include <filesystem>
#include <fstream>
#include <iterator>

namespace {

std::vector<unsigned char> ReadBytes(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The sent flag as result.dat holds it (its last four bytes, little-endian), or -99 without a file.
int StoredSentFlag(const std::filesystem::path& file)
{
    const auto bytes = ReadBytes(file);
    if (bytes.size() != 44)
        return -99;
    return bytes[40] | bytes[41] << 8 | bytes[42] << 16 | bytes[43] << 24;
}

// Runs `action` inside the questionnaire's own event loop each time one opens for real.
class CWhenQuestionnaireOpens : public wxModalDialogHook {
public:
    explicit CWhenQuestionnaireOpens(std::function<void(CQuestionnaireDlg&)> action)
        : m_action(std::move(action))
    {
        Register();
    }
    ~CWhenQuestionnaireOpens() override { Unregister(); }
    int opened = 0;

protected:
    int Enter(wxDialog* dialog) override
    {
        if (auto* questionnaire = dynamic_cast<CQuestionnaireDlg*>(dialog)) {
            ++opened;
            Later([this, questionnaire] {
                PumpEvents(100);
                m_action(*questionnaire);
            });
        }
        return wxID_NONE;
    }
    void Exit(wxDialog*) override {}

private:
    std::function<void(CQuestionnaireDlg&)> m_action;
};

// Without a window manager nothing gives a new window the keyboard: bring it to the front first,
// as a user's click would.
void PressEscapeIn(wxDialog& dlg)
{
    dlg.Raise();
    PumpEvents(100);
    UserKey(WXK_ESCAPE);
}

const std::string QUESTION = "結果についてのアンケートをお願いしています。\n"
                             "アンケートに答えて、あなたの結果をサーバーに送信しますか？";

class QuestionnaireFromMainWindow : public ::testing::Test {
protected:
    void SetUp() override { ResetResultRecord(); }
    void TearDown() override { ResetResultRecord(); }

    // Opens the main window (which loads result.dat), measures something if it holds nothing yet,
    // and runs `script` in it.
    int RunMainWindow(std::function<void(CMainDlg&)> script, bool measure = true, int timeoutMs = 30000)
    {
        CMainDlg dlg;
        if (measure && !ResultRecord.AnyMeasured())
            ResultRecord.m_highestHz = 15000;
        return RunModalScript(
            dlg, [&] { script(dlg); }, timeoutMs);
    }

    std::filesystem::path ResultFile() const { return m_dir.Path() / "result.dat"; }

    CTempDir m_dir;
    CWorkingDirectory m_cwd{m_dir.Path()};
    CNoProxy m_noProxy;
    CAllowRealDialogs m_realDialogs;
    CLoopbackHttpServer m_server;
    CSurveyServerAt m_at{LoopbackEndpoint(m_server.Port())};
};

} // namespace

TEST_F(QuestionnaireFromMainWindow, SendAtQuitIsStoredAndEndsTheOfferAndOpensTheResultsPage)
{
    {
        CCapturingMessageSink messages;
        messages.answers = {IDOK, IDOK};
        CWhenQuestionnaireOpens send([](CQuestionnaireDlg& questionnaire) {
            ControlById<wxTextCtrl>(&questionnaire, IDC_Q_COMMENT)->ChangeValue("from the quit offer");
            UserClick(questionnaire.FindWindow(wxID_OK));
        });
        EXPECT_EQ(RunMainWindow([](CMainDlg& dlg) { UserClick(dlg.FindWindow(wxID_OK)); }), wxID_OK);
        EXPECT_EQ(send.opened, 1);
        ASSERT_EQ(messages.shown.size(), 2u);
        EXPECT_EQ(messages.shown[0].text, QUESTION);
        EXPECT_EQ(messages.shown[0].type & ~MB_ICONMASK, MB_OKCANCEL | MB_SYSTEMMODAL);
        EXPECT_EQ(messages.shown[1].text, "Information has been sent.");
    }
    ASSERT_EQ(m_server.Requests().size(), 1u);
    const std::string body = ParseRequest(m_server.Requests().front()).body;
    EXPECT_NE(body.find("&max_freq=15000&"), std::string::npos) << body;
    EXPECT_TRUE(body.ends_with("&comment=from the quit offer")) << body;
    EXPECT_EQ(StoredSentFlag(ResultFile()), 1);

    // The next run: the flag comes back from the file, Show Result opens the page, Quit makes no offer.
    ResetResultRecord();
    std::vector<std::string> launched;
    const BrowserLauncher previous =
        SetBrowserLauncher([&launched](const std::string& url, wxWindow*) { launched.push_back(url); });
    {
        CCapturingMessageSink messages;
        EXPECT_EQ(RunMainWindow([](CMainDlg& dlg) {
                      EXPECT_EQ(ResultRecord.m_sent, 1);
                      UserClick(dlg.FindWindow(IDC_SHOW_RESULT));
                      UserClick(dlg.FindWindow(wxID_OK));
                  }),
                  wxID_OK);
        EXPECT_TRUE(messages.shown.empty());
    }
    SetBrowserLauncher(previous);
    EXPECT_EQ(launched, std::vector<std::string>{ResultsPageUrl()});
    EXPECT_EQ(m_server.Requests().size(), 1u);
}

TEST_F(QuestionnaireFromMainWindow, SendResultAndShowResultBeforeAnySend)
{
    std::vector<std::string> launched;
    const BrowserLauncher previous =
        SetBrowserLauncher([&launched](const std::string& url, wxWindow*) { launched.push_back(url); });
    CCapturingMessageSink messages;
    messages.answers = {IDOK, IDOK, IDCANCEL};
    CWhenQuestionnaireOpens send(
        [](CQuestionnaireDlg& questionnaire) { UserClick(questionnaire.FindWindow(wxID_OK)); });
    RunMainWindow([](CMainDlg& dlg) {
        UserClick(dlg.FindWindow(IDC_SHOW_RESULT)); // not sent yet: the notice
        UserClick(dlg.FindWindow(IDC_SEND_RESULT)); // sends
        UserClick(dlg.FindWindow(IDC_SHOW_RESULT)); // now the page
        UserClick(dlg.FindWindow(wxID_OK));         // sent: Quit makes no offer
    });
    SetBrowserLauncher(previous);
    EXPECT_EQ(messages.Texts(),
              (std::vector<std::string>{"アンケートに回答すると、このボタンが使えるようになります。",
                                        "Information has been sent."}));
    EXPECT_EQ(launched, std::vector<std::string>{ResultsPageUrl()});
    EXPECT_EQ(m_server.Requests().size(), 1u);
    EXPECT_EQ(StoredSentFlag(ResultFile()), 1);
}

TEST_F(QuestionnaireFromMainWindow, DecliningOrCancellingStillQuitsAndTheFlagStaysZero)
{
    {
        SCOPED_TRACE("Cancel to the offer");
        CCapturingMessageSink messages;
        messages.answers = {IDCANCEL};
        EXPECT_EQ(RunMainWindow([](CMainDlg& dlg) { UserClick(dlg.FindWindow(wxID_OK)); }), wxID_OK);
        EXPECT_EQ(messages.Texts(), std::vector<std::string>{QUESTION});
        EXPECT_EQ(StoredSentFlag(ResultFile()), 0);
    }
    {
        SCOPED_TRACE("OK to the offer, then Cancel in the questionnaire: the offer comes again next time");
        ResetResultRecord();
        CCapturingMessageSink messages;
        messages.answers = {IDOK};
        CWhenQuestionnaireOpens cancel(
            [](CQuestionnaireDlg& questionnaire) { UserClick(questionnaire.FindWindow(wxID_CANCEL)); });
        EXPECT_EQ(RunMainWindow([](CMainDlg& dlg) { UserClick(dlg.FindWindow(wxID_OK)); }), wxID_OK);
        EXPECT_EQ(cancel.opened, 1);
        EXPECT_EQ(messages.Texts(), std::vector<std::string>{QUESTION});
        EXPECT_EQ(StoredSentFlag(ResultFile()), 0);
    }
    EXPECT_EQ(m_server.Connections(), 0u);
}

TEST_F(QuestionnaireFromMainWindow, NoOfferWithoutMeasurementsOrOnEscape)
{
    {
        SCOPED_TRACE("nothing measured");
        CCapturingMessageSink messages;
        EXPECT_EQ(RunMainWindow([](CMainDlg& dlg) { UserClick(dlg.FindWindow(wxID_OK)); }, false), wxID_OK);
        EXPECT_TRUE(messages.shown.empty());
        EXPECT_EQ(StoredSentFlag(ResultFile()), 0);
    }
    {
        SCOPED_TRACE("Escape with something measured and nothing sent");
        ResetResultRecord();
        CCapturingMessageSink messages;
        EXPECT_EQ(RunMainWindow([](CMainDlg& dlg) { PressEscapeIn(dlg); }, true, 5000), wxID_CANCEL);
        EXPECT_TRUE(messages.shown.empty());
    }
}
