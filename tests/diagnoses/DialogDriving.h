#pragma once
// Driving the diagnosis dialogs as a user does, and looking at them.
#include "tests/diagnoses/SinkRecorder.h"
#include "tests/support/WxTesting.h"

#include <gtest/gtest.h>

#include <wx/choice.h>
#include <wx/modalhook.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class wxDialog;
class wxWindow;

// What every test of the real dialogs starts from: no measurements, an unchecked card, the sink's
// monitor recording, and real dialogs allowed. A failing test keeps what was recorded since it
// began as TESTNAME.wav for a person to listen to.
class CDiagnosisDialogTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // The recording from `from` to now, once the sink has caught up with what was played.
    std::vector<float> RecordedSince(std::int64_t from, int settleMs = 400);

    CSinkRecorder m_recorder;
    std::int64_t m_start = 0;
    CAllowRealDialogs m_allow;
};

// Runs `script` inside the modal loop of the next dialog (not a message box) that opens while this
// object lives: for dialogs that a button of another dialog opens. As with RunDialog, a dialog
// the script leaves open is ended and the test fails.
class CScriptNextDialog : public wxModalDialogHook {
public:
    explicit CScriptNextDialog(std::function<void(wxDialog*)> script);
    ~CScriptNextDialog() override;
    bool Ran() const { return m_ran; }

protected:
    int Enter(wxDialog* dialog) override;
    void Exit(wxDialog*) override {}

private:
    std::function<void(wxDialog*)> m_script;
    bool m_entered = false;
    bool m_ran = false;
};

// Shows `dialog` modally and runs `script` in it, as RunModalScript does; a dialog that is still
// open a few seconds after the script (it failed half-way, or did not end the dialog) is ended at
// once with wxID_CANCEL instead of at the timeout, and the test fails.
int RunDialog(wxDialog& dialog, std::function<void()> script, int timeoutMs = 30000);

// Picks entry `index` of a drop-down list: a click opens its list (on the entry selected now), the
// arrow keys move to the entry and Return takes it, as a user does. The dialog may refuse the
// choice: callers check the selection.
void ChooseEntry(wxChoice* choice, int index);
// Picks an answer, which the dialog takes as it is.
void ChooseAnswer(wxChoice* answers, int index);

// Clicks a button that plays a tone and disables itself until the tone has been judged (the sound
// card's Sound), and waits until it takes clicks again.
void ClickAndAwaitSound(wxWindow* button);

// Clicks a Help button and returns the page the help window then shows ("" when none), closing
// the help window again.
std::string ClickHelp(wxWindow* helpButton);

// The text a control shows (label, edit value or list selection), as UTF-8.
std::string TextOf(wxWindow* parent, int id);
bool IsShownControl(wxWindow* parent, int id);
bool IsEnabledControl(wxWindow* parent, int id);
std::string AccessibleNameOf(wxWindow* control);
// Every text `window` shows, as UTF-8: its title, and each control's label or value, list items
// and accessible name, hidden controls included.
std::vector<std::string> ShownTexts(wxWindow* window);

// Saves a screenshot of the display as NAME.png in $TONVALE_SNAPSHOT_DIR, when that is set.
void Snapshot(const std::string& name);
