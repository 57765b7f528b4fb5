// The researcher's export (GET /export.csv): every stored submission as CSV, behind the admin
// token. A wrong token waits as admission's CTokenGuard says; the right one is always taken. The
// rows are read a chunk at a time on the export thread and written as a chunked body from the bulk
// thread, so that only one chunk is in memory at a time.
//
// Threads: the token is judged on the connection thread; then the export thread reads and the bulk
// thread writes, in turn, until the connection goes back.
#include "server/Connection.h"
#include "server/CsvExport.h"
#include "server/Routes.h"

#include <boost/asio/post.hpp>
#include <boost/beast/core/string.hpp>
#include <boost/beast/http/buffer_body.hpp>
#include <boost/beast/http/serializer.hpp>
#include <boost/beast/http/write.hpp>

#include <cstdio>

namespace {

constexpr std::size_t EXPORT_CHUNK_BYTES = 64 * 1024;

// The token the request presents, if it presents one.
std::optional<std::string_view> PresentedToken(const HttpRequest& request)
{
    const std::string_view header = request[http::field::authorization];
    constexpr std::string_view scheme = "Bearer ";
    if (header.size() < scheme.size() || !beast::iequals(header.substr(0, scheme.size()), scheme))
        return std::nullopt;
    return header.substr(scheme.size());
}

// One export under way: the rows' cursor, the chunked response and the chunk being written.
class CExportAnswer : public std::enable_shared_from_this<CExportAnswer> {
public:
    explicit CExportAnswer(std::shared_ptr<CConnection> connection) : m_connection(std::move(connection)) {}

    void Start();

private:
    void ProduceChunk();
    void WriteChunk(bool more, bool failed);
    void End(bool complete);

    const std::shared_ptr<CConnection> m_connection;
    beast::tcp_stream* m_stream = nullptr; // the connection, on the bulk thread
    std::unique_ptr<CCsvExport> m_export;
    std::unique_ptr<http::response<http::buffer_body>> m_response;
    std::unique_ptr<http::response_serializer<http::buffer_body>> m_serializer;
    std::string m_chunk;
    std::size_t m_bytes = 0;
};

void CExportAnswer::Start()
{
    m_response =
        std::make_unique<http::response<http::buffer_body>>(http::status::ok, m_connection->Version());
    auto& response = *m_response;
    response.set(http::field::server, "tonvale-survey");
    response.set(http::field::content_type, "text/csv; charset=utf-8");
    response.set(http::field::content_disposition, "attachment; filename=\"tonvale-survey.csv\"");
    response.set(http::field::cache_control, "no-store");
    response.keep_alive(m_connection->KeepAlive(true));
    response.chunked(true);
    response.body().data = nullptr;
    response.body().more = true;
    m_serializer = std::make_unique<http::response_serializer<http::buffer_body>>(response);
    m_bytes = 0;
    m_connection->ToBulk([self = shared_from_this()](beast::tcp_stream& stream) {
        self->m_stream = &stream;
        stream.expires_after(self->m_connection->Options().ioTimeout);
        http::async_write_header(stream, *self->m_serializer, [self](beast::error_code ec, std::size_t) {
            if (ec)
                return self->End(false);
            self->ProduceChunk();
        });
    });
}

void CExportAnswer::ProduceChunk()
{
    auto back = m_connection->Context().bulkIoc.get_executor();
    asio::post(m_connection->Context().exportPool, [self = shared_from_this(), back] {
        bool more = false;
        bool failed = false;
        self->m_chunk.clear();
        try {
            if (!self->m_export)
                self->m_export = std::make_unique<CCsvExport>(self->m_connection->Options().dbPath);
            more = self->m_export->NextChunk(self->m_chunk, EXPORT_CHUNK_BYTES);
        } catch (const std::exception& error) {
            std::fprintf(stderr, "tonvale-survey: export failed: %s\n", error.what());
            failed = true;
        }
        asio::post(back, [self, more, failed] { self->WriteChunk(more, failed); });
    });
}

void CExportAnswer::WriteChunk(bool more, bool failed)
{
    if (failed)
        return End(false); // the client sees a truncated chunked body, not a success
    auto& body = m_response->body();
    if (!m_chunk.empty()) {
        body.data = m_chunk.data();
        body.size = m_chunk.size();
        body.more = true;
        m_bytes += m_chunk.size();
    } else {
        body.data = nullptr;
        body.size = 0;
        body.more = more;
    }
    const bool last = m_chunk.empty() && !more;
    m_stream->expires_after(m_connection->Options().ioTimeout);
    http::async_write(*m_stream, *m_serializer,
                      [self = shared_from_this(), more, last](beast::error_code ec, std::size_t) {
                          // need_buffer: this chunk went out and the serializer wants the next.
                          if (ec && ec != http::error::need_buffer)
                              return self->End(false);
                          if (last)
                              return self->End(true);
                          if (more)
                              return self->ProduceChunk();
                          self->m_chunk.clear();
                          self->WriteChunk(false, false); // the closing empty chunk
                      });
}

void CExportAnswer::End(bool complete)
{
    m_connection->LogAnswer(complete ? 200 : 500, m_bytes);
    const bool keepAlive = m_response->keep_alive();
    // The cursor is touched only on the export thread; let it go there too.
    asio::post(m_connection->Context().exportPool, [exporter = std::move(m_export)] {});
    m_serializer.reset();
    m_response.reset();
    m_stream = nullptr;
    m_connection->FromBulk(complete, keepAlive);
}

} // namespace

bool ConstantTimeEquals(std::string_view presented, std::string_view expected)
{
    unsigned char difference = presented.size() == expected.size() ? 0 : 1;
    for (std::size_t i = 0; i < expected.size(); ++i) {
        const char c = i < presented.size() ? presented[i] : '\0';
        difference |= static_cast<unsigned char>(c ^ expected[i]);
    }
    // Keep the compiler from ending the loop early once a difference is known.
    volatile unsigned char result = difference;
    return result == 0;
}

void ServeExport(const std::shared_ptr<CConnection>& connection)
{
    const SurveyServerOptions& options = connection->Options();
    if (options.adminToken.empty())
        return connection->RespondError(http::status::not_found, "");
    const auto token = PresentedToken(connection->Request());
    // Only a presented token is a guess; a request without one learns nothing.
    if (!token)
        return connection->RespondError(http::status::forbidden, "");
    // The right token is always taken: a lockout that held it back would let anyone who can
    // guess wrong keep the researcher out. Only wrong guesses wait, per address and in total.
    CTokenGuard& guard = connection->Context().tokenGuard;
    if (!ConstantTimeEquals(*token, options.adminToken)) {
        if (const long wait = guard.Lockout(connection->Key()); wait > 0)
            return connection->RespondError(http::status::too_many_requests, "too many wrong tokens", wait);
        if (const long wait = guard.TakeWrongGuess(); wait > 0)
            return connection->RespondError(http::status::too_many_requests, "too many wrong tokens", wait);
        guard.Failed(connection->Key());
        return connection->RespondError(http::status::forbidden, "");
    }
    guard.Accepted(connection->Key());
    std::make_shared<CExportAnswer>(connection)->Start();
}
