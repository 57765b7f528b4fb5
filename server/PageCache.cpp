#include "server/PageCache.h"

#include "server/SurveyStore.h"

#include <boost/asio/post.hpp>

#include <cstdint>
#include <cstdio>

namespace asio = boost::asio;

namespace {

constexpr std::chrono::seconds PAGE_MIN_AGE{1};

// A strong validator from the bytes themselves, so it survives a restart of the server.
std::string EtagOf(std::string_view body)
{
    std::uint64_t hash = 14695981039346656037ull; // FNV-1a
    for (unsigned char c : body) {
        hash ^= c;
        hash *= 1099511628211ull;
    }
    char text[24];
    std::snprintf(text, sizeof text, "\"%016llx\"", static_cast<unsigned long long>(hash));
    return text;
}

} // namespace

CPageCache::CPageCache(asio::io_context& ioc, CSurveyStore& store, asio::thread_pool& builder)
    : m_ioc(ioc), m_store(store), m_builder(builder)
{
}

void CPageCache::Get(Deliver deliver)
{
    const auto now = std::chrono::steady_clock::now();
    if (m_page && (m_page->generation == m_store.CommittedCount() || now - m_page->builtAt < PAGE_MIN_AGE ||
                   m_building))
        return deliver(m_page);
    m_waiters.push_back(std::move(deliver));
    if (m_building)
        return;
    m_building = true;
    // The answer comes back through a tracked executor: the io_context runs until it is delivered.
    auto back = asio::prefer(m_ioc.get_executor(), asio::execution::outstanding_work.tracked);
    asio::post(m_builder, [self = shared_from_this(), back] {
        std::shared_ptr<const CachedPage> page;
        try {
            CResultsTally& tally = self->m_tally;
            self->m_store.CopyTally(tally);
            auto built = std::make_shared<CachedPage>();
            built->generation = tally.Count();
            built->body = tally.Render();
            built->etag = EtagOf(built->body);
            built->builtAt = std::chrono::steady_clock::now();
            page = std::move(built);
        } catch (const std::exception& error) {
            std::fprintf(stderr, "tonvale-survey: results page failed: %s\n", error.what());
        }
        asio::post(back, [self, page = std::move(page)] { self->Built(page); });
    });
}

void CPageCache::Built(std::shared_ptr<const CachedPage> page)
{
    m_building = false;
    if (page)
        m_page = page;
    auto waiters = std::move(m_waiters);
    m_waiters.clear();
    for (auto& deliver : waiters)
        deliver(page);
}
