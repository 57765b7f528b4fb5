// The results page (GET and HEAD): served from the page cache with its ETag, and answered 304 when
// the browser's copy is still current. While nobody is sending results the page is written from
// the connection thread, where moving the connection would cost more than the write; while
// submissions come in, it steps aside to the bulk thread.
//
// Threads: the connection thread; the page's bytes, when it steps aside, from the bulk thread.
#include "server/Connection.h"
#include "server/Routes.h"

#include <boost/beast/http/empty_body.hpp>
#include <boost/beast/http/span_body.hpp>

namespace {

// If-None-Match: "*" or a list of tags, weak ones ("W/...") compared by their tag.
bool EtagMatches(std::string_view header, std::string_view etag)
{
    while (!header.empty()) {
        const std::size_t comma = header.find(',');
        std::string_view tag = header.substr(0, comma);
        header = comma == std::string_view::npos ? std::string_view() : header.substr(comma + 1);
        while (!tag.empty() && (tag.front() == ' ' || tag.front() == '\t'))
            tag.remove_prefix(1);
        while (!tag.empty() && (tag.back() == ' ' || tag.back() == '\t'))
            tag.remove_suffix(1);
        if (tag.starts_with("W/"))
            tag.remove_prefix(2);
        if (tag == "*" || tag == etag)
            return true;
    }
    return false;
}

template <class Fields> void SetPageHeaders(Fields& response, const CachedPage& page)
{
    CConnection::SetCommonHeaders(response, "text/html; charset=utf-8");
    // The browser may keep the page, but asks each time whether it is still current.
    response.set(http::field::cache_control, "no-cache");
    response.set(http::field::etag, page.etag);
}

void RespondPage(const std::shared_ptr<CConnection>& connection, std::shared_ptr<const CachedPage> page,
                 bool head)
{
    const std::string_view match = connection->Request()[http::field::if_none_match];
    if (!match.empty() && EtagMatches(match, page->etag)) {
        auto response = std::make_shared<http::response<http::empty_body>>(http::status::not_modified,
                                                                           connection->Version());
        SetPageHeaders(*response, *page);
        return connection->Send(std::move(response), 0);
    }
    if (head) {
        auto response =
            std::make_shared<http::response<http::empty_body>>(http::status::ok, connection->Version());
        SetPageHeaders(*response, *page);
        response->content_length(page->body.size());
        return connection->Send(std::move(response), 0);
    }
    // The cached bytes go out as they are; the response keeps them alive until written.
    auto response = std::make_shared<http::response<http::span_body<const char>>>(http::status::ok,
                                                                                  connection->Version());
    SetPageHeaders(*response, *page);
    response->body() = beast::span<const char>(page->body.data(), page->body.size());
    const std::size_t bytes = page->body.size();
    response->content_length(bytes);
    response->keep_alive(connection->KeepAlive(true));
    connection->LogAnswer(response->result_int(), bytes);
    if (!connection->Context().submissions.UnderWay())
        return connection->Write(std::move(response), std::move(page));
    connection->WriteFromBulk(std::move(response), std::move(page));
}

} // namespace

void ServeResultsPage(const std::shared_ptr<CConnection>& connection, bool head)
{
    connection->Context().pages->Get([connection, head](std::shared_ptr<const CachedPage> page) {
        if (!page)
            return connection->RespondError(http::status::internal_server_error, "");
        RespondPage(connection, std::move(page), head);
    });
}
