#include "server/Sqlite.h"

CSqliteDb::CSqliteDb(const std::string& path, int flags)
{
    const int rc = sqlite3_open_v2(path.c_str(), &m_db, flags | SQLITE_OPEN_NOMUTEX, nullptr);
    if (rc != SQLITE_OK) {
        const std::string message = m_db ? sqlite3_errmsg(m_db) : sqlite3_errstr(rc);
        sqlite3_close(m_db);
        m_db = nullptr;
        throw CSqliteError("cannot open " + path + ": " + message);
    }
    // Readers and the writer share the file; a short wait beats a spurious failure.
    sqlite3_busy_timeout(m_db, SQLITE_BUSY_TIMEOUT_MS);
}

CSqliteDb::~CSqliteDb()
{
    sqlite3_close(m_db);
}

void CSqliteDb::Exec(const char* sql)
{
    if (sqlite3_exec(m_db, sql, nullptr, nullptr, nullptr) != SQLITE_OK)
        Fail(sql);
}

void CSqliteDb::Fail(const std::string& what) const
{
    throw CSqliteError(what + ": " + sqlite3_errmsg(m_db));
}

CStatement::CStatement(const CSqliteDb& db, const std::string& sql) : m_db(db)
{
    if (sqlite3_prepare_v3(db.Handle(), sql.c_str(), static_cast<int>(sql.size()), SQLITE_PREPARE_PERSISTENT,
                           &m_stmt, nullptr) != SQLITE_OK)
        db.Fail("prepare");
}

CStatement::~CStatement()
{
    sqlite3_finalize(m_stmt);
}

int CStatement::Step()
{
    const int rc = sqlite3_step(m_stmt);
    if (rc != SQLITE_ROW && rc != SQLITE_DONE)
        m_db.Fail("step");
    return rc;
}

void CStatement::Reset()
{
    sqlite3_reset(m_stmt);
    sqlite3_clear_bindings(m_stmt);
}
