#include "diagnoses/CRangeProcedure.h"

#include "diagnoses/RandomBetween.h"
#include "diagnoses/SoundCardLimit.h"
#include "ui/Language.h"

#include <string>

const char* const RANGE_ANSWERS[RANGE_ANSWER_COUNT] = {TR_NOOP("1回"), TR_NOOP("2回"), TR_NOOP("3回"),
                                                       TR_NOOP("4回"), TR_NOOP("5回"), TR_NOOP("Don't know")};

namespace {

const char* const MESSAGE_TEXTS[] = {
    TR_NOOP(
        "Click [Question] button, then sounds will be generated.\r\nAnswer how many times you have listen "
        "to the sound."),
    TR_NOOP("Select how many times you have listend to the sound and push [Answer] button."),
    TR_NOOP("Please finish diagnosis."),
};

const char* const QUESTION_CAPTIONS[] = {TR_NOOP("Question"), TR_NOOP("Answer"), ""};

CheckLogRow ResultRow(LogCheck check, int limitHz)
{
    CheckLogRow row;
    row.check = check;
    row.kind = LogKind::Result;
    row.value = std::to_string(limitHz);
    return row;
}

} // namespace

CRangeProcedure::CRangeProcedure(double soundCardLimit)
    : m_upperInaudible(soundCardLimit > 0.0 ? static_cast<int>(soundCardLimit) : MAX_MEASURED_HZ)
{
    m_testFrequency = (m_upperInaudible + m_upperAudible) / 2;
}

std::string CRangeProcedure::MessageText(int state)
{
    return state >= 0 && state <= RANGE_FINISHING ? Translate(MESSAGE_TEXTS[state]) : "";
}

std::string CRangeProcedure::QuestionCaption(int state)
{
    return state >= 0 && state <= RANGE_FINISHING ? Translate(QUESTION_CAPTIONS[state]) : "";
}

void CRangeProcedure::StartQuestion()
{
    m_pattern[0] = 1;
    m_toneCount = 1;
    for (int slot = 1; slot < RANGE_SLOT_COUNT; ++slot) {
        m_pattern[slot] = RandomBetween(0, 1) == 1 ? 1 : 0;
        m_toneCount += m_pattern[slot];
    }
    m_slotIndex = 0;
    m_state = RANGE_QUESTION;
}

CheckLogRow CRangeProcedure::QuestionRow() const
{
    bool slots[RANGE_SLOT_COUNT];
    for (int slot = 0; slot < RANGE_SLOT_COUNT; ++slot)
        slots[slot] = m_pattern[slot] != 0;
    CheckLogRow row;
    row.check = m_upperPhase ? LogCheck::RangeUpper : LogCheck::RangeLower;
    row.frequency = std::to_string(m_testFrequency);
    row.played = RangePatternText(slots);
    row.judgement = LogJudgement::NotJudged;
    return row;
}

std::vector<CheckLogRow> CRangeProcedure::AbandonQuestion()
{
    std::vector<CheckLogRow> rows;
    if (m_state == RANGE_QUESTION) {
        rows.push_back(QuestionRow());
        m_state = RANGE_READY;
    }
    m_slotIndex = 0;
    return rows;
}

RangeSlot CRangeProcedure::NextSlot()
{
    if (m_slotIndex >= RANGE_SLOT_COUNT)
        return RangeSlot::End;
    return m_pattern[m_slotIndex++] != 0 ? RangeSlot::Tone : RangeSlot::Silence;
}

RangeOutcome CRangeProcedure::Answer(int selection)
{
    RangeOutcome outcome;
    if (m_state != RANGE_QUESTION || m_finished)
        return outcome;

    int& audible = m_upperPhase ? m_upperAudible : m_lowerAudible;
    int& inaudible = m_upperPhase ? m_upperInaudible : m_lowerInaudible;
    outcome.correct = selection + 1 == m_toneCount;
    CheckLogRow asked = QuestionRow();
    asked.answer = selection >= 0 && selection < RANGE_ANSWER_COUNT ? RANGE_ANSWERS[selection] : "";
    asked.judgement = outcome.correct ? LogJudgement::Right : LogJudgement::Wrong;
    outcome.logRows.push_back(std::move(asked));
    if (outcome.correct) {
        outcome.messageText = Translate("Correct, the next question will be given.");
        audible = m_testFrequency;
    } else {
        outcome.messageText =
            TranslateFormat("Wrong!%dis correct answer.\r\nthe next question will be given.", m_toneCount);
        inaudible = m_testFrequency;
    }
    m_testFrequency = (audible + inaudible) / 2;

    if (m_upperPhase) {
        if (m_testFrequency == m_upperAudible) {
            // The bracket is 1 Hz wide: the upper limit is found and the lower search begins.
            outcome.upperLimitHz = m_upperAudible;
            outcome.resultText = TranslateFormat("Upper limit is%dHz.", m_upperAudible);
            outcome.logRows.push_back(ResultRow(LogCheck::RangeUpper, m_upperAudible));
            m_upperPhase = false;
            m_testFrequency = (m_lowerInaudible + m_lowerAudible) / 2;
            m_done = true;
        }
    } else if (m_testFrequency == m_lowerAudible ||
               ((m_lowerAudible + m_lowerInaudible) % 2 != 0 && m_testFrequency + 1 == m_lowerAudible)) {
        outcome.lowerLimitHz = m_lowerAudible;
        outcome.resultText = TranslateFormat("Lower limit is%dHz.", m_lowerAudible);
        outcome.logRows.push_back(ResultRow(LogCheck::RangeLower, m_lowerAudible));
        m_done = true;
        m_finished = true;
    }
    m_state = RANGE_READY;
    return outcome;
}
