#pragma once
// Durable storage of submissions. One writer thread owns the write connection and groups whatever
// submissions are waiting into one transaction: many clients share each commit (and its fsync)
// instead of each paying for one, and nobody is told "stored" before the commit has returned.
// A second thread copies the write-ahead log back into the database (checkpoints), so that the
// writer never stalls on that. The store also keeps the results page's counts of every committed
// submission (counts per value, not rows, so their size does not grow with the table); it is the
// database's only writer, so the two cannot drift apart.
//
// Threads: Submit, CopyTally, CommittedCount and Stop may be called from any thread; the callbacks
// run on the writer thread.
#include "server/ResultsPage.h"
#include "server/SurveyStats.h"
#include "survey/SurveyBody.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// The column of each body field is its name without the '='; the stored table and the export
// share this list.
std::string SurveyColumnName(int field);

// About 4 MB of log starts a checkpoint, as SQLite's own automatic one would, but on another
// thread. Past twice that, the writer empties the log itself between two commits.
constexpr int CHECKPOINT_PAGES = 1000;
constexpr int FORCED_CHECKPOINT_PAGES = 2 * CHECKPOINT_PAGES;
constexpr std::chrono::seconds FORCED_CHECKPOINT_INTERVAL{1};
// What the log file is cut back to whenever it starts over.
constexpr long long SURVEY_WAL_SIZE_LIMIT = 4LL * 1024 * 1024;

// Creates the table if needed and sets up write-ahead logging; used by the store and by tests.
void InitSurveySchema(const std::string& path);

class CSurveyStore {
public:
    // true once the submission's transaction has committed; false if it could not be stored.
    using Done = std::function<void(bool committed)>;

    // `commitDelay` widens the time between the inserts and their commit, so that a test's kill
    // lands inside it; zero in the product.
    explicit CSurveyStore(const std::string& path,
                          std::chrono::milliseconds commitDelay = std::chrono::milliseconds(0));
    ~CSurveyStore();
    CSurveyStore(const CSurveyStore&) = delete;
    CSurveyStore& operator=(const CSurveyStore&) = delete;

    void Submit(SurveySubmission submission, Done done);
    // Copies the page's counts of everything committed so far into `into`; the writer waits only
    // for the copy, never for a page to be drawn.
    void CopyTally(CResultsTally& into) const;
    // How many submissions are committed; grows with every commit.
    std::size_t CommittedCount() const { return m_committed.load(std::memory_order_acquire); }
    // Stores what is queued, then ends the writer thread. Later submissions fail at once.
    void Stop();

private:
    struct Pending {
        SurveySubmission m_submission;
        Done m_done;
    };
    void WriterLoop();
    void RunWriter();
    void CheckpointLoop();
    std::unique_ptr<class CSqliteDb> OpenCheckpointer() const;
    void EmptyLog(class CSqliteDb& db);
    bool WantsToEmptyLog() const;
    static int OnWalCommit(void* store, struct sqlite3* db, const char* name, int walPages);

    std::string m_path;
    std::chrono::milliseconds m_commitDelay;
    // The writer thread's own: the log's size after its last commit, and when a reader last kept
    // it from emptying the log.
    int m_walPages = 0;
    std::chrono::steady_clock::time_point m_lastEmptyRefused{};
    // Pages of the log the checkpoint thread had copied at its last run.
    std::atomic<int> m_copiedPages{0};
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::vector<Pending> m_queue;
    bool m_stopping = false;
    std::thread m_writer;

    // Committed rows go first into a short list, then into the counts. The page's thread holds
    // the counts while it copies them, and it runs only when the processor is otherwise idle: the
    // writer never waits for that, it leaves the rows on the list for whoever takes the counts
    // next. The list's own lock is only ever held to append or to take its rows.
    void FoldRecent() const;
    mutable std::mutex m_tallyMutex;
    mutable CResultsTally m_tally; // under m_tallyMutex
    mutable std::mutex m_recentMutex;
    mutable std::vector<StatsRow> m_recent; // under m_recentMutex
    std::atomic<std::size_t> m_committed{0};

    std::mutex m_checkpointMutex;
    std::mutex m_checkpointRunning; // held while a checkpoint runs on the checkpoint thread
    std::condition_variable m_checkpointWake;
    bool m_checkpointWanted = false;
    bool m_checkpointStop = false;
    std::thread m_checkpointer;
};
