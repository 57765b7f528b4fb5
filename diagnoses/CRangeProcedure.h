#pragma once
// The audible range check without its window: the five-slot patterns, the two integer bisections
// (upper limit first, then lower limit) and the texts they produce. The dialog plays the slots on
// its timer and shows what this class decides. The texts it returns are in the listener's language;
// its answer table holds them as written, which the log keeps.
#include "checklog/CheckLog.h"

#include <string>
#include <vector>

constexpr int RANGE_READY = 0;     // ready for a question (also after the lower limit was found)
constexpr int RANGE_QUESTION = 1;  // a question plays or awaits its answer
constexpr int RANGE_FINISHING = 2; // transient, while the lower limit is announced

constexpr int RANGE_SLOT_COUNT = 5;
// Answer list: "1回" to "5回", then "Don't know" (the log's answers, translated where listed).
constexpr int RANGE_ANSWER_COUNT = 6;
constexpr int RANGE_DONT_KNOW = 5;
extern const char* const RANGE_ANSWERS[RANGE_ANSWER_COUNT];

// What one timer tick of a question does.
enum class RangeSlot { Tone, Silence, End };

// What one answer led to. A limit of 0 means none was found by this answer.
struct RangeOutcome {
    bool correct = false;
    std::string messageText; // the dialog's new message text (translated, as resultText)
    int upperLimitHz = 0;    // found now: announce it and store it as the highest audible frequency
    int lowerLimitHz = 0;    // found now: announce it, store it as the lowest; the check is over
    std::string resultText;  // the message box text that announces the limit found now
    // For the log: the question as asked and judged, then the limit when one was found.
    std::vector<CheckLogRow> logRows;
};

class CRangeProcedure {
public:
    // The upper search runs up to the sound card's limit (22050 when none is known).
    explicit CRangeProcedure(double soundCardLimit);

    int State() const { return m_state; }
    int TestFrequency() const { return m_testFrequency; }
    int LowerAudible() const { return m_lowerAudible; }
    int UpperAudible() const { return m_upperAudible; }
    int UpperInaudible() const { return m_upperInaudible; }
    bool UpperPhase() const { return m_upperPhase; }
    // The upper limit has been found: closing no longer needs a confirmation.
    bool Done() const { return m_done; }
    // Both limits have been found: no further question can be asked.
    bool Finished() const { return m_finished; }
    bool SlotSounds(int slot) const { return m_pattern[slot] != 0; }
    int ToneCount() const { return m_toneCount; }

    // Draws a pattern (slot 0 always sounds, slots 1 to 4 by RandomBetween(0, 1)) and starts it.
    void StartQuestion();
    // The next tick of the question: a tone or a silence for each of the five slots, then End.
    RangeSlot NextSlot();
    // Evaluates an answer: the list index (-1 for no selection); correct when index + 1 is the
    // number of tones.
    RangeOutcome Answer(int selection);
    // A question whose sound was damaged is not judged: back to ready, bounds as they were; the
    // next question draws a new pattern. Returns the log's row for it (none when no question was
    // under way).
    std::vector<CheckLogRow> AbandonQuestion();

    // The message field and Question button of `state`, translated.
    static std::string MessageText(int state);
    static std::string QuestionCaption(int state);

private:
    CheckLogRow QuestionRow() const;

    int m_state = RANGE_READY;
    int m_pattern[RANGE_SLOT_COUNT] = {};
    int m_toneCount = 0;
    int m_slotIndex = 0;
    bool m_upperPhase = true;
    int m_upperAudible = 440;
    int m_upperInaudible;
    int m_lowerAudible = 440;
    int m_lowerInaudible = 10;
    int m_testFrequency;
    bool m_done = false;
    bool m_finished = false;
};
