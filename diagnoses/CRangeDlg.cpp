#include "diagnoses/CRangeDlg.h"

#include "diagnoses/SoundCardLimit.h"
#include "help/HtmlHelp.h"
#include "results/ResultRecord.h"
#include "synth/CSynthesizer.h"
#include "ui/Accessibility.h"
#include "ui/DialogResources.h"
#include "ui/Language.h"
#include "ui/Message.h"

#include <wx/choice.h>

#include <cstdlib>
#include <ctime>
#include <string>

namespace {
constexpr int TONE_MS = 500;
constexpr int PAUSE_MS = 250;
} // namespace

CRangeDlg::CRangeDlg() : CToneDialog("IDD_RANGE"), m_procedure(SoundCardLimit), m_timer(this, RANGE_TIMER_ID)
{
    Bind(wxEVT_BUTTON, &CRangeDlg::OnOK, this, wxID_OK);
    Bind(wxEVT_BUTTON, &CRangeDlg::OnQuestion, this, IDC_RANGE_QUESTION);
    Bind(wxEVT_BUTTON, &CRangeDlg::OnHelpButton, this, IDC_RANGE_HELP);
    Bind(wxEVT_TIMER, &CRangeDlg::OnTimer, this, RANGE_TIMER_ID);
    OnInitDialog();
}

CRangeDlg::~CRangeDlg()
{
    // Closed while a question plays: no tick may reach a dialog that is going away.
    m_timer.Stop();
    DeleteSynthesizer();
}

void CRangeDlg::OnInitDialog()
{
    ShowControl(IDC_RANGE_TEST_FREQUENCY, false);
    // The patterns come from the runtime's generator, seeded each time the check opens.
    std::srand(static_cast<unsigned>(std::time(nullptr)));

    SetControlText(IDC_RANGE_MESSAGE, CRangeProcedure::MessageText(RANGE_READY));
    SetControlLabel(IDC_RANGE_QUESTION, CRangeProcedure::QuestionCaption(RANGE_READY));
    if (auto* answers = ControlById<wxChoice>(this, IDC_RANGE_ANSWER)) {
        answers->Hide();
        for (const char* answer : RANGE_ANSWERS)
            answers->Append(U8(Translate(answer)));
        SetAccessibleName(answers, U8(Translate("Answer")));
    }

    ShowLimits();
    SetControlText(IDC_RANGE_TEST_FREQUENCY, std::to_string(m_procedure.TestFrequency()));

    // A full-scale sine. The engine runs only while a question plays.
    CreateSynthesizer(1.0, 1.0);
    if (m_pSynth != nullptr)
        m_pSynth->SetFrequency(0, 440.0);

    SetControlLabel(wxID_OK, Translate("Terminate"));
    SetControlLabel(IDC_RANGE_HELP, Translate("Help"));
    SetControlLabel(IDC_RANGE_UPPER_LABEL, Translate("Upper"));
    SetControlLabel(IDC_RANGE_LOWER_LABEL, Translate("Lower"));
    SetTitle(U8(Translate("Range Check")));
    LabelControl(FindWindow(IDC_RANGE_LOWER), FindWindow(IDC_RANGE_LOWER_LABEL));
    LabelControl(FindWindow(IDC_RANGE_UPPER), FindWindow(IDC_RANGE_UPPER_LABEL));
}

void CRangeDlg::ShowLimits()
{
    SetControlText(IDC_RANGE_LOWER, std::to_string(m_procedure.LowerAudible()));
    SetControlText(IDC_RANGE_UPPER, std::to_string(m_procedure.UpperAudible()));
}

void CRangeDlg::OnQuestion(wxCommandEvent&)
{
    if (m_procedure.Finished())
        return;
    if (m_procedure.State() == RANGE_READY) {
        m_procedure.StartQuestion();
        StartSynthesizer();
        BeginQuestionSound();
        m_timer.Start(RANGE_TIMER_MS);
        EnableControl(IDC_RANGE_QUESTION, false);
        ShowLimits();
    } else if (m_procedure.State() == RANGE_QUESTION && !m_timer.IsRunning() && !IsQuestionSoundPending()) {
        EvaluateAnswer();
    }
}

void CRangeDlg::OnTimer(wxTimerEvent&)
{
    switch (m_procedure.NextSlot()) {
    case RangeSlot::Tone:
        SoundTone(m_procedure.TestFrequency(), TONE_MS);
        Sleep(PAUSE_MS);
        break;
    case RangeSlot::Silence:
        Sleep(TONE_MS);
        Sleep(PAUSE_MS);
        break;
    case RangeSlot::End:
        m_timer.Stop();
        // The whole question counts, its silent slots included: a hole there could hide a tone.
        ExtendQuestionSound();
        AwaitQuestionSound([this](bool damaged) { QuestionPlayed(damaged); });
        break;
    }
}

void CRangeDlg::QuestionPlayed(bool damaged)
{
    StopSynthesizer();
    if (damaged) {
        AskAgainAfterDamage(m_procedure.AbandonQuestion(), IDC_RANGE_MESSAGE,
                            CRangeProcedure::MessageText(RANGE_READY), IDC_RANGE_QUESTION,
                            CRangeProcedure::QuestionCaption(RANGE_READY));
        return;
    }
    ShowAnswers(IDC_RANGE_ANSWER, RANGE_DONT_KNOW);
    SetControlText(IDC_RANGE_MESSAGE, CRangeProcedure::MessageText(RANGE_QUESTION));
    SetControlLabel(IDC_RANGE_QUESTION, CRangeProcedure::QuestionCaption(RANGE_QUESTION));
    EnableControl(IDC_RANGE_QUESTION, true);
}

void CRangeDlg::EvaluateAnswer()
{
    const RangeOutcome outcome = m_procedure.Answer(SelectedAnswer(IDC_RANGE_ANSWER));
    LogRows(outcome.logRows);
    SetControlText(IDC_RANGE_MESSAGE, outcome.messageText);

    if (outcome.upperLimitHz != 0) {
        ShowMessage(outcome.resultText);
        ResultRecord.m_highestHz = outcome.upperLimitHz;
    }
    if (outcome.lowerLimitHz != 0) {
        ShowMessage(outcome.resultText);
        EnableControl(IDC_RANGE_QUESTION, false);
        SetControlText(IDC_RANGE_MESSAGE, CRangeProcedure::MessageText(RANGE_FINISHING));
        ResultRecord.m_lowestHz = outcome.lowerLimitHz;
        SetControlLabel(wxID_OK, Translate("Finish"));
    }

    SetControlText(IDC_RANGE_TEST_FREQUENCY, std::to_string(m_procedure.TestFrequency()));
    SetControlLabel(IDC_RANGE_QUESTION, CRangeProcedure::QuestionCaption(RANGE_READY));
    HideAnswers(IDC_RANGE_ANSWER);
    ShowLimits();
}

void CRangeDlg::OnOK(wxCommandEvent&)
{
    EndAfterConfirming(!m_procedure.Done());
}

void CRangeDlg::OnHelpButton(wxCommandEvent&)
{
    HtmlHelp(this, HELP_FILE_NAME, HH_DISPLAY_TOPIC, "range.htm");
}
