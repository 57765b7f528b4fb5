#pragma once
// Who is served, and how often. Connections: at most maxConnections at once, and from one address
// (an IPv6 /64) at most maxPendingPerAddress that are waiting for or receiving a request; at
// either limit a connection that has waited longest for its request makes room, or the new one is
// refused. CAdmission also keeps the register of live connections, which the server closes when it
// stops. Requests: one address may send so many submissions (a burst, then a steady rate), and
// guess the export's token so often (after a few wrong guesses a lockout that doubles with each
// one, and a budget for all addresses together, which bounds guesses from many addresses and from
// behind a proxy alike).
//
// Threads: CAdmission from any: a connection's last reference may be dropped on the store's writer
// or a worker thread (a callback that held it finishes there after the answer went out), so the
// register and the counts have a lock of their own; the connections' own functions are called on
// the io_context's thread. CSubmissionLimit and CTokenGuard on the io_context's thread only.
#include <boost/asio/ip/address.hpp>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <unordered_map>
#include <vector>

// What admission needs of a connection.
class CAdmitted {
public:
    virtual ~CAdmitted() = default;
    // What the limits count against (ClientKey of its address).
    virtual const boost::asio::ip::address& Key() const = 0;
    // Waiting for a request, none of it received.
    virtual bool Idle() const = 0;
    // Since when a connection that may be closed to make room has been waiting for its request:
    // one of which nothing has arrived, or whose header is still arriving. Connections that are
    // sending a body or being answered stay.
    virtual std::optional<std::chrono::steady_clock::time_point> EvictableSince() const = 0;
    // Closes it to make room.
    virtual void Evict() = 0;
    // The server is stopping: a connection that waits for a request is closed now; one whose
    // request has arrived is answered first.
    virtual void OnServerStop() = 0;
};

class CAdmission {
public:
    // maxPendingPerAddress 0: no limit per address (behind a reverse proxy).
    CAdmission(std::size_t maxConnections, std::size_t maxPendingPerAddress)
        : m_maxConnections(maxConnections), m_maxPendingPerAddress(maxPendingPerAddress)
    {
    }

    // Registers the connection that `make` creates for a new one from `key`, after closing another
    // to make room if a limit is reached. False, and `make` is not called, when it is refused.
    // `make` is told whether the new connection counts as pending (see CountsPending).
    bool Admit(const boost::asio::ip::address& key,
               const std::function<std::shared_ptr<CAdmitted>(bool pending)>& make);
    // From the connection's destructor; `pending`: it still counted against its address.
    void Ended(CAdmitted* connection, const boost::asio::ip::address& key, bool pending);

    // Whether connections count against their address while they wait for or receive a request.
    bool CountsPending() const { return m_maxPendingPerAddress > 0; }
    void AcquirePending(const boost::asio::ip::address& key);
    void ReleasePending(const boost::asio::ip::address& key);

    // The live connections, at the time of the call.
    std::vector<std::shared_ptr<CAdmitted>> Connections();

private:
    void ReleasePendingLocked(const boost::asio::ip::address& key);

    const std::size_t m_maxConnections;
    const std::size_t m_maxPendingPerAddress;
    std::mutex m_mutex;
    std::unordered_map<CAdmitted*, std::weak_ptr<CAdmitted>> m_connections;
    // Connections per address that have not yet sent a whole request.
    std::map<boost::asio::ip::address, std::size_t> m_pendingByAddress;
};

// A budget refilled at a steady rate, spent one at a time.
struct TokenBucket {
    double tokens = 0;
    std::chrono::steady_clock::time_point updated;

    void Refill(double capacity, double perSecond, std::chrono::steady_clock::time_point now)
    {
        tokens =
            std::min(capacity, tokens + perSecond * std::chrono::duration<double>(now - updated).count());
        updated = now;
    }
    // Spends one and returns 0, or returns the seconds until one is there.
    long Take(double perSecond)
    {
        if (tokens >= 1) {
            tokens -= 1;
            return 0;
        }
        return std::max(1L, static_cast<long>(std::ceil((1 - tokens) / perSecond)));
    }
};

class CSubmissionLimit {
public:
    // A burst of 0: no limit (behind a reverse proxy).
    CSubmissionLimit(unsigned burst, unsigned perSecond) : m_burst(burst), m_perSecond(perSecond) {}

    // Seconds until this address may submit again; 0 when it may now, and then the submission is
    // counted.
    long Take(const boost::asio::ip::address& key);

private:
    const unsigned m_burst;
    const unsigned m_perSecond;
    std::map<boost::asio::ip::address, TokenBucket> m_buckets;
};

class CTokenGuard {
public:
    // 0: wrong guesses from all addresses together are not limited.
    explicit CTokenGuard(unsigned wrongPerMinute) : m_wrongPerMinute(wrongPerMinute) {}

    // Seconds until the export takes a token from this address again; 0 when it does now.
    long Lockout(const boost::asio::ip::address& key) const;
    // Seconds until the server takes another wrong token from anyone; 0 when it does now, and
    // then the guess is counted.
    long TakeWrongGuess();
    void Failed(const boost::asio::ip::address& key);
    void Accepted(const boost::asio::ip::address& key) { m_failures.erase(key); }

private:
    struct Failures {
        int count = 0;
        std::chrono::steady_clock::time_point last;
        std::chrono::steady_clock::time_point lockedUntil;
    };

    const unsigned m_wrongPerMinute;
    std::map<boost::asio::ip::address, Failures> m_failures;
    TokenBucket m_wrongBudget;
    bool m_wrongBudgetStarted = false;
};
