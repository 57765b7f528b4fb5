#pragma once
// Runs the real tonvale-survey executable on a loopback port and talks raw HTTP to it.
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <sys/types.h>

class CServerProcess {
public:
    CServerProcess();
    ~CServerProcess();
    CServerProcess(const CServerProcess&) = delete;
    CServerProcess& operator=(const CServerProcess&) = delete;

    // Starts the server on 127.0.0.1 with a free port and waits until it listens. Its standard
    // error goes to `logPath`. Returns false (with the reason in `error`) if it did not come up.
    bool Start(const std::string& dbPath, const std::string& logPath,
               const std::vector<std::string>& extraArgs = {});
    // Runs the server with these arguments (after --port 0 and the database) until it exits by
    // itself; returns its wait status, or -1 if it was still running after `limit`.
    int RunToExit(const std::string& dbPath, const std::string& logPath,
                  const std::vector<std::string>& extraArgs,
                  std::chrono::milliseconds limit = std::chrono::seconds(20));
    // The test build of the server with its hooks (--test-commit-delay-ms).
    void UseTestHooks() { m_executable = m_hooksExecutable; }
    unsigned short Port() const { return m_port; }
    pid_t Pid() const { return m_pid; }
    // Sends the signal and waits for the process; returns its wait status.
    int StopWith(int signal, std::chrono::milliseconds limit = std::chrono::seconds(20));
    bool Running() const { return m_pid > 0; }
    std::string error;
    std::string startLine; // what the server printed once it listened

private:
    std::string m_executable;
    std::string m_hooksExecutable;
    pid_t m_pid = -1;
    unsigned short m_port = 0;
};

// A blocking loopback connection with a receive timeout.
class CRawConnection {
public:
    // `from`: the loopback address to connect from (127.0.0.1 unless given).
    explicit CRawConnection(unsigned short port,
                            std::chrono::milliseconds receiveTimeout = std::chrono::seconds(5),
                            const char* from = nullptr);
    ~CRawConnection();
    CRawConnection(const CRawConnection&) = delete;
    CRawConnection& operator=(const CRawConnection&) = delete;

    bool Connected() const { return m_fd >= 0; }
    bool Send(const std::string& bytes);
    // Reads one response (header and Content-Length body, none for a HEAD request). Empty if the
    // connection ended first.
    std::string ReadResponse(bool toHead = false);
    // Reads until the peer closes (true) or the receive timeout passes (false).
    bool WaitForClose(std::string* rest = nullptr);

private:
    int m_fd = -1;
    std::string m_pending;
};

// "HTTP/1.1 200 OK..." → 200; 0 when it is not a response.
int StatusOf(const std::string& response);
std::string BodyOf(const std::string& response);

// The request exactly as the client sends it: GET with the form body.
std::string WriteRequest(const std::string& body, bool keepAlive = true);
std::string GetRequest(const std::string& path, const std::string& extraHeaders = "");

// The worked example of the write page's body (comment empty).
std::string WorkedExampleBody();
std::string BodyWithComment(const std::string& commentBytes);

// Every row of the submissions table as text cells ("NULL" for NULL), in id order.
std::vector<std::vector<std::string>> ReadAllRows(const std::string& dbPath);
std::int64_t CountRows(const std::string& dbPath);

std::string ReadFile(const std::string& path);
