#pragma once
// The interval check (dialog 130): for one octave band at a time, two 500 ms tones 750 ms apart on
// timer 1, the reference and the reference raised by the current difference in random order; the
// listener says which was higher. Stores the finished band's interval, in cents, in ResultRecord.
#include "diagnoses/CIntervalProcedure.h"
#include "diagnoses/CToneDialog.h"

#include <wx/timer.h>

// Control IDs of dialog 130.
constexpr int IDC_INTERVAL_MESSAGE = 1001;
constexpr int IDC_INTERVAL_QUESTION = 1002;
constexpr int IDC_INTERVAL_ANSWER = 1003;
constexpr int IDC_INTERVAL_BAND = 1004;
constexpr int IDC_INTERVAL_FREQ = 1008;
constexpr int IDC_INTERVAL_STEP = 1009;
constexpr int IDC_INTERVAL_CENT = 1010;
constexpr int IDC_INTERVAL_HELP = 1017;
constexpr int IDC_INTERVAL_FREQ_LABEL = 1022;
constexpr int IDC_INTERVAL_CENT_LABEL = 1023;
constexpr int IDC_INTERVAL_BAND_LABEL = 1024;

constexpr int INTERVAL_TIMER_ID = 1;
constexpr int INTERVAL_TIMER_MS = 750;

class CIntervalDlg : public CToneDialog {
public:
    CIntervalDlg();
    ~CIntervalDlg() override;

    const CIntervalProcedure& Procedure() const { return m_procedure; }

private:
    void OnInitDialog();
    void OnOK(wxCommandEvent& event);
    void OnQuestion(wxCommandEvent& event);
    void OnTimer(wxTimerEvent& event);
    // The question's sound judged: the answers, or the question asked again.
    void QuestionPlayed(bool damaged);
    void OnBandChange(wxCommandEvent& event);
    void WatchBandPicks();
    static void OnBandListPopup(void* combo, void* property, void* dialog);
    static void OnBandItemActivated(void* item, void* dialog);
    void OnHelpButton(wxCommandEvent& event);
    void ShowDifference();
    void ShowStep();
    void EvaluateAnswer();

    CIntervalProcedure m_procedure;
    wxTimer m_timer;
};
