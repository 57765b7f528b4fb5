// Threads: the callers only queue (any thread but a real-time one); everything else, the D-Bus
// calls included, runs on the requester's own thread, "tv-realtime".
#include "audio/RealtimeScheduling.h"

#include <dbus/dbus.h>
#include <fcntl.h>
#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <set>
#include <string>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

namespace {

const char* const RTKIT_SERVICE = "org.freedesktop.RealtimeKit1";
const char* const RTKIT_PATH = "/org/freedesktop/RealtimeKit1";
constexpr int DBUS_TIMEOUT_MS = 500;
// Threads remembered as asked for before the ones that have ended are forgotten.
constexpr std::size_t ASKED_PRUNE_AT = 256;

bool SetFifo(pid_t tid, int priority)
{
    sched_param parameter{};
    parameter.sched_priority = priority;
    // Reset on fork: a program started from one of these threads must not inherit the priority.
    return sched_setscheduler(tid, SCHED_FIFO | SCHED_RESET_ON_FORK, &parameter) == 0;
}

bool IsFifo(pid_t tid)
{
    const int policy = sched_getscheduler(tid);
    return policy >= 0 && (policy & ~SCHED_RESET_ON_FORK) == SCHED_FIFO;
}

// When thread `tid` of this process started (clock ticks since boot), or 0 when there is none: a
// thread id the kernel gives again to a later thread is not the thread that was asked for.
unsigned long long ThreadStartTime(pid_t tid)
{
    char path[64];
    std::snprintf(path, sizeof path, "/proc/self/task/%d/stat", static_cast<int>(tid));
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return 0;
    char text[1024];
    ssize_t n;
    do
        n = ::read(fd, text, sizeof text - 1);
    while (n < 0 && errno == EINTR);
    ::close(fd);
    if (n <= 0)
        return 0;
    text[n] = '\0';
    // The name may hold spaces and parentheses: the fields after it begin at the last ')'. The
    // start time is the 22nd field, the 20th after the name.
    const char* field = std::strrchr(text, ')');
    for (int skipped = 0; field != nullptr && skipped < 20; ++skipped)
        field = std::strchr(field + 1, ' ');
    return field != nullptr ? std::strtoull(field + 1, nullptr, 10) : 0;
}

// RealtimeKit over one private bus connection, opened at the first request and kept; it must not
// end the process when the bus goes away (libdbus's default for shared connections). Used by the
// requester's thread alone.
class CRealtimeKit {
public:
    ~CRealtimeKit() { Close(); }

    void UseAddress(const std::string& address)
    {
        Close();
        m_address = address;
    }

    // Asks for `tid`; `asked` and `granted` count what went to RealtimeKit and what it granted.
    void Ask(pid_t tid, int priority, std::atomic<std::uint64_t>& asked, std::atomic<std::uint64_t>& granted)
    {
        if (!Connect() || !ReadLimits())
            return;
        asked.fetch_add(1, std::memory_order_relaxed);
        if (MakeThreadRealtime(tid, static_cast<int>(std::min<std::int64_t>(priority, m_maxPriority))))
            granted.fetch_add(1, std::memory_order_relaxed);
    }

private:
    bool Connect()
    {
        if (m_bus != nullptr && dbus_connection_get_is_connected(m_bus))
            return true;
        Close();
        DBusError error;
        dbus_error_init(&error);
        if (m_address.empty()) {
            m_bus = dbus_bus_get_private(DBUS_BUS_SYSTEM, &error);
        } else {
            m_bus = dbus_connection_open_private(m_address.c_str(), &error);
            if (m_bus != nullptr && !dbus_bus_register(m_bus, &error))
                Close();
        }
        dbus_error_free(&error);
        if (m_bus != nullptr)
            dbus_connection_set_exit_on_disconnect(m_bus, FALSE);
        return m_bus != nullptr;
    }

    void Close()
    {
        if (m_bus != nullptr) {
            dbus_connection_close(m_bus);
            dbus_connection_unref(m_bus);
        }
        m_bus = nullptr;
        m_limitsRead = false;
    }

    // RealtimeKit's limits, read once per connection. It refuses a process that could keep the
    // CPU longer than its limit without sleeping; lowering our own limit costs nothing, since
    // every one of these threads sleeps each period.
    bool ReadLimits()
    {
        if (m_limitsRead)
            return true;
        m_maxPriority = Property("MaxRealtimePriority", 0);
        const std::int64_t maxRtTime = m_maxPriority > 0 ? Property("RTTimeUSecMax", 0) : 0;
        if (maxRtTime <= 0)
            return false;
        rlimit limit{};
        if (getrlimit(RLIMIT_RTTIME, &limit) != 0)
            return false;
        const auto cap = static_cast<rlim_t>(maxRtTime);
        if (limit.rlim_max == RLIM_INFINITY || limit.rlim_max > cap) {
            limit.rlim_cur = std::min<rlim_t>(limit.rlim_cur, cap);
            limit.rlim_max = cap;
            if (setrlimit(RLIMIT_RTTIME, &limit) != 0)
                return false;
        }
        m_limitsRead = true;
        return true;
    }

    // Sends `message` (taking it) and returns the reply, or null on any error.
    DBusMessage* Call(DBusMessage* message)
    {
        if (message == nullptr)
            return nullptr;
        DBusError error;
        dbus_error_init(&error);
        DBusMessage* reply =
            dbus_connection_send_with_reply_and_block(m_bus, message, DBUS_TIMEOUT_MS, &error);
        dbus_message_unref(message);
        dbus_error_free(&error);
        return reply;
    }

    // An integer property of RealtimeKit, or `fallback` when it cannot be read.
    std::int64_t Property(const char* name, std::int64_t fallback)
    {
        DBusMessage* message =
            dbus_message_new_method_call(RTKIT_SERVICE, RTKIT_PATH, "org.freedesktop.DBus.Properties", "Get");
        if (message == nullptr)
            return fallback;
        const char* interface = RTKIT_SERVICE;
        dbus_message_append_args(message, DBUS_TYPE_STRING, &interface, DBUS_TYPE_STRING, &name,
                                 DBUS_TYPE_INVALID);
        DBusMessage* reply = Call(message);
        if (reply == nullptr)
            return fallback;
        std::int64_t value = fallback;
        DBusMessageIter iter;
        DBusMessageIter variant;
        if (dbus_message_iter_init(reply, &iter) &&
            dbus_message_iter_get_arg_type(&iter) == DBUS_TYPE_VARIANT) {
            dbus_message_iter_recurse(&iter, &variant);
            switch (dbus_message_iter_get_arg_type(&variant)) {
            case DBUS_TYPE_INT32: {
                dbus_int32_t v = 0;
                dbus_message_iter_get_basic(&variant, &v);
                value = v;
                break;
            }
            case DBUS_TYPE_INT64: {
                dbus_int64_t v = 0;
                dbus_message_iter_get_basic(&variant, &v);
                value = v;
                break;
            }
            default:
                break;
            }
        }
        dbus_message_unref(reply);
        return value;
    }

    bool MakeThreadRealtime(pid_t tid, int priority)
    {
        DBusMessage* message =
            dbus_message_new_method_call(RTKIT_SERVICE, RTKIT_PATH, RTKIT_SERVICE, "MakeThreadRealtime");
        if (message == nullptr)
            return false;
        dbus_uint64_t thread = static_cast<dbus_uint64_t>(tid);
        dbus_uint32_t value = static_cast<dbus_uint32_t>(priority);
        dbus_message_append_args(message, DBUS_TYPE_UINT64, &thread, DBUS_TYPE_UINT32, &value,
                                 DBUS_TYPE_INVALID);
        DBusMessage* reply = Call(message);
        if (reply == nullptr)
            return false;
        const bool ok = dbus_message_get_type(reply) == DBUS_MESSAGE_TYPE_METHOD_RETURN;
        dbus_message_unref(reply);
        return ok;
    }

    DBusConnection* m_bus = nullptr;
    std::string m_address; // empty: the system bus
    bool m_limitsRead = false;
    std::int64_t m_maxPriority = 0;
};

// One queued request: a thread by id (with its start time when queued), or by name.
struct Job {
    pid_t tid = 0;
    unsigned long long startTime = 0;
    std::string name;
    int priority = 0;
};

using ThreadKey = std::pair<pid_t, unsigned long long>; // id and start time

class CRealtimeRequester {
public:
    static CRealtimeRequester& Instance()
    {
        static CRealtimeRequester requester;
        return requester;
    }

    ~CRealtimeRequester()
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_stop = true;
        }
        m_wake.notify_all();
        // A call in progress ends within its timeout; what is still queued is dropped.
        if (m_thread.joinable())
            m_thread.join();
    }
    CRealtimeRequester(const CRealtimeRequester&) = delete;
    CRealtimeRequester& operator=(const CRealtimeRequester&) = delete;

    void Queue(Job job)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_stop)
            return;
        if (!m_thread.joinable()) {
            try {
                m_thread = std::thread(&CRealtimeRequester::Run, this);
            } catch (const std::system_error&) {
                return; // the thread keeps its normal scheduling
            }
        }
        m_jobs.push_back(std::move(job));
        ++m_queued;
        m_wake.notify_all();
    }

    bool WaitIdle(std::chrono::milliseconds limit)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_idle.wait_for(lock, limit, [&] { return m_handled == m_queued; });
    }

    void UseBus(const std::string& address)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_address = address;
        ++m_addressGeneration;
    }

    RealtimeRequestCounts Counts() const
    {
        RealtimeRequestCounts counts;
        counts.direct = m_direct.load(std::memory_order_relaxed);
        counts.asked = m_asked.load(std::memory_order_relaxed);
        counts.granted = m_granted.load(std::memory_order_relaxed);
        return counts;
    }

private:
    CRealtimeRequester() = default;

    void Run()
    {
        pthread_setname_np(pthread_self(), "tv-realtime");
        dbus_threads_init_default();
        CRealtimeKit kit;
        unsigned generation = 0;
        std::unique_lock<std::mutex> lock(m_mutex);
        for (;;) {
            m_wake.wait(lock, [&] { return m_stop || !m_jobs.empty(); });
            if (m_stop)
                return;
            Job job = std::move(m_jobs.front());
            m_jobs.pop_front();
            if (generation != m_addressGeneration) {
                generation = m_addressGeneration;
                kit.UseAddress(m_address);
            }
            lock.unlock();
            Handle(job, kit);
            lock.lock();
            ++m_handled;
            m_idle.notify_all();
        }
    }

    void Handle(const Job& job, CRealtimeKit& kit)
    {
        std::vector<ThreadKey> threads;
        if (job.name.empty()) {
            // A thread that has ended since (its id perhaps given to another) is not asked for.
            if (job.startTime != 0 && ThreadStartTime(job.tid) == job.startTime)
                threads.emplace_back(job.tid, job.startTime);
        } else {
            std::error_code error;
            for (const auto& task : std::filesystem::directory_iterator("/proc/self/task", error)) {
                std::ifstream comm(task.path() / "comm");
                std::string taskName;
                if (!std::getline(comm, taskName) || taskName != job.name)
                    continue;
                const auto tid = static_cast<pid_t>(std::strtol(task.path().filename().c_str(), nullptr, 10));
                if (const unsigned long long start = ThreadStartTime(tid))
                    threads.emplace_back(tid, start);
            }
        }
        for (const ThreadKey& thread : threads) {
            // Once per thread: RealtimeKit counts every request against the user's limit.
            if (!m_askedFor.insert(thread).second || IsFifo(thread.first))
                continue;
            if (SetFifo(thread.first, DirectPriority(job.priority)))
                m_direct.fetch_add(1, std::memory_order_relaxed);
            else
                kit.Ask(thread.first, job.priority, m_asked, m_granted);
        }
        if (m_askedFor.size() > ASKED_PRUNE_AT)
            std::erase_if(m_askedFor,
                          [](const ThreadKey& key) { return ThreadStartTime(key.first) != key.second; });
    }

    // With RLIMIT_RTPRIO (or as a privileged process) the kernel grants it itself, up to the limit.
    static int DirectPriority(int priority)
    {
        rlimit limit{};
        if (getrlimit(RLIMIT_RTPRIO, &limit) == 0 && limit.rlim_cur > 0 && limit.rlim_cur != RLIM_INFINITY)
            return std::min(priority, static_cast<int>(limit.rlim_cur));
        return priority;
    }

    std::mutex m_mutex;
    std::condition_variable m_wake, m_idle;
    std::deque<Job> m_jobs;
    std::uint64_t m_queued = 0, m_handled = 0;
    bool m_stop = false;
    std::string m_address;
    unsigned m_addressGeneration = 0;
    std::thread m_thread;
    std::set<ThreadKey> m_askedFor; // the requester's thread's own
    std::atomic<std::uint64_t> m_direct{0}, m_asked{0}, m_granted{0};
};

} // namespace

pid_t CurrentThreadId()
{
    return static_cast<pid_t>(syscall(SYS_gettid));
}

void RequestThreadRealtime(pid_t tid, int priority)
{
    if (tid <= 0)
        return;
    Job job;
    job.tid = tid;
    job.startTime = ThreadStartTime(tid);
    job.priority = priority;
    if (job.startTime != 0)
        CRealtimeRequester::Instance().Queue(std::move(job));
}

void RequestThreadsNamedRealtime(const char* name, int priority)
{
    Job job;
    job.name = name;
    job.priority = priority;
    CRealtimeRequester::Instance().Queue(std::move(job));
}

RealtimeRequestCounts RealtimeRequestsSoFar()
{
    return CRealtimeRequester::Instance().Counts();
}

bool WaitForRealtimeRequests(std::chrono::milliseconds limit)
{
    return CRealtimeRequester::Instance().WaitIdle(limit);
}

namespace realtime_testing {
void UseBus(const std::string& address)
{
    CRealtimeRequester::Instance().UseBus(address);
}
} // namespace realtime_testing
