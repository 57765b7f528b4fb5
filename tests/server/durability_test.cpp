// Durability: concurrent loopback clients submit while the server is killed outright; after a
// restart, every submission that was answered 200 is in the database.
#include "tests/server/ServerProcess.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <set>
#include <sys/wait.h>
#include <thread>

TEST(SurveyServerDurability, EveryAnsweredSubmissionSurvivesSigkill)
{
    constexpr int CLIENTS = 16;
    constexpr int MAX_EACH = 250; // at most 4000 submissions in all
    constexpr int KILL_AFTER_ANSWERED = 2500;
    constexpr auto TIME_LIMIT = std::chrono::seconds(30);

    CTempDir dir;
    const std::string db = (dir.Path() / "survey.db").string();
    const std::string log = (dir.Path() / "server.log").string();
    CServerProcess server;
    // Each commit waits a little before it is made, so the kill falls between receiving
    // submissions and committing them, where a server that answered early would lose some.
    server.UseTestHooks();
    // All clients share one address: its submission limit is off, as behind a proxy.
    ASSERT_TRUE(server.Start(db, log, {"--test-commit-delay-ms", "5", "--submission-burst", "0"}))
        << server.error;

    std::atomic<int> answered{0};
    std::atomic<int> attempted{0};
    std::vector<std::vector<std::string>> acknowledged(CLIENTS);
    std::vector<std::thread> clients;
    for (int c = 0; c < CLIENTS; ++c) {
        clients.emplace_back([&, c] {
            CRawConnection connection(server.Port());
            for (int i = 0; i < MAX_EACH && connection.Connected(); ++i) {
                const std::string id = "d-" + std::to_string(c) + "-" + std::to_string(i);
                ++attempted;
                if (!connection.Send(WriteRequest(BodyWithComment(id))))
                    return;
                const std::string response = connection.ReadResponse();
                if (StatusOf(response) != 200)
                    return; // the server is gone: what was not answered does not count
                acknowledged[c].push_back(id);
                ++answered;
            }
        });
    }

    const auto started = std::chrono::steady_clock::now();
    while (answered < KILL_AFTER_ANSWERED && std::chrono::steady_clock::now() - started < TIME_LIMIT)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    const int answeredAtKill = answered;
    server.StopWith(SIGKILL);
    for (auto& client : clients)
        client.join();
    ASSERT_GT(answeredAtKill, 0) << "no submission was answered before the kill";
    // The kill fell in the middle of the load, not after it.
    EXPECT_LT(answered.load(), CLIENTS * MAX_EACH);

    // The restarted server recovers the database and goes on taking submissions.
    CServerProcess restarted;
    ASSERT_TRUE(restarted.Start(db, log)) << restarted.error;
    {
        CRawConnection connection(restarted.Port());
        connection.Send(WriteRequest(BodyWithComment("after restart")));
        EXPECT_EQ(StatusOf(connection.ReadResponse()), 200);
    }
    const int status = restarted.StopWith(SIGTERM);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status << "\n" << ReadFile(log);

    std::multiset<std::string> stored;
    for (const auto& row : ReadAllRows(db))
        stored.insert(row.back());
    std::size_t missing = 0;
    for (const auto& ids : acknowledged) {
        for (const auto& id : ids) {
            if (stored.count(id) != 1)
                ++missing;
        }
    }
    EXPECT_EQ(missing, 0u) << "of " << answered.load() << " answered submissions";
    EXPECT_EQ(stored.count("after restart"), 1u);
    // Nothing is stored twice, and nothing that was never sent.
    EXPECT_GE(stored.size(), static_cast<std::size_t>(answered.load()) + 1);
    EXPECT_LE(stored.size(), static_cast<std::size_t>(attempted.load()) + 1);
    std::set<std::string> unique(stored.begin(), stored.end());
    EXPECT_EQ(unique.size(), stored.size());
    std::printf("answered %d of %d attempted before and after the kill; %zu rows stored\n", answered.load(),
                attempted.load(), stored.size());
}
