#pragma once
// The owner a benchmark gives its engine: finished buffers are collected on the device's
// notification thread and handed back on the benchmark's own thread, as a dialog's event loop does.
#include "audio/CWaveOutOwner.h"
#include "synth/CSynthesizer.h"

#include <mutex>
#include <vector>

class CRequeueOwner : public CWaveOutOwner {
public:
    void PostBufferDone(WaveHeader* header) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_done.push_back(header);
    }
    void PostClip(int) override {}
    void Deliver(CSynthesizer& synth)
    {
        std::vector<WaveHeader*> done;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            done.swap(m_done);
        }
        for (WaveHeader* header : done)
            synth.OnBufferDone(header);
    }

private:
    std::mutex m_mutex;
    std::vector<WaveHeader*> m_done;
};
