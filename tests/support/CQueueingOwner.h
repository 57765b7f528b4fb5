#pragma once
// The owner the engine's tests and benchmarks give their engine: its notices are collected on the
// device's notification thread and handed back on the caller's own thread, as a dialog's event
// queue does.
#include "audio/CWaveOutOwner.h"
#include "synth/CSynthesizer.h"

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
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
