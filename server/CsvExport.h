#pragma once
// The researcher's export: every stored submission as CSV (RFC 4180), produced a chunk at a time
// so that a large table is never held in memory. It shows the rows stored when it began; each
// chunk is read in a short read transaction of its own, so that a long export never keeps the
// write-ahead log from starting over (rows are only ever appended, so the ids up to the last one
// at the start are exactly what was stored then).
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

// One cell, quoted when it holds a comma, quote, CR or LF. A text that a spreadsheet would take
// for a formula (starting with "=", "+", "-", "@", tab or CR) gets a leading apostrophe.
std::string CsvCell(std::string_view text);

class CSqliteDb;
class CStatement;

class CCsvExport {
public:
    explicit CCsvExport(const std::string& dbPath);
    ~CCsvExport();
    CCsvExport(const CCsvExport&) = delete;
    CCsvExport& operator=(const CCsvExport&) = delete;

    // Appends rows to `out` until it holds at least `targetBytes` or the table ends. Returns false
    // once everything has been produced.
    bool NextChunk(std::string& out, std::size_t targetBytes);

private:
    std::unique_ptr<CSqliteDb> m_db;
    std::unique_ptr<CStatement> m_select;
    std::int64_t m_lastId = 0; // the last row when the export began
    std::int64_t m_doneId = 0; // the last row produced so far
    bool m_headerDone = false;
    bool m_finished = false;
};
