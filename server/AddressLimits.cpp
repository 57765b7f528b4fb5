#include "server/AddressLimits.h"

namespace {

// Wrong export tokens from one address: a few are typing mistakes; after them, each further one
// locks the export for that address for twice as long as the last, up to a minute. A failure is
// forgotten a quarter of an hour after the last one.
constexpr int FREE_TOKEN_FAILURES = 3;
constexpr std::chrono::seconds MAX_TOKEN_LOCKOUT{60};
constexpr std::chrono::minutes TOKEN_FAILURE_MEMORY{15};
constexpr std::size_t MAX_REMEMBERED_ADDRESSES = 4096;

} // namespace

long CSubmissionLimit::Take(const boost::asio::ip::address& key)
{
    if (m_burst == 0)
        return 0;
    const double capacity = m_burst;
    const double perSecond = m_perSecond;
    const auto now = std::chrono::steady_clock::now();
    auto it = m_buckets.find(key);
    if (it == m_buckets.end()) {
        if (m_buckets.size() >= MAX_REMEMBERED_ADDRESSES) {
            // A full bucket is the same as none.
            std::erase_if(m_buckets, [&](const auto& entry) {
                TokenBucket bucket = entry.second;
                bucket.Refill(capacity, perSecond, now);
                return bucket.tokens >= capacity;
            });
            if (m_buckets.size() >= MAX_REMEMBERED_ADDRESSES) {
                m_buckets.erase(
                    std::min_element(m_buckets.begin(), m_buckets.end(), [](const auto& a, const auto& b) {
                        return a.second.updated < b.second.updated;
                    }));
            }
        }
        it = m_buckets.emplace(key, TokenBucket{capacity, now}).first;
    }
    it->second.Refill(capacity, perSecond, now);
    return it->second.Take(perSecond);
}

long CTokenGuard::Lockout(const boost::asio::ip::address& key) const
{
    const auto it = m_failures.find(key);
    const auto now = std::chrono::steady_clock::now();
    if (it == m_failures.end() || it->second.lockedUntil <= now)
        return 0;
    return std::chrono::ceil<std::chrono::seconds>(it->second.lockedUntil - now).count();
}

long CTokenGuard::TakeWrongGuess()
{
    if (m_wrongPerMinute == 0)
        return 0;
    const double capacity = m_wrongPerMinute;
    const double perSecond = capacity / 60;
    const auto now = std::chrono::steady_clock::now();
    if (!m_wrongBudgetStarted) {
        m_wrongBudget = TokenBucket{capacity, now};
        m_wrongBudgetStarted = true;
    }
    m_wrongBudget.Refill(capacity, perSecond, now);
    return m_wrongBudget.Take(perSecond);
}

void CTokenGuard::Failed(const boost::asio::ip::address& key)
{
    const auto now = std::chrono::steady_clock::now();
    if (m_failures.size() >= MAX_REMEMBERED_ADDRESSES) {
        std::erase_if(m_failures,
                      [now](const auto& entry) { return now - entry.second.last > TOKEN_FAILURE_MEMORY; });
        // Still full: forget the address whose last failure is oldest.
        if (m_failures.size() >= MAX_REMEMBERED_ADDRESSES) {
            m_failures.erase(
                std::min_element(m_failures.begin(), m_failures.end(),
                                 [](const auto& a, const auto& b) { return a.second.last < b.second.last; }));
        }
    }
    Failures& failures = m_failures[key];
    if (now - failures.last > TOKEN_FAILURE_MEMORY)
        failures.count = 0;
    failures.last = now;
    if (++failures.count > FREE_TOKEN_FAILURES) {
        const int doublings = std::min(failures.count - FREE_TOKEN_FAILURES - 1, 6);
        failures.lockedUntil =
            now + std::min<std::chrono::seconds>(std::chrono::seconds(1L << doublings), MAX_TOKEN_LOCKOUT);
    }
}
