#pragma once
// The interval check without its window: the eight bands and their admission, the two tones of a
// question, the halving and moving back of the difference, and when a band is finished. The dialog
// plays the tones on its timer and shows what this class decides. The texts it returns are in the
// listener's language; its answer table holds them as written, which the log keeps.
#include "checklog/CheckLog.h"
#include "survey/SurveyFields.h"

#include <string>
#include <vector>

constexpr int INTERVAL_READY = 0;    // ready for a question
constexpr int INTERVAL_QUESTION = 1; // a question plays or awaits its answer
constexpr int INTERVAL_FINISHED = 2; // the band is finished

constexpr int INTERVAL_FIRST_BAND = 4; // 880 Hz
// Answer list entries (the log's answers, translated where listed).
constexpr int INTERVAL_ANSWER_COUNT = 3;
constexpr int INTERVAL_FORMER = 0;
constexpr int INTERVAL_LATER = 1;
constexpr int INTERVAL_DONT_KNOW = 2;
extern const char* const INTERVAL_ANSWERS[INTERVAL_ANSWER_COUNT];

// What one answer led to.
struct IntervalOutcome {
    bool correct = false;
    std::string messageText;
    bool finished = false; // the band is finished: announce and store `cents`
    int cents = 0;
    std::string resultText; // the message box text when finished
    // For the log: the question as asked and judged, then the band's cents when finished.
    std::vector<CheckLogRow> logRows;
};

class CIntervalProcedure {
public:
    CIntervalProcedure();

    int State() const { return m_state; }
    int Band() const { return m_band; }
    int Reference() const { return m_reference; }
    double LastDifference() const { return m_lastDifference; }
    double Difference() const { return m_difference; }
    // Frequencies of the first and second tone of the question, Hz.
    int Tone(int index) const { return m_tones[index]; }
    // 0 when the first tone is the higher one, 1 when the second is.
    int Higher() const { return m_higher; }
    // A band has finished in this dialog: closing no longer needs a confirmation.
    bool Done() const { return m_done; }
    // The last correctly told difference in whole cents, as the dialog shows it.
    int LastDifferenceCents() const;

    static int BandHz(int band);

    // Starts band `band` from its initial values. The 3520 Hz and 7040 Hz bands need a checked card
    // that can play twice their frequency; when refused, the band is 880 Hz and the refusal text is
    // returned (empty when admitted).
    std::string SelectBand(int band, double soundCardLimit);
    // Draws the order of the two tones (RandomBetween(0, 1)) and starts the question.
    void StartQuestion();
    // The next tick of the question: the frequency of the tone to play, or 0 once both have played.
    int NextTick();
    // Evaluates an answer (list index, -1 for none): correct when it names the higher tone.
    IntervalOutcome Answer(int selection);
    // A question whose sound was damaged is not judged: back to ready, difference and step as
    // they were; the next question draws its order anew. Returns the log's row for it (none when
    // the question was already given up by a band change).
    std::vector<CheckLogRow> AbandonQuestion();

    // The message field and Question button of `state`, translated.
    static std::string MessageText(int state);
    static std::string QuestionCaption(int state);

private:
    void StartBand(int band);
    CheckLogRow QuestionRow() const;

    int m_state = INTERVAL_READY;
    int m_band = INTERVAL_FIRST_BAND;
    int m_reference = 0;
    double m_lastDifference = 0.0;
    double m_difference = 0.0;
    int m_tones[2] = {};
    int m_higher = 0;
    int m_tickIndex = 0;
    bool m_done = false;
};
