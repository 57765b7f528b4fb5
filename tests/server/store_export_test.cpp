// The store's group commit, and the CSV export read back from what it stored.
#include "server/CsvExport.h"
#include "server/Sqlite.h"
#include "server/SurveyStore.h"
#include "tests/server/ServerProcess.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <future>
#include <thread>

namespace {

SurveySubmission Sample(const std::string& comment)
{
    SurveySubmission s;
    s.dateTime = "2008/03/05 14:07:09";
    s.sex = "female";
    s.age = "under 5";
    s.instrument = "no";
    s.school = "none";
    s.measurements[MEASUREMENT_LOWEST_HZ] = 25;
    s.measurements[MEASUREMENT_HIGHEST_HZ] = -5;
    s.commentUtf8 = comment;
    return s;
}

// Splits CSV text into records of cells (RFC 4180, CRLF line ends).
std::vector<std::vector<std::string>> ParseCsv(const std::string& text)
{
    std::vector<std::vector<std::string>> records(1, std::vector<std::string>(1));
    bool quoted = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (quoted) {
            if (c == '"' && i + 1 < text.size() && text[i + 1] == '"')
                records.back().back() += '"', ++i;
            else if (c == '"')
                quoted = false;
            else
                records.back().back() += c;
        } else if (c == '"') {
            quoted = true;
        } else if (c == ',') {
            records.back().emplace_back();
        } else if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
            ++i;
            records.emplace_back(1);
        } else {
            records.back().back() += c;
        }
    }
    if (records.back().size() == 1 && records.back()[0].empty())
        records.pop_back();
    return records;
}

} // namespace

TEST(CsvExport, Cells)
{
    EXPECT_EQ(CsvCell("plain text"), "plain text");
    EXPECT_EQ(CsvCell("a,b"), "\"a,b\"");
    EXPECT_EQ(CsvCell("say \"hi\""), "\"say \"\"hi\"\"\"");
    EXPECT_EQ(CsvCell("two\r\nlines"), "\"two\r\nlines\"");
    EXPECT_EQ(CsvCell("=1+1"), "'=1+1");
    EXPECT_EQ(CsvCell("+1"), "'+1");
    EXPECT_EQ(CsvCell("-1"), "'-1");
    EXPECT_EQ(CsvCell("@SUM(A1)"), "'@SUM(A1)");
    EXPECT_EQ(CsvCell("\tx"), "'\tx");
    EXPECT_EQ(CsvCell("=HYPERLINK(\"http://x\",\"y\")"), "\"'=HYPERLINK(\"\"http://x\"\",\"\"y\"\")\"");
    EXPECT_EQ(CsvCell("a=b"), "a=b");
    EXPECT_EQ(CsvCell(""), "");
}

TEST(SurveyStore, ConcurrentSubmissionsAreAllCommitted)
{
    CTempDir dir;
    const std::string db = (dir.Path() / "survey.db").string();
    constexpr int THREADS = 8, EACH = 50;
    std::atomic<int> committed{0};
    {
        CSurveyStore store(db);
        std::vector<std::thread> threads;
        for (int t = 0; t < THREADS; ++t) {
            threads.emplace_back([&store, &committed, t] {
                for (int i = 0; i < EACH; ++i) {
                    std::promise<bool> done;
                    store.Submit(Sample("t" + std::to_string(t) + "-" + std::to_string(i)),
                                 [&done](bool ok) { done.set_value(ok); });
                    // Answered only once committed: the row must be readable by then.
                    if (done.get_future().get())
                        ++committed;
                }
            });
        }
        for (auto& thread : threads)
            thread.join();
    }
    EXPECT_EQ(committed.load(), THREADS * EACH);
    EXPECT_EQ(CountRows(db), THREADS * EACH);
}

// The page's counts take in each commit before it is answered, and a restart counts the table
// again from the rows as stored.
TEST(SurveyStore, PageCountsFollowTheCommitsAndAreReloaded)
{
    CTempDir dir;
    const std::string db = (dir.Path() / "survey.db").string();
    CResultsTally tally;
    {
        CSurveyStore store(db);
        store.CopyTally(tally);
        EXPECT_EQ(tally.Count(), 0u);
        for (int i = 0; i < 5; ++i) {
            std::promise<bool> done;
            store.Submit(Sample("c"), [&done](bool ok) { done.set_value(ok); });
            ASSERT_TRUE(done.get_future().get());
            // Once answered, the submission is on the page.
            EXPECT_EQ(store.CommittedCount(), static_cast<std::size_t>(i + 1));
            store.CopyTally(tally);
            EXPECT_EQ(tally.Count(), static_cast<std::size_t>(i + 1));
        }
    }
    std::vector<StatsRow> rows;
    ForEachStatsRow(CSqliteDb(db, SQLITE_OPEN_READONLY),
                    [&rows](const StatsRow& row) { rows.push_back(row); });
    ASSERT_EQ(rows.size(), 5u);
    EXPECT_EQ(rows[0].ageBand, 0);    // "under 5"
    EXPECT_EQ(rows[0].instrument, 1); // "no"
    EXPECT_EQ(rows[0].school, 0);     // "none"
    EXPECT_EQ(rows[0].measurements[MEASUREMENT_LOWEST_HZ], 25);
    EXPECT_EQ(rows[0].measurements[MEASUREMENT_HIGHEST_HZ], -5);
    EXPECT_EQ(rows[0].measurements[MEASUREMENT_FIRST_INTERVAL], STATS_MISSING);

    CSurveyStore reopened(db);
    CResultsTally again;
    reopened.CopyTally(again);
    EXPECT_EQ(reopened.CommittedCount(), 5u);
    EXPECT_EQ(again.Render(), tally.Render());
    EXPECT_EQ(again.Render(), RenderResultsPage(rows));
    const auto lowest = again.Summary(CResultsTally::Figure::LowestHz, 0);
    ASSERT_TRUE(lowest);
    EXPECT_EQ(lowest->median, 25);
}

TEST(SurveyStore, WriteAheadLogIsCopiedBackAndKeptSmallWhileAnExportRuns)
{
    CTempDir dir;
    const std::string db = (dir.Path() / "survey.db").string();
    // Rows of about a page each, from clients that keep the writer busy: some 16 MB of log if
    // it were never copied back and started over.
    constexpr int THREADS = 8, EACH = 500, SUBMISSIONS = THREADS * EACH;
    CSurveyStore store(db);
    // An export under way all along: it must not keep the log from starting over, and it shows
    // the rows stored when it began.
    constexpr int BEFORE_EXPORT = 40;
    for (int i = 0; i < BEFORE_EXPORT; ++i) {
        std::promise<bool> done;
        store.Submit(Sample("before"), [&done](bool ok) { done.set_value(ok); });
        ASSERT_TRUE(done.get_future().get());
    }
    CCsvExport exporter(db);
    std::string exported;
    ASSERT_TRUE(exporter.NextChunk(exported, 1024));
    std::vector<std::thread> clients;
    for (int t = 0; t < THREADS; ++t) {
        clients.emplace_back([&store, t] {
            for (int i = 0; i < EACH; ++i) {
                std::promise<bool> done;
                store.Submit(Sample(std::to_string(t) + std::string(3000, 'w') + std::to_string(i)),
                             [&done](bool ok) { done.set_value(ok); });
                EXPECT_TRUE(done.get_future().get());
            }
        });
    }
    for (auto& client : clients)
        client.join();
    const auto walBytes = std::filesystem::file_size(db + "-wal");
    EXPECT_LT(walBytes, 3 * SURVEY_WAL_SIZE_LIMIT);

    // The main file alone, without its log, already holds most rows. A copy taken while a
    // checkpoint writes may be torn: take another.
    const std::string copy = (dir.Path() / "main-only.db").string();
    std::int64_t inMainFile = 0;
    for (int attempt = 0; attempt < 20 && inMainFile == 0; ++attempt) {
        std::filesystem::copy_file(db, copy, std::filesystem::copy_options::overwrite_existing);
        std::filesystem::remove(copy + "-wal");
        inMainFile = CountRows(copy);
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    EXPECT_GT(inMainFile, SUBMISSIONS / 2) << "log " << walBytes << " bytes";

    for (bool more = true; more;) {
        std::string chunk;
        more = exporter.NextChunk(chunk, 1024);
        exported += chunk;
    }
    const auto records = ParseCsv(exported);
    ASSERT_EQ(records.size(), 1u + BEFORE_EXPORT);
    EXPECT_EQ(records.back()[0], std::to_string(BEFORE_EXPORT));
    EXPECT_EQ(records.back().back(), "before");
}

TEST(SurveyStore, SubmissionAfterStopFails)
{
    CTempDir dir;
    CSurveyStore store((dir.Path() / "survey.db").string());
    store.Stop();
    bool result = true;
    store.Submit(Sample("late"), [&result](bool ok) { result = ok; });
    EXPECT_FALSE(result);
}

TEST(CsvExport, StreamsEveryRowInChunks)
{
    CTempDir dir;
    const std::string db = (dir.Path() / "survey.db").string();
    const std::vector<std::string> comments = {
        "=cmd|' /C calc'!A0", "a,b \"quoted\"\r\nnext line", "日本語のコメント", "-2+3", "@x", ""};
    {
        CSurveyStore store(db);
        for (int copy = 0; copy < 40; ++copy) {
            for (const auto& comment : comments) {
                std::promise<bool> done;
                store.Submit(Sample(comment), [&done](bool ok) { done.set_value(ok); });
                ASSERT_TRUE(done.get_future().get());
            }
        }
    }
    CCsvExport exporter(db);
    std::string all;
    int chunks = 0;
    bool more = true;
    while (more) {
        std::string chunk;
        more = exporter.NextChunk(chunk, 4096);
        // A chunk stops soon after the target: one row at most beyond it.
        EXPECT_LT(chunk.size(), 4096u + 512u);
        all += chunk;
        ++chunks;
    }
    EXPECT_GT(chunks, 5);
    const auto records = ParseCsv(all);
    ASSERT_EQ(records.size(), 1 + 40 * comments.size());
    EXPECT_EQ(records[0][0], "id");
    EXPECT_EQ(records[0].back(), "comment");
    for (std::size_t r = 1; r < records.size(); ++r) {
        ASSERT_EQ(records[r].size(), 18u) << r;
        const std::string& comment = comments[(r - 1) % comments.size()];
        const bool formula = !comment.empty() && std::string("=+-@").find(comment[0]) != std::string::npos;
        EXPECT_EQ(records[r].back(), formula ? "'" + comment : comment) << r;
        EXPECT_EQ(records[r][3], "female");
        EXPECT_EQ(records[r][5], "25");
        // A stored negative measurement is a number, not text from a user.
        EXPECT_EQ(records[r][6], "-5");
        EXPECT_EQ(records[r][7], "not finished");
    }
}
