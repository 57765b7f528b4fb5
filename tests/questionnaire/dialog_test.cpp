// The questionnaire dialog driven as a user drives it, under Xvfb, sending to a loopback server.
#include "checklog/CheckLog.h"
#include "help/CHelpViewer.h"
#include "questionnaire/CQuestionnaireDlg.h"
#include "questionnaire/QuestionnaireCommands.h"
#include "questionnaire/SurveyExchange.h"
#include "results/ResultRecord.h"
#include "tests/questionnaire/LoopbackHttpServer.h"
#include "tests/questionnaire/SubmissionTestSupport.h"
#include "tests/support/CapturingMessageSink.h"
#include "tests/support/ScopedCatalog.h"
#include "tests/support/ShowsJapanese.h"
#include "tests/support/TempDir.h"
#include "tests/support/WxTesting.h"
#include "ui/Catalog.h"
#include "ui/DialogResources.h"
#include "ui/Language.h"

#include <gtest/gtest.h>
#include <wx/button.h>
#include <wx/choice.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

#include <cctype>
#include <fstream>
#include <vector>

#include <fcntl.h>

namespace {

std::string Text(wxWindow* dlg, int id)
{
    wxWindow* control = dlg->FindWindow(id);
    if (control == nullptr)
        return "<missing>";
    if (auto* edit = dynamic_cast<wxTextCtrl*>(control))
        return std::string(edit->GetValue().utf8_str().data());
    if (auto* list = dynamic_cast<wxChoice*>(control))
        return std::string(list->GetStringSelection().utf8_str().data());
    return std::string(control->GetLabel().utf8_str().data());
}

// "dddd/dd/dd dd:dd:dd"
bool LooksLikeSurveyTime(const std::string& text)
{
    const std::string pattern = "dddd/dd/dd dd:dd:dd";
    if (text.size() != pattern.size())
        return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const bool digit = std::isdigit(static_cast<unsigned char>(text[i])) != 0;
        if (pattern[i] == 'd' ? !digit : text[i] != pattern[i])
            return false;
    }
    return true;
}

std::vector<std::string> Items(wxWindow* dlg, int id)
{
    std::vector<std::string> items;
    auto* list = ControlById<wxChoice>(dlg, id);
    if (list == nullptr)
        return items;
    for (unsigned i = 0; i < list->GetCount(); ++i)
        items.emplace_back(list->GetString(i).utf8_str().data());
    return items;
}

class QuestionnaireTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ResetResultRecord();
        SetCurrentCheckLog(&m_log);
    }
    void TearDown() override
    {
        SetCurrentCheckLog(nullptr);
        ResetResultRecord();
    }
    std::vector<LoggedRow> LogRows() const { return ParseCheckLog(ReadWholeLog()); }
    std::string ReadWholeLog() const
    {
        std::ifstream in(m_logDir.Path() / CHECK_LOG_NAME, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }

    CTempDir m_logDir;
    CWorkingDirectory m_cwd{m_logDir.Path()};
    CCheckLog m_log{AT_FDCWD, "run-1"};

    CNoProxy m_noProxy;
    CAllowRealDialogs m_realDialogs;
};

// Dialog 131 in resource (tab) order: ID, x, y, width, height in dialog units.
struct Placement {
    int id, x, y, width, height;
};
constexpr Placement TEMPLATE[] = {
    {wxID_OK, 91, 268, 50, 14}, {wxID_CANCEL, 175, 268, 50, 14}, {1031, 7, 57, 32, 16},
    {1011, 41, 59, 38, -1},     {1032, 87, 58, 32, 16},          {1013, 120, 59, 40, -1},
    {1029, 7, 35, 32, 16},      {1014, 42, 35, 91, 15},          {1036, 7, 153, 32, 16},
    {1015, 42, 153, 30, 15},    {1016, 93, 154, 30, 15},         {1037, 7, 177, 73, 16},
    {1039, 7, 197, 73, 16},     {1041, 7, 217, 73, 16},          {1043, 7, 239, 73, 16},
    {1038, 126, 177, 73, 16},   {1040, 127, 195, 73, 16},        {1042, 127, 213, 73, 16},
    {1044, 127, 237, 73, 16},   {1017, 83, 177, 30, 15},         {1018, 83, 197, 30, 15},
    {1019, 83, 217, 30, 15},    {1020, 83, 239, 30, 15},         {1021, 204, 177, 30, 15},
    {1022, 205, 195, 30, 15},   {1023, 205, 213, 30, 15},        {1024, 206, 235, 30, 15},
    {1030, 162, 33, 32, 16},    {1012, 201, 35, 111, -1},        {1033, 163, 56, 32, 16},
    {1025, 203, 57, 109, -1},   {1034, 7, 79, 32, 16},           {1026, 42, 79, 270, 39},
    {1035, 7, 127, 305, 16},    {1028, 7, 7, 305, 16},           {IDC_Q_TILDE, 75, 153, 13, 16},
    {1027, 254, 267, 58, 15},
};

} // namespace

TEST_F(QuestionnaireTest, TemplateLayoutCaptionsAndStyles)
{
    CQuestionnaireDlg dlg;
    EXPECT_EQ(dlg.GetTitle(), "Questionneiare");
    EXPECT_EQ(dlg.GetClientSize(), dlg.ConvertDialogToPixels(wxSize(319, 290)));

    // Every control where the template puts it, in the template's order (the tab order).
    std::vector<int> order;
    for (wxWindow* child : dlg.GetChildren())
        order.push_back(child->GetId());
    std::vector<int> expectedOrder;
    for (const Placement& p : TEMPLATE) {
        SCOPED_TRACE("control " + std::to_string(p.id));
        expectedOrder.push_back(p.id);
        wxWindow* control = dlg.FindWindow(p.id);
        ASSERT_NE(control, nullptr);
        EXPECT_EQ(control->GetPosition(), dlg.ConvertDialogToPixels(wxPoint(p.x, p.y)));
        const wxSize size = dlg.ConvertDialogToPixels(wxSize(p.width, p.height < 0 ? 0 : p.height));
        EXPECT_EQ(control->GetSize().x, size.x);
        if (p.height > 0 && dynamic_cast<wxTextCtrl*>(control) == nullptr) {
            EXPECT_EQ(control->GetSize().y, size.y);
        }
    }
    EXPECT_EQ(order, expectedOrder);

    const std::vector<std::pair<int, std::string>> captions = {
        {wxID_OK, "Send"},
        {wxID_CANCEL, "Cancel"},
        {1031, "Sex"},
        {1032, "Age"},
        {1029, "Date"},
        {1036, "Range"},
        {1037, "Cent 55"},
        {1039, "Cent 110"},
        {1041, "Cent 220"},
        {1043, "Cent 440"},
        {1038, "Cent 880"},
        {1040, "Cent 1760"},
        {1042, "Cent 3520"},
        {1044, "Cent 7040"},
        {1030, "Inst play"},
        {1033, "Education"},
        {1034, "Comment"},
        {1035, "Result"},
        {1028, "Questionneiare"},
        {1027, "Help"},
        {IDC_Q_TILDE, "～"},
    };
    for (const auto& [id, caption] : captions)
        EXPECT_EQ(Text(&dlg, id), caption) << "control " << id;

    // Labels centred with a sunken frame; result fields read-only; the comment multi-line and
    // editable, with Enter its own; Send the default button; lists unsorted.
    for (int id : {1028, 1029, 1030, 1031, 1032, 1033, 1034, 1035, 1036, 1037, 1038, 1039, 1040, 1041, 1042,
                   1043, 1044, IDC_Q_TILDE}) {
        auto* label = ControlById<wxStaticText>(&dlg, id);
        ASSERT_NE(label, nullptr) << id;
        EXPECT_TRUE(label->HasFlag(wxALIGN_CENTRE_HORIZONTAL)) << id;
        EXPECT_EQ(label->GetBorder(), wxBORDER_SUNKEN) << id;
    }
    for (int id = IDC_Q_DATE; id <= IDC_Q_INTERVAL_FIRST + 7; ++id) {
        auto* field = ControlById<wxTextCtrl>(&dlg, id);
        ASSERT_NE(field, nullptr) << id;
        EXPECT_FALSE(field->IsEditable()) << id;
        EXPECT_FALSE(field->IsMultiLine()) << id;
    }
    auto* comment = ControlById<wxTextCtrl>(&dlg, IDC_Q_COMMENT);
    ASSERT_NE(comment, nullptr);
    EXPECT_TRUE(comment->IsEditable());
    EXPECT_TRUE(comment->IsMultiLine());
    EXPECT_TRUE(comment->HasFlag(wxTE_PROCESS_ENTER));
    EXPECT_TRUE(comment->GetValue().empty());
    EXPECT_EQ(dlg.GetDefaultItem(), dlg.FindWindow(wxID_OK));
    for (int id : {IDC_Q_SEX, IDC_Q_AGE, IDC_Q_INSTRUMENT, IDC_Q_SCHOOL})
        EXPECT_FALSE(dlg.FindWindow(id)->HasFlag(wxCB_SORT)) << id;
}

TEST_F(QuestionnaireTest, TemplateKeepsTheJapaneseCaptions)
{
    wxDialog raw;
    ASSERT_TRUE(LoadDialogResource(&raw, nullptr, "IDD_QUESTIONNAIRE"));
    EXPECT_EQ(std::string(raw.GetTitle().utf8_str().data()), "アンケート送信");
    EXPECT_EQ(Text(&raw, wxID_OK), "送信");
    EXPECT_EQ(Text(&raw, wxID_CANCEL), "ｷｬﾝｾﾙ");
    EXPECT_EQ(Text(&raw, 1044), "識別可能セント-7040Hz");
    EXPECT_EQ(Text(&raw, 1035), "テスト結果（未実行の項目があってもかまいません。）");
    raw.Destroy();
}

TEST_F(QuestionnaireTest, ListsHoldTheirItemsInOrderAtNone)
{
    CQuestionnaireDlg dlg;
    EXPECT_EQ(Items(&dlg, IDC_Q_SEX), (std::vector<std::string>{"none", "male", "female"}));
    EXPECT_EQ(Items(&dlg, IDC_Q_INSTRUMENT),
              (std::vector<std::string>{"none", "no", "less than 10 years", "over 10 years"}));
    EXPECT_EQ(Items(&dlg, IDC_Q_SCHOOL),
              (std::vector<std::string>{"none", "no", "music class", "in music university, collage",
                                        "graduated from music university, collage"}));
    std::vector<std::string> ages = {"none", "under 5"};
    for (int years = 5; years <= 79; ++years)
        ages.push_back(std::to_string(years) + " years old");
    ages.push_back("over 80");
    ASSERT_EQ(ages.size(), 78u);
    EXPECT_EQ(Items(&dlg, IDC_Q_AGE), ages);
    for (int id : {IDC_Q_SEX, IDC_Q_AGE, IDC_Q_INSTRUMENT, IDC_Q_SCHOOL}) {
        EXPECT_EQ(ControlById<wxChoice>(&dlg, id)->GetSelection(), 0) << id;
        EXPECT_EQ(Text(&dlg, id), "none") << id;
    }
}

TEST_F(QuestionnaireTest, ResultFieldsAndTheSendRule)
{
    {
        SCOPED_TRACE("nothing measured");
        CQuestionnaireDlg dlg;
        for (int id = IDC_Q_MIN_FREQ; id <= IDC_Q_INTERVAL_FIRST + 7; ++id)
            EXPECT_EQ(Text(&dlg, id), "not finished") << id;
        EXPECT_FALSE(dlg.FindWindow(wxID_OK)->IsEnabled());
        EXPECT_TRUE(dlg.FindWindow(wxID_CANCEL)->IsEnabled());
        EXPECT_TRUE(dlg.FindWindow(IDC_Q_HELP)->IsEnabled());
    }
    {
        SCOPED_TRACE("only the 7040 Hz interval");
        ResultRecord.m_intervalCents[7] = 3;
        CQuestionnaireDlg dlg;
        EXPECT_TRUE(dlg.FindWindow(wxID_OK)->IsEnabled());
        EXPECT_EQ(Text(&dlg, 1024), "3");
        EXPECT_EQ(Text(&dlg, 1023), "not finished");
    }
    {
        // Values no check can produce (a damaged or foreign file) show, and so go out, as not
        // measured: below 0, above 22050 Hz, above 1200 cents.
        SCOPED_TRACE("every field in its place");
        ResultRecord.m_lowestHz = 22051;
        ResultRecord.m_highestHz = 22050;
        const std::int32_t cents[8] = {0, -2, 1201, 8, -1, 1200, 2147483647, -2147483647 - 1};
        for (int i = 0; i < 8; ++i)
            ResultRecord.m_intervalCents[i] = cents[i];
        CQuestionnaireDlg dlg;
        const std::vector<std::string> expected = {
            "not finished", "22050",       "0", "not finished", "not finished", "8", "not finished", "1200",
            "not finished", "not finished"};
        for (int i = 0; i < 10; ++i)
            EXPECT_EQ(Text(&dlg, IDC_Q_MIN_FREQ + i), expected[i]) << "field " << IDC_Q_MIN_FREQ + i;
    }
    {
        SCOPED_TRACE("the sent flag plays no part");
        ResetResultRecord();
        ResultRecord.m_sent = 1;
        CQuestionnaireDlg dlg;
        EXPECT_FALSE(dlg.FindWindow(wxID_OK)->IsEnabled());
    }
}

TEST_F(QuestionnaireTest, DisabledSendCannotBePressed)
{
    CLoopbackHttpServer server;
    CSurveyServerAt at(LoopbackEndpoint(server.Port()));
    CQuestionnaireDlg dlg;
    const int result = RunModalScript(dlg, [&] {
        UserClick(dlg.FindWindow(wxID_OK));
        PumpEvents(200);
        EXPECT_TRUE(dlg.IsModal());
        UserKey(WXK_ESCAPE);
    });
    EXPECT_EQ(result, wxID_CANCEL);
    EXPECT_EQ(server.Connections(), 0u);
    EXPECT_EQ(ResultRecord.m_sent, 0);
}

TEST_F(QuestionnaireTest, SendTransmitsWhatTheDialogShowsAtOpeningTimeAndCloses)
{
    CLoopbackHttpServer server;
    CSurveyServerAt at(LoopbackEndpoint(server.Port()));
    ResultRecord.m_lowestHz = 35;
    ResultRecord.m_highestHz = 15000;
    ResultRecord.m_intervalCents[3] = 8;

    CQuestionnaireDlg dlg;
    const std::string openedAt = Text(&dlg, IDC_Q_DATE);
    EXPECT_TRUE(LooksLikeSurveyTime(openedAt)) << openedAt;
    std::string sentAt;
    const int result = RunModalScript(dlg, [&] {
        ControlById<wxChoice>(&dlg, IDC_Q_SEX)->SetSelection(1);
        ControlById<wxChoice>(&dlg, IDC_Q_AGE)->SetSelection(27);
        ControlById<wxChoice>(&dlg, IDC_Q_INSTRUMENT)->SetSelection(2);
        ControlById<wxChoice>(&dlg, IDC_Q_SCHOOL)->SetSelection(3);

        // Typed by the user: Enter inside the comment starts a new line and does not send.
        wxWindow* comment = dlg.FindWindow(IDC_Q_COMMENT);
        UserClick(comment);
        for (int key : {int{'a'}, int{WXK_RETURN}, int{'b'}})
            UserKey(key);
        EXPECT_TRUE(dlg.IsModal());
        EXPECT_EQ(Text(&dlg, IDC_Q_COMMENT), "a\nb");
        ControlById<wxTextCtrl>(&dlg, IDC_Q_COMMENT)->AppendText(" & c=1%");
        EXPECT_EQ(server.Connections(), 0u);

        // The date stays the opening time, however long the user takes.
        PumpEvents(1100);
        EXPECT_EQ(Text(&dlg, IDC_Q_DATE), openedAt);
        const std::time_t now = std::time(nullptr);
        std::tm local{};
        localtime_r(&now, &local);
        sentAt = FormatSurveyTime(local);
        wxTEST_DIALOG(UserClick(dlg.FindWindow(wxID_OK)), CExpectMessageBox("Information has been sent."));
    });
    EXPECT_EQ(result, wxID_OK);
    EXPECT_NE(sentAt, openedAt);
    EXPECT_EQ(ResultRecord.m_sent, 1);
    ASSERT_EQ(server.Requests().size(), 1u);
    EXPECT_EQ(ParseRequest(server.Requests().front()).body,
              "date_time=" + openedAt +
                  "&sex=male&age=30 years old&min_freq=35&max_freq=15000&min_interval55=not finished"
                  "&min_interval110=not finished&min_interval220=not finished&min_interval440=8"
                  "&min_interval880=not finished&min_interval1760=not finished&min_interval3520=not finished"
                  "&min_interval7040=not finished&instrument=less than 10 years"
                  "&school=in music university, collage&comment=a\r\nb & c=1%");
    // The log keeps the age item, and nothing else of the answers.
    const auto rows = LogRows();
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].check, "questionnaire");
    EXPECT_EQ(rows[0].answer, "30 years old");
    EXPECT_EQ(ReadWholeLog().find("male"), std::string::npos);
}

TEST_F(QuestionnaireTest, JapaneseCommentGoesOutInCp932)
{
    CLoopbackHttpServer server;
    CSurveyServerAt at(LoopbackEndpoint(server.Port()));
    ResultRecord.m_highestHz = 16000;
    CQuestionnaireDlg dlg;
    ControlById<wxTextCtrl>(&dlg, IDC_Q_COMMENT)->ChangeValue(wxString::FromUTF8("音が～\nよく聞こえた€"));
    CCapturingMessageSink messages;
    RunModalScript(dlg, [&] { UserClick(dlg.FindWindow(wxID_OK)); });
    ASSERT_EQ(server.Requests().size(), 1u);
    EXPECT_TRUE(ParseRequest(server.Requests().front())
                    .body.ends_with(
                        "&school=none&comment=\x89\xb9\x82\xaa\x81\x60\r\n\x82\xe6\x82\xad\x95\xb7\x82\xb1"
                        "\x82\xa6\x82\xbd?"));
    EXPECT_EQ(messages.Texts(), std::vector<std::string>{"Information has been sent."});
}

TEST_F(QuestionnaireTest, FailedSendShowsWhyKeepsTheFlagAndStillCloses)
{
    CSurveyServerAt at(LoopbackEndpoint(CLoopbackHttpServer::UnusedPort()));
    ResultRecord.m_lowestHz = 40;
    CQuestionnaireDlg dlg;
    CCapturingMessageSink messages;
    const int result = RunModalScript(dlg, [&] { UserClick(dlg.FindWindow(wxID_OK)); });
    EXPECT_EQ(result, wxID_OK);
    EXPECT_EQ(ResultRecord.m_sent, 0);
    ASSERT_EQ(messages.shown.size(), 1u);
    EXPECT_TRUE(messages.shown[0].text.starts_with(std::string(SEND_FAILED_TEXT) + "\n"))
        << messages.shown[0].text;
    EXPECT_TRUE(LogRows().empty()) << "logged a questionnaire that was not sent";
}

TEST_F(QuestionnaireTest, CancelAndEscapeSendNothing)
{
    CLoopbackHttpServer server;
    CSurveyServerAt at(LoopbackEndpoint(server.Port()));
    ResultRecord.m_lowestHz = 40;
    {
        CQuestionnaireDlg dlg;
        EXPECT_EQ(RunModalScript(dlg, [&] { UserClick(dlg.FindWindow(wxID_CANCEL)); }), wxID_CANCEL);
    }
    {
        CQuestionnaireDlg dlg;
        EXPECT_EQ(RunModalScript(dlg, [&] { UserKey(WXK_ESCAPE); }), wxID_CANCEL);
    }
    EXPECT_EQ(server.Connections(), 0u);
    EXPECT_EQ(ResultRecord.m_sent, 0);
}

TEST_F(QuestionnaireTest, HelpShowsTheQuestionnaireTopicAndTheDialogStaysOpen)
{
    CQuestionnaireDlg dlg;
    RunModalScript(dlg, [&] {
        UserClick(dlg.FindWindow(IDC_Q_HELP));
        PumpEvents(200);
        EXPECT_TRUE(dlg.IsModal());
        CHelpViewer* viewer = ExistingHelpViewer();
        ASSERT_NE(viewer, nullptr) << "no help window (is Tonvale.chm beside the test?)";
        EXPECT_TRUE(viewer->IsShown());
        EXPECT_TRUE(viewer->CurrentPage().EndsWith("question.htm"))
            << viewer->CurrentPage().utf8_str().data();
        viewer->Hide();
        dlg.EndModal(wxID_CANCEL);
    });
}

TEST_F(QuestionnaireTest, SendResultAlwaysOpensTheDialog)
{
    for (std::int32_t sent : {0, 1}) {
        ResultRecord.m_sent = sent;
        bool shown = false;
        wxTEST_DIALOG(RunQuestionnaire(),
                      CExpectDialogTitled("Questionneiare", wxID_CANCEL, [&](wxDialog*) { shown = true; }));
        EXPECT_TRUE(shown) << "sent flag " << sent;
    }
}

TEST_F(QuestionnaireTest, ShowResultOpensThePageOnlyOnceSent)
{
    std::vector<std::string> launched;
    const BrowserLauncher previous =
        SetBrowserLauncher([&launched](const std::string& url, wxWindow*) { launched.push_back(url); });
    {
        CSurveyServerAt at(SurveyEndpoint{"survey.example", 80, {}});
        wxTEST_DIALOG(ShowResultPage(nullptr),
                      CExpectMessageBox("アンケートに回答すると、このボタンが使えるようになります。"));
        EXPECT_TRUE(launched.empty());

        for (std::int32_t sent : {1, 2}) {
            ResultRecord.m_sent = sent;
            ShowResultPage(nullptr);
        }
        EXPECT_EQ(launched,
                  (std::vector<std::string>{"http://survey.example/Questionnaire/TonvaleDisp.asp",
                                            "http://survey.example/Questionnaire/TonvaleDisp.asp"}));
    }
    SetBrowserLauncher(previous);
}

TEST_F(QuestionnaireTest, QuitOfferConditions)
{
    const std::string question = "結果についてのアンケートをお願いしています。\n"
                                 "アンケートに答えて、あなたの結果をサーバーに送信しますか？";
    {
        SCOPED_TRACE("nothing measured: no offer");
        CCapturingMessageSink messages;
        OfferQuestionnaireAtQuit();
        EXPECT_TRUE(messages.shown.empty());
    }
    ResultRecord.m_highestHz = 15000;
    for (std::int32_t sent : {1, 2}) {
        SCOPED_TRACE("already sent: no offer");
        ResultRecord.m_sent = sent;
        CCapturingMessageSink messages;
        OfferQuestionnaireAtQuit();
        EXPECT_TRUE(messages.shown.empty());
    }
    ResultRecord.m_sent = 0;
    {
        SCOPED_TRACE("declined: the question, OK and Cancel, system-modal, and no dialog");
        CCapturingMessageSink messages;
        messages.answers = {IDCANCEL};
        OfferQuestionnaireAtQuit();
        ASSERT_EQ(messages.shown.size(), 1u);
        EXPECT_EQ(messages.shown[0].text, question);
        EXPECT_EQ(messages.shown[0].type & ~MB_ICONMASK, MB_OKCANCEL | MB_SYSTEMMODAL);
    }
    {
        SCOPED_TRACE("accepted: the real message box, then the questionnaire");
        bool shown = false;
        wxTEST_DIALOG(OfferQuestionnaireAtQuit(), CExpectMessageBox(question, wxID_OK, true),
                      CExpectDialogTitled("Questionneiare", wxID_CANCEL, [&](wxDialog*) { shown = true; }));
        EXPECT_TRUE(shown);
    }
    {
        SCOPED_TRACE("declined through the real message box");
        wxTEST_DIALOG(OfferQuestionnaireAtQuit(), CExpectMessageBox(question, wxID_CANCEL, true));
    }
    EXPECT_EQ(ResultRecord.m_sent, 0);
}

namespace {
// Every text a window of `dlg` shows: its title, labels, field values and list entries.
std::vector<std::string> ShownTexts(wxWindow* dlg)
{
    std::vector<std::string> texts = {std::string(dlg->GetLabel().utf8_str().data())};
    for (wxWindow* child : dlg->GetChildren()) {
        if (auto* list = dynamic_cast<wxChoice*>(child)) {
            for (unsigned i = 0; i < list->GetCount(); ++i)
                texts.emplace_back(list->GetString(i).utf8_str().data());
        } else {
            texts.push_back(Text(dlg, child->GetId()));
        }
    }
    return texts;
}
} // namespace

// The lists and fields speak the listener's language; the server and the log get the wire's
// values whatever it is. A marking translation shows where each text came from.
TEST_F(QuestionnaireTest, ShownTextsFollowTheLanguageWhileTheValuesSentDoNot)
{
    ResultRecord.m_highestHz = 15000;
    const auto answer = [](CQuestionnaireDlg& dlg) {
        ControlById<wxChoice>(&dlg, IDC_Q_SEX)->SetSelection(2);
        ControlById<wxChoice>(&dlg, IDC_Q_AGE)->SetSelection(27);
        ControlById<wxChoice>(&dlg, IDC_Q_INSTRUMENT)->SetSelection(3);
        ControlById<wxChoice>(&dlg, IDC_Q_SCHOOL)->SetSelection(4);
        SurveyValues values = dlg.CurrentValues();
        values[FIELD_DATE_TIME].clear(); // the second the dialog opened
        return values;
    };
    SurveyValues today;
    {
        CQuestionnaireDlg dlg;
        today = answer(dlg);
        EXPECT_EQ(today[FIELD_AGE], "30 years old");
        EXPECT_EQ(today[FIELD_SCHOOL], "graduated from music university, collage");
    }
    SetTranslation("xx", [](const char* msgid) { return "<" + std::string(msgid) + ">"; });
    {
        CQuestionnaireDlg dlg;
        EXPECT_EQ(Items(&dlg, IDC_Q_SEX), (std::vector<std::string>{"<none>", "<male>", "<female>"}));
        EXPECT_EQ(Items(&dlg, IDC_Q_AGE)[27], "<30 years old>");
        EXPECT_EQ(Text(&dlg, IDC_Q_MIN_FREQ), "<not finished>");
        EXPECT_EQ(Text(&dlg, IDC_Q_MAX_FREQ), "15000");
        EXPECT_EQ(Text(&dlg, wxID_OK), "<Send>");
        EXPECT_EQ(answer(dlg), today);
    }
    for (const char* desktop : {"en_US.UTF-8", "ja_JP.UTF-8"}) {
        SCOPED_TRACE(desktop);
        const SCatalog catalog(desktop);
        ASSERT_NE(catalog.language, "");
        CQuestionnaireDlg dlg;
        EXPECT_EQ(answer(dlg), today);
        if (std::string(desktop) == "en_US.UTF-8") {
            for (const std::string& text : ShownTexts(&dlg))
                EXPECT_FALSE(ShowsJapanese(text)) << text;
        } else {
            EXPECT_EQ(Text(&dlg, 1035), "Result") << "today's caption";
        }
    }
}
