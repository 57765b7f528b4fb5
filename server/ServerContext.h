#pragma once
// What the connections and their routes share: the options, the store, admission and the
// per-address limits, the results page's cache, and the threads that long work is handed to. The
// server builds it (SurveyServer.cpp) and every connection holds it, so it outlives them all.
//
// Threads: admission may be used from any thread; the limits, the page cache, the submission
// activity and `stopping` belong to the io_context's thread. The page is built on the page thread,
// the export's rows are read on the export thread, and long answers are written from the bulk
// thread; all three run only when the processor has nothing else to do.
#include "server/Admission.h"
#include "server/PageCache.h"
#include "server/SurveyServer.h"

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/thread_pool.hpp>

#include <chrono>
#include <cstddef>
#include <memory>
#include <thread>

// Work handed to other threads comes back through this executor; holding it keeps the io_context
// running until the answer has been delivered.
using TrackedExecutor = decltype(boost::asio::prefer(std::declval<boost::asio::io_context::executor_type>(),
                                                     boost::asio::execution::outstanding_work.tracked));

// Submissions being stored, or answered less than a moment ago: while there are, the page steps
// aside to the bulk thread so that the connection thread spends its time on them.
class CSubmissionActivity {
public:
    void Started() { ++m_inFlight; }
    void Ended()
    {
        --m_inFlight;
        m_lastEnded = std::chrono::steady_clock::now();
    }
    bool UnderWay() const { return m_inFlight > 0 || std::chrono::steady_clock::now() - m_lastEnded < QUIET; }

private:
    static constexpr std::chrono::milliseconds QUIET{100};
    std::size_t m_inFlight = 0;
    std::chrono::steady_clock::time_point m_lastEnded{};
};

struct ServerContext {
    // Starts the page, export and bulk threads.
    ServerContext(boost::asio::io_context& ioc, SurveyServerOptions options, CSurveyStore& store);
    ServerContext(const ServerContext&) = delete;
    ServerContext& operator=(const ServerContext&) = delete;

    // Lets the threads end once what they write has gone out; called after the io_context's loop
    // has returned.
    void JoinThreads();

    TrackedExecutor Tracked()
    {
        return boost::asio::prefer(ioc.get_executor(), boost::asio::execution::outstanding_work.tracked);
    }

    boost::asio::io_context& ioc;
    const SurveyServerOptions options;
    CSurveyStore& store;
    CAdmission admission;
    CSubmissionLimit submissionLimit;
    CTokenGuard tokenGuard;
    CSubmissionActivity submissions;
    boost::asio::thread_pool pagePool{1};
    const std::shared_ptr<CPageCache> pages;
    // The export reads the whole table: on a thread of its own, so that the page never waits.
    boost::asio::thread_pool exportPool{1};
    // Writes the page's and the export's bytes: a connection moves here while its long answer is
    // written, so that the connection thread spends its time on submissions.
    boost::asio::io_context bulkIoc{1};
    boost::asio::executor_work_guard<boost::asio::io_context::executor_type> bulkWork;
    std::thread bulkThread;
    bool stopping = false;
};

// Serves a connection just accepted, or tells it to come back later when admission refuses it
// (Connection.cpp).
void ServeConnection(const std::shared_ptr<ServerContext>& context, boost::asio::ip::tcp::socket socket);
