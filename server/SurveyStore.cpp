#include "server/SurveyStore.h"

#include "server/Sqlite.h"
#include "survey/SurveyFields.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <memory>

std::string SurveyColumnName(int field)
{
    const std::string_view name = SURVEY_FIELDS[field].name;
    return std::string(name.substr(0, name.size() - 1));
}

namespace {

bool IsMeasurementField(int field)
{
    return field >= FIELD_MIN_FREQ && field < FIELD_MIN_FREQ + SURVEY_MEASUREMENT_COUNT;
}

std::string CreateTableSql()
{
    std::string sql = "CREATE TABLE IF NOT EXISTS submissions ("
                      "id INTEGER PRIMARY KEY, received_utc TEXT NOT NULL";
    for (int field = 0; field < SURVEY_FIELD_COUNT; ++field) {
        // A missing measurement ("not finished") is NULL.
        sql += ", " + SurveyColumnName(field) + (IsMeasurementField(field) ? " INTEGER" : " TEXT NOT NULL");
    }
    return sql + ")";
}

std::string InsertSql()
{
    std::string columns = "received_utc";
    std::string values = "?";
    for (int field = 0; field < SURVEY_FIELD_COUNT; ++field) {
        columns += ", " + SurveyColumnName(field);
        values += ", ?";
    }
    return "INSERT INTO submissions (" + columns + ") VALUES (" + values + ")";
}

std::string UtcNow()
{
    const std::time_t now = std::time(nullptr);
    std::tm tm{};
    gmtime_r(&now, &tm);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &tm);
    return text;
}

void BindText(sqlite3_stmt* stmt, int index, const std::string& text)
{
    sqlite3_bind_text(stmt, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
}

void OpenForWriting(CSqliteDb& db)
{
    db.Exec("PRAGMA journal_mode=WAL");
    // A checkpoint never shrinks the log file; the writer cuts it back to this when it starts
    // the log over.
    db.Exec(("PRAGMA journal_size_limit=" + std::to_string(SURVEY_WAL_SIZE_LIMIT)).c_str());
    // FULL: in WAL mode this syncs the log at every commit, so a commit survives a power cut,
    // not only the death of the process.
    db.Exec("PRAGMA synchronous=FULL");
    db.Exec(CreateTableSql().c_str());
}

} // namespace

void InitSurveySchema(const std::string& path)
{
    CSqliteDb db(path, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
    OpenForWriting(db);
}

CSurveyStore::CSurveyStore(const std::string& path, std::chrono::milliseconds commitDelay)
    : m_path(path), m_commitDelay(commitDelay)
{
    // Fail here, in the caller's thread, if the file cannot be used at all.
    InitSurveySchema(path);
    {
        // Row by row into the counts: a million rows cost no more memory than a hundred.
        // Used by this thread alone: no lock around each of the million calls.
        CSqliteDb db(path, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX);
        ForEachStatsRow(db, [this](const StatsRow& row) { m_tally.Add(row); });
        m_committed.store(m_tally.Count(), std::memory_order_release);
    }
    m_checkpointer = std::thread([this] { CheckpointLoop(); });
    m_writer = std::thread([this] { WriterLoop(); });
}

CSurveyStore::~CSurveyStore()
{
    Stop();
}

void CSurveyStore::CopyTally(CResultsTally& into) const
{
    std::lock_guard lock(m_tallyMutex);
    FoldRecent();
    into = m_tally;
}

// Under m_tallyMutex.
void CSurveyStore::FoldRecent() const
{
    std::vector<StatsRow> rows;
    {
        std::lock_guard lock(m_recentMutex);
        rows.swap(m_recent);
    }
    for (const StatsRow& row : rows)
        m_tally.Add(row);
}

void CSurveyStore::Submit(SurveySubmission submission, Done done)
{
    {
        std::lock_guard lock(m_mutex);
        if (!m_stopping) {
            m_queue.push_back({std::move(submission), std::move(done)});
            m_wake.notify_one();
            return;
        }
    }
    done(false);
}

void CSurveyStore::Stop()
{
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
        m_wake.notify_one();
    }
    if (m_writer.joinable())
        m_writer.join();
    {
        std::lock_guard lock(m_checkpointMutex);
        m_checkpointStop = true;
        m_checkpointWake.notify_one();
    }
    if (m_checkpointer.joinable())
        m_checkpointer.join();
}

// Called by SQLite on the writer thread after each commit, with the log's size in pages.
int CSurveyStore::OnWalCommit(void* store, sqlite3*, const char*, int walPages)
{
    auto* self = static_cast<CSurveyStore*>(store);
    self->m_walPages = walPages;
    // When the writer is about to empty the log itself, a copy started beside it would only
    // make it skip its turn.
    if (walPages >= CHECKPOINT_PAGES && !self->WantsToEmptyLog()) {
        std::lock_guard lock(self->m_checkpointMutex);
        self->m_checkpointWanted = true;
        self->m_checkpointWake.notify_one();
    }
    return SQLITE_OK;
}

std::unique_ptr<CSqliteDb> CSurveyStore::OpenCheckpointer() const
{
    auto db = std::make_unique<CSqliteDb>(m_path, SQLITE_OPEN_READWRITE);
    // A connection finds the write-ahead log only when it first reads the database; until then a
    // checkpoint through it "succeeds" and copies nothing.
    CStatement read(*db, "SELECT count(*) FROM sqlite_master");
    read.Step();
    return db;
}

void CSurveyStore::CheckpointLoop()
{
    std::unique_ptr<CSqliteDb> db;
    int busyInARow = 0;
    for (;;) {
        {
            std::unique_lock lock(m_checkpointMutex);
            m_checkpointWake.wait(lock, [this] { return m_checkpointWanted || m_checkpointStop; });
            if (m_checkpointStop)
                return;
            m_checkpointWanted = false;
        }
        try {
            if (!db)
                db = OpenCheckpointer();
            // PASSIVE: copies what it can without waiting for, or blocking, the writer.
            int logFrames = -1, copied = -1;
            int rc = SQLITE_OK;
            {
                std::lock_guard running(m_checkpointRunning);
                rc = sqlite3_wal_checkpoint_v2(db->Handle(), nullptr, SQLITE_CHECKPOINT_PASSIVE, &logFrames,
                                               &copied);
                if (rc == SQLITE_OK && copied >= 0)
                    m_copiedPages.store(copied, std::memory_order_relaxed);
            }
            // Busy: another checkpoint or a log restart was under way; the next commit asks again.
            // Only a checkpoint that keeps failing is worth a line.
            busyInARow = rc == SQLITE_BUSY ? busyInARow + 1 : 0;
            if ((rc == SQLITE_BUSY && busyInARow % 10 == 0) || (rc != SQLITE_OK && rc != SQLITE_BUSY) ||
                (rc == SQLITE_OK && (logFrames < 0 || copied < 0)))
                std::fprintf(stderr, "tonvale-survey: checkpoint failed (%s; log %d pages, %d copied)\n",
                             sqlite3_errstr(rc), logFrames, copied);
        } catch (const CSqliteError& error) {
            std::fprintf(stderr, "tonvale-survey: checkpoint failed: %s\n", error.what());
            db.reset();
        }
    }
}

void CSurveyStore::WriterLoop()
{
    try {
        RunWriter();
    } catch (const std::exception& error) {
        // The database became unusable after start-up: refuse everything rather than hang.
        std::fprintf(stderr, "tonvale-survey: the store stopped: %s\n", error.what());
        for (;;) {
            std::vector<Pending> batch;
            {
                std::unique_lock lock(m_mutex);
                m_wake.wait(lock, [this] { return !m_queue.empty() || m_stopping; });
                if (m_queue.empty())
                    return;
                batch.swap(m_queue);
            }
            for (Pending& pending : batch)
                pending.m_done(false);
        }
    }
}

void CSurveyStore::RunWriter()
{
    CSqliteDb db(m_path, SQLITE_OPEN_READWRITE);
    OpenForWriting(db);
    // Checkpoints are the other thread's work.
    db.Exec("PRAGMA wal_autocheckpoint=0");
    sqlite3_wal_hook(db.Handle(), &CSurveyStore::OnWalCommit, this);
    CStatement insert(db, InsertSql());

    std::vector<Pending> batch;
    for (;;) {
        {
            std::unique_lock lock(m_mutex);
            m_wake.wait(lock, [this] { return !m_queue.empty() || m_stopping; });
            if (m_queue.empty())
                break;
            // Everything that arrived while the last commit was syncing goes into this one.
            batch.swap(m_queue);
        }
        bool committed = false;
        try {
            db.Exec("BEGIN IMMEDIATE");
            const std::string received = UtcNow();
            for (const Pending& pending : batch) {
                const SurveySubmission& s = pending.m_submission;
                sqlite3_stmt* stmt = insert.Handle();
                int column = 1;
                BindText(stmt, column++, received);
                BindText(stmt, column++, s.dateTime);
                BindText(stmt, column++, s.sex);
                BindText(stmt, column++, s.age);
                for (const auto& measurement : s.measurements) {
                    if (measurement)
                        sqlite3_bind_int(stmt, column++, *measurement);
                    else
                        sqlite3_bind_null(stmt, column++);
                }
                BindText(stmt, column++, s.instrument);
                BindText(stmt, column++, s.school);
                BindText(stmt, column++, s.commentUtf8);
                insert.Step();
                insert.Reset();
            }
            if (m_commitDelay.count() > 0)
                std::this_thread::sleep_for(m_commitDelay);
            db.Exec("COMMIT");
            committed = true;
            {
                std::lock_guard lock(m_recentMutex);
                for (const Pending& pending : batch)
                    m_recent.push_back(StatsRowOf(pending.m_submission));
            }
            m_committed.fetch_add(batch.size(), std::memory_order_release);
            if (std::unique_lock tally(m_tallyMutex, std::try_to_lock); tally)
                FoldRecent();
        } catch (const CSqliteError& error) {
            std::fprintf(stderr, "tonvale-survey: storing %zu submissions failed: %s\n", batch.size(),
                         error.what());
            insert.Reset();
            sqlite3_exec(db.Handle(), "ROLLBACK", nullptr, nullptr, nullptr);
        }
        for (Pending& pending : batch)
            pending.m_done(committed);
        batch.clear();
        if (WantsToEmptyLog())
            EmptyLog(db);
    }
}

// Past the bound, and once the other thread has copied all but a little (so that what the
// writer does itself is short), unless a reader refused it less than a second ago.
bool CSurveyStore::WantsToEmptyLog() const
{
    return m_walPages >= FORCED_CHECKPOINT_PAGES &&
           m_walPages - m_copiedPages.load(std::memory_order_relaxed) <= CHECKPOINT_PAGES &&
           std::chrono::steady_clock::now() - m_lastEmptyRefused >= FORCED_CHECKPOINT_INTERVAL;
}

// The writer starts the log over only when it finds it all copied as it begins a transaction;
// under steady load it always begins while the other thread's copy is still running, and the log
// grows for as long as the load lasts. Past a bound the writer, between two transactions, copies
// the rest and empties the log itself. A reader in the way (a long export keeps its snapshot, and
// with it the log) makes that fail; then it waits a second before it tries again. It never waits
// for a lock: that would hold up submissions.
void CSurveyStore::EmptyLog(CSqliteDb& db)
{
    // A copy still running on the other thread: the next commit tries again.
    std::unique_lock running(m_checkpointRunning, std::try_to_lock);
    if (!running)
        return;
    const auto now = std::chrono::steady_clock::now();
    int logFrames = -1, copied = -1;
    sqlite3_busy_timeout(db.Handle(), 0);
    const int rc =
        sqlite3_wal_checkpoint_v2(db.Handle(), nullptr, SQLITE_CHECKPOINT_TRUNCATE, &logFrames, &copied);
    sqlite3_busy_timeout(db.Handle(), SQLITE_BUSY_TIMEOUT_MS);
    if (rc == SQLITE_OK) {
        m_walPages = 0;
        m_copiedPages.store(0, std::memory_order_relaxed);
    } else if (rc == SQLITE_BUSY)
        m_lastEmptyRefused = now;
    else
        std::fprintf(stderr, "tonvale-survey: emptying the log failed: %s\n", sqlite3_errstr(rc));
}
