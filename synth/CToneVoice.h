#pragma once
// One oscillator voice: a periodic waveform with an exponential attack and decay, rendered in blocks
// of 32-bit float samples with its phase carried from block to block. Also the angle constants the
// waveform functions share.
//
// Threads. A voice is used by one thread at a time, except for what CSynthesizer shares while its
// render thread runs:
//   - m_frequency, m_amplitude, m_waveform: any thread writes, the render thread reads (atomics,
//     relaxed: the latest value wins, each one stands alone);
//   - PostGate (GUI thread) hands a gate change to ApplyPendingGate (render thread) through one
//     atomic word, so a change never lands in the middle of a block;
//   - m_gate is atomic so that another thread may look at it; it is written where the gate applies.
// Everything else (phase, envelope counter, attack and decay flags) belongs to the thread that
// renders. SetGate and Render are for that thread, or for code that owns the voice outright.
#include "synth/CentsBetween.h"

#include <atomic>
#include <cstdint>

// The double nearest π, and the angles formed from it once.
inline constexpr double PI = 3.141592653589793;
inline constexpr double TWO_PI = PI + PI;
inline constexpr double HALF_PI = PI * 0.5;
inline constexpr double THREE_HALF_PI = PI * 1.5;

// Waveforms (m_waveform).
inline constexpr int WAVEFORM_SINE = 0;
inline constexpr int WAVEFORM_TRIANGLE = 1;
inline constexpr int WAVEFORM_SAWTOOTH = 2;
inline constexpr int WAVEFORM_SQUARE = 3;

// Render modes.
inline constexpr int RENDER_REPLACE = 0;
inline constexpr int RENDER_ADD = 1;

// ln(10^6): an envelope spans a factor of one million (120 dB).
inline constexpr double ENVELOPE_SPAN = 13.815510558;

// Waveform values for an angle x ≥ 0 in radians. The sine takes x as it is; the others reduce it
// modulo TWO_PI first. All compare strictly ("less than"), so the triangle at π/2 is already on its
// falling branch and the sawtooth at π is +1.
double WaveSine(double x);
double WaveTriangle(double x);
double WaveSawtooth(double x);
double WaveSquare(double x);
// The waveform numbered `waveform`; numbers other than 0 to 3 give silence (0.0).
double WaveformValue(int waveform, double x);

class CToneVoice {
public:
    explicit CToneVoice(int sampleRate);
    virtual ~CToneVoice();
    CToneVoice(const CToneVoice&) = delete;
    CToneVoice& operator=(const CToneVoice&) = delete;

    // on = 1 starts a note with an attack from phase 0; on = 0 releases it with a decay. The envelope
    // length follows the frequency at this moment (never below one sample). A release of a voice
    // that has never sounded leaves it silent instead of starting a decay from full level.
    void SetGate(int on);

    // Synthesises `count` samples into `buffer`, storing (RENDER_REPLACE) or adding (RENDER_ADD).
    void Render(float* buffer, int count, int mode);

    // Thread-safe form of SetGate for a voice that another thread renders: the change is applied,
    // in order with any other posted since, by the next ApplyPendingGate. The envelope length is
    // taken from the frequency at the time of the call, as SetGate does.
    void PostGate(int on);
    // Applies the gate changes posted since the last call. Called by the rendering thread before it
    // renders the voice.
    void ApplyPendingGate();

    // The envelope length SetGate computes for `frequency` at `sampleRate`, at least 1.
    static int EnvelopeLengthFor(double frequency, int sampleRate);

    // Renders at `sampleRate` from now on: phase increments and later envelopes follow it. Only
    // while nobody renders the voice (its engine is stopped).
    void SetSampleRate(int sampleRate);

    // Read-only views for the owner and tests.
    int SampleRate() const { return m_sampleRate; }
    double Phase() const { return m_phase; }
    int EnvelopeLength() const { return m_envelopeLength; }
    int EnvelopeCounter() const { return m_envelopeCounter; }
    double EnvelopeRate() const { return m_envelopeRate; }
    int IsAttacking() const { return m_attack; }
    int IsDecaying() const { return m_decay; }

private:
    int m_sampleRate;

public:
    // Set directly by the owner; read once per block by Render.
    std::atomic<double> m_frequency{0.0};
    std::atomic<double> m_amplitude{0.0};
    std::atomic<int> m_waveform{WAVEFORM_SINE};

private:
    double m_phase = 0.0;
    int m_envelopeLength;
    int m_envelopeCounter = 0;
    double m_envelopeRate;

public:
    std::atomic<int> m_gate{1};

private:
    int m_attack = 0;
    int m_decay = 0;
    // 1 once the voice has been started or has rendered while its gate was open.
    int m_sounded = 0;
    // Gate changes posted by PostGate, merged into one word (see CToneVoice.cpp).
    std::atomic<std::uint64_t> m_pendingGate{0};

    void ApplyGate(int on, int envelopeLength);
};
