#include "questionnaire/CQuestionnaireDlg.h"

#include "checklog/CheckLog.h"
#include "help/HtmlHelp.h"
#include "questionnaire/SurveyExchange.h"
#include "results/ResultRecord.h"
#include "survey/Cp932.h"
#include "ui/Accessibility.h"
#include "ui/DialogResources.h"
#include "ui/Message.h"

#include <wx/button.h>
#include <wx/choice.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

#include <ctime>

namespace {

struct Caption {
    int id;
    const char* text;
};

// The English captions that replace the template's Japanese ones. The "～" between the two range
// fields keeps its template text.
constexpr Caption CAPTIONS[] = {
    {wxID_OK, "Send"},
    {wxID_CANCEL, "Cancel"},
    {1031, "Sex"},
    {1032, "Age"},
    {1029, "Date"},
    {1036, "Range"},
    {1037, "Cent 55"},
    {1039, "Cent 110"},
    {1041, "Cent 220"},
    {1043, "Cent 440"},
    {1038, "Cent 880"},
    {1040, "Cent 1760"},
    {1042, "Cent 3520"},
    {1044, "Cent 7040"},
    {1030, "Inst play"},
    {1033, "Education"},
    {1034, "Comment"},
    {1035, "Result"},
    {1028, "Questionneiare"},
    {1027, "Help"},
};

// Each field and list with the label beside it, for the accessibility bus.
struct LabelOf {
    int control;
    int label;
};
constexpr LabelOf LABELS[] = {
    {IDC_Q_SEX, 1031},      {IDC_Q_AGE, 1032},
    {IDC_Q_DATE, 1029},     {IDC_Q_MIN_FREQ, 1036},
    {IDC_Q_MAX_FREQ, 1036}, {1017, 1037},
    {1018, 1039},           {1019, 1041},
    {1020, 1043},           {1021, 1038},
    {1022, 1040},           {1023, 1042},
    {1024, 1044},           {IDC_Q_INSTRUMENT, 1030},
    {IDC_Q_SCHOOL, 1033},   {IDC_Q_COMMENT, 1034},
};

template <std::size_t N> void AddItems(wxChoice* list, const std::array<std::string_view, N>& items)
{
    for (std::string_view item : items)
        list->Append(wxString::FromUTF8(item.data(), item.size()));
}

std::string Utf8(const wxString& text)
{
    const wxScopedCharBuffer utf8 = text.utf8_str();
    return std::string(utf8.data(), utf8.length());
}

} // namespace

CQuestionnaireDlg::CQuestionnaireDlg(wxWindow* parent)
{
    if (!LoadDialogResource(this, parent, "IDD_QUESTIONNAIRE")) {
        ReportMissingTemplate(this, parent, "IDD_QUESTIONNAIRE");
        return;
    }

    Bind(wxEVT_BUTTON, &CQuestionnaireDlg::OnOK, this, wxID_OK);
    Bind(wxEVT_BUTTON, &CQuestionnaireDlg::OnHelp, this, IDC_Q_HELP);
    // Enter inside the comment starts a new line (the control handles it); everywhere else the
    // default button, Send, takes it.
    SetAffirmativeId(wxID_OK);
    SetEscapeId(wxID_CANCEL);

    OnInitDialog();
}

void CQuestionnaireDlg::OnInitDialog()
{
    for (const Caption& caption : CAPTIONS) {
        if (wxWindow* control = FindWindow(caption.id))
            control->SetLabel(caption.text);
    }
    SetTitle("Questionneiare");

    // The time the dialog opened is what gets sent, however long the user takes.
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    Field(IDC_Q_DATE)->ChangeValue(FormatSurveyTime(local));

    FillLists();
    FillResults();
    NameControlsForScreenReaders();
}

void CQuestionnaireDlg::FillLists()
{
    AddItems(List(IDC_Q_SEX), SEX_ITEMS);
    wxChoice* age = List(IDC_Q_AGE);
    for (int i = 0; i < AGE_ITEM_COUNT; ++i)
        age->Append(AgeItemText(i));
    AddItems(List(IDC_Q_INSTRUMENT), INSTRUMENT_ITEMS);
    AddItems(List(IDC_Q_SCHOOL), SCHOOL_ITEMS);
    // Index 0, "none", stands for a question not answered.
    for (int id : {IDC_Q_SEX, IDC_Q_AGE, IDC_Q_INSTRUMENT, IDC_Q_SCHOOL})
        List(id)->SetSelection(0);
}

void CQuestionnaireDlg::FillResults()
{
    for (int i = 0; i < SURVEY_MEASUREMENT_COUNT; ++i)
        Field(IDC_Q_MIN_FREQ + i)->ChangeValue(MeasurementFieldText(i, ResultRecord.Measurement(i)));
    // Nothing measured, nothing to send: the dialog can only be cancelled.
    FindWindow(wxID_OK)->Enable(ResultRecord.AnyMeasured());
}

void CQuestionnaireDlg::NameControlsForScreenReaders()
{
    for (const LabelOf& pair : LABELS)
        LabelControl(FindWindow(pair.control), FindWindow(pair.label));
    // Both range fields stand beside the one "Range" label: say which end each one holds.
    SetAccessibleName(FindWindow(IDC_Q_MIN_FREQ), "Range lowest");
    SetAccessibleName(FindWindow(IDC_Q_MAX_FREQ), "Range highest");
}

SurveyValues CQuestionnaireDlg::CurrentValues() const
{
    SurveyValues values;
    for (int i = 0; i < SURVEY_FIELD_COUNT; ++i) {
        const int id = SURVEY_FIELD_CONTROLS[i];
        wxWindow* control = FindWindow(id);
        if (auto* list = dynamic_cast<wxChoice*>(control))
            values[i] = Utf8(list->GetStringSelection());
        else if (id == IDC_Q_COMMENT)
            values[i] = Utf8ToCp932(Utf8(Field(id)->GetValue()), SURVEY_FIELD_MAX_BYTES);
        else
            values[i] = Utf8(Field(id)->GetValue());
    }
    return values;
}

bool CQuestionnaireDlg::SendAnswers()
{
    return SubmitSurvey(CurrentValues());
}

void CQuestionnaireDlg::OnOK(wxCommandEvent&)
{
    // Enter in the comment field inserts a line break and never gets here; a disabled Send
    // cannot be pressed, but the default-button path must respect that as well.
    if (!FindWindow(wxID_OK)->IsEnabled())
        return;
    // Of the answers, only the age goes to the log: the report marks its band.
    if (SendAnswers() && LogQuestionnaireSent(List(IDC_Q_AGE)->GetStringSelection().utf8_str().data()))
        ShowMessage(CHECK_LOG_FAILED_MESSAGE);
    EndModal(wxID_OK);
}

void CQuestionnaireDlg::OnHelp(wxCommandEvent&)
{
    HtmlHelp(this, HELP_FILE_NAME, HH_DISPLAY_TOPIC, "question.htm");
}

wxTextCtrl* CQuestionnaireDlg::Field(int id) const
{
    return ControlById<wxTextCtrl>(const_cast<CQuestionnaireDlg*>(this), id);
}

wxChoice* CQuestionnaireDlg::List(int id) const
{
    return ControlById<wxChoice>(const_cast<CQuestionnaireDlg*>(this), id);
}
