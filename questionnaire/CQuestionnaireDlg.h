#pragma once
// The questionnaire (dialog 131): the measurements of ResultRecord beside a few optional questions
// about the listener. Send hands everything to the questionnaire server and closes the dialog.
// Whatever it shows or sends lives in its controls; nothing survives from one opening to the next.
#include <wx/dialog.h>

#include "survey/SurveyRequest.h"

#include <array>

class wxChoice;
class wxTextCtrl;

// Control IDs of dialog 131.
constexpr int IDC_Q_SEX = 1011;
constexpr int IDC_Q_INSTRUMENT = 1012;
constexpr int IDC_Q_AGE = 1013;
constexpr int IDC_Q_DATE = 1014;
constexpr int IDC_Q_MIN_FREQ = 1015;
constexpr int IDC_Q_MAX_FREQ = 1016;
constexpr int IDC_Q_INTERVAL_FIRST = 1017; // 1017 … 1024: the bands 55 … 7040 Hz
constexpr int IDC_Q_SCHOOL = 1025;
constexpr int IDC_Q_COMMENT = 1026;
constexpr int IDC_Q_HELP = 1027;
// The "～" between the range fields has no ID of its own in the template (65535, the resource
// compiler's "none"); wxWidgets keeps IDs below 32767 and names that role wxID_STATIC.
constexpr int IDC_Q_TILDE = wxID_STATIC;

// The control whose text is each field's value, in the order of SURVEY_FIELDS.
constexpr std::array<int, SURVEY_FIELD_COUNT> SURVEY_FIELD_CONTROLS = {IDC_Q_DATE,
                                                                       IDC_Q_SEX,
                                                                       IDC_Q_AGE,
                                                                       IDC_Q_MIN_FREQ,
                                                                       IDC_Q_MAX_FREQ,
                                                                       IDC_Q_INTERVAL_FIRST,
                                                                       IDC_Q_INTERVAL_FIRST + 1,
                                                                       IDC_Q_INTERVAL_FIRST + 2,
                                                                       IDC_Q_INTERVAL_FIRST + 3,
                                                                       IDC_Q_INTERVAL_FIRST + 4,
                                                                       IDC_Q_INTERVAL_FIRST + 5,
                                                                       IDC_Q_INTERVAL_FIRST + 6,
                                                                       IDC_Q_INTERVAL_FIRST + 7,
                                                                       IDC_Q_INSTRUMENT,
                                                                       IDC_Q_SCHOOL,
                                                                       IDC_Q_COMMENT};

class CQuestionnaireDlg : public wxDialog {
public:
    // With no parent the dialog belongs to the program's main window when it runs modally.
    explicit CQuestionnaireDlg(wxWindow* parent = nullptr);

    // The sixteen values as they would go out now: the date, the lists' and the measurements'
    // values on the wire (whatever language they are shown in), the comment in CP932.
    SurveyValues CurrentValues() const;

private:
    void OnInitDialog();
    void FillLists();
    void FillResults();
    void NameControlsForScreenReaders();
    void OnOK(wxCommandEvent& event);
    void OnHelp(wxCommandEvent& event);
    // Sends the answers and reports the outcome; returns when its message box is dismissed.
    // Returns whether the server took the answers.
    bool SendAnswers();

    wxTextCtrl* Field(int id) const;
    wxChoice* List(int id) const;

    // The measurement fields' wire values, as the dialog opened with them.
    std::array<std::string, SURVEY_MEASUREMENT_COUNT> m_measurements;
};
