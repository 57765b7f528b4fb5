// Thread map:
//   test (GUI) thread   every operation, Advance (manual clock), the inspection functions
//   clock thread        ClockLoop (real-time clock): plays the frames due, under m_mutex
//   plus the threads of CQueuedWaveDevice (render, notification).
// The mutex serialises the consumer's side only: injections, the recording and playing. The
// queue itself is shared with the render and notification threads exactly as in PortAudio's case.
#include "audio/CVirtualWaveDevice.h"

#include <pthread.h>

#include <chrono>

namespace {
// The real-time clock plays what is due every 2 ms, and at most 10 ms at once, so that a clock
// thread that was held up does not take a long stretch of the ring in one go (a real device
// would have stalled, too).
constexpr auto CLOCK_TICK = std::chrono::milliseconds(2);
constexpr double MAX_FRAMES_PER_TICK_S = 0.010;

bool IsPlayableFormat(const WaveFormat& format)
{
    return format.wFormatTag == WAVE_FORMAT_PCM && format.nChannels >= 1 &&
           (format.wBitsPerSample == 8 || format.wBitsPerSample == 16) &&
           format.nBlockAlign == format.nChannels * format.wBitsPerSample / 8 && format.nSamplesPerSec > 0;
}
} // namespace

CVirtualWaveDevice::CVirtualWaveDevice(EClock clock) : m_clock(clock)
{
}

CVirtualWaveDevice::~CVirtualWaveDevice()
{
    if (IsOpen())
        CQueuedWaveDevice::Close();
}

void CVirtualWaveDevice::FailNext(EWaveDeviceOp op, int times, int result)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_failTimes[static_cast<int>(op)] = times;
    m_failResult[static_cast<int>(op)] = result;
}

int CVirtualWaveDevice::CallCount(EWaveDeviceOp op) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_calls[static_cast<int>(op)];
}

int CVirtualWaveDevice::Injected(EWaveDeviceOp op)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const int i = static_cast<int>(op);
    ++m_calls[i];
    if (m_failTimes[i] == 0)
        return MMSYSERR_NOERROR;
    if (m_failTimes[i] > 0)
        --m_failTimes[i];
    return m_failResult[i];
}

int CVirtualWaveDevice::QueryFormat(int deviceId, const WaveFormat& format)
{
    if (const int injected = Injected(EWaveDeviceOp::QueryFormat))
        return injected;
    if (deviceId != WAVE_MAPPER && deviceId != 0)
        return MMSYSERR_BADDEVICEID;
    return IsPlayableFormat(format) ? MMSYSERR_NOERROR : WAVERR_BADFORMAT;
}

int CVirtualWaveDevice::Open(int deviceId, const WaveFormat& format, CWaveOutOwner* owner)
{
    if (const int injected = Injected(EWaveDeviceOp::Open))
        return injected;
    return CQueuedWaveDevice::Open(deviceId, format, owner);
}

int CVirtualWaveDevice::Close()
{
    // A failing close still closes: the caller drops its handle either way.
    const int injected = Injected(EWaveDeviceOp::Close);
    const int result = CQueuedWaveDevice::Close();
    return injected ? injected : result;
}

int CVirtualWaveDevice::Prepare(WaveHeader* header)
{
    if (const int injected = Injected(EWaveDeviceOp::Prepare))
        return injected;
    return CQueuedWaveDevice::Prepare(header);
}

int CVirtualWaveDevice::Unprepare(WaveHeader* header)
{
    if (const int injected = Injected(EWaveDeviceOp::Unprepare))
        return injected;
    return CQueuedWaveDevice::Unprepare(header);
}

int CVirtualWaveDevice::Write(WaveHeader* header)
{
    if (const int injected = Injected(EWaveDeviceOp::Write))
        return injected;
    return CQueuedWaveDevice::Write(header);
}

int CVirtualWaveDevice::Pause()
{
    if (const int injected = Injected(EWaveDeviceOp::Pause))
        return injected;
    return CQueuedWaveDevice::Pause();
}

int CVirtualWaveDevice::Restart()
{
    if (const int injected = Injected(EWaveDeviceOp::Restart))
        return injected;
    return CQueuedWaveDevice::Restart();
}

int CVirtualWaveDevice::Reset()
{
    if (const int injected = Injected(EWaveDeviceOp::Reset))
        return injected;
    return CQueuedWaveDevice::Reset();
}

void CVirtualWaveDevice::Advance(std::uint32_t frames)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!IsOpen() || m_consumerStopped)
        return;
    PlayLocked(frames);
}

std::vector<std::int16_t> CVirtualWaveDevice::PlayedFrames() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_played;
}

void CVirtualWaveDevice::ClearPlayed()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_played.clear();
}

void CVirtualWaveDevice::PlayLocked(std::uint32_t frames)
{
    const WaveFormat& format = Format();
    const std::size_t bytes = static_cast<std::size_t>(frames) * format.nBlockAlign;
    m_scratch.resize((bytes + 1) / 2);
    const std::uint32_t taken = Consume(m_scratch.data(), frames);
    // The recording keeps 16-bit samples (every channel); other formats are played unrecorded.
    if (format.wBitsPerSample == 16) {
        const std::size_t samples = static_cast<std::size_t>(taken) * format.nChannels;
        m_played.insert(m_played.end(), m_scratch.begin(),
                        m_scratch.begin() + static_cast<std::ptrdiff_t>(samples));
    }
}

int CVirtualWaveDevice::OpenBackend(int deviceId, const WaveFormat& format)
{
    if (deviceId != WAVE_MAPPER && deviceId != 0)
        return MMSYSERR_BADDEVICEID;
    if (!IsPlayableFormat(format))
        return WAVERR_BADFORMAT;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_consumerStopped = false;
    }
    if (m_clock == EClock::RealTime) {
        m_clockRun.store(true, std::memory_order_relaxed);
        try {
            m_clockThread = std::thread(&CVirtualWaveDevice::ClockLoop, this);
        } catch (const std::exception&) {
            return MMSYSERR_NOMEM;
        }
    }
    return MMSYSERR_NOERROR;
}

int CVirtualWaveDevice::CloseBackend()
{
    m_clockRun.store(false, std::memory_order_relaxed);
    if (m_clockThread.joinable())
        m_clockThread.join();
    std::lock_guard<std::mutex> lock(m_mutex);
    m_consumerStopped = true;
    return MMSYSERR_NOERROR;
}

void CVirtualWaveDevice::QuiesceConsumer()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_consumerStopped = true;
}

int CVirtualWaveDevice::ResumeConsumer()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_consumerStopped = false;
    return MMSYSERR_NOERROR;
}

void CVirtualWaveDevice::ClockLoop()
{
    pthread_setname_np(pthread_self(), "tv-vclock");
    using Clock = std::chrono::steady_clock;
    const double rate = Format().nSamplesPerSec;
    const double maxFrames = rate * MAX_FRAMES_PER_TICK_S;
    Clock::time_point last = Clock::now();
    double due = 0.0;
    while (m_clockRun.load(std::memory_order_relaxed)) {
        std::this_thread::sleep_for(CLOCK_TICK);
        const Clock::time_point now = Clock::now();
        due += std::chrono::duration<double>(now - last).count() * rate;
        last = now;
        if (due > maxFrames)
            due = maxFrames;
        const auto frames = static_cast<std::uint32_t>(due);
        due -= frames;
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_consumerStopped && frames > 0)
            PlayLocked(frames);
    }
}
