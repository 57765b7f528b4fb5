// The three procedures without their windows, on the listeners and sequences the checks are known
// for: how many answers each takes, which frequencies it asks, and what it reports. Each runs
// without a catalog and under the Japanese one, which both show today's texts; the English one
// leaves no Japanese in what the dialogs show, and the log's answers as they are.
#include "diagnoses/CIntervalProcedure.h"
#include "diagnoses/CRangeProcedure.h"
#include "diagnoses/CSoundCardProcedure.h"
#include "diagnoses/FormatHz.h"
#include "diagnoses/SoundCardLimit.h"
#include "tests/support/ShowsJapanese.h"
#include "ui/Language.h"
#ifdef TONVALE_TEST_CATALOGS
#include "ui/Catalog.h"
#endif

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <set>
#include <string>
#include <vector>

namespace {

#ifdef TONVALE_TEST_CATALOGS
// The catalogs whose texts are today's: none, and the Japanese one (its texts map to themselves).
const char* const TODAYS_TEXTS[] = {"C", "ja_JP.UTF-8"};
#else
const char* const TODAYS_TEXTS[] = {"C"};
#endif

// Runs each test under the catalog of its parameter; none afterwards.
class UnderCatalog : public ::testing::TestWithParam<const char*> {
protected:
    void SetUp() override
    {
#ifdef TONVALE_TEST_CATALOGS
        // A missing catalog would leave today's texts too, and pass unseen.
        ASSERT_EQ(InstallCatalog(GetParam()), std::string(GetParam()) == "C" ? "" : "ja");
#endif
    }
    void TearDown() override
    {
#ifdef TONVALE_TEST_CATALOGS
        InstallCatalog("C");
#endif
    }
};

// The answer list's text of `index`; none for no selection or an unknown one.
template <std::size_t N> std::string Listed(const char* const (&answers)[N], int index)
{
    return index >= 0 && index < static_cast<int>(N) ? answers[index] : "";
}

// An answer's rows for the log, compared as the log writes them: the question as asked, then a
// result row holding `value` when the answer found one (an interval's names its band).
void ExpectLogRows(const std::vector<CheckLogRow>& rows, const CheckLogRow& asked, const std::string& value)
{
    std::vector<std::string> got, expected = {FormatLogRow("", "", asked)};
    if (!value.empty())
        expected.push_back(FormatLogRow("", "",
                                        {asked.check, LogKind::Result,
                                         asked.check == LogCheck::Interval ? asked.frequency : "", "", "",
                                         LogJudgement::None, value}));
    for (const CheckLogRow& row : rows)
        got.push_back(FormatLogRow("", "", row));
    EXPECT_EQ(got, expected);
}

// ---- sound card check ----

using SoundCardProcedure = UnderCatalog;
INSTANTIATE_TEST_SUITE_P(Catalogs, SoundCardProcedure, ::testing::ValuesIn(TODAYS_TEXTS));

struct SweepRun {
    int answers = 0;
    std::vector<double> asked;
    SoundCardOutcome outcome;
};

// Plays the introduction, goes on with "Check More" and answers every sweep tone with `answer`.
SweepRun RunSweep(const std::function<int(double)>& answer)
{
    CSoundCardProcedure p;
    SweepRun run;
    EXPECT_EQ(p.State(), SOUNDCARD_INTRODUCTION);
    EXPECT_EQ(p.Frequency(), 20000.0);
    p.IntroductionPlayed();
    EXPECT_EQ(p.State(), SOUNDCARD_INTRODUCTION_PLAYED);
    ExpectLogRows(p.CheckMore(),
                  {LogCheck::SoundCard, LogKind::Question, "20000.00", "20000.00", "Check More",
                   LogJudgement::Heard, ""},
                  "");
    EXPECT_EQ(p.State(), SOUNDCARD_READY);
    EXPECT_EQ(p.Frequency(), 14000.0);
    EXPECT_EQ(p.Step(), 100.0);
    while (run.answers < 1000) {
        EXPECT_EQ(p.State(), SOUNDCARD_READY);
        p.TonePlayed();
        EXPECT_EQ(p.State(), SOUNDCARD_ANSWER);
        run.asked.push_back(p.Frequency());
        ++run.answers;
        const std::string tone = FrequencyText(p.Frequency());
        const int given = answer(p.Frequency());
        run.outcome = p.Answer(given);
        const bool heard = given != SOUNDCARD_NO_SOUND && given != SOUNDCARD_VERY_FAINT;
        ExpectLogRows(run.outcome.logRows,
                      {LogCheck::SoundCard, LogKind::Question, tone, tone, Listed(SOUNDCARD_ANSWERS, given),
                       heard ? LogJudgement::Heard : LogJudgement::NotHeard, ""},
                      run.outcome.finished ? FrequencyText(run.outcome.limit) : "");
        if (run.outcome.finished) {
            EXPECT_EQ(p.State(), SOUNDCARD_FINISHED);
            return run;
        }
    }
    ADD_FAILURE() << "the sweep did not end";
    return run;
}

TEST_P(SoundCardProcedure, CleanCardAboveTheListenersHearingEndsAtTheFullRange)
{
    // Hears every tone up to 16900 Hz and nothing from 17000 Hz on.
    SweepRun run =
        RunSweep([](double hz) { return hz < 17000.0 ? SOUNDCARD_SOME_SOUND : SOUNDCARD_NO_SOUND; });
    EXPECT_EQ(run.answers, 67);
    ASSERT_EQ(run.asked.size(), 67u);
    EXPECT_EQ(run.asked[60], 20000.0);
    const std::vector<double> tail(run.asked.end() - 6, run.asked.end());
    EXPECT_EQ(tail, (std::vector<double>{22100.0, 22075.0, 22062.5, 22056.25, 22053.125, 22051.5625}));
    EXPECT_TRUE(run.outcome.byHalving);
    EXPECT_EQ(run.outcome.limit, 22050.0);
    EXPECT_EQ(run.outcome.resultText, "More than22050.00Hz can be tested with this sound card.");
}

TEST_P(SoundCardProcedure, EverySoundingAnswerEndsBelowTwentyThousand)
{
    // "hear some sound", "lauder sound" and any unknown selection all count as sounding.
    for (int selection : {SOUNDCARD_SOME_SOUND, SOUNDCARD_LOUDER, -1, 9}) {
        SCOPED_TRACE(selection);
        SweepRun run = RunSweep([selection](double) { return selection; });
        EXPECT_EQ(run.answers, 73);
        EXPECT_TRUE(run.outcome.byHalving);
        EXPECT_EQ(run.outcome.limit, 19998.4375);
        EXPECT_EQ(run.outcome.resultText, "Lower than19998.44Hz can be tested with this sound card.");
    }
}

TEST_P(SoundCardProcedure, SoundComingBackAboveASilenceMarksTheLimit)
{
    // Silent from 17000 Hz ("very faint" counts as silent), the card sounds again from 17500 Hz.
    SweepRun run = RunSweep([](double hz) {
        return hz >= 17000.0 && hz < 17500.0 ? SOUNDCARD_VERY_FAINT : SOUNDCARD_SOME_SOUND;
    });
    EXPECT_EQ(run.answers, 48);
    // The first halving comes right after the answer at 17500 Hz, and the next tone is 17450 Hz.
    ASSERT_GE(run.asked.size(), 37u);
    EXPECT_EQ(run.asked[35], 17500.0);
    EXPECT_EQ(run.asked[36], 17450.0);
    EXPECT_EQ(run.outcome.limit, 17498.4375);
    EXPECT_EQ(run.outcome.resultText, "Lower than17498.44Hz can be tested with this sound card.");
}

TEST_P(SoundCardProcedure, WeakerOrDoubleSoundEndsAtOnce)
{
    for (int selection : {SOUNDCARD_SMALLER, SOUNDCARD_TWO_SOUNDS}) {
        SweepRun run = RunSweep([selection](double) { return selection; });
        EXPECT_EQ(run.answers, 1);
        EXPECT_FALSE(run.outcome.byHalving);
        EXPECT_EQ(run.outcome.limit, 14000.0);
        EXPECT_EQ(run.outcome.resultText, "Lower than14000.00Hz can be tested with this sound card.");
    }
}

TEST_P(SoundCardProcedure, StepsHalveAndTheNextToneFollowsTheCandidate)
{
    // Sounding at 14000, silent at 14100, sounding again at 14200: halving around 14100.
    CSoundCardProcedure p;
    p.IntroductionPlayed();
    p.CheckMore();
    const int answers[] = {SOUNDCARD_SOME_SOUND, SOUNDCARD_NO_SOUND, SOUNDCARD_SOME_SOUND};
    for (int a : answers) {
        p.TonePlayed();
        EXPECT_FALSE(p.Answer(a).finished);
    }
    EXPECT_EQ(p.Step(), 50.0);
    EXPECT_EQ(p.Frequency(), 14150.0); // candidate 14200 - 100, plus the new step
    EXPECT_EQ(p.State(), SOUNDCARD_READY);
}

TEST_P(SoundCardProcedure, OutOfOrderCallsChangeNothing)
{
    CSoundCardProcedure p;
    EXPECT_TRUE(p.CheckMore().empty()); // only after the introduction
    EXPECT_EQ(p.State(), SOUNDCARD_INTRODUCTION);
    EXPECT_FALSE(p.Answer(SOUNDCARD_SMALLER).finished);
    EXPECT_FALSE(p.NoSoundAtIntroduction().finished);
    EXPECT_EQ(p.State(), SOUNDCARD_INTRODUCTION);
    p.IntroductionPlayed();
    p.TonePlayed();
    EXPECT_EQ(p.State(), SOUNDCARD_INTRODUCTION_PLAYED);
    // "heard no sound": the whole range, the introduction tone logged as not heard.
    const SoundCardOutcome outcome = p.NoSoundAtIntroduction();
    EXPECT_TRUE(outcome.finished);
    EXPECT_EQ(outcome.limit, MAX_MEASURED_HZ);
    ExpectLogRows(outcome.logRows,
                  {LogCheck::SoundCard, LogKind::Question, "20000.00", "20000.00", "heard no sound",
                   LogJudgement::NotHeard, ""},
                  "22050.00");
    EXPECT_TRUE(p.CheckMore().empty());
}

TEST_P(SoundCardProcedure, TextsAndCaptions)
{
    EXPECT_EQ(std::string(CSoundCardProcedure::SoundCaption(SOUNDCARD_INTRODUCTION_PLAYED)), "Check More");
    EXPECT_EQ(std::string(CSoundCardProcedure::SoundCaption(SOUNDCARD_FINISHED)), "");
    EXPECT_EQ(std::string(CSoundCardProcedure::SoundCaption(SOUNDCARD_ANSWER)), "Answer");
    const std::string text4 = CSoundCardProcedure::MessageText(SOUNDCARD_INTRODUCTION_PLAYED);
    EXPECT_EQ(text4.rfind("Did you hear some sound\xEF\xBC\x9F\n\n If you hear noize", 0), 0u) << text4;
    EXPECT_NE(std::string(CSoundCardProcedure::MessageText(SOUNDCARD_INTRODUCTION)).find("avility"),
              std::string::npos);
    EXPECT_EQ(std::string(CSoundCardProcedure::MessageText(SOUNDCARD_READY)),
              "Press [sound] button, then you will hear a sound.\r\n Answer what sound you heard.");
    EXPECT_EQ(std::string(SOUNDCARD_ANSWERS[SOUNDCARD_LOUDER]), "lauder sound than previous one");
}

TEST(FormatHz, PrintsSixWideWithTwoDecimals)
{
    EXPECT_EQ(FormatHz(100.0), "100.00");
    EXPECT_EQ(FormatHz(1.5625), "  1.56");
    EXPECT_EQ(FormatHz(22050.0), "22050.00");
    EXPECT_EQ(FormatHz(19998.4375), "19998.44");
}

// ---- audible range check ----

struct RangeRun {
    std::vector<int> upperAsked;
    std::vector<int> lowerAsked;
    int upperLimit = 0;
    int lowerLimit = 0;
};

// A listener who hears [lowHz, highHz] counts every tone right, and otherwise says "Don't know".
RangeRun RunRange(CRangeProcedure& p, const std::function<bool(int)>& hears)
{
    RangeRun run;
    for (int question = 0; question < 100 && !p.Finished(); ++question) {
        EXPECT_EQ(p.State(), RANGE_READY);
        const bool upper = p.UpperPhase();
        const int asked = p.TestFrequency();
        (upper ? run.upperAsked : run.lowerAsked).push_back(asked);
        p.StartQuestion();
        EXPECT_EQ(p.State(), RANGE_QUESTION);
        int sounding = 0;
        std::string pattern;
        for (RangeSlot s = p.NextSlot(); s != RangeSlot::End; s = p.NextSlot()) {
            sounding += s == RangeSlot::Tone ? 1 : 0;
            pattern += s == RangeSlot::Tone ? '1' : '0';
        }
        EXPECT_EQ(sounding, p.ToneCount());
        const bool heard = hears(p.TestFrequency());
        const int answer = heard ? sounding - 1 : RANGE_DONT_KNOW;
        RangeOutcome outcome = p.Answer(answer);
        EXPECT_EQ(outcome.correct, heard);
        const int found = outcome.upperLimitHz + outcome.lowerLimitHz;
        ExpectLogRows(outcome.logRows,
                      {upper ? LogCheck::RangeUpper : LogCheck::RangeLower, LogKind::Question,
                       std::to_string(asked), pattern, Listed(RANGE_ANSWERS, answer),
                       heard ? LogJudgement::Right : LogJudgement::Wrong, ""},
                      found != 0 ? std::to_string(found) : "");
        if (outcome.upperLimitHz != 0) {
            EXPECT_TRUE(upper);
            EXPECT_EQ(run.upperLimit, 0);
            run.upperLimit = outcome.upperLimitHz;
            EXPECT_EQ(outcome.resultText, "Upper limit is" + std::to_string(run.upperLimit) + "Hz.");
            EXPECT_TRUE(p.Done());
        }
        if (outcome.lowerLimitHz != 0) {
            run.lowerLimit = outcome.lowerLimitHz;
            EXPECT_EQ(outcome.resultText, "Lower limit is" + std::to_string(run.lowerLimit) + "Hz.");
        }
    }
    EXPECT_TRUE(p.Finished());
    return run;
}

class RangeProcedure : public UnderCatalog {
protected:
    void SetUp() override
    {
        UnderCatalog::SetUp();
        std::srand(20240611);
    }
};
INSTANTIATE_TEST_SUITE_P(Catalogs, RangeProcedure, ::testing::ValuesIn(TODAYS_TEXTS));

TEST_P(RangeProcedure, EveryAnswerRight)
{
    CRangeProcedure p(22050.0);
    EXPECT_EQ(p.TestFrequency(), 11245);
    RangeRun run = RunRange(p, [](int) { return true; });
    EXPECT_EQ(run.upperAsked.size(), 15u);
    EXPECT_EQ(run.upperLimit, 22049);
    EXPECT_EQ(run.lowerAsked.size(), 8u);
    EXPECT_EQ(run.lowerLimit, 11);
}

TEST_P(RangeProcedure, EveryAnswerWrong)
{
    CRangeProcedure p(22050.0);
    RangeRun run = RunRange(p, [](int) { return false; });
    EXPECT_EQ(run.upperAsked.size(), 14u);
    EXPECT_EQ(run.upperLimit, 440);
    EXPECT_EQ(run.lowerAsked.size(), 9u);
    EXPECT_EQ(run.lowerLimit, 440);
}

TEST_P(RangeProcedure, ListenerHearingFortyToFifteenThousand)
{
    CRangeProcedure p(22050.0);
    RangeRun run = RunRange(p, [](int hz) { return hz >= 40 && hz <= 15000; });
    EXPECT_EQ(run.upperAsked, (std::vector<int>{11245, 16647, 13946, 15296, 14621, 14958, 15127, 15042, 15000,
                                                15021, 15010, 15005, 15002, 15001}));
    EXPECT_EQ(run.upperLimit, 15000);
    EXPECT_EQ(run.lowerAsked, (std::vector<int>{225, 117, 63, 36, 49, 42, 39, 40}));
    EXPECT_EQ(run.lowerLimit, 40);
    EXPECT_EQ(p.UpperAudible(), 15000);
    EXPECT_EQ(p.LowerAudible(), 40);
}

TEST_P(RangeProcedure, UpperBoundComesFromTheSoundCardLimit)
{
    CRangeProcedure wide(22100.0);
    EXPECT_EQ(wide.UpperInaudible(), 22100);
    EXPECT_EQ(wide.TestFrequency(), 11270);
    for (double limit : {0.0, -1.0, -5.5}) {
        CRangeProcedure p(limit);
        EXPECT_EQ(p.UpperInaudible(), 22050);
        EXPECT_EQ(p.TestFrequency(), 11245);
    }
    CRangeProcedure fraction(22050.9);
    EXPECT_EQ(fraction.UpperInaudible(), 22050);
    EXPECT_EQ(fraction.LowerAudible(), 440);
    EXPECT_EQ(fraction.UpperAudible(), 440);
}

TEST_P(RangeProcedure, PatternsStartWithAToneAndCoverEveryCombination)
{
    CRangeProcedure p(22050.0);
    std::set<int> seen;
    int allFive = 0;
    for (int i = 0; i < 1600; ++i) {
        p.StartQuestion();
        ASSERT_TRUE(p.SlotSounds(0));
        int bits = 0, count = 0;
        for (int slot = 0; slot < RANGE_SLOT_COUNT; ++slot) {
            bits |= p.SlotSounds(slot) ? 1 << slot : 0;
            count += p.SlotSounds(slot) ? 1 : 0;
        }
        EXPECT_EQ(count, p.ToneCount());
        ASSERT_GE(p.ToneCount(), 1);
        seen.insert(bits);
        allFive += count == 5 ? 1 : 0;
        // The ticks follow the pattern, then the question ends (and stays ended).
        for (int slot = 0; slot < RANGE_SLOT_COUNT; ++slot)
            EXPECT_EQ(p.NextSlot(), p.SlotSounds(slot) ? RangeSlot::Tone : RangeSlot::Silence);
        EXPECT_EQ(p.NextSlot(), RangeSlot::End);
        EXPECT_EQ(p.NextSlot(), RangeSlot::End);
    }
    EXPECT_EQ(seen.size(), 16u);
    EXPECT_GT(allFive, 50); // about 1 in 16
    EXPECT_LT(allFive, 160);
}

TEST_P(RangeProcedure, TheSameSeedDrawsTheSamePatterns)
{
    auto draw = [](unsigned seed) {
        std::srand(seed);
        CRangeProcedure p(22050.0);
        std::vector<int> slots;
        for (int q = 0; q < 20; ++q) {
            p.StartQuestion();
            for (int s = 0; s < RANGE_SLOT_COUNT; ++s)
                slots.push_back(p.SlotSounds(s) ? 1 : 0);
        }
        return slots;
    };
    EXPECT_EQ(draw(4711), draw(4711));
    EXPECT_NE(draw(4711), draw(4712));
}

TEST_P(RangeProcedure, AnswerTexts)
{
    CRangeProcedure p(22050.0);
    p.StartQuestion();
    const int count = p.ToneCount();
    RangeOutcome wrong = p.Answer(-1); // no selection
    EXPECT_FALSE(wrong.correct);
    EXPECT_EQ(wrong.messageText,
              "Wrong!" + std::to_string(count) + "is correct answer.\r\nthe next question will be given.");
    EXPECT_EQ(p.TestFrequency(), (440 + 11245) / 2);
    EXPECT_FALSE(p.Done());

    p.StartQuestion();
    RangeOutcome right = p.Answer(p.ToneCount() - 1);
    EXPECT_TRUE(right.correct);
    EXPECT_EQ(right.messageText, "Correct, the next question will be given.");
    EXPECT_EQ(p.UpperAudible(), 5842);
    EXPECT_EQ(std::string(CRangeProcedure::MessageText(RANGE_QUESTION)),
              "Select how many times you have listend to the sound and push [Answer] button.");
    EXPECT_EQ(std::string(RANGE_ANSWERS[0]), "1回");
    EXPECT_EQ(std::string(RANGE_ANSWERS[RANGE_DONT_KNOW]), "Don't know");
}

TEST_P(RangeProcedure, NothingMoreAfterTheLowerLimit)
{
    CRangeProcedure p(22050.0);
    RunRange(p, [](int) { return false; });
    ASSERT_TRUE(p.Finished());
    EXPECT_EQ(p.State(), RANGE_READY);
    p.StartQuestion();
    RangeOutcome late = p.Answer(p.ToneCount() - 1);
    EXPECT_TRUE(late.messageText.empty());
    EXPECT_EQ(p.LowerAudible(), 440);
}

// ---- interval check ----

struct IntervalRun {
    int questions = 0;
    std::vector<double> differences;
    IntervalOutcome outcome;
};

// `answer` gets the two tones and which is higher, and returns the list index to answer.
IntervalRun RunBand(CIntervalProcedure& p, const std::function<int(int, int, int)>& answer)
{
    IntervalRun run;
    while (run.questions < 100) {
        EXPECT_EQ(p.State(), INTERVAL_READY);
        run.differences.push_back(p.Difference());
        p.StartQuestion();
        const int raised = static_cast<int>(p.Reference() + p.Difference());
        const int first = p.NextTick();
        const int second = p.NextTick();
        EXPECT_EQ(p.NextTick(), 0);
        EXPECT_EQ(first, p.Tone(0));
        EXPECT_EQ(second, p.Tone(1));
        EXPECT_EQ(p.Higher() == 1 ? second : first, raised);
        EXPECT_EQ(p.Higher() == 1 ? first : second, p.Reference());
        ++run.questions;
        const int given = answer(first, second, p.Higher());
        run.outcome = p.Answer(given);
        const std::string band = std::to_string(p.Reference());
        ExpectLogRows(run.outcome.logRows,
                      {LogCheck::Interval, LogKind::Question, band,
                       std::to_string(first) + " " + std::to_string(second), Listed(INTERVAL_ANSWERS, given),
                       run.outcome.correct ? LogJudgement::Right : LogJudgement::Wrong, ""},
                      run.outcome.finished ? std::to_string(run.outcome.cents) : "");
        EXPECT_EQ(run.outcome.correct, given == p.Higher());
        if (run.outcome.finished) {
            EXPECT_EQ(p.State(), INTERVAL_FINISHED);
            EXPECT_TRUE(p.Done());
            return run;
        }
    }
    ADD_FAILURE() << "the band did not finish";
    return run;
}

int AlwaysRight(int, int, int higher)
{
    return higher;
}

class IntervalProcedure : public UnderCatalog {
protected:
    void SetUp() override
    {
        UnderCatalog::SetUp();
        std::srand(1234);
    }
};
INSTANTIATE_TEST_SUITE_P(Catalogs, IntervalProcedure, ::testing::ValuesIn(TODAYS_TEXTS));

TEST_P(IntervalProcedure, OpensOnTheEightEightyBand)
{
    CIntervalProcedure p;
    EXPECT_EQ(p.Band(), 4);
    EXPECT_EQ(p.Reference(), 880);
    EXPECT_EQ(p.LastDifference(), 880.0);
    EXPECT_EQ(p.Difference(), 440.0);
    EXPECT_EQ(p.LastDifferenceCents(), 1200);
    EXPECT_FALSE(p.Done());
    EXPECT_EQ(p.State(), INTERVAL_READY);
}

TEST_P(IntervalProcedure, FourFortyEveryAnswerRight)
{
    CIntervalProcedure p;
    EXPECT_EQ(p.SelectBand(3, SOUND_CARD_UNCHECKED), "");
    IntervalRun run = RunBand(p, AlwaysRight);
    EXPECT_EQ(run.questions, 8);
    EXPECT_EQ(run.differences, (std::vector<double>{220, 110, 55, 27.5, 13.75, 6.875, 3.4375, 1.71875}));
    EXPECT_EQ(run.outcome.cents, 3);
    EXPECT_EQ(run.outcome.resultText, "Difference of frequency that you can recognize is3cent.");
    EXPECT_EQ(run.outcome.messageText, "Correct, the next quetion will be given.");
}

TEST_P(IntervalProcedure, FourFortyEveryAnswerWrong)
{
    for (int wrongAnswer : {INTERVAL_DONT_KNOW, -1, -2}) {
        CIntervalProcedure p;
        p.SelectBand(3, SOUND_CARD_UNCHECKED);
        IntervalRun run = RunBand(
            p, [wrongAnswer](int, int, int higher) { return wrongAnswer == -2 ? 1 - higher : wrongAnswer; });
        EXPECT_EQ(run.questions, 8);
        EXPECT_EQ(run.outcome.cents, 1200);
        EXPECT_EQ(run.outcome.messageText, "Wrong, the next quetion will be given.");
    }
}

TEST_P(IntervalProcedure, ListenerWhoTellsThreeHertz)
{
    CIntervalProcedure p;
    p.SelectBand(3, SOUND_CARD_UNCHECKED);
    IntervalRun run = RunBand(p, [](int first, int second, int higher) {
        return std::abs(first - second) >= 3 ? higher : INTERVAL_DONT_KNOW;
    });
    EXPECT_EQ(run.questions, 8);
    EXPECT_EQ(p.LastDifference(), 3.4375);
    EXPECT_EQ(run.outcome.cents, 11);
}

TEST_P(IntervalProcedure, LowestAndHighestBandsEveryAnswerRight)
{
    CIntervalProcedure low;
    low.SelectBand(0, SOUND_CARD_UNCHECKED);
    IntervalRun lowRun = RunBand(low, AlwaysRight);
    EXPECT_EQ(lowRun.questions, 7);
    EXPECT_EQ(lowRun.outcome.cents, 0);

    CIntervalProcedure high;
    EXPECT_EQ(high.SelectBand(7, 22050.0), "");
    EXPECT_EQ(high.Reference(), 7040);
    IntervalRun highRun = RunBand(high, AlwaysRight);
    EXPECT_EQ(highRun.questions, 12);
    EXPECT_EQ(highRun.outcome.cents, 0);
}

TEST_P(IntervalProcedure, HighBandsNeedACardThatPlaysTwiceTheirFrequency)
{
    const std::string unchecked = "サウンドカードのチェックを終了しないとこの周波数帯の診断はできません。";
    const std::string tooLow = "ご使用のサウンドカードでは、この周波数帯の診断はできません。";
    struct Case {
        int band;
        double limit;
        std::string refusal;
    };
    const Case cases[] = {
        {6, SOUND_CARD_UNCHECKED, unchecked},
        {7, SOUND_CARD_UNCHECKED, unchecked},
        {6, 14000.0, ""},
        {6, 7040.0, ""},
        {6, 7039.5, tooLow},
        {7, 14080.0, ""},
        {7, 14079.9, tooLow},
        {7, 22050.0, ""},
        {5, SOUND_CARD_UNCHECKED, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.band) + " at " + std::to_string(c.limit));
        CIntervalProcedure p;
        p.SelectBand(1, SOUND_CARD_UNCHECKED);
        EXPECT_EQ(p.SelectBand(c.band, c.limit), c.refusal);
        const int band = c.refusal.empty() ? c.band : 4;
        EXPECT_EQ(p.Band(), band);
        EXPECT_EQ(p.Reference(), CIntervalProcedure::BandHz(band));
        EXPECT_EQ(p.LastDifference(), CIntervalProcedure::BandHz(band));
        EXPECT_EQ(p.Difference(), CIntervalProcedure::BandHz(band) * 0.5);
        EXPECT_EQ(p.LastDifferenceCents(), 1200);
    }
}

TEST_P(IntervalProcedure, BandChangeMidQuestionRestartsTheBandWhileTheTonesPlayOn)
{
    CIntervalProcedure p;
    p.StartQuestion();
    const int first = p.Tone(0), second = p.Tone(1);
    EXPECT_EQ(p.NextTick(), first);
    p.SelectBand(2, SOUND_CARD_UNCHECKED);
    EXPECT_EQ(p.State(), INTERVAL_READY);
    EXPECT_EQ(p.Reference(), 220);
    EXPECT_EQ(p.NextTick(), second);
    EXPECT_EQ(p.NextTick(), 0);
    // No answer is taken, nor logged, for a question of a band that was left.
    EXPECT_TRUE(p.AbandonQuestion().empty());
    const IntervalOutcome late = p.Answer(p.Higher());
    EXPECT_TRUE(late.messageText.empty());
    EXPECT_TRUE(late.logRows.empty());
    EXPECT_EQ(p.Difference(), 110.0);
}

TEST_P(IntervalProcedure, DoneOutlivesABandChange)
{
    CIntervalProcedure p;
    p.SelectBand(0, SOUND_CARD_UNCHECKED);
    RunBand(p, AlwaysRight);
    p.SelectBand(3, SOUND_CARD_UNCHECKED);
    EXPECT_TRUE(p.Done());
    EXPECT_EQ(p.State(), INTERVAL_READY);
}

TEST_P(IntervalProcedure, OrderOfTheTonesIsDrawnAtRandom)
{
    CIntervalProcedure p;
    int higherSecond = 0;
    for (int i = 0; i < 400; ++i) {
        p.StartQuestion();
        EXPECT_EQ(std::max(p.Tone(0), p.Tone(1)), 880 + 440);
        higherSecond += p.Higher();
    }
    EXPECT_GT(higherSecond, 140);
    EXPECT_LT(higherSecond, 260);
}

// ---- damaged questions ----

TEST_P(RangeProcedure, AbandonedQuestionKeepsTheBoundsAndDrawsAnew)
{
    CRangeProcedure p(MAX_MEASURED_HZ);
    ASSERT_EQ(p.Answer(0).correct, false); // no question yet: nothing happens
    std::set<std::vector<int>> patterns;
    for (int question = 0; question < 12; ++question) {
        p.StartQuestion();
        std::vector<int> pattern;
        for (RangeSlot s = p.NextSlot(); s != RangeSlot::End; s = p.NextSlot())
            pattern.push_back(s == RangeSlot::Tone);
        patterns.insert(pattern);
        std::string played;
        for (int tone : pattern)
            played += tone != 0 ? '1' : '0';
        ExpectLogRows(
            p.AbandonQuestion(),
            {LogCheck::RangeUpper, LogKind::Question, "11245", played, "", LogJudgement::NotJudged, ""}, "");
        EXPECT_TRUE(p.AbandonQuestion().empty()) << "no question is under way";
        EXPECT_EQ(p.State(), RANGE_READY);
        EXPECT_EQ(p.TestFrequency(), 11245);
        EXPECT_EQ(p.UpperAudible(), 440);
        EXPECT_EQ(p.UpperInaudible(), 22050);
        // An answer after the abandoned question judges nothing.
        EXPECT_TRUE(p.Answer(p.ToneCount() - 1).messageText.empty());
    }
    EXPECT_GT(patterns.size(), 1u);
}

TEST_P(IntervalProcedure, AbandonedQuestionKeepsTheDifference)
{
    CIntervalProcedure p;
    p.StartQuestion();
    p.NextTick();
    ExpectLogRows(p.AbandonQuestion(),
                  {LogCheck::Interval, LogKind::Question, "880",
                   std::to_string(p.Tone(0)) + " " + std::to_string(p.Tone(1)), "", LogJudgement::NotJudged,
                   ""},
                  "");
    EXPECT_EQ(p.State(), INTERVAL_READY);
    EXPECT_EQ(p.Difference(), 440.0);
    EXPECT_TRUE(p.Answer(p.Higher()).messageText.empty());
    // The next question plays both of its tones from the first.
    p.StartQuestion();
    EXPECT_NE(p.NextTick(), 0);
    EXPECT_NE(p.NextTick(), 0);
    EXPECT_EQ(p.NextTick(), 0);
}

#ifdef TONVALE_TEST_CATALOGS
// ---- the English catalog ----

// Every text the three procedures give their dialogs to show: each state's message and button,
// the answer lists as listed, and the sentences of refusals, answers and results.
std::vector<std::string> ShownTexts()
{
    std::srand(4242); // the same questions each time: "Wrong!" names their tone count
    std::vector<std::string> texts;
    for (int state = 0; state <= SOUNDCARD_INTRODUCTION_PLAYED; ++state)
        texts.insert(texts.end(),
                     {CSoundCardProcedure::MessageText(state), CSoundCardProcedure::SoundCaption(state)});
    for (int state = 0; state <= RANGE_FINISHING; ++state)
        texts.insert(texts.end(),
                     {CRangeProcedure::MessageText(state), CRangeProcedure::QuestionCaption(state)});
    for (int state = 0; state <= INTERVAL_FINISHED; ++state)
        texts.insert(texts.end(),
                     {CIntervalProcedure::MessageText(state), CIntervalProcedure::QuestionCaption(state)});
    for (const char* answer : SOUNDCARD_ANSWERS)
        texts.push_back(Translate(answer));
    for (const char* answer : RANGE_ANSWERS)
        texts.push_back(Translate(answer));
    for (const char* answer : INTERVAL_ANSWERS)
        texts.push_back(Translate(answer));

    texts.push_back(RunSweep([](double) { return SOUNDCARD_TWO_SOUNDS; }).outcome.resultText);
    texts.push_back(RunSweep([](double hz) {
                        return hz < 17000.0 ? SOUNDCARD_SOME_SOUND : SOUNDCARD_NO_SOUND;
                    }).outcome.resultText);

    CRangeProcedure range(MAX_MEASURED_HZ);
    range.StartQuestion();
    texts.push_back(range.Answer(RANGE_DONT_KNOW).messageText);
    for (int question = 0; question < 100 && !range.Finished(); ++question) {
        range.StartQuestion();
        const RangeOutcome outcome = range.Answer(range.ToneCount() - 1);
        texts.insert(texts.end(), {outcome.messageText, outcome.resultText});
    }
    EXPECT_TRUE(range.Finished());

    CIntervalProcedure interval;
    texts.push_back(interval.SelectBand(6, SOUND_CARD_UNCHECKED));
    texts.push_back(interval.SelectBand(7, 14000.0));
    interval.StartQuestion();
    texts.push_back(interval.Answer(INTERVAL_DONT_KNOW).messageText);
    for (int question = 0; question < 100 && !interval.Done(); ++question) {
        interval.StartQuestion();
        const IntervalOutcome outcome = interval.Answer(interval.Higher());
        texts.insert(texts.end(), {outcome.messageText, outcome.resultText});
    }
    EXPECT_TRUE(interval.Done());
    return texts;
}

class EnglishCatalog : public ::testing::Test {
protected:
    void TearDown() override { InstallCatalog("C"); }
};

TEST_F(EnglishCatalog, LeavesNoJapaneseInWhatTheChecksShowAndKeepsTheLogsAnswers)
{
    const std::vector<std::string> today = ShownTexts();
    ASSERT_EQ(InstallCatalog("en_US.UTF-8"), "en");
    // (The sweeps inside check their log rows too: the answers as the table writes them.)
    const std::vector<std::string> english = ShownTexts();

    ASSERT_EQ(english.size(), today.size());
    int japaneseToday = 0;
    for (std::size_t i = 0; i < today.size(); ++i) {
        SCOPED_TRACE(today[i]);
        EXPECT_FALSE(ShowsJapanese(english[i])) << english[i];
        if (ShowsJapanese(today[i]))
            ++japaneseToday;
        else // the English texts stay as they are, typos included
            EXPECT_EQ(english[i], today[i]);
    }
    // The answers "1回" to "5回", both refusals and the introduction's full-width question mark.
    EXPECT_EQ(japaneseToday, 8);

    std::vector<std::string> listed;
    for (const char* answer : RANGE_ANSWERS)
        listed.push_back(Translate(answer));
    EXPECT_EQ(listed,
              (std::vector<std::string>{"1 time", "2 times", "3 times", "4 times", "5 times", "Don't know"}));
    CRangeProcedure range(MAX_MEASURED_HZ);
    range.StartQuestion();
    const int count = range.ToneCount();
    const RangeOutcome outcome = range.Answer(count - 1);
    ASSERT_FALSE(outcome.logRows.empty());
    EXPECT_EQ(outcome.logRows[0].answer, std::to_string(count) + "回");
}
#endif

} // namespace
