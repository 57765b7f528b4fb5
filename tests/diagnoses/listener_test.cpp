// A simulated listener completes the checks through the real dialogs and the real audio path: it
// answers from what was actually recorded at the sink, hearing a tone when its level at the test
// frequency is above a threshold and the frequency lies within its hearing. Long real-time runs.
#include "diagnoses/CIntervalDlg.h"
#include "diagnoses/CRangeDlg.h"
#include "diagnoses/CSoundCardDlg.h"
#include "diagnoses/FormatHz.h"
#include "diagnoses/SoundCardLimit.h"
#include "results/ResultRecord.h"
#include "tests/diagnoses/DialogDriving.h"
#include "tests/diagnoses/SinkRecorder.h"
#include "tests/support/WxTesting.h"
#include "ui/DialogResources.h"

#include <gtest/gtest.h>
#include <wx/choice.h>
#include <wx/modalhook.h>
#include <wx/msgdlg.h>

#include <cmath>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

namespace {

constexpr double HEARD = 0.05;

// On a busy machine a tone may lose sound on its way to the sink; the dialog then says that the
// question is not judged, and the listener, like a user, closes the message and asks again.
class CDamageMessages : public wxModalDialogHook {
public:
    CDamageMessages() { Register(); }
    ~CDamageMessages() override { Unregister(); }
    int Count() const { return m_count; }

protected:
    int Enter(wxDialog* dialog) override
    {
        auto* box = dynamic_cast<wxMessageDialog*>(dialog);
        if (!box || box->GetMessage().utf8_str().data() != std::string(QUESTION_DAMAGED_TEXT))
            return wxID_NONE;
        ++m_count;
        return wxID_OK;
    }
    void Exit(wxDialog*) override {}

private:
    int m_count = 0;
};

class SimulatedListener : public CDiagnosisDialogTest {
protected:
    void TearDown() override
    {
        if (m_damaged.Count() > 0)
            std::printf("%d questions were not judged: their sound was damaged\n", m_damaged.Count());
        CDiagnosisDialogTest::TearDown();
    }

    CDamageMessages m_damaged;
};

double PeakOf(const std::vector<double>& levels)
{
    double peak = 0.0;
    for (double level : levels)
        peak = std::max(peak, level);
    return peak;
}

TEST_F(SimulatedListener, SoundCardSweepUpToTheFirstHalving)
{
    // The card is clean up to 16900 Hz as far as this listener can tell, silent from 17000 Hz, and
    // makes its own sound again from 17500 Hz (the 20000 Hz introduction included).
    auto cardSounds = [](double hz) { return hz < 17000.0 || hz >= 17500.0; };
    std::vector<double> asked;
    CSoundCardDlg dlg;
    RunDialog(
        dlg,
        [&] {
            auto* answers = ControlById<wxChoice>(&dlg, IDC_SOUNDCARD_ANSWER);
            ASSERT_NE(answers, nullptr);
            PumpEvents(300);
            std::int64_t mark = m_recorder.Samples();
            ClickAndAwaitSound(dlg.FindWindow(IDC_SOUNDCARD_SOUND));
            for (int again = 0; again < 3 && dlg.Procedure().State() == SOUNDCARD_INTRODUCTION; ++again) {
                mark = m_recorder.Samples();
                ClickAndAwaitSound(dlg.FindWindow(IDC_SOUNDCARD_SOUND));
            }
            const double introduction = PeakOf(LevelsAt(RecordedSince(mark), 20000.0));
            ASSERT_GT(introduction, HEARD);
            ASSERT_TRUE(cardSounds(20000.0));
            UserClick(dlg.FindWindow(IDC_SOUNDCARD_SOUND)); // "Check More"
            EXPECT_EQ(TextOf(&dlg, IDC_SOUNDCARD_ACCURACY), "100.00");
            EXPECT_EQ(TextOf(&dlg, IDC_SOUNDCARD_FREQUENCY), "14000.00");

            while (dlg.Procedure().Step() == 100.0 && asked.size() < 80 && m_damaged.Count() < 10) {
                const double hz = dlg.Procedure().Frequency();
                asked.push_back(hz);
                mark = m_recorder.Samples();
                const int damaged = m_damaged.Count();
                ClickAndAwaitSound(dlg.FindWindow(IDC_SOUNDCARD_SOUND));
                if (m_damaged.Count() != damaged) {
                    asked.pop_back();
                    continue;
                }
                ASSERT_TRUE(answers->IsShown());
                ASSERT_EQ(TextOf(&dlg, IDC_SOUNDCARD_SOUND), "Answer");
                const bool heard = PeakOf(LevelsAt(RecordedSince(mark, 250), hz)) > HEARD && cardSounds(hz);
                const int answer = heard ? SOUNDCARD_SOME_SOUND : SOUNDCARD_NO_SOUND;
                if (answers->GetSelection() != answer)
                    ChooseAnswer(answers, answer);
                UserClick(dlg.FindWindow(IDC_SOUNDCARD_SOUND));
                ASSERT_FALSE(answers->IsShown());
            }
            Snapshot("soundcard-first-halving");
            UserKey(WXK_ESCAPE);
        },
        120000);

    std::vector<double> expected;
    for (double hz = 14000.0; hz <= 17500.0; hz += 100.0)
        expected.push_back(hz);
    EXPECT_EQ(asked, expected);
    EXPECT_EQ(dlg.Procedure().Step(), 50.0);
    EXPECT_EQ(dlg.Procedure().Frequency(), 17450.0);
    EXPECT_EQ(TextOf(&dlg, IDC_SOUNDCARD_ACCURACY), " 50.00");
    EXPECT_EQ(TextOf(&dlg, IDC_SOUNDCARD_FREQUENCY), "17450.00");
    // Leaving before the end stores nothing.
    EXPECT_EQ(SoundCardLimit, SOUND_CARD_UNCHECKED);
}

// A seed whose draws put the raised tone first in questions 6 and 7 of a band, where the tones are
// the same after truncation and the listener can only guess "Former sound".
unsigned SeedForIdenticalQuestions()
{
    for (unsigned seed = 1;; ++seed) {
        std::srand(seed);
        int draws[7];
        for (int& d : draws)
            d = std::rand() % 2;
        if (draws[5] == 0 && draws[6] == 0)
            return seed;
    }
}

TEST_F(SimulatedListener, IntervalCheckAtFiftyFiveHertz)
{
    const unsigned seed = SeedForIdenticalQuestions();
    int questions = 0;
    CIntervalDlg dlg;
    RunDialog(
        dlg,
        [&] {
            auto* bands = ControlById<wxChoice>(&dlg, IDC_INTERVAL_BAND);
            auto* answers = ControlById<wxChoice>(&dlg, IDC_INTERVAL_ANSWER);
            ASSERT_NE(bands, nullptr);
            ASSERT_NE(answers, nullptr);
            ChooseEntry(bands, 0);
            ASSERT_EQ(dlg.Procedure().Reference(), 55);
            EXPECT_EQ(TextOf(&dlg, IDC_INTERVAL_FREQ), " 55.00");
            std::srand(seed);

            while (dlg.Procedure().State() == INTERVAL_READY && questions < 20 && m_damaged.Count() < 10) {
                ++questions;
                const std::int64_t mark = m_recorder.Samples();
                const int damaged = m_damaged.Count();
                UserClick(dlg.FindWindow(IDC_INTERVAL_QUESTION));
                ASSERT_TRUE(
                    PumpUntil([&] { return answers->IsShown() || m_damaged.Count() != damaged; }, 5000));
                if (m_damaged.Count() != damaged) {
                    --questions;
                    continue;
                }
                const std::vector<float> sound = RecordedSince(mark);
                const std::vector<Burst> tones = FindBursts(PeakLevels(sound), HEARD);
                ASSERT_EQ(tones.size(), 2u) << "question " << questions;
                const double first = MeasureFrequency(sound, tones[0]);
                const double second = MeasureFrequency(sound, tones[1]);
                EXPECT_NEAR(first, dlg.Procedure().Tone(0), 0.2) << "question " << questions;
                EXPECT_NEAR(second, dlg.Procedure().Tone(1), 0.2) << "question " << questions;

                int answer = INTERVAL_FORMER; // the guess when both sound the same
                if (std::fabs(first - second) > 0.5)
                    answer = first > second ? INTERVAL_FORMER : INTERVAL_LATER;
                ChooseAnswer(answers, answer);

                CIntervalProcedure next = dlg.Procedure();
                const IntervalOutcome outcome = next.Answer(answer);
                if (outcome.finished) {
                    wxTEST_DIALOG(UserClick(dlg.FindWindow(IDC_INTERVAL_QUESTION)),
                                  CExpectMessageBox(outcome.resultText));
                } else {
                    UserClick(dlg.FindWindow(IDC_INTERVAL_QUESTION));
                }
            }
            EXPECT_EQ(dlg.Procedure().State(), INTERVAL_FINISHED);
            EXPECT_EQ(TextOf(&dlg, IDC_INTERVAL_MESSAGE), CIntervalProcedure::MessageText(INTERVAL_FINISHED));
            EXPECT_EQ(TextOf(&dlg, wxID_OK), "終了");
            EXPECT_FALSE(IsEnabledControl(&dlg, IDC_INTERVAL_QUESTION));
            EXPECT_EQ(TextOf(&dlg, IDC_INTERVAL_QUESTION), "Answer");
            EXPECT_TRUE(answers->IsShown());
            EXPECT_EQ(TextOf(&dlg, IDC_INTERVAL_CENT), "0");
            Snapshot("interval-finished");
            // A finished band: Finish needs no confirmation.
            UserClick(dlg.FindWindow(wxID_OK));
        },
        60000);
    EXPECT_EQ(questions, 7);
    EXPECT_EQ(ResultRecord.m_intervalCents[0], 0);
    EXPECT_EQ(ResultRecord.m_intervalCents[4], NOT_MEASURED);
}

TEST_F(SimulatedListener, RangeCheckUpperSearchForAListenerHearingUpToFifteenThousand)
{
    SoundCardLimit = MAX_MEASURED_HZ;
    auto hears = [](int hz) { return hz >= 40 && hz <= 15000; };
    std::vector<int> asked;
    CRangeDlg dlg;
    RunDialog(
        dlg,
        [&] {
            auto* answers = ControlById<wxChoice>(&dlg, IDC_RANGE_ANSWER);
            ASSERT_NE(answers, nullptr);
            std::srand(4242);
            while (dlg.Procedure().UpperPhase() && asked.size() < 20 && m_damaged.Count() < 10) {
                const int hz = dlg.Procedure().TestFrequency();
                asked.push_back(hz);
                const std::int64_t mark = m_recorder.Samples();
                const int damaged = m_damaged.Count();
                UserClick(dlg.FindWindow(IDC_RANGE_QUESTION));
                ASSERT_TRUE(
                    PumpUntil([&] { return answers->IsShown() || m_damaged.Count() != damaged; }, 9000));
                if (m_damaged.Count() != damaged) {
                    asked.pop_back();
                    continue;
                }
                const std::vector<float> sound = RecordedSince(mark, 300);
                int count = 0;
                if (hears(hz))
                    count = static_cast<int>(FindBursts(LevelsAt(sound, hz), HEARD).size());
                // Every tone played: the listener's count is the pattern's wherever it hears.
                EXPECT_EQ(FindBursts(LevelsAt(sound, hz), HEARD).size(),
                          static_cast<size_t>(dlg.Procedure().ToneCount()))
                    << hz << " Hz";
                const int answer = count > 0 ? count - 1 : RANGE_DONT_KNOW;
                if (answer != RANGE_DONT_KNOW)
                    ChooseAnswer(answers, answer);

                CRangeProcedure next = dlg.Procedure();
                const RangeOutcome outcome = next.Answer(answer);
                if (outcome.upperLimitHz != 0) {
                    wxTEST_DIALOG(
                        UserClick(dlg.FindWindow(IDC_RANGE_QUESTION)),
                        CExpectMessageBox("Upper limit is" + std::to_string(outcome.upperLimitHz) + "Hz."));
                } else {
                    UserClick(dlg.FindWindow(IDC_RANGE_QUESTION));
                }
            }
            EXPECT_EQ(TextOf(&dlg, IDC_RANGE_UPPER), "15000");
            EXPECT_EQ(TextOf(&dlg, IDC_RANGE_LOWER), "440");
            EXPECT_EQ(TextOf(&dlg, IDC_RANGE_TEST_FREQUENCY), "225");
            EXPECT_EQ(TextOf(&dlg, IDC_RANGE_QUESTION), "Question");
            EXPECT_TRUE(IsEnabledControl(&dlg, IDC_RANGE_QUESTION));
            Snapshot("range-upper-found");
            // The upper limit is found: Terminate needs no confirmation.
            UserClick(dlg.FindWindow(wxID_OK));
        },
        150000);
    EXPECT_EQ(asked, (std::vector<int>{11245, 16647, 13946, 15296, 14621, 14958, 15127, 15042, 15000, 15021,
                                       15010, 15005, 15002, 15001}));
    EXPECT_EQ(ResultRecord.m_highestHz, 15000);
    EXPECT_EQ(ResultRecord.m_lowestHz, NOT_MEASURED);
}

} // namespace
