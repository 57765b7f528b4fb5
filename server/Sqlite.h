#pragma once
// Thin owners for SQLite handles. Every statement is prepared and takes its values by binding.
#include <sqlite3.h>

#include <stdexcept>
#include <string>

// How long a connection waits for another one's lock before it gives up.
constexpr int SQLITE_BUSY_TIMEOUT_MS = 5000;

class CSqliteError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class CSqliteDb {
public:
    // flags: SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE or SQLITE_OPEN_READONLY.
    CSqliteDb(const std::string& path, int flags);
    ~CSqliteDb();
    CSqliteDb(const CSqliteDb&) = delete;
    CSqliteDb& operator=(const CSqliteDb&) = delete;

    sqlite3* Handle() const { return m_db; }
    // For fixed statements without values (pragmas, BEGIN, COMMIT).
    void Exec(const char* sql);
    [[noreturn]] void Fail(const std::string& what) const;

private:
    sqlite3* m_db = nullptr;
};

class CStatement {
public:
    CStatement(const CSqliteDb& db, const std::string& sql);
    ~CStatement();
    CStatement(const CStatement&) = delete;
    CStatement& operator=(const CStatement&) = delete;

    sqlite3_stmt* Handle() const { return m_stmt; }
    // SQLITE_ROW or SQLITE_DONE; anything else throws.
    int Step();
    void Reset();

private:
    const CSqliteDb& m_db;
    sqlite3_stmt* m_stmt = nullptr;
};
