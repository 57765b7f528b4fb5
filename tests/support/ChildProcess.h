#pragma once
// Runs a program to its end with its output captured in files, for tests of whole programs (ours,
// or a headless browser). A program that overstays is killed with its whole process group.
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

struct CChildResult {
    int exitStatus = -1; // -1 when it did not exit by itself
    std::string out, err;
};

inline std::string ReadWholeFile(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Runs `args` (args[0] a path) in `workDir`, with `unset` removed from its environment; its output
// goes through files in `scratchDir`.
inline CChildResult RunChild(const std::vector<std::string>& args, const std::filesystem::path& workDir,
                             const std::filesystem::path& scratchDir,
                             const std::vector<std::string>& unset = {},
                             std::chrono::seconds limit = std::chrono::seconds(90))
{
    const std::string outPath = (scratchDir / "child.out").string(),
                      errPath = (scratchDir / "child.err").string();
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int in = ::open("/dev/null", O_RDONLY);
        const int out = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ::dup2(in, STDIN_FILENO);
        ::dup2(out, STDOUT_FILENO);
        ::dup2(err, STDERR_FILENO);
        ::setpgid(0, 0);
        for (const std::string& name : unset)
            ::unsetenv(name.c_str());
        if (::chdir(workDir.c_str()) != 0)
            ::_exit(126);
        std::vector<char*> argv;
        for (const std::string& arg : args)
            argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    CChildResult result;
    int status = 0;
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (::waitpid(pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(-pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            status = -1;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (status != -1 && WIFEXITED(status))
        result.exitStatus = WEXITSTATUS(status);
    result.out = ReadWholeFile(outPath);
    result.err = ReadWholeFile(errPath);
    return result;
}

// Debian's Chromium (scripts/deps.sh installs it).
inline constexpr const char* CHROMIUM_PATH = "/usr/bin/chromium";

// Headless Chromium as the tests run it: no sandbox (root), no GPU, nothing fetched on its own.
inline CChildResult RunChromium(const std::filesystem::path& scratchDir, const std::string& profile,
                                const std::vector<std::string>& extra, const std::string& url)
{
    std::vector<std::string> args = {CHROMIUM_PATH,
                                     "--headless",
                                     "--no-sandbox",
                                     "--disable-gpu",
                                     "--disable-quic",
                                     "--no-first-run",
                                     "--disable-background-networking",
                                     "--disable-component-update",
                                     "--disable-sync",
                                     "--user-data-dir=" + (scratchDir / profile).string(),
                                     "--enable-logging=stderr",
                                     "--v=0"};
    args.insert(args.end(), extra.begin(), extra.end());
    args.push_back(url);
    return RunChild(args, scratchDir, scratchDir);
}

// How often `what` stands in `text` (an element of a rendered page, say).
inline std::size_t Occurrences(const std::string& text, const std::string& what)
{
    std::size_t count = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++count;
    return count;
}

// What a page said on the browser's console (CSP violations, failed loads, script errors).
inline std::vector<std::string> ConsoleLines(const std::string& log)
{
    std::vector<std::string> lines;
    std::istringstream in(log);
    std::string line;
    while (std::getline(in, line))
        if (line.find(":CONSOLE") != std::string::npos)
            lines.push_back(line);
    return lines;
}
