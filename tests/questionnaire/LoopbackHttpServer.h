#pragma once
// A tiny HTTP server on 127.0.0.1 for the submission tests: it records each request's raw bytes
// exactly as they arrived and answers every connection with one scripted reply.
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class CLoopbackHttpServer {
public:
    enum class After {
        Close, // send the reply, then close the connection
        Hang,  // send the reply (may be empty), then keep the connection open and silent
    };

    // Starts listening on an ephemeral port at once.
    explicit CLoopbackHttpServer(std::string reply = OkWithLength(), After after = After::Close);
    ~CLoopbackHttpServer();
    CLoopbackHttpServer(const CLoopbackHttpServer&) = delete;
    CLoopbackHttpServer& operator=(const CLoopbackHttpServer&) = delete;

    int Port() const { return m_port; }

    // The raw bytes of every complete request received so far (request line, headers and the
    // body that Content-Length announced), in order of arrival.
    std::vector<std::string> Requests() const;
    // Waits until at least `count` requests have arrived; returns whether they did.
    bool WaitForRequests(std::size_t count, int timeoutMs) const;
    // Connections accepted so far.
    std::size_t Connections() const;

    static std::string OkWithLength()
    {
        return "HTTP/1.1 200 OK\r\nContent-Length: 2\r\nContent-Type: text/plain\r\n\r\nOK";
    }

    // A port on which nothing listens (bound once, then released).
    static int UnusedPort();

private:
    void Serve();
    bool ReadRequest(int fd, std::string& request);

    std::string m_reply;
    After m_after;
    int m_listenFd = -1;
    int m_wakeFds[2] = {-1, -1};
    int m_port = 0;
    std::vector<int> m_held; // connections kept open (After::Hang), closed at the end
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_changed;
    std::vector<std::string> m_requests;
    std::size_t m_connections = 0;
    std::thread m_thread;
};

// A request split into its parts, for checks.
struct ParsedRequest {
    std::string requestLine;
    std::vector<std::pair<std::string, std::string>> headers; // names as sent, values trimmed
    std::string body;

    // Every value of header `name` (case-insensitive).
    std::vector<std::string> Values(const std::string& name) const;
};
ParsedRequest ParseRequest(const std::string& raw);
