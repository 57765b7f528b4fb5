#pragma once
// The sound engine each hearing-test dialog owns: a list of tone voices whose parameters the dialog
// sets, a render thread that mixes the sounding voices into 16-bit mono PCM, and a wave output
// stream whose ring of buffers stays queued on the device. The render thread writes each new block
// straight into the queued buffers, a fixed lead ahead of the frames the device has taken, so a
// parameter change is heard about a tenth of a second later.
//
// The rate is 44100 samples per second, or the device's own rate where that is higher (asked at
// every Start): a sound server running at 48 kHz would otherwise convert every tone, and its
// resampler's low-pass takes 20 kHz down by some 20 dB. Every duration (block, lead, callback
// period, the ring's length, the envelopes) is kept in time, so at 44100 every sample is as it
// always was. Never below 44100: a device at 16 kHz then filters the highest tones out rather
// than letting them fold down to audible ones.
//
// How a dialog uses it (GUI thread throughout):
//     m_pSynth = new CSynthesizer(this /* CWaveOutOwner */, WAVE_MAPPER, 32768, 4, 80, 10);
//     m_pSynth->AddVoice();
//     m_pSynth->SetWaveform(0, WAVEFORM_SINE);
//     m_pSynth->SetAmplitude(0, level);
//     m_pSynth->SetGate(0, 0);
//     m_pSynth->m_masterGain = gain;          // atomic: a plain assignment is a whole store
//     m_pSynth->Start();
//     ... SetFrequency(0, hz); SetGate(0, 1); wait; SetGate(0, 0); ...
//     m_pSynth->Stop();
//     delete m_pSynth;
// The owner's PostBufferDone is called on the engine's notification thread; the owner hands the
// header to its GUI thread (a dialog queues a wxWidgets event) and there calls OnBufferDone(header).
// PostClip arrives the same way and needs no action. No notice is posted once Stop has returned.
//
// A question's sound (GUI thread, while running):
//     m_pSynth->BeginStretch();
//     ... its tones (SetGate) and silent slots ...
//     m_pSynth->EndStretch([](bool damaged) { ... });   // called once the device has taken it all
// The engine notes where each gate falls on the device's count and how long its decay lasts, and
// judges the stretch as the ring's buffers come back (OnBufferDone): the owner learns within a
// buffer's time of the last frame whether the listener heard it whole.
//
// Threads:
//   - GUI thread: every public operation (writing m_masterGain included).
//   - Render thread (started by Start, joined by Stop): RenderStep every periodMs. It allocates
//     nothing, takes no lock and never waits for the GUI thread.
//   - Notification thread (the device's): the owner's PostBufferDone and PostClip.
//   - The device's consumer (PortAudio's callback): copies queued samples; see audio/WaveDevice.h.
#include "audio/CRingCursor.h"
#include "audio/CWaveOutOwner.h"
#include "audio/CWaveOutStream.h"
#include "audio/WaveDevice.h"
#include "synth/CPlayedStretch.h"
#include "synth/CToneVoice.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

class CSynthesizer {
public:
    // Whether Start runs a render thread (the program) or the caller steps the engine itself with
    // RenderStep (tests that need exact timing).
    enum class ERenderMode { Thread, Manual };

    // Plays through the device CreateWaveDevice() gives: PortAudio for WAVE_MAPPER, unless a test
    // installed another factory with SetWaveDeviceFactory.
    CSynthesizer(CWaveOutOwner* owner, int deviceId, int bufferBytes, int bufferCount, int leadMs,
                 int periodMs);
    // Plays through `device` (for instance a CVirtualWaveDevice), opened as WAVE_MAPPER.
    CSynthesizer(CWaveOutOwner* owner, std::shared_ptr<CWaveDevice> device, int bufferBytes, int bufferCount,
                 int leadMs, int periodMs, ERenderMode renderMode = ERenderMode::Thread);
    // Stops the engine (joining its threads), then frees the voices and the ring.
    virtual ~CSynthesizer();
    CSynthesizer(const CSynthesizer&) = delete;
    CSynthesizer& operator=(const CSynthesizer&) = delete;

    // `bufferBytes` is each ring buffer's size at 44100 samples per second; at another rate the
    // buffers hold the same time.

    // Adds a voice (sine, amplitude 0, frequency 0) and returns its index, the previous voice count;
    // -1 when it could not be added (out of memory, told with OUT_OF_MEMORY_TEXT; or while running).
    int AddVoice();
    // Deletes a voice; later voices move down one index. Ignored while running.
    void RemoveVoice(int index);
    void RemoveAllVoices();

    // Per-voice settings; an index outside 0 … voice count − 1 is ignored. They take effect at the
    // next render step.
    void SetFrequency(int index, double hz);
    void SetAmplitude(int index, double amplitude);
    void SetWaveform(int index, int waveform);
    // 1 starts a note (attack), 0 releases it (decay). Between BeginStretch and EndStretch, while
    // running, the change is noted in the stretch.
    void SetGate(int index, int on);

    // A stretch of sound to be judged whole, such as one question of a check: from here on, every
    // gate that opens or closes while running widens it, from the first onset to the end of the
    // last decay. Forgets a stretch still pending.
    void BeginStretch();
    // Widens the stretch to the device's position now: silent time after the last tone counts.
    void ExtendStretch();
    // Ends the stretch: `played(damaged)` is called on this thread once the device has taken all
    // of it, from OnBufferDone as the buffers come back, or from here at once when it already has
    // or there is nothing to judge (no tone while running: not damaged). `damaged`: a frame of it
    // was played as zeros or reported as an underflow. Stop drops a verdict still pending.
    // `played` may stop the engine or begin the next stretch, but not delete the engine.
    using StretchPlayed = std::function<void(bool damaged)>;
    void EndStretch(StretchPlayed played);
    // Judges the pending stretch now, on what the device has taken (for an owner that waits no
    // longer: a stalled device); false when none is pending.
    bool JudgeStretchNow();
    bool IsStretchPending() const { return static_cast<bool>(m_stretchPlayed); }

    // Asks the device its rate and renders at it from now on (see above), opens the device, queues
    // the ring and starts rendering. A failing stage shows its message and leaves the engine
    // stopped; a later Start tries again.
    void Start();
    // Ends rendering (joining the render thread), resets and closes the device (which stops the
    // notification thread). Returns 1, or 0 when closing failed.
    int Stop();
    // Queues a finished buffer again while running, and judges a pending stretch the device has
    // now taken; does nothing otherwise.
    void OnBufferDone(WaveHeader* header);
    // One mixing pass. The render thread's; in ERenderMode::Manual the caller's, while running.
    void RenderStep();

    // Gain applied to the mix, 1.0 at construction. Owners write it directly.
    std::atomic<double> m_masterGain{1.0};

    // Views for owners and tests.
    int IsRunning() const { return m_running.load(std::memory_order_acquire); }
    int IsClipped() const { return m_clipped.load(std::memory_order_relaxed); }
    // False when the constructor ran short of memory; such an engine refuses everything.
    bool IsUsable() const { return m_usable; }
    int VoiceCount() const { return static_cast<int>(m_voices.size()); }
    // Null for an index outside the list.
    const CToneVoice* Voice(int index) const;
    // The device's frame count (the position the render thread leads); 0 while stopped.
    unsigned DevicePosition() { return m_usable ? m_pStream->GetPosition() : 0; }
    // What went wrong with the sound of the current (or last) run; any thread.
    SoundDamage Damage() const;
    // Whether a zero-filled frame or a reported underflow fell in device frames [from, end) of
    // the current run.
    bool DamagedBetween(unsigned from, unsigned end) const
    {
        return m_usable && m_pStream->DamagedBetween(from, end);
    }
    // The rate of the current (or last) run: 44100 until a Start chose another.
    int SampleRate() const { return static_cast<int>(m_format.nSamplesPerSec); }
    int LeadSamples() const { return m_leadSamples; }
    int MaxBlockSamples() const { return m_maxBlockSamples; }
    const CRingCursor* WriteCursor() const { return m_pWriteCursor; }
    const CWaveOutStream* Stream() const { return m_pStream; }

private:
    void Construct(CWaveOutOwner* owner, std::shared_ptr<CWaveDevice> device, int bufferBytes,
                   int bufferCount, int leadMs, int periodMs);
    // Sets the rate and every count of samples that follows from it: the format, the block, the
    // lead, the callback period, the ring and the voices. GUI thread, while stopped. False (with
    // the message shown and the old rate kept) when the new buffers could not be allocated.
    bool UseRate(std::uint32_t rate);
    void SetTiming();
    void RenderThreadProc();
    CToneVoice* VoiceAt(int index) const;
    void JudgeStretch();

    CWaveOutStream* m_pStream = nullptr;
    CRingCursor* m_pWriteCursor = nullptr;
    CRingCursor* m_pTargetCursor = nullptr;
    std::vector<CToneVoice*> m_voices;
    float* m_mixBuffer = nullptr;
    std::int16_t* m_pcmBuffer = nullptr;
    int m_maxBlockSamples = 0;
    int m_blockCapacity = 0; // entries of the mix and PCM buffers
    int m_bufferBytes = 0;   // at 44100
    int m_bufferCount = 0;
    int m_periodMs = 0;
    int m_leadMs = 0;
    int m_leadSamples = 0;
    WaveFormat m_format;
    CWaveOutOwner* m_pOwner = nullptr;
    int m_deviceId = WAVE_MAPPER;
    std::atomic<int> m_running{0};
    std::atomic<int> m_clipped{0};
    std::atomic<std::uint64_t> m_lateSteps{0};

    // The render thread's own (set by Start before the thread exists). Absolute frames on the
    // device's count: the next block starts at m_writeFrame, and the ring holds this pass from
    // m_renderedFrom up to it.
    bool m_firstStep = true;
    unsigned m_writeFrame = 0;
    unsigned m_renderedFrom = 0;
    int m_callbackFrames = 0;

    // The stretch being noted (GUI thread): open between BeginStretch and EndStretch, then pending
    // until judged.
    CPlayedStretch m_stretch;
    bool m_stretchOpen = false;
    StretchPlayed m_stretchPlayed;

    ERenderMode m_renderMode = ERenderMode::Thread;
    bool m_usable = false;
    std::thread m_renderThread;
    // The render thread's kernel id, which it stores first thing, for Start to ask for real-time
    // scheduling on its behalf.
    std::atomic<int> m_renderThreadId{0};
};
