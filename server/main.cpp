// tonvale-survey: the questionnaire server that Tonvale sends its results to.
#include "server/SurveyServer.h"
#include "server/SurveyStore.h"

#include <boost/asio/signal_set.hpp>

#include <charconv>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string_view>

namespace {

constexpr const char* USAGE =
    "usage: tonvale-survey --port N --db FILE [--admin-token-file FILE]\n"
    "                      [--listen ADDRESS] [--max-connections N]\n"
    "                      [--idle-timeout-ms N] [--io-timeout-ms N]\n"
    "  --port N               TCP port (0: any free port; the port is printed)\n"
    "  --db FILE              SQLite database of the submissions (created if missing)\n"
    "  --admin-token-file F   file holding the token that unlocks /export.csv\n"
    "                         (Authorization: Bearer TOKEN); without it the export is off\n"
    "  --listen ADDRESS       address to listen on (default 0.0.0.0)\n"
    "  --max-connections N    connections served at once (default 512)\n"
    "  --idle-timeout-ms N    wait for a request's header (default 15000)\n"
    "  --io-timeout-ms N      read a body or write an answer (default 10000)\n";

bool ParseNumber(std::string_view text, unsigned long& value, unsigned long max)
{
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return ec == std::errc() && end == text.data() + text.size() && value <= max;
}

std::string ReadToken(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    if (!file)
        throw std::runtime_error("cannot read the admin token file " + path);
    std::ostringstream text;
    text << file.rdbuf();
    std::string token = text.str();
    while (!token.empty() && (token.back() == '\n' || token.back() == '\r' || token.back() == ' ' ||
                              token.back() == '\t'))
        token.pop_back();
    if (token.empty())
        throw std::runtime_error("the admin token file " + path + " is empty");
    return token;
}

} // namespace

int main(int argc, char** argv)
{
    SurveyServerOptions options;
    bool havePort = false;
    std::string tokenFile;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            std::cout << USAGE;
            return 0;
        }
        if (i + 1 >= argc) {
            std::cerr << "tonvale-survey: " << arg << " needs a value\n" << USAGE;
            return 2;
        }
        const std::string_view value = argv[++i];
        unsigned long number = 0;
        bool ok = true;
        if (arg == "--port") {
            ok = ParseNumber(value, number, 65535);
            options.port = static_cast<unsigned short>(number);
            havePort = ok;
        } else if (arg == "--db") {
            options.dbPath = value;
        } else if (arg == "--admin-token-file") {
            tokenFile = value;
        } else if (arg == "--listen") {
            options.listenAddress = value;
        } else if (arg == "--max-connections") {
            ok = ParseNumber(value, number, 100000) && number > 0;
            options.maxConnections = number;
        } else if (arg == "--idle-timeout-ms") {
            ok = ParseNumber(value, number, 3600000) && number > 0;
            options.idleTimeout = std::chrono::milliseconds(number);
        } else if (arg == "--io-timeout-ms") {
            ok = ParseNumber(value, number, 3600000) && number > 0;
            options.ioTimeout = std::chrono::milliseconds(number);
        } else {
            std::cerr << "tonvale-survey: unknown option " << arg << "\n" << USAGE;
            return 2;
        }
        if (!ok) {
            std::cerr << "tonvale-survey: bad value for " << arg << "\n" << USAGE;
            return 2;
        }
    }
    if (!havePort || options.dbPath.empty()) {
        std::cerr << USAGE;
        return 2;
    }

    try {
        if (!tokenFile.empty())
            options.adminToken = ReadToken(tokenFile);
        const std::string listenAddress = options.listenAddress;

        CSurveyStore store(options.dbPath);
        boost::asio::io_context ioc(1);
        CSurveyServer server(ioc, std::move(options), store);
        const unsigned short port = server.Listen();

        boost::asio::signal_set signals(ioc, SIGTERM, SIGINT);
        signals.async_wait([&server](const boost::system::error_code& ec, int) {
            if (!ec)
                server.Stop();
        });

        std::printf("tonvale-survey: listening on %s port %u\n", listenAddress.c_str(), port);
        std::fflush(stdout);
        ioc.run();
        // Every connection has ended; what was queued for storage has been committed already,
        // since each request waits for its commit.
        store.Stop();
        std::fprintf(stderr, "tonvale-survey: stopped\n");
        return 0;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "tonvale-survey: %s\n", error.what());
        return 1;
    }
}
