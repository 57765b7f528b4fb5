#pragma once
// Helpers for tests that drive the real dialogs under Xvfb. Include this instead of <wx/testing.h>:
// a wxTEST_DIALOG expectation that is not met becomes a gtest failure.
#include <gtest/gtest.h>
#include <wx/dialog.h>
#include <wx/testing.h>

#include <wx/msgdlg.h>

#include <functional>
#include <string>

class CGTestModalHook : public wxTestingModalHook {
public:
    CGTestModalHook(const char* file, int line, const char* func) : wxTestingModalHook(file, line, func) {}

protected:
    void ReportFailure(const wxString& msg) override { ADD_FAILURE() << msg.utf8_str().data(); }
};
#undef wxTEST_DIALOG_HOOK_CLASS
#define wxTEST_DIALOG_HOOK_CLASS CGTestModalHook

// Expects a message box showing exactly `text` (UTF-8) and answers it with `answer`. Also checks
// the buttons (OK only, or OK and Cancel) and that the caption is the program's title.
class CExpectMessageBox : public wxExpectModalBase<wxMessageDialog, CExpectMessageBox> {
public:
    explicit CExpectMessageBox(std::string text, int answer = wxID_OK, bool okCancel = false)
        : m_text(std::move(text)), m_answer(answer), m_okCancel(okCancel)
    {
    }

protected:
    int OnInvoked(wxMessageDialog* box) const override;

private:
    std::string m_text;
    int m_answer;
    bool m_okCancel;
};

// Expects a dialog (of any class) whose title is `title` (UTF-8); `inspect`, when given, looks at it
// before it is answered with `answer` (the dialog is not shown).
class CExpectDialogTitled : public wxExpectModalBase<wxDialog, CExpectDialogTitled> {
public:
    CExpectDialogTitled(std::string title, int answer, std::function<void(wxDialog*)> inspect = {})
        : m_title(std::move(title)), m_answer(answer), m_inspect(std::move(inspect))
    {
    }

protected:
    int OnInvoked(wxDialog* dialog) const override;

private:
    std::string m_title;
    int m_answer;
    std::function<void(wxDialog*)> m_inspect;
};

// Any modal dialog that no expectation answers fails the test and is closed at once, so no test
// can hang on it. A test that drives one of the program's own dialogs for real allows it here.
class CAllowRealDialogs {
public:
    enum EWhich { OWN_DIALOGS, WITH_MESSAGE_BOXES };
    explicit CAllowRealDialogs(EWhich which = OWN_DIALOGS);
    ~CAllowRealDialogs();
    CAllowRealDialogs(const CAllowRealDialogs&) = delete;
    CAllowRealDialogs& operator=(const CAllowRealDialogs&) = delete;

private:
    EWhich m_which;
};
// Whether `dialog` may run for real: a test allowed it, or RunModalScript is running it.
bool RealDialogAllowed(wxDialog* dialog);

// Handles pending events for about `ms` milliseconds.
void PumpEvents(int ms = 50);

// Handles events until `done` holds or `timeoutMs` has passed; returns whether it holds.
bool PumpUntil(const std::function<bool()>& done, int timeoutMs);

// Runs `step` from the event loop that is running then (for instance inside a modal dialog).
void Later(std::function<void()> step);

// Runs `step` after `ms` milliseconds from whatever event loop runs then (a popup menu's too).
void AfterDelay(int ms, std::function<void()> step);

// Shows `dialog` modally (for real) and runs `script` inside its event loop. If the dialog is still open after
// `timeoutMs`, the test fails and the dialog is ended with wxID_CANCEL. Returns the modal result.
int RunModalScript(wxDialog& dialog, std::function<void()> script, int timeoutMs = 30000);

// Input as a user gives it, through the X server (XTest): a click in the middle of `window`, and
// a key press (wxKeyCode and wxMOD_* modifiers) to whatever has the focus.
void UserClick(wxWindow* window, int button = wxMOUSE_BTN_LEFT);
// Gives `window`'s top-level window the keyboard focus, as a window manager would on a click on
// its frame (the test display has no window manager). RunModalScript does it for its dialog.
void FocusTopLevel(wxWindow* window);
// Whether the keyboard focus is inside `top`'s window.
bool FocusIn(const wxWindow* top);
void UserKey(int keyCode, int modifiers = 0);
