#include "questionnaire/CQuestionnaireDlg.h"

#include "checklog/CheckLog.h"
#include "help/HtmlHelp.h"
#include "questionnaire/SurveyExchange.h"
#include "results/ResultRecord.h"
#include "survey/Cp932.h"
#include "ui/Accessibility.h"
#include "ui/DialogResources.h"
#include "ui/Language.h"
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
    {wxID_OK, TR_NOOP("Send")},
    {wxID_CANCEL, TR_NOOP("Cancel")},
    {1031, TR_NOOP("Sex")},
    {1032, TR_NOOP("Age")},
    {1029, TR_NOOP("Date")},
    {1036, TR_NOOP("Range")},
    {1037, TR_NOOP("Cent 55")},
    {1039, TR_NOOP("Cent 110")},
    {1041, TR_NOOP("Cent 220")},
    {1043, TR_NOOP("Cent 440")},
    {1038, TR_NOOP("Cent 880")},
    {1040, TR_NOOP("Cent 1760")},
    {1042, TR_NOOP("Cent 3520")},
    {1044, TR_NOOP("Cent 7040")},
    {1030, TR_NOOP("Inst play")},
    {1033, TR_NOOP("Education")},
    {1034, TR_NOOP("Comment")},
    {1035, TR_NOOP("Result")},
    {1028, TR_NOOP("Questionneiare")},
    {1027, TR_NOOP("Help")},
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

// What the lists show, entry for entry beside the values the wire carries (survey/SurveyFields.h):
// the listener reads them in their language, the server and the log always get the values.
constexpr std::array<const char*, SEX_ITEMS.size()> SEX_SHOWN = {TR_NOOP("none"), TR_NOOP("male"),
                                                                 TR_NOOP("female")};
constexpr std::array<const char*, INSTRUMENT_ITEMS.size()> INSTRUMENT_SHOWN = {
    TR_NOOP("none"), TR_NOOP("no"), TR_NOOP("less than 10 years"), TR_NOOP("over 10 years")};
constexpr std::array<const char*, SCHOOL_ITEMS.size()> SCHOOL_SHOWN = {
    TR_NOOP("none"), TR_NOOP("no"), TR_NOOP("music class"), TR_NOOP("in music university, collage"),
    TR_NOOP("graduated from music university, collage")};

template <std::size_t N> void AddItems(wxChoice* list, const std::array<const char*, N>& shown)
{
    for (const char* item : shown)
        list->Append(U8(Translate(item)));
}

std::string AgeItemShown(int index)
{
    if (index <= 0)
        return Translate("none");
    if (index == 1)
        return Translate("under 5");
    if (index >= AGE_ITEM_COUNT - 1)
        return Translate("over 80");
    return TranslateFormat("%d years old", index + 3);
}

// The wire value of entry `selection` of the list for `field`; "" for a control that is no list.
std::string ListValue(int field, int selection)
{
    const auto pick = [selection](const auto& items) {
        return selection >= 0 && static_cast<std::size_t>(selection) < items.size()
                   ? std::string(items[static_cast<std::size_t>(selection)])
                   : std::string();
    };
    switch (field) {
    case FIELD_SEX:
        return pick(SEX_ITEMS);
    case FIELD_AGE:
        return selection >= 0 && selection < AGE_ITEM_COUNT ? AgeItemText(selection) : std::string();
    case FIELD_INSTRUMENT:
        return pick(INSTRUMENT_ITEMS);
    case FIELD_SCHOOL:
        return pick(SCHOOL_ITEMS);
    default:
        return {};
    }
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
            control->SetLabel(U8(Translate(caption.text)));
    }
    SetTitle(U8(Translate("Questionneiare")));

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
    AddItems(List(IDC_Q_SEX), SEX_SHOWN);
    wxChoice* age = List(IDC_Q_AGE);
    for (int i = 0; i < AGE_ITEM_COUNT; ++i)
        age->Append(U8(AgeItemShown(i)));
    AddItems(List(IDC_Q_INSTRUMENT), INSTRUMENT_SHOWN);
    AddItems(List(IDC_Q_SCHOOL), SCHOOL_SHOWN);
    // Index 0, "none", stands for a question not answered.
    for (int id : {IDC_Q_SEX, IDC_Q_AGE, IDC_Q_INSTRUMENT, IDC_Q_SCHOOL})
        List(id)->SetSelection(0);
}

void CQuestionnaireDlg::FillResults()
{
    for (int i = 0; i < SURVEY_MEASUREMENT_COUNT; ++i) {
        m_measurements[static_cast<std::size_t>(i)] = MeasurementFieldText(i, ResultRecord.Measurement(i));
        const std::string& value = m_measurements[static_cast<std::size_t>(i)];
        Field(IDC_Q_MIN_FREQ + i)
            ->ChangeValue(U8(value == NOT_FINISHED_TEXT ? Translate("not finished") : value));
    }
    // Nothing measured, nothing to send: the dialog can only be cancelled.
    FindWindow(wxID_OK)->Enable(ResultRecord.AnyMeasured());
}

void CQuestionnaireDlg::NameControlsForScreenReaders()
{
    for (const LabelOf& pair : LABELS)
        LabelControl(FindWindow(pair.control), FindWindow(pair.label));
    // Both range fields stand beside the one "Range" label: say which end each one holds.
    SetAccessibleName(FindWindow(IDC_Q_MIN_FREQ), U8(Translate("Range lowest")));
    SetAccessibleName(FindWindow(IDC_Q_MAX_FREQ), U8(Translate("Range highest")));
}

SurveyValues CQuestionnaireDlg::CurrentValues() const
{
    SurveyValues values;
    for (int i = 0; i < SURVEY_FIELD_COUNT; ++i) {
        const int id = SURVEY_FIELD_CONTROLS[i];
        wxWindow* control = FindWindow(id);
        if (auto* list = dynamic_cast<wxChoice*>(control))
            values[i] = ListValue(i, list->GetSelection());
        else if (id >= IDC_Q_MIN_FREQ && id < IDC_Q_MIN_FREQ + SURVEY_MEASUREMENT_COUNT)
            values[i] = m_measurements[static_cast<std::size_t>(id - IDC_Q_MIN_FREQ)];
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
    if (SendAnswers() && LogQuestionnaireSent(ListValue(FIELD_AGE, List(IDC_Q_AGE)->GetSelection())))
        ShowMessage(Translate(CHECK_LOG_FAILED_MESSAGE));
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
