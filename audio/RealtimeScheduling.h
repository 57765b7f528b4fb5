#pragma once
// Real-time scheduling for the threads that feed the sound device, where the system grants it.
//
// A desktop keeps its sound server running at real-time priority; a client whose threads run at
// normal priority then loses the race against any busy program, and the server plays what the
// client has not delivered as silence. The engine's threads (the device callback, which only
// copies, the render thread, which mixes one short block per period, and the sound server
// client's thread) ask for SCHED_FIFO: directly, where the process may (RLIMIT_RTPRIO above 0, or
// the privilege to ignore it), and otherwise from RealtimeKit on the system bus, after capping the
// process's RLIMIT_RTTIME within the limit RealtimeKit sets, as desktop audio programs do. A
// refusal leaves the thread as it was.
//
// A request to RealtimeKit may block for half a second (or, with a slow bus, longer), so every
// request is made by a thread of this module's own over one system-bus connection kept for the
// program's life: the callers (the GUI thread, the device's notification thread) only queue it
// and go on at once. Each thread is asked for once: RealtimeKit refuses a user more than 25
// requests in 20 s, and a question starts three new threads, one set every 4 s at the fastest a
// listener answers, which keeps within that limit.
#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <string>

// The priorities asked for: below the sound server's (RealtimeKit's desktops run it at 5 to 9 of
// 20), so that our threads can never hold up the server they feed; the callback above the
// render thread, since it only copies.
inline constexpr int CALLBACK_RT_PRIORITY = 4;
inline constexpr int RENDER_RT_PRIORITY = 3;

// The sound server's client library (libpulse, under ALSA's pulse plugin) carries the callback's
// samples to the server on a thread of its own; a busy machine that holds it up leaves a hole in
// the server's stream just as a late callback does.
inline constexpr const char* SOUND_CLIENT_THREAD = "threaded-ml";

// Queues a request to make kernel thread `tid` (of this process) real-time at `priority` and
// returns at once. Any thread but a real-time one: it takes a lock and may allocate.
void RequestThreadRealtime(pid_t tid, int priority);

// Queues a request for every thread of this process named `name` that has not been asked for.
// For threads that libraries start on our behalf.
void RequestThreadsNamedRealtime(const char* name, int priority);

// The calling thread's kernel id.
pid_t CurrentThreadId();

// What the requests came to since the program started.
struct RealtimeRequestCounts {
    std::uint64_t direct = 0;  // granted by the kernel, without asking anyone
    std::uint64_t asked = 0;   // requests sent to RealtimeKit
    std::uint64_t granted = 0; // of those, granted
};
RealtimeRequestCounts RealtimeRequestsSoFar();

// Waits until every request queued so far has been handled, at most `limit`; false on timeout.
// For tests and benchmarks.
bool WaitForRealtimeRequests(std::chrono::milliseconds limit);

namespace realtime_testing {
// Sends later requests to RealtimeKit on the bus at `address` (a private test bus) instead of the
// system bus; "" for the system bus again. The connection held so far is closed.
void UseBus(const std::string& address);
} // namespace realtime_testing
