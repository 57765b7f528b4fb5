// The help window under Xvfb, driven as a user drives it: clicks on links and buttons and keys
// through the X server, also over a modal dialog.
#include "help/CHelpViewer.h"
#include "help/ChmFileSystem.h"
#include "help/HtmlHelp.h"
#include "tests/support/ScopedCatalog.h"
#include "tests/support/TempDir.h"
#include "tests/support/WxTesting.h"
#include "ui/Catalog.h"
#include "ui/Language.h"

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
#include <memory>

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

// A window with a button that counts its clicks: whether a window still takes input.
struct SClickCounter {
    explicit SClickCounter(wxWindow* parent, const wxString& label)
        : button(new wxButton(parent, wxID_ANY, label))
    {
        button->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { ++clicks; });
    }
    wxButton* button;
    int clicks = 0;
};

// A dialog such as the checks are: a Help button that calls the help, another button, and Escape,
// which ends it as the checks' Escape does. It counts every key that reaches it.
class CDialogWithHelp : public wxDialog {
public:
    explicit CDialogWithHelp(const wxString& topic) : wxDialog(nullptr, wxID_ANY, "Interval Check")
    {
        m_help = new wxButton(this, wxID_ANY, "Help");
        auto* sizer = new wxBoxSizer(wxHORIZONTAL);
        sizer->Add(m_help, 0, wxALL, 10);
        sizer->Add(m_other.button, 0, wxALL, 10);
        SetSizerAndFit(sizer);
        m_help->Bind(wxEVT_BUTTON, [this, topic](wxCommandEvent&) {
            m_result = HtmlHelp(this, HELP_FILE_NAME, HH_DISPLAY_TOPIC, topic);
        });
        Bind(wxEVT_CHAR_HOOK, [this](wxKeyEvent& event) {
            ++m_keys;
            if (event.GetKeyCode() == WXK_ESCAPE && IsModal())
                EndModal(wxID_CANCEL);
            else
                event.Skip();
        });
    }
    wxButton* m_help;
    SClickCounter m_other{this, "Question"};
    wxWindow* m_result = nullptr;
    int m_keys = 0;
};

class HelpViewerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_caller = new wxFrame(nullptr, wxID_ANY, "Caller", wxPoint(40, 40), wxSize(300, 200));
        m_press = std::make_unique<SClickCounter>(m_caller, "Press");
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
    std::unique_ptr<SClickCounter> m_press; // the caller's button
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
    EXPECT_EQ(viewer->Owner(), m_caller);
    EXPECT_TRUE(ShowsTopic(viewer, "index.htm")) << viewer->CurrentPage();
    EXPECT_NE(viewer->CurrentPage().find(wxString((PROGRAM_DIR / "Tonvale.chm").string())), wxNOT_FOUND);
    EXPECT_EQ(viewer->GetTitle(), "Tonvale Help - Tonvale");
    EXPECT_FALSE(viewer->GetScreenRect().Intersects(m_caller->GetScreenRect()));
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

    // Its Close button closes it, and the caller takes its input again.
    UserClick(viewer->FindWindow(wxID_CLOSE));
    EXPECT_TRUE(PumpUntil([&] { return !viewer->IsShown(); }, 5000));
    UserClick(m_press->button);
    EXPECT_EQ(m_press->clicks, 1);
}

TEST_F(HelpViewerTest, OverAModalDialogItTakesTheKeysAndEscapeClosesOnlyIt)
{
    CAllowRealDialogs allow;
    CDialogWithHelp dlg("interval.htm");
    const int result = RunModalScript(dlg, [&] {
        UserClick(dlg.m_help);
        auto* viewer = dynamic_cast<CHelpViewer*>(dlg.m_result);
        ASSERT_NE(viewer, nullptr);
        EXPECT_EQ(viewer->Owner(), &dlg);
        ASSERT_TRUE(PumpUntil([&] { return viewer->IsShown(); }, 5000));
        EXPECT_TRUE(ShowsTopic(viewer, "interval.htm"));
        // Wait for the focus rather than for a fixed time, which a busy machine outlasts.
        EXPECT_TRUE(PumpUntil([&] { return FocusIn(viewer); }, 5000)) << "the help window took no focus";

        // Keys reach the page: End scrolls to the bottom of the topic.
        wxHtmlWindow* html = viewer->Html();
        ASSERT_GT(html->GetVirtualSize().y, html->GetClientSize().y)
            << "the topic must be longer than the window";
        EXPECT_EQ(html->GetViewStart().y, 0);
        UserKey(WXK_END);
        EXPECT_TRUE(PumpUntil([&] { return html->GetViewStart().y > 0; }, 5000)) << "the key did not scroll";
        UserKey(WXK_HOME);
        EXPECT_TRUE(PumpUntil([&] { return html->GetViewStart().y == 0; }, 5000));

        // A click into the page (its margin, away from any link) keeps the keys in the help window.
        wxUIActionSimulator sim;
        sim.MouseMove(html->ClientToScreen(wxPoint(3, 3)));
        PumpEvents(30);
        sim.MouseClick();
        PumpEvents(100);
        UserKey(WXK_SPACE);
        UserKey(WXK_RETURN);
        // Tab moves through the help window's own controls.
        UserKey(WXK_TAB);
        EXPECT_TRUE(PumpUntil([&] { return FocusIn(viewer) && wxWindow::FindFocus() != html; }, 5000));
        // The help window is modal over the dialog: a click on the dialog does nothing.
        UserClick(dlg.m_other.button);

        // Escape closes the help window, and the dialog goes on, keys back with it.
        UserKey(WXK_ESCAPE);
        EXPECT_TRUE(PumpUntil([&] { return !viewer->IsShown(); }, 5000));
        EXPECT_EQ(dlg.m_keys, 0) << "keys of the help window reached the dialog";
        EXPECT_EQ(dlg.m_other.clicks, 0) << "the dialog took a click while the help window was open";
        ASSERT_TRUE(dlg.IsModal()) << "Escape in the help window ended the dialog";
        EXPECT_TRUE(PumpUntil([&] { return FocusIn(&dlg); }, 5000))
            << "the dialog did not get the focus back";
        UserClick(dlg.m_other.button);
        EXPECT_EQ(dlg.m_other.clicks, 1) << "the closed help window blocks the dialog";

        // Help shows the same window again, over the dialog, with the focus.
        UserClick(dlg.m_help);
        EXPECT_EQ(dlg.m_result, viewer);
        EXPECT_TRUE(PumpUntil([&] { return viewer->IsShown() && FocusIn(viewer); }, 5000));
        UserClick(viewer->FindWindow(wxID_CLOSE));
        EXPECT_TRUE(PumpUntil([&] { return !viewer->IsShown() && FocusIn(&dlg); }, 5000));

        // The dialog's own Escape still ends it.
        UserKey(WXK_ESCAPE);
    });
    EXPECT_EQ(result, wxID_CANCEL);
}

TEST_F(HelpViewerTest, GoesWhenItsOwnerIsHiddenOrDestroyed)
{
    // Hidden: a dialog ended while its help is open leaves nothing modal behind.
    {
        CAllowRealDialogs allow;
        CDialogWithHelp dlg("range.htm");
        RunModalScript(dlg, [&] {
            UserClick(dlg.m_help);
            ASSERT_NE(dlg.m_result, nullptr);
            EXPECT_TRUE(PumpUntil([&] { return dlg.m_result->IsShown(); }, 5000));
            dlg.EndModal(wxID_OK);
        });
        PumpEvents(100);
        ASSERT_NE(ExistingHelpViewer(), nullptr);
        EXPECT_FALSE(ExistingHelpViewer()->IsShown());
        UserClick(m_press->button);
        EXPECT_EQ(m_press->clicks, 1) << "the help window of a hidden dialog blocks the other windows";
    }
    // Destroyed with its owner.
    EXPECT_EQ(ExistingHelpViewer(), nullptr);
    auto* owner = new CDialogWithHelp("index.htm");
    owner->Show();
    PumpEvents(100);
    UserClick(owner->m_help);
    ASSERT_NE(owner->m_result, nullptr);
    EXPECT_TRUE(PumpUntil([&] { return owner->m_result->IsShown(); }, 5000));
    owner->Destroy();
    PumpEvents(200);
    EXPECT_EQ(ExistingHelpViewer(), nullptr);
    UserClick(m_press->button);
    EXPECT_EQ(m_press->clicks, 2) << "the help window of a destroyed dialog blocks the other windows";
}

TEST_F(HelpViewerTest, OneWindowPerOwner)
{
    const size_t before = TopLevelWindowCount();
    wxWindow* first = HtmlHelp(m_caller, HELP_FILE_NAME, HH_DISPLAY_TOPIC, "index.htm");
    ASSERT_NE(first, nullptr);
    wxWindow* second = HtmlHelp(m_caller, HELP_FILE_NAME, HH_DISPLAY_TOPIC, "question.htm");
    EXPECT_EQ(second, first);
    EXPECT_TRUE(ShowsTopic(ExistingHelpViewer(), "question.htm"));
    EXPECT_EQ(TopLevelWindowCount(), before + 1);

    // Closed, it is only hidden, and the same owner's next Help shows it again.
    PumpEvents(200);
    first->Close();
    PumpEvents(100);
    EXPECT_FALSE(first->IsShown());
    EXPECT_EQ(HtmlHelp(m_caller, HELP_FILE_NAME, HH_DISPLAY_TOPIC, "range.htm"), first);
    EXPECT_TRUE(first->IsShown());
    EXPECT_TRUE(ShowsTopic(ExistingHelpViewer(), "range.htm"));
    EXPECT_EQ(TopLevelWindowCount(), before + 1);
    first->Close();

    // Another window gets a help window of its own, and the first one goes.
    auto* other = new wxFrame(nullptr, wxID_ANY, "Other");
    other->Show();
    auto* third = dynamic_cast<CHelpViewer*>(HtmlHelp(other, HELP_FILE_NAME, HH_DISPLAY_TOPIC, "index.htm"));
    ASSERT_NE(third, nullptr);
    EXPECT_NE(third, first);
    EXPECT_EQ(third->Owner(), other);
    EXPECT_EQ(ExistingHelpViewer(), third);
    PumpEvents(100);
    EXPECT_EQ(TopLevelWindowCount(), before + 2); // the other window and its help
    other->Destroy();
    PumpEvents(100);
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

TEST_F(HelpViewerTest, ShowsTheHelpOfTheCatalogLanguage)
{
    {
        const SCatalog japanese("ja_JP.UTF-8");
        ASSERT_EQ(japanese.language, "ja");
        auto* viewer =
            dynamic_cast<CHelpViewer*>(HtmlHelp(m_caller, HELP_FILE_NAME, HH_DISPLAY_TOPIC, "range.htm"));
        ASSERT_NE(viewer, nullptr);
        PumpEvents(200);
        EXPECT_NE(viewer->CurrentPage().find(wxString((PROGRAM_DIR / "ja" / "Tonvale.chm").string())),
                  wxNOT_FOUND)
            << viewer->CurrentPage();
        // Read as UTF-8, as the page declares: read as Latin-1 it would be mojibake.
        EXPECT_EQ(viewer->GetTitle(), wxString::FromUTF8("Tonvale ヘルプ - 可聴域診断"));
        EXPECT_NE(viewer->Html()->ToText().find(wxString::FromUTF8("聞こえたいちばん高い周波数")),
                  wxNOT_FOUND);
        EXPECT_EQ(viewer->FindWindow(wxID_BACKWARD)->GetLabel(), wxString::FromUTF8("戻る(&B)"));
        EXPECT_EQ(viewer->FindWindow(wxID_CLOSE)->GetLabel(), wxString::FromUTF8("閉じる(&C)"));

        // Links stay within the Japanese file.
        ClickLink(viewer->Html(), "interval.htm");
        EXPECT_TRUE(PumpUntil([&] { return ShowsTopic(viewer, "interval.htm"); }, 5000))
            << viewer->CurrentPage();
        EXPECT_EQ(viewer->GetTitle(), wxString::FromUTF8("Tonvale ヘルプ - 音程識別能力診断"));
        viewer->Destroy();
        PumpEvents(100);
    }
    // The English catalog shows the English help (the notices it quotes in English too), in a
    // window with the English texts.
    const SCatalog english("en_US.UTF-8");
    ASSERT_EQ(english.language, "en");
    auto* viewer =
        dynamic_cast<CHelpViewer*>(HtmlHelp(m_caller, HELP_FILE_NAME, HH_DISPLAY_TOPIC, "range.htm"));
    ASSERT_NE(viewer, nullptr);
    EXPECT_NE(viewer->CurrentPage().find(wxString((PROGRAM_DIR / "en" / "Tonvale.chm").string())),
              wxNOT_FOUND)
        << viewer->CurrentPage();
    EXPECT_EQ(viewer->GetTitle(), "Tonvale Help - Audible Range Check");
    EXPECT_EQ(viewer->FindWindow(wxID_BACKWARD)->GetLabel(), "&Back");
}
