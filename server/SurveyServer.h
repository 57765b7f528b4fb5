#pragma once
// The HTTP side of the survey server (Boost.Beast over Asio).
//
// Threads: the connections run on the one thread that runs the io_context. The results page is
// counted on a thread of its own, a batch of new rows at a time, and kept until new submissions
// make it old; the export's rows are read on another; inserts commit on the store's writer
// thread. Long answers (the export, and the page while submissions come in) are written from a
// bulk thread, to which the connection moves for that answer only. The page, export and bulk
// threads run only when nothing else wants the processor, so that submissions are answered as
// fast while they work. All hand their results back to the io_context thread.
#include "server/SurveyStore.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/address.hpp>

#include <chrono>
#include <cstddef>
#include <memory>
#include <string>

struct SurveyServerOptions {
    std::string listenAddress = "0.0.0.0";
    unsigned short port = 80;
    std::string dbPath;
    std::string adminToken; // empty: the export is off
    std::size_t maxConnections = 512;
    // Connections from one address (an IPv6 /64) that are waiting for or receiving a request;
    // 0: no limit (behind a reverse proxy, where every client has the proxy's address).
    std::size_t maxPendingPerAddress = 64;
    // Waiting for a request while nothing of it has arrived (also between requests on a
    // kept-alive connection).
    std::chrono::milliseconds idleTimeout{15000};
    // Receiving a request's header once its first byte has arrived; at most the idle wait.
    std::chrono::milliseconds headerTimeout{5000};
    // Reading a request's body, and writing a response.
    std::chrono::milliseconds ioTimeout{10000};
    // Submissions from one address: this many at once, then this many a second; a burst of 0:
    // no limit (behind a reverse proxy).
    unsigned submissionBurst = 120;
    unsigned submissionsPerSecond = 2;
    // Wrong export tokens the server takes from all addresses together in a minute; 0: no limit.
    unsigned wrongTokensPerMinute = 30;
};

constexpr std::string_view EXPORT_PATH = "/export.csv";
// A request body above this is refused with 413 before it is read.
constexpr std::size_t MAX_BODY_BYTES = 4096;
constexpr std::size_t MAX_HEADER_BYTES = 8192;

class CSurveyServer {
public:
    CSurveyServer(boost::asio::io_context& ioc, SurveyServerOptions options, CSurveyStore& store);
    ~CSurveyServer();
    CSurveyServer(const CSurveyServer&) = delete;
    CSurveyServer& operator=(const CSurveyServer&) = delete;

    // Binds and listens; throws if the address cannot be used. Returns the bound port.
    unsigned short Listen();
    // Stops accepting, closes connections that wait for a request, and lets every request that
    // has arrived be answered; io_context::run returns once they are.
    void Stop();

    class CImpl;

private:
    std::shared_ptr<CImpl> m_impl;
};

// What the per-address limits count against: an IPv4 address, or the /64 network of an IPv6 one
// (a household or a machine is usually given a whole /64, and could otherwise take a new address
// for each connection). An IPv4 address mapped into IPv6 is that IPv4 address.
boost::asio::ip::address ClientKey(const boost::asio::ip::address& peer);

// Compares a presented secret with the configured one; the time taken depends only on the
// configured secret's length.
bool ConstantTimeEquals(std::string_view presented, std::string_view expected);
