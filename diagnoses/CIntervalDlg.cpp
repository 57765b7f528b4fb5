#include "diagnoses/CIntervalDlg.h"

#include "diagnoses/FormatHz.h"
#include "diagnoses/SoundCardLimit.h"
#include "help/HtmlHelp.h"
#include "results/ResultRecord.h"
#include "synth/CSynthesizer.h"
#include "ui/Accessibility.h"
#include "ui/DialogResources.h"
#include "ui/Language.h"
#include "ui/Message.h"

#include <wx/choice.h>

#include <gtk/gtk.h>

#include <string>

namespace {
constexpr int TONE_MS = 500;

// The band list's popup remembers which item was shown when it opened.
constexpr const char* SHOWN_ITEM_KEY = "tonvale-shown-item";
constexpr const char* WATCHED_KEY = "tonvale-watched";
} // namespace

CIntervalDlg::CIntervalDlg() : CToneDialog("IDD_INTERVAL"), m_timer(this, INTERVAL_TIMER_ID)
{
    Bind(wxEVT_BUTTON, &CIntervalDlg::OnOK, this, wxID_OK);
    Bind(wxEVT_BUTTON, &CIntervalDlg::OnQuestion, this, IDC_INTERVAL_QUESTION);
    Bind(wxEVT_BUTTON, &CIntervalDlg::OnHelpButton, this, IDC_INTERVAL_HELP);
    Bind(wxEVT_CHOICE, &CIntervalDlg::OnBandChange, this, IDC_INTERVAL_BAND);
    WatchBandPicks();
    Bind(wxEVT_TIMER, &CIntervalDlg::OnTimer, this, INTERVAL_TIMER_ID);
    OnInitDialog();
}

CIntervalDlg::~CIntervalDlg()
{
    // Closed while a question plays: no tick may reach a dialog that is going away.
    m_timer.Stop();
    DeleteSynthesizer();
}

void CIntervalDlg::OnInitDialog()
{
    ShowControl(IDC_INTERVAL_STEP, false);

    // A full-scale sine. The engine runs only while a question plays.
    CreateSynthesizer(1.0, 1.0);
    if (m_pSynth != nullptr)
        m_pSynth->SetFrequency(0, 440.0);

    if (auto* bands = ControlById<wxChoice>(this, IDC_INTERVAL_BAND)) {
        for (int band = 0; band < INTERVAL_BAND_COUNT; ++band)
            bands->Append(std::to_string(CIntervalProcedure::BandHz(band)));
        bands->SetSelection(INTERVAL_FIRST_BAND);
    }
    ShowDifference();
    ShowStep();

    SetControlText(IDC_INTERVAL_MESSAGE, CIntervalProcedure::MessageText(INTERVAL_READY));
    SetControlLabel(IDC_INTERVAL_QUESTION, CIntervalProcedure::QuestionCaption(INTERVAL_READY));
    if (auto* answers = ControlById<wxChoice>(this, IDC_INTERVAL_ANSWER)) {
        answers->Hide();
        for (const char* answer : INTERVAL_ANSWERS)
            answers->Append(U8(Translate(answer)));
        SetAccessibleName(answers, U8(Translate("Answer")));
    }

    SetControlLabel(wxID_OK, Translate("Terminate"));
    SetControlLabel(IDC_INTERVAL_HELP, Translate("Help"));
    SetControlLabel(IDC_INTERVAL_FREQ_LABEL, Translate("Freq"));
    SetControlLabel(IDC_INTERVAL_CENT_LABEL, Translate("Cent"));
    SetControlLabel(IDC_INTERVAL_BAND_LABEL, Translate("Range"));
    SetTitle(U8(Translate("Interval Check")));
    LabelControl(FindWindow(IDC_INTERVAL_BAND), FindWindow(IDC_INTERVAL_BAND_LABEL));
    LabelControl(FindWindow(IDC_INTERVAL_FREQ), FindWindow(IDC_INTERVAL_FREQ_LABEL));
    LabelControl(FindWindow(IDC_INTERVAL_CENT), FindWindow(IDC_INTERVAL_CENT_LABEL));
}

void CIntervalDlg::ShowDifference()
{
    SetControlText(IDC_INTERVAL_FREQ, FormatHz(m_procedure.LastDifference()));
    SetControlText(IDC_INTERVAL_CENT, std::to_string(m_procedure.LastDifferenceCents()));
}

void CIntervalDlg::ShowStep()
{
    SetControlText(IDC_INTERVAL_STEP, FormatHz(m_procedure.Difference()));
}

void CIntervalDlg::OnQuestion(wxCommandEvent&)
{
    if (m_procedure.State() == INTERVAL_READY) {
        m_procedure.StartQuestion();
        // The engine first and the timer last: a failure message shown while the engine starts
        // runs its own event loop, and ticks arriving meanwhile would finish the question behind
        // the message and leave the answer unreachable.
        EnableControl(IDC_INTERVAL_QUESTION, false);
        StartSynthesizer();
        BeginQuestionSound();
        m_timer.Start(INTERVAL_TIMER_MS);
    } else if (m_procedure.State() == INTERVAL_QUESTION && !m_timer.IsRunning() &&
               !IsQuestionSoundPending()) {
        EvaluateAnswer();
    }
}

void CIntervalDlg::OnTimer(wxTimerEvent&)
{
    const int tone = m_procedure.NextTick();
    if (tone != 0) {
        SoundTone(tone, TONE_MS);
        return;
    }

    m_timer.Stop();
    AwaitQuestionSound([this](bool damaged) { QuestionPlayed(damaged); });
}

void CIntervalDlg::QuestionPlayed(bool damaged)
{
    StopSynthesizer();
    if (damaged) {
        AskAgainAfterDamage(m_procedure.AbandonQuestion(), IDC_INTERVAL_MESSAGE,
                            CIntervalProcedure::MessageText(INTERVAL_READY), IDC_INTERVAL_QUESTION,
                            CIntervalProcedure::QuestionCaption(INTERVAL_READY));
        return;
    }
    ShowAnswers(IDC_INTERVAL_ANSWER, INTERVAL_DONT_KNOW);
    // After a band change during the question the dialog is ready for a new one, and says so.
    const int state = m_procedure.State();
    SetControlText(IDC_INTERVAL_MESSAGE, CIntervalProcedure::MessageText(state));
    SetControlLabel(IDC_INTERVAL_QUESTION, CIntervalProcedure::QuestionCaption(state));
    EnableControl(IDC_INTERVAL_QUESTION, true);
}

void CIntervalDlg::EvaluateAnswer()
{
    const IntervalOutcome outcome = m_procedure.Answer(SelectedAnswer(IDC_INTERVAL_ANSWER));
    LogRows(outcome.logRows);
    SetControlText(IDC_INTERVAL_MESSAGE, outcome.messageText);
    ShowDifference();
    ShowStep();

    if (outcome.finished) {
        ShowMessage(outcome.resultText);
        EnableControl(IDC_INTERVAL_QUESTION, false);
        SetControlText(IDC_INTERVAL_MESSAGE, CIntervalProcedure::MessageText(INTERVAL_FINISHED));
        ResultRecord.m_intervalCents[m_procedure.Band()] = outcome.cents;
        SetControlLabel(wxID_OK, Translate("終了"));
        return;
    }
    SetControlLabel(IDC_INTERVAL_QUESTION, CIntervalProcedure::QuestionCaption(INTERVAL_READY));
    HideAnswers(IDC_INTERVAL_ANSWER);
}

void CIntervalDlg::OnBandChange(wxCommandEvent&)
{
    auto* bands = ControlById<wxChoice>(this, IDC_INTERVAL_BAND);
    if (bands == nullptr)
        return;
    const std::string refusal = m_procedure.SelectBand(bands->GetSelection(), SoundCardLimit);
    if (!refusal.empty()) {
        ShowMessage(refusal);
        bands->SetSelection(m_procedure.Band());
    }
    ShowDifference();
    ShowStep();
    SetControlText(IDC_INTERVAL_MESSAGE, CIntervalProcedure::MessageText(INTERVAL_READY));
    SetControlLabel(IDC_INTERVAL_QUESTION, CIntervalProcedure::QuestionCaption(INTERVAL_READY));
    HideAnswers(IDC_INTERVAL_ANSWER);
    EnableControl(IDC_INTERVAL_QUESTION, true);
}

// GTK's combo box reports a pick only when it changes the item shown, yet picking a band from the
// open list is how the listener starts it again. So the items of the open list are watched: a
// pick of the item that was shown when the list opened starts the band as a change does. Closing
// the list without a pick activates no item.
void CIntervalDlg::WatchBandPicks()
{
    wxWindow* bands = FindWindow(IDC_INTERVAL_BAND);
    if (bands == nullptr || !GTK_IS_COMBO_BOX(bands->GetHandle()))
        return;
    g_signal_connect(bands->GetHandle(), "notify::popup-shown", G_CALLBACK(&CIntervalDlg::OnBandListPopup),
                     this);
}

void CIntervalDlg::OnBandListPopup(void* combo, void*, void* dialog)
{
    gboolean shown = FALSE;
    g_object_get(combo, "popup-shown", &shown, nullptr);
    AtkObject* popup = gtk_combo_box_get_popup_accessible(GTK_COMBO_BOX(combo));
    GtkWidget* menu = popup != nullptr ? gtk_accessible_get_widget(GTK_ACCESSIBLE(popup)) : nullptr;
    if (!shown || !GTK_IS_MENU_SHELL(menu))
        return; // a theme that shows the list as a tree view: only changes count there
    const int active = gtk_combo_box_get_active(GTK_COMBO_BOX(combo));
    g_object_set_data(G_OBJECT(menu), SHOWN_ITEM_KEY, GINT_TO_POINTER(active + 1));
    GList* items = gtk_container_get_children(GTK_CONTAINER(menu));
    for (GList* item = items; item != nullptr; item = item->next) {
        if (g_object_get_data(G_OBJECT(item->data), WATCHED_KEY) == nullptr) {
            g_object_set_data(G_OBJECT(item->data), WATCHED_KEY, GINT_TO_POINTER(1));
            g_signal_connect(item->data, "activate", G_CALLBACK(&CIntervalDlg::OnBandItemActivated), dialog);
        }
    }
    g_list_free(items);
}

void CIntervalDlg::OnBandItemActivated(void* item, void* dialog)
{
    GtkWidget* menu = gtk_widget_get_parent(GTK_WIDGET(item));
    if (menu == nullptr)
        return;
    GList* items = gtk_container_get_children(GTK_CONTAINER(menu));
    const int picked = g_list_index(items, item);
    g_list_free(items);
    const int shown = GPOINTER_TO_INT(g_object_get_data(G_OBJECT(menu), SHOWN_ITEM_KEY)) - 1;
    // A different item changes the selection, and that arrives as a change of its own. The band
    // starts once the list has closed, not inside GTK's handling of the pick.
    if (picked >= 0 && picked == shown) {
        auto* self = static_cast<CIntervalDlg*>(dialog);
        self->CallAfter([self] {
            wxCommandEvent pick(wxEVT_CHOICE, IDC_INTERVAL_BAND);
            self->OnBandChange(pick);
        });
    }
}

void CIntervalDlg::OnOK(wxCommandEvent&)
{
    EndAfterConfirming(!m_procedure.Done());
}

void CIntervalDlg::OnHelpButton(wxCommandEvent&)
{
    HtmlHelp(this, HELP_FILE_NAME, HH_DISPLAY_TOPIC, "interval.htm");
}
