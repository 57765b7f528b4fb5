#pragma once
// The sound card check without its window: which tone comes next, how the step shrinks, and what
// the card's limit is. The dialog plays the tones and shows what this class decides. The texts it
// returns are in the listener's language; its tables hold them as written, which the log keeps.
#include "checklog/CheckLog.h"

#include <string>
#include <vector>

// States; each also indexes the message and Sound-button tables.
constexpr int SOUNDCARD_READY = 0;  // next sweep tone not yet played
constexpr int SOUNDCARD_ANSWER = 1; // sweep tone played, answer awaited
constexpr int SOUNDCARD_FINISHED = 2;
constexpr int SOUNDCARD_INTRODUCTION = 3; // 20000 Hz tone not yet played
constexpr int SOUNDCARD_INTRODUCTION_PLAYED = 4;

// Answer list entries (their index is the answer): the log's answers, translated where listed.
constexpr int SOUNDCARD_ANSWER_COUNT = 6;
constexpr int SOUNDCARD_NO_SOUND = 0;
constexpr int SOUNDCARD_VERY_FAINT = 1;
constexpr int SOUNDCARD_SOME_SOUND = 2;
constexpr int SOUNDCARD_LOUDER = 3;
constexpr int SOUNDCARD_SMALLER = 4;
constexpr int SOUNDCARD_TWO_SOUNDS = 5;
extern const char* const SOUNDCARD_ANSWERS[SOUNDCARD_ANSWER_COUNT];

constexpr double SOUNDCARD_INTRODUCTION_HZ = 20000.0;
constexpr double SOUNDCARD_SWEEP_START_HZ = 14000.0;
constexpr double SOUNDCARD_FIRST_STEP_HZ = 100.0;

// What one answer led to.
struct SoundCardOutcome {
    bool finished = false;
    // The check ended because the step fell below 1 Hz (the dialog then hides its Sound button and
    // captions OK "終了"), rather than on a weaker sound or two sounds.
    bool byHalving = false;
    double limit = 0.0;     // the card's usable limit when finished
    std::string resultText; // the message box text when finished (translated)
    // For the log: the tone as played and judged, then the card's limit when finished.
    std::vector<CheckLogRow> logRows;
};

class CSoundCardProcedure {
public:
    CSoundCardProcedure();

    int State() const { return m_state; }
    double Frequency() const { return m_frequency; }
    double Step() const { return m_step; }

    // The 20000 Hz introduction has been played.
    void IntroductionPlayed();
    // "Check More" after the introduction: the sweep starts at 14000 Hz. Returns the log's row for
    // the introduction tone, which was heard.
    std::vector<CheckLogRow> CheckMore();
    // "heard no sound" after the introduction: the card is good over the whole range.
    SoundCardOutcome NoSoundAtIntroduction();
    // The log's row for the tone at Frequency(), played damaged and so not judged.
    std::vector<CheckLogRow> DamagedToneRows() const;
    // The tone at Frequency() has been played; an answer is awaited.
    void TonePlayed();
    // Evaluates the listener's answer (a list index; anything unknown counts as sounding).
    SoundCardOutcome Answer(int selection);

    // The message field and Sound button of `state`, translated.
    static std::string MessageText(int state);
    static std::string SoundCaption(int state);

private:
    void ResetSweep();
    CheckLogRow ToneRow(const char* answer, LogJudgement judgement) const;
    static CheckLogRow LimitRow(double limit);

    int m_state;
    double m_frequency;
    double m_step;
    double m_lastSilent;
    double m_lastSounding;
};
