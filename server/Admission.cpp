#include "server/Admission.h"

#include "server/SurveyServer.h"

#include <algorithm>

namespace asio = boost::asio;

namespace {

// Wrong export tokens from one address: a few are typing mistakes; after them, each further one
// locks the export for that address for twice as long as the last, up to a minute. A failure is
// forgotten a quarter of an hour after the last one.
constexpr int FREE_TOKEN_FAILURES = 3;
constexpr std::chrono::seconds MAX_TOKEN_LOCKOUT{60};
constexpr std::chrono::minutes TOKEN_FAILURE_MEMORY{15};
constexpr std::size_t MAX_REMEMBERED_ADDRESSES = 4096;

} // namespace

asio::ip::address ClientKey(const asio::ip::address& peer)
{
    if (!peer.is_v6())
        return peer;
    const asio::ip::address_v6 v6 = peer.to_v6();
    if (v6.is_v4_mapped())
        return asio::ip::make_address_v4(asio::ip::v4_mapped, v6);
    asio::ip::address_v6::bytes_type bytes = v6.to_bytes();
    std::fill(bytes.begin() + 8, bytes.end(), 0);
    return asio::ip::address_v6(bytes);
}

bool CAdmission::Admit(const asio::ip::address& key,
                       const std::function<std::shared_ptr<CAdmitted>(bool pending)>& make)
{
    const std::size_t perAddress = m_maxPendingPerAddress;
    std::shared_ptr<CAdmitted> evicted;
    // References taken under the lock are dropped after it: the last one ends its connection,
    // which takes the lock.
    std::vector<std::shared_ptr<CAdmitted>> looked;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        const auto pending = m_pendingByAddress.find(key);
        const bool atAddressLimit =
            perAddress > 0 && pending != m_pendingByAddress.end() && pending->second >= perAddress;
        const bool full = m_connections.size() >= m_maxConnections;
        if (atAddressLimit || full) {
            for (auto& entry : m_connections) {
                if (auto candidate = entry.second.lock())
                    looked.push_back(std::move(candidate));
            }
        }
        // Choose the connection that has waited longest among those `may` allows.
        auto longestWaiting = [&looked](auto may) {
            std::shared_ptr<CAdmitted> chosen;
            std::optional<std::chrono::steady_clock::time_point> oldest;
            for (const auto& candidate : looked) {
                const auto since = candidate->EvictableSince();
                if (since && may(*candidate) && (!oldest || *since < *oldest)) {
                    oldest = since;
                    chosen = candidate;
                }
            }
            return chosen;
        };
        if (atAddressLimit) {
            // A browser keeps several connections open for later: the address's own idle one
            // that has waited longest makes way. Only connections whose requests are arriving
            // keep the address out.
            evicted = longestWaiting([&key](const CAdmitted& c) { return c.Idle() && c.Key() == key; });
            if (!evicted)
                return false;
        } else if (full) {
            // Full: make room by closing the connection that has waited longest for its request,
            // idle or with its header still arriving (each header has a deadline of its own).
            // Connections that are sending a body or being answered stay.
            evicted = longestWaiting([](const CAdmitted&) { return true; });
            if (!evicted)
                return false;
        }
        const std::shared_ptr<CAdmitted> connection = make(perAddress > 0);
        m_connections.emplace(connection.get(), connection);
        if (perAddress > 0)
            ++m_pendingByAddress[key];
    }
    // Outside the lock: dropping a reference may end a connection, which takes the lock.
    if (evicted)
        evicted->Evict();
    return true;
}

void CAdmission::Ended(CAdmitted* connection, const asio::ip::address& key, bool pending)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_connections.erase(connection);
    if (pending)
        ReleasePendingLocked(key);
}

void CAdmission::AcquirePending(const asio::ip::address& key)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    ++m_pendingByAddress[key];
}

void CAdmission::ReleasePending(const asio::ip::address& key)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    ReleasePendingLocked(key);
}

void CAdmission::ReleasePendingLocked(const asio::ip::address& key)
{
    const auto it = m_pendingByAddress.find(key);
    if (it != m_pendingByAddress.end() && --it->second == 0)
        m_pendingByAddress.erase(it);
}

std::vector<std::shared_ptr<CAdmitted>> CAdmission::Connections()
{
    std::vector<std::shared_ptr<CAdmitted>> connections;
    std::lock_guard<std::mutex> lock(m_mutex);
    for (auto& entry : m_connections) {
        if (auto connection = entry.second.lock())
            connections.push_back(std::move(connection));
    }
    return connections;
}

long CSubmissionLimit::Take(const asio::ip::address& key)
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

long CTokenGuard::Lockout(const asio::ip::address& key) const
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

void CTokenGuard::Failed(const asio::ip::address& key)
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
