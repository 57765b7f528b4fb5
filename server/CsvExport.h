#pragma once
// The researcher's export: every stored submission as CSV (RFC 4180), produced a chunk at a time
// so that a large table is never held in memory.
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
    bool m_headerDone = false;
    bool m_finished = false;
};
