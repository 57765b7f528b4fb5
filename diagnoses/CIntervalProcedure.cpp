#include "diagnoses/CIntervalProcedure.h"

#include "diagnoses/RandomBetween.h"
#include "diagnoses/SoundCardLimit.h"
#include "synth/CentsBetween.h"
#include "ui/Language.h"

#include <cmath>
#include <string>

const char* const INTERVAL_ANSWERS[INTERVAL_ANSWER_COUNT] = {TR_NOOP("Former sound"), TR_NOOP("Later sound"),
                                                             TR_NOOP("Don't know")};

namespace {

const char* const MESSAGE_TEXTS[] = {
    TR_NOOP("Click [Question] button, then sounds will be generated.\r\nAnser which sound is higher!"),
    TR_NOOP("Select which sound is higher and click [Answer] button."),
    TR_NOOP("You may continue with another frequency range, or may finish with [Finish] button."),
};

const char* const QUESTION_CAPTIONS[] = {TR_NOOP("Question"), TR_NOOP("Answer"), TR_NOOP("Answer")};

constexpr int BAND_3520 = 6;

} // namespace

CIntervalProcedure::CIntervalProcedure()
{
    StartBand(INTERVAL_FIRST_BAND);
}

int CIntervalProcedure::BandHz(int band)
{
    return INTERVAL_BAND_HZ[band];
}

std::string CIntervalProcedure::MessageText(int state)
{
    return state >= 0 && state <= INTERVAL_FINISHED ? Translate(MESSAGE_TEXTS[state]) : "";
}

std::string CIntervalProcedure::QuestionCaption(int state)
{
    return state >= 0 && state <= INTERVAL_FINISHED ? Translate(QUESTION_CAPTIONS[state]) : "";
}

int CIntervalProcedure::LastDifferenceCents() const
{
    const int f = BandHz(m_band);
    return static_cast<int>(CentsBetween(static_cast<int>(f + m_lastDifference), f));
}

void CIntervalProcedure::StartBand(int band)
{
    m_band = band;
    m_reference = BandHz(band);
    m_lastDifference = m_reference;
    m_difference = m_lastDifference * 0.5;
    m_state = INTERVAL_READY;
}

std::string CIntervalProcedure::SelectBand(int band, double soundCardLimit)
{
    std::string refusal;
    if (band < 0 || band >= INTERVAL_BAND_COUNT) {
        band = INTERVAL_FIRST_BAND;
    } else if (band >= BAND_3520) {
        // After wrong answers a band's raised tone climbs toward twice its reference, and a card is
        // usable only below its limit.
        if (soundCardLimit == SOUND_CARD_UNCHECKED)
            refusal = Translate("サウンドカードのチェックを終了しないとこの周波数帯の診断はできません。");
        else if (2.0 * BandHz(band) > soundCardLimit)
            refusal = Translate("ご使用のサウンドカードでは、この周波数帯の診断はできません。");
        if (!refusal.empty())
            band = INTERVAL_FIRST_BAND;
    }
    StartBand(band);
    return refusal;
}

void CIntervalProcedure::StartQuestion()
{
    const int raised = static_cast<int>(m_reference + m_difference);
    if (RandomBetween(0, 1) == 1) {
        m_tones[0] = m_reference;
        m_tones[1] = raised;
        m_higher = 1;
    } else {
        m_tones[0] = raised;
        m_tones[1] = m_reference;
        m_higher = 0;
    }
    m_tickIndex = 0;
    m_state = INTERVAL_QUESTION;
}

CheckLogRow CIntervalProcedure::QuestionRow() const
{
    CheckLogRow row;
    row.check = LogCheck::Interval;
    row.frequency = std::to_string(BandHz(m_band));
    row.played = IntervalTonesText(m_tones[0], m_tones[1]);
    row.judgement = LogJudgement::NotJudged;
    return row;
}

std::vector<CheckLogRow> CIntervalProcedure::AbandonQuestion()
{
    std::vector<CheckLogRow> rows;
    // After a band change during the question the procedure is ready already.
    if (m_state == INTERVAL_QUESTION) {
        rows.push_back(QuestionRow());
        m_state = INTERVAL_READY;
    }
    m_tickIndex = 0;
    return rows;
}

int CIntervalProcedure::NextTick()
{
    if (m_tickIndex >= 2)
        return 0;
    return m_tones[m_tickIndex++];
}

IntervalOutcome CIntervalProcedure::Answer(int selection)
{
    IntervalOutcome outcome;
    if (m_state != INTERVAL_QUESTION)
        return outcome;

    outcome.correct = selection == m_higher;
    CheckLogRow asked = QuestionRow();
    asked.answer = selection >= 0 && selection < INTERVAL_ANSWER_COUNT ? INTERVAL_ANSWERS[selection] : "";
    asked.judgement = outcome.correct ? LogJudgement::Right : LogJudgement::Wrong;
    outcome.logRows.push_back(std::move(asked));
    if (outcome.correct) {
        outcome.messageText = Translate("Correct, the next quetion will be given.");
        m_lastDifference = m_difference;
        m_difference *= 0.5;
    } else {
        outcome.messageText = Translate("Wrong, the next quetion will be given.");
        // Halfway back toward the last difference that was told correctly.
        m_difference = (m_difference + m_lastDifference) * 0.5;
    }

    const double f = BandHz(m_band);
    const double gap = std::fabs(m_difference - m_lastDifference);
    if (gap < 1.0 && gap < f * 0.005) {
        outcome.finished = true;
        outcome.cents = LastDifferenceCents();
        outcome.resultText =
            TranslateFormat("Difference of frequency that you can recognize is%dcent.", outcome.cents);
        CheckLogRow found;
        found.check = LogCheck::Interval;
        found.kind = LogKind::Result;
        found.frequency = std::to_string(BandHz(m_band));
        found.value = std::to_string(outcome.cents);
        outcome.logRows.push_back(std::move(found));
        m_state = INTERVAL_FINISHED;
        m_done = true;
        return outcome;
    }
    m_state = INTERVAL_READY;
    return outcome;
}
