// Thread map:
//   GUI thread       Open, Close, Prepare, Unprepare, Write, Pause, Restart, Reset
//   consumer         Consume (PortAudio's callback or the virtual clock): copies and counts only
//   render thread    GetPosition, SamplesWritten, PostClip
//   any thread       Damage, DamagedBetween (the consumer's damage log, read under a sequence lock)
//   notification     NotifyLoop: marks finished buffers done and tells the owner
#include "audio/CQueuedWaveDevice.h"

#include "audio/CWaveOutOwner.h"

#include <pthread.h>

#include <algorithm>
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

std::uint32_t CWaveDevice::NativeRate(int)
{
    return 0;
}

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
    m_unrenderedFrames.store(0, std::memory_order_relaxed);
    m_underflowCallbacks.store(0, std::memory_order_relaxed);
    m_rendered.store(0, std::memory_order_relaxed);
    m_renderedKnown.store(false, std::memory_order_relaxed);
    m_damageCount.store(0, std::memory_order_relaxed);
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
    // The next pass starts from the ring's silence again. The damage of this run stays readable.
    m_renderedKnown.store(false, std::memory_order_relaxed);
    m_rendered.store(0, std::memory_order_relaxed);
    m_position.store(0, std::memory_order_release);
    return MMSYSERR_NOERROR;
}

std::uint32_t CQueuedWaveDevice::GetPosition()
{
    // Acquire: the consumer's reads of the frames counted here are over before the render thread
    // writes over them a ring later.
    return m_position.load(std::memory_order_acquire);
}

void CQueuedWaveDevice::SamplesWritten(std::uint32_t from, std::uint32_t end)
{
    // One writer (the render thread); the consumer acquires this before it copies, so it sees
    // the samples below `end` whole.
    m_rendered.store(static_cast<std::uint64_t>(end) << 32 | from, std::memory_order_release);
    m_renderedKnown.store(true, std::memory_order_release);
}

SoundDamage CQueuedWaveDevice::Damage() const
{
    SoundDamage damage;
    damage.unrenderedFrames = m_unrenderedFrames.load(std::memory_order_relaxed);
    damage.dryFrames = m_underrunFrames.load(std::memory_order_relaxed);
    damage.underflowCallbacks = m_underflowCallbacks.load(std::memory_order_relaxed);
    return damage;
}

namespace {
// Whether [from, end) and [first, last) share a frame, on a counter that wraps.
bool Overlaps(std::uint32_t from, std::uint32_t end, std::uint32_t first, std::uint32_t last)
{
    return static_cast<std::int32_t>(last - from) > 0 && static_cast<std::int32_t>(end - first) > 0 &&
           static_cast<std::int32_t>(end - from) > 0 && static_cast<std::int32_t>(last - first) > 0;
}
} // namespace

void CQueuedWaveDevice::RecordDamage(std::uint32_t from, std::uint32_t end)
{
    // A sequence lock with one writer: odd while the log changes. Release stores of the log keep
    // the odd count before them for a reader that acquires what they wrote.
    const std::uint64_t sequence = m_damageSequence.load(std::memory_order_relaxed);
    m_damageSequence.store(sequence + 1, std::memory_order_relaxed);
    const std::uint64_t count = m_damageCount.load(std::memory_order_relaxed);
    DamageStretch* last = count > 0 ? &m_damageLog[(count - 1) % DAMAGE_LOG] : nullptr;
    if (last && last->end.load(std::memory_order_relaxed) == from) {
        last->end.store(end, std::memory_order_release);
    } else {
        DamageStretch& slot = m_damageLog[count % DAMAGE_LOG];
        slot.from.store(from, std::memory_order_release);
        slot.end.store(end, std::memory_order_release);
        m_damageCount.store(count + 1, std::memory_order_release);
    }
    m_damageSequence.store(sequence + 2, std::memory_order_release);
}

bool CQueuedWaveDevice::DamagedBetween(std::uint32_t from, std::uint32_t end) const
{
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::uint64_t before = m_damageSequence.load(std::memory_order_acquire);
        if (before & 1) {
            std::this_thread::yield();
            continue;
        }
        // Acquire loads throughout: a value from a change under way brings its odd count along,
        // and the check below sees that the log moved.
        const std::uint64_t count = m_damageCount.load(std::memory_order_acquire);
        const std::uint64_t oldest = count > DAMAGE_LOG ? count - DAMAGE_LOG : 0;
        bool damaged = false;
        for (std::uint64_t i = oldest; i < count && !damaged; ++i) {
            const DamageStretch& stretch = m_damageLog[i % DAMAGE_LOG];
            damaged = Overlaps(from, end, stretch.from.load(std::memory_order_acquire),
                               stretch.end.load(std::memory_order_acquire));
        }
        // Stretches older than the log may have fallen in the window: count them as damage.
        if (!damaged && oldest > 0) {
            const std::uint32_t kept = m_damageLog[oldest % DAMAGE_LOG].from.load(std::memory_order_acquire);
            damaged = static_cast<std::int32_t>(kept - from) > 0;
        }
        if (m_damageSequence.load(std::memory_order_relaxed) == before)
            return damaged;
    }
    // The log kept changing under the reader: the sound is certainly not whole.
    return true;
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

std::uint32_t CQueuedWaveDevice::Consume(void* out, std::uint32_t frames, bool underflow)
{
    const std::size_t frameBytes = m_format.nBlockAlign;
    std::size_t needed = frames * frameBytes;
    char* destination = static_cast<char*>(out);
    const auto position = static_cast<std::uint32_t>(m_bytesTaken / frameBytes);
    if (underflow) {
        m_underflowCallbacks.fetch_add(1, std::memory_order_relaxed);
        RecordDamage(position, position + frames);
    }
    if (m_paused.load(std::memory_order_acquire)) {
        if (destination)
            std::memset(destination, 0, needed);
        return 0;
    }
    // Acquire what the render thread has written and what the GUI thread has queued.
    const bool limited = m_renderedKnown.load(std::memory_order_acquire);
    const std::uint64_t rendered = m_rendered.load(std::memory_order_acquire);
    const auto renderedFrom = static_cast<std::uint32_t>(rendered);
    const auto renderedEnd = static_cast<std::uint32_t>(rendered >> 32);
    const std::uint64_t written = m_written.load(std::memory_order_acquire);
    std::uint64_t consumed = m_consumed.load(std::memory_order_relaxed);
    std::size_t taken = 0;
    std::uint64_t unrendered = 0;
    while (needed > 0 && consumed < written) {
        const WaveHeader* header = m_slots[consumed % QUEUE_SLOTS];
        const std::size_t remaining = header->dwBufferLength - m_consumedBytes;
        const std::size_t n = remaining < needed ? remaining : needed;
        // Only what was rendered for this pass is copied; the rest of the stretch holds an
        // earlier pass and plays as zeros, while the queue and the position go on.
        std::size_t copyFrom = 0;
        std::size_t copyEnd = n;
        if (limited) {
            const auto first = static_cast<std::uint32_t>((m_bytesTaken + taken) / frameBytes);
            const auto length = static_cast<std::int64_t>(n / frameBytes);
            const std::int64_t lo =
                std::clamp<std::int64_t>(static_cast<std::int32_t>(renderedFrom - first), 0, length);
            const std::int64_t hi =
                std::clamp<std::int64_t>(static_cast<std::int32_t>(renderedEnd - first), lo, length);
            copyFrom = static_cast<std::size_t>(lo) * frameBytes;
            copyEnd = static_cast<std::size_t>(hi) * frameBytes;
            if (lo > 0)
                RecordDamage(first, first + static_cast<std::uint32_t>(lo));
            if (hi < length)
                RecordDamage(first + static_cast<std::uint32_t>(hi),
                             first + static_cast<std::uint32_t>(length));
            unrendered += static_cast<std::uint64_t>(length - (hi - lo));
        }
        if (destination) {
            std::memset(destination, 0, copyFrom);
            std::memcpy(destination + copyFrom, header->lpData + m_consumedBytes + copyFrom,
                        copyEnd - copyFrom);
            std::memset(destination + copyEnd, 0, n - copyEnd);
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
    if (unrendered > 0)
        m_unrenderedFrames.fetch_add(unrendered, std::memory_order_relaxed);
    m_bytesTaken += taken;
    const auto end = static_cast<std::uint32_t>(m_bytesTaken / frameBytes);
    if (needed > 0) {
        if (destination)
            std::memset(destination, 0, needed);
        if (written > 0) {
            m_underrunFrames.fetch_add(needed / frameBytes, std::memory_order_relaxed);
            // The silence falls between two frames of the position: the one after it carries it.
            RecordDamage(end, end + 1);
        }
    }
    m_position.store(end, std::memory_order_release);
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
        lock.unlock();
        NotifierTick();
        lock.lock();
        if (m_notifyStop)
            break;
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
