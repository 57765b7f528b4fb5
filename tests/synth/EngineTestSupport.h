#pragma once
// Helpers shared by the engine's tests: an owner that collects the engine's notices the way a
// dialog's event queue would, and the PCM conversion of the mix.
#include "audio/CWaveOutOwner.h"
#include "synth/CSynthesizer.h"

#include <sched.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

// Receives PostBufferDone and PostClip on the notification thread and hands them to the test's own
// thread, which plays the GUI thread.
class CQueueingOwner : public CWaveOutOwner {
public:
    void PostBufferDone(WaveHeader* header) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_done.push_back(header);
        ++m_doneCount;
        m_changed.notify_all();
    }

    void PostClip(int clipped) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_clips.push_back(clipped);
        m_changed.notify_all();
    }

    // Waits up to `timeout` for a finished buffer and takes it; null on timeout.
    WaveHeader* TakeBufferDone(std::chrono::milliseconds timeout)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        if (!m_changed.wait_for(lock, timeout, [this] { return !m_done.empty(); }))
            return nullptr;
        WaveHeader* header = m_done.front();
        m_done.pop_front();
        return header;
    }

    // Passes every finished buffer received so far to the engine, as a dialog's handler does.
    int DeliverBufferDone(CSynthesizer& synth)
    {
        std::deque<WaveHeader*> done;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            done.swap(m_done);
        }
        for (WaveHeader* header : done)
            synth.OnBufferDone(header);
        return static_cast<int>(done.size());
    }

    // Waits up to `timeout` for a clip notice after the first `seen` ones; -1 on timeout.
    int WaitForClip(std::size_t seen, std::chrono::milliseconds timeout)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        if (!m_changed.wait_for(lock, timeout, [&] { return m_clips.size() > seen; }))
            return -1;
        return m_clips.back();
    }

    std::size_t ClipCount()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_clips.size();
    }

    std::size_t DoneCount()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_doneCount;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<WaveHeader*> m_done;
    std::vector<int> m_clips;
    std::size_t m_doneCount = 0;
};

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
