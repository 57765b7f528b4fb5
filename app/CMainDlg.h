#pragma once
// The main window (dialog 102): one button per command. It shows no results; it binds ResultRecord
// to result.dat for the whole run and writes it at Quit, and keeps the run's log beside it.
#include <wx/dialog.h>

#include <memory>

class CCheckLog;
class CFileBackedBlock;
class wxContextMenuEvent;
class wxKeyEvent;
class wxMouseEvent;

// Command of the About entry (a system-menu command ID: low four bits zero, below 0xF000).
constexpr int IDM_ABOUTBOX = 0x0010;
// Command of the "My Results" entry beside it.
constexpr int IDM_MY_RESULTS = 0x0020;

// Control IDs of dialog 102.
constexpr int IDC_CHECK_RANGE = 1000;
constexpr int IDC_CHECK_INTERVAL = 1001;
constexpr int IDC_CHECK_SOUNDCARD = 1002;
constexpr int IDC_SEND_RESULT = 1010;
constexpr int IDC_SHOW_RESULT = 1011;
constexpr int IDC_HELP = 1016;

class CMainDlg : public wxDialog {
public:
    CMainDlg();
    ~CMainDlg() override;

    // The text of the About entry (string 101).
    static wxString AboutMenuText();

private:
    void OnInitDialog();
    void OnOK(wxCommandEvent& event);
    void OnCancel(wxCommandEvent& event);
    void OnClose(wxCloseEvent& event);
    void OnCharHook(wxKeyEvent& event);
    void OnCheckSoundCard(wxCommandEvent& event);
    void OnCheckRange(wxCommandEvent& event);
    void OnCheckInterval(wxCommandEvent& event);
    void OnSendResult(wxCommandEvent& event);
    void OnShowResult(wxCommandEvent& event);
    void OnHelp(wxCommandEvent& event);
    void OnContextMenu(wxContextMenuEvent& event);
    void OnRightUp(wxMouseEvent& event);
    void ShowAboutMenu();
    void OnAbout(wxCommandEvent& event);
    void OnMyResults(wxCommandEvent& event);
    void EndWithoutSaving();

    std::unique_ptr<CFileBackedBlock> m_resultFile;
    int m_workingDirectory = -1; // descriptor of the directory result.dat lives in
    std::unique_ptr<CCheckLog> m_log;
    CCheckLog* m_previousLog = nullptr;
};
