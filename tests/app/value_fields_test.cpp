// Every read-only value field of the dialogs shows its longest value whole, and every caption of
// every window fits its control, in the fonts the build installs and in each language: the text's
// extent in the control's own font fits the width GTK leaves for it.
#include "app/CAboutDlg.h"
#include "app/CMainDlg.h"
#include "diagnoses/CIntervalDlg.h"
#include "diagnoses/CRangeDlg.h"
#include "diagnoses/CSoundCardDlg.h"
#include "questionnaire/CQuestionnaireDlg.h"
#include "tests/support/ShowsJapanese.h"
#include "ui/Catalog.h"
#include "ui/DialogResources.h"
#include "ui/Language.h"

#include "tests/support/TempDir.h"
#include "tests/support/WxTesting.h"

#include <gtest/gtest.h>
#include <wx/button.h>
#include <wx/dialog.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

#include <gtk/gtk.h>

#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace {

struct ValueField {
    const char* dialog;
    int id;
    const char* longest;
};

// The longest text each field can show: "not finished" for a missing measurement, 22050 Hz for a
// frequency, 1200 cents for an interval, "%6.2f" of the interval check's highest band and of the
// sound card check's highest test frequency.
std::vector<ValueField> Fields()
{
    std::vector<ValueField> fields = {
        {"IDD_QUESTIONNAIRE", 1014, "2008/12/31 23:59:59"},
        {"IDD_QUESTIONNAIRE", 1015, "22050"},
        {"IDD_QUESTIONNAIRE", 1024, "1200"},
        {"IDD_INTERVAL", 1008, "7040.00"},
        {"IDD_INTERVAL", 1010, "1200"},
        {"IDD_RANGE", 1004, "22050"},
        {"IDD_RANGE", 1005, "22050"},
        {"IDD_RANGE", 1006, "22050"},
        {"IDD_SOUNDCARD", 1006, "20000.00"},
        {"IDD_SOUNDCARD", 1007, "20000.00"},
    };
    for (int id = 1015; id <= 1024; ++id)
        fields.push_back({"IDD_QUESTIONNAIRE", id, "not finished"});
    return fields;
}

// Under the Japanese catalog (today's texts) and the English one.
class InEachLanguage : public ::testing::TestWithParam<const char*> {
protected:
    void SetUp() override { InstallCatalog(GetParam()); }
    void TearDown() override { InstallCatalog("C"); }
};

TEST_P(InEachLanguage, LongestValuesFitTheirFields)
{
    std::string dialogName;
    wxDialog* dialog = nullptr;
    for (const ValueField& field : Fields()) {
        SCOPED_TRACE(std::string(field.dialog) + " " + std::to_string(field.id) + " \"" + field.longest +
                     "\"");
        if (dialogName != field.dialog) {
            if (dialog != nullptr)
                dialog->Destroy();
            dialog = new wxDialog;
            dialogName = field.dialog;
            ASSERT_TRUE(LoadDialogResource(dialog, nullptr, field.dialog));
            dialog->Show();
            PumpEvents(150);
        }
        auto* edit = ControlById<wxTextCtrl>(dialog, field.id);
        ASSERT_NE(edit, nullptr);
        edit->Show();
        const wxString longest = U8(Translate(field.longest));
        edit->ChangeValue(longest);
        PumpEvents(30);
        GdkRectangle area{};
        gtk_entry_get_text_area(GTK_ENTRY(edit->GetHandle()), &area);
        const int extent = edit->GetTextExtent(longest).x;
        EXPECT_GT(area.width, 0);
        EXPECT_LE(extent, area.width)
            << "font " << edit->GetFont().GetNativeFontInfoUserDesc().utf8_str().data();
    }
    if (dialog != nullptr)
        dialog->Destroy();
    PumpEvents(50);
}

// Each window as the program opens it, captions replaced: every button's and label's text fits
// its control on one line (a button leaves room for its frame), and under English none is
// Japanese.
TEST_P(InEachLanguage, EveryCaptionFitsAndSpeaksTheLanguage)
{
    CTempDir dir;
    CWorkingDirectory cwd(dir.Path());
    CAllowRealDialogs allow;
    // The captions a button takes later, as its check goes on.
    using Later = std::vector<std::pair<int, std::vector<std::string>>>;
    const auto states = [](std::string (*caption)(int), int last) {
        std::vector<std::string> captions;
        for (int state = 0; state <= last; ++state)
            captions.push_back(caption(state));
        return captions;
    };
    const std::vector<std::pair<std::function<std::unique_ptr<wxDialog>()>, Later>> windows = {
        {[] { return std::make_unique<CMainDlg>(); }, {}},
        {[] { return std::make_unique<CAboutDlg>(); }, {}},
        {[] { return std::make_unique<CSoundCardDlg>(); },
         {{wxID_OK, {Translate("Pause"), Translate("heard no sound"), Translate("終了")}},
          {IDC_SOUNDCARD_SOUND, states(CSoundCardProcedure::SoundCaption, SOUNDCARD_INTRODUCTION_PLAYED)}}},
        {[] { return std::make_unique<CRangeDlg>(); },
         {{wxID_OK, {Translate("Terminate"), Translate("Finish")}},
          {IDC_RANGE_QUESTION, states(CRangeProcedure::QuestionCaption, RANGE_FINISHING)}}},
        {[] { return std::make_unique<CIntervalDlg>(); },
         {{wxID_OK, {Translate("Terminate"), Translate("終了")}},
          {IDC_INTERVAL_QUESTION, states(CIntervalProcedure::QuestionCaption, INTERVAL_FINISHED)}}},
        {[] { return std::make_unique<CQuestionnaireDlg>(); }, {}},
    };
    const bool english = std::string(GetParam()) == "en_US.UTF-8";
    for (const auto& [open, later] : windows) {
        std::unique_ptr<wxDialog> dialog = open();
        dialog->Show();
        PumpEvents(100);
        const std::string title = dialog->GetTitle().utf8_string();
        SCOPED_TRACE(title);
        std::vector<wxWindow*> controls(dialog->GetChildren().begin(), dialog->GetChildren().end());
        int captions = 0;
        for (wxWindow* control : controls) {
            const bool button = dynamic_cast<wxButton*>(control) != nullptr;
            if (!button && dynamic_cast<wxStaticText*>(control) == nullptr)
                continue;
            ++captions;
            const wxString label = wxControl::RemoveMnemonics(control->GetLabel());
            SCOPED_TRACE(label.utf8_string());
            if (english) {
                EXPECT_FALSE(ShowsJapanese(label.utf8_string()));
            }
            // Several lines (a message field) wrap on their own; a caption must fit on one.
            if (label.Contains("\n") || control->GetSize().y > 2 * control->GetCharHeight())
                continue;
            const int room = control->GetClientSize().x - (button ? 8 : 0);
            EXPECT_LE(control->GetTextExtent(label).x, room);
        }
        EXPECT_GE(captions, 2);
        for (const auto& [id, texts] : later) {
            wxWindow* button = dialog->FindWindow(id);
            ASSERT_NE(button, nullptr) << id;
            for (const std::string& text : texts) {
                EXPECT_LE(button->GetTextExtent(U8(text)).x, button->GetClientSize().x - 8) << text;
                if (english) {
                    EXPECT_FALSE(ShowsJapanese(text)) << text;
                }
            }
        }
        if (english) {
            EXPECT_FALSE(ShowsJapanese(dialog->GetTitle().utf8_string()));
        }
        dialog->Hide();
    }
}

INSTANTIATE_TEST_SUITE_P(Languages, InEachLanguage, ::testing::Values("ja_JP.UTF-8", "en_US.UTF-8"),
                         [](const auto& info) { return std::string(info.param).substr(0, 2); });

} // namespace
