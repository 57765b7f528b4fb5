#pragma once
// What both device backends share: the queue of headers the device plays from, the frame counter,
// and the notification thread that tells the owner about finished buffers and clipping.
//
// Threads:
//   - GUI thread: Open, Close, Prepare, Unprepare, Write, Pause, Restart, Reset (the CWaveDevice
//     operations), and the backend hooks they call.
//   - Consumer (PortAudio's callback, or the virtual device's clock): Consume. It only copies queued
//     samples and advances counters: no lock, no allocation, no notice.
//   - Render thread: GetPosition, SamplesWritten, PostClip.
//   - Notification thread (ours): turns finished buffers and clip notices into calls to the owner.
//
// The queue is a fixed ring of header slots with three counters that only grow: m_written (GUI
// thread), m_consumed (consumer) and m_notified (notification thread). The consumer is stopped by
// the backend (QuiesceConsumer) whenever the GUI thread changes the queue in another way (Reset).
#include "audio/WaveDevice.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

class CQueuedWaveDevice : public CWaveDevice {
public:
    CQueuedWaveDevice();
    ~CQueuedWaveDevice() override;

    int Open(int deviceId, const WaveFormat& format, CWaveOutOwner* owner) override;
    int Close() override;
    int Prepare(WaveHeader* header) override;
    int Unprepare(WaveHeader* header) override;
    int Write(WaveHeader* header) override;
    int Pause() override;
    int Restart() override;
    int Reset() override;
    std::uint32_t GetPosition() override;
    void SamplesWritten(std::uint32_t from, std::uint32_t end) override;
    void PostClip(int clipped) override;
    SoundDamage Damage() const override;
    bool DamagedBetween(std::uint32_t from, std::uint32_t end) const override;

    bool IsOpen() const { return m_open.load(std::memory_order_acquire); }
    bool IsPaused() const { return m_paused.load(std::memory_order_acquire); }
    // Frames of device time in which the device was playing (not paused) but had nothing queued.
    std::uint64_t UnderrunFrames() const { return m_underrunFrames.load(std::memory_order_relaxed); }
    // Frames played as zeros because the ring did not hold them for this pass.
    std::uint64_t UnrenderedFrames() const { return m_unrenderedFrames.load(std::memory_order_relaxed); }
    // Buffers queued and not yet finished.
    int QueuedBuffers() const;

    // Most buffers that can be queued at once.
    static constexpr int QUEUE_SLOTS = 64;

protected:
    // Fills `frames` frames of `out` (frame size from the open format) from the queue, zeros where
    // the device is paused or the queue runs dry, and returns how many frames came from the queue.
    // `out` may be null when only the frames taken matter. `underflow`: the host says output ran
    // dry before this call. Consumer only.
    std::uint32_t Consume(void* out, std::uint32_t frames, bool underflow = false);

    // Backend hooks, GUI thread. OpenBackend runs before the notification thread starts and
    // CloseBackend after it has stopped; the consumer must not run outside them.
    virtual int OpenBackend(int deviceId, const WaveFormat& format) = 0;
    virtual int CloseBackend() = 0;
    // Stops the consumer until ResumeConsumer (both return once that is so).
    virtual void QuiesceConsumer() = 0;
    virtual int ResumeConsumer() = 0;

    const WaveFormat& Format() const { return m_format; }

    // Called on the notification thread at every poll, without its lock: for work that must stay
    // out of the consumer (asking for real-time scheduling of the consumer's thread).
    virtual void NotifierTick() {}

private:
    // Prepare and Unprepare take only a header that exists and is not queued, on an open device.
    int CheckIdleHeader(const WaveHeader* header) const;
    void NotifyLoop();
    // Notes zero-filled frames [from, end) (or a reported underflow) for DamagedBetween. Consumer.
    void RecordDamage(std::uint32_t from, std::uint32_t end);

    WaveFormat m_format;
    CWaveOutOwner* m_owner = nullptr;
    std::atomic<bool> m_open{false};
    std::atomic<bool> m_paused{false};

    WaveHeader* m_slots[QUEUE_SLOTS] = {};
    std::atomic<std::uint64_t> m_written{0};
    std::atomic<std::uint64_t> m_consumed{0};
    std::atomic<std::uint64_t> m_notified{0};
    std::uint32_t m_consumedBytes = 0; // into the header at m_consumed (consumer only)
    std::uint64_t m_bytesTaken = 0;    // since Open or Reset (consumer only)
    bool m_consumerQuiesced = false;   // GUI thread only

    std::atomic<std::uint32_t> m_position{0};
    std::atomic<std::uint64_t> m_underrunFrames{0};
    std::atomic<std::uint64_t> m_unrenderedFrames{0};
    std::atomic<std::uint64_t> m_underflowCallbacks{0};
    // The stretch the ring holds for this pass, as published by SamplesWritten: `from` in the low
    // half, `end` in the high half, so that one acquire gives both. 0: nothing published yet.
    std::atomic<std::uint64_t> m_rendered{0};
    std::atomic<bool> m_renderedKnown{false};

    // The last stretches of damaged frames, oldest overwritten first. The consumer extends the
    // newest while damage goes on; readers check that none was overwritten while they looked.
    static constexpr int DAMAGE_LOG = 64;
    struct DamageStretch {
        std::atomic<std::uint32_t> from{0};
        std::atomic<std::uint32_t> end{0};
    };
    DamageStretch m_damageLog[DAMAGE_LOG];
    std::atomic<std::uint64_t> m_damageCount{0};
    std::atomic<std::uint64_t> m_damageSequence{0};
    // 0: no notice; 1 + clipped otherwise.
    std::atomic<int> m_clipNotice{0};

    // The notification thread. m_notifyMutex also keeps Reset from dropping buffers while the thread
    // is marking them done.
    std::thread m_notifier;
    std::mutex m_notifyMutex;
    std::condition_variable m_notifyWake;
    bool m_notifyStop = false;
};
