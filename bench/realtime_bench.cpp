// Real-time requests against a stand-in RealtimeKit on a private bus (tests/support), as an
// ordinary user makes them (run it through tests/results/run-unprivileged.sh when root):
//
//   BM_StartWith/<behaviour>      the window thread's time in Start, whether RealtimeKit answers,
//                                 answers late (300 ms), never answers, or is not there
//   BM_ListenerPacedRun/<scale>   60 questions, one every 4 to 6 s as a listener answers them, each
//                                 with three new threads (the engine's render thread, and two
//                                 threads that stand for PortAudio's callback and the sound server
//                                 client's thread), against RealtimeKit's limit of 25 requests in
//                                 20 s: requests granted out of asked. <scale> divides every time
//                                 (pace and RealtimeKit's window alike): 1 takes five minutes.
#include "audio/CVirtualWaveDevice.h"
#include "audio/RealtimeScheduling.h"
#include "synth/CSynthesizer.h"
#include "tests/support/CQueueingOwner.h"
#include "tests/support/RealtimeKitStandIn.h"

#include <benchmark/benchmark.h>

#include <sys/resource.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <random>
#include <thread>

namespace {

using EBehaviour = CRealtimeKitStandIn::EBehaviour;
using Clock = std::chrono::steady_clock;

// Every request goes to RealtimeKit, as for a desktop user without RLIMIT_RTPRIO.
bool AsAnOrdinaryUser(benchmark::State& state)
{
    const rlimit none{0, 0};
    ::setrlimit(RLIMIT_RTPRIO, &none);
    sched_param parameter{};
    parameter.sched_priority = 1;
    bool privileged = false;
    std::thread([&] { privileged = sched_setscheduler(0, SCHED_FIFO, &parameter) == 0; }).join();
    if (privileged)
        state.SkipWithError("privileged: run through tests/results/run-unprivileged.sh");
    return !privileged;
}

void BM_StartWith(benchmark::State& state)
{
    if (!AsAnOrdinaryUser(state))
        return;
    CRealtimeKitStandIn standIn(static_cast<EBehaviour>(state.range(0)));
    realtime_testing::UseBus(standIn.Address());
    CQueueingOwner owner;
    auto device = std::make_shared<CVirtualWaveDevice>(CVirtualWaveDevice::EClock::RealTime);
    CSynthesizer synth(&owner, device, 32768, 4, 80, 10);
    synth.AddVoice();
    for (auto _ : state) {
        const auto start = Clock::now();
        synth.Start();
        state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
        state.PauseTiming();
        synth.Stop();
        state.ResumeTiming();
    }
    WaitForRealtimeRequests(std::chrono::seconds(30));
    realtime_testing::UseBus("");
}
BENCHMARK(BM_StartWith)
    ->ArgName("answers_late_never_absent")
    ->DenseRange(0, 3)
    ->UseManualTime()
    ->Iterations(20)
    ->Unit(benchmark::kMillisecond);

void BM_ListenerPacedRun(benchmark::State& state)
{
    if (!AsAnOrdinaryUser(state))
        return;
    const double scale = double(state.range(0));
    const auto scaled = [&](double ms) { return std::chrono::microseconds(std::int64_t(ms * 1000 / scale)); };
    CRealtimeKitStandIn standIn(EBehaviour::Answers, std::chrono::milliseconds(0),
                                std::chrono::duration_cast<std::chrono::milliseconds>(scaled(20000)), 25);
    realtime_testing::UseBus(standIn.Address());
    CQueueingOwner owner;
    auto device = std::make_shared<CVirtualWaveDevice>(CVirtualWaveDevice::EClock::RealTime);
    CSynthesizer synth(&owner, device, 32768, 4, 80, 10);
    synth.AddVoice();
    std::mt19937 random(22);
    std::uniform_real_distribution<double> paceMs(4000, 6000);
    const RealtimeRequestCounts before = RealtimeRequestsSoFar();
    for (auto _ : state) {
        for (int question = 0; question < 60; ++question) {
            const auto next = Clock::now() + scaled(paceMs(random));
            synth.Start();
            std::atomic<bool> ended{false};
            const auto deviceThread = [&](int priority) {
                return std::thread([&, priority] {
                    RequestThreadRealtime(CurrentThreadId(), priority);
                    while (!ended)
                        std::this_thread::sleep_for(std::chrono::milliseconds(5));
                });
            };
            std::thread callback = deviceThread(CALLBACK_RT_PRIORITY),
                        client = deviceThread(CALLBACK_RT_PRIORITY);
            while (Clock::now() < next - scaled(1500)) { // the question plays, then the listener answers
                owner.DeliverBufferDone(synth);
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
            WaitForRealtimeRequests(std::chrono::seconds(5));
            ended = true;
            callback.join();
            client.join();
            synth.Stop();
            std::this_thread::sleep_until(next);
        }
    }
    const RealtimeRequestCounts after = RealtimeRequestsSoFar();
    state.counters["asked"] = double(after.asked - before.asked);
    state.counters["granted"] = double(after.granted - before.granted);
    std::size_t refused = 0;
    for (const auto& request : standIn.Requests())
        refused += request.granted ? 0 : 1;
    state.counters["refused_by_limit"] = double(refused);
    realtime_testing::UseBus("");
}
BENCHMARK(BM_ListenerPacedRun)
    ->ArgName("time_divided_by")
    ->Arg(10)
    ->Arg(1)
    ->Iterations(1)
    ->Unit(benchmark::kSecond);

} // namespace

BENCHMARK_MAIN();
