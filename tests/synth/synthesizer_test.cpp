// CSynthesizer on the virtual device: the render step's arithmetic with the test stepping the engine
// (exact timing), and the running engine with its render thread on a device that follows real time.
#include "audio/CVirtualWaveDevice.h"
#include "synth/CSynthesizer.h"
#include "tests/support/CapturingMessageSink.h"
#include "tests/synth/EngineTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <memory>
#include <thread>
#include <utility>
#include <vector>

using namespace std::chrono_literals;

namespace {

constexpr int PERIOD_SAMPLES = 441; // 10 ms

// An engine with the callers' values on a virtual device whose clock the test advances, stepped
// by the test.
struct SteppedEngine {
    CCapturingMessageSink messages;
    CQueueingOwner owner;
    std::shared_ptr<CVirtualWaveDevice> device = std::make_shared<CVirtualWaveDevice>();
    CSynthesizer synth{&owner, device, 32768, 4, 80, 10, CSynthesizer::ERenderMode::Manual};

    // One period: the device plays `frames`, the owner's finished buffers go back to the engine
    // (as the dialog's handler does, waiting for them where the ring would otherwise run dry),
    // then one render step.
    void Period(std::uint32_t frames = PERIOD_SAMPLES)
    {
        device->Advance(frames);
        KeepQueued();
        synth.RenderStep();
    }

    // Voice 0 at amplitude 0.5 and `hz`, its gate at `gate`, then Start and `periods` periods.
    void StartWithTone(double hz, int gate, int periods)
    {
        synth.AddVoice();
        synth.SetAmplitude(0, 0.5);
        synth.SetFrequency(0, hz);
        synth.SetGate(0, gate);
        synth.Start();
        for (int i = 0; i < periods; ++i)
            Period();
    }

    void KeepQueued()
    {
        owner.DeliverBufferDone(synth);
        while (device->QueuedBuffers() < 4) {
            WaveHeader* header = owner.TakeBufferDone(2000ms);
            ASSERT_NE(nullptr, header) << "a finished buffer was never announced";
            synth.OnBufferDone(header);
        }
    }
};

// Frames the device plays after the first `from` that are not zero.
long NonZeroFrom(const std::vector<std::int16_t>& played, std::size_t from)
{
    long count = 0;
    for (std::size_t i = from; i < played.size(); ++i)
        count += played[i] != 0;
    return count;
}

// The first step after Start, for a square voice at amplitude 0.5 and 0 Hz (it holds +1): one
// full block at the start of the ring, the write cursor one lead ahead, and the rest of the lead
// what Prime left there, silence.
void ExpectFirstBlockAtRingStart(SteppedEngine& e)
{
    e.synth.RenderStep();
    EXPECT_EQ(3969u, e.synth.WriteCursor()->m_samplePosition);
    e.device->Advance(5000);
    const std::vector<std::int16_t> played = e.device->PlayedFrames();
    ASSERT_EQ(5000u, played.size());
    for (int i = 0; i < 882; ++i)
        ASSERT_EQ(16383, played[i]) << i;
    EXPECT_EQ(0, NonZeroFrom(played, 882));
}

TEST(SynthesizerSteps, CallersValuesGiveTheLeadBlockAndRing)
{
    SteppedEngine e;
    EXPECT_EQ(3969, e.synth.LeadSamples());
    EXPECT_EQ(882, e.synth.MaxBlockSamples());
    EXPECT_EQ(16384, e.synth.Stream()->SamplesPerBuffer());
    EXPECT_EQ(4, e.synth.Stream()->Buffers()->m_bufferCount);
    EXPECT_DOUBLE_EQ(1.0, e.synth.m_masterGain);
}

TEST(SynthesizerSteps, FirstStepRendersOneFullBlockAtRingStart)
{
    SteppedEngine e;
    ASSERT_EQ(0, e.synth.AddVoice());
    e.synth.SetWaveform(0, WAVEFORM_SQUARE); // a new voice sustains; at 0 Hz it holds +1
    e.synth.SetAmplitude(0, 0.5);
    e.synth.Start();
    ASSERT_TRUE(e.synth.IsRunning());
    ExpectFirstBlockAtRingStart(e);
    EXPECT_TRUE(e.messages.shown.empty());
}

TEST(SynthesizerSteps, StepWithoutDeviceProgressRendersNothingYetNotifiesTheClipFlag)
{
    SteppedEngine e;
    e.synth.AddVoice();
    e.synth.SetWaveform(0, WAVEFORM_SQUARE);
    e.synth.SetAmplitude(0, 1.5); // clips
    e.synth.Start();
    e.synth.RenderStep();
    EXPECT_EQ(1, e.synth.IsClipped());
    ASSERT_EQ(1, e.owner.WaitForClip(0, 2000ms));
    const std::size_t seen = e.owner.ClipCount();

    e.synth.SetAmplitude(0, 0.25); // would no longer clip, if anything were rendered
    e.synth.RenderStep();
    EXPECT_EQ(3969u, e.synth.WriteCursor()->m_samplePosition);
    EXPECT_EQ(1, e.synth.IsClipped());
    EXPECT_EQ(1, e.owner.WaitForClip(seen, 2000ms));
    e.device->Advance(3969);
    EXPECT_EQ(0, NonZeroFrom(e.device->PlayedFrames(), 882));

    // Once the device moves, the next block renders and its flag follows.
    e.synth.RenderStep();
    EXPECT_EQ(0, e.synth.IsClipped());
    const std::size_t seenAgain = e.owner.ClipCount();
    EXPECT_EQ(0, e.owner.WaitForClip(seenAgain, 2000ms));
}

TEST(SynthesizerSteps, ClipRuleGivesTheseSamples)
{
    const double nan = std::nan("");
    const struct {
        std::vector<double> amplitudes;
        double gain;
        std::int16_t pcm;
        int clipped;
    } table[] = {
        {{0.8}, 0.8, 20970, 0},       // 0.64 × 32767, truncated
        {{1.0, 1.0}, 1.0, 32767, 1},  // two voices in phase sum to 2.0
        {{1.0}, 1.0, 32767, 0},       // exactly full scale is not clipped
        {{-1.0}, 1.0, -32767, 0},     // nor exactly minus full scale
        {{-3.0}, 1.0, -32767, 1},     // -32768 never occurs
        {{0.6}, 2.0, 32767, 1},       // the gain can clip
        {{nan}, 1.0, -32767, 1},      // not a number becomes -1.0 and counts
        {{0.5, nan}, 1.0, -32767, 1}, // one bad voice spoils the mix
        {{0.3}, 0.0, 0, 0},
    };
    for (const auto& row : table) {
        SteppedEngine e;
        for (std::size_t v = 0; v < row.amplitudes.size(); ++v) {
            e.synth.AddVoice();
            e.synth.SetWaveform(static_cast<int>(v), WAVEFORM_SQUARE);
            e.synth.SetAmplitude(static_cast<int>(v), row.amplitudes[v]);
        }
        e.synth.m_masterGain = row.gain;
        e.synth.Start();
        e.synth.RenderStep();
        e.device->Advance(882);
        const std::vector<std::int16_t> played = e.device->PlayedFrames();
        ASSERT_EQ(882u, played.size());
        const std::string what =
            ::testing::PrintToString(row.amplitudes) + " at gain " + std::to_string(row.gain);
        EXPECT_EQ(row.pcm, played[0]) << what;
        EXPECT_EQ(row.pcm, played[881]) << what;
        EXPECT_EQ(row.clipped, e.synth.IsClipped()) << what;
    }
}

TEST(SynthesizerSteps, GatedToneStartsOneLeadAfterTheGateAndHasTheSetFrequency)
{
    SteppedEngine e;
    // The owners' sequence.
    e.synth.AddVoice();
    e.synth.SetWaveform(0, WAVEFORM_SINE);
    e.synth.SetAmplitude(0, 0.5);
    e.synth.SetGate(0, 0);
    e.synth.m_masterGain = 1.0;
    e.synth.SetFrequency(0, 1000);
    e.synth.Start();
    for (int i = 0; i < 30; ++i)
        e.Period();

    // The gate opens part-way through a period, and closes 0.4 s later at another point.
    e.device->Advance(123);
    const std::uint32_t gateOn = e.device->GetPosition();
    e.synth.SetGate(0, 1);
    e.Period(PERIOD_SAMPLES - 123);
    for (int i = 0; i < 39; ++i)
        e.Period();
    e.device->Advance(300);
    const std::uint32_t gateOff = e.device->GetPosition();
    e.synth.SetGate(0, 0);
    e.Period(PERIOD_SAMPLES - 300);
    // Long enough that the device passes the end of the ring and its buffers come round again.
    for (int i = 0; i < 200; ++i)
        e.Period();
    e.synth.Stop();
    const std::vector<std::int16_t> played = e.device->PlayedFrames();

    // The note exactly as a lone voice renders it, found by its first sample of some size.
    const int length = 44100;
    const long releaseEstimate = static_cast<long>(gateOff) - static_cast<long>(gateOn);
    std::vector<std::int16_t> reference =
        ReferenceNote(WAVEFORM_SINE, 1000, 0.5, length, static_cast<int>(releaseEstimate));
    const long onset = FirstAtLeast(played, 100) - FirstAtLeast(reference, 100);
    ASSERT_GE(FirstAtLeast(played, 100), 0) << "no tone";
    // Each step renders from the previous step's target: the onset lies between one lead and one
    // lead less a period after the position at the gate.
    EXPECT_LE(onset - static_cast<long>(gateOn), 3969);
    EXPECT_GE(onset - static_cast<long>(gateOn), 3969 - PERIOD_SAMPLES);
    for (long i = 0; i < onset; ++i)
        ASSERT_EQ(0, played[static_cast<std::size_t>(i)]) << "sound before the note at " << i;

    // The release lands on a step as well; rebuild the reference with the step it landed on.
    long release = -1;
    for (long r = releaseEstimate - PERIOD_SAMPLES; r <= releaseEstimate + PERIOD_SAMPLES; ++r) {
        const std::vector<std::int16_t> candidate =
            ReferenceNote(WAVEFORM_SINE, 1000, 0.5, length, static_cast<int>(r));
        bool matches = true;
        for (long i = 0; i < length && matches; ++i)
            matches = std::abs(played[static_cast<std::size_t>(onset + i)] -
                               candidate[static_cast<std::size_t>(i)]) <= 1;
        if (matches) {
            release = r;
            reference = candidate;
            break;
        }
    }
    ASSERT_GE(release, 0) << "the played note differs from a lone voice's note";
    const long offset = onset + release - static_cast<long>(gateOff);
    EXPECT_LE(offset, 3969);
    EXPECT_GE(offset, 3969 - PERIOD_SAMPLES);
    // After the decay, silence.
    EXPECT_EQ(0, NonZeroFrom(played, static_cast<std::size_t>(onset + release + 5738)));

    // The frequency, from the zero crossings of the sustained part.
    std::vector<double> crossings;
    for (long i = onset + 5000; i < onset + release - 1; ++i) {
        const double a = played[static_cast<std::size_t>(i)];
        const double b = played[static_cast<std::size_t>(i + 1)];
        if (a < 0 && b >= 0)
            crossings.push_back(static_cast<double>(i) + a / (a - b));
    }
    ASSERT_GT(crossings.size(), 100u);
    const double hz = (crossings.size() - 1) * 44100.0 / (crossings.back() - crossings.front());
    EXPECT_NEAR(1000.0, hz, 0.05);
    EXPECT_TRUE(e.messages.shown.empty());
}

TEST(SynthesizerSteps, VoiceReleasedBeforeTheFirstStartStaysSilent)
{
    SteppedEngine e;
    e.synth.AddVoice();
    e.synth.SetWaveform(0, WAVEFORM_SINE);
    e.synth.SetAmplitude(0, 0.5);
    e.synth.SetGate(0, 0);
    e.synth.SetFrequency(0, 440);
    e.synth.Start();
    for (int i = 0; i < 120; ++i)
        e.Period();
    EXPECT_EQ(0, NonZeroFrom(e.device->PlayedFrames(), 0));
}

TEST(SynthesizerSteps, OnBufferDoneAfterStopDoesNothing)
{
    SteppedEngine e;
    e.synth.AddVoice();
    e.synth.Start();
    e.device->Advance(16384);
    WaveHeader* header = e.owner.TakeBufferDone(2000ms);
    ASSERT_NE(nullptr, header);
    EXPECT_EQ(1, e.synth.Stop());
    const int writes = e.device->CallCount(EWaveDeviceOp::Write);
    const int prepares = e.device->CallCount(EWaveDeviceOp::Prepare);
    const int unprepares = e.device->CallCount(EWaveDeviceOp::Unprepare);
    e.synth.OnBufferDone(header);
    EXPECT_EQ(writes, e.device->CallCount(EWaveDeviceOp::Write));
    EXPECT_EQ(prepares, e.device->CallCount(EWaveDeviceOp::Prepare));
    EXPECT_EQ(unprepares, e.device->CallCount(EWaveDeviceOp::Unprepare));
    EXPECT_TRUE(e.messages.shown.empty());
    EXPECT_FALSE(e.device->IsOpen());
}

TEST(SynthesizerSteps, VoicesSurviveStopAndStart)
{
    SteppedEngine e;
    e.synth.AddVoice();
    e.synth.AddVoice();
    e.synth.SetWaveform(1, WAVEFORM_SQUARE);
    e.synth.SetAmplitude(1, 0.25);
    e.synth.SetFrequency(1, 0);
    e.synth.SetGate(0, 0);
    e.synth.Start();
    e.Period();
    e.synth.Stop();
    EXPECT_EQ(2, e.synth.VoiceCount());
    e.device->ClearPlayed();

    e.synth.Start(); // the ring is cleared again and the write cursor is back at 0
    e.synth.RenderStep();
    e.device->Advance(1000);
    const std::vector<std::int16_t> played = e.device->PlayedFrames();
    EXPECT_EQ(8191, played[0]);
    EXPECT_EQ(8191, played[881]);
    EXPECT_EQ(0, played[882]);
    EXPECT_EQ(WAVEFORM_SQUARE, e.synth.Voice(1)->m_waveform);
    EXPECT_EQ(0.25, e.synth.Voice(1)->m_amplitude);
}

// A voice that holds a constant level (a square at 0 Hz), so that every played frame tells which
// step rendered it: `amplitude` 0.5 gives 16383, 0.25 gives 8191.
void HoldLevel(SteppedEngine& e, double amplitude)
{
    if (e.synth.VoiceCount() == 0) {
        e.synth.AddVoice();
        e.synth.SetWaveform(0, WAVEFORM_SQUARE);
    }
    e.synth.SetAmplitude(0, amplitude);
}

// Counts of `value` in played[from, to).
long CountOf(const std::vector<std::int16_t>& played, std::size_t from, std::size_t to, int value)
{
    long count = 0;
    for (std::size_t i = from; i < to && i < played.size(); ++i)
        count += played[i] == value;
    return count;
}

// The engine renders at the device's own rate where that is higher than 44100, every duration
// kept in time; a device that cannot tell, or runs slower, gets 44100.
struct SRateCase {
    std::uint32_t deviceRate;
    int renderRate;
};

class SynthesizerRate : public ::testing::TestWithParam<SRateCase> {};

TEST_P(SynthesizerRate, DurationsStayInTimeAndATonePlaysAtItsFrequencyAcrossTheRing)
{
    const int rate = GetParam().renderRate;
    const int period = rate / 100;
    SteppedEngine e;
    e.device->SetNativeRate(GetParam().deviceRate);
    e.synth.AddVoice();
    e.synth.SetAmplitude(0, 0.5);
    e.synth.SetFrequency(0, 1000);
    e.synth.SetGate(0, 0);
    e.synth.Start();
    ASSERT_TRUE(e.synth.IsRunning());
    EXPECT_EQ(rate, e.synth.SampleRate());
    EXPECT_EQ(static_cast<std::uint32_t>(rate), e.device->Format().nSamplesPerSec);
    EXPECT_EQ(static_cast<std::uint32_t>(2 * rate), e.device->Format().nAvgBytesPerSec);
    EXPECT_EQ(rate * 9 / 100, e.synth.LeadSamples());
    EXPECT_EQ(rate / 50, e.synth.MaxBlockSamples());
    EXPECT_EQ(static_cast<int>(16384LL * rate / 44100), e.synth.Stream()->SamplesPerBuffer());
    EXPECT_EQ(rate, e.synth.Voice(0)->SampleRate());

    for (int i = 0; i < 10; ++i)
        e.Period(static_cast<std::uint32_t>(period));
    e.synth.SetGate(0, 1);
    // Two seconds: past the end of the 1.49 s ring.
    for (int i = 0; i < 200; ++i)
        e.Period(static_cast<std::uint32_t>(period));
    e.synth.Stop();
    const std::vector<std::int16_t> played = e.device->PlayedFrames();
    EXPECT_EQ(SoundDamage{}.unrenderedFrames, e.synth.Damage().unrenderedFrames);
    EXPECT_EQ(0u, e.synth.Damage().dryFrames);

    // The attack is the lone voice's at this rate, sample for sample.
    const std::vector<std::int16_t> reference = ReferenceNote(WAVEFORM_SINE, 1000, 0.5, rate / 10, -1, rate);
    ASSERT_GE(FirstAtLeast(played, 1), 0) << "no tone";
    const long onset = FirstAtLeast(played, 1) - FirstAtLeast(reference, 1);
    for (std::size_t i = 0; i < reference.size(); ++i)
        ASSERT_NEAR(reference[i], played[static_cast<std::size_t>(onset) + i], 1) << i;
    // And the tone holds 1000 Hz to the end, without a gap where the ring wraps.
    std::vector<double> crossings;
    for (std::size_t i = static_cast<std::size_t>(onset) + reference.size(); i + 1 < played.size(); ++i) {
        const double a = played[i];
        const double b = played[i + 1];
        if (a < 0 && b >= 0)
            crossings.push_back(static_cast<double>(i) + a / (a - b));
    }
    ASSERT_GT(crossings.size(), 1500u);
    for (std::size_t i = 1; i < crossings.size(); ++i)
        ASSERT_NEAR(rate / 1000.0, crossings[i] - crossings[i - 1], 0.01) << "period " << i;
    EXPECT_TRUE(e.messages.shown.empty());
}

INSTANTIATE_TEST_SUITE_P(DeviceRates, SynthesizerRate,
                         ::testing::Values(SRateCase{0, 44100}, SRateCase{16000, 44100},
                                           SRateCase{48000, 48000}, SRateCase{96000, 96000},
                                           SRateCase{384000, 192000}),
                         [](const auto& info) { return "Device" + std::to_string(info.param.deviceRate); });

TEST(SynthesizerRateChange, BackAt44100EverySampleIsAsBefore)
{
    SteppedEngine e;
    e.synth.AddVoice();
    e.synth.SetWaveform(0, WAVEFORM_SQUARE);
    e.synth.SetAmplitude(0, 0.5);
    e.device->SetNativeRate(48000);
    e.synth.Start();
    e.synth.RenderStep();
    ASSERT_EQ(48000, e.synth.SampleRate());
    e.synth.Stop();
    e.device->ClearPlayed();

    e.device->SetNativeRate(44100);
    e.synth.Start();
    EXPECT_EQ(16384, e.synth.Stream()->SamplesPerBuffer());
    EXPECT_EQ(44100, e.synth.Voice(0)->SampleRate());
    ExpectFirstBlockAtRingStart(e);
}

TEST(SynthesizerDamage, BurstBeyondTheLeadPlaysZerosNotTheLastPassAndCountsThem)
{
    SteppedEngine e;
    HoldLevel(e, 0.5); // the marker fills the whole ring during the first pass
    e.synth.Start();
    for (int i = 0; i < 65536 / PERIOD_SAMPLES + 20; ++i)
        e.Period();
    HoldLevel(e, 0.0); // silence from here: ahead of the write cursor the ring still holds the marker
    for (int i = 0; i < 20; ++i)
        e.Period();
    ASSERT_EQ(0u, e.synth.Damage().unrenderedFrames);

    const std::uint32_t before = e.device->GetPosition();
    const std::uint32_t published = before + 3969; // on time, the write cursor is one lead ahead
    EXPECT_EQ(published % 65536, e.synth.WriteCursor()->m_samplePosition % 65536);
    const std::size_t mark = e.device->PlayedFrames().size();
    e.device->Advance(3969 + 1000); // a callback burst past everything rendered
    e.KeepQueued();
    EXPECT_EQ(1000u, e.synth.Damage().unrenderedFrames);
    EXPECT_FALSE(e.synth.DamagedBetween(before, published));
    EXPECT_TRUE(e.synth.DamagedBetween(published, published + 1));
    EXPECT_TRUE(e.synth.DamagedBetween(published + 999, published + 5000));

    // The next step starts one callback ahead of the device and renders from there on.
    HoldLevel(e, 0.25);
    const std::uint32_t after = e.device->GetPosition();
    e.synth.RenderStep();
    EXPECT_EQ(after + 441 + 882, e.synth.WriteCursor()->m_samplePosition);
    for (int i = 0; i < 300; ++i) // past the end of the ring again
        e.Period();
    const std::vector<std::int16_t> played = e.device->PlayedFrames();
    EXPECT_EQ(0, CountOf(played, mark, played.size(), 16383)) << "the last pass came back";
    // Silence up to the device position + 441, then the new level without a gap.
    const std::size_t resumed = mark + 3969 + 1000 + 441;
    EXPECT_EQ(
        0, NonZeroFrom(std::vector<std::int16_t>(played.begin(), played.begin() + static_cast<long>(resumed)),
                       mark));
    EXPECT_EQ(static_cast<long>(played.size() - resumed), CountOf(played, resumed, played.size(), 8191));
    EXPECT_EQ(1000u + 441u, e.synth.Damage().unrenderedFrames);
    EXPECT_EQ(0u, e.device->UnderrunFrames());
    // The jump, then the steps that refill the lead 882 at a time.
    EXPECT_EQ(6u, e.synth.Damage().lateSteps);
}

TEST(SynthesizerDamage, HeldBackRenderThreadIsLateButLeavesNoGapOnceCaughtUp)
{
    // A step k periods late finds k + 1 periods due; with 882 rendered per step, the steps with
    // more than 882 due (k - 1 of them) are late, and the tone is continuous all the same as long
    // as the device stays a callback short of the write cursor (k up to 7).
    for (int k : {1, 2, 5, 7}) {
        SteppedEngine e;
        e.StartWithTone(1000, 1, 20);
        e.device->Advance(static_cast<std::uint32_t>(k * PERIOD_SAMPLES));
        e.KeepQueued();
        for (int i = 0; i < 40; ++i)
            e.Period();
        EXPECT_EQ(static_cast<std::uint64_t>(k - 1), e.synth.Damage().lateSteps) << k;
        EXPECT_EQ(0u, e.synth.Damage().unrenderedFrames) << k;

        // The first step (one period in) puts its block at the ring's start and the next one lead
        // ahead of the device: from there the note goes on from its 883rd sample to the end.
        const std::vector<std::int16_t> played = e.device->PlayedFrames();
        const std::vector<std::int16_t> note =
            ReferenceNote(WAVEFORM_SINE, 1000, 0.5, static_cast<int>(played.size()), -1);
        const std::size_t resumed = PERIOD_SAMPLES + 3969;
        for (std::size_t i = resumed; i < played.size(); ++i)
            ASSERT_LE(std::abs(played[i] - note[i - resumed + 882]), 1) << "k " << k << " at " << i;
    }
}

TEST(SynthesizerDamage, SecondRunStartsFromTheRingsSilenceAndCountsOnlyItsOwnDamage)
{
    SteppedEngine e;
    HoldLevel(e, 0.5);
    e.synth.Start();
    for (int i = 0; i < 60; ++i)
        e.Period();
    e.device->Advance(6000); // damage in the first run
    e.KeepQueued();
    e.synth.RenderStep();
    ASSERT_GT(e.synth.Damage().unrenderedFrames, 0u);
    e.synth.Stop();

    HoldLevel(e, 0.25);
    e.device->ClearPlayed();
    e.synth.Start();
    EXPECT_EQ(0u, e.synth.Damage().unrenderedFrames);
    e.device->Advance(300); // before the first step: the ring's silence, neither zeroed nor counted
    e.synth.RenderStep();
    e.device->Advance(3969 + 500); // a burst in the first pass
    e.KeepQueued();
    const std::vector<std::int16_t> played = e.device->PlayedFrames();
    ASSERT_EQ(300u + 3969u + 500u, played.size());
    EXPECT_EQ(882 - 300, CountOf(played, 0, played.size(), 8191)); // the first block's rest
    EXPECT_EQ(0, NonZeroFrom(played, 882));
    EXPECT_EQ(500u, e.synth.Damage().unrenderedFrames);
    EXPECT_FALSE(e.synth.DamagedBetween(0, 300 + 3969));
    EXPECT_TRUE(e.synth.DamagedBetween(300 + 3969, 300 + 3970));
}

// ---- a question's stretch of sound ----

TEST(PlayedStretch, RunsFromTheFirstGateToTheLastDecayAcrossTheCountersWrap)
{
    std::vector<std::pair<std::uint32_t, std::uint32_t>> asked;
    bool answer = false;
    const CPlayedStretch::DamageRecord record = [&](std::uint32_t from, std::uint32_t end) {
        asked.emplace_back(from, end);
        return answer;
    };
    const std::uint32_t start = 0xFFFFF000u;
    CPlayedStretch q(3969);
    EXPECT_FALSE(q.Damaged(record, start)) << "no tone, nothing to judge";
    q.ToneOff(start, 100); // a release before any tone opens nothing
    EXPECT_FALSE(q.HasTone());

    q.ToneOn(start);
    q.ToneOff(start + 22050, 5000);
    q.ToneOn(start + 33075);
    q.ToneOff(start + 55125, 1000);
    EXPECT_EQ(q.End(), start + 55125 + 3969 + 1000);
    EXPECT_FALSE(q.TakenBy(q.End() - 1));
    EXPECT_TRUE(q.TakenBy(q.End()));
    answer = true;
    EXPECT_TRUE(q.Damaged(record, start + 70000));
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(asked[0], std::make_pair(start, start + 55125 + 3969 + 1000));
    // Judged before the device took all of it: only what it took counts.
    EXPECT_TRUE(q.Damaged(record, start + 40000));
    EXPECT_EQ(asked[1], std::make_pair(start, start + 40000));

    q.ExtendTo(start + 90000);
    q.ExtendTo(start + 80000);
    EXPECT_EQ(q.End(), start + 90000);
    q.Begin();
    EXPECT_FALSE(q.HasTone());
}

// The engine's verdict on a 500 ms tone at 1000 Hz: `burstAt` frames after the gate opens (none
// when negative) the device takes a burst past everything rendered. Returns the verdicts and where
// the device was when the first came, against where the stretch ends.
struct StretchRun {
    std::vector<bool> verdicts;
    std::uint32_t end = 0;
    std::uint32_t judgedAt = 0;
};
StretchRun PlayStretch(SteppedEngine& e, int burstAt)
{
    StretchRun run;
    e.synth.BeginStretch();
    e.synth.SetGate(0, 1);
    for (int i = 0; i < 50; ++i) {
        if (i * PERIOD_SAMPLES == burstAt) {
            e.device->Advance(3969 + 1000);
            e.KeepQueued();
        }
        e.Period();
    }
    const std::uint32_t off = e.device->GetPosition();
    e.synth.SetGate(0, 0);
    run.end = off + 3969 + CToneVoice::EnvelopeLengthFor(1000, 44100) + 882;
    e.synth.EndStretch([&](bool damaged) {
        run.verdicts.push_back(damaged);
        run.judgedAt = e.device->GetPosition();
    });
    for (int i = 0; i < 100 && run.verdicts.empty(); ++i)
        e.Period();
    return run;
}

TEST(SynthesizerStretch, JudgedAsTheBuffersComeBackOnceTheDeviceHasTakenTheLastDecay)
{
    SteppedEngine e;
    e.StartWithTone(1000, 0, 20);

    const StretchRun whole = PlayStretch(e, -1);
    ASSERT_EQ(std::vector<bool>{false}, whole.verdicts);
    EXPECT_GE(static_cast<std::int32_t>(whole.judgedAt - whole.end), 0)
        << "judged before the decay was taken";
    EXPECT_LE(whole.judgedAt - whole.end, 16384u + PERIOD_SAMPLES) << "not within a buffer's time";
    EXPECT_FALSE(e.synth.IsStretchPending());

    const StretchRun burst = PlayStretch(e, 20 * PERIOD_SAMPLES);
    EXPECT_EQ(std::vector<bool>{true}, burst.verdicts);

    // A device that stalls after a burst: judged now, on what it took.
    std::vector<bool> verdicts;
    e.synth.BeginStretch();
    e.synth.SetGate(0, 1);
    e.Period();
    e.device->Advance(3969 + 1000);
    e.KeepQueued();
    e.synth.SetGate(0, 0);
    e.synth.EndStretch([&](bool damaged) { verdicts.push_back(damaged); });
    ASSERT_TRUE(e.synth.IsStretchPending());
    EXPECT_TRUE(e.synth.JudgeStretchNow());
    EXPECT_EQ(std::vector<bool>{true}, verdicts);
    EXPECT_FALSE(e.synth.JudgeStretchNow());

    // Without a tone there is nothing to wait for; Stop drops a verdict still pending.
    e.synth.BeginStretch();
    e.synth.EndStretch([&](bool damaged) { verdicts.push_back(damaged); });
    EXPECT_EQ((std::vector<bool>{true, false}), verdicts);
    e.synth.BeginStretch();
    e.synth.SetGate(0, 1);
    e.synth.SetGate(0, 0);
    e.synth.EndStretch([&](bool damaged) { verdicts.push_back(damaged); });
    e.synth.Stop();
    EXPECT_FALSE(e.synth.IsStretchPending());
    EXPECT_EQ(2u, verdicts.size());
}

TEST(SynthesizerVoices, IndexesOutsideTheListAreIgnoredAndLaterVoicesMoveDown)
{
    SteppedEngine e;
    EXPECT_EQ(0, e.synth.AddVoice());
    e.synth.SetFrequency(0, 100);
    for (int bad : {-1, 1, 5}) {
        e.synth.SetFrequency(bad, 999);
        e.synth.SetAmplitude(bad, 9);
        e.synth.SetWaveform(bad, 3);
        e.synth.SetGate(bad, 1);
        e.synth.RemoveVoice(bad);
    }
    EXPECT_EQ(1, e.synth.VoiceCount());
    EXPECT_EQ(100.0, e.synth.Voice(0)->m_frequency);
    EXPECT_EQ(nullptr, e.synth.Voice(1));

    EXPECT_EQ(1, e.synth.AddVoice());
    e.synth.SetFrequency(1, 200);
    e.synth.RemoveVoice(0);
    EXPECT_EQ(1, e.synth.VoiceCount());
    EXPECT_EQ(200.0, e.synth.Voice(0)->m_frequency);
    e.synth.RemoveAllVoices();
    EXPECT_EQ(0, e.synth.VoiceCount());
}

TEST(SynthesizerStart, EachFailingStageShowsItsMessageAndLeavesTheEngineStopped)
{
    const struct {
        EWaveDeviceOp op;
        const char* message;
        bool leavesDeviceOpen;
    } table[] = {
        {EWaveDeviceOp::QueryFormat, "サポートされていないフォーマットです。", false},
        {EWaveDeviceOp::Open, "再生デバイスのオープンに失敗しました。", false},
        {EWaveDeviceOp::Prepare, "バッファが再生用に準備できませんでした。", true},
        {EWaveDeviceOp::Write, "バッファを再生キューに登録できませんでした。", true},
    };
    for (const auto& row : table) {
        SteppedEngine e;
        e.synth.AddVoice();
        e.device->FailNext(row.op);
        e.synth.Start();
        EXPECT_EQ(std::vector<std::string>{row.message}, e.messages.Texts());
        EXPECT_FALSE(e.synth.IsRunning());
        EXPECT_EQ(row.leavesDeviceOpen, e.device->IsOpen()) << row.message;
        e.messages.shown.clear();
        if (row.leavesDeviceOpen) {
            // Failed start: the device stays open until Stop.
            e.synth.Start();
            EXPECT_EQ(std::vector<std::string>{"再生デバイスはオープン済みです。"}, e.messages.Texts());
            EXPECT_EQ(1, e.synth.Stop());
            EXPECT_FALSE(e.device->IsOpen());
            e.messages.shown.clear();
        }
        // A later Start tries again, and this time succeeds.
        e.synth.Start();
        EXPECT_TRUE(e.synth.IsRunning()) << row.message;
        EXPECT_TRUE(e.messages.shown.empty()) << row.message;
    }
}

TEST(SynthesizerStart, ClosingFailureInStopIsReportedAndTheDeviceIsDroppedAllTheSame)
{
    SteppedEngine e;
    e.synth.Start();
    e.device->FailNext(EWaveDeviceOp::Close);
    EXPECT_EQ(0, e.synth.Stop());
    EXPECT_EQ(std::vector<std::string>{"再生デバイスのクローズに失敗しました。"}, e.messages.Texts());
    EXPECT_FALSE(e.device->IsOpen());
    EXPECT_FALSE(e.synth.IsRunning());
    EXPECT_EQ(1, e.synth.Stop());
}

TEST(SynthesizerStart, StartWhileRunningDoesNothingAndVoiceListIsFrozen)
{
    SteppedEngine e;
    e.synth.AddVoice();
    e.synth.Start();
    const int opens = e.device->CallCount(EWaveDeviceOp::Open);
    e.synth.Start();
    EXPECT_EQ(opens, e.device->CallCount(EWaveDeviceOp::Open));
    EXPECT_TRUE(e.messages.shown.empty());
    // The render thread walks the list without a lock: no change while running.
    EXPECT_EQ(-1, e.synth.AddVoice());
    e.synth.RemoveVoice(0);
    EXPECT_EQ(1, e.synth.VoiceCount());
}

} // namespace
