#include "app/CMainDlg.h"

#include "app/CAboutDlg.h"
#include "checklog/CheckLog.h"
#include "diagnoses/DiagnosisCommands.h"
#include "diagnoses/SoundCardLimit.h"
#include "help/HtmlHelp.h"
#include "questionnaire/QuestionnaireCommands.h"
#include "report/MyResults.h"
#include "res/TonvaleIcon.h"
#include "results/ResultFile.h"
#include "results/ResultRecord.h"
#include "ui/DialogResources.h"
#include "ui/Language.h"
#include "ui/Message.h"

#include <wx/button.h>
#include <wx/menu.h>

#include <fcntl.h>
#include <unistd.h>

CMainDlg::CMainDlg()
{
    if (!LoadDialogResource(this, nullptr, "IDD_MAIN")) {
        ReportMissingTemplate(this, nullptr, "IDD_MAIN");
        return;
    }

    Bind(wxEVT_BUTTON, &CMainDlg::OnOK, this, wxID_OK);
    Bind(wxEVT_BUTTON, &CMainDlg::OnCancel, this, wxID_CANCEL);
    Bind(wxEVT_CLOSE_WINDOW, &CMainDlg::OnClose, this);
    Bind(wxEVT_BUTTON, &CMainDlg::OnCheckRange, this, IDC_CHECK_RANGE);
    Bind(wxEVT_BUTTON, &CMainDlg::OnCheckInterval, this, IDC_CHECK_INTERVAL);
    Bind(wxEVT_BUTTON, &CMainDlg::OnSendResult, this, IDC_SEND_RESULT);
    Bind(wxEVT_BUTTON, &CMainDlg::OnShowResult, this, IDC_SHOW_RESULT);
    Bind(wxEVT_BUTTON, &CMainDlg::OnHelp, this, IDC_HELP);
    Bind(wxEVT_BUTTON, &CMainDlg::OnCheckSoundCard, this, IDC_CHECK_SOUNDCARD);
    // The About entry: a context menu by keyboard (Menu key, Shift+F10) or by a right click anywhere
    // in the window, buttons included (GTK's buttons report no context-menu request of their own).
    Bind(wxEVT_CONTEXT_MENU, &CMainDlg::OnContextMenu, this);
    Bind(wxEVT_RIGHT_UP, &CMainDlg::OnRightUp, this);
    for (wxWindow* child : GetChildren())
        child->Bind(wxEVT_RIGHT_UP, &CMainDlg::OnRightUp, this);
    Bind(wxEVT_MENU, &CMainDlg::OnAbout, this, IDM_ABOUTBOX);
    Bind(wxEVT_MENU, &CMainDlg::OnMyResults, this, IDM_MY_RESULTS);
    // Escape ends the window like Cancel: without the offer and without saving. The template has
    // no Cancel button for wxWidgets to press, so the key is handled here.
    Bind(wxEVT_CHAR_HOOK, &CMainDlg::OnCharHook, this);

    OnInitDialog();
}

CMainDlg::~CMainDlg()
{
    // Ended without Quit (Escape, or the window manager's close button): the file keeps its content.
    if (m_resultFile)
        m_resultFile->Abandon();
    m_resultFile.reset();
    if (m_log) {
        SetCurrentCheckLog(m_previousLog);
        m_log.reset();
    }
    if (m_workingDirectory >= 0)
        ::close(m_workingDirectory);
}

wxString CMainDlg::AboutMenuText()
{
    return U8(Translate("Tonvale のﾊﾞｰｼﾞｮﾝ情報(&A)..."));
}

void CMainDlg::OnInitDialog()
{
    SetIcons(TonvaleIcons());

    SetTitle(U8(Translate("Tonvale")));
    FindWindow(wxID_OK)->SetLabel(U8(Translate("Quit")));
    FindWindow(IDC_HELP)->SetLabel(U8(Translate("Help")));
    FindWindow(IDC_SEND_RESULT)->SetLabel(U8(Translate("Send Result")));
    FindWindow(IDC_SHOW_RESULT)->SetLabel(U8(Translate("Show Result")));
    FindWindow(IDC_CHECK_INTERVAL)->SetLabel(U8(Translate("Check Interval")));
    FindWindow(IDC_CHECK_RANGE)->SetLabel(U8(Translate("Check Range")));
    FindWindow(IDC_CHECK_SOUNDCARD)->SetLabel(U8(Translate("Check Sound Card")));

    // The result file lives in the working directory of the moment the window opens. A descriptor
    // holds on to it however long its path is; should even that fail, the working directory of
    // each access is the best there is.
    m_workingDirectory = ::open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (m_workingDirectory < 0)
        m_workingDirectory = ::open(".", O_PATH | O_DIRECTORY | O_CLOEXEC);
    m_resultFile = OpenResultFile(m_workingDirectory >= 0 ? m_workingDirectory : AT_FDCWD);
    // The log follows result.dat through the same descriptor; nothing is created before its first row.
    m_log = std::make_unique<CCheckLog>(m_workingDirectory >= 0 ? m_workingDirectory : AT_FDCWD);
    m_previousLog = CurrentCheckLog();
    SetCurrentCheckLog(m_log.get());

    // The focus starts on the first control in the tab order, "Quit".
    FindWindow(wxID_OK)->SetFocus();
}

void CMainDlg::OnCheckSoundCard(wxCommandEvent&)
{
    RunSoundCardCheck();
}

void CMainDlg::OnCheckRange(wxCommandEvent&)
{
    if (SoundCardLimit >= MAX_MEASURED_HZ)
        RunRangeCheck();
    else if (SoundCardLimit == SOUND_CARD_UNCHECKED)
        ShowMessage(Translate("まず、サウンドカードのチェックを完了させてください。"));
    else
        ShowMessage(Translate("ご使用のサウンドカードでは正確な測定が行えません。"));
}

void CMainDlg::OnCheckInterval(wxCommandEvent&)
{
    RunIntervalCheck();
}

void CMainDlg::OnSendResult(wxCommandEvent&)
{
    RunQuestionnaire();
}

void CMainDlg::OnShowResult(wxCommandEvent&)
{
    ShowResultPage(this);
}

void CMainDlg::OnHelp(wxCommandEvent&)
{
    HtmlHelp(this, HELP_FILE_NAME, HH_DISPLAY_TOPIC, "index.htm");
}

void CMainDlg::OnOK(wxCommandEvent&)
{
    OfferQuestionnaireAtQuit();
    CloseResultFile(m_resultFile); // writes result.dat
    EndModal(wxID_OK);
}

void CMainDlg::EndWithoutSaving()
{
    if (IsModal())
        EndModal(wxID_CANCEL);
}

void CMainDlg::OnCancel(wxCommandEvent&)
{
    EndWithoutSaving();
}

void CMainDlg::OnCharHook(wxKeyEvent& event)
{
    if (event.GetKeyCode() == WXK_ESCAPE && event.GetModifiers() == wxMOD_NONE)
        EndWithoutSaving();
    else
        event.Skip();
}

void CMainDlg::OnClose(wxCloseEvent&)
{
    // A close button that the window manager adds anyway acts as Escape does.
    EndWithoutSaving();
}

void CMainDlg::OnContextMenu(wxContextMenuEvent&)
{
    ShowAboutMenu();
}

void CMainDlg::OnRightUp(wxMouseEvent&)
{
    ShowAboutMenu();
}

void CMainDlg::ShowAboutMenu()
{
    // GTK gives no way into the window manager's menu: the About entry lives in a context menu.
    const wxString text = AboutMenuText();
    wxMenu menu;
    if (!text.empty())
        menu.Append(IDM_ABOUTBOX, text);
    menu.Append(IDM_MY_RESULTS, U8(Translate("&My Results")));
    PopupMenu(&menu);
}

void CMainDlg::OnAbout(wxCommandEvent&)
{
    CAboutDlg about;
    about.ShowModal();
}

void CMainDlg::OnMyResults(wxCommandEvent&)
{
    // The log lies beside result.dat: through the descriptor held since the start, wherever the
    // working directory has moved since.
    ShowMyResults(this, m_workingDirectory >= 0 ? m_workingDirectory : AT_FDCWD,
                  m_resultFile && m_resultFile->IsForeign());
}
