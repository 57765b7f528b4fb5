// The main window driven as a user drives it: clicks and keys through the X server, message boxes
// answered through wxWidgets' testing hooks.
#include "app/CAboutDlg.h"
#include "app/CMainDlg.h"
#include "checklog/CheckLog.h"
#include "diagnoses/SoundCardLimit.h"
#include "help/CHelpViewer.h"
#include "questionnaire/QuestionnaireCommands.h"
#include "report/ReportPage.h"
#include "results/ResultRecord.h"
#include "tests/support/TempDir.h"
#include "tests/support/WxTesting.h"
#include "ui/DialogResources.h"

#include <gtest/gtest.h>
#include <wx/button.h>
#include <wx/statbmp.h>
#include <wx/stattext.h>
#include <wx/xrc/xmlres.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

namespace {

std::vector<unsigned char> ReadBytes(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteBytes(const std::filesystem::path& path, const std::vector<unsigned char>& bytes)
{
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

std::string Label(wxWindow* dlg, int id)
{
    wxWindow* control = dlg->FindWindow(id);
    return control != nullptr ? std::string(control->GetLabel().utf8_str().data()) : std::string("<missing>");
}

class MainWindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ResetResultRecord();
        SoundCardLimit = SOUND_CARD_UNCHECKED;
    }
    void TearDown() override { SoundCardLimit = SOUND_CARD_UNCHECKED; }

    CTempDir m_dir;
    CWorkingDirectory m_cwd{m_dir.Path()};
};

std::vector<unsigned char> FreshRecordBytes()
{
    std::vector<unsigned char> bytes(40, 0xFF);
    bytes.insert(bytes.end(), 4, 0x00);
    return bytes;
}

} // namespace

TEST_F(MainWindowTest, ShowsEnglishCaptionsInTabOrderWithFocusOnQuit)
{
    CMainDlg dlg;
    RunModalScript(dlg, [&] {
        EXPECT_EQ(dlg.GetTitle(), "Tonvale");
        EXPECT_EQ(Label(&dlg, wxID_OK), "Quit");
        EXPECT_EQ(Label(&dlg, IDC_HELP), "Help");
        EXPECT_EQ(Label(&dlg, IDC_SEND_RESULT), "Send Result");
        EXPECT_EQ(Label(&dlg, IDC_SHOW_RESULT), "Show Result");
        EXPECT_EQ(Label(&dlg, IDC_CHECK_INTERVAL), "Check Interval");
        EXPECT_EQ(Label(&dlg, IDC_CHECK_RANGE), "Check Range");
        EXPECT_EQ(Label(&dlg, IDC_CHECK_SOUNDCARD), "Check Sound Card");

        // The buttons form one column: sound card at the top, Quit at the bottom.
        const int soundCardY = dlg.FindWindow(IDC_CHECK_SOUNDCARD)->GetPosition().y;
        const int rangeY = dlg.FindWindow(IDC_CHECK_RANGE)->GetPosition().y;
        const int quitY = dlg.FindWindow(wxID_OK)->GetPosition().y;
        EXPECT_LT(soundCardY, rangeY);
        EXPECT_LT(rangeY, quitY);
        EXPECT_EQ(dlg.FindWindow(IDC_CHECK_RANGE)->GetSize(), dlg.ConvertDialogToPixels(wxSize(137, 25)));

        // Tab order is the template's order, starting at Quit.
        PumpEvents(100);
        EXPECT_EQ(wxWindow::FindFocus(), dlg.FindWindow(wxID_OK));
        const std::vector<int> tabOrder = {IDC_CHECK_RANGE, IDC_CHECK_INTERVAL, IDC_SEND_RESULT,
                                           IDC_SHOW_RESULT, IDC_HELP,           IDC_CHECK_SOUNDCARD};
        for (int id : tabOrder) {
            UserKey(WXK_TAB);
            wxWindow* focus = wxWindow::FindFocus();
            EXPECT_EQ(focus != nullptr ? focus->GetId() : -1, id);
        }
        dlg.EndModal(wxID_CANCEL);
    });
}

TEST_F(MainWindowTest, TemplateCarriesTheJapaneseCaptions)
{
    // The resource keeps the Japanese captions; the window replaces them when it opens.
    wxDialog raw;
    ASSERT_TRUE(LoadDialogResource(&raw, nullptr, "IDD_MAIN"));
    EXPECT_EQ(raw.GetTitle().utf8_str().data(), std::string("可聴域＆音程識別能力診断ツール"));
    EXPECT_EQ(Label(&raw, wxID_OK), "終了");
    EXPECT_EQ(Label(&raw, IDC_CHECK_SOUNDCARD), "サウンドーカード診断");
    EXPECT_EQ(Label(&raw, IDC_SHOW_RESULT), "アンケート結果参照");
    raw.Destroy();
}

TEST_F(MainWindowTest, RangeCheckIsRefusedUntilTheSoundCardCheckPassed)
{
    CMainDlg dlg;
    RunModalScript(dlg, [&] {
        wxWindow* range = dlg.FindWindow(IDC_CHECK_RANGE);
        wxTEST_DIALOG(UserClick(range),
                      CExpectMessageBox("まず、サウンドカードのチェックを完了させてください。"));

        SoundCardLimit = 19998.4375;
        wxTEST_DIALOG(UserClick(range),
                      CExpectMessageBox("ご使用のサウンドカードでは正確な測定が行えません。"));

        // Exactly the full range opens the check.
        SoundCardLimit = MAX_MEASURED_HZ;
        wxTEST_DIALOG(UserClick(range), CExpectDialogTitled("Range Check", wxID_CANCEL));
        dlg.EndModal(wxID_CANCEL);
    });
}

TEST_F(MainWindowTest, QuitWritesTheFortyFourByteRecord)
{
    {
        CMainDlg dlg;
        const int result = RunModalScript(dlg, [&] { UserClick(dlg.FindWindow(wxID_OK)); });
        EXPECT_EQ(result, wxID_OK);
    }
    EXPECT_EQ(ReadBytes(m_dir.Path() / "result.dat"), FreshRecordBytes());
}

// The main window keeps the run's log in result.dat's folder, held from the start as result.dat is:
// a working directory changed later does not move it, and the log is handed back at the end.
TEST_F(MainWindowTest, TheLogStaysBesideResultDatWhenTheWorkingDirectoryChanges)
{
    CTempDir elsewhere;
    {
        CMainDlg dlg;
        CWorkingDirectory moved(elsewhere.Path());
        ASSERT_NE(CurrentCheckLog(), nullptr);
        EXPECT_FALSE(LogQuestionnaireSent("30 years old"));
    }
    EXPECT_EQ(CurrentCheckLog(), nullptr);
    EXPECT_FALSE(std::filesystem::exists(elsewhere.Path() / CHECK_LOG_NAME));
    const int dirFd = ::open(m_dir.Path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    const auto rows = ParseCheckLog(ReadCheckLogAt(dirFd));
    ::close(dirFd);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].answer, "30 years old");
}

TEST_F(MainWindowTest, EscapeEndsWithoutWriting)
{
    // An existing file keeps its content, and no file appears where there was none.
    std::vector<unsigned char> stored = FreshRecordBytes();
    stored[0] = 0x1E;
    stored[1] = stored[2] = stored[3] = 0x00;
    WriteBytes(m_dir.Path() / "result.dat", stored);
    {
        CMainDlg dlg;
        EXPECT_EQ(ResultRecord.m_lowestHz, 30);
        ResultRecord.m_highestHz = 15000;
        const int result = RunModalScript(dlg, [&] { UserKey(WXK_ESCAPE); });
        EXPECT_EQ(result, wxID_CANCEL);
    }
    EXPECT_EQ(ReadBytes(m_dir.Path() / "result.dat"), stored);

    std::filesystem::remove(m_dir.Path() / "result.dat");
    {
        CMainDlg dlg;
        RunModalScript(dlg, [&] { UserKey(WXK_ESCAPE); });
    }
    EXPECT_FALSE(std::filesystem::exists(m_dir.Path() / "result.dat"));
}

TEST_F(MainWindowTest, ForeignResultFileIsLeftAloneWithANoticeAtStartAndAtQuit)
{
    const char* const notice =
        "result.dat は Tonvale "
        "の結果ファイルではないため、読み込みも上書きもしません。今回の結果は保存されません。";
    std::vector<unsigned char> foreign = FreshRecordBytes();
    foreign[0] = 0x1E;
    foreign.resize(1492, 0x41);
    WriteBytes(m_dir.Path() / "result.dat", foreign);
    {
        std::unique_ptr<CMainDlg> dlg;
        wxTEST_DIALOG(dlg = std::make_unique<CMainDlg>(), CExpectMessageBox(notice));
        EXPECT_EQ(ResultRecord.m_lowestHz, NOT_MEASURED);
        ResultRecord.m_lowestHz = 30;
        ResultRecord.m_sent = 1; // no questionnaire offer at Quit
        const int result = RunModalScript(
            *dlg, [&] { wxTEST_DIALOG(UserClick(dlg->FindWindow(wxID_OK)), CExpectMessageBox(notice)); });
        EXPECT_EQ(result, wxID_OK);
    }
    EXPECT_EQ(ReadBytes(m_dir.Path() / "result.dat"), foreign);
}

TEST_F(MainWindowTest, LoadsAStoredSentFlag)
{
    std::vector<unsigned char> stored = FreshRecordBytes();
    stored[40] = 0x01;
    WriteBytes(m_dir.Path() / "result.dat", stored);
    CMainDlg dlg;
    EXPECT_EQ(ResultRecord.m_sent, 1);
    EXPECT_EQ(ResultRecord.m_lowestHz, NOT_MEASURED);
    // Every run starts unchecked, whatever the file holds.
    EXPECT_EQ(SoundCardLimit, SOUND_CARD_UNCHECKED);
    dlg.Destroy();
}

TEST_F(MainWindowTest, ContextMenuOpensTheAboutBox)
{
    EXPECT_EQ(CMainDlg::AboutMenuText().utf8_str().data(), std::string("Tonvale のﾊﾞｰｼﾞｮﾝ情報(&A)..."));
    CMainDlg dlg;
    bool aboutShown = false;
    RunModalScript(dlg, [&] {
        // The menu runs its own loop: choose its entry from inside it, by keyboard.
        AfterDelay(600, [] {
            UserKey(WXK_DOWN);
            UserKey(WXK_RETURN);
        });
        wxTEST_DIALOG(UserClick(dlg.FindWindow(IDC_HELP), wxMOUSE_BTN_RIGHT);
                      PumpEvents(1200),
                      CExpectDialogTitled("Tonvaleのﾊﾞｰｼﾞｮﾝ情報", wxID_OK, [&](wxDialog* about) {
                          aboutShown = true;
                          auto* version = ControlById<wxStaticText>(about, XRCID("IDC_ABOUT_VERSION"));
                          ASSERT_NE(version, nullptr);
                          EXPECT_EQ(version->GetLabel(), "Tonvale Version 1.0");
                          auto* icon = ControlById<wxStaticBitmap>(about, XRCID("IDC_ABOUT_ICON"));
                          ASSERT_NE(icon, nullptr);
                          EXPECT_EQ(icon->GetBitmap().GetWidth(), 32);
                      }));
        dlg.EndModal(wxID_CANCEL);
    });
    EXPECT_TRUE(aboutShown);
}

TEST_F(MainWindowTest, MenuKeyOpensTheAboutBoxByKeyboardAlone)
{
    for (const int key : {int(WXK_MENU), int(WXK_F10)}) {
        CMainDlg dlg;
        bool aboutShown = false;
        RunModalScript(dlg, [&] {
            AfterDelay(600, [] {
                UserKey(WXK_DOWN);
                UserKey(WXK_RETURN);
            });
            wxTEST_DIALOG(UserKey(key, key == WXK_F10 ? wxMOD_SHIFT : 0);
                          PumpEvents(1200), CExpectDialogTitled("Tonvaleのﾊﾞｰｼﾞｮﾝ情報", wxID_OK,
                                                                [&](wxDialog*) { aboutShown = true; }));
            dlg.EndModal(wxID_CANCEL);
        });
        EXPECT_TRUE(aboutShown) << "key " << key;
    }
}

TEST_F(MainWindowTest, MyResultsWritesThePageAndOpensItByKeyboardAlone)
{
    // A cache folder that is not there yet: it is made, private.
    CTempDir cache;
    ::setenv("XDG_CACHE_HOME", (cache.Path() / "cache").c_str(), 1);
    std::vector<std::string> opened;
    BrowserLauncher previous =
        SetBrowserLauncher([&](const std::string& url, wxWindow*) { opened.push_back(url); });
    // A damaged log (see the report's own tests) must not bring the program down with this run's
    // measurements.
    std::ofstream(m_dir.Path() / CHECK_LOG_NAME, std::ios::binary)
        << CHECK_LOG_HEADER << "\r\n"
        << FormatLogRow("2026-12-01T10:00:00.000+09:00", "r1",
                        {LogCheck::Questionnaire, LogKind::Questionnaire, "", "", "65 years old",
                         LogJudgement::None, ""})
        << FormatLogRow("2026-12-01T10:00:00.000+09:00", "r1",
                        {LogCheck::Interval, LogKind::Result, "440", "", "", LogJudgement::None,
                         "100000000000000000000"})
        << std::string(10'000'000, 'x');
    ResultRecord.m_highestHz = 14321;
    CTempDir elsewhere;
    {
        CMainDlg dlg;
        // The log is read beside result.dat, not in the working directory of the moment.
        CWorkingDirectory moved(elsewhere.Path());
        RunModalScript(dlg, [&] {
            // About comes first in the menu, My Results after it.
            AfterDelay(600, [] {
                UserKey(WXK_DOWN);
                UserKey(WXK_DOWN);
                UserKey(WXK_RETURN);
            });
            UserKey(WXK_MENU);
            PumpUntil([&] { return !opened.empty(); }, 3000);
            dlg.EndModal(wxID_CANCEL);
        });
    }
    SetBrowserLauncher(previous);
    ::unsetenv("XDG_CACHE_HOME");

    const std::filesystem::path folder = cache.Path() / "cache" / "tonvale";
    const std::filesystem::path page = folder / REPORT_PAGE_NAME;
    EXPECT_EQ(opened, std::vector<std::string>{FileUrl(page.string())});
    EXPECT_EQ(std::filesystem::status(folder).permissions(), std::filesystem::perms::owner_all);
    EXPECT_EQ(std::filesystem::status(page).permissions(),
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    // The measurement of this run, not yet saved, and the age band from the log beside result.dat.
    std::ifstream in(page);
    const std::string html{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    EXPECT_NE(html.find("<strong>14321 Hz</strong>"), std::string::npos);
    EXPECT_NE(html.find("61 to 70 years: no listener heard 18 kHz. (your age band)"), std::string::npos);
    EXPECT_NE(html.find(">2 entries of tonvale-log.csv"), std::string::npos);
}

TEST_F(MainWindowTest, HelpShowsTheIndexTopicOverTheWindowWhichIsUsableOnceHelpCloses)
{
    // Tonvale.chm lies beside the test program, as it lies beside tonvale in the build. (Without a
    // help file nothing is shown: the program's process test checks that.)
    CMainDlg dlg;
    const int result = RunModalScript(dlg, [&] {
        UserClick(dlg.FindWindow(IDC_HELP));
        ASSERT_TRUE(PumpUntil(
            [] { return ExistingHelpViewer() != nullptr && ExistingHelpViewer()->IsShown(); }, 5000));
        CHelpViewer* viewer = ExistingHelpViewer();
        EXPECT_TRUE(viewer->CurrentPage().EndsWith("index.htm")) << viewer->CurrentPage().utf8_str().data();
        EXPECT_EQ(viewer->Owner(), &dlg);
        // Help is modal over the window it was asked from: Escape closes the help, not Tonvale.
        ASSERT_TRUE(PumpUntil([&] { return FocusIn(viewer); }, 5000)) << "the help window took no focus";
        UserKey(WXK_ESCAPE);
        ASSERT_TRUE(PumpUntil([&] { return !viewer->IsShown(); }, 5000));
        ASSERT_TRUE(dlg.IsModal()) << "Escape in help ended the main window";
        FocusTopLevel(&dlg);
        UserClick(dlg.FindWindow(wxID_OK));
    });
    EXPECT_EQ(result, wxID_OK);
    EXPECT_TRUE(std::filesystem::exists(m_dir.Path() / "result.dat"));
    if (CHelpViewer* viewer = ExistingHelpViewer())
        viewer->Destroy();
    PumpEvents(50);
}
