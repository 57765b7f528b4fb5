#include "server/Connection.h"

#include "server/ResultsPage.h"
#include "server/Routes.h"
#include "survey/SurveyFields.h"

#include <boost/asio/post.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/core/string.hpp>
#include <boost/beast/http/empty_body.hpp>
#include <boost/beast/http/read.hpp>
#include <boost/beast/http/span_body.hpp>
#include <boost/beast/http/write.hpp>

#include <algorithm>
#include <cstdio>
#include <ctime>

#include <unistd.h>

namespace {

// After an error answer the connection is closed; what the client still sends is read and thrown
// away for a moment so that the close does not reset the connection before the answer arrives.
constexpr std::size_t DRAIN_MAX_BYTES = 64 * 1024;
constexpr std::chrono::milliseconds DRAIN_TIME{1000};

std::string_view PathOf(std::string_view target)
{
    return target.substr(0, target.find('?'));
}

bool IsHttpParseError(const beast::error_code& ec)
{
    return &ec.category() == &http::make_error_code(http::error::bad_method).category();
}

// One line per request: what was asked and how it ended. No address, no query, no body: nothing
// that tells who sent it or what they answered.
void LogRequest(std::string_view method, std::string_view path, unsigned status, std::size_t bytes,
                std::chrono::steady_clock::time_point started)
{
    const std::time_t now = std::time(nullptr);
    std::tm tm{};
    gmtime_r(&now, &tm);
    char when[32];
    std::strftime(when, sizeof when, "%Y-%m-%dT%H:%M:%SZ", &tm);
    const double ms =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - started).count();
    // Only known paths are logged as sent; anything else could carry text from the client.
    const bool known = path == SURVEY_WRITE_PATH || path == SURVEY_RESULTS_PATH || path == EXPORT_PATH;
    const bool knownMethod = method == "GET" || method == "POST" || method == "HEAD";
    std::fprintf(stderr, "%s %.*s %.*s %u %zu %.1fms\n", when,
                 knownMethod ? static_cast<int>(method.size()) : 1, knownMethod ? method.data() : "-",
                 known ? static_cast<int>(path.size()) : 1, known ? path.data() : "-", status, bytes, ms);
}

std::string ErrorPage(unsigned status, std::string_view reason, std::string_view detail)
{
    std::string page = "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\"><title>" +
                       std::to_string(status) + " " + HtmlEscape(reason) + "</title></head><body><h1>" +
                       HtmlEscape(reason) + "</h1>";
    if (!detail.empty())
        page += "<p>" + HtmlEscape(detail) + "</p>";
    return page + "</body></html>\n";
}

} // namespace

CConnection::CConnection(std::shared_ptr<ServerContext> context, tcp::socket socket, asio::ip::address peer,
                         bool pending)
    : m_context(std::move(context)), m_stream(std::move(socket)), m_peer(std::move(peer)),
      m_key(ClientKey(m_peer)), m_pending(pending), m_deadline(m_stream.get_executor())
{
}

CConnection::~CConnection()
{
    m_context->admission.Ended(this, m_key, m_pending);
}

std::optional<std::chrono::steady_clock::time_point> CConnection::EvictableSince() const
{
    if (m_state != State::Idle && m_state != State::ReadingHeader)
        return std::nullopt;
    return m_waitingSince;
}

void CConnection::Evict()
{
    m_state = State::Busy;
    Close();
}

void CConnection::OnServerStop()
{
    if (m_state == State::Idle || m_state == State::ReadingHeader)
        Close();
}

// Reads have deadlines of their own rather than the stream's: the stream closes the socket
// when its time runs out, and a client whose body stalls is owed a 408 first.
void CConnection::ArmDeadline(std::chrono::milliseconds after)
{
    const unsigned armed = ++m_deadlineArmed;
    m_timedOut = false;
    m_deadline.expires_after(after);
    m_deadline.async_wait([weak = weak_from_this(), armed](beast::error_code ec) {
        const auto self = weak.lock();
        if (ec || !self || self->m_deadlineArmed != armed)
            return;
        self->m_timedOut = true;
        beast::error_code ignored;
        self->m_stream.socket().cancel(ignored);
    });
}

void CConnection::Disarm()
{
    ++m_deadlineArmed;
    m_deadline.cancel();
}

// A read that the deadline cut short is a timeout.
beast::error_code CConnection::ReadResult(beast::error_code ec) const
{
    return ec && m_timedOut ? beast::error_code(beast::error::timeout) : ec;
}

void CConnection::ReadNextRequest()
{
    m_state = State::Idle;
    m_waitingSince = std::chrono::steady_clock::now();
    if (m_context->stopping)
        return Close();
    // Waiting for the next request counts against the address as a new connection does.
    if (!m_pending && m_context->admission.CountsPending()) {
        m_pending = true;
        m_context->admission.AcquirePending(m_key);
    }
    m_parser.emplace();
    m_parser->header_limit(MAX_HEADER_BYTES);
    m_parser->body_limit(MAX_BODY_BYTES);
    m_headerBytes = 0;
    m_method.clear();
    m_path.clear();
    m_version = 11;
    m_stream.expires_never();
    if (m_buffer.size() > 0)
        return StartHeader(); // the next request came with the last one
    // Wait for the first bytes apart from the header, so that an idle connection can be told
    // from one that is sending.
    ArmDeadline(Options().idleTimeout);
    m_stream.async_read_some(m_buffer.prepare(MAX_HEADER_BYTES),
                             [self = shared_from_this()](beast::error_code ec, std::size_t n) {
                                 if (ec)
                                     return self->Close();
                                 self->m_buffer.commit(n);
                                 self->StartHeader();
                             });
}

void CConnection::StartHeader()
{
    m_state = State::ReadingHeader;
    m_started = std::chrono::steady_clock::now();
    ArmDeadline(std::min(Options().headerTimeout, Options().idleTimeout));
    ParseHeader();
}

// Hands what has arrived to the parser and reads on until the header is whole. Its bytes are
// counted here across reads: the parser's own limit applies to each read's remainder only.
void CConnection::ParseHeader()
{
    while (m_buffer.size() > 0 && !m_parser->is_header_done()) {
        beast::error_code ec;
        const std::size_t used = m_parser->put(m_buffer.data(), ec);
        m_buffer.consume(used);
        m_headerBytes += used;
        if (ec == http::error::need_more || (!ec && used == 0))
            break;
        if (ec)
            return OnReadError(ec);
    }
    const std::size_t unparsed = m_parser->is_header_done() ? 0 : m_buffer.size();
    if (m_headerBytes + unparsed > MAX_HEADER_BYTES)
        return OnReadError(http::error::header_limit);
    if (m_parser->is_header_done())
        return OnHeader();
    if (m_timedOut)
        return OnReadError(beast::error::timeout);
    // One byte more than the limit allows is enough to know it is exceeded.
    m_stream.async_read_some(m_buffer.prepare(MAX_HEADER_BYTES + 1 - m_headerBytes - unparsed),
                             [self = shared_from_this()](beast::error_code ec, std::size_t n) {
                                 if (ec)
                                     return self->OnReadError(self->ReadResult(ec));
                                 self->m_buffer.commit(n);
                                 self->ParseHeader();
                             });
}

void CConnection::OnHeader()
{
    m_started = std::chrono::steady_clock::now();
    m_state = State::ReadingBody;
    const auto& request = m_parser->get();
    m_method = std::string(request.method_string());
    m_path = std::string(PathOf(request.target()));
    m_version = request.version();
    if (beast::iequals(request[http::field::expect], "100-continue") && !m_parser->is_done()) {
        Disarm();
        auto interim = std::make_shared<http::response<http::empty_body>>(http::status::continue_, m_version);
        m_stream.expires_after(Options().ioTimeout);
        http::async_write(m_stream, *interim,
                          [self = shared_from_this(), interim](beast::error_code ec, std::size_t) {
                              if (ec)
                                  return self->Close();
                              self->m_stream.expires_never();
                              self->ReadBody();
                          });
        return;
    }
    ReadBody();
}

void CConnection::ReadBody()
{
    if (m_parser->is_done())
        return OnRequest();
    ArmDeadline(Options().ioTimeout);
    http::async_read(m_stream, m_buffer, *m_parser,
                     [self = shared_from_this()](beast::error_code ec, std::size_t) {
                         if (ec)
                             return self->OnReadError(self->ReadResult(ec));
                         self->OnRequest();
                     });
}

void CConnection::OnReadError(beast::error_code ec)
{
    Disarm();
    if (ec == http::error::body_limit)
        return RespondError(http::status::payload_too_large, "body larger than 4096 bytes");
    if (ec == http::error::header_limit)
        return RespondError(http::status::request_header_fields_too_large, "");
    // A request that stalls is told so; an idle connection is just closed.
    if (ec == beast::error::timeout && m_state != State::Idle)
        return RespondError(http::status::request_timeout, "");
    // A client that went away gets no answer; one that sent something that is not HTTP is
    // told so.
    if (IsHttpParseError(ec) && ec != http::error::end_of_stream && ec != http::error::partial_message)
        return RespondError(http::status::bad_request, "malformed request");
    Close();
}

void CConnection::OnRequest()
{
    Disarm();
    m_state = State::Busy;
    if (m_pending) {
        m_pending = false;
        m_context->admission.ReleasePending(m_key);
    }
    AnswerRequest(shared_from_this());
}

bool CConnection::KeepAlive(bool wanted) const
{
    return wanted && m_parser && m_parser->is_done() && m_parser->get().keep_alive() && !m_context->stopping;
}

void CConnection::ToBulk(std::function<void(beast::tcp_stream&)> write)
{
    m_frontWork.emplace(m_context->Tracked()); // the connection thread waits for it
    beast::error_code ec;
    tcp::socket socket = m_stream.release_socket();
    const int fd = socket.release(ec);
    if (ec)
        return FromBulkDone(-1, false, false);
    asio::post(m_context->bulkIoc, [self = shared_from_this(), fd, write = std::move(write)]() mutable {
        beast::error_code ec;
        self->m_bulk.emplace(self->m_context->bulkIoc);
        self->m_bulk->socket().assign(self->Protocol(), fd, ec);
        if (ec) {
            ::close(fd);
            return self->FromBulk(false, false);
        }
        write(*self->m_bulk);
    });
}

void CConnection::FromBulk(bool written, bool keepAlive)
{
    beast::error_code ec;
    tcp::socket socket = m_bulk->release_socket();
    const int fd = socket.is_open() ? socket.release(ec) : -1;
    m_bulk.reset();
    asio::post(*m_frontWork, [self = shared_from_this(), fd, written, keepAlive] {
        self->FromBulkDone(fd, written, keepAlive);
    });
}

void CConnection::FromBulkDone(int fd, bool written, bool keepAlive)
{
    m_frontWork.reset();
    beast::error_code ec;
    if (fd >= 0)
        m_stream.socket().assign(Protocol(), fd, ec);
    if (fd < 0 || ec) {
        if (fd >= 0)
            ::close(fd);
        return Close();
    }
    if (!written)
        return Close();
    if (!keepAlive)
        return CloseGracefully();
    ReadNextRequest();
}

template <class Body>
void CConnection::Send(std::shared_ptr<http::response<Body>> response, std::size_t bytes, bool keepAlive)
{
    response->keep_alive(KeepAlive(keepAlive));
    LogAnswer(response->result_int(), bytes);
    m_state = State::Busy;
    Write(std::move(response));
}

template <class Body>
void CConnection::Write(std::shared_ptr<http::response<Body>> response, std::shared_ptr<const void> keep)
{
    m_stream.expires_after(Options().ioTimeout);
    http::async_write(m_stream, *response,
                      [self = shared_from_this(), response, keep](beast::error_code ec, std::size_t) {
                          self->Written(ec, response->keep_alive());
                      });
}

template <class Body>
void CConnection::WriteFromBulk(std::shared_ptr<http::response<Body>> response,
                                std::shared_ptr<const void> keep)
{
    ToBulk([self = shared_from_this(), response, keep](beast::tcp_stream& stream) {
        stream.expires_after(self->Options().ioTimeout);
        http::async_write(stream, *response, [self, response, keep](beast::error_code ec, std::size_t) {
            self->FromBulk(!ec, response->keep_alive());
        });
    });
}

// The bodies the routes answer with: a string (Respond), none (304, HEAD) and the cached page.
template void CConnection::Send(std::shared_ptr<http::response<http::string_body>>, std::size_t, bool);
template void CConnection::Send(std::shared_ptr<http::response<http::empty_body>>, std::size_t, bool);
template void CConnection::Write(std::shared_ptr<http::response<http::span_body<const char>>>,
                                 std::shared_ptr<const void>);
template void CConnection::WriteFromBulk(std::shared_ptr<http::response<http::span_body<const char>>>,
                                         std::shared_ptr<const void>);

void CConnection::Respond(http::status status, std::string body, std::string_view contentType, bool keepAlive,
                          long retryAfterSeconds)
{
    auto response = std::make_shared<http::response<http::string_body>>(status, m_version);
    if (retryAfterSeconds > 0)
        response->set(http::field::retry_after, std::to_string(retryAfterSeconds));
    SetCommonHeaders(*response, contentType);
    response->body() = std::move(body);
    response->prepare_payload();
    const std::size_t bytes = response->body().size();
    Send(std::move(response), bytes, keepAlive);
}

void CConnection::RespondError(http::status status, std::string_view detail, long retryAfterSeconds)
{
    // After a refused request the rest of the stream cannot be trusted: close after answering.
    // A refused token closes too, so that each guess costs a new connection.
    Respond(status, ErrorPage(static_cast<unsigned>(status), http::obsolete_reason(status), detail),
            "text/html; charset=utf-8",
            status == http::status::not_found || status == http::status::method_not_allowed,
            retryAfterSeconds);
}

void CConnection::Written(beast::error_code ec, bool keepAlive)
{
    if (ec)
        return Close();
    if (!keepAlive)
        return CloseGracefully();
    ReadNextRequest();
}

void CConnection::LogAnswer(unsigned status, std::size_t bytes) const
{
    LogRequest(m_method, m_path, status, bytes, m_started);
}

void CConnection::CloseGracefully()
{
    beast::error_code ec;
    m_stream.socket().shutdown(tcp::socket::shutdown_send, ec);
    if (ec)
        return Close();
    m_drained = 0;
    m_stream.expires_after(DRAIN_TIME);
    Drain();
}

void CConnection::Drain()
{
    m_stream.async_read_some(asio::buffer(m_drainBuffer),
                             [self = shared_from_this()](beast::error_code ec, std::size_t n) {
                                 self->m_drained += n;
                                 if (ec || self->m_drained > DRAIN_MAX_BYTES)
                                     return self->Close();
                                 self->Drain();
                             });
}

void CConnection::Close()
{
    beast::error_code ec;
    m_stream.socket().shutdown(tcp::socket::shutdown_both, ec);
    m_stream.close();
}

void ServeConnection(const std::shared_ptr<ServerContext>& context, tcp::socket socket)
{
    beast::error_code ec;
    const asio::ip::address peer = socket.remote_endpoint(ec).address();
    std::shared_ptr<CConnection> connection;
    const bool admitted = !ec && context->admission.Admit(ClientKey(peer), [&](bool pending) {
        connection = std::make_shared<CConnection>(context, std::move(socket), peer, pending);
        return connection;
    });
    if (admitted)
        return connection->Start();
    // Full, or this address holds too many connections that have sent nothing whole: tell the
    // client to come back later and close.
    static constexpr std::string_view busy =
        "HTTP/1.1 503 Service Unavailable\r\nServer: tonvale-survey\r\nContent-Length: 0\r\n"
        "Retry-After: 1\r\nConnection: close\r\n\r\n";
    auto stream = std::make_shared<beast::tcp_stream>(std::move(socket));
    stream->expires_after(std::chrono::seconds(1));
    asio::async_write(*stream, asio::buffer(busy), [stream](beast::error_code, std::size_t) {
        beast::error_code ignored;
        stream->socket().shutdown(tcp::socket::shutdown_both, ignored);
        stream->close();
    });
    LogRequest("-", "-", 503, 0, std::chrono::steady_clock::now());
}
