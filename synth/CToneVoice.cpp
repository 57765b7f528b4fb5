// Threads: see CToneVoice.h. Render and SetGate run on the thread that renders the voice; PostGate
// on any one other thread (the GUI thread); ApplyPendingGate on the rendering thread.
#include "synth/CToneVoice.h"

#include <cmath>

namespace {

// The longest envelope a frequency can ask for. It keeps the envelope counter (length plus one
// block at most) inside an int for frequencies near 0 Hz.
constexpr double MAX_ENVELOPE_LENGTH = 1 << 30;

// Pending gate word: what the changes posted since the last ApplyPendingGate amount to. Applying
// them one by one would give: the last gate value and envelope length; an attack from phase 0 if
// any of them started the note; a decay if a release came after a start, or the voice had sounded
// before the first release.
constexpr std::uint64_t PENDING_ANY = 1u << 0;
constexpr std::uint64_t PENDING_ON = 1u << 1;
constexpr std::uint64_t PENDING_OFF = 1u << 2;
constexpr std::uint64_t PENDING_OFF_AFTER_ON = 1u << 3;
constexpr std::uint64_t PENDING_LAST_ON = 1u << 4;
constexpr int PENDING_LENGTH_SHIFT = 32;

struct Sine {
    static double Value(double x) { return std::sin(x); }
};
struct Triangle {
    static double Value(double x) { return WaveTriangle(x); }
};
struct Sawtooth {
    static double Value(double x) { return WaveSawtooth(x); }
};
struct Square {
    static double Value(double x) { return WaveSquare(x); }
};
struct Silence {
    static double Value(double) { return 0.0; }
};

} // namespace

double WaveSine(double x)
{
    return std::sin(x);
}

double WaveTriangle(double x)
{
    const double a = std::fmod(x, TWO_PI);
    if (a < HALF_PI)
        return (a / TWO_PI) * 4;
    if (a < THREE_HALF_PI)
        return 1 - ((a - HALF_PI) / TWO_PI) * 4;
    return ((a - THREE_HALF_PI) / TWO_PI) * 4 - 1;
}

double WaveSawtooth(double x)
{
    const double a = std::fmod(x, TWO_PI);
    if (a < PI)
        return -(a / PI);
    return 1 - (a - PI) / PI;
}

double WaveSquare(double x)
{
    const double a = std::fmod(x, TWO_PI);
    return a < PI ? 1.0 : -1.0;
}

double WaveformValue(int waveform, double x)
{
    switch (waveform) {
    case WAVEFORM_SINE:
        return WaveSine(x);
    case WAVEFORM_TRIANGLE:
        return WaveTriangle(x);
    case WAVEFORM_SAWTOOTH:
        return WaveSawtooth(x);
    case WAVEFORM_SQUARE:
        return WaveSquare(x);
    default:
        return 0.0;
    }
}

CToneVoice::CToneVoice(int sampleRate) : m_sampleRate(sampleRate)
{
    const double length = sampleRate * 0.02;
    m_envelopeLength = length >= 1.0 ? static_cast<int>(length) : 1;
    m_envelopeRate = ENVELOPE_SPAN / m_envelopeLength;
}

CToneVoice::~CToneVoice() = default;

void CToneVoice::SetSampleRate(int sampleRate)
{
    m_sampleRate = sampleRate;
}

int CToneVoice::EnvelopeLengthFor(double frequency, int sampleRate)
{
    // A voice without a frequency fades over one second.
    if (frequency == 0.0)
        return sampleRate >= 1 ? sampleRate : 1;
    const double length = ((std::log(20000.0 / frequency) / std::log(2.0) + 1.0) * sampleRate) * 0.02;
    // From about 39969 Hz the formula gives 0 or less (and NaN for a negative frequency): an
    // envelope of one sample keeps the rate finite.
    if (!(length >= 1.0))
        return 1;
    if (length >= MAX_ENVELOPE_LENGTH)
        return static_cast<int>(MAX_ENVELOPE_LENGTH);
    return static_cast<int>(length);
}

void CToneVoice::SetGate(int on)
{
    ApplyGate(on, EnvelopeLengthFor(m_frequency.load(std::memory_order_relaxed), m_sampleRate));
}

void CToneVoice::ApplyGate(int on, int envelopeLength)
{
    m_gate.store(on, std::memory_order_relaxed);
    m_envelopeCounter = 0;
    m_envelopeLength = envelopeLength;
    m_envelopeRate = ENVELOPE_SPAN / m_envelopeLength;
    if (on != 0) {
        m_phase = 0.0;
        m_attack = 1;
        m_sounded = 1;
    } else if (m_sounded) {
        m_decay = 1;
    }
    // A voice released before it ever sounded stays silent: a decay from full level would be heard
    // as a tone at whatever frequency the voice has when the engine starts.
}

void CToneVoice::PostGate(int on)
{
    const std::uint64_t length = static_cast<std::uint32_t>(
        EnvelopeLengthFor(m_frequency.load(std::memory_order_relaxed), m_sampleRate));
    std::uint64_t old = m_pendingGate.load(std::memory_order_relaxed);
    std::uint64_t merged;
    do {
        merged = PENDING_ANY | (old & (PENDING_ON | PENDING_OFF | PENDING_OFF_AFTER_ON)) |
                 (length << PENDING_LENGTH_SHIFT);
        if (on != 0)
            merged |= PENDING_ON | PENDING_LAST_ON;
        else
            merged |= PENDING_OFF | ((old & PENDING_ON) ? PENDING_OFF_AFTER_ON : 0);
        // Release: the frequency and amplitude set before this call reach the renderer with it.
    } while (!m_pendingGate.compare_exchange_weak(old, merged, std::memory_order_release,
                                                  std::memory_order_relaxed));
}

void CToneVoice::ApplyPendingGate()
{
    const std::uint64_t pending = m_pendingGate.exchange(0, std::memory_order_acquire);
    if (!(pending & PENDING_ANY))
        return;
    const bool decay = ((pending & PENDING_OFF) && m_sounded) || (pending & PENDING_OFF_AFTER_ON);
    const int length = static_cast<int>(pending >> PENDING_LENGTH_SHIFT);
    m_gate.store((pending & PENDING_LAST_ON) ? 1 : 0, std::memory_order_relaxed);
    m_envelopeCounter = 0;
    m_envelopeLength = length;
    m_envelopeRate = ENVELOPE_SPAN / m_envelopeLength;
    if (pending & PENDING_ON) {
        m_phase = 0.0;
        m_attack = 1;
        m_sounded = 1;
    }
    if (decay)
        m_decay = 1;
}

namespace {

// The per-sample loop, one instance per waveform so that the choice is made once per block.
template <class Wave>
double RenderLoop(float* buffer, int count, bool add, double phase, double increment, double amplitude,
                  int gate, int& attack, int& decay, int envelopeCounter, int envelopeLength,
                  double envelopeRate)
{
    double t = 0.0;
    for (int i = 0; i < count; ++i) {
        double v = Wave::Value(t + phase) * amplitude;
        const int h = envelopeCounter + i;
        if (attack) {
            if (h < envelopeLength)
                v = v * std::exp(envelopeRate * (h - envelopeLength));
            else
                attack = 0;
        }
        if (decay) {
            if (h >= envelopeLength)
                decay = 0;
            v = v * std::exp(-envelopeRate * h);
        } else if (gate == 0) {
            v = 0.0;
        }
        if (add)
            buffer[i] = static_cast<float>(buffer[i] + v);
        else
            buffer[i] = static_cast<float>(v);
        t = t + increment;
    }
    return t;
}

} // namespace

void CToneVoice::Render(float* buffer, int count, int mode)
{
    if (count < 0)
        count = 0;
    const double frequency = m_frequency.load(std::memory_order_relaxed);
    const double amplitude = m_amplitude.load(std::memory_order_relaxed);
    const int waveform = m_waveform.load(std::memory_order_relaxed);
    const int gate = m_gate.load(std::memory_order_relaxed);
    // Rate divided by frequency first: a frequency of 0 gives an increment of 0.
    const double increment = TWO_PI / (m_sampleRate / frequency);
    const bool add = mode == RENDER_ADD;
    if (count > 0 && gate != 0)
        m_sounded = 1;

    // The waveform is chosen once per block: each has its own instance of the loop.
    const auto render = [&](auto wave) {
        return RenderLoop<decltype(wave)>(buffer, count, add, m_phase, increment, amplitude, gate, m_attack,
                                          m_decay, m_envelopeCounter, m_envelopeLength, m_envelopeRate);
    };
    double t = 0.0;
    switch (waveform) {
    case WAVEFORM_SINE:
        t = render(Sine{});
        break;
    case WAVEFORM_TRIANGLE:
        t = render(Triangle{});
        break;
    case WAVEFORM_SAWTOOTH:
        t = render(Sawtooth{});
        break;
    case WAVEFORM_SQUARE:
        t = render(Square{});
        break;
    default:
        t = render(Silence{});
        break;
    }
    m_phase = std::fmod(t + m_phase, TWO_PI);
    if (m_attack || m_decay)
        m_envelopeCounter += count;
}
