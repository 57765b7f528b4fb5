#include "checklog/CheckLog.h"

#include "results/CGeneralFile.h"

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <random>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

CCheckLog* g_currentLog = nullptr;

void AppendField(std::string& line, std::string_view field)
{
    if (field.find_first_of(",\"\r\n") == std::string_view::npos) {
        line += field;
        return;
    }
    line += '"';
    for (char c : field) {
        if (c == '"')
            line += '"';
        line += c;
    }
    line += '"';
}

bool ParseDigits(std::string_view text, std::size_t at, std::size_t count, int& value)
{
    if (at + count > text.size())
        return false;
    value = 0;
    for (std::size_t i = at; i < at + count; ++i) {
        if (text[i] < '0' || text[i] > '9')
            return false;
        value = value * 10 + (text[i] - '0');
    }
    return true;
}

// Days since 1970-01-01 of a date in the proleptic Gregorian calendar.
long long DaysFromCivil(int year, int month, int day)
{
    year -= month <= 2 ? 1 : 0;
    const long long era = (year >= 0 ? year : year - 399) / 400;
    const long long yearOfEra = year - era * 400;
    const long long dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const long long dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

struct Records {
    std::vector<std::vector<std::string>> records;
    std::size_t malformed = 0;
};

// Splits `text` into records of fields. A record counts only when its line end was read: a row cut
// short by a kill or a full disk has none, and is counted as malformed with rows whose quoting is
// broken.
Records SplitRecords(std::string_view text)
{
    Records out;
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t lineStart = at;
        std::vector<std::string> fields(1);
        bool complete = false, malformed = false, unclosed = false;
        while (at < text.size()) {
            const char c = text[at];
            if (c == '"' && fields.back().empty()) {
                // A quoted field runs to the quote that is not doubled.
                std::size_t end = ++at;
                bool closed = false;
                while (end < text.size()) {
                    if (text[end] == '"') {
                        if (end + 1 < text.size() && text[end + 1] == '"') {
                            fields.back() += '"';
                            end += 2;
                            continue;
                        }
                        closed = true;
                        break;
                    }
                    fields.back() += text[end++];
                }
                if (!closed) {
                    unclosed = true;
                    break;
                }
                at = end + 1;
                if (at < text.size() && text[at] != ',' && text[at] != '\r' && text[at] != '\n')
                    malformed = true;
                continue;
            }
            ++at;
            if (c == ',') {
                fields.emplace_back();
            } else if (c == '\n') {
                complete = true;
                break;
            } else if (c == '\r' && at < text.size() && text[at] == '\n') {
                ++at;
                complete = true;
                break;
            } else {
                fields.back() += c;
            }
        }
        if (unclosed) {
            // A quote that never closes would take every later row with it: the damaged row ends
            // at its own line end instead.
            ++out.malformed;
            const std::size_t lineEnd = text.find('\n', lineStart);
            if (lineEnd == std::string_view::npos)
                break;
            at = lineEnd + 1;
            continue;
        }
        if (!complete) {
            ++out.malformed;
            break;
        }
        if (malformed)
            ++out.malformed;
        else
            out.records.push_back(std::move(fields));
    }
    return out;
}

bool IsOurHeaderLine(std::string_view start)
{
    const std::string_view header = CHECK_LOG_HEADER;
    if (start.substr(0, header.size()) != header)
        return false;
    const std::string_view rest = start.substr(header.size());
    return rest.substr(0, 2) == "\r\n" || rest.substr(0, 1) == "\n";
}

bool WriteOnce(int fd, const std::string& bytes)
{
    ssize_t written;
    do
        written = ::write(fd, bytes.data(), bytes.size());
    while (written < 0 && errno == EINTR);
    return written == static_cast<ssize_t>(bytes.size());
}

} // namespace

const char* LogCheckText(LogCheck check)
{
    switch (check) {
    case LogCheck::SoundCard:
        return "sound card";
    case LogCheck::RangeUpper:
        return "range upper";
    case LogCheck::RangeLower:
        return "range lower";
    case LogCheck::Interval:
        return "interval";
    case LogCheck::Questionnaire:
        return "questionnaire";
    }
    return "";
}

const char* LogKindText(LogKind kind)
{
    switch (kind) {
    case LogKind::Question:
        return "question";
    case LogKind::Result:
        return "result";
    case LogKind::Questionnaire:
        return "questionnaire";
    }
    return "";
}

const char* LogJudgementText(LogJudgement judgement)
{
    switch (judgement) {
    case LogJudgement::None:
        return "";
    case LogJudgement::Right:
        return "right";
    case LogJudgement::Wrong:
        return "wrong";
    case LogJudgement::NotJudged:
        return "not judged";
    case LogJudgement::Heard:
        return "heard";
    case LogJudgement::NotHeard:
        return "not heard";
    }
    return "";
}

std::string RangePatternText(const bool (&slots)[5])
{
    std::string text;
    for (bool tone : slots)
        text += tone ? '1' : '0';
    return text;
}

std::string IntervalTonesText(int firstHz, int secondHz)
{
    return std::to_string(firstHz) + " " + std::to_string(secondHz);
}

std::string FrequencyText(double hz)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.2f", hz);
    return text;
}

std::string LogTimeText(std::chrono::system_clock::time_point when)
{
    using namespace std::chrono;
    const auto ms = duration_cast<milliseconds>(when.time_since_epoch()).count();
    std::time_t seconds = static_cast<std::time_t>(ms / 1000);
    int millis = static_cast<int>(ms % 1000);
    if (millis < 0) {
        millis += 1000;
        --seconds;
    }
    std::tm local{};
    ::localtime_r(&seconds, &local);
    // Offsets lie within a day; the bound keeps the text's width fixed.
    const int offset = static_cast<int>(local.tm_gmtoff / 60 % (24 * 60));
    const int absOffset = offset < 0 ? -offset : offset;
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03d%c%02d:%02d", local.tm_year + 1900,
                  local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec, millis,
                  offset < 0 ? '-' : '+', absOffset / 60, absOffset % 60);
    return text;
}

std::optional<long long> ParseLogTime(std::string_view text)
{
    // 2026-12-07T11:25:33.120+09:00
    if (text.size() != 29 || text[4] != '-' || text[7] != '-' || text[10] != 'T' || text[13] != ':' ||
        text[16] != ':' || text[19] != '.' || (text[23] != '+' && text[23] != '-') || text[26] != ':')
        return std::nullopt;
    int year, month, day, hour, minute, second, millis, offsetHours, offsetMinutes;
    if (!ParseDigits(text, 0, 4, year) || !ParseDigits(text, 5, 2, month) || !ParseDigits(text, 8, 2, day) ||
        !ParseDigits(text, 11, 2, hour) || !ParseDigits(text, 14, 2, minute) ||
        !ParseDigits(text, 17, 2, second) || !ParseDigits(text, 20, 3, millis) ||
        !ParseDigits(text, 24, 2, offsetHours) || !ParseDigits(text, 27, 2, offsetMinutes))
        return std::nullopt;
    if (month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 60 ||
        offsetHours > 23 || offsetMinutes > 59)
        return std::nullopt;
    const long long offset = (offsetHours * 60LL + offsetMinutes) * 60 * (text[23] == '-' ? -1 : 1);
    const long long seconds =
        DaysFromCivil(year, month, day) * 86400 + hour * 3600LL + minute * 60LL + second;
    return (seconds - offset) * 1000 + millis;
}

const std::string& CurrentRunId()
{
    static const std::string id = [] {
        std::time_t now = std::time(nullptr);
        std::tm local{};
        ::localtime_r(&now, &local);
        char text[40];
        std::strftime(text, sizeof text, "%Y%m%d-%H%M%S", &local);
        std::random_device random;
        char suffix[8];
        std::snprintf(suffix, sizeof suffix, "-%04x", static_cast<unsigned>(random() & 0xFFFF));
        return std::string(text) + suffix;
    }();
    return id;
}

std::string FormatLogRow(std::string_view time, std::string_view run, const CheckLogRow& row)
{
    const std::string_view fields[CHECK_LOG_COLUMNS] = {time,
                                                        run,
                                                        LogCheckText(row.check),
                                                        LogKindText(row.kind),
                                                        row.frequency,
                                                        row.played,
                                                        row.answer,
                                                        LogJudgementText(row.judgement),
                                                        row.value};
    std::string line;
    for (int i = 0; i < CHECK_LOG_COLUMNS; ++i) {
        if (i > 0)
            line += ',';
        AppendField(line, fields[i]);
    }
    return line + "\r\n";
}

std::vector<LoggedRow> ParseCheckLog(std::string_view text, std::size_t* malformedRows)
{
    std::vector<LoggedRow> rows;
    if (malformedRows != nullptr)
        *malformedRows = 0;
    if (!IsOurHeaderLine(text))
        return rows;
    auto [records, malformed] = SplitRecords(text);
    rows.reserve(records.size());
    for (std::size_t i = 1; i < records.size(); ++i) {
        auto& f = records[i];
        if (f.size() != CHECK_LOG_COLUMNS) {
            ++malformed;
            continue;
        }
        rows.push_back({std::move(f[0]), std::move(f[1]), std::move(f[2]), std::move(f[3]), std::move(f[4]),
                        std::move(f[5]), std::move(f[6]), std::move(f[7]), std::move(f[8])});
    }
    if (malformedRows != nullptr)
        *malformedRows = malformed;
    return rows;
}

namespace {

bool IsRegular(int fd)
{
    struct stat st {};
    return ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
}

bool ReadAt(int fd, off_t offset, std::size_t count, std::string& text)
{
    text.resize(count);
    std::size_t got = 0;
    while (got < count) {
        const ssize_t n = ::pread(fd, text.data() + got, count - got, offset + static_cast<off_t>(got));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return false;
        if (n == 0)
            break;
        got += static_cast<std::size_t>(n);
    }
    text.resize(got);
    return true;
}

} // namespace

int OpenCheckLogAt(int directoryFd, bool& created)
{
    created = false;
    // Links go by result.dat's rule at every hop of a chain.
    int fd = CGeneralFile::OpenAt(directoryFd, CHECK_LOG_NAME,
                                  O_RDWR | O_APPEND | O_CREAT | O_EXCL | O_NOCTTY, 0600);
    if (fd >= 0) {
        created = true;
        // Whatever the umask: the answers are the listener's own.
        ::fchmod(fd, 0600);
        return fd;
    }
    if (errno != EEXIST)
        return -1;
    // Never open a device or a pipe: that could block or act.
    fd = CGeneralFile::OpenAt(directoryFd, CHECK_LOG_NAME, O_RDWR | O_APPEND | O_NOCTTY | O_NONBLOCK);
    if (fd >= 0 && !IsRegular(fd)) {
        ::close(fd);
        return -1;
    }
    return fd;
}

std::string ReadCheckLogAt(int directoryFd)
{
    std::string text;
    const int fd = CGeneralFile::OpenAt(directoryFd, CHECK_LOG_NAME, O_RDONLY | O_NOCTTY | O_NONBLOCK);
    if (fd < 0)
        return text;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return text;
    }
    if (st.st_size <= static_cast<off_t>(MAX_LOG_BYTES)) {
        // Read to the end, even should the file have grown since.
        char buffer[65536];
        ssize_t n;
        while ((n = ::read(fd, buffer, sizeof buffer)) != 0) {
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0) {
                text.clear();
                break;
            }
            text.append(buffer, static_cast<std::size_t>(n));
            if (text.size() > MAX_LOG_BYTES)
                break;
        }
        ::close(fd);
        return text;
    }
    // Too long to load whole: our header and the rows of its last part, from the first line end
    // in it on (the row the cut falls in is not a row).
    const std::string header = std::string(CHECK_LOG_HEADER) + "\r\n";
    const std::size_t tailBytes = MAX_LOG_BYTES - header.size();
    std::string start, tail;
    const bool read = ReadAt(fd, 0, header.size(), start) && IsOurHeaderLine(start) &&
                      ReadAt(fd, st.st_size - static_cast<off_t>(tailBytes) - 1, tailBytes + 1, tail);
    ::close(fd);
    const std::size_t firstLineEnd = tail.find('\n');
    if (!read || firstLineEnd == std::string::npos)
        return text;
    text.reserve(header.size() + tail.size() - firstLineEnd - 1);
    text = header;
    text.append(tail, firstLineEnd + 1);
    return text;
}

CCheckLog::CCheckLog(int directoryFd, std::string runId) : m_runId(std::move(runId))
{
    // O_PATH: a folder we may write to but not list still takes the log.
    m_directory = directoryFd == AT_FDCWD ? ::open(".", O_PATH | O_DIRECTORY | O_CLOEXEC)
                                          : ::fcntl(directoryFd, F_DUPFD_CLOEXEC, 0);
}

CCheckLog::~CCheckLog()
{
    if (m_file >= 0)
        ::close(m_file);
    if (m_directory >= 0)
        ::close(m_directory);
}

void CCheckLog::Fail()
{
    // A row may have gone out in part: anything appended after it would not start a row.
    m_failed = true;
    if (m_file >= 0)
        ::close(m_file);
    m_file = -1;
}

bool CCheckLog::Open()
{
    if (m_file >= 0)
        return true;
    if (m_directory < 0)
        return false;
    bool created = false;
    m_file = OpenCheckLogAt(m_directory, created);
    if (m_file < 0)
        return false;
    if (!created) {
        char start[128];
        ssize_t n;
        do
            n = ::pread(m_file, start, sizeof start, 0);
        while (n < 0 && errno == EINTR);
        if (n < 0)
            return false;
        if (n > 0) {
            // Someone else's file, or one we cannot recognise: left as it is.
            if (!IsOurHeaderLine(std::string_view(start, static_cast<std::size_t>(n))))
                return false;
            // A run that ended mid-row left no line end: the broken row stays broken, and the
            // first row of this run starts a line of its own.
            struct stat st {};
            std::string last;
            if (::fstat(m_file, &st) != 0 || !ReadAt(m_file, st.st_size - 1, 1, last))
                return false;
            return last == "\n" || WriteOnce(m_file, "\r\n");
        }
        // Empty: a start cut short right after creating it.
    }
    return WriteOnce(m_file, std::string(CHECK_LOG_HEADER) + "\r\n");
}

bool CCheckLog::Append(const CheckLogRow& row)
{
    if (m_failed)
        return false;
    if (!Open()) {
        Fail();
        return false;
    }
    if (!WriteOnce(m_file, FormatLogRow(LogTimeText(std::chrono::system_clock::now()), m_runId, row))) {
        Fail();
        return false;
    }
    return true;
}

void CCheckLog::CheckEnded()
{
    if (m_file >= 0 && ::fsync(m_file) != 0)
        Fail();
}

bool CCheckLog::TakeFailureNotice()
{
    if (!m_failed || m_noticeTaken)
        return false;
    m_noticeTaken = true;
    return true;
}

CCheckLog* CurrentCheckLog()
{
    return g_currentLog;
}

void SetCurrentCheckLog(CCheckLog* log)
{
    g_currentLog = log;
}

bool LogQuestionnaireSent(const std::string& ageItem)
{
    if (g_currentLog == nullptr)
        return false;
    g_currentLog->Append(
        {LogCheck::Questionnaire, LogKind::Questionnaire, "", "", ageItem, LogJudgement::None, ""});
    return EndCurrentCheck();
}

bool EndCurrentCheck()
{
    if (g_currentLog == nullptr)
        return false;
    g_currentLog->CheckEnded();
    return g_currentLog->TakeFailureNotice();
}
