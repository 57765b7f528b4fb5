#include "diagnoses/CSoundCardProcedure.h"

#include "diagnoses/SoundCardLimit.h"
#include "ui/Language.h"

const char* const SOUNDCARD_ANSWERS[SOUNDCARD_ANSWER_COUNT] = {
    TR_NOOP("no sound"),
    TR_NOOP("very faint sound"),
    TR_NOOP("hear some sound"),
    TR_NOOP("lauder sound than previous one"),
    TR_NOOP("smaller sound than previous one"),
    TR_NOOP("hear two sounds, middle range and high range"),
};

namespace {

const char* const MESSAGE_TEXTS[] = {
    TR_NOOP("Press [sound] button, then you will hear a sound.\r\n Answer what sound you heard."),
    TR_NOOP("Answer what sound you heard. This continues until frequency of 22050Hz, after then it continues "
            "with more short range frequency."),
    TR_NOOP("Please finish diagnosis."),
    TR_NOOP(
        "If you press [sound] button, 20,000Hz sound will be generated.\n\nVery few people can hear this "
        "frequency.\n\nIf you could hear some sound after pushing button, it means your sound card is not "
        "good rather than you have good ears.\n\n If you could hear some sound after pushing the button, "
        "some questions that test sound card avility will be given."),
    TR_NOOP(
        "Did you hear some sound\xEF\xBC\x9F\n\n If you hear noize rather than low sound, it means you did "
        "not hear any sound.\n(After this, please exclude this kind of noise.)\n\n If you hear normal sound, "
        "your sound card should be checked, so proceed [check more].\n\n If you did not hear any sound, push "
        "[no sound] button and return to previous screen and proceed to hearing range check."),
};

// The caption of "Check More" is also the log's answer for the introduction tone: as written here.
const char* const SOUND_CAPTIONS[] = {TR_NOOP("Sound"), TR_NOOP("Answer"), "", TR_NOOP("Sound"),
                                      TR_NOOP("Check More")};

// FormatHz's "%6.2f", inside the sentence, so that a catalog translates the sentence as a whole.
std::string LowerThanText(double hz)
{
    return TranslateFormat("Lower than%6.2fHz can be tested with this sound card.", hz);
}

} // namespace

CSoundCardProcedure::CSoundCardProcedure()
    : m_state(SOUNDCARD_INTRODUCTION), m_frequency(SOUNDCARD_INTRODUCTION_HZ),
      m_step(SOUNDCARD_FIRST_STEP_HZ), m_lastSilent(-1.0), m_lastSounding(-1.0)
{
}

std::string CSoundCardProcedure::MessageText(int state)
{
    return state >= 0 && state <= SOUNDCARD_INTRODUCTION_PLAYED ? Translate(MESSAGE_TEXTS[state]) : "";
}

std::string CSoundCardProcedure::SoundCaption(int state)
{
    return state >= 0 && state <= SOUNDCARD_INTRODUCTION_PLAYED ? Translate(SOUND_CAPTIONS[state]) : "";
}

void CSoundCardProcedure::ResetSweep()
{
    m_lastSilent = -1.0;
    m_lastSounding = -1.0;
    m_frequency = SOUNDCARD_SWEEP_START_HZ;
}

void CSoundCardProcedure::IntroductionPlayed()
{
    if (m_state == SOUNDCARD_INTRODUCTION)
        m_state = SOUNDCARD_INTRODUCTION_PLAYED;
}

CheckLogRow CSoundCardProcedure::ToneRow(const char* answer, LogJudgement judgement) const
{
    CheckLogRow row;
    row.check = LogCheck::SoundCard;
    row.frequency = FrequencyText(m_frequency);
    row.played = row.frequency;
    row.answer = answer;
    row.judgement = judgement;
    return row;
}

CheckLogRow CSoundCardProcedure::LimitRow(double limit)
{
    CheckLogRow row;
    row.check = LogCheck::SoundCard;
    row.kind = LogKind::Result;
    row.value = FrequencyText(limit);
    return row;
}

std::vector<CheckLogRow> CSoundCardProcedure::CheckMore()
{
    if (m_state != SOUNDCARD_INTRODUCTION_PLAYED)
        return {};
    // The button's caption is the answer the listener gave.
    std::vector<CheckLogRow> rows = {
        ToneRow(SOUND_CAPTIONS[SOUNDCARD_INTRODUCTION_PLAYED], LogJudgement::Heard)};
    m_state = SOUNDCARD_READY;
    ResetSweep();
    return rows;
}

SoundCardOutcome CSoundCardProcedure::NoSoundAtIntroduction()
{
    SoundCardOutcome outcome;
    if (m_state != SOUNDCARD_INTRODUCTION_PLAYED)
        return outcome;
    outcome.finished = true;
    outcome.limit = MAX_MEASURED_HZ;
    outcome.logRows = {ToneRow("heard no sound", LogJudgement::NotHeard), LimitRow(outcome.limit)};
    m_state = SOUNDCARD_FINISHED;
    return outcome;
}

std::vector<CheckLogRow> CSoundCardProcedure::DamagedToneRows() const
{
    return {ToneRow("", LogJudgement::NotJudged)};
}

void CSoundCardProcedure::TonePlayed()
{
    if (m_state == SOUNDCARD_READY)
        m_state = SOUNDCARD_ANSWER;
}

SoundCardOutcome CSoundCardProcedure::Answer(int selection)
{
    SoundCardOutcome outcome;
    if (m_state != SOUNDCARD_ANSWER)
        return outcome;
    const bool heard = selection != SOUNDCARD_NO_SOUND && selection != SOUNDCARD_VERY_FAINT;
    outcome.logRows.push_back(
        ToneRow(selection >= 0 && selection < SOUNDCARD_ANSWER_COUNT ? SOUNDCARD_ANSWERS[selection] : "",
                heard ? LogJudgement::Heard : LogJudgement::NotHeard));

    if (selection == SOUNDCARD_SMALLER || selection == SOUNDCARD_TWO_SOUNDS) {
        // A weaker sound or a second one means the card distorts here already.
        outcome.finished = true;
        outcome.limit = m_frequency;
        outcome.resultText = LowerThanText(m_frequency);
        outcome.logRows.push_back(LimitRow(outcome.limit));
        m_state = SOUNDCARD_FINISHED;
        return outcome;
    }

    // A very faint sound counts as none: the card is judged by what plays clearly.
    if (!heard)
        m_lastSilent = m_frequency;
    else
        m_lastSounding = m_frequency;

    // A sound that came back above a silent frequency, or a sound at 20000 Hz, is the card's own.
    bool halve;
    if (m_lastSilent == -1.0)
        halve = m_frequency >= SOUNDCARD_INTRODUCTION_HZ;
    else
        halve = m_lastSounding > m_lastSilent || m_frequency >= SOUNDCARD_INTRODUCTION_HZ;

    if (!halve) {
        m_frequency += m_step;
        m_state = SOUNDCARD_READY;
        return outcome;
    }

    double candidate;
    std::string resultText;
    if (m_lastSounding > m_lastSilent) {
        candidate = m_lastSounding - m_step;
        resultText = LowerThanText(candidate);
    } else {
        candidate = MAX_MEASURED_HZ;
        resultText = TranslateFormat("More than%6.2fHz can be tested with this sound card.",
                                     static_cast<double>(MAX_MEASURED_HZ));
    }
    m_step *= 0.5;
    if (m_step < 1.0) {
        outcome.finished = true;
        outcome.byHalving = true;
        outcome.limit = candidate;
        outcome.resultText = resultText;
        outcome.logRows.push_back(LimitRow(outcome.limit));
        m_state = SOUNDCARD_FINISHED;
        return outcome;
    }
    m_lastSounding = -1.0;
    m_frequency = candidate + m_step;
    m_state = SOUNDCARD_READY;
    return outcome;
}
