// Threads: any thread but a real-time one (the D-Bus call blocks for up to half a second).
#include "audio/RealtimeScheduling.h"

#include <dbus/dbus.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>

namespace {

const char* const RTKIT_SERVICE = "org.freedesktop.RealtimeKit1";
const char* const RTKIT_PATH = "/org/freedesktop/RealtimeKit1";
constexpr int DBUS_TIMEOUT_MS = 500;

bool SetFifo(pid_t tid, int priority)
{
    sched_param parameter{};
    parameter.sched_priority = priority;
    // Reset on fork: a program started from one of these threads must not inherit the priority.
    return sched_setscheduler(tid, SCHED_FIFO | SCHED_RESET_ON_FORK, &parameter) == 0;
}

// A private connection to the system bus, closed when it goes out of scope; it must not end the
// process when the bus goes away (libdbus's default for shared connections).
class CSystemBus {
public:
    CSystemBus()
    {
        dbus_threads_init_default();
        DBusError error;
        dbus_error_init(&error);
        m_bus = dbus_bus_get_private(DBUS_BUS_SYSTEM, &error);
        dbus_error_free(&error);
        if (m_bus)
            dbus_connection_set_exit_on_disconnect(m_bus, FALSE);
    }
    ~CSystemBus()
    {
        if (m_bus) {
            dbus_connection_close(m_bus);
            dbus_connection_unref(m_bus);
        }
    }
    CSystemBus(const CSystemBus&) = delete;
    CSystemBus& operator=(const CSystemBus&) = delete;

    explicit operator bool() const { return m_bus != nullptr; }

    // Sends `message` (taking it) and returns the reply, or null on any error.
    DBusMessage* Call(DBusMessage* message)
    {
        if (!message)
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
        if (!message)
            return fallback;
        const char* interface = RTKIT_SERVICE;
        dbus_message_append_args(message, DBUS_TYPE_STRING, &interface, DBUS_TYPE_STRING, &name,
                                 DBUS_TYPE_INVALID);
        DBusMessage* reply = Call(message);
        if (!reply)
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
        if (!message)
            return false;
        dbus_uint64_t thread = static_cast<dbus_uint64_t>(tid);
        dbus_uint32_t value = static_cast<dbus_uint32_t>(priority);
        dbus_message_append_args(message, DBUS_TYPE_UINT64, &thread, DBUS_TYPE_UINT32, &value,
                                 DBUS_TYPE_INVALID);
        DBusMessage* reply = Call(message);
        if (!reply)
            return false;
        const bool ok = dbus_message_get_type(reply) == DBUS_MESSAGE_TYPE_METHOD_RETURN;
        dbus_message_unref(reply);
        return ok;
    }

private:
    DBusConnection* m_bus = nullptr;
};

ERealtimeGrant AskRealtimeKit(pid_t tid, int priority)
{
    CSystemBus bus;
    if (!bus)
        return ERealtimeGrant::Refused;
    const std::int64_t maxPriority = bus.Property("MaxRealtimePriority", 0);
    const std::int64_t maxRtTime = bus.Property("RTTimeUSecMax", 0);
    if (maxPriority <= 0 || maxRtTime <= 0)
        return ERealtimeGrant::Refused;
    // RealtimeKit refuses a process that could keep the CPU longer than its limit without
    // sleeping; lowering our own limit costs nothing, since both threads sleep every period.
    rlimit limit{};
    if (getrlimit(RLIMIT_RTTIME, &limit) != 0)
        return ERealtimeGrant::Refused;
    const auto cap = static_cast<rlim_t>(maxRtTime);
    if (limit.rlim_max == RLIM_INFINITY || limit.rlim_max > cap) {
        limit.rlim_cur = std::min<rlim_t>(limit.rlim_cur, cap);
        limit.rlim_max = cap;
        if (setrlimit(RLIMIT_RTTIME, &limit) != 0)
            return ERealtimeGrant::Refused;
    }
    const int granted = static_cast<int>(std::min<std::int64_t>(priority, maxPriority));
    return bus.MakeThreadRealtime(tid, granted) ? ERealtimeGrant::RealtimeKit : ERealtimeGrant::Refused;
}

} // namespace

pid_t CurrentThreadId()
{
    return static_cast<pid_t>(syscall(SYS_gettid));
}

ERealtimeGrant MakeThreadRealtime(pid_t tid, int priority)
{
    if (tid <= 0)
        return ERealtimeGrant::Refused;
    rlimit limit{};
    const bool allowed = getrlimit(RLIMIT_RTPRIO, &limit) == 0 && limit.rlim_cur > 0;
    const int direct = allowed && limit.rlim_cur != RLIM_INFINITY
                           ? std::min(priority, static_cast<int>(limit.rlim_cur))
                           : priority;
    // With RLIMIT_RTPRIO (or as a privileged process) the kernel grants it itself.
    if (SetFifo(tid, direct))
        return ERealtimeGrant::Direct;
    return AskRealtimeKit(tid, priority);
}

int MakeThreadsNamedRealtime(const char* name, int priority)
{
    int granted = 0;
    std::error_code error;
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task", error)) {
        std::ifstream comm(task.path() / "comm");
        std::string taskName;
        if (!std::getline(comm, taskName) || taskName != name)
            continue;
        const long tid = std::strtol(task.path().filename().c_str(), nullptr, 10);
        if (MakeThreadRealtime(static_cast<pid_t>(tid), priority) != ERealtimeGrant::Refused)
            ++granted;
    }
    return granted;
}
