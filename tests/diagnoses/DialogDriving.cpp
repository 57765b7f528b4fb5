#include "tests/diagnoses/DialogDriving.h"

#include "diagnoses/SoundCardLimit.h"
#include "help/CHelpViewer.h"
#include "results/ResultRecord.h"

#include <wx/button.h>
#include <wx/dialog.h>
#include <wx/msgdlg.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>
#include <wx/toplevel.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#ifdef __WXGTK__
#include <gtk/gtk.h>
#endif

void CDiagnosisDialogTest::SetUp()
{
    ResetResultRecord();
    SoundCardLimit = SOUND_CARD_UNCHECKED;
    ASSERT_TRUE(m_recorder.Ok()) << m_recorder.Error();
    m_start = m_recorder.Samples();
}

void CDiagnosisDialogTest::TearDown()
{
    SoundCardLimit = SOUND_CARD_UNCHECKED;
    if (HasFailure()) {
        const auto path =
            std::filesystem::current_path() /
            (std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) + ".wav");
        m_recorder.SaveWav(path, m_start, m_recorder.Samples());
        std::printf("recording kept in %s\n", path.c_str());
    }
}

std::vector<float> CDiagnosisDialogTest::RecordedSince(std::int64_t from, int settleMs)
{
    PumpEvents(settleMs);
    return m_recorder.Read(from, m_recorder.Samples());
}

CScriptNextDialog::CScriptNextDialog(std::function<void(wxDialog*)> script) : m_script(std::move(script))
{
    Register();
}

CScriptNextDialog::~CScriptNextDialog()
{
    Unregister();
}

int CScriptNextDialog::Enter(wxDialog* dialog)
{
    if (m_entered || dynamic_cast<wxMessageDialog*>(dialog) != nullptr)
        return wxID_NONE;
    m_entered = true;
    // The script runs once the dialog's own loop is running.
    Later([this, dialog] {
        m_script(dialog);
        m_ran = true;
        if (PumpUntil([dialog] { return !dialog->IsModal(); }, 3000))
            return;
        if (!::testing::Test::HasFailure())
            ADD_FAILURE() << "the script left the dialog open";
        dialog->EndModal(wxID_CANCEL);
    });
    return wxID_NONE;
}

int RunDialog(wxDialog& dialog, std::function<void()> script, int timeoutMs)
{
    return RunModalScript(
        dialog,
        [&dialog, script = std::move(script)] {
            script();
            // A key or click that ends the dialog may wait behind a tone that blocks the dialog.
            if (PumpUntil([&dialog] { return !dialog.IsModal(); }, 3000))
                return;
            if (!::testing::Test::HasFailure())
                ADD_FAILURE() << "the script left the dialog open";
            dialog.EndModal(wxID_CANCEL);
        },
        timeoutMs);
}

void ChooseEntry(wxChoice* choice, int index)
{
    ASSERT_NE(choice, nullptr);
    ASSERT_TRUE(choice->IsShown());
    UserClick(choice);
    PumpEvents(250);
    // The open list starts on the entry that is selected now.
    int current = choice->GetSelection();
    if (current < 0)
        current = 0;
    const int key = index > current ? WXK_DOWN : WXK_UP;
    for (int i = 0; i < std::abs(index - current); ++i)
        UserKey(key);
    UserKey(WXK_RETURN);
    PumpEvents(150);
}

void ChooseAnswer(wxChoice* answers, int index)
{
    ChooseEntry(answers, index);
    ASSERT_EQ(answers->GetSelection(), index);
}

void ClickAndAwaitSound(wxWindow* button)
{
    UserClick(button);
    EXPECT_TRUE(PumpUntil([&] { return button->IsEnabled(); }, 3000)) << "the tone was never judged";
}

std::string ClickHelp(wxWindow* helpButton)
{
    UserClick(helpButton);
    PumpUntil([] { return ExistingHelpViewer() != nullptr && ExistingHelpViewer()->IsShown(); }, 3000);
    CHelpViewer* viewer = ExistingHelpViewer();
    if (viewer == nullptr)
        return "";
    const std::string page = viewer->CurrentPage().utf8_str().data();
    viewer->Destroy();
    PumpEvents(100);
    return page;
}

std::string TextOf(wxWindow* parent, int id)
{
    wxWindow* control = parent->FindWindow(id);
    if (control == nullptr)
        return "<missing>";
    if (auto* edit = dynamic_cast<wxTextCtrl*>(control))
        return edit->GetValue().utf8_str().data();
    if (auto* choice = dynamic_cast<wxChoice*>(control))
        return choice->GetStringSelection().utf8_str().data();
    if (auto* label = dynamic_cast<wxStaticText*>(control))
        return label->GetLabelText().utf8_str().data();
    return control->GetLabel().utf8_str().data();
}

bool IsShownControl(wxWindow* parent, int id)
{
    wxWindow* control = parent->FindWindow(id);
    return control != nullptr && control->IsShown();
}

bool IsEnabledControl(wxWindow* parent, int id)
{
    wxWindow* control = parent->FindWindow(id);
    return control != nullptr && control->IsEnabled();
}

std::string AccessibleNameOf(wxWindow* control)
{
#ifdef __WXGTK__
    if (control == nullptr || control->GetHandle() == nullptr)
        return "";
    const char* name = atk_object_get_name(gtk_widget_get_accessible(control->GetHandle()));
    return name != nullptr ? name : "";
#else
    return control != nullptr ? std::string(control->GetName().utf8_str().data()) : "";
#endif
}

std::vector<std::string> ShownTexts(wxWindow* window)
{
    std::vector<std::string> texts;
    if (auto* top = dynamic_cast<wxTopLevelWindow*>(window))
        texts.emplace_back(top->GetTitle().utf8_str().data());
    for (wxWindow* control : window->GetChildren()) {
        if (auto* choice = dynamic_cast<wxChoice*>(control)) {
            for (unsigned i = 0; i < choice->GetCount(); ++i)
                texts.emplace_back(choice->GetString(i).utf8_str().data());
        } else if (auto* edit = dynamic_cast<wxTextCtrl*>(control)) {
            texts.emplace_back(edit->GetValue().utf8_str().data());
        } else {
            texts.emplace_back(control->GetLabel().utf8_str().data());
        }
        texts.push_back(AccessibleNameOf(control));
        const std::vector<std::string> inner = ShownTexts(control);
        texts.insert(texts.end(), inner.begin(), inner.end());
    }
    return texts;
}

void Snapshot(const std::string& name)
{
    const char* dir = std::getenv("TONVALE_SNAPSHOT_DIR");
    if (dir == nullptr || *dir == '\0')
        return;
    PumpEvents(150);
    const std::string command = "import -window root '" + std::string(dir) + "/" + name + ".png'";
    if (std::system(command.c_str()) != 0)
        ADD_FAILURE() << "screenshot failed: " << command;
}
