// The engine through PortAudio into the null sink of the test's own sound server
// (tests/support/private-desktop.sh), recorded
// from the sink's monitor with parec and measured: frequency, envelope shapes, continuity, and the
// delay from the gate to the tone's onset. A failing recording is kept as a WAV file.
#include "audio/CQueuedWaveDevice.h"
#include "synth/CSynthesizer.h"
#include "tests/support/CapturingMessageSink.h"
#include "tests/support/WavFile.h"
#include "tests/synth/EngineTestSupport.h"

#include <gtest/gtest.h>

#include <sched.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

extern char** environ;

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

constexpr double RATE = 44100.0;

// Records the null sink's monitor as 16-bit stereo at 44100 Hz, as the sink holds it (a mono
// recording would be mixed down, and louder), keeps the left channel, and notes when each chunk
// arrived so that a sample's index can be turned into a time.
class CMonitorRecorder {
public:
    explicit CMonitorRecorder(const std::string& sink)
    {
        int fds[2];
        if (pipe(fds) != 0)
            return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
        posix_spawn_file_actions_addclose(&actions, fds[0]);
        const std::string device = "--device=" + sink + ".monitor";
        const char* argv[] = {"parec",          device.c_str(),     "--rate=44100", "--channels=2",
                              "--format=s16le", "--latency-msec=5", "--raw",        nullptr};
        if (posix_spawnp(&m_pid, "parec", &actions, nullptr, const_cast<char**>(argv), environ) != 0)
            m_pid = -1;
        posix_spawn_file_actions_destroy(&actions);
        close(fds[1]);
        m_fd = fds[0];
        m_reader = std::thread([this] { Read(); });
    }

    ~CMonitorRecorder() { Stop(); }

    void Stop()
    {
        if (m_pid > 0) {
            kill(m_pid, SIGINT);
            int status;
            waitpid(m_pid, &status, 0);
            m_pid = -1;
        }
        if (m_reader.joinable())
            m_reader.join();
        if (m_fd >= 0)
            close(m_fd);
        m_fd = -1;
    }

    bool Running() const { return m_pid > 0; }

    std::size_t Samples()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_samples.size();
    }

    std::vector<std::int16_t> TakeSamples()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_samples;
    }

    // When sample 0 was captured: the chunk that arrived soonest after its samples gives the
    // tightest bound.
    Clock::time_point StartTime()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_start;
    }

private:
    void Read()
    {
        char buffer[4096];
        std::size_t pending = 0;
        char odd = 0;
        for (;;) {
            const ssize_t n = read(m_fd, buffer, sizeof buffer);
            if (n <= 0)
                return;
            const Clock::time_point now = Clock::now();
            std::lock_guard<std::mutex> lock(m_mutex);
            for (ssize_t i = 0; i < n; ++i) {
                if (pending == 0) {
                    odd = buffer[i];
                    pending = 1;
                } else {
                    const auto low = static_cast<unsigned char>(odd);
                    const auto high = static_cast<unsigned char>(buffer[i]);
                    if (m_channel == 0)
                        m_samples.push_back(static_cast<std::int16_t>(low | (high << 8)));
                    m_channel ^= 1;
                    pending = 0;
                }
            }
            const auto start = now - std::chrono::duration_cast<Clock::duration>(
                                         std::chrono::duration<double>(m_samples.size() / RATE));
            if (m_samples.size() > 0 && (m_start == Clock::time_point() || start < m_start))
                m_start = start;
        }
    }

    pid_t m_pid = -1;
    int m_fd = -1;
    std::thread m_reader;
    std::mutex m_mutex;
    std::vector<std::int16_t> m_samples;
    int m_channel = 0; // of the next sample: 0 left, 1 right
    Clock::time_point m_start{};
};

// Peak magnitude over each window of `window` samples from `from`.
std::vector<double> Envelope(const std::vector<std::int16_t>& x, long from, long to, int window)
{
    std::vector<double> peaks;
    for (long start = from; start + window <= to; start += window) {
        int peak = 0;
        for (long i = start; i < start + window; ++i)
            peak = std::max(peak, std::abs(static_cast<int>(x[static_cast<std::size_t>(i)])));
        peaks.push_back(peak);
    }
    return peaks;
}

// Slope (per sample) of the natural log of the envelope between two levels given as fractions of
// `full`, by least squares over the windows whose peak lies between them.
double LogSlope(const std::vector<double>& peaks, int window, double full, double low, double high)
{
    double n = 0, sx = 0, sy = 0, sxx = 0, sxy = 0;
    for (std::size_t k = 0; k < peaks.size(); ++k) {
        if (peaks[k] < low * full || peaks[k] > high * full)
            continue;
        const double x = (k + 0.5) * window;
        const double y = std::log(peaks[k]);
        n += 1;
        sx += x;
        sy += y;
        sxx += x * x;
        sxy += x * y;
    }
    if (n < 3)
        return 0.0;
    return (n * sxy - sx * sy) / (n * sxx - sx * sx);
}

long MaxDifference(const std::vector<std::int16_t>& played, long at,
                   const std::vector<std::int16_t>& reference, long from, long to, long* where)
{
    long worst = 0;
    for (long i = from; i < to; ++i) {
        const long d =
            std::labs(played[static_cast<std::size_t>(at + i)] - reference[static_cast<std::size_t>(i)]);
        if (d > worst) {
            worst = d;
            if (where)
                *where = i;
        }
    }
    return worst;
}

class RealAudio : public ::testing::Test {
protected:
    void SetUp() override
    {
        const char* sink = std::getenv("TONVALE_TEST_SINK");
        ASSERT_TRUE(sink && std::getenv("PULSE_SERVER")) << "run through tests/support/private-desktop.sh";
        m_sink = sink;
    }
    std::string m_sink;
};

TEST_F(RealAudio, PortAudioDeviceAnswersFormatQueriesWithoutOpening)
{
    auto device = CreatePortAudioDevice();
    const WaveFormat pcm;
    EXPECT_EQ(MMSYSERR_NOERROR, device->QueryFormat(WAVE_MAPPER, pcm));
    WaveFormat float32 = pcm;
    float32.wBitsPerSample = 32;
    float32.nBlockAlign = 4;
    EXPECT_EQ(WAVERR_BADFORMAT, device->QueryFormat(WAVE_MAPPER, float32));
    EXPECT_EQ(MMSYSERR_BADDEVICEID, device->QueryFormat(9999, pcm));
    EXPECT_EQ(MMSYSERR_INVALHANDLE, device->Close());
}

// The threads of this process running SCHED_FIFO, by name.
std::vector<std::string> RealtimeThreads()
{
    std::vector<std::string> names;
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
        const pid_t tid = static_cast<pid_t>(std::stol(task.path().filename().string()));
        if ((sched_getscheduler(tid) & ~SCHED_RESET_ON_FORK) != SCHED_FIFO)
            continue;
        std::ifstream comm(task.path() / "comm");
        std::string name;
        std::getline(comm, name);
        names.push_back(name);
    }
    return names;
}

TEST_F(RealAudio, RenderThreadAndCallbackRunRealtimeWhereTheSystemAllows)
{
    if (!MayScheduleRealtime())
        GTEST_SKIP() << "this process may not use real-time scheduling here";
    CCapturingMessageSink messages;
    CQueueingOwner owner;
    for (int run = 0; run < 2; ++run) { // again after a restart: new threads
        CSynthesizer synth(&owner, WAVE_MAPPER, 32768, 4, 80, 10);
        synth.AddVoice();
        synth.Start();
        ASSERT_TRUE(synth.IsRunning());
        std::vector<std::string> names;
        // The callback's request goes through the notification thread's next poll.
        for (int i = 0; i < 50 && names.size() < 3; ++i) {
            std::this_thread::sleep_for(20ms);
            names = RealtimeThreads();
        }
        EXPECT_EQ(1, std::count(names.begin(), names.end(), "tv-render")) << run;
        EXPECT_EQ(1, std::count(names.begin(), names.end(), "threaded-ml")) << run;
        EXPECT_EQ(3u, names.size()) << "the render thread, the device callback and the sound "
                                       "server client's thread, run "
                                    << run;
        synth.Stop();
        EXPECT_TRUE(RealtimeThreads().empty());
    }
}

// One take: the owners' sequence, a 1000 Hz note held for one second once the stream has run a
// while (a new stream loses its first milliseconds), recorded from the sink's monitor.
struct Take {
    std::vector<std::int16_t> recorded;
    Clock::time_point recordingStart, gateOn, gateOff;
    bool running = false;
    std::vector<std::string> messages;
    std::uint64_t deviceUnderruns = 0;
};

Take PlayAndRecord(const std::string& sink)
{
    Take take;
    CMonitorRecorder recorder(sink);
    if (!recorder.Running())
        return take;
    for (int i = 0; i < 200 && recorder.Samples() < 4410; ++i)
        std::this_thread::sleep_for(10ms);

    // Keep the PortAudio device the engine makes, to read its own count of frames it had to
    // play with nothing queued.
    std::shared_ptr<CWaveDevice> device;
    const WaveDeviceFactory previous = SetWaveDeviceFactory([&device] {
        device = CreatePortAudioDevice();
        return device;
    });
    CCapturingMessageSink messages;
    CQueueingOwner owner;
    {
        CSynthesizer synth(&owner, WAVE_MAPPER, 32768, 4, 80, 10);
        SetWaveDeviceFactory(previous);
        synth.AddVoice();
        synth.SetWaveform(0, WAVEFORM_SINE);
        synth.SetAmplitude(0, 0.5);
        synth.SetGate(0, 0);
        synth.m_masterGain = 1.0;
        synth.SetFrequency(0, 1000);
        synth.Start();
        take.running = synth.IsRunning();
        const auto pump = [&](std::chrono::milliseconds duration) {
            const auto end = Clock::now() + duration;
            while (Clock::now() < end) {
                owner.DeliverBufferDone(synth);
                std::this_thread::sleep_for(5ms);
            }
        };
        if (take.running) {
            pump(600ms);
            take.gateOn = Clock::now();
            synth.SetGate(0, 1);
            pump(1000ms);
            take.gateOff = Clock::now();
            synth.SetGate(0, 0);
            pump(600ms);
            if (auto* queued = dynamic_cast<CQueuedWaveDevice*>(device.get()))
                take.deviceUnderruns = queued->UnderrunFrames();
            synth.Stop();
        }
    }
    std::this_thread::sleep_for(200ms);
    recorder.Stop();
    take.messages = messages.Texts();
    take.recorded = recorder.TakeSamples();
    take.recordingStart = recorder.StartTime();
    return take;
}

// The longest run of exact zeros among samples [from, to). A held 1000 Hz tone never has two in a
// row; a run means the sound server had nothing to play and filled in silence.
long LongestZeroRun(const std::vector<std::int16_t>& x, long from, long to)
{
    long longest = 0;
    long run = 0;
    for (long i = std::max(0L, from); i < to && i < static_cast<long>(x.size()); ++i) {
        run = x[static_cast<std::size_t>(i)] == 0 ? run + 1 : 0;
        longest = std::max(longest, run);
    }
    return longest;
}

TEST_F(RealAudio, ToneReachesTheSinkWholeAtTheSetFrequency)
{
    // The sound server runs at normal priority; on a busy machine it can miss a deadline and fill
    // in silence, which the engine did not cause (its device had the samples queued). Such a take
    // is recorded again, twice at most.
    Take take;
    for (int attempt = 1; attempt <= 3; ++attempt) {
        take = PlayAndRecord(m_sink);
        ASSERT_FALSE(take.recorded.empty()) << "the monitor records nothing (parec)";
        ASSERT_TRUE(take.running) << ::testing::PrintToString(take.messages);
        EXPECT_TRUE(take.messages.empty()) << ::testing::PrintToString(take.messages);
        EXPECT_EQ(0u, take.deviceUnderruns) << "the device ran out of queued buffers";
        const long first = FirstAtLeast(take.recorded, 300);
        const long heldSamples =
            static_cast<long>(std::chrono::duration<double>(take.gateOff - take.gateOn).count() * RATE);
        const long silence = first < 0 ? 0 : LongestZeroRun(take.recorded, first, first + heldSamples - 1000);
        if (silence < 32 || take.deviceUnderruns != 0)
            break;
        std::printf("take %d: the sound server filled in %ld samples of silence; recording again\n", attempt,
                    silence);
    }
    const std::vector<std::int16_t>& recorded = take.recorded;
    const Clock::time_point gateOn = take.gateOn;
    const Clock::time_point gateOff = take.gateOff;
    const std::string wav = ::testing::TempDir() + "tonvale-real-audio.wav";
    struct Keep {
        const std::string& path;
        const std::vector<std::int16_t>& samples;
        ~Keep()
        {
            if (::testing::Test::HasFailure()) {
                WriteWav16(path, samples);
                std::fprintf(stderr, "recording kept in %s\n", path.c_str());
            }
        }
    } keeper{wav, recorded};

    // Locate the note: the reference's first sample of some size against the recording's.
    const long heldSamples =
        static_cast<long>(std::chrono::duration<double>(gateOff - gateOn).count() * RATE);
    const int length = static_cast<int>(heldSamples + 15000);
    const std::vector<std::int16_t> held = ReferenceNote(WAVEFORM_SINE, 1000, 0.5, length, -1);
    const long recordedFirst = FirstAtLeast(recorded, 300);
    ASSERT_GE(recordedFirst, 0) << "no tone in the recording";
    long onset = recordedFirst - FirstAtLeast(held, 300);
    ASSERT_GE(onset, 0);
    ASSERT_LT(onset + length, static_cast<long>(recorded.size())) << "recording too short";
    // The exact sample: the offset that matches the first 50 ms of the held tone best.
    long best = onset;
    long bestDiff = -1;
    for (long o = onset - 20; o <= onset + 20; ++o) {
        const long d = MaxDifference(recorded, o, held, 3000, 5205, nullptr);
        if (bestDiff < 0 || d < bestDiff) {
            bestDiff = d;
            best = o;
        }
    }
    onset = best;

    // No gap or repeated block from the first sample of the attack to the release: the sink
    // carries the engine's samples unchanged (a lost or repeated block shifts everything after it
    // by a part of a cycle, which at 1000 Hz is thousands of steps).
    const long releaseGuess = heldSamples;
    long where = 0;
    const long heldDiff = MaxDifference(recorded, onset, held, 0, releaseGuess - 2000, &where);
    EXPECT_LE(heldDiff, 2) << "the recording departs from the note " << where << " samples after its onset";

    // The release, found as the step where the recording's decay matches a lone voice's note
    // released there; the whole note must then match.
    long release = -1;
    std::vector<std::int16_t> note;
    for (long r = releaseGuess - 2000; r <= releaseGuess + 6000 && release < 0; ++r) {
        if (MaxDifference(recorded, onset, held, r - 1, r + 1, nullptr) > 2)
            break; // the held tone ended before r
        const std::vector<std::int16_t> candidate =
            ReferenceNote(WAVEFORM_SINE, 1000, 0.5, static_cast<int>(r + 8000), static_cast<int>(r));
        if (MaxDifference(recorded, onset, candidate, r, r + 2000, nullptr) <= 2) {
            release = r;
            note = candidate;
        }
    }
    ASSERT_GE(release, 0) << "no release matches the recording";
    EXPECT_LE(MaxDifference(recorded, onset, note, 0, release + 8000, &where), 2) << "at " << where;

    // Attack and decay shapes: 120 dB over the envelope length (4693 samples at 1000 Hz),
    // measured between -60 dB and -3 dB of the held level.
    const int window = 44; // about one cycle
    const double expectedSlope = 13.815510558 / 4693;
    const std::vector<double> attack = Envelope(recorded, onset, onset + 4693, window);
    const double full = 0.5 * 32767;
    EXPECT_NEAR(expectedSlope, LogSlope(attack, window, full, 1e-3, 0.7), 0.03 * expectedSlope);
    const std::vector<double> decay = Envelope(recorded, onset + release, onset + release + 4693, window);
    EXPECT_NEAR(-expectedSlope, LogSlope(decay, window, full, 1e-3, 0.7), 0.03 * expectedSlope);
    const long after = onset + release + 4693 + 10;
    EXPECT_EQ(0, *std::max_element(recorded.begin() + after, recorded.begin() + after + 4410));

    // The frequency, from the zero crossings of the held part.
    std::vector<double> crossings;
    for (long i = onset + 5000; i < onset + release - 1; ++i) {
        const double a = recorded[static_cast<std::size_t>(i)];
        const double b = recorded[static_cast<std::size_t>(i + 1)];
        if (a < 0 && b >= 0)
            crossings.push_back(static_cast<double>(i) + a / (a - b));
    }
    ASSERT_GT(crossings.size(), 500u);
    const double hz = (crossings.size() - 1) * RATE / (crossings.back() - crossings.front());
    EXPECT_NEAR(1000.0, hz, 0.5);

    // The delay from the gate to the onset as heard at the sink: the engine's lead (90 ms, less
    // up to a period) plus PortAudio's and the server's latency.
    const Clock::time_point heard = take.recordingStart + std::chrono::duration_cast<Clock::duration>(
                                                              std::chrono::duration<double>(onset / RATE));
    const double delayMs = std::chrono::duration<double, std::milli>(heard - gateOn).count();
    const double releaseDelayMs = std::chrono::duration<double, std::milli>(
                                      take.recordingStart +
                                      std::chrono::duration_cast<Clock::duration>(
                                          std::chrono::duration<double>((onset + release) / RATE)) -
                                      gateOff)
                                      .count();
    std::printf("gate-to-onset delay %.1f ms, release delay %.1f ms, frequency %.3f Hz\n", delayMs,
                releaseDelayMs, hz);
    RecordProperty("gate_to_onset_ms", std::to_string(delayMs));
    EXPECT_GE(delayMs, 60.0);
    EXPECT_LE(delayMs, 400.0);
    EXPECT_NEAR(delayMs, releaseDelayMs, 40.0);
}

} // namespace
