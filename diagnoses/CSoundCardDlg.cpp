#include "diagnoses/CSoundCardDlg.h"

#include "diagnoses/FormatHz.h"
#include "diagnoses/SoundCardLimit.h"
#include "synth/CSynthesizer.h"
#include "ui/Accessibility.h"
#include "ui/DialogResources.h"
#include "ui/Language.h"
#include "ui/Message.h"

#include <wx/choice.h>

namespace {
constexpr int TONE_MS = 500;
}

CSoundCardDlg::CSoundCardDlg() : CToneDialog("IDD_SOUNDCARD")
{
    Bind(wxEVT_BUTTON, &CSoundCardDlg::OnOK, this, wxID_OK);
    Bind(wxEVT_BUTTON, &CSoundCardDlg::OnSound, this, IDC_SOUNDCARD_SOUND);
    OnInitDialog();
}

CSoundCardDlg::~CSoundCardDlg()
{
    // The engine runs for the dialog's whole life: stop it (joining its threads) while this
    // object, which receives its notices, is still whole.
    DeleteSynthesizer();
}

void CSoundCardDlg::OnInitDialog()
{
    SetControlLabel(wxID_OK, Translate("Pause"));
    SetControlLabel(IDC_SOUNDCARD_ACCURACY_LABEL, Translate("Accuracy"));
    SetControlLabel(IDC_SOUNDCARD_FREQUENCY_LABEL, Translate("Frequency"));
    SetTitle(U8(Translate("Sound Card Check")));
    LabelControl(FindWindow(IDC_SOUNDCARD_ACCURACY), FindWindow(IDC_SOUNDCARD_ACCURACY_LABEL));
    LabelControl(FindWindow(IDC_SOUNDCARD_FREQUENCY), FindWindow(IDC_SOUNDCARD_FREQUENCY_LABEL));

    // Sine at 0.8 under a master gain of 0.8: 0.64 of full scale, loud enough to reveal a card's
    // artefacts without clipping.
    CreateSynthesizer(0.8, 0.8);

    ShowState();

    if (auto* answers = ControlById<wxChoice>(this, IDC_SOUNDCARD_ANSWER)) {
        for (const char* answer : SOUNDCARD_ANSWERS)
            answers->Append(U8(Translate(answer)));
        answers->SetSelection(SOUNDCARD_SOME_SOUND);
        answers->Hide();
        SetAccessibleName(answers, U8(Translate("Answer")));
    }

    SetControlText(IDC_SOUNDCARD_FREQUENCY, FormatHz(m_procedure.Frequency()));
    SetControlText(IDC_SOUNDCARD_ACCURACY, "---");

    // The engine runs for the dialog's whole life; each tone only opens and closes voice 0's gate.
    StartSynthesizer();
}

void CSoundCardDlg::ShowState()
{
    const int state = m_procedure.State();
    SetControlText(IDC_SOUNDCARD_MESSAGE, CSoundCardProcedure::MessageText(state));
    SetControlLabel(IDC_SOUNDCARD_SOUND, CSoundCardProcedure::SoundCaption(state));
}

void CSoundCardDlg::PlayTone()
{
    EnableControl(IDC_SOUNDCARD_SOUND, false);
    BeginQuestionSound();
    SoundTone(m_procedure.Frequency(), TONE_MS);
    // The list of answers comes only once the tone, decay included, is known to have been whole.
    AwaitQuestionSound([this](bool damaged) { TonePlayed(damaged); });
}

void CSoundCardDlg::TonePlayed(bool damaged)
{
    EnableControl(IDC_SOUNDCARD_SOUND, true);
    if (damaged) {
        LogRows(m_procedure.DamagedToneRows());
        ShowMessage(Translate(QUESTION_DAMAGED_TEXT));
        return;
    }
    if (m_procedure.State() == SOUNDCARD_INTRODUCTION) {
        m_procedure.IntroductionPlayed();
        ShowState();
        SetControlLabel(wxID_OK, Translate("heard no sound"));
        return;
    }
    ShowControl(IDC_SOUNDCARD_ANSWER, true);
    m_procedure.TonePlayed();
    ShowState();
}

void CSoundCardDlg::OnSound(wxCommandEvent&)
{
    switch (m_procedure.State()) {
    case SOUNDCARD_INTRODUCTION:
    case SOUNDCARD_READY:
        if (!IsQuestionSoundPending())
            PlayTone();
        break;
    case SOUNDCARD_INTRODUCTION_PLAYED:
        SetControlLabel(wxID_OK, Translate("Pause"));
        LogRows(m_procedure.CheckMore());
        ShowState();
        SetControlText(IDC_SOUNDCARD_ACCURACY, FormatHz(m_procedure.Step()));
        SetControlText(IDC_SOUNDCARD_FREQUENCY, FormatHz(m_procedure.Frequency()));
        break;
    case SOUNDCARD_ANSWER:
        EvaluateAnswer();
        break;
    default:
        break;
    }
}

void CSoundCardDlg::EvaluateAnswer()
{
    const SoundCardOutcome outcome = m_procedure.Answer(SelectedAnswer(IDC_SOUNDCARD_ANSWER));
    LogRows(outcome.logRows);

    if (outcome.finished) {
        if (outcome.byHalving)
            SetControlLabel(wxID_OK, Translate("終了"));
        ShowMessage(outcome.resultText);
        EnableControl(IDC_SOUNDCARD_SOUND, false);
        SetControlText(IDC_SOUNDCARD_MESSAGE, CSoundCardProcedure::MessageText(SOUNDCARD_FINISHED));
        if (outcome.byHalving)
            ShowControl(IDC_SOUNDCARD_SOUND, false);
        else
            SetControlLabel(IDC_SOUNDCARD_SOUND, CSoundCardProcedure::SoundCaption(SOUNDCARD_FINISHED));
        ShowControl(IDC_SOUNDCARD_ANSWER, false);
        SoundCardLimit = outcome.limit;
        return;
    }

    // The message text stays; the next tone waits for the Sound button.
    SetControlText(IDC_SOUNDCARD_ACCURACY, FormatHz(m_procedure.Step()));
    SetControlText(IDC_SOUNDCARD_FREQUENCY, FormatHz(m_procedure.Frequency()));
    SetControlLabel(IDC_SOUNDCARD_SOUND, CSoundCardProcedure::SoundCaption(SOUNDCARD_READY));
    ShowControl(IDC_SOUNDCARD_ANSWER, false);
}

void CSoundCardDlg::OnOK(wxCommandEvent&)
{
    // "heard no sound" after the 20000 Hz tone: the card is good over the whole range.
    if (m_procedure.State() == SOUNDCARD_INTRODUCTION_PLAYED) {
        const SoundCardOutcome outcome = m_procedure.NoSoundAtIntroduction();
        LogRows(outcome.logRows);
        SoundCardLimit = outcome.limit;
    }
    if (IsModal())
        EndModal(wxID_OK);
}
