// Tones through the real sound path on a busy machine: plays a range-check-like sequence of
// 500 ms tones on a 1 s grid through PortAudio (the program's own engine and dialogs' timing),
// and analyses a recording of the sink afterwards. scripts/bench-tones.sh runs both under load.
//
//   tone_bench play TONES LOG         plays TONES tones (slots drawn tone or silence), writes LOG
//   tone_bench analyse WAV LOG [REF]  measures the recording against LOG; REF: the quiet run's
//                                     median tone length in ms (the run's own when absent)
// Needs PULSE_SERVER (and PortAudio's default device on the sound server).
#include "synth/CSynthesizer.h"
#include "tests/support/CQueueingOwner.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
constexpr int RATE = 44100;
constexpr double TONE_HZ = 1000.0;
constexpr int TONE_MS = 500;
constexpr int SLOT_MS = 1000;

// Waits until `until`, handing finished buffers back meanwhile, as the dialog's event loop does.
void PumpUntil(CQueueingOwner& owner, CSynthesizer& synth, Clock::time_point until)
{
    while (Clock::now() < until) {
        owner.DeliverBufferDone(synth);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

int Play(int tones, const char* logPath)
{
    std::ofstream log(logPath);
    CQueueingOwner owner;
    CSynthesizer synth(&owner, WAVE_MAPPER, 32768, 4, 80, 10);
    synth.AddVoice();
    synth.SetWaveform(0, WAVEFORM_SINE);
    synth.SetAmplitude(0, 0.5);
    synth.SetGate(0, 0);
    synth.Start();
    if (!synth.IsRunning())
        return 1;
    // A new stream loses its first milliseconds on the way to the sink: let it run first.
    const Clock::time_point start = Clock::now() + std::chrono::milliseconds(1500);
    PumpUntil(owner, synth, start);
    std::uint32_t seed = 12345;
    int played = 0;
    int judgedDamaged = 0;
    // The engine judges each tone as its buffers come back, as it does for the dialogs.
    auto judged = [&](int tone) {
        return [&, tone](bool damaged) {
            judgedDamaged += damaged;
            log << "judged " << tone << ' ' << damaged << '\n';
        };
    };
    for (int slot = 0; played < tones; ++slot) {
        const Clock::time_point slotStart = start + std::chrono::milliseconds(slot * SLOT_MS);
        PumpUntil(owner, synth, slotStart);
        // The previous tone is over by now (one lead, one decay and one buffer after its end);
        // a device that stalled is judged on what it took, as the dialogs' cap does.
        synth.JudgeStretchNow();
        seed = seed * 1103515245u + 12345u;
        // Slot 0 sounds; later slots sound with probability 5/8, so that silent slots (where a
        // phantom would show) lie between the tones.
        const bool tone = slot == 0 || ((seed >> 16) & 7) < 5;
        const double atMs = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
        if (!tone) {
            log << "silence " << slot << ' ' << atMs << '\n';
            continue;
        }
        synth.BeginStretch();
        synth.SetFrequency(0, TONE_HZ);
        synth.SetGate(0, 1);
        std::this_thread::sleep_for(std::chrono::milliseconds(TONE_MS)); // the dialogs block here
        synth.SetGate(0, 0);
        synth.EndStretch(judged(played));
        log << "tone " << slot << ' ' << atMs << '\n';
        ++played;
    }
    PumpUntil(owner, synth, Clock::now() + std::chrono::milliseconds(SLOT_MS));
    synth.JudgeStretchNow();
    const SoundDamage counts = synth.Damage();
    log << "engine unrendered " << counts.unrenderedFrames << " dry " << counts.dryFrames << " underflow "
        << counts.underflowCallbacks << " late " << counts.lateSteps << " judged_damaged " << judgedDamaged
        << '\n';
    synth.Stop();
    return 0;
}

// 16-bit mono samples of a WAV file (the first 'data' chunk), as floats in [-1, 1].
std::vector<float> ReadWav(const char* path)
{
    std::ifstream in(path, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<float> samples;
    std::size_t at = 12;
    while (at + 8 <= bytes.size()) {
        std::uint32_t size = 0;
        std::memcpy(&size, &bytes[at + 4], 4);
        if (std::memcmp(&bytes[at], "data", 4) == 0) {
            // parec leaves the size open while it records: take what is there.
            const std::size_t end = size == 0 || size == 0xFFFFFFFFu || at + 8 + size > bytes.size()
                                        ? bytes.size()
                                        : at + 8 + size;
            for (std::size_t i = at + 8; i + 1 < end; i += 2) {
                std::int16_t v = 0;
                std::memcpy(&v, &bytes[i], 2);
                samples.push_back(static_cast<float>(v) / 32768.0f);
            }
            break;
        }
        at += 8 + size + (size & 1);
    }
    return samples;
}

struct Segment {
    long from;
    long end; // samples
};

double Median(std::vector<double> v)
{
    if (v.empty())
        return 0.0;
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

int Analyse(const char* wavPath, const char* logPath, double referenceMs)
{
    const std::vector<float> samples = ReadWav(wavPath);
    // Windows of 2 ms: a tone at 1000 Hz fills each; a lost 10 ms block leaves several empty.
    constexpr int WINDOW = 88;
    constexpr double THRESHOLD = 0.01; // -40 dB against the tones' 0.5
    std::vector<Segment> segments;
    bool in = false;
    for (std::size_t w = 0; w * WINDOW < samples.size(); ++w) {
        float peak = 0.0f;
        for (std::size_t i = w * WINDOW; i < (w + 1) * WINDOW && i < samples.size(); ++i)
            peak = std::max(peak, std::fabs(samples[i]));
        const long at = static_cast<long>(w * WINDOW);
        if (peak >= THRESHOLD && !in)
            segments.push_back({at, at + WINDOW});
        if (peak >= THRESHOLD)
            segments.back().end = at + WINDOW;
        in = peak >= THRESHOLD;
    }

    std::ifstream log(logPath);
    std::vector<double> toneMs;
    std::vector<int> judged;
    std::string line, engine;
    while (std::getline(log, line)) {
        std::istringstream fields(line);
        std::string kind;
        fields >> kind;
        if (kind == "tone") {
            int slot = 0;
            double ms = 0;
            fields >> slot >> ms;
            toneMs.push_back(ms);
        } else if (kind == "judged") {
            int index = 0, damaged = 0;
            fields >> index >> damaged;
            judged.resize(std::max<std::size_t>(judged.size(), static_cast<std::size_t>(index) + 1));
            judged[static_cast<std::size_t>(index)] = damaged;
        } else if (kind == "engine") {
            engine = line;
        }
    }
    if (segments.empty() || toneMs.empty()) {
        std::printf("no tones found\n");
        return 1;
    }
    judged.resize(toneMs.size());

    // The recording's clock against the program's: the first tone's onset.
    const double origin = static_cast<double>(segments[0].from) - toneMs[0] * RATE / 1000.0;
    const auto expected = [&](std::size_t k) { return origin + toneMs[k] * RATE / 1000.0; };
    std::vector<int> owner(segments.size(), -1);
    std::vector<std::vector<std::size_t>> perTone(toneMs.size());
    for (std::size_t s = 0; s < segments.size(); ++s) {
        for (std::size_t k = 0; k < toneMs.size(); ++k) {
            // A tone's sound: from 100 ms before its expected onset to its decay's end.
            const double e = expected(k);
            if (segments[s].from >= e - 0.1 * RATE && segments[s].from < e + 0.75 * RATE) {
                owner[s] = static_cast<int>(k);
                perTone[k].push_back(s);
                break;
            }
        }
    }
    std::vector<double> lengths, onsets;
    for (std::size_t k = 0; k < toneMs.size(); ++k) {
        if (perTone[k].size() == 1) {
            const Segment& seg = segments[perTone[k][0]];
            lengths.push_back(static_cast<double>(seg.end - seg.from) * 1000.0 / RATE);
        }
    }
    const double reference = referenceMs > 0 ? referenceMs : Median(lengths);
    int whole = 0, holes = 0, missing = 0, undetected = 0, broken = 0, lengthOff = 0;
    double worstOff = 0.0;
    for (std::size_t k = 0; k < toneMs.size(); ++k) {
        bool good = false;
        if (perTone[k].empty()) {
            ++missing;
        } else {
            const Segment& first = segments[perTone[k][0]];
            const Segment& last = segments[perTone[k].back()];
            onsets.push_back((static_cast<double>(first.from) - expected(k)) * 1000.0 / RATE);
            holes += static_cast<int>(perTone[k].size()) - 1;
            const double ms = static_cast<double>(last.end - first.from) * 1000.0 / RATE;
            good = perTone[k].size() == 1 && std::fabs(ms - reference) <= 10.0;
            if (perTone[k].size() == 1 && !good) {
                ++lengthOff;
                worstOff = std::max(worstOff, std::fabs(ms - reference));
            }
        }
        whole += good;
        // A hole or a missing tone: sound was lost. (A tone in one piece whose length is off
        // has its gate moved by the playing thread's timing; the engine's counts tell whether
        // frames were lost at its edges.)
        const bool lost = perTone[k].size() != 1;
        broken += lost;
        if (lost && !judged[k])
            ++undetected;
        if (!good && std::getenv("TONE_BENCH_VERBOSE")) {
            std::printf("  tone %zu at %.0f ms:", k, toneMs[k]);
            for (std::size_t s : perTone[k])
                std::printf(" [%.1f, %.1f) ms",
                            (static_cast<double>(segments[s].from) - expected(k)) * 1000.0 / RATE,
                            (static_cast<double>(segments[s].end) - expected(k)) * 1000.0 / RATE);
            std::printf("%s\n", judged[k] ? " (judged damaged)" : "");
        }
    }
    int phantoms = 0;
    for (std::size_t s = 0; s < segments.size(); ++s)
        phantoms += owner[s] < 0;
    double mean = 0, var = 0;
    for (double o : onsets)
        mean += o / static_cast<double>(onsets.size());
    for (double o : onsets)
        var += (o - mean) * (o - mean) / static_cast<double>(onsets.size());
    int judgedCount = 0;
    for (int j : judged)
        judgedCount += j;
    std::printf("tones %zu whole %d (median length %.1f ms, reference %.1f)\n"
                "length_off %d (worst %.1f ms) broken %d (holes %d, missing %d) phantoms %d\n"
                "onset_jitter_ms %.2f judged_damaged %d broken_not_judged %d\n%s\n",
                toneMs.size(), whole, Median(lengths), reference, lengthOff, worstOff, broken, holes, missing,
                phantoms, std::sqrt(var), judgedCount, undetected, engine.c_str());
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc >= 4 && std::strcmp(argv[1], "play") == 0)
        return Play(std::atoi(argv[2]), argv[3]);
    if (argc >= 4 && std::strcmp(argv[1], "analyse") == 0)
        return Analyse(argv[2], argv[3], argc >= 5 ? std::atof(argv[4]) : 0.0);
    std::fprintf(stderr, "usage: tone_bench play TONES LOG | analyse WAV LOG [REFERENCE_MS]\n");
    return 2;
}
