#pragma once
// The memory of the ring: one header and one zeroed sample buffer per slot, allocated at once and
// released at once. Nothing is allocated after construction.
#include "audio/WaveDevice.h"

class CRingHeap;

class CWaveBufferSet {
public:
    // Allocates the ring at once; a failure shows "バッファの確保に失敗しました。" (except when the
    // heap itself cannot be made) and leaves the set not ready.
    CWaveBufferSet(int bufferBytes, int bufferCount);
    virtual ~CWaveBufferSet();
    CWaveBufferSet(const CWaveBufferSet&) = delete;
    CWaveBufferSet& operator=(const CWaveBufferSet&) = delete;

    int Allocate();
    // Fills every buffer with zero bytes (when ready).
    void Clear();
    int IsReady() const { return m_ready; }

    int m_ready = 0;
    CRingHeap* m_hHeap = nullptr;
    WaveHeader** m_headers = nullptr;
    char** m_data = nullptr;
    int m_bufferBytes;
    int m_bufferCount;
};
