// Thread map:
//   GUI thread       Open, Close, Prepare, Unprepare, Write, Pause, Restart, Reset
//   consumer         Consume (PortAudio's callback or the virtual clock): copies and counts only
//   render thread    GetPosition, SamplesWritten, PostClip
//   notification     NotifyLoop: marks finished buffers done and tells the owner
#include "audio/CQueuedWaveDevice.h"

#include "audio/CWaveOutOwner.h"

#include <pthread.h>

#include <chrono>
#include <cstring>
#include <system_error>

namespace {
// How often the notification thread looks for finished buffers and clip notices. A buffer of the
// engine's ring lasts 371 ms and three more stay queued behind it, so a few milliseconds of delay
// before it is queued again cost nothing; polling keeps every signal out of the consumer.
constexpr auto NOTIFY_PERIOD = std::chrono::milliseconds(20);
} // namespace

CWaveDevice::~CWaveDevice() = default;

CQueuedWaveDevice::CQueuedWaveDevice() = default;

CQueuedWaveDevice::~CQueuedWaveDevice()
{
    // A backend closes itself in its own destructor (it is gone by now); this only makes sure the
    // notification thread does not outlive the object.
    if (m_notifier.joinable()) {
        {
            std::lock_guard<std::mutex> lock(m_notifyMutex);
            m_notifyStop = true;
        }
        m_notifyWake.notify_all();
        m_notifier.join();
    }
}

int CQueuedWaveDevice::Open(int deviceId, const WaveFormat& format, CWaveOutOwner* owner)
{
    if (IsOpen())
        return MMSYSERR_ALLOCATED;
    if (format.nBlockAlign == 0)
        return WAVERR_BADFORMAT;
    m_format = format;
    m_owner = owner;
    m_paused.store(false, std::memory_order_relaxed);
    m_written.store(0, std::memory_order_relaxed);
    m_consumed.store(0, std::memory_order_relaxed);
    m_notified.store(0, std::memory_order_relaxed);
    m_consumedBytes = 0;
    m_bytesTaken = 0;
    m_position.store(0, std::memory_order_relaxed);
    m_underrunFrames.store(0, std::memory_order_relaxed);
    m_clipNotice.store(0, std::memory_order_relaxed);
    m_consumerQuiesced = false;

    const int result = OpenBackend(deviceId, format);
    if (result != MMSYSERR_NOERROR)
        return result;
    try {
        std::lock_guard<std::mutex> lock(m_notifyMutex);
        m_notifyStop = false;
        m_notifier = std::thread(&CQueuedWaveDevice::NotifyLoop, this);
    } catch (const std::exception&) {
        CloseBackend();
        return MMSYSERR_NOMEM;
    }
    m_open.store(true, std::memory_order_release);
    return MMSYSERR_NOERROR;
}

int CQueuedWaveDevice::Close()
{
    if (!IsOpen())
        return MMSYSERR_INVALHANDLE;
    // The notification thread goes first: once Close returns, the owner hears nothing more.
    {
        std::lock_guard<std::mutex> lock(m_notifyMutex);
        m_notifyStop = true;
    }
    m_notifyWake.notify_all();
    if (m_notifier.joinable())
        m_notifier.join();

    const int result = CloseBackend();
    // Whatever is still queued is dropped.
    const std::uint64_t written = m_written.load(std::memory_order_relaxed);
    for (std::uint64_t i = m_notified.load(std::memory_order_relaxed); i < written; ++i) {
        WaveHeader* header = m_slots[i % QUEUE_SLOTS];
        header->dwFlags.fetch_or(WHDR_DONE, std::memory_order_relaxed);
        header->dwFlags.fetch_and(~WHDR_INQUEUE, std::memory_order_release);
    }
    m_consumed.store(written, std::memory_order_relaxed);
    m_notified.store(written, std::memory_order_relaxed);
    m_owner = nullptr;
    m_open.store(false, std::memory_order_release);
    return result;
}

int CQueuedWaveDevice::CheckIdleHeader(const WaveHeader* header) const
{
    if (!header)
        return MMSYSERR_INVALPARAM;
    if (!IsOpen())
        return MMSYSERR_INVALHANDLE;
    if (header->dwFlags.load(std::memory_order_acquire) & WHDR_INQUEUE)
        return WAVERR_STILLPLAYING;
    return MMSYSERR_NOERROR;
}

int CQueuedWaveDevice::Prepare(WaveHeader* header)
{
    const int result = CheckIdleHeader(header);
    if (result == MMSYSERR_NOERROR)
        header->dwFlags.fetch_or(WHDR_PREPARED, std::memory_order_release);
    return result;
}

int CQueuedWaveDevice::Unprepare(WaveHeader* header)
{
    const int result = CheckIdleHeader(header);
    if (result == MMSYSERR_NOERROR)
        header->dwFlags.fetch_and(~WHDR_PREPARED, std::memory_order_release);
    return result;
}

int CQueuedWaveDevice::Write(WaveHeader* header)
{
    if (!header)
        return MMSYSERR_INVALPARAM;
    if (!IsOpen())
        return MMSYSERR_INVALHANDLE;
    const std::uint32_t flags = header->dwFlags.load(std::memory_order_acquire);
    if (!(flags & WHDR_PREPARED))
        return WAVERR_UNPREPARED;
    if (flags & WHDR_INQUEUE)
        return WAVERR_STILLPLAYING;
    const std::uint64_t written = m_written.load(std::memory_order_relaxed);
    // A slot is free again once the notification thread has handed its buffer back.
    if (written - m_notified.load(std::memory_order_acquire) >= QUEUE_SLOTS)
        return MMSYSERR_NOMEM;
    if (m_consumerQuiesced) {
        const int result = ResumeConsumer();
        if (result != MMSYSERR_NOERROR)
            return result;
        m_consumerQuiesced = false;
    }
    header->dwFlags.fetch_and(~WHDR_DONE, std::memory_order_relaxed);
    header->dwFlags.fetch_or(WHDR_INQUEUE, std::memory_order_relaxed);
    m_slots[written % QUEUE_SLOTS] = header;
    // Release: the consumer sees the slot, and the header's buffer and length, with the count.
    m_written.store(written + 1, std::memory_order_release);
    return MMSYSERR_NOERROR;
}

int CQueuedWaveDevice::Pause()
{
    if (!IsOpen())
        return MMSYSERR_INVALHANDLE;
    m_paused.store(true, std::memory_order_release);
    return MMSYSERR_NOERROR;
}

int CQueuedWaveDevice::Restart()
{
    if (!IsOpen())
        return MMSYSERR_INVALHANDLE;
    if (m_consumerQuiesced) {
        const int result = ResumeConsumer();
        if (result != MMSYSERR_NOERROR)
            return result;
        m_consumerQuiesced = false;
    }
    m_paused.store(false, std::memory_order_release);
    return MMSYSERR_NOERROR;
}

int CQueuedWaveDevice::Reset()
{
    if (!IsOpen())
        return MMSYSERR_INVALHANDLE;
    // The consumer stays stopped until the next Write or Restart: the usual next step is Close.
    if (!m_consumerQuiesced) {
        QuiesceConsumer();
        m_consumerQuiesced = true;
    }
    std::lock_guard<std::mutex> lock(m_notifyMutex);
    const std::uint64_t written = m_written.load(std::memory_order_relaxed);
    for (std::uint64_t i = m_notified.load(std::memory_order_relaxed); i < written; ++i) {
        WaveHeader* header = m_slots[i % QUEUE_SLOTS];
        header->dwFlags.fetch_or(WHDR_DONE, std::memory_order_relaxed);
        header->dwFlags.fetch_and(~WHDR_INQUEUE, std::memory_order_release);
    }
    m_consumed.store(written, std::memory_order_relaxed);
    m_notified.store(written, std::memory_order_release);
    m_consumedBytes = 0;
    m_bytesTaken = 0;
    m_position.store(0, std::memory_order_release);
    return MMSYSERR_NOERROR;
}

std::uint32_t CQueuedWaveDevice::GetPosition()
{
    // Acquire: the consumer's reads of the frames counted here are over before the render thread
    // writes over them a ring later.
    return m_position.load(std::memory_order_acquire);
}

void CQueuedWaveDevice::SamplesWritten()
{
    // One writer (the render thread); the consumer acquires this before it copies.
    m_samplesPublished.store(m_samplesPublished.load(std::memory_order_relaxed) + 1,
                             std::memory_order_release);
}

void CQueuedWaveDevice::PostClip(int clipped)
{
    m_clipNotice.store(clipped ? 2 : 1, std::memory_order_release);
}

int CQueuedWaveDevice::QueuedBuffers() const
{
    return static_cast<int>(m_written.load(std::memory_order_acquire) -
                            m_consumed.load(std::memory_order_acquire));
}

std::uint32_t CQueuedWaveDevice::Consume(void* out, std::uint32_t frames)
{
    const std::size_t frameBytes = m_format.nBlockAlign;
    std::size_t needed = frames * frameBytes;
    char* destination = static_cast<char*>(out);
    if (m_paused.load(std::memory_order_acquire)) {
        if (destination)
            std::memset(destination, 0, needed);
        return 0;
    }
    // Acquire what the render thread has written and what the GUI thread has queued.
    m_samplesPublished.load(std::memory_order_acquire);
    const std::uint64_t written = m_written.load(std::memory_order_acquire);
    std::uint64_t consumed = m_consumed.load(std::memory_order_relaxed);
    std::size_t taken = 0;
    while (needed > 0 && consumed < written) {
        const WaveHeader* header = m_slots[consumed % QUEUE_SLOTS];
        const std::size_t remaining = header->dwBufferLength - m_consumedBytes;
        const std::size_t n = remaining < needed ? remaining : needed;
        if (destination) {
            std::memcpy(destination, header->lpData + m_consumedBytes, n);
            destination += n;
        }
        m_consumedBytes += static_cast<std::uint32_t>(n);
        needed -= n;
        taken += n;
        if (m_consumedBytes >= header->dwBufferLength) {
            m_consumedBytes = 0;
            ++consumed;
            m_consumed.store(consumed, std::memory_order_release);
        }
    }
    if (needed > 0) {
        if (destination)
            std::memset(destination, 0, needed);
        if (written > 0)
            m_underrunFrames.fetch_add(needed / frameBytes, std::memory_order_relaxed);
    }
    m_bytesTaken += taken;
    m_position.store(static_cast<std::uint32_t>(m_bytesTaken / frameBytes),
                     std::memory_order_release);
    return static_cast<std::uint32_t>(taken / frameBytes);
}

void CQueuedWaveDevice::NotifyLoop()
{
    pthread_setname_np(pthread_self(), "tv-notify");
    WaveHeader* finished[QUEUE_SLOTS];
    std::unique_lock<std::mutex> lock(m_notifyMutex);
    while (!m_notifyStop) {
        m_notifyWake.wait_for(lock, NOTIFY_PERIOD, [this] { return m_notifyStop; });
        if (m_notifyStop)
            break;
        int count = 0;
        const std::uint64_t consumed = m_consumed.load(std::memory_order_acquire);
        std::uint64_t notified = m_notified.load(std::memory_order_relaxed);
        while (notified < consumed && count < QUEUE_SLOTS) {
            WaveHeader* header = m_slots[notified % QUEUE_SLOTS];
            header->dwFlags.fetch_or(WHDR_DONE, std::memory_order_relaxed);
            header->dwFlags.fetch_and(~WHDR_INQUEUE, std::memory_order_release);
            finished[count++] = header;
            ++notified;
        }
        m_notified.store(notified, std::memory_order_release);
        const int clip = m_clipNotice.exchange(0, std::memory_order_acquire);
        CWaveOutOwner* owner = m_owner;
        if (!owner || (count == 0 && clip == 0))
            continue;
        // The owner is called without the lock, so that Reset on the GUI thread never waits for
        // an owner that is itself waiting for the GUI thread.
        lock.unlock();
        for (int i = 0; i < count; ++i)
            owner->PostBufferDone(finished[i]);
        if (clip != 0)
            owner->PostClip(clip - 1);
        lock.lock();
    }
}
