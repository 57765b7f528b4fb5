#pragma once
// 16-bit PCM played as an endless ring: a fixed set of equally sized buffers all queued on the
// device, each queued again as soon as it has played, with sample blocks copied into the ring at any
// (buffer, offset) position a fixed lead ahead of what the device has taken.
//
// Threads:
//   - GUI thread: constructor, destructor, QueryFormat, Open, Close, Prime, Restart, Reset, Requeue.
//   - Render thread: GetPosition, Write, Publish, PostClip (no lock, no allocation).
//   - Any thread: Damage, DamagedBetween.
// Every failure shows its own fixed message through ShowMessage on the calling (GUI) thread.
#include "audio/CWaveBufferSet.h"
#include "audio/WaveDevice.h"

#include <atomic>
#include <cstdint>
#include <memory>

class CWaveOutOwner;

class CWaveOutStream {
public:
    // Plays through the device CreateWaveDevice() gives (PortAudio unless a test chose otherwise).
    CWaveOutStream(int deviceId, const WaveFormat& format, int bufferBytes, int bufferCount);
    // Plays through `device`.
    CWaveOutStream(int deviceId, const WaveFormat& format, int bufferBytes, int bufferCount,
                   std::shared_ptr<CWaveDevice> device);
    // Frees the ring. The owner closes the device first; a device left open is closed here.
    virtual ~CWaveOutStream();
    CWaveOutStream(const CWaveOutStream&) = delete;
    CWaveOutStream& operator=(const CWaveOutStream&) = delete;

    int QueryFormat();
    // The device's own rate (CWaveDevice::NativeRate), 0 when it cannot tell.
    std::uint32_t NativeRate();
    // Makes each buffer `bufferBytes` long (all of them zeroed), while the device is closed. A
    // failed allocation shows its message and keeps the ring as it was (0).
    int ResizeBuffers(int bufferBytes);
    // Opens the device; its notices go to `owner`.
    int Open(CWaveOutOwner* owner);
    int Close();
    // Clears the ring, pauses the device, and prepares and queues every buffer in index order.
    int Prime();
    void Restart();
    void Reset();
    // Queues a played buffer again; refuses (0) a header that is not both prepared and done.
    int Requeue(WaveHeader* header);
    unsigned GetPosition();
    // Copies `count` frames into the ring from buffer `index`, frame `offset`, wrapping across
    // buffers; index, offset and count are clamped to the ring.
    void Write(unsigned index, unsigned offset, const void* samples, int count);
    // Tells the device that the ring holds frames [from, end) of the position's count for this
    // pass (after Write): it plays nothing else from the ring.
    void Publish(unsigned from, unsigned end);
    // Hands a clip notice to the device's notification thread.
    void PostClip(int clipped);
    // The device's damage record of this run; any thread.
    SoundDamage Damage() const;
    bool DamagedBetween(unsigned from, unsigned end) const;

    bool IsOpen() const { return m_open.load(std::memory_order_acquire); }
    CWaveBufferSet* Buffers() const { return m_pBuffers; }
    int SamplesPerBuffer() const;

private:
    std::atomic<bool> m_open{false};
    int m_deviceId;
    const WaveFormat* m_pFormat;
    CWaveBufferSet* m_pBuffers = nullptr;
    std::shared_ptr<CWaveDevice> m_pDevice;
};
