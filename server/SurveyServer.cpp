#include "server/SurveyServer.h"

#include "server/ServerContext.h"

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/steady_timer.hpp>

#include <cstdio>

#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>

namespace asio = boost::asio;
using tcp = asio::ip::tcp;

namespace {

constexpr int BACKGROUND_NICE = 10;

// Makes the calling thread run only when the processor has nothing else to do: a connection or
// the store's writer that wakes up takes the processor from it at once (a lower priority alone
// lets it run on for a while). Where that is refused, a lower priority.
void RunInBackground()
{
    sched_param param{};
    if (pthread_setschedparam(pthread_self(), SCHED_IDLE, &param) != 0)
        setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), BACKGROUND_NICE);
}

} // namespace

ServerContext::ServerContext(asio::io_context& ioContext, SurveyServerOptions serverOptions,
                             CSurveyStore& surveyStore)
    : ioc(ioContext), options(std::move(serverOptions)), store(surveyStore),
      admission(options.maxConnections, options.maxPendingPerAddress),
      submissionLimit(options.submissionBurst, options.submissionsPerSecond),
      tokenGuard(options.wrongTokensPerMinute), pages(std::make_shared<CPageCache>(ioc, store, pagePool)),
      bulkWork(bulkIoc.get_executor())
{
    // Counting rows for the page, reading them for the export and writing long answers is
    // background work: on a busy machine the connections and the store's writer get the
    // processor first, so that submissions are answered as fast while pages and exports go out.
    for (asio::thread_pool* pool : {&pagePool, &exportPool})
        asio::post(*pool, [] { RunInBackground(); });
    bulkThread = std::thread([this] {
        RunInBackground();
        bulkIoc.run();
    });
}

void ServerContext::JoinThreads()
{
    pagePool.join();
    exportPool.join();
    bulkWork.reset();
    if (bulkThread.joinable())
        bulkThread.join();
}

// The listening socket; the connections it accepts hold the shared context, not this.
class CSurveyServer::CImpl : public std::enable_shared_from_this<CImpl> {
public:
    CImpl(asio::io_context& ioc, SurveyServerOptions options, CSurveyStore& store)
        : m_context(std::make_shared<ServerContext>(ioc, std::move(options), store)), m_acceptor(ioc),
          m_retryTimer(ioc)
    {
    }

    unsigned short Listen()
    {
        const SurveyServerOptions& options = m_context->options;
        const tcp::endpoint endpoint(asio::ip::make_address(options.listenAddress), options.port);
        m_acceptor.open(endpoint.protocol());
        m_acceptor.set_option(asio::socket_base::reuse_address(true));
        m_acceptor.bind(endpoint);
        m_acceptor.listen(asio::socket_base::max_listen_connections);
        Accept();
        return m_acceptor.local_endpoint().port();
    }

    void Accept();
    void Stop();

    const std::shared_ptr<ServerContext> m_context;
    tcp::acceptor m_acceptor;
    asio::steady_timer m_retryTimer;
};

void CSurveyServer::CImpl::Accept()
{
    m_acceptor.async_accept([self = shared_from_this()](boost::system::error_code ec, tcp::socket socket) {
        if (self->m_context->stopping)
            return;
        if (ec) {
            // Out of descriptors or the like: wait a little rather than spin.
            std::fprintf(stderr, "tonvale-survey: accept failed: %s\n", ec.message().c_str());
            self->m_retryTimer.expires_after(std::chrono::milliseconds(100));
            self->m_retryTimer.async_wait([self](boost::system::error_code) {
                if (!self->m_context->stopping)
                    self->Accept();
            });
            return;
        }
        ServeConnection(self->m_context, std::move(socket));
        self->Accept();
    });
}

void CSurveyServer::CImpl::Stop()
{
    if (m_context->stopping)
        return;
    m_context->stopping = true;
    boost::system::error_code ec;
    m_acceptor.close(ec);
    m_retryTimer.cancel();
    // Closing a connection may end it, which takes admission's lock: the list is a copy.
    for (const auto& connection : m_context->admission.Connections())
        connection->OnServerStop();
}

CSurveyServer::CSurveyServer(asio::io_context& ioc, SurveyServerOptions options, CSurveyStore& store)
    : m_impl(std::make_shared<CImpl>(ioc, std::move(options), store))
{
}

CSurveyServer::~CSurveyServer()
{
    m_impl->m_context->JoinThreads();
}

unsigned short CSurveyServer::Listen()
{
    return m_impl->Listen();
}

void CSurveyServer::Stop()
{
    asio::post(m_impl->m_context->ioc, [impl = m_impl] { impl->Stop(); });
}
