#include "diagnoses/CToneDialog.h"

#include "checklog/CheckLog.h"
#include "synth/CSynthesizer.h"
#include "ui/DialogResources.h"
#include "ui/Language.h"
#include "ui/Message.h"

#include <wx/button.h>
#include <wx/choice.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>
#include <wx/utils.h>

#include <new>
#include <utility>

const char* const QUESTION_DAMAGED_TEXT =
    TR_NOOP("音が途切れたため、この質問は判定しません。もう一度やり直してください。");

namespace {
wxDEFINE_EVENT(EVT_BUFFER_DONE, wxThreadEvent);

// The ring the dialogs ask for: 4 buffers of 32768 bytes (16384 samples, 0.37 s each), so about
// 1.1 s stays queued while a tone blocks the GUI thread for up to 0.75 s.
constexpr int BUFFER_BYTES = 32768;
constexpr int BUFFER_COUNT = 4;
constexpr int LEAD_MS = 80;
// Longest wait for the device to take a question's last decay; a stalled device is judged on what
// it has taken by then.
constexpr int QUESTION_SOUND_WAIT_MS = 1000;
// The timers the dialogs own use 1.
constexpr int QUESTION_SOUND_TIMER_ID = 2;
} // namespace

CToneDialog::CToneDialog(const char* resource) : m_questionSoundTimeout(this, QUESTION_SOUND_TIMER_ID)
{
    // Without its template the dialog's own set-up finds no controls and changes nothing.
    if (!LoadDialogResource(this, nullptr, resource))
        ReportMissingTemplate(this, nullptr, resource);
    Bind(EVT_BUFFER_DONE, &CToneDialog::OnBufferDone, this);
    Bind(wxEVT_CHAR_HOOK, &CToneDialog::OnCharHook, this);
    Bind(wxEVT_CLOSE_WINDOW, &CToneDialog::OnClose, this);
    Bind(wxEVT_TIMER, &CToneDialog::OnQuestionSoundTimeout, this, QUESTION_SOUND_TIMER_ID);
    SetEscapeId(wxID_NONE);
}

CToneDialog::~CToneDialog()
{
    DeleteSynthesizer();
}

void CToneDialog::CreateSynthesizer(double amplitude, double masterGain)
{
    DeleteSynthesizer();
    CSynthesizer* synth =
        new (std::nothrow) CSynthesizer(this, WAVE_MAPPER, BUFFER_BYTES, BUFFER_COUNT, LEAD_MS, PERIOD_MS);
    if (synth == nullptr) {
        ShowMessage(Translate(OUT_OF_MEMORY_TEXT));
        return;
    }
    synth->AddVoice();
    synth->SetWaveform(0, WAVEFORM_SINE);
    synth->SetAmplitude(0, amplitude);
    synth->SetGate(0, 0);
    synth->m_masterGain = masterGain;
    m_pSynth = synth;
}

void CToneDialog::DeleteSynthesizer()
{
    m_questionSoundTimeout.Stop();
    m_questionSoundPlayed = nullptr;
    // The engine's destructor stops it and joins its threads, so no notice arrives afterwards; the
    // ones already queued find no engine and are dropped.
    delete m_pSynth;
    m_pSynth = nullptr;
}

void CToneDialog::StartSynthesizer()
{
    if (m_pSynth == nullptr || m_pSynth->IsRunning())
        return;
    ++m_run;
    m_pSynth->Start();
}

void CToneDialog::StopSynthesizer()
{
    if (m_pSynth != nullptr)
        m_pSynth->Stop();
}

void CToneDialog::BeginQuestionSound()
{
    if (m_pSynth != nullptr)
        m_pSynth->BeginStretch();
}

void CToneDialog::StartTone(double hz)
{
    if (m_pSynth == nullptr)
        return;
    m_pSynth->SetFrequency(0, hz);
    m_pSynth->SetGate(0, 1);
}

void CToneDialog::StopTone()
{
    if (m_pSynth != nullptr)
        m_pSynth->SetGate(0, 0);
}

void CToneDialog::ExtendQuestionSound()
{
    if (m_pSynth != nullptr)
        m_pSynth->ExtendStretch();
}

void CToneDialog::AwaitQuestionSound(std::function<void(bool damaged)> then)
{
    if (m_pSynth == nullptr) {
        then(false);
        return;
    }
    m_questionSoundPlayed = std::move(then);
    m_questionSoundTimeout.StartOnce(QUESTION_SOUND_WAIT_MS);
    m_pSynth->EndStretch([this](bool damaged) { QuestionSoundPlayed(damaged); });
}

void CToneDialog::QuestionSoundPlayed(bool damaged)
{
    m_questionSoundTimeout.Stop();
    // Taken out first: the dialog may ask its next question from inside.
    const std::function<void(bool)> then = std::move(m_questionSoundPlayed);
    m_questionSoundPlayed = nullptr;
    if (then)
        then(damaged);
}

void CToneDialog::OnQuestionSoundTimeout(wxTimerEvent&)
{
    // The device has stalled: judged on what it has taken.
    JudgeQuestionSoundNow();
}

void CToneDialog::JudgeQuestionSoundNow()
{
    if (!IsQuestionSoundPending())
        return;
    if (m_pSynth == nullptr || !m_pSynth->JudgeStretchNow())
        QuestionSoundPlayed(false);
}

void CToneDialog::EndModal(int code)
{
    JudgeQuestionSoundNow();
    if (IsModal())
        wxDialog::EndModal(code);
}

void CToneDialog::AskAgainAfterDamage(const std::vector<CheckLogRow>& rows, int messageId,
                                      const std::string& readyText, int questionId,
                                      const std::string& readyCaption)
{
    LogRows(rows);
    ShowMessage(Translate(QUESTION_DAMAGED_TEXT));
    SetControlText(messageId, readyText);
    SetControlLabel(questionId, readyCaption);
    EnableControl(questionId, true);
}

void CToneDialog::Sleep(int ms)
{
    wxMilliSleep(ms);
}

void CToneDialog::SoundTone(double hz, int toneMs)
{
    StartTone(hz);
    Sleep(toneMs);
    StopTone();
}

void CToneDialog::ShowAnswers(int id, int selection)
{
    if (auto* answers = ControlById<wxChoice>(this, id)) {
        answers->Show();
        answers->SetSelection(selection);
    }
}

void CToneDialog::HideAnswers(int id)
{
    if (auto* answers = ControlById<wxChoice>(this, id))
        answers->Hide();
}

int CToneDialog::SelectedAnswer(int id)
{
    auto* answers = ControlById<wxChoice>(this, id);
    return answers != nullptr ? answers->GetSelection() : wxNOT_FOUND;
}

void CToneDialog::EndAfterConfirming(bool inProgress)
{
    if (inProgress && AppMessageBox(Translate("Diagnosis is in progress. Do you want terminate it?"),
                                    MB_OKCANCEL | MB_SYSTEMMODAL) != IDOK)
        return;
    if (IsModal())
        EndModal(wxID_OK);
}

void CToneDialog::PostBufferDone(WaveHeader* header)
{
    auto* event = new wxThreadEvent(EVT_BUFFER_DONE);
    event->SetPayload(header);
    event->SetInt(m_run.load());
    wxQueueEvent(this, event);
}

void CToneDialog::PostClip(int)
{
    // Clipping needs no action here.
}

void CToneDialog::OnBufferDone(wxThreadEvent& event)
{
    if (m_pSynth != nullptr && event.GetInt() == m_run.load())
        m_pSynth->OnBufferDone(event.GetPayload<WaveHeader*>());
}

void CToneDialog::SetControlText(int id, const std::string& text)
{
    if (auto* edit = dynamic_cast<wxTextCtrl*>(FindWindow(id)))
        edit->ChangeValue(wxString::FromUTF8(text));
    else if (auto* label = dynamic_cast<wxStaticText*>(FindWindow(id)))
        label->SetLabelText(wxString::FromUTF8(text));
}

void CToneDialog::SetControlLabel(int id, const std::string& label)
{
    if (wxWindow* control = FindWindow(id))
        control->SetLabel(wxString::FromUTF8(label));
}

void CToneDialog::ShowControl(int id, bool show)
{
    wxWindow* control = FindWindow(id);
    if (control == nullptr)
        return;
    const bool hadFocus = !show && wxWindow::FindFocus() == control;
    control->Show(show);
    if (hadFocus)
        MoveFocusFrom(control);
    else if (show)
        RestoreFocusTo(control);
}

void CToneDialog::EnableControl(int id, bool enable)
{
    wxWindow* control = FindWindow(id);
    if (control == nullptr)
        return;
    const bool hadFocus = !enable && wxWindow::FindFocus() == control;
    control->Enable(enable);
    if (hadFocus)
        MoveFocusFrom(control);
    else if (enable)
        RestoreFocusTo(control);
}

void CToneDialog::MoveFocusFrom(wxWindow* control)
{
    // GTK leaves a dialog whose focused control is disabled or hidden with no focus at all, and
    // then no key reaches it, Escape included. The default button holds the focus meanwhile, and
    // the control gets it back when it can take it again (the Sound button across its tone).
    m_focusToRestore = control;
    wxWindow* ok = FindWindow(wxID_OK);
    if (ok != nullptr && ok != control && ok->IsEnabled() && ok->IsShown())
        ok->SetFocus();
}

void CToneDialog::RestoreFocusTo(wxWindow* control)
{
    if (control != m_focusToRestore)
        return;
    // Only while the focus is still where it was put (or not yet known to have left the control,
    // when no event was handled in between): the user may have moved it since.
    wxWindow* focus = wxWindow::FindFocus();
    if (focus != nullptr && focus != FindWindow(wxID_OK) && focus != control) {
        m_focusToRestore = nullptr;
        return;
    }
    if (control->IsEnabled() && control->IsShown()) {
        m_focusToRestore = nullptr;
        control->SetFocus();
    }
}

void CToneDialog::EndAtOnce()
{
    if (IsModal())
        EndModal(wxID_CANCEL);
}

void CToneDialog::LogRows(const std::vector<CheckLogRow>& rows)
{
    CCheckLog* log = CurrentCheckLog();
    if (log == nullptr)
        return;
    for (const CheckLogRow& row : rows)
        log->Append(row);
}

void CToneDialog::OnCharHook(wxKeyEvent& event)
{
    if (event.GetKeyCode() == WXK_ESCAPE) {
        EndAtOnce();
        return;
    }
    event.Skip();
}

void CToneDialog::OnClose(wxCloseEvent&)
{
    EndAtOnce();
}
