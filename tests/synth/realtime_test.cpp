// CSynthesizer with its render thread on the virtual device in real time, as the dialogs run it.
// Real-time: the test command runs it alone (a starved render thread is heard as a glitch).
#include "audio/CVirtualWaveDevice.h"
#include "synth/CSynthesizer.h"
#include "tests/support/CapturingMessageSink.h"
#include "tests/synth/EngineTestSupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <memory>
#include <thread>

using namespace std::chrono_literals;

namespace {

constexpr int PERIOD_SAMPLES = 441; // 10 ms

long NonZeroFrom(const std::vector<std::int16_t>& played, std::size_t from)
{
    long count = 0;
    for (std::size_t i = from; i < played.size(); ++i)
        count += played[i] != 0;
    return count;
}

// The engine as the dialogs run it: render thread, a device in real time, a GUI thread that hands
// back finished buffers and sometimes blocks for half a second during a tone.
TEST(SynthesizerRunning, PlaysAGatedToneWithoutGapWhileTheGuiThreadBlocks)
{
    CCapturingMessageSink messages;
    CQueueingOwner owner;
    auto device = std::make_shared<CVirtualWaveDevice>(CVirtualWaveDevice::EClock::RealTime);
    CSynthesizer synth(&owner, device, 32768, 4, 80, 10);
    synth.AddVoice();
    synth.SetWaveform(0, WAVEFORM_SINE);
    synth.SetAmplitude(0, 0.5);
    synth.SetGate(0, 0);
    synth.m_masterGain = 1.0;

    const auto pump = [&](std::chrono::milliseconds duration) {
        const auto end = std::chrono::steady_clock::now() + duration;
        while (std::chrono::steady_clock::now() < end) {
            owner.DeliverBufferDone(synth);
            std::this_thread::sleep_for(5ms);
        }
    };
    synth.Start();
    ASSERT_TRUE(synth.IsRunning());
    pump(300ms);
    synth.SetFrequency(0, 1000);
    const std::uint32_t gateOn = device->GetPosition();
    synth.SetGate(0, 1);
    std::this_thread::sleep_for(500ms); // the dialogs' blocking tone: nothing is requeued
    synth.SetGate(0, 0);
    std::this_thread::sleep_for(250ms);
    pump(1300ms); // past the end of the first ring cycle
    const std::uint64_t underruns = device->UnderrunFrames();

    const auto stopStart = std::chrono::steady_clock::now();
    EXPECT_EQ(1, synth.Stop());
    const auto stopTime = std::chrono::steady_clock::now() - stopStart;
    const std::size_t notices = owner.DoneCount() + owner.ClipCount();
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(notices, owner.DoneCount() + owner.ClipCount()) << "a notice after Stop returned";
    // One period plus one step, with room for a slow machine.
    EXPECT_LT(stopTime, 200ms);

    EXPECT_EQ(0u, underruns);
    EXPECT_GT(owner.DoneCount(), 4u);
    EXPECT_GT(owner.ClipCount(), 0u);
    EXPECT_TRUE(messages.shown.empty());

    const std::vector<std::int16_t> played = device->PlayedFrames();
    ASSERT_GT(played.size(), 100000u);
    const long first = FirstAtLeast(played, 100);
    ASSERT_GE(first, 0) << "no tone";
    // Between the gate and the onset: one lead, less what the device played between two steps
    // (a period, or a few on a busy machine), plus however late the render thread noticed.
    const std::vector<std::int16_t> sustained = ReferenceNote(WAVEFORM_SINE, 1000, 0.5, 30000, -1);
    const long onset = first - FirstAtLeast(sustained, 100);
    EXPECT_GE(onset - static_cast<long>(gateOn), 3969 - 8 * PERIOD_SAMPLES);
    EXPECT_LE(onset - static_cast<long>(gateOn), 3969 + PERIOD_SAMPLES);
    // No gap and no repeated block: the held part of the note is the lone voice's sample for
    // sample (the release lands somewhere after 20000 samples).
    for (long i = 0; i < 20000; ++i)
        ASSERT_LE(
            std::abs(played[static_cast<std::size_t>(onset + i)] - sustained[static_cast<std::size_t>(i)]), 1)
            << "at " << i << " samples into the note";
    // And it ends: silence well after the decay.
    EXPECT_EQ(0, NonZeroFrom(played, static_cast<std::size_t>(onset + 44100)));
}

TEST(SynthesizerRunning, DestroyingARunningEngineJoinsItsThreads)
{
    CQueueingOwner owner;
    auto device = std::make_shared<CVirtualWaveDevice>(CVirtualWaveDevice::EClock::RealTime);
    for (int round = 0; round < 5; ++round) {
        auto synth = std::make_unique<CSynthesizer>(&owner, device, 32768, 4, 80, 10);
        synth->AddVoice();
        synth->SetFrequency(0, 440 + round);
        synth->SetAmplitude(0, 0.3);
        synth->SetGate(0, 1);
        synth->Start();
        std::this_thread::sleep_for(30ms);
        synth.reset();
        EXPECT_FALSE(device->IsOpen());
    }
}

} // namespace
