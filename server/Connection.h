#pragma once
// One client's connection: reads each request (the idle, header and body deadlines, the header's
// size however it is cut up, "100-continue"), hands it to its route, writes the answer, and then
// reads the next request or closes; after a refused request it first drains what the client still
// sends, so that the close does not reset the connection before the answer arrives. A long answer
// is written from the bulk thread, to which the connection moves for that answer only.
//
// Threads: the io_context's thread, and between ToBulk and FromBulk the bulk thread alone. The
// last reference may be dropped on any thread (a callback that held it finishes on the store's
// writer or a worker thread).
#include "server/Admission.h"
#include "server/ServerContext.h"

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/beast/core/error.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/core/tcp_stream.hpp>
#include <boost/beast/http/message.hpp>
#include <boost/beast/http/parser.hpp>
#include <boost/beast/http/string_body.hpp>

#include <array>
#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

// The short names every file of the server that speaks HTTP uses.
namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;

using HttpRequest = http::request<http::string_body>;

class CConnection : public CAdmitted, public std::enable_shared_from_this<CConnection> {
public:
    // `pending`: the connection counts against its address's limit while it waits for or
    // receives a request.
    CConnection(std::shared_ptr<ServerContext> context, tcp::socket socket, asio::ip::address peer,
                bool pending);
    ~CConnection() override;

    void Start() { ReadNextRequest(); }

    const asio::ip::address& Key() const override { return m_key; }
    bool Idle() const override { return m_state == State::Idle; }
    std::optional<std::chrono::steady_clock::time_point> EvictableSince() const override;
    void Evict() override;
    void OnServerStop() override;

    // For the routes, once the request is whole.
    ServerContext& Context() const { return *m_context; }
    const SurveyServerOptions& Options() const { return m_context->options; }
    const HttpRequest& Request() const { return m_parser->get(); }
    const std::string& Path() const { return m_path; } // the target without its query
    unsigned Version() const { return m_version; }

    // Answers with `body`; `keepAlive`: the connection may stay open after it (when the client
    // asks for that and the server is not stopping).
    void Respond(http::status status, std::string body, std::string_view contentType, bool keepAlive,
                 long retryAfterSeconds = 0);
    // An error page; the connection closes after it, except after 404 and 405.
    void RespondError(http::status status, std::string_view detail, long retryAfterSeconds = 0);
    // Logs a short response and writes it from the connection thread.
    template <class Body>
    void Send(std::shared_ptr<http::response<Body>> response, std::size_t bytes, bool keepAlive = true);
    // Writes the response from the connection thread, then reads the next request or closes;
    // `keep` lives until it is written.
    template <class Body>
    void Write(std::shared_ptr<http::response<Body>> response, std::shared_ptr<const void> keep = nullptr);
    // The same from the bulk thread: the connection moves there for this answer and comes back.
    template <class Body>
    void WriteFromBulk(std::shared_ptr<http::response<Body>> response, std::shared_ptr<const void> keep);
    // (These three are compiled once, in Connection.cpp, for the bodies the routes answer with.)
    // The headers every answer carries.
    template <class Message> static void SetCommonHeaders(Message& response, std::string_view contentType);
    // Whether the connection stays open after this answer.
    bool KeepAlive(bool wanted) const;
    // The request's log line, for an answer the route writes itself.
    void LogAnswer(unsigned status, std::size_t bytes) const;

    // Moves the connection to the bulk thread, where `write` gets a stream of it and must end with
    // FromBulk. Nothing else of the connection runs meanwhile: the connection thread takes it up
    // again only when FromBulk hands it back.
    void ToBulk(std::function<void(beast::tcp_stream&)> write);
    // On the bulk thread: the answer has gone out (`written`), or not; the connection goes back.
    void FromBulk(bool written, bool keepAlive);

private:
    // Idle: waiting for a request, none of it received. Busy: answering (or being closed).
    enum class State { Idle, ReadingHeader, ReadingBody, Busy };

    void ArmDeadline(std::chrono::milliseconds after);
    void Disarm();
    beast::error_code ReadResult(beast::error_code ec) const;
    void ReadNextRequest();
    void StartHeader();
    void ParseHeader();
    void OnHeader();
    void ReadBody();
    void OnReadError(beast::error_code ec);
    void OnRequest();
    void Written(beast::error_code ec, bool keepAlive);
    void FromBulkDone(int fd, bool written, bool keepAlive);
    tcp Protocol() const { return m_peer.is_v6() ? tcp::v6() : tcp::v4(); }
    void CloseGracefully();
    void Drain();
    void Close();

    const std::shared_ptr<ServerContext> m_context;
    beast::tcp_stream m_stream;
    const asio::ip::address m_peer;
    const asio::ip::address m_key; // what the limits count against
    bool m_pending;
    std::chrono::steady_clock::time_point m_waitingSince;
    asio::steady_timer m_deadline;
    unsigned m_deadlineArmed = 0; // which arming a firing belongs to
    bool m_timedOut = false;
    std::size_t m_headerBytes = 0;
    beast::flat_buffer m_buffer{MAX_HEADER_BYTES + MAX_BODY_BYTES};
    std::optional<http::request_parser<http::string_body>> m_parser;
    State m_state = State::Idle;
    std::string m_method;
    std::string m_path;
    unsigned m_version = 11;
    std::chrono::steady_clock::time_point m_started = std::chrono::steady_clock::now();

    // While a long answer is written from the bulk thread: the connection there, and what keeps
    // the connection thread's loop waiting for it to come back.
    std::optional<beast::tcp_stream> m_bulk;
    std::optional<TrackedExecutor> m_frontWork;

    std::array<char, 4096> m_drainBuffer{};
    std::size_t m_drained = 0;
};

template <class Message> void CConnection::SetCommonHeaders(Message& response, std::string_view contentType)
{
    response.set(http::field::server, "tonvale-survey");
    response.set(http::field::content_type, contentType);
    response.set(http::field::cache_control, "no-store");
    response.set("X-Content-Type-Options", "nosniff");
    // The pages need no script, no outside resource and nothing but their own inline style.
    response.set("Content-Security-Policy", "default-src 'none'; style-src 'unsafe-inline'; img-src data:; "
                                            "frame-ancestors 'none'; form-action 'none'; base-uri 'none'");
    response.set("Referrer-Policy", "no-referrer");
}
