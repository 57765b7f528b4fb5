#pragma once
// The sound card check (dialog 132): plays 20000 Hz first; a listener who hears nothing has a card
// good over the whole range, otherwise a sweep from 14000 Hz finds where the card's own sounds
// begin. Stores its result in SoundCardLimit; closing stores nothing and never asks.
#include "diagnoses/CSoundCardProcedure.h"
#include "diagnoses/CToneDialog.h"

// Control IDs of dialog 132.
constexpr int IDC_SOUNDCARD_MESSAGE = 1001;
constexpr int IDC_SOUNDCARD_SOUND = 1002;
constexpr int IDC_SOUNDCARD_ANSWER = 1003;
constexpr int IDC_SOUNDCARD_FREQUENCY = 1006;
constexpr int IDC_SOUNDCARD_ACCURACY = 1007;
constexpr int IDC_SOUNDCARD_ACCURACY_LABEL = 1020;
constexpr int IDC_SOUNDCARD_FREQUENCY_LABEL = 1021;

class CSoundCardDlg : public CToneDialog {
public:
    CSoundCardDlg();
    ~CSoundCardDlg() override;

    const CSoundCardProcedure& Procedure() const { return m_procedure; }

private:
    void OnInitDialog();
    void OnOK(wxCommandEvent& event);
    void OnSound(wxCommandEvent& event);
    // Plays the tone at the procedure's frequency; once the engine has judged its sound,
    // TonePlayed goes on (the Sound button stays disabled until then).
    void PlayTone();
    // A damaged tone counts as not played: the listener is told and may play it again. A whole
    // one moves the procedure on.
    void TonePlayed(bool damaged);
    void ShowState();
    void EvaluateAnswer();

    CSoundCardProcedure m_procedure;
};
