#include "tests/questionnaire/LoopbackHttpServer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <stdexcept>

namespace {

// A client that stalls mid-request is given up after this long, so the server never sticks.
constexpr int REQUEST_READ_TIMEOUT_MS = 5000;
constexpr std::size_t REQUEST_MAX_BYTES = 1 << 20;

std::string Lower(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
}

std::string Trim(const std::string& text)
{
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string::npos)
        return "";
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

void SendAll(int fd, const std::string& bytes)
{
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n <= 0)
            return; // the client went away; nothing more to do for it
        sent += static_cast<std::size_t>(n);
    }
}

} // namespace

std::vector<std::string> ParsedRequest::Values(const std::string& name) const
{
    std::vector<std::string> values;
    for (const auto& [key, value] : headers) {
        if (Lower(key) == Lower(name))
            values.push_back(value);
    }
    return values;
}

ParsedRequest ParseRequest(const std::string& raw)
{
    ParsedRequest parsed;
    const auto headEnd = raw.find("\r\n\r\n");
    const std::string head = raw.substr(0, headEnd);
    parsed.body = headEnd == std::string::npos ? "" : raw.substr(headEnd + 4);
    std::size_t pos = 0;
    bool first = true;
    while (pos <= head.size()) {
        auto end = head.find("\r\n", pos);
        if (end == std::string::npos)
            end = head.size();
        const std::string line = head.substr(pos, end - pos);
        if (first) {
            parsed.requestLine = line;
            first = false;
        } else if (const auto colon = line.find(':'); colon != std::string::npos) {
            parsed.headers.emplace_back(line.substr(0, colon), Trim(line.substr(colon + 1)));
        }
        pos = end + 2;
    }
    return parsed;
}

CLoopbackHttpServer::CLoopbackHttpServer(std::string reply, After after)
    : m_reply(std::move(reply)), m_after(after)
{
    m_listenFd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (m_listenFd < 0)
        throw std::runtime_error("socket");
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    socklen_t len = sizeof addr;
    if (bind(m_listenFd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        listen(m_listenFd, 16) != 0 ||
        getsockname(m_listenFd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
        close(m_listenFd);
        throw std::runtime_error("bind/listen");
    }
    m_port = ntohs(addr.sin_port);
    if (pipe2(m_wakeFds, O_CLOEXEC) != 0) {
        close(m_listenFd);
        throw std::runtime_error("pipe");
    }
    m_thread = std::thread([this] { Serve(); });
}

CLoopbackHttpServer::~CLoopbackHttpServer()
{
    const char wake = 'x';
    [[maybe_unused]] const ssize_t ignored = write(m_wakeFds[1], &wake, 1);
    m_thread.join();
    for (int fd : m_held)
        close(fd);
    close(m_listenFd);
    close(m_wakeFds[0]);
    close(m_wakeFds[1]);
}

int CLoopbackHttpServer::UnusedPort()
{
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    close(fd);
    return ntohs(addr.sin_port);
}

std::vector<std::string> CLoopbackHttpServer::Requests() const
{
    std::lock_guard lock(m_mutex);
    return m_requests;
}

bool CLoopbackHttpServer::WaitForRequests(std::size_t count, int timeoutMs) const
{
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                              [&] { return m_requests.size() >= count; });
}

std::size_t CLoopbackHttpServer::Connections() const
{
    std::lock_guard lock(m_mutex);
    return m_connections;
}

// Reads one request: the head up to the blank line, then as many body bytes as its Content-Length
// says. Returns false when the client stops sending or the wake pipe fires first.
bool CLoopbackHttpServer::ReadRequest(int fd, std::string& request)
{
    std::size_t wanted = std::string::npos;
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(REQUEST_READ_TIMEOUT_MS);
    while (request.size() < wanted) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            return false;
        pollfd fds[2] = {{fd, POLLIN, 0}, {m_wakeFds[0], POLLIN, 0}};
        if (poll(fds, 2, static_cast<int>(left.count())) <= 0 || fds[1].revents != 0)
            return false;
        char buffer[4096];
        const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0)
            return false;
        request.append(buffer, static_cast<std::size_t>(n));
        if (request.size() > REQUEST_MAX_BYTES)
            return false;
        const auto headEnd = request.find("\r\n\r\n");
        if (wanted == std::string::npos && headEnd != std::string::npos) {
            const auto lengths = ParseRequest(request.substr(0, headEnd + 4)).Values("Content-Length");
            wanted = headEnd + 4 + (lengths.empty() ? 0 : std::stoul(lengths.front()));
        }
    }
    return true;
}

void CLoopbackHttpServer::Serve()
{
    for (;;) {
        pollfd fds[2] = {{m_listenFd, POLLIN, 0}, {m_wakeFds[0], POLLIN, 0}};
        if (poll(fds, 2, -1) < 0 || fds[1].revents != 0)
            return;
        const int fd = accept4(m_listenFd, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0)
            continue;
        {
            std::lock_guard lock(m_mutex);
            ++m_connections;
        }
        std::string request;
        const bool complete = ReadRequest(fd, request);
        if (complete) {
            {
                std::lock_guard lock(m_mutex);
                m_requests.push_back(request);
            }
            m_changed.notify_all();
            SendAll(fd, m_reply);
        }
        if (complete && m_after == After::Hang) {
            m_held.push_back(fd);
        } else {
            // Wait for the client's end before closing, so unread bytes never turn into a reset
            // that could overtake the reply.
            shutdown(fd, SHUT_WR);
            char sink[4096];
            pollfd drain[2] = {{fd, POLLIN, 0}, {m_wakeFds[0], POLLIN, 0}};
            while (poll(drain, 2, 2000) > 0 && drain[1].revents == 0 && recv(fd, sink, sizeof sink, 0) > 0) {}
            close(fd);
        }
    }
}
