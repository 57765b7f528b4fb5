#pragma once
// A stand-in for RealtimeKit on a private bus of its own (a dbus-daemon it starts and ends): it
// answers at once, late, never, or is not there at all, and grants requests within RealtimeKit's
// burst limit (25 per 20 s for a user, as its defaults). It grants by answering only: it has no
// right to change anyone's scheduling. Needs libdbus (dbus-1).
#include <dbus/dbus.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

class CRealtimeKitStandIn {
public:
    enum class EBehaviour { Answers, AnswersLate, NeverAnswers, Absent };

    struct Request {
        std::uint64_t tid;
        std::uint32_t priority;
        std::string sender; // the connection it came over
        bool granted;
    };

    explicit CRealtimeKitStandIn(EBehaviour behaviour,
                                 std::chrono::milliseconds lateBy = std::chrono::milliseconds(300),
                                 std::chrono::milliseconds burst = std::chrono::seconds(20),
                                 int perBurst = 25)
        : m_behaviour(behaviour), m_lateBy(lateBy), m_burst(burst), m_perBurst(perBurst)
    {
        dbus_threads_init_default();
        StartBus();
        if (m_address.empty() || m_behaviour == EBehaviour::Absent)
            return;
        DBusError error;
        dbus_error_init(&error);
        m_connection = dbus_connection_open_private(m_address.c_str(), &error);
        if (m_connection != nullptr && dbus_bus_register(m_connection, &error) &&
            dbus_bus_request_name(m_connection, "org.freedesktop.RealtimeKit1", DBUS_NAME_FLAG_DO_NOT_QUEUE,
                                  &error) == DBUS_REQUEST_NAME_REPLY_PRIMARY_OWNER)
            m_thread = std::thread([this] { Serve(); });
        dbus_error_free(&error);
    }

    ~CRealtimeKitStandIn()
    {
        m_stop = true;
        if (m_thread.joinable())
            m_thread.join();
        if (m_connection != nullptr) {
            dbus_connection_close(m_connection);
            dbus_connection_unref(m_connection);
        }
        if (m_daemon > 0) {
            ::kill(m_daemon, SIGTERM);
            ::waitpid(m_daemon, nullptr, 0);
        }
    }
    CRealtimeKitStandIn(const CRealtimeKitStandIn&) = delete;
    CRealtimeKitStandIn& operator=(const CRealtimeKitStandIn&) = delete;

    // The private bus's address; empty when no bus could be started.
    const std::string& Address() const { return m_address; }
    // Whether it serves (not Absent, and the name is ours).
    bool Serving() const { return m_thread.joinable(); }

    // Requests answered so far (a late answer counts once it is sent).
    std::size_t Answered() const { return m_answered; }

    std::vector<Request> Requests() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_requests;
    }

private:
    void StartBus()
    {
        int pipeFds[2];
        if (::pipe(pipeFds) != 0)
            return;
        // Made before the fork: the child of a threaded process may only exec.
        const std::string printAddress = "--print-address=" + std::to_string(pipeFds[1]);
        m_daemon = ::fork();
        if (m_daemon == 0) {
            // It ends with us, however we end, and leaves our output alone.
            ::prctl(PR_SET_PDEATHSIG, SIGTERM);
            const int null = ::open("/dev/null", O_RDWR);
            ::dup2(null, STDIN_FILENO);
            ::dup2(null, STDOUT_FILENO);
            ::dup2(null, STDERR_FILENO);
            ::close(pipeFds[0]);
            ::execl("/usr/bin/dbus-daemon", "dbus-daemon", "--session", "--nofork", "--nopidfile",
                    printAddress.c_str(), static_cast<char*>(nullptr));
            ::_exit(127);
        }
        ::close(pipeFds[1]);
        char buffer[512];
        std::string line;
        ssize_t n;
        while (line.find('\n') == std::string::npos && (n = ::read(pipeFds[0], buffer, sizeof buffer)) > 0)
            line.append(buffer, static_cast<std::size_t>(n));
        ::close(pipeFds[0]);
        const std::size_t end = line.find('\n');
        if (end != std::string::npos)
            m_address = line.substr(0, end);
    }

    void Serve()
    {
        while (!m_stop && dbus_connection_read_write(m_connection, 20)) {
            while (DBusMessage* message = dbus_connection_pop_message(m_connection)) {
                Handle(message);
                dbus_message_unref(message);
            }
        }
    }

    void Handle(DBusMessage* message)
    {
        if (dbus_message_get_type(message) != DBUS_MESSAGE_TYPE_METHOD_CALL ||
            m_behaviour == EBehaviour::NeverAnswers)
            return;
        DBusMessage* reply = nullptr;
        if (dbus_message_is_method_call(message, "org.freedesktop.DBus.Properties", "Get")) {
            const char* interface = nullptr;
            const char* name = nullptr;
            dbus_message_get_args(message, nullptr, DBUS_TYPE_STRING, &interface, DBUS_TYPE_STRING, &name,
                                  DBUS_TYPE_INVALID);
            reply = dbus_message_new_method_return(message);
            DBusMessageIter iter, variant;
            dbus_message_iter_init_append(reply, &iter);
            if (name != nullptr && std::strcmp(name, "RTTimeUSecMax") == 0) {
                dbus_int64_t value = 200000;
                dbus_message_iter_open_container(&iter, DBUS_TYPE_VARIANT, "x", &variant);
                dbus_message_iter_append_basic(&variant, DBUS_TYPE_INT64, &value);
            } else {
                dbus_int32_t value = 20;
                dbus_message_iter_open_container(&iter, DBUS_TYPE_VARIANT, "i", &variant);
                dbus_message_iter_append_basic(&variant, DBUS_TYPE_INT32, &value);
            }
            dbus_message_iter_close_container(&iter, &variant);
        } else if (dbus_message_is_method_call(message, "org.freedesktop.RealtimeKit1",
                                               "MakeThreadRealtime")) {
            dbus_uint64_t tid = 0;
            dbus_uint32_t priority = 0;
            dbus_message_get_args(message, nullptr, DBUS_TYPE_UINT64, &tid, DBUS_TYPE_UINT32, &priority,
                                  DBUS_TYPE_INVALID);
            // RealtimeKit's burst: a window opens at the first request after the last one ended.
            const auto now = std::chrono::steady_clock::now();
            if (now - m_burstStart > m_burst) {
                m_burstStart = now;
                m_inBurst = 0;
            }
            const bool granted = m_inBurst < m_perBurst;
            m_inBurst += granted ? 1 : 0;
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                m_requests.push_back({tid, priority, dbus_message_get_sender(message), granted});
            }
            if (m_behaviour == EBehaviour::AnswersLate)
                std::this_thread::sleep_for(m_lateBy);
            ++m_answered;
            reply = granted ? dbus_message_new_method_return(message)
                            : dbus_message_new_error(message, DBUS_ERROR_ACCESS_DENIED, "burst limit");
        } else {
            reply = dbus_message_new_error(message, DBUS_ERROR_UNKNOWN_METHOD, "not RealtimeKit's");
        }
        dbus_connection_send(m_connection, reply, nullptr);
        dbus_connection_flush(m_connection);
        dbus_message_unref(reply);
    }

    EBehaviour m_behaviour;
    std::chrono::milliseconds m_lateBy, m_burst;
    int m_perBurst;
    std::string m_address;
    pid_t m_daemon = -1;
    DBusConnection* m_connection = nullptr;
    std::thread m_thread;
    std::atomic<bool> m_stop{false};
    std::atomic<std::size_t> m_answered{0};
    mutable std::mutex m_mutex;
    std::vector<Request> m_requests;
    std::chrono::steady_clock::time_point m_burstStart{};
    int m_inBurst = 0;
};
