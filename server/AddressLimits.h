#pragma once
// What one address may do once it is connected: send so many submissions (a burst, then a steady
// rate), and guess the export's token so often (after a few wrong guesses a lockout that doubles
// with each one, and a budget for all addresses together, which bounds guesses from many
// addresses and from behind a proxy alike).
//
// Threads: the io_context's thread only.
#include <boost/asio/ip/address.hpp>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <map>

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
