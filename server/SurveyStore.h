#pragma once
// Durable storage of submissions. One writer thread owns the write connection and groups whatever
// submissions are waiting into one transaction: many clients share each commit (and its fsync)
// instead of each paying for one, and nobody is told "stored" before the commit has returned.
// A second thread copies the write-ahead log back into the database (checkpoints), so that the
// writer never stalls on that. The store also keeps the results page's rows of every committed
// submission in memory; it is the database's only writer, so the two cannot drift apart.
//
// Threads: Submit, StatsSnapshot and Stop may be called from any thread; the callbacks run on the
// writer thread.
#include "survey/SurveyBody.h"
#include "server/SurveyStats.h"

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// The column of each body field is its name without the '='; the stored table and the export
// share this list.
std::string SurveyColumnName(int field);

// Creates the table if needed and sets up write-ahead logging; used by the store and by tests.
void InitSurveySchema(const std::string& path);

class CSurveyStore {
public:
    // true once the submission's transaction has committed; false if it could not be stored.
    using Done = std::function<void(bool committed)>;

    explicit CSurveyStore(const std::string& path);
    ~CSurveyStore();
    CSurveyStore(const CSurveyStore&) = delete;
    CSurveyStore& operator=(const CSurveyStore&) = delete;

    void Submit(SurveySubmission submission, Done done);
    // The page's rows of everything committed so far.
    std::vector<StatsRow> StatsSnapshot() const;
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
    static int OnWalCommit(void* store, struct sqlite3* db, const char* name, int walPages);

    std::string m_path;
    // Tests widen the time between the inserts and their commit, so that a kill lands inside it
    // (TONVALE_SURVEY_TEST_COMMIT_DELAY_MS); zero otherwise.
    std::chrono::milliseconds m_commitDelay{0};
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::vector<Pending> m_queue;
    bool m_stopping = false;
    std::thread m_writer;

    mutable std::mutex m_statsMutex;
    std::vector<StatsRow> m_stats;

    std::mutex m_checkpointMutex;
    std::condition_variable m_checkpointWake;
    bool m_checkpointWanted = false;
    bool m_checkpointStop = false;
    std::thread m_checkpointer;
};
