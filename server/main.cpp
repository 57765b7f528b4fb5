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

#include <sys/stat.h>

namespace {

constexpr const char* USAGE =
    "usage: tonvale-survey --port N --db FILE [--admin-token-file FILE]\n"
    "                      [--listen ADDRESS] [--max-connections N]\n"
    "                      [--max-pending-per-address N] [--submission-burst N]\n"
    "                      [--submissions-per-second N] [--wrong-tokens-per-minute N]\n"
    "                      [--idle-timeout-ms N] [--header-timeout-ms N] [--io-timeout-ms N]\n"
    "  --port N               TCP port (0: any free port; the port is printed)\n"
    "  --db FILE              SQLite database of the submissions (created if missing)\n"
    "  --admin-token-file F   file holding the token that unlocks /export.csv\n"
    "                         (Authorization: Bearer TOKEN); without it the export is off\n"
    "  --listen ADDRESS       address to listen on (default 0.0.0.0)\n"
    "  --max-connections N    connections served at once (default 512)\n"
    "  --max-pending-per-address N\n"
    "                         connections from one address (IPv6: one /64) that are waiting\n"
    "                         for or receiving a request (default 64; 0: no limit, behind a\n"
    "                         reverse proxy)\n"
    "  --submission-burst N   submissions one address may send at once (default 120; 0: no\n"
    "                         limit, behind a reverse proxy)\n"
    "  --submissions-per-second N\n"
    "                         and then how many a second (default 2)\n"
    "  --wrong-tokens-per-minute N\n"
    "                         wrong export tokens taken from all addresses together\n"
    "                         (default 30; 0: no limit)\n"
    "  --idle-timeout-ms N    wait for a request to begin (default 15000)\n"
    "  --header-timeout-ms N  receive a request's header once it has begun (default 5000,\n"
    "                         at most the idle wait)\n"
    "  --io-timeout-ms N      read a body or write an answer (default 10000)\n";

bool ParseNumber(std::string_view text, unsigned long& value, unsigned long max)
{
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return ec == std::errc() && end == text.data() + text.size() && value <= max;
}

// A token file the server refuses to use: the administrator must fix it (exit status 2).
class CBadTokenFile : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

constexpr std::size_t MIN_TOKEN_LENGTH = 16;
// 22 characters of base64 (or 32 hexadecimal digits) carry 128 bits; fewer may be guessable.
constexpr std::size_t WARN_TOKEN_LENGTH = 22;

std::string ReadToken(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    struct stat status {};
    if (!file || stat(path.c_str(), &status) != 0)
        throw CBadTokenFile("cannot read the admin token file " + path);
    // Whoever can read it can export every answer; whoever can write it can choose the token.
    if (status.st_mode & (S_IROTH | S_IWOTH))
        throw CBadTokenFile("the admin token file " + path +
                            " can be read or written by other users; make it readable by the "
                            "server only (e.g. chmod 0640, group of the server's user)");
    std::ostringstream text;
    text << file.rdbuf();
    std::string token = text.str();
    // One final line break is what an editor leaves; anything else is part of the token.
    if (token.ends_with('\n'))
        token.pop_back();
    if (token.ends_with('\r'))
        token.pop_back();
    if (token.size() < MIN_TOKEN_LENGTH)
        throw CBadTokenFile("the admin token in " + path + " is shorter than " +
                            std::to_string(MIN_TOKEN_LENGTH) + " characters");
    // It travels in a header: a space, a line break or a non-ASCII byte would never match.
    for (char c : token) {
        if (c < '!' || c > '~')
            throw CBadTokenFile("the admin token in " + path +
                                " may hold only printable ASCII characters, without spaces, on "
                                "one line");
    }
    return token;
}

// Read by anyone but its owner and group, the database gives away every comment.
std::string DatabaseModeWarning(const std::string& path)
{
    struct stat status {};
    if (stat(path.c_str(), &status) != 0 || !(status.st_mode & S_IROTH))
        return {};
    char mode[8];
    std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(status.st_mode & 07777));
    return "; warning: " + path + " can be read by other users (mode " + mode + ")";
}

} // namespace

int main(int argc, char** argv)
{
    SurveyServerOptions options;
    bool havePort = false;
    std::string tokenFile;
    std::chrono::milliseconds commitDelay{0};
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
        } else if (arg == "--max-pending-per-address") {
            ok = ParseNumber(value, number, 100000);
            options.maxPendingPerAddress = number;
#ifdef TONVALE_SURVEY_TEST_HOOKS
        } else if (arg == "--test-commit-delay-ms") {
            ok = ParseNumber(value, number, 10000);
            commitDelay = std::chrono::milliseconds(number);
#endif
        } else if (arg == "--max-connections") {
            ok = ParseNumber(value, number, 100000) && number > 0;
            options.maxConnections = number;
        } else if (arg == "--idle-timeout-ms") {
            ok = ParseNumber(value, number, 3600000) && number > 0;
            options.idleTimeout = std::chrono::milliseconds(number);
        } else if (arg == "--header-timeout-ms") {
            ok = ParseNumber(value, number, 3600000) && number > 0;
            options.headerTimeout = std::chrono::milliseconds(number);
        } else if (arg == "--submission-burst") {
            ok = ParseNumber(value, number, 1000000);
            options.submissionBurst = static_cast<unsigned>(number);
        } else if (arg == "--submissions-per-second") {
            ok = ParseNumber(value, number, 1000000) && number > 0;
            options.submissionsPerSecond = static_cast<unsigned>(number);
        } else if (arg == "--wrong-tokens-per-minute") {
            ok = ParseNumber(value, number, 1000000);
            options.wrongTokensPerMinute = static_cast<unsigned>(number);
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
        std::string warnings;
        if (!tokenFile.empty()) {
            options.adminToken = ReadToken(tokenFile);
            if (options.adminToken.size() < WARN_TOKEN_LENGTH)
                warnings += "; warning: the admin token is shorter than " +
                            std::to_string(WARN_TOKEN_LENGTH) +
                            " characters (use 128 random bits, e.g. openssl rand -hex 16)";
        }
        const std::string listenAddress = options.listenAddress;

        // A database created here is the server's and its group's only; an existing one keeps
        // its mode, and the start-up line says when others can read it.
        warnings += DatabaseModeWarning(options.dbPath);
        umask(S_IWGRP | S_IRWXO);
        CSurveyStore store(options.dbPath, commitDelay);
        boost::asio::io_context ioc(1);
        CSurveyServer server(ioc, std::move(options), store);
        const unsigned short port = server.Listen();

        boost::asio::signal_set signals(ioc, SIGTERM, SIGINT);
        signals.async_wait([&server](const boost::system::error_code& ec, int) {
            if (!ec)
                server.Stop();
        });

        std::printf("tonvale-survey: listening on %s port %u%s\n", listenAddress.c_str(), port,
                    warnings.c_str());
        std::fflush(stdout);
        ioc.run();
        // Every connection has ended; what was queued for storage has been committed already,
        // since each request waits for its commit.
        store.Stop();
        std::fprintf(stderr, "tonvale-survey: stopped\n");
        return 0;
    } catch (const CBadTokenFile& error) {
        std::fprintf(stderr, "tonvale-survey: %s\n", error.what());
        return 2;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "tonvale-survey: %s\n", error.what());
        return 1;
    }
}
