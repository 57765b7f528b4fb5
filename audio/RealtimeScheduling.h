#pragma once
// Real-time scheduling for the threads that feed the sound device, where the system grants it.
//
// A desktop keeps its sound server running at real-time priority; a client whose threads run at
// normal priority then loses the race against any busy program, and the server plays what the
// client has not delivered as silence. The engine's two threads (the device callback, which only
// copies, and the render thread, which mixes one short block per period) ask for SCHED_FIFO:
// directly, where the process may (RLIMIT_RTPRIO above 0, or the privilege to ignore it), and
// otherwise from RealtimeKit on the system bus, after capping the process's RLIMIT_RTTIME within
// the limit RealtimeKit sets, as desktop audio programs do. A refusal leaves the thread as it was.
//
// Never call this from a real-time path: it may block on the system bus for a moment.
#include <sys/types.h>

enum class ERealtimeGrant { Refused, Direct, RealtimeKit };

// The priorities asked for: below the sound server's (RealtimeKit's desktops run it at 5 to 9 of
// 20), so that our threads can never hold up the server they feed; the callback above the
// render thread, since it only copies.
inline constexpr int CALLBACK_RT_PRIORITY = 4;
inline constexpr int RENDER_RT_PRIORITY = 3;

// Makes kernel thread `tid` (of this process) real-time at `priority`, or leaves it alone.
ERealtimeGrant MakeThreadRealtime(pid_t tid, int priority);

// Makes every thread of this process named `name` real-time at `priority`; returns how many were
// granted. For threads that libraries start on our behalf.
int MakeThreadsNamedRealtime(const char* name, int priority);

// The sound server's client library (libpulse, under ALSA's pulse plugin) carries the callback's
// samples to the server on a thread of its own; a busy machine that holds it up leaves a hole in
// the server's stream just as a late callback does.
inline constexpr const char* SOUND_CLIENT_THREAD = "threaded-ml";

// The calling thread's kernel id.
pid_t CurrentThreadId();
