#include "server/SurveyStore.h"

#include "results/SurveyFields.h"
#include "server/Sqlite.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>

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
        sql += ", " + SurveyColumnName(field) +
               (IsMeasurementField(field) ? " INTEGER" : " TEXT NOT NULL");
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

CSurveyStore::CSurveyStore(const std::string& path) : m_path(path)
{
    // Fail here, in the caller's thread, if the file cannot be used at all.
    InitSurveySchema(path);
    if (const char* delay = std::getenv("TONVALE_SURVEY_TEST_COMMIT_DELAY_MS"))
        m_commitDelay = std::chrono::milliseconds(std::atoi(delay));
    m_writer = std::thread([this] { WriterLoop(); });
}

CSurveyStore::~CSurveyStore()
{
    Stop();
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
}

void CSurveyStore::WriterLoop()
{
    CSqliteDb db(m_path, SQLITE_OPEN_READWRITE);
    OpenForWriting(db);
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
        } catch (const CSqliteError& error) {
            std::fprintf(stderr, "tonvale-survey: storing %zu submissions failed: %s\n",
                         batch.size(), error.what());
            insert.Reset();
            sqlite3_exec(db.Handle(), "ROLLBACK", nullptr, nullptr, nullptr);
        }
        for (Pending& pending : batch)
            pending.m_done(committed);
        batch.clear();
    }
}
