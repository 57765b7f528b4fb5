// Thread map:
//   GUI thread      constructor, destructor, AddVoice, RemoveVoice, RemoveAllVoices, Set*, Start,
//                   Stop, OnBufferDone, the stretch, writes of m_masterGain
//   render thread   RenderThreadProc, RenderStep: reads the device position, mixes the voices,
//                   writes the ring. It allocates nothing, takes no lock and never waits for the
//                   GUI thread; everything it reads from the GUI thread is atomic (the running
//                   flag, the master gain, the voices' parameters and posted gate changes).
//   notification    the device's thread: the owner's PostBufferDone and PostClip
//   device consumer PortAudio's callback: copies what the render thread wrote
// The voice list only changes while the engine is stopped, that is while no render thread exists.
#include "synth/CSynthesizer.h"

#include "audio/RealtimeScheduling.h"
#include "ui/Language.h"
#include "ui/Message.h"

#include <pthread.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cmath>
#include <new>
#include <utility>

namespace {

// The largest block the arithmetic allows (a period of over three minutes); a step never renders
// more than one ring anyway.
constexpr double MAX_BLOCK_SAMPLES = 1 << 24;
// How long Start waits for a new render thread to tell its id.
constexpr int RENDER_THREAD_ID_WAIT_MS = 100;

// The highest rate the engine renders at; a device faster still converts from it.
constexpr std::uint32_t MAX_RENDER_RATE = 192000;

// The rate to render at for a device that runs at `deviceRate` (0: it cannot tell).
std::uint32_t RenderRateFor(std::uint32_t deviceRate)
{
    if (deviceRate <= static_cast<std::uint32_t>(SAMPLE_RATE))
        return SAMPLE_RATE;
    return std::min(deviceRate, MAX_RENDER_RATE);
}

int TruncateToInt(double value, double limit)
{
    if (!(value > 0.0))
        return 0;
    return value >= limit ? static_cast<int>(limit) : static_cast<int>(value);
}

} // namespace

CSynthesizer::CSynthesizer(CWaveOutOwner* owner, int deviceId, int bufferBytes, int bufferCount, int leadMs,
                           int periodMs)
{
    m_deviceId = deviceId;
    Construct(owner, nullptr, bufferBytes, bufferCount, leadMs, periodMs);
}

CSynthesizer::CSynthesizer(CWaveOutOwner* owner, std::shared_ptr<CWaveDevice> device, int bufferBytes,
                           int bufferCount, int leadMs, int periodMs, ERenderMode renderMode)
    : m_renderMode(renderMode)
{
    m_deviceId = WAVE_MAPPER;
    Construct(owner, std::move(device), bufferBytes, bufferCount, leadMs, periodMs);
}

void CSynthesizer::Construct(CWaveOutOwner* owner, std::shared_ptr<CWaveDevice> device, int bufferBytes,
                             int bufferCount, int leadMs, int periodMs)
{
    m_format.wFormatTag = WAVE_FORMAT_PCM;
    m_format.nChannels = 1;
    m_format.nSamplesPerSec = SAMPLE_RATE;
    m_format.nAvgBytesPerSec = 88200;
    m_format.nBlockAlign = 2;
    m_format.wBitsPerSample = 16;
    m_format.cbSize = 0;
    m_pOwner = owner;
    m_bufferBytes = bufferBytes;
    m_bufferCount = bufferCount;
    m_periodMs = periodMs;
    m_leadMs = leadMs;
    SetTiming();
    try {
        if (!device)
            device = CreateWaveDevice();
        m_pStream = new CWaveOutStream(m_deviceId, m_format, bufferBytes, bufferCount, std::move(device));
        m_pWriteCursor = new CRingCursor(bufferBytes, bufferCount, m_format);
        m_pTargetCursor = new CRingCursor(bufferBytes, bufferCount, m_format);
        m_blockCapacity = m_maxBlockSamples > 0 ? m_maxBlockSamples : 1;
        m_pcmBuffer = new std::int16_t[static_cast<std::size_t>(m_blockCapacity)]();
        m_mixBuffer = new float[static_cast<std::size_t>(m_blockCapacity)]();
        m_usable = true;
    } catch (const std::bad_alloc&) {
        // The parts made so far are freed by the destructor; this engine refuses all further use.
        ShowMessage(Translate(OUT_OF_MEMORY_TEXT));
    }
}

void CSynthesizer::SetTiming()
{
    const double rate = m_format.nSamplesPerSec;
    // Two periods' worth: a step that comes late still catches up in one go.
    m_maxBlockSamples = TruncateToInt(m_periodMs * rate * 0.002, MAX_BLOCK_SAMPLES);
    // The lead counts one period on top of leadMs, since the device moves on while the thread
    // sleeps: 3969 samples (90 ms) for 80 and 10 at 44100.
    m_leadSamples = TruncateToInt((static_cast<double>(m_leadMs) + m_periodMs) * 0.001 * rate, INT_MAX / 2);
    // The device takes one period per callback (441 frames for 10 ms at 44100).
    m_callbackFrames = TruncateToInt(m_periodMs * 0.001 * rate, MAX_BLOCK_SAMPLES);
}

bool CSynthesizer::UseRate(std::uint32_t rate)
{
    const std::uint32_t oldRate = m_format.nSamplesPerSec;
    // A device left open by a failed start keeps its rate; Open then says it is open already.
    if (rate == oldRate || m_pStream->IsOpen())
        return true;
    // Each buffer holds the same time at every rate, in whole frames, and exactly the bytes the
    // owner asked for at 44100.
    const std::int64_t align = m_format.nBlockAlign > 0 ? m_format.nBlockAlign : 1;
    std::int64_t bytes = m_bufferBytes;
    if (rate != static_cast<std::uint32_t>(SAMPLE_RATE))
        bytes =
            std::min<std::int64_t>(std::int64_t{m_bufferBytes} * rate / SAMPLE_RATE, INT_MAX) / align * align;

    m_format.nSamplesPerSec = rate;
    m_format.nAvgBytesPerSec = rate * m_format.nBlockAlign;
    SetTiming();
    std::unique_ptr<std::int16_t[]> pcm;
    std::unique_ptr<float[]> mix;
    const int capacity = std::max(m_maxBlockSamples, m_blockCapacity);
    if (capacity > m_blockCapacity) {
        pcm.reset(new (std::nothrow) std::int16_t[static_cast<std::size_t>(capacity)]());
        mix.reset(new (std::nothrow) float[static_cast<std::size_t>(capacity)]());
    }
    const bool blocksReady = capacity == m_blockCapacity || (pcm && mix);
    if (!blocksReady)
        ShowMessage(Translate(OUT_OF_MEMORY_TEXT));
    // The ring tells its own failure.
    if (!blocksReady || !m_pStream->ResizeBuffers(static_cast<int>(bytes))) {
        m_format.nSamplesPerSec = oldRate;
        m_format.nAvgBytesPerSec = oldRate * m_format.nBlockAlign;
        SetTiming();
        return false;
    }
    if (capacity > m_blockCapacity) {
        delete[] m_pcmBuffer;
        delete[] m_mixBuffer;
        m_pcmBuffer = pcm.release();
        m_mixBuffer = mix.release();
        m_blockCapacity = capacity;
    }
    m_pWriteCursor->m_bufferBytes = static_cast<int>(bytes);
    m_pTargetCursor->m_bufferBytes = static_cast<int>(bytes);
    for (CToneVoice* voice : m_voices)
        voice->SetSampleRate(static_cast<int>(rate));
    return true;
}

CSynthesizer::~CSynthesizer()
{
    Stop();
    RemoveAllVoices();
    delete[] m_mixBuffer;
    delete[] m_pcmBuffer;
    delete m_pTargetCursor;
    delete m_pWriteCursor;
    delete m_pStream;
}

CToneVoice* CSynthesizer::VoiceAt(int index) const
{
    if (index < 0 || index >= static_cast<int>(m_voices.size()))
        return nullptr;
    return m_voices[static_cast<std::size_t>(index)];
}

const CToneVoice* CSynthesizer::Voice(int index) const
{
    return VoiceAt(index);
}

int CSynthesizer::AddVoice()
{
    // The render thread walks the list without a lock, so it may only change while stopped.
    if (!m_usable || m_running.load(std::memory_order_acquire))
        return -1;
    CToneVoice* voice = nullptr;
    try {
        voice = new CToneVoice(SampleRate());
        m_voices.push_back(voice);
    } catch (const std::bad_alloc&) {
        delete voice;
        ShowMessage(Translate(OUT_OF_MEMORY_TEXT));
        return -1;
    }
    return static_cast<int>(m_voices.size()) - 1;
}

void CSynthesizer::RemoveVoice(int index)
{
    CToneVoice* voice = VoiceAt(index);
    if (!voice || m_running.load(std::memory_order_acquire))
        return;
    delete voice;
    m_voices.erase(m_voices.begin() + index);
}

void CSynthesizer::RemoveAllVoices()
{
    for (int i = static_cast<int>(m_voices.size()) - 1; i >= 0; --i)
        RemoveVoice(i);
}

void CSynthesizer::SetFrequency(int index, double hz)
{
    if (CToneVoice* voice = VoiceAt(index))
        voice->m_frequency.store(hz, std::memory_order_relaxed);
}

void CSynthesizer::SetAmplitude(int index, double amplitude)
{
    if (CToneVoice* voice = VoiceAt(index))
        voice->m_amplitude.store(amplitude, std::memory_order_relaxed);
}

void CSynthesizer::SetWaveform(int index, int waveform)
{
    if (CToneVoice* voice = VoiceAt(index))
        voice->m_waveform.store(waveform, std::memory_order_relaxed);
}

void CSynthesizer::SetGate(int index, int on)
{
    CToneVoice* voice = VoiceAt(index);
    if (voice == nullptr)
        return;
    if (m_stretchOpen && IsRunning()) {
        // The position before the gate posts: the change sounds within one lead of it. A decay
        // ends within a block after its envelope.
        const unsigned position = DevicePosition();
        if (on != 0)
            m_stretch.ToneOn(position);
        else
            m_stretch.ToneOff(position,
                              CToneVoice::EnvelopeLengthFor(voice->m_frequency.load(), SampleRate()) +
                                  m_maxBlockSamples);
    }
    // Applied by the next step, so that a note never starts or ends in the middle of a block.
    voice->PostGate(on);
}

void CSynthesizer::BeginStretch()
{
    m_stretchPlayed = nullptr;
    m_stretch = CPlayedStretch(m_leadSamples);
    m_stretchOpen = true;
}

void CSynthesizer::ExtendStretch()
{
    if (m_stretchOpen && IsRunning())
        m_stretch.ExtendTo(DevicePosition());
}

void CSynthesizer::EndStretch(StretchPlayed played)
{
    m_stretchOpen = false;
    m_stretchPlayed = std::move(played);
    if (!m_stretchPlayed)
        return;
    if (!IsRunning() || !m_stretch.HasTone() || m_stretch.TakenBy(DevicePosition()))
        JudgeStretch();
}

bool CSynthesizer::JudgeStretchNow()
{
    if (!m_stretchPlayed)
        return false;
    JudgeStretch();
    return true;
}

void CSynthesizer::JudgeStretch()
{
    const bool damaged =
        IsRunning() &&
        m_stretch.Damaged([this](std::uint32_t from, std::uint32_t end) { return DamagedBetween(from, end); },
                          DevicePosition());
    m_stretch.Begin();
    // Taken out first: the owner may begin its next stretch from inside.
    const StretchPlayed played = std::move(m_stretchPlayed);
    m_stretchPlayed = nullptr;
    played(damaged);
}

void CSynthesizer::Start()
{
    if (!m_usable || m_running.load(std::memory_order_acquire))
        return;
    // Each stage shows its own message when it fails. A device opened before a failed Prime stays
    // open until Stop.
    if (!UseRate(RenderRateFor(m_pStream->NativeRate())))
        return;
    if (!m_pStream->QueryFormat())
        return;
    if (!m_pStream->Open(m_pOwner))
        return;
    if (!m_pStream->Prime())
        return;
    m_clipped.store(0, std::memory_order_relaxed);
    m_lateSteps.store(0, std::memory_order_relaxed);
    m_pWriteCursor->SetPosition(0);
    m_firstStep = true;
    m_writeFrame = 0;
    m_renderedFrom = 0;
    // The first block goes to the start of the ring: written here while Prime keeps the device
    // paused, it cannot meet the device's first callback reading the same frames.
    if (m_renderMode != ERenderMode::Manual)
        RenderStep();
    m_pStream->Restart();
    m_running.store(1, std::memory_order_release);
    if (m_renderMode == ERenderMode::Manual)
        return;
    m_renderThreadId.store(0, std::memory_order_relaxed);
    try {
        m_renderThread = std::thread(&CSynthesizer::RenderThreadProc, this);
    } catch (const std::exception&) {
        m_running.store(0, std::memory_order_release);
        m_pStream->Reset();
        m_pStream->Close();
        ShowMessage(Translate(OUT_OF_MEMORY_TEXT));
        return;
    }
    // Queued from here, not by the render thread itself, which never takes a lock; the request
    // itself is made on a thread of its own, so that a slow bus never holds up this one. The
    // thread stores its id at once; a thread that has not started within the wait keeps the
    // normal scheduling.
    for (int waited = 0; waited < RENDER_THREAD_ID_WAIT_MS; ++waited) {
        if (const int tid = m_renderThreadId.load(std::memory_order_acquire)) {
            RequestThreadRealtime(static_cast<pid_t>(tid), RENDER_RT_PRIORITY);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

int CSynthesizer::Stop()
{
    m_stretchOpen = false;
    m_stretchPlayed = nullptr;
    m_running.store(0, std::memory_order_release);
    // The render thread reads the stream, the cursors and the buffers: it must be gone before
    // the device closes and before anything is freed. It notices within one period and one step.
    if (m_renderThread.joinable())
        m_renderThread.join();
    m_clipped.store(0, std::memory_order_relaxed);
    if (!m_usable)
        return 1;
    m_pStream->Reset();
    // Closing also stops the device's notification thread: the owner hears nothing after this.
    return m_pStream->Close();
}

void CSynthesizer::OnBufferDone(WaveHeader* header)
{
    if (!m_usable || !m_running.load(std::memory_order_acquire))
        return;
    m_pStream->Requeue(header);
    if (m_stretchPlayed && m_stretch.TakenBy(DevicePosition()))
        JudgeStretch();
}

void CSynthesizer::RenderThreadProc()
{
    pthread_setname_np(pthread_self(), "tv-render");
    const pid_t tid = CurrentThreadId();
    m_renderThreadId.store(static_cast<int>(tid), std::memory_order_release);
    // Above normal where the system allows it (and real-time scheduling was refused); otherwise
    // the thread simply keeps its priority.
    errno = 0;
    const int nice = getpriority(PRIO_PROCESS, static_cast<id_t>(tid));
    if (errno == 0)
        setpriority(PRIO_PROCESS, static_cast<id_t>(tid), nice - 2);

    const auto period = std::chrono::milliseconds(m_periodMs > 0 ? m_periodMs : 1);
    while (m_running.load(std::memory_order_acquire)) {
        RenderStep();
        std::this_thread::sleep_for(period);
    }
}

SoundDamage CSynthesizer::Damage() const
{
    SoundDamage damage = m_usable ? m_pStream->Damage() : SoundDamage{};
    damage.lateSteps = m_lateSteps.load(std::memory_order_relaxed);
    return damage;
}

void CSynthesizer::RenderStep()
{
    if (!m_usable)
        return;
    for (CToneVoice* voice : m_voices)
        voice->ApplyPendingGate();

    const unsigned position = m_pStream->GetPosition();
    int n = 0;
    const bool first = m_firstStep;
    if (first) {
        // The first block goes to the start of the ring and the write cursor to one lead ahead;
        // the ring's silence from Prime stands for the rest of that lead.
        m_pTargetCursor->SetPosition(position + static_cast<unsigned>(m_leadSamples));
        n = m_pWriteCursor->DistanceTo(*m_pTargetCursor);
        m_writeFrame = position + static_cast<unsigned>(m_leadSamples);
        m_renderedFrom = 0;
        m_firstStep = false;
    } else {
        bool late = false;
        // A device that has taken, or may be taking in a callback now, frames this pass never
        // rendered: go on one callback ahead of it instead of writing where it reads. What it
        // took meanwhile played as zeros (the device counts them).
        if (static_cast<int>(m_writeFrame - position) < m_callbackFrames) {
            m_writeFrame = position + static_cast<unsigned>(m_callbackFrames);
            m_renderedFrom = m_writeFrame;
            late = true;
        }
        // Distances between absolute frames: a ring offset cannot tell "due now" from "due one
        // ring later".
        n = static_cast<int>(position + static_cast<unsigned>(m_leadSamples) - m_writeFrame);
        late = late || n > m_maxBlockSamples;
        if (late)
            m_lateSteps.fetch_add(1, std::memory_order_relaxed);
        m_pWriteCursor->SetPosition(m_writeFrame);
    }
    if (n > m_maxBlockSamples)
        n = m_maxBlockSamples;
    if (n > 0) {
        for (int i = 0; i < m_maxBlockSamples; ++i)
            m_mixBuffer[i] = 0.0f;
        for (CToneVoice* voice : m_voices) {
            // A silent voice is skipped, and its phase stands still.
            if (voice->m_gate.load(std::memory_order_relaxed) || voice->IsDecaying())
                voice->Render(m_mixBuffer, n, RENDER_ADD);
        }
        const double gain = m_masterGain.load(std::memory_order_relaxed);
        int clipped = 0;
        for (int i = 0; i < n; ++i) {
            float sample = static_cast<float>(gain * m_mixBuffer[i]);
            if (sample > 1.0f) {
                sample = 1.0f;
                clipped = 1;
            }
            if (sample < -1.0f || std::isnan(sample)) {
                sample = -1.0f;
                clipped = 1;
            }
            m_mixBuffer[i] = sample;
            // Full scale is ±32767: -32768 never occurs.
            m_pcmBuffer[i] = static_cast<std::int16_t>(static_cast<int>(sample * 32767.0));
        }
        m_clipped.store(clipped, std::memory_order_relaxed);
        m_pStream->Write(m_pWriteCursor->m_bufferIndex, m_pWriteCursor->m_sampleOffset, m_pcmBuffer, n);
        // Later steps continue where this block ends: a jump would leave a stretch ahead of the
        // device that holds an earlier pass.
        if (!first)
            m_writeFrame += static_cast<unsigned>(n);
    }
    // Frames behind the device are played already; keeping the start near it keeps the
    // wrap-safe comparison valid however long the engine runs.
    if (static_cast<int>(position - m_renderedFrom) > 0 && !first)
        m_renderedFrom = position;
    m_pStream->Publish(m_renderedFrom, m_writeFrame);
    m_pWriteCursor->SetPosition(m_writeFrame);
    m_pStream->PostClip(m_clipped.load(std::memory_order_relaxed));
}
