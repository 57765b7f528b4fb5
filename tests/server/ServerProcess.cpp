#include "tests/server/ServerProcess.h"

#include <sqlite3.h>

#include <arpa/inet.h>
#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <netinet/in.h>
#include <poll.h>
#include <sstream>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#ifndef TONVALE_SURVEY_EXE
#error "TONVALE_SURVEY_EXE must name the server executable"
#endif
#ifndef TONVALE_SURVEY_HOOKS_EXE
#error "TONVALE_SURVEY_HOOKS_EXE must name the server's test build"
#endif

namespace {

// In the forked child: becomes the program args[0] with these arguments, or ends.
[[noreturn]] void ExecInChild(std::vector<std::string>& args)
{
    std::vector<char*> argv;
    for (auto& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
}

} // namespace

CServerProcess::CServerProcess()
    : m_executable(TONVALE_SURVEY_EXE), m_hooksExecutable(TONVALE_SURVEY_HOOKS_EXE)
{
}

int CServerProcess::RunToExit(const std::string& dbPath, const std::string& logPath,
                              const std::vector<std::string>& extraArgs, std::chrono::milliseconds limit)
{
    std::vector<std::string> args = {m_executable, "--port", "0", "--listen", "127.0.0.1", "--db", dbPath};
    args.insert(args.end(), extraArgs.begin(), extraArgs.end());
    m_pid = fork();
    if (m_pid == 0) {
        const int log = open(logPath.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        if (log >= 0) {
            dup2(log, STDOUT_FILENO);
            dup2(log, STDERR_FILENO);
        }
        ExecInChild(args);
    }
    int status = 0;
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (waitpid(m_pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            StopWith(SIGKILL);
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    m_pid = -1;
    return status;
}

CServerProcess::~CServerProcess()
{
    if (m_pid > 0)
        StopWith(SIGKILL);
}

bool CServerProcess::Start(const std::string& dbPath, const std::string& logPath,
                           const std::vector<std::string>& extraArgs)
{
    int out[2];
    if (pipe(out) != 0) {
        error = "pipe failed";
        return false;
    }
    std::vector<std::string> args = {m_executable, "--port", "0", "--listen", "127.0.0.1", "--db", dbPath};
    args.insert(args.end(), extraArgs.begin(), extraArgs.end());
    m_pid = fork();
    if (m_pid == 0) {
        dup2(out[1], STDOUT_FILENO);
        const int log = open(logPath.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        if (log >= 0)
            dup2(log, STDERR_FILENO);
        close(out[0]);
        close(out[1]);
        ExecInChild(args);
    }
    close(out[1]);
    // The server prints "... listening on ADDRESS port N" once it accepts connections.
    std::string line;
    pollfd pfd{out[0], POLLIN, 0};
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (line.find('\n') == std::string::npos && std::chrono::steady_clock::now() < deadline) {
        if (poll(&pfd, 1, 100) <= 0)
            continue;
        char buffer[256];
        const ssize_t n = read(out[0], buffer, sizeof buffer);
        if (n <= 0)
            break;
        line.append(buffer, static_cast<std::size_t>(n));
    }
    close(out[0]);
    const std::size_t at = line.rfind(" port ");
    if (at == std::string::npos) {
        error = "the server did not start: '" + line + "'; log: " + ReadFile(logPath);
        StopWith(SIGKILL);
        return false;
    }
    m_port = static_cast<unsigned short>(std::atoi(line.c_str() + at + 6));
    startLine = line.substr(0, line.find('\n'));
    return true;
}

int CServerProcess::StopWith(int signal, std::chrono::milliseconds limit)
{
    if (m_pid <= 0)
        return -1;
    kill(m_pid, signal);
    int status = 0;
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (waitpid(m_pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            kill(m_pid, SIGKILL);
            waitpid(m_pid, &status, 0);
            status = -1;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    m_pid = -1;
    return status;
}

CRawConnection::CRawConnection(unsigned short port, std::chrono::milliseconds receiveTimeout,
                               const char* from)
{
    m_fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (from) {
        // All of 127.0.0.0/8 is this machine: another address there is another client to the
        // server.
        sockaddr_in source{};
        source.sin_family = AF_INET;
        inet_pton(AF_INET, from, &source.sin_addr);
        bind(m_fd, reinterpret_cast<sockaddr*>(&source), sizeof source);
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        close(m_fd);
        m_fd = -1;
        return;
    }
    timeval tv{};
    tv.tv_sec = receiveTimeout.count() / 1000;
    tv.tv_usec = static_cast<suseconds_t>((receiveTimeout.count() % 1000) * 1000);
    setsockopt(m_fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
}

CRawConnection::~CRawConnection()
{
    if (m_fd >= 0)
        close(m_fd);
}

bool CRawConnection::Send(const std::string& bytes)
{
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = send(m_fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        sent += static_cast<std::size_t>(n);
    }
    return true;
}

std::string CRawConnection::ReadResponse(bool toHead)
{
    auto fill = [this] {
        char buffer[8192];
        const ssize_t n = recv(m_fd, buffer, sizeof buffer, 0);
        if (n <= 0)
            return false;
        m_pending.append(buffer, static_cast<std::size_t>(n));
        return true;
    };
    std::size_t headerEnd;
    while ((headerEnd = m_pending.find("\r\n\r\n")) == std::string::npos) {
        if (!fill())
            return {};
    }
    std::size_t length = 0;
    std::string header = m_pending.substr(0, headerEnd);
    for (auto& c : header)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    const std::size_t at = header.find("\r\ncontent-length:");
    if (at != std::string::npos && !toHead)
        length = std::strtoul(header.c_str() + at + 17, nullptr, 10);
    if (header.find("\r\ntransfer-encoding: chunked") != std::string::npos && !toHead) {
        // Up to the last chunk; the chunks are left as they came.
        std::size_t end;
        while ((end = m_pending.find("\r\n0\r\n\r\n", headerEnd)) == std::string::npos) {
            if (!fill())
                return {};
        }
        length = end + 7 - (headerEnd + 4);
    }
    while (m_pending.size() < headerEnd + 4 + length) {
        if (!fill())
            return {};
    }
    std::string response = m_pending.substr(0, headerEnd + 4 + length);
    m_pending.erase(0, headerEnd + 4 + length);
    return response;
}

bool CRawConnection::WaitForClose(std::string* rest)
{
    for (;;) {
        char buffer[4096];
        const ssize_t n = recv(m_fd, buffer, sizeof buffer, 0);
        if (n == 0 || (n < 0 && errno == ECONNRESET))
            return true;
        if (n < 0)
            return false;
        if (rest)
            rest->append(buffer, static_cast<std::size_t>(n));
    }
}

int StatusOf(const std::string& response)
{
    if (response.rfind("HTTP/1.", 0) != 0 || response.size() < 12)
        return 0;
    return std::atoi(response.c_str() + 9);
}

std::string BodyOf(const std::string& response)
{
    const std::size_t at = response.find("\r\n\r\n");
    return at == std::string::npos ? std::string() : response.substr(at + 4);
}

std::string WriteRequest(const std::string& body, bool keepAlive)
{
    return "GET /Questionnaire/TonvaleWrite.asp HTTP/1.1\r\nHost: 127.0.0.1\r\n"
           "User-Agent: WININET Sample Program\r\n"
           "Content-Type: application/x-www-form-urlencoded\r\n"
           "Content-Length: " +
           std::to_string(body.size()) + "\r\n" + (keepAlive ? "" : "Connection: close\r\n") + "\r\n" + body;
}

std::string GetRequest(const std::string& path, const std::string& extraHeaders)
{
    return "GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" + extraHeaders + "\r\n";
}

std::string BodyWithComment(const std::string& commentBytes)
{
    return "date_time=2008/03/05 14:07:09&sex=male&age=30 years old&min_freq=35&max_freq=15000"
           "&min_interval55=not finished&min_interval110=not finished&min_interval220=not finished"
           "&min_interval440=8&min_interval880=not finished&min_interval1760=not finished"
           "&min_interval3520=not finished&min_interval7040=not finished"
           "&instrument=less than 10 years&school=music class&comment=" +
           commentBytes;
}

std::string WorkedExampleBody()
{
    return BodyWithComment("");
}

std::vector<std::vector<std::string>> ReadAllRows(const std::string& dbPath)
{
    std::vector<std::vector<std::string>> rows;
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(dbPath.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
        sqlite3_close(db);
        return rows;
    }
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(db, "SELECT * FROM submissions ORDER BY id", -1, &stmt, nullptr) == SQLITE_OK) {
        while (sqlite3_step(stmt) == SQLITE_ROW) {
            std::vector<std::string> row;
            for (int c = 0; c < sqlite3_column_count(stmt); ++c) {
                if (sqlite3_column_type(stmt, c) == SQLITE_NULL)
                    row.emplace_back("NULL");
                else
                    row.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(stmt, c)),
                                     static_cast<std::size_t>(sqlite3_column_bytes(stmt, c)));
            }
            rows.push_back(std::move(row));
        }
    }
    sqlite3_finalize(stmt);
    sqlite3_close(db);
    return rows;
}

std::int64_t CountRows(const std::string& dbPath)
{
    return static_cast<std::int64_t>(ReadAllRows(dbPath).size());
}

std::string ReadFile(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}
