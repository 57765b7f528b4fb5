#include "tests/diagnoses/SinkRecorder.h"

#include "tests/support/WavFile.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <random>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

int SinkRate()
{
    static const int rate = [] {
        const char* value = std::getenv("TONVALE_TEST_RATE");
        const int parsed = value != nullptr ? std::atoi(value) : 0;
        return parsed > 0 ? parsed : 44100;
    }();
    return rate;
}

namespace {
int Window() // 10 ms
{
    return SinkRate() / 100;
}
} // namespace

CSinkRecorder::CSinkRecorder()
{
    const char* sink = std::getenv("TONVALE_TEST_SINK");
    if (sink == nullptr || *sink == '\0') {
        m_error = "TONVALE_TEST_SINK is not set: run the test through tests/support/private-desktop.sh";
        return;
    }
    std::random_device rd;
    m_file = std::filesystem::temp_directory_path() / ("tonvale-sink-" + std::to_string(rd()) + ".raw");

    const std::string device = std::string(sink) + ".monitor";
    const std::string file = m_file.string();
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    // Stereo at the sink's own rate, as the sink holds it: a mono recording would be mixed down (and
    // louder), another rate resampled.
    std::vector<std::string> args = {"parec",
                                     "-d",
                                     device,
                                     "--raw",
                                     "--format=s16le",
                                     "--rate=" + std::to_string(SinkRate()),
                                     "--channels=" + std::to_string(SINK_CHANNELS),
                                     "--latency-msec=10"};
    std::vector<char*> argv;
    for (std::string& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = -1;
    const int rc = posix_spawnp(&pid, "parec", &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        m_error = "cannot start parec";
        return;
    }
    m_pid = pid;
    // The monitor delivers silence continuously once the stream runs.
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (std::chrono::steady_clock::now() < end) {
        if (Samples() > SinkRate() / 20) {
            m_ok = true;
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    m_error = "parec delivered nothing from " + device;
}

CSinkRecorder::~CSinkRecorder()
{
    if (m_pid > 0) {
        kill(m_pid, SIGINT);
        int status = 0;
        waitpid(m_pid, &status, 0);
    }
    std::error_code ignored;
    if (!m_file.empty())
        std::filesystem::remove(m_file, ignored);
}

std::int64_t CSinkRecorder::Samples() const
{
    struct stat st {};
    if (stat(m_file.c_str(), &st) != 0)
        return 0;
    return static_cast<std::int64_t>(st.st_size) / (2 * SINK_CHANNELS);
}

std::vector<float> CSinkRecorder::Read(std::int64_t from, std::int64_t to) const
{
    std::vector<float> samples;
    if (to <= from)
        return samples;
    std::ifstream in(m_file, std::ios::binary);
    in.seekg(from * 2 * SINK_CHANNELS);
    std::vector<std::int16_t> raw(static_cast<size_t>(to - from) * SINK_CHANNELS);
    in.read(reinterpret_cast<char*>(raw.data()), static_cast<std::streamsize>(raw.size() * 2));
    raw.resize(static_cast<size_t>(in.gcount() / 2));
    samples.reserve(raw.size() / SINK_CHANNELS);
    // The program plays the same samples on both channels: the left one is the signal.
    for (size_t i = 0; i + SINK_CHANNELS <= raw.size(); i += SINK_CHANNELS)
        samples.push_back(static_cast<float>(raw[i]) / 32768.0f);
    return samples;
}

void CSinkRecorder::SaveWav(const std::filesystem::path& path, std::int64_t from, std::int64_t to) const
{
    std::vector<std::int16_t> pcm;
    for (float s : Read(from, to))
        pcm.push_back(static_cast<std::int16_t>(std::lround(s * 32767.0f)));
    WriteWav16(path, pcm, SinkRate());
}

std::vector<double> LevelsAt(const std::vector<float>& samples, double hz)
{
    const int length = std::max(Window(), static_cast<int>(std::ceil(4.0 * SinkRate() / hz)));
    const double coefficient = 2.0 * std::cos(2.0 * M_PI * hz / SinkRate());
    std::vector<double> levels;
    for (size_t start = 0; start + Window() <= samples.size(); start += Window()) {
        // Centre the (possibly longer) window on this 10 ms slice.
        long first = static_cast<long>(start) + Window() / 2 - length / 2;
        first = std::max(0L, std::min(first, static_cast<long>(samples.size()) - length));
        const long n = std::min<long>(length, static_cast<long>(samples.size()) - first);
        double s1 = 0.0, s2 = 0.0;
        for (long i = 0; i < n; ++i) {
            const double s0 = samples[static_cast<size_t>(first + i)] + coefficient * s1 - s2;
            s2 = s1;
            s1 = s0;
        }
        const double power = s1 * s1 + s2 * s2 - coefficient * s1 * s2;
        levels.push_back(2.0 * std::sqrt(std::max(0.0, power)) / static_cast<double>(n));
    }
    return levels;
}

std::vector<double> PeakLevels(const std::vector<float>& samples)
{
    std::vector<double> levels;
    for (size_t start = 0; start + Window() <= samples.size(); start += Window()) {
        double peak = 0.0;
        for (int i = 0; i < Window(); ++i)
            peak = std::max(peak, std::fabs(static_cast<double>(samples[start + static_cast<size_t>(i)])));
        levels.push_back(peak);
    }
    return levels;
}

std::vector<Burst> FindBursts(const std::vector<double>& levels, double threshold, int gapWindows,
                              int minWindows)
{
    std::vector<Burst> bursts;
    int i = 0;
    const int n = static_cast<int>(levels.size());
    while (i < n) {
        if (levels[static_cast<size_t>(i)] <= threshold) {
            ++i;
            continue;
        }
        Burst b{i, i + 1};
        int j = i + 1;
        int quiet = 0;
        while (j < n && quiet <= gapWindows) {
            if (levels[static_cast<size_t>(j)] > threshold) {
                b.endWindow = j + 1;
                quiet = 0;
            } else {
                ++quiet;
            }
            ++j;
        }
        if (b.endWindow - b.firstWindow >= minWindows)
            bursts.push_back(b);
        i = b.endWindow;
    }
    return bursts;
}

double MedianLevel(const std::vector<double>& levels, const Burst& burst)
{
    const int first = std::min(burst.firstWindow + 2, burst.endWindow - 1);
    const int end = std::max(first + 1, burst.endWindow - 2);
    if (first < 0 || end > static_cast<int>(levels.size()))
        return 0.0;
    std::vector<double> inner(levels.begin() + first, levels.begin() + end);
    std::nth_element(inner.begin(), inner.begin() + inner.size() / 2, inner.end());
    return inner[inner.size() / 2];
}

double MeasureFrequency(const std::vector<float>& recorded, const Burst& burst)
{
    const size_t burstFirst = static_cast<size_t>(burst.firstWindow) * Window();
    const size_t burstEnd = std::min(recorded.size(), static_cast<size_t>(burst.endWindow) * Window());
    // When the sound server runs dry it inserts silence and then goes on where the stream was: a
    // run of exact zeros, which a sine never holds for long. Splicing the runs out gives back the
    // tone as it was played.
    constexpr size_t INSERTED_SILENCE = 8;
    std::vector<float> samples;
    samples.reserve(burstEnd - burstFirst);
    for (size_t i = burstFirst; i < burstEnd;) {
        size_t j = i;
        while (j < burstEnd && recorded[j] == 0.0f)
            ++j;
        if (j - i >= INSERTED_SILENCE) {
            i = j;
            continue;
        }
        const size_t keepEnd = std::max(j, i + 1);
        for (; i < keepEnd; ++i)
            samples.push_back(recorded[i]);
    }

    // Blocks longer than two periods of the lowest test tone (55 Hz), so that each block's peak is
    // the envelope there.
    constexpr size_t BLOCK = 2048;
    std::vector<float> blockPeaks;
    float peak = 0.0f;
    for (size_t b = 0; b < samples.size(); b += BLOCK) {
        float p = 0.0f;
        for (size_t i = b; i < std::min(samples.size(), b + BLOCK); ++i)
            p = std::max(p, std::fabs(samples[i]));
        blockPeaks.push_back(p);
        peak = std::max(peak, p);
    }
    // Count only where the tone is at least half its peak: from the end of the attack to the
    // start of the decay, every crossing is the tone's own.
    size_t loudFirst = blockPeaks.size(), loudLast = 0;
    for (size_t k = 0; k < blockPeaks.size(); ++k) {
        if (blockPeaks[k] >= 0.5f * peak) {
            loudFirst = std::min(loudFirst, k);
            loudLast = k;
        }
    }
    if (loudFirst > loudLast)
        return 0.0;
    const size_t from = loudFirst * BLOCK;
    const size_t to = std::min(samples.size(), (loudLast + 1) * BLOCK);
    // One estimate per two blocks (at least four periods of 55 Hz), and their median: a glitch
    // spoils one estimate, not the result.
    std::vector<double> estimates;
    for (size_t chunk = from; chunk + BLOCK < to; chunk += 2 * BLOCK) {
        const size_t chunkEnd = std::min(to, chunk + 2 * BLOCK);
        double firstCrossing = -1.0, lastCrossing = -1.0;
        int crossings = 0;
        for (size_t i = chunk + 1; i < chunkEnd; ++i) {
            const float a = samples[i - 1], b = samples[i];
            if (a < 0.0f && b >= 0.0f) {
                const double t = static_cast<double>(i - 1) + a / (a - b);
                if (firstCrossing < 0.0)
                    firstCrossing = t;
                lastCrossing = t;
                ++crossings;
            }
        }
        if (crossings >= 3 && lastCrossing > firstCrossing)
            estimates.push_back((crossings - 1) * SinkRate() / (lastCrossing - firstCrossing));
    }
    if (estimates.empty())
        return 0.0;
    std::sort(estimates.begin(), estimates.end());
    return estimates[estimates.size() / 2];
}
