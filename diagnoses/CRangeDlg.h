#pragma once
// The audible range check (dialog 129): questions of five one-second slots, each a 500 ms tone or
// silence, played on timer 1; the listener counts the tones. Finds the highest and then the lowest
// audible frequency and stores them in ResultRecord.
#include "diagnoses/CRangeProcedure.h"
#include "diagnoses/CToneDialog.h"

#include <wx/timer.h>

// Control IDs of dialog 129.
constexpr int IDC_RANGE_MESSAGE = 1001;
constexpr int IDC_RANGE_QUESTION = 1002;
constexpr int IDC_RANGE_ANSWER = 1003;
constexpr int IDC_RANGE_LOWER = 1004;
constexpr int IDC_RANGE_UPPER = 1005;
constexpr int IDC_RANGE_TEST_FREQUENCY = 1006;
constexpr int IDC_RANGE_HELP = 1018;
constexpr int IDC_RANGE_LOWER_LABEL = 1045;
constexpr int IDC_RANGE_UPPER_LABEL = 1046;

constexpr int RANGE_TIMER_ID = 1;
constexpr int RANGE_TIMER_MS = 1000;

class CRangeDlg : public CToneDialog {
public:
    CRangeDlg();
    ~CRangeDlg() override;

    const CRangeProcedure& Procedure() const { return m_procedure; }

private:
    void OnInitDialog();
    void OnOK(wxCommandEvent& event);
    void OnQuestion(wxCommandEvent& event);
    void OnTimer(wxTimerEvent& event);
    // The question's sound judged: the answers, or the question asked again.
    void QuestionPlayed(bool damaged);
    void OnHelpButton(wxCommandEvent& event);
    void ShowLimits();
    void EvaluateAnswer();

    CRangeProcedure m_procedure;
    wxTimer m_timer;
};
