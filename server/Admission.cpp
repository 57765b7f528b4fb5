#include "server/Admission.h"

#include "server/SurveyServer.h"

#include <algorithm>

namespace asio = boost::asio;

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
