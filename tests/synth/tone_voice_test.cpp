// CToneVoice, the waveform functions and CentsBetween: the values the voice must produce exactly.
#include "synth/CToneVoice.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace {

// A voice with the owner's usual settings.
struct Voice : CToneVoice {
    Voice(int waveform, double frequency, double amplitude) : CToneVoice(44100)
    {
        m_waveform = waveform;
        m_frequency = frequency;
        m_amplitude = amplitude;
    }
    std::vector<float> Take(int count)
    {
        std::vector<float> out(static_cast<std::size_t>(count), 123.0f);
        Render(out.data(), count, RENDER_REPLACE);
        return out;
    }
};

// At frequency 0 the square wave holds +1 (the phase never moves), so every sample is the
// envelope factor itself times the amplitude.
constexpr int FLAT = WAVEFORM_SQUARE;

TEST(ToneVoiceEnvelope, LengthFollowsFrequencyAtEachGate)
{
    const struct {
        double frequency;
        int length;
    } table[] = {{20, 9671},   {55, 8384},   {440, 5738},  {1000, 4693},
                 {7040, 2210}, {20000, 882}, {22050, 757}, {0, 44100}};
    Voice fresh(WAVEFORM_SINE, 440, 1);
    EXPECT_EQ(882, fresh.EnvelopeLength());
    for (const auto& row : table) {
        Voice voice(WAVEFORM_SINE, row.frequency, 1);
        voice.SetGate(1);
        EXPECT_EQ(row.length, voice.EnvelopeLength()) << row.frequency << " Hz, gate on";
        EXPECT_DOUBLE_EQ(13.815510558 / row.length, voice.EnvelopeRate());
        voice.m_frequency = 20000;
        voice.SetGate(0);
        EXPECT_EQ(882, voice.EnvelopeLength()) << "release after a change to 20000 Hz";
    }
}

TEST(ToneVoiceEnvelope, FrequenciesAboveTheFormulaKeepOneSampleAndFiniteOutput)
{
    // From about 39969 Hz the formula gives 0 or less; a negative frequency gives NaN.
    for (double frequency : {39969.0, 40000.0, 44100.0, 1e9, -100.0}) {
        Voice voice(WAVEFORM_SINE, frequency, 1);
        voice.SetGate(1);
        EXPECT_EQ(1, voice.EnvelopeLength()) << frequency;
        EXPECT_TRUE(std::isfinite(voice.EnvelopeRate())) << frequency;
        for (float v : voice.Take(64))
            ASSERT_TRUE(std::isfinite(v)) << frequency;
        voice.SetGate(0);
        for (float v : voice.Take(64))
            ASSERT_TRUE(std::isfinite(v)) << frequency;
    }
    Voice below(WAVEFORM_SINE, 39900, 1);
    below.SetGate(1);
    EXPECT_EQ(3, below.EnvelopeLength());
}

TEST(ToneVoiceEnvelope, NoteStartsAtPhaseZeroWithTheAttackAtOneMillionth)
{
    Voice sine(WAVEFORM_SINE, 440, 1);
    sine.Take(100); // any earlier phase is discarded by the start
    sine.SetGate(1);
    const std::vector<float> out = sine.Take(2);
    EXPECT_EQ(0.0f, out[0]);
    const double d = TWO_PI / (44100 / 440.0);
    EXPECT_FLOAT_EQ(static_cast<float>(std::sin(d) * std::exp(13.815510558 / 5738 * (1 - 5738))), out[1]);

    Voice flat(FLAT, 0, 1);
    flat.SetGate(1);
    EXPECT_FLOAT_EQ(static_cast<float>(std::exp(-13.815510558)), flat.Take(1)[0]);
}

TEST(ToneVoiceEnvelope, AttackEndsUnscaledAtTheEnvelopeLength)
{
    Voice voice(FLAT, 0, 0.5);
    voice.SetGate(1);
    const int L = voice.EnvelopeLength();
    ASSERT_EQ(44100, L);
    const std::vector<float> out = voice.Take(L + 5);
    EXPECT_FLOAT_EQ(static_cast<float>(0.5 * std::exp(-13.815510558 / L)), out[L - 1]);
    EXPECT_LT(out[L - 1], 0.5f);
    EXPECT_EQ(0.5f, out[L]);
    EXPECT_EQ(0.5f, out[L + 4]);
    for (int h = 1; h < L; ++h)
        ASSERT_GT(out[h], out[h - 1]) << "the attack rises at " << h;
    EXPECT_EQ(0, voice.IsAttacking());
    // The flag cleared inside this block, so the counter did not move.
    EXPECT_EQ(0, voice.EnvelopeCounter());
}

TEST(ToneVoiceEnvelope, DecayStartsAtFullLevelAndEndsInExactSilence)
{
    Voice voice(FLAT, 0, 1);
    voice.Take(10); // a fresh voice sustains
    voice.SetGate(0);
    const int L = voice.EnvelopeLength();
    const std::vector<float> out = voice.Take(L + 100);
    EXPECT_EQ(1.0f, out[0]);
    EXPECT_FLOAT_EQ(static_cast<float>(std::exp(-13.815510558 / L * (L - 1))), out[L - 1]);
    EXPECT_FLOAT_EQ(static_cast<float>(std::exp(-13.815510558)), out[L]);
    for (int h = L + 1; h < L + 100; ++h)
        ASSERT_EQ(0.0f, out[h]) << h;
    for (int h = 1; h <= L; ++h)
        ASSERT_LT(out[h], out[h - 1]) << "the decay falls at " << h;
    EXPECT_EQ(0, voice.IsDecaying());
    EXPECT_EQ(0, voice.m_gate);
}

TEST(ToneVoiceEnvelope, CounterRunsAcrossBlocksOnlyWhileAnEnvelopeRuns)
{
    Voice voice(WAVEFORM_SINE, 1000, 1);
    voice.SetGate(1);
    voice.Take(1000);
    EXPECT_EQ(1000, voice.EnvelopeCounter());
    voice.Take(4000); // crosses 4693: the attack ends in this block
    EXPECT_EQ(0, voice.IsAttacking());
    EXPECT_EQ(1000, voice.EnvelopeCounter());
}

TEST(ToneVoiceGate, ReleaseBeforeTheFirstStartStaysSilent)
{
    // Every owner releases a new voice at once, before it sets any frequency.
    Voice voice(WAVEFORM_SINE, 0, 0.5);
    voice.SetGate(0);
    voice.m_frequency = 1000;
    for (float v : voice.Take(50000))
        ASSERT_EQ(0.0f, v);
    EXPECT_EQ(0, voice.IsDecaying());

    // A voice that has sounded (a new voice sustains) decays as usual.
    Voice sounded(FLAT, 0, 0.5);
    sounded.Take(1);
    sounded.SetGate(0);
    EXPECT_EQ(1, sounded.IsDecaying());
    EXPECT_EQ(0.5f, sounded.Take(1)[0]);

    // And after a first note, a release decays.
    voice.SetGate(1);
    voice.Take(10);
    voice.SetGate(0);
    EXPECT_EQ(1, voice.IsDecaying());
}

TEST(ToneVoiceGate, PostedChangesEqualTheSameChangesAppliedInOrder)
{
    const std::vector<std::vector<int>> sequences = {{0},       {1},       {0, 1}, {1, 0},
                                                     {1, 0, 1}, {0, 1, 0}, {1, 1}, {0, 0}};
    for (bool soundedBefore : {false, true}) {
        for (const auto& sequence : sequences) {
            Voice direct(WAVEFORM_SINE, 0, 0.5);
            Voice posted(WAVEFORM_SINE, 0, 0.5);
            if (soundedBefore) {
                direct.Take(37);
                posted.Take(37);
            }
            double frequency = 300;
            for (int on : sequence) {
                // Each change sees its own frequency; the last one's envelope length wins.
                frequency *= 1.7;
                direct.m_frequency = frequency;
                posted.m_frequency = frequency;
                direct.SetGate(on);
                posted.PostGate(on);
            }
            posted.ApplyPendingGate();
            const std::string what =
                ::testing::PrintToString(sequence) + (soundedBefore ? " after sounding" : " on a new voice");
            EXPECT_EQ(direct.m_gate, posted.m_gate) << what;
            EXPECT_EQ(direct.IsAttacking(), posted.IsAttacking()) << what;
            EXPECT_EQ(direct.IsDecaying(), posted.IsDecaying()) << what;
            EXPECT_EQ(direct.EnvelopeLength(), posted.EnvelopeLength()) << what;
            EXPECT_EQ(direct.Phase(), posted.Phase()) << what;
            EXPECT_EQ(direct.Take(3000), posted.Take(3000)) << what;
            posted.ApplyPendingGate(); // nothing pending: no change
            EXPECT_EQ(direct.Take(500), posted.Take(500)) << what;
        }
    }
}

TEST(ToneVoiceRender, TwoBlocksEqualOneBlockOfTwiceTheLength)
{
    for (int waveform : {WAVEFORM_SINE, WAVEFORM_TRIANGLE, WAVEFORM_SAWTOOTH, WAVEFORM_SQUARE}) {
        for (int n : {1, 441, 882, 5000}) {
            Voice one(waveform, 1234.5, 0.7);
            Voice two(waveform, 1234.5, 0.7);
            one.SetGate(1);
            two.SetGate(1);
            // The attack (5393 samples) and, later, the decay cross the block boundaries.
            for (int round = 0; round < 3; ++round) {
                if (round == 2) {
                    one.SetGate(0);
                    two.SetGate(0);
                }
                const std::vector<float> whole = one.Take(2 * n);
                std::vector<float> halves = two.Take(n);
                const std::vector<float> second = two.Take(n);
                halves.insert(halves.end(), second.begin(), second.end());
                for (int i = 0; i < 2 * n; ++i) {
                    ASSERT_NEAR(whole[i], halves[i], 1e-5f)
                        << "waveform " << waveform << ", n " << n << ", round " << round << ", sample " << i;
                }
                EXPECT_NEAR(one.Phase(), two.Phase(), 1e-9);
                EXPECT_EQ(one.EnvelopeCounter(), two.EnvelopeCounter());
                EXPECT_EQ(one.IsAttacking(), two.IsAttacking());
                EXPECT_EQ(one.IsDecaying(), two.IsDecaying());
            }
        }
    }
}

TEST(ToneVoiceRender, AddAddsToTheBufferAndReplaceOverwrites)
{
    Voice a(FLAT, 0, 0.5);
    std::vector<float> buffer(4, 0.25f);
    a.Render(buffer.data(), 4, RENDER_ADD);
    EXPECT_EQ(std::vector<float>(4, 0.75f), buffer);
    a.Render(buffer.data(), 4, RENDER_REPLACE);
    EXPECT_EQ(std::vector<float>(4, 0.5f), buffer);
}

TEST(ToneVoiceRender, EmptyBlockChangesNothingAndPhaseStaysInOneTurn)
{
    Voice voice(WAVEFORM_SINE, 1000, 1);
    voice.SetGate(1);
    voice.Take(300);
    const double phase = voice.Phase();
    std::vector<float> buffer(2, 0.25f);
    voice.Render(buffer.data(), 0, RENDER_REPLACE);
    EXPECT_EQ(phase, voice.Phase());
    EXPECT_EQ(300, voice.EnvelopeCounter());
    EXPECT_EQ(std::vector<float>(2, 0.25f), buffer);
    for (int i = 0; i < 50; ++i) {
        voice.Take(977);
        ASSERT_GE(voice.Phase(), 0.0);
        ASSERT_LT(voice.Phase(), TWO_PI);
    }
}

TEST(ToneVoiceRender, FrequencyZeroHoldsTheValueAtThePhase)
{
    Voice voice(WAVEFORM_TRIANGLE, 100, 1);
    voice.Take(50); // phase moves on
    voice.m_frequency = 0.0;
    const std::vector<float> held = voice.Take(10);
    for (float v : held)
        EXPECT_EQ(held[0], v);
    EXPECT_NE(0.0f, held[0]);
}

TEST(Waveforms, ValuesAtTheBranchPoints)
{
    EXPECT_EQ(0.0, WaveTriangle(0.0));
    EXPECT_EQ(1.0, WaveTriangle(HALF_PI)); // falling branch already
    EXPECT_DOUBLE_EQ(0.0, WaveTriangle(PI));
    EXPECT_EQ(-1.0, WaveTriangle(THREE_HALF_PI));
    EXPECT_NEAR(0.5, WaveTriangle(PI / 4), 1e-15);

    EXPECT_EQ(0.0, WaveSawtooth(0.0));
    const double belowPi = std::nextafter(PI, 0.0);
    EXPECT_GT(WaveSawtooth(belowPi), -1.0);
    EXPECT_NEAR(-1.0, WaveSawtooth(belowPi), 1e-15);
    EXPECT_EQ(1.0, WaveSawtooth(PI));
    EXPECT_NEAR(0.0, WaveSawtooth(std::nextafter(TWO_PI, 0.0)), 1e-15);

    EXPECT_EQ(1.0, WaveSquare(0.0));
    EXPECT_EQ(1.0, WaveSquare(belowPi));
    EXPECT_EQ(-1.0, WaveSquare(PI));

    EXPECT_EQ(1.0, WaveSine(HALF_PI));
    EXPECT_NEAR(0.0, WaveSine(PI), 1e-15);

    // The reduction: a turn later, the same values.
    EXPECT_EQ(-1.0, WaveSquare(TWO_PI + PI));
    EXPECT_NEAR(1.0, WaveTriangle(TWO_PI + HALF_PI), 1e-12);
    EXPECT_EQ(0.0, WaveformValue(7, 1.0));
    EXPECT_EQ(WaveSquare(PI), WaveformValue(WAVEFORM_SQUARE, PI));
}

TEST(Cents, IntervalsBetweenIntegerFrequencies)
{
    EXPECT_EQ(1200.0, CentsBetween(880, 440));
    EXPECT_EQ(-1200.0, CentsBetween(440, 880));
    EXPECT_EQ(0.0, CentsBetween(440, 440));
    EXPECT_NEAR(3.93, CentsBetween(441, 440), 0.005);
    EXPECT_EQ(3, static_cast<int>(CentsBetween(441, 440)));
    EXPECT_NEAR(700.0, CentsBetween(660, 440), 2.0);
}

} // namespace
