// What the engine costs: rendering one voice (ns per sample, and as a multiple of real time) and a
// running engine with a silent voice over 10 s of wall time (CPU share of one core, getrusage).
//
//   build/engine/bin/engine_bench                         all of it
//   build/engine/bin/engine_bench --benchmark_filter=Render
// The running-engine figure uses PortAudio when a sound server is reachable (source
// scripts/test-env.sh first) and the virtual device in real time otherwise.
#include "audio/CVirtualWaveDevice.h"
#include "synth/CSynthesizer.h"
#include "tests/support/CQueueingOwner.h"

#include <benchmark/benchmark.h>

#include <sys/resource.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr double RATE = 44100.0;

void AddSampleCounters(benchmark::State& state, double samples)
{
    // Rates are taken over CPU time.
    state.counters["ns_per_sample"] =
        benchmark::Counter(samples * 1e-9, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    state.counters["x_realtime"] = benchmark::Counter(samples / RATE, benchmark::Counter::kIsRate);
}

// One sine voice, held (no envelope), in blocks of `state.range(0)` samples.
void BM_RenderSineVoiceHeld(benchmark::State& state)
{
    const int block = static_cast<int>(state.range(0));
    CToneVoice voice(44100);
    voice.m_frequency = 1000.0;
    voice.m_amplitude = 0.5;
    std::vector<float> mix(static_cast<std::size_t>(block), 0.0f);
    double samples = 0;
    for (auto _ : state) {
        voice.Render(mix.data(), block, RENDER_ADD);
        benchmark::DoNotOptimize(mix.data());
        samples += block;
    }
    AddSampleCounters(state, samples);
}
BENCHMARK(BM_RenderSineVoiceHeld)->Arg(441)->Arg(882);

// One sine voice whose attack never ends (a 0.1 Hz tone has an 18 s attack): the sine and the
// exponential per sample, the worst case.
void BM_RenderSineVoiceInAttack(benchmark::State& state)
{
    const int block = 882;
    CToneVoice voice(44100);
    voice.m_frequency = 0.1;
    voice.m_amplitude = 0.5;
    voice.SetGate(1);
    voice.m_frequency = 1000.0;
    std::vector<float> mix(block, 0.0f);
    double samples = 0;
    for (auto _ : state) {
        if (!voice.IsAttacking()) {
            voice.m_frequency = 0.1;
            voice.SetGate(1);
            voice.m_frequency = 1000.0;
        }
        voice.Render(mix.data(), block, RENDER_ADD);
        benchmark::DoNotOptimize(mix.data());
        samples += block;
    }
    AddSampleCounters(state, samples);
}
BENCHMARK(BM_RenderSineVoiceInAttack);

// A whole render step of the engine with one held sine voice: position, mix, clip rule, PCM and
// the copy into the ring (the virtual device's clock moves one period per step).
void BM_RenderStepOneVoice(benchmark::State& state)
{
    auto device = std::make_shared<CVirtualWaveDevice>();
    CSynthesizer synth(nullptr, device, 32768, 4, 80, 10, CSynthesizer::ERenderMode::Manual);
    synth.AddVoice();
    synth.SetFrequency(0, 1000);
    synth.SetAmplitude(0, 0.5);
    synth.Start();
    synth.RenderStep();
    double samples = 0;
    std::uint32_t position = 0;
    for (auto _ : state) {
        state.PauseTiming();
        // The device takes one period; keep the ring queued by resetting it before it runs dry.
        if (position + 441 > 60000) {
            synth.Stop();
            synth.Start();
            synth.RenderStep();
            position = 0;
        }
        device->Advance(441);
        position += 441;
        state.ResumeTiming();
        synth.RenderStep();
        samples += 441;
    }
    synth.Stop();
    AddSampleCounters(state, samples);
}
BENCHMARK(BM_RenderStepOneVoice);

// CPU seconds of every thread of this process named `name` (the engine names its threads
// tv-render and tv-notify), from /proc.
double ThreadCpuSeconds(const std::string& name)
{
    double seconds = 0.0;
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
        std::ifstream comm(task.path() / "comm");
        std::string threadName;
        std::getline(comm, threadName);
        if (threadName != name)
            continue;
        std::ifstream schedstat(task.path() / "schedstat");
        double nanoseconds = 0.0;
        schedstat >> nanoseconds;
        seconds += nanoseconds * 1e-9;
    }
    return seconds;
}

double CpuSeconds(int who = RUSAGE_SELF)
{
    rusage usage{};
    getrusage(who, &usage);
    return usage.ru_utime.tv_sec + usage.ru_utime.tv_usec * 1e-6 + usage.ru_stime.tv_sec +
           usage.ru_stime.tv_usec * 1e-6;
}

// A running engine whose only voice is silent (released before it started), over 10 s: the CPU
// of the whole process (render thread, notification thread, the device's thread or callback, and
// this thread handing back finished buffers every 50 ms as a dialog's event loop would).
void BM_RunningEngineSilentVoiceCpu(benchmark::State& state)
{
    const bool portAudio = std::getenv("PULSE_SERVER") != nullptr;
    state.SetLabel(portAudio ? "PortAudio" : "virtual device in real time");
    for (auto _ : state) {
        CQueueingOwner owner;
        std::unique_ptr<CSynthesizer> synth =
            portAudio
                ? std::make_unique<CSynthesizer>(&owner, WAVE_MAPPER, 32768, 4, 80, 10)
                : std::make_unique<CSynthesizer>(
                      &owner, std::make_shared<CVirtualWaveDevice>(CVirtualWaveDevice::EClock::RealTime),
                      32768, 4, 80, 10);
        synth->AddVoice();
        synth->SetAmplitude(0, 0.5);
        synth->SetGate(0, 0);
        synth->Start();
        if (!synth->IsRunning()) {
            state.SkipWithError("the engine did not start");
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(500)); // past start-up
        const double cpuBefore = CpuSeconds();
        const double renderBefore = ThreadCpuSeconds("tv-render");
        const double notifyBefore = ThreadCpuSeconds("tv-notify");
        const double clientBefore = ThreadCpuSeconds("threaded-ml");
        const double mainBefore = CpuSeconds(RUSAGE_THREAD);
        const auto wallBefore = std::chrono::steady_clock::now();
        const auto end = wallBefore + std::chrono::seconds(10);
        while (std::chrono::steady_clock::now() < end) {
            owner.DeliverBufferDone(*synth);
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        const double cpu = CpuSeconds() - cpuBefore;
        const double render = ThreadCpuSeconds("tv-render") - renderBefore;
        const double notify = ThreadCpuSeconds("tv-notify") - notifyBefore;
        const double client = ThreadCpuSeconds("threaded-ml") - clientBefore;
        const double main = CpuSeconds(RUSAGE_THREAD) - mainBefore;
        const double wall =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - wallBefore).count();
        synth->Stop();
        state.counters["cpu_percent_of_one_core"] = 100.0 * cpu / wall;
        // The engine's own threads; the rest is the device's (PortAudio and the sound server's
        // client library, or the virtual device's clock).
        state.counters["render_thread_percent"] = 100.0 * render / wall;
        state.counters["notify_thread_percent"] = 100.0 * notify / wall;
        // The sound server client's thread (libpulse under ALSA's pulse plugin), this thread
        // (the dialog's part), and what remains: the device's callback thread (PortAudio, ALSA).
        state.counters["client_thread_percent"] = 100.0 * client / wall;
        state.counters["gui_thread_percent"] = 100.0 * main / wall;
        state.counters["callback_percent"] = 100.0 * (cpu - render - notify - client - main) / wall;
        state.counters["cpu_seconds"] = cpu;
    }
}
BENCHMARK(BM_RunningEngineSilentVoiceCpu)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
