#include "server/CsvExport.h"

#include "server/Sqlite.h"
#include "server/SurveyStore.h"
#include "survey/SurveyFields.h"

CCsvExport::~CCsvExport() = default;

std::string CsvCell(std::string_view text)
{
    std::string cell;
    if (!text.empty() && (text[0] == '=' || text[0] == '+' || text[0] == '-' || text[0] == '@' ||
                          text[0] == '\t' || text[0] == '\r'))
        cell = "'";
    cell += text;
    if (cell.find_first_of(",\"\r\n") == std::string::npos)
        return cell;
    std::string quoted = "\"";
    for (char c : cell) {
        if (c == '"')
            quoted += '"';
        quoted += c;
    }
    return quoted + "\"";
}

CCsvExport::CCsvExport(const std::string& dbPath)
    : m_db(std::make_unique<CSqliteDb>(dbPath, SQLITE_OPEN_READONLY))
{
    std::string sql = "SELECT id, received_utc";
    for (int field = 0; field < SURVEY_FIELD_COUNT; ++field)
        sql += ", " + SurveyColumnName(field);
    m_select =
        std::make_unique<CStatement>(*m_db, sql + " FROM submissions WHERE id > ?1 AND id <= ?2 ORDER BY id");
    CStatement last(*m_db, "SELECT coalesce(max(id), 0) FROM submissions");
    last.Step();
    m_lastId = sqlite3_column_int64(last.Handle(), 0);
}

bool CCsvExport::NextChunk(std::string& out, std::size_t targetBytes)
{
    if (!m_headerDone) {
        out += "id,received_utc";
        for (int field = 0; field < SURVEY_FIELD_COUNT; ++field)
            out += "," + SurveyColumnName(field);
        out += "\r\n";
        m_headerDone = true;
    }
    sqlite3_stmt* stmt = m_select->Handle();
    sqlite3_bind_int64(stmt, 1, m_doneId);
    sqlite3_bind_int64(stmt, 2, m_lastId);
    while (!m_finished && out.size() < targetBytes) {
        if (m_select->Step() != SQLITE_ROW) {
            m_finished = true;
            break;
        }
        m_doneId = sqlite3_column_int64(stmt, 0);
        const int columns = sqlite3_column_count(stmt);
        for (int column = 0; column < columns; ++column) {
            if (column > 0)
                out += ',';
            switch (sqlite3_column_type(stmt, column)) {
            case SQLITE_NULL:
                // Only a measurement can be NULL: the client sent "not finished".
                out += NOT_FINISHED_TEXT;
                break;
            case SQLITE_INTEGER:
                // A number of ours, not text from a user: "-5" stays a number.
                out += std::to_string(sqlite3_column_int64(stmt, column));
                break;
            default: {
                const auto* bytes = reinterpret_cast<const char*>(sqlite3_column_text(stmt, column));
                out += CsvCell(
                    std::string_view(bytes, static_cast<std::size_t>(sqlite3_column_bytes(stmt, column))));
            }
            }
        }
        out += "\r\n";
    }
    // Ends this chunk's read transaction.
    m_select->Reset();
    return !m_finished;
}
