#pragma once
// What the three test dialogs share: loading their template, owning one sound engine, bringing
// the engine's notices from its notification thread to the GUI thread, and waiting for the
// engine's verdict on a question's sound without blocking the window.
//
// Threads: PostBufferDone and PostClip run on the engine's notification thread and only queue an
// event; everything else runs on the GUI thread.
#include "audio/CWaveOutOwner.h"

#include <wx/dialog.h>
#include <wx/event.h>
#include <wx/string.h>
#include <wx/timer.h>

#include <atomic>
#include <functional>
#include <string>
#include <vector>

// Told when a question's sound was damaged on its way to the listener: the question is not
// judged and is asked again. As written (the catalog's msgid); shown translated.
extern const char* const QUESTION_DAMAGED_TEXT;

class CSynthesizer;
struct CheckLogRow;
class wxThreadEvent;

class CToneDialog : public wxDialog, public CWaveOutOwner {
public:
    // The engine, or nullptr when it could not be created. For tests that look at what it plays.
    CSynthesizer* Synthesizer() const { return m_pSynth; }

protected:
    // Loads template `resource`, sized as the template says.
    explicit CToneDialog(const char* resource);
    // Stops the engine (joining its threads) and deletes it.
    ~CToneDialog() override;

    // The engine every dialog uses: voice 0, a sine at `amplitude`, released, under `masterGain`.
    void CreateSynthesizer(double amplitude, double masterGain);
    void DeleteSynthesizer();
    // Start and Stop of the engine. Notices of an earlier run that are still queued when the
    // engine starts again are dropped: their buffers have been queued afresh by the new run.
    void StartSynthesizer();
    void StopSynthesizer();

    // The tones of a question (or of one sound card tone): voice 0 at `hz` opens and closes; from
    // BeginQuestionSound on, the engine notes where they fall to judge whether they were whole.
    void BeginQuestionSound();
    void StartTone(double hz);
    void StopTone();
    // The question's sound reaches the device's position now (its silent slots count too).
    void ExtendQuestionSound();
    // The question's sound is complete: `then(damaged)` runs once the engine has seen the device
    // take all of it (a few tenths of a second, as its buffers come back), or after
    // QUESTION_SOUND_WAIT_MS on what the device has taken by then; at once without an engine. The
    // window stays responsive meanwhile. Keep the engine running until `then`, and show
    // QUESTION_DAMAGED_TEXT once it is stopped. Ending the dialog meanwhile judges at once.
    void AwaitQuestionSound(std::function<void(bool damaged)> then);
    bool IsQuestionSoundPending() const { return static_cast<bool>(m_questionSoundPlayed); }

    // Ends the modal loop, once a question's sound still awaited has been judged (its rows are
    // logged, and the listener told, before the dialog goes).
    void EndModal(int code) override;

    // A question whose sound was damaged: its rows go to the log, the listener is told, and the
    // dialog shows `readyText` and `readyCaption` on `questionId`, enabled, to ask it again.
    void AskAgainAfterDamage(const std::vector<CheckLogRow>& rows, int messageId,
                             const std::string& readyText, int questionId, const std::string& readyCaption);

    // Blocks the GUI thread while a tone sounds from the render thread; the engine's notices queue
    // up meanwhile and are handled once the caller returns to the event loop.
    static void Sleep(int ms);
    // One tone on voice 0 (StartTone, a block of `toneMs`, StopTone).
    void SoundTone(double hz, int toneMs);

    // The answer list `id`: shown at `selection`, hidden, and the entry the user picked
    // (wxNOT_FOUND without one).
    void ShowAnswers(int id, int selection);
    void HideAnswers(int id);
    int SelectedAnswer(int id);
    // Ends the dialog with OK; while the check is still `inProgress`, only when the user confirms.
    void EndAfterConfirming(bool inProgress);

    // Texts in UTF-8, as Translate and the procedures give them.
    void SetControlText(int id, const std::string& text);
    void SetControlLabel(int id, const std::string& label);
    void ShowControl(int id, bool show);
    void EnableControl(int id, bool enable);

    // Escape and the close box end the dialog at once (IDCANCEL), without asking.
    void EndAtOnce();

    // Hands an answer's rows to the run's log. Call only once the question's sound is over: each
    // row is one short write, and a failure is told when the check ends, not here.
    static void LogRows(const std::vector<CheckLogRow>& rows);

    CSynthesizer* m_pSynth = nullptr;

private:
    void PostBufferDone(WaveHeader* header) override;
    void PostClip(int clipped) override;
    void MoveFocusFrom(wxWindow* control);
    void RestoreFocusTo(wxWindow* control);
    void OnBufferDone(wxThreadEvent& event);
    void QuestionSoundPlayed(bool damaged);
    void OnQuestionSoundTimeout(wxTimerEvent& event);
    void JudgeQuestionSoundNow();
    void OnCharHook(wxKeyEvent& event);
    void OnClose(wxCloseEvent& event);

    wxWindow* m_focusToRestore = nullptr;
    std::function<void(bool damaged)> m_questionSoundPlayed;
    wxTimer m_questionSoundTimeout;
    // Counts the engine's runs; each notice carries the run it belongs to. Read by the
    // notification thread.
    std::atomic<int> m_run{0};
};
