#pragma once
// The results page as it is served: built from the store's counts (not its rows, so a build takes
// as long at a million rows as at a hundred), kept with a strong ETag, and built again only when
// submissions have been committed since, under load at most once a second.
//
// Threads: Get and the deliveries on the io_context's thread; the builds on the page thread that
// the server gives it, which runs only when the processor is otherwise idle, so that neither the
// connections nor the store's writer wait for a build.
#include "server/ResultsPage.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/thread_pool.hpp>

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class CSurveyStore;

// The page as built once, with what identifies it.
struct CachedPage {
    std::string body;
    std::string etag;
    std::size_t generation = 0; // committed submissions it shows
    std::chrono::steady_clock::time_point builtAt;
};

class CPageCache : public std::enable_shared_from_this<CPageCache> {
public:
    using Deliver = std::function<void(std::shared_ptr<const CachedPage>)>;

    CPageCache(boost::asio::io_context& ioc, CSurveyStore& store, boost::asio::thread_pool& builder);

    // Hands the results page to `deliver` on the io_context's thread: the cached one when nothing
    // has been committed since it was built, when it is less than a second old, or while a newer
    // one is being built for someone else; otherwise the page built next, which it waits for (so
    // that who has just sent their results finds them counted). Null if building it failed.
    void Get(Deliver deliver);

private:
    void Built(std::shared_ptr<const CachedPage> page);

    boost::asio::io_context& m_ioc;
    CSurveyStore& m_store;
    boost::asio::thread_pool& m_builder;
    // The store's counts as copied for the last page; the page thread's own.
    CResultsTally m_tally;
    std::shared_ptr<const CachedPage> m_page;
    bool m_building = false;
    std::vector<Deliver> m_waiters;
};
