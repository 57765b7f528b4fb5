// The help window under Xvfb, driven as a user drives it: clicks on links and buttons and keys
// through the X server, also while a modal dialog runs.
#include "help/CHelpViewer.h"
#include "help/ChmFileSystem.h"
#include "help/HtmlHelp.h"
#include "tests/support/TempDir.h"
#include "tests/support/WxTesting.h"

#include <gtest/gtest.h>
#include <wx/button.h>
#include <wx/dialog.h>
#include <wx/frame.h>
#include <wx/html/htmlcell.h>
#include <wx/html/htmlwin.h>
#include <wx/sizer.h>
#include <wx/uiaction.h>

#include <filesystem>
#include <fstream>

namespace {

const std::filesystem::path PROGRAM_DIR = TONVALE_TEST_PROGRAM_DIR;

// The first visible piece of a link to `href` in the page, or nullptr.
wxHtmlCell* FindLinkCell(wxHtmlCell* cell, const wxString& href)
{
    for (; cell != nullptr; cell = cell->GetNext()) {
        if (cell->GetFirstChild() != nullptr) {
            if (wxHtmlCell* found = FindLinkCell(cell->GetFirstChild(), href))
                return found;
        } else if (const wxHtmlLinkInfo* link = cell->GetLink();
                   link != nullptr && link->GetHref() == href && cell->GetWidth() > 0) {
            return cell;
        }
    }
    return nullptr;
}

// Clicks a link of the page as a user does: brought into view, then a real click on it.
void ClickLink(wxHtmlWindow* html, const wxString& href)
{
    wxHtmlCell* cell = FindLinkCell(html->GetInternalRepresentation(), href);
    ASSERT_NE(cell, nullptr) << "no link to " << href << " on " << html->GetOpenedPage();
    const wxPoint middle = cell->GetAbsPos() + wxPoint(cell->GetWidth() / 2, cell->GetHeight() / 2);
    wxPoint client = html->CalcScrolledPosition(middle);
    if (client.y < 0 || client.y >= html->GetClientSize().y) {
        int ppuX = 1, ppuY = 1;
        html->GetScrollPixelsPerUnit(&ppuX, &ppuY);
        html->Scroll(-1, std::max(0, (middle.y - html->GetClientSize().y / 2) / std::max(ppuY, 1)));
        PumpEvents(50);
        client = html->CalcScrolledPosition(middle);
    }
    const wxPoint screen = html->ClientToScreen(client);
    wxUIActionSimulator sim;
    sim.MouseMove(screen);
    PumpEvents(50);
    sim.MouseClick();
    PumpEvents(100);
}

bool ShowsTopic(const CHelpViewer* viewer, const wxString& topic)
{
    return viewer != nullptr && viewer->CurrentPage().EndsWith("#tvchm:/" + topic);
}

size_t TopLevelWindowCount()
{
    size_t count = 0;
    for (wxWindow* window : wxTopLevelWindows)
        if (!window->IsBeingDeleted())
            ++count;
    return count;
}

// A dialog such as the checks are: a Help button that calls the help, and OK.
class CDialogWithHelp : public wxDialog {
public:
    explicit CDialogWithHelp(const wxString& topic) : wxDialog(nullptr, wxID_ANY, "Range Check")
    {
        m_help = new wxButton(this, wxID_ANY, "Help");
        m_other = new wxButton(this, wxID_ANY, "Question");
        m_ok = new wxButton(this, wxID_OK, "OK");
        auto* sizer = new wxBoxSizer(wxHORIZONTAL);
        sizer->Add(m_help, 0, wxALL, 10);
        sizer->Add(m_other, 0, wxALL, 10);
        sizer->Add(m_ok, 0, wxALL, 10);
        SetSizerAndFit(sizer);
        m_other->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { ++m_otherClicks; });
        m_help->Bind(wxEVT_BUTTON, [this, topic](wxCommandEvent&) {
            m_result = HtmlHelp(this, HELP_FILE_NAME, HH_DISPLAY_TOPIC, topic);
        });
    }
    wxButton* m_help;
    wxButton* m_other;
    wxButton* m_ok;
    wxWindow* m_result = nullptr;
    int m_otherClicks = 0;
};

class HelpViewerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_caller = new wxFrame(nullptr, wxID_ANY, "Caller", wxPoint(40, 40), wxSize(300, 200));
        m_caller->Show();
        PumpEvents(100);
    }
    void TearDown() override
    {
        if (CHelpViewer* viewer = ExistingHelpViewer())
            viewer->Destroy();
        m_caller->Destroy();
        PumpEvents(100);
    }

    CTempDir m_dir;
    CWorkingDirectory m_cwd{m_dir.Path()};
    wxFrame* m_caller = nullptr;
};

} // namespace

TEST_F(HelpViewerTest, OpensTheTopicBesideTheCallerAndFollowsLinks)
{
    // Nothing in the working directory: the copy beside the program is found.
    wxWindow* shown = HtmlHelp(m_caller, HELP_FILE_NAME, HH_DISPLAY_TOPIC, "index.htm");
    auto* viewer = dynamic_cast<CHelpViewer*>(shown);
    ASSERT_NE(viewer, nullptr);
    PumpEvents(200);
    EXPECT_TRUE(viewer->IsShown());
    EXPECT_TRUE(ShowsTopic(viewer, "index.htm")) << viewer->CurrentPage();
    EXPECT_NE(viewer->CurrentPage().find(wxString((PROGRAM_DIR / "Tonvale.chm").string())), wxNOT_FOUND);
    EXPECT_EQ(viewer->GetTitle(), "Tonvale Help - Tonvale");
    EXPECT_FALSE(viewer->GetScreenRect().Intersects(m_caller->GetScreenRect()));
    // The caller stays as it was.
    EXPECT_TRUE(m_caller->IsShown());
    EXPECT_TRUE(m_caller->IsEnabled());
    EXPECT_EQ(m_caller->GetTitle(), "Caller");

    ClickLink(viewer->Html(), "range.htm");
    EXPECT_TRUE(PumpUntil([&] { return ShowsTopic(viewer, "range.htm"); }, 5000)) << viewer->CurrentPage();
    EXPECT_EQ(viewer->GetTitle(), "Tonvale Help - Audible Range Check");

    ClickLink(viewer->Html(), "question.htm");
    EXPECT_TRUE(PumpUntil([&] { return ShowsTopic(viewer, "question.htm"); }, 5000));
    EXPECT_EQ(viewer->GetTitle(), "Tonvale Help - Questionnaire");

    UserClick(viewer->FindWindow(wxID_BACKWARD));
    EXPECT_TRUE(PumpUntil([&] { return ShowsTopic(viewer, "range.htm"); }, 5000));
    UserClick(viewer->FindWindow(wxID_BACKWARD));
    EXPECT_TRUE(PumpUntil([&] { return ShowsTopic(viewer, "index.htm"); }, 5000));
    EXPECT_FALSE(viewer->FindWindow(wxID_BACKWARD)->IsEnabled());
    UserClick(viewer->FindWindow(wxID_FORWARD));
    EXPECT_TRUE(PumpUntil([&] { return ShowsTopic(viewer, "range.htm"); }, 5000));
}

TEST_F(HelpViewerTest, StaysUsableFromInsideAModalDialog)
{
    CAllowRealDialogs allow;
    CDialogWithHelp dlg("interval.htm");
    const int result = RunModalScript(dlg, [&] {
        UserClick(dlg.m_help);
        auto* viewer = dynamic_cast<CHelpViewer*>(dlg.m_result);
        ASSERT_NE(viewer, nullptr);
        EXPECT_EQ(viewer, ExistingHelpViewer());
        PumpEvents(200);
        ASSERT_TRUE(viewer->IsShown());
        EXPECT_TRUE(ShowsTopic(viewer, "interval.htm"));
        // The caller goes on as it was, and still takes input while help is open.
        EXPECT_TRUE(dlg.IsModal());
        EXPECT_TRUE(dlg.IsEnabled());
        UserClick(dlg.m_other);
        EXPECT_EQ(dlg.m_otherClicks, 1) << "the open help window blocks the dialog";

        // Keys reach the page: End scrolls to the bottom of the topic.
        wxHtmlWindow* html = viewer->Html();
        ASSERT_GT(html->GetVirtualSize().y, html->GetClientSize().y)
            << "the topic must be longer than the window";
        EXPECT_EQ(html->GetViewStart().y, 0);
        UserKey(WXK_END);
        EXPECT_TRUE(PumpUntil([&] { return html->GetViewStart().y > 0; }, 5000)) << "the key did not scroll";
        UserKey(WXK_HOME);
        EXPECT_TRUE(PumpUntil([&] { return html->GetViewStart().y == 0; }, 5000));

        // Clicks reach it: a link leads to another topic.
        ClickLink(html, "index.htm");
        EXPECT_TRUE(PumpUntil([&] { return ShowsTopic(viewer, "index.htm"); }, 5000))
            << viewer->CurrentPage();

        // Its Close button closes it; Help shows the same window again; Escape closes it too.
        UserClick(viewer->FindWindow(wxID_CLOSE));
        EXPECT_TRUE(PumpUntil([&] { return !viewer->IsShown(); }, 5000));
        UserClick(dlg.m_help);
        EXPECT_EQ(dlg.m_result, viewer);
        EXPECT_TRUE(PumpUntil([&] { return viewer->IsShown(); }, 5000));
        EXPECT_TRUE(ShowsTopic(viewer, "interval.htm"));
        // The keys go where the focus is: wait for it rather than for a fixed time, which a busy
        // machine outlasts.
        EXPECT_TRUE(PumpUntil(
            [&] {
                wxWindow* focus = wxWindow::FindFocus();
                return focus != nullptr && wxGetTopLevelParent(focus) == viewer;
            },
            5000))
            << "the help window did not take the focus";
        UserKey(WXK_ESCAPE);
        EXPECT_TRUE(PumpUntil([&] { return !viewer->IsShown(); }, 5000));
        EXPECT_TRUE(dlg.IsModal()) << "Escape in the help window must not end the dialog";
        UserClick(dlg.m_other);
        EXPECT_EQ(dlg.m_otherClicks, 2) << "the closed help window blocks the dialog";

        // The dialog itself still takes its input.
        UserClick(dlg.m_ok);
    });
    EXPECT_EQ(result, wxID_OK);
}

TEST_F(HelpViewerTest, ModalDialogBlocksAnOrdinaryWindow)
{
    // What the help window is kept out of: without that, a modal dialog takes all input, so the
    // test above could not pass by accident.
    CAllowRealDialogs allow;
    CDialogWithHelp dlg("index.htm");
    bool clicked = false;
    RunModalScript(dlg, [&] {
        auto* other = new wxFrame(nullptr, wxID_ANY, "Other", wxPoint(700, 40), wxSize(200, 120));
        auto* button = new wxButton(other, wxID_ANY, "Press");
        button->Bind(wxEVT_BUTTON, [&](wxCommandEvent&) { clicked = true; });
        other->Show();
        PumpEvents(200);
        UserClick(button);
        PumpEvents(200);
        other->Destroy();
        dlg.EndModal(wxID_OK);
    });
    EXPECT_FALSE(clicked);
}

TEST_F(HelpViewerTest, AHelpWindowOpenedBeforeADialogStaysUsableWhileItRuns)
{
    auto* viewer =
        dynamic_cast<CHelpViewer*>(HtmlHelp(m_caller, HELP_FILE_NAME, HH_DISPLAY_TOPIC, "index.htm"));
    ASSERT_NE(viewer, nullptr);
    PumpEvents(200);
    CAllowRealDialogs allow;
    wxDialog dlg(nullptr, wxID_ANY, "Questionneiare", wxPoint(40, 300), wxSize(240, 120));
    RunModalScript(dlg, [&] {
        PumpEvents(200);
        EXPECT_TRUE(viewer->IsEnabled());
        ClickLink(viewer->Html(), "question.htm");
        EXPECT_TRUE(PumpUntil([&] { return ShowsTopic(viewer, "question.htm"); }, 5000))
            << viewer->CurrentPage();
        dlg.EndModal(wxID_OK);
    });
    EXPECT_TRUE(viewer->IsEnabled());
}

TEST_F(HelpViewerTest, ReusesOneWindow)
{
    const size_t before = TopLevelWindowCount();
    wxWindow* first = HtmlHelp(m_caller, HELP_FILE_NAME, HH_DISPLAY_TOPIC, "index.htm");
    ASSERT_NE(first, nullptr);
    wxWindow* second = HtmlHelp(m_caller, HELP_FILE_NAME, HH_DISPLAY_TOPIC, "question.htm");
    EXPECT_EQ(second, first);
    EXPECT_TRUE(ShowsTopic(ExistingHelpViewer(), "question.htm"));
    EXPECT_EQ(TopLevelWindowCount(), before + 1);

    PumpEvents(200);
    first->Close();
    PumpEvents(100);
    EXPECT_FALSE(first->IsShown());
    EXPECT_EQ(HtmlHelp(m_caller, HELP_FILE_NAME, HH_DISPLAY_TOPIC, "range.htm"), first);
    EXPECT_TRUE(first->IsShown());
    EXPECT_TRUE(ShowsTopic(ExistingHelpViewer(), "range.htm"));
    EXPECT_EQ(TopLevelWindowCount(), before + 1);
}

TEST_F(HelpViewerTest, MissingHelpFileShowsNothing)
{
    // The working directory is empty, and so are the other places searched.
    CTempDir elsewhere;
    const size_t before = TopLevelWindowCount();
    EXPECT_EQ(ShowHelpTopic(m_caller, HELP_FILE_NAME, "index.htm", {m_dir.Path(), elsewhere.Path()}),
              nullptr);
    EXPECT_EQ(HtmlHelp(m_caller, "NoSuchHelp.chm", HH_DISPLAY_TOPIC, "index.htm"), nullptr);
    // A file of that name that is no compiled help file counts as missing.
    std::ofstream(elsewhere.Path() / "Tonvale.chm") << "<html>index.htm</html>";
    EXPECT_EQ(ShowHelpTopic(m_caller, HELP_FILE_NAME, "index.htm", {m_dir.Path(), elsewhere.Path()}),
              nullptr);
    PumpEvents(300); // a deferred log message would show as a message box here and fail the test
    EXPECT_EQ(ExistingHelpViewer(), nullptr);
    EXPECT_EQ(TopLevelWindowCount(), before);
    EXPECT_TRUE(m_caller->IsEnabled());
    EXPECT_TRUE(m_caller->IsShown());

    // An open help window stays as it was.
    CHelpViewer* viewer = ShowHelpTopic(m_caller, HELP_FILE_NAME, "range.htm", {PROGRAM_DIR});
    ASSERT_NE(viewer, nullptr);
    EXPECT_EQ(ShowHelpTopic(m_caller, HELP_FILE_NAME, "index.htm", {elsewhere.Path()}), nullptr);
    PumpEvents(200);
    EXPECT_TRUE(ShowsTopic(viewer, "range.htm"));
    EXPECT_TRUE(viewer->IsShown());
}

TEST_F(HelpViewerTest, MissingTopicShowsNothing)
{
    const size_t before = TopLevelWindowCount();
    EXPECT_EQ(ShowHelpTopic(m_caller, HELP_FILE_NAME, "nosuch.htm", {PROGRAM_DIR}), nullptr);
    EXPECT_EQ(ShowHelpTopic(m_caller, HELP_FILE_NAME, "", {PROGRAM_DIR}), nullptr);
    PumpEvents(300);
    EXPECT_EQ(ExistingHelpViewer(), nullptr);
    EXPECT_EQ(TopLevelWindowCount(), before);

    CHelpViewer* viewer = ShowHelpTopic(m_caller, HELP_FILE_NAME, "question.htm", {PROGRAM_DIR});
    ASSERT_NE(viewer, nullptr);
    EXPECT_EQ(ShowHelpTopic(m_caller, HELP_FILE_NAME, "nosuch.htm", {PROGRAM_DIR}), nullptr);
    // A link to a topic that is not there leaves the page, without a message.
    EXPECT_FALSE(viewer->ShowPage(ChmTopicLocation(PROGRAM_DIR / "Tonvale.chm", "nosuch.htm")));
    EXPECT_FALSE(viewer->ShowPage("nosuch.htm"));
    PumpEvents(300);
    EXPECT_TRUE(ShowsTopic(viewer, "question.htm"));
    EXPECT_TRUE(viewer->IsShown());
}

TEST_F(HelpViewerTest, OnlyTheDisplayTopicCommandShowsAnything)
{
    EXPECT_EQ(HtmlHelp(m_caller, HELP_FILE_NAME, HH_DISPLAY_TOPIC + 1, "index.htm"), nullptr);
    EXPECT_EQ(ExistingHelpViewer(), nullptr);
}

TEST_F(HelpViewerTest, TheWorkingDirectoryComesFirst)
{
    std::filesystem::copy_file(PROGRAM_DIR / "Tonvale.chm", m_dir.Path() / "Tonvale.chm");
    auto* viewer =
        dynamic_cast<CHelpViewer*>(HtmlHelp(m_caller, HELP_FILE_NAME, HH_DISPLAY_TOPIC, "range.htm"));
    ASSERT_NE(viewer, nullptr);
    EXPECT_NE(viewer->CurrentPage().find(wxString(m_dir.Path().string())), wxNOT_FOUND)
        << viewer->CurrentPage();
}

TEST_F(HelpViewerTest, LinksWorkWhereTheFolderNameHasSpacesAndHashes)
{
    const std::filesystem::path folder = m_dir.Path() / "my help #2 100%";
    std::filesystem::create_directory(folder);
    std::filesystem::copy_file(PROGRAM_DIR / "Tonvale.chm", folder / "Tonvale.chm");
    CHelpViewer* viewer = ShowHelpTopic(m_caller, HELP_FILE_NAME, "question.htm", {folder});
    ASSERT_NE(viewer, nullptr);
    PumpEvents(200);
    EXPECT_EQ(viewer->GetTitle(), "Tonvale Help - Questionnaire");
    ClickLink(viewer->Html(), "interval.htm");
    EXPECT_TRUE(PumpUntil([&] { return ShowsTopic(viewer, "interval.htm"); }, 5000)) << viewer->CurrentPage();
    EXPECT_EQ(viewer->GetTitle(), "Tonvale Help - Interval Check");
}
