#pragma once
// Helpers shared by the engine's tests: the owner that collects the engine's notices
// (tests/support/CQueueingOwner.h), the PCM conversion of the mix, reference notes.
#include "synth/CSynthesizer.h"
#include "tests/support/CQueueingOwner.h"

#include <sched.h>

#include <chrono>
#include <cstdint>
#include <thread>
#include <vector>

// Whether this process may make a thread real-time by itself (RLIMIT_RTPRIO or privilege).
inline bool MayScheduleRealtime()
{
    bool granted = false;
    std::thread probe([&] {
        sched_param parameter{};
        parameter.sched_priority = 1;
        granted = sched_setscheduler(0, SCHED_FIFO, &parameter) == 0;
    });
    probe.join();
    return granted;
}

// The engine's conversion of one mixed sample to PCM, for references built from a lone voice.
inline std::int16_t ToPcm(float sample)
{
    if (sample > 1.0f)
        sample = 1.0f;
    if (sample < -1.0f || sample != sample)
        sample = -1.0f;
    return static_cast<std::int16_t>(static_cast<int>(sample * 32767.0));
}

// What one voice sounds like through the engine at gain 1: `count` samples from a note started at
// sample 0 and released at sample `releaseAt` (never when negative).
inline std::vector<std::int16_t> ReferenceNote(int waveform, double frequency, double amplitude, int count,
                                               int releaseAt, int sampleRate = 44100)
{
    CToneVoice voice(sampleRate);
    voice.m_waveform = waveform;
    voice.m_frequency = frequency;
    voice.m_amplitude = amplitude;
    voice.SetGate(1);
    std::vector<float> mix(static_cast<std::size_t>(count), 0.0f);
    if (releaseAt >= 0 && releaseAt < count) {
        voice.Render(mix.data(), releaseAt, RENDER_ADD);
        voice.SetGate(0);
        voice.Render(mix.data() + releaseAt, count - releaseAt, RENDER_ADD);
    } else {
        voice.Render(mix.data(), count, RENDER_ADD);
    }
    std::vector<std::int16_t> pcm(mix.size());
    for (std::size_t i = 0; i < mix.size(); ++i)
        pcm[i] = ToPcm(mix[i]);
    return pcm;
}

// Index of the first sample whose magnitude reaches `threshold`, or -1.
inline long FirstAtLeast(const std::vector<std::int16_t>& samples, int threshold, long from = 0)
{
    for (std::size_t i = static_cast<std::size_t>(from); i < samples.size(); ++i) {
        if (samples[i] >= threshold || samples[i] <= -threshold)
            return static_cast<long>(i);
    }
    return -1;
}
