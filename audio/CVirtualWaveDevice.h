#pragma once
// A device for tests: no sound server, the same queue semantics as the PortAudio backend, every frame
// it plays kept for inspection, and every operation able to fail on request.
//
// Its clock is either advanced by the test (Manual: Advance plays frames on the calling thread) or
// follows real time (RealTime: a thread of the device plays the frames due every few milliseconds).
#include "audio/CQueuedWaveDevice.h"

#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

enum class EWaveDeviceOp {
    QueryFormat,
    Open,
    Close,
    Prepare,
    Unprepare,
    Write,
    Pause,
    Restart,
    Reset,
    Count
};

class CVirtualWaveDevice : public CQueuedWaveDevice {
public:
    enum class EClock { Manual, RealTime };

    explicit CVirtualWaveDevice(EClock clock = EClock::Manual);
    ~CVirtualWaveDevice() override;

    // The next `times` calls of `op` fail with `result` (times -1: every call, 0: none again).
    void FailNext(EWaveDeviceOp op, int times = 1, int result = MMSYSERR_ERROR);
    // How often `op` was called.
    int CallCount(EWaveDeviceOp op) const;

    // The format of the last Open.
    using CQueuedWaveDevice::Format;
    // What NativeRate answers: 0 ("cannot tell") until set.
    void SetNativeRate(std::uint32_t rate) { m_nativeRate = rate; }
    std::uint32_t NativeRate(int) override { return m_nativeRate; }

    // Manual clock: `frames` frames of device time pass now (ignored while closed).
    void Advance(std::uint32_t frames);

    // Every frame taken from the queue since construction (or ClearPlayed), as 16-bit samples.
    std::vector<std::int16_t> PlayedFrames() const;
    void ClearPlayed();

    int QueryFormat(int deviceId, const WaveFormat& format) override;
    int Open(int deviceId, const WaveFormat& format, CWaveOutOwner* owner) override;
    int Close() override;
    int Prepare(WaveHeader* header) override;
    int Unprepare(WaveHeader* header) override;
    int Write(WaveHeader* header) override;
    int Pause() override;
    int Restart() override;
    int Reset() override;

protected:
    int OpenBackend(int deviceId, const WaveFormat& format) override;
    int CloseBackend() override;
    void QuiesceConsumer() override;
    int ResumeConsumer() override;

private:
    // Returns the failure to inject for `op`, or 0; counts the call.
    int Injected(EWaveDeviceOp op);
    void PlayLocked(std::uint32_t frames);
    void ClockLoop();

    EClock m_clock;
    mutable std::mutex m_mutex; // the consumer's side: playing, the recording, the injections
    std::vector<std::int16_t> m_played;
    std::vector<std::int16_t> m_scratch;
    int m_failTimes[static_cast<int>(EWaveDeviceOp::Count)] = {};
    int m_failResult[static_cast<int>(EWaveDeviceOp::Count)] = {};
    int m_calls[static_cast<int>(EWaveDeviceOp::Count)] = {};
    bool m_consumerStopped = false;
    std::uint32_t m_nativeRate = 0;

    std::thread m_clockThread;
    std::atomic<bool> m_clockRun{false};
};
