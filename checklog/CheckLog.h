#pragma once
#include "ui/Language.h"
// tonvale-log.csv: one row per question asked and one per measurement found, appended beside
// result.dat. Plain code, no window: the dialogs hand it rows, the report reads them back.
//
// Every row goes out whole in one write() to a descriptor opened for appending, so a kill or a
// second instance never leaves half a row between whole ones. A failure never stops a check: the
// log remembers it, stops writing for the rest of the run, and lets the caller say so once.
#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

constexpr const char* CHECK_LOG_NAME = "tonvale-log.csv";
// The first line of every log this program writes (without its CR LF).
constexpr const char* CHECK_LOG_HEADER = "time,run,check,kind,frequency,played,answer,judgement,value";
constexpr int CHECK_LOG_COLUMNS = 9;
// The most of a log that is read back: years of checks. Of a longer one only its last part is read.
constexpr std::size_t MAX_LOG_BYTES = 64 * 1024 * 1024;
// Shown once per run, after a check, when rows could not be written.
constexpr const char* CHECK_LOG_FAILED_MESSAGE =
    TR_NOOP("tonvale-log.csv に記録できませんでした。結果は result.dat にだけ保存されます。");

// Which check a row belongs to. The range check's two searches are told apart here, so that
// every row of it says which limit it was looking for.
enum class LogCheck { SoundCard, RangeUpper, RangeLower, Interval, Questionnaire };
enum class LogKind { Question, Result, Questionnaire };
// How an answer was judged; None for result and questionnaire rows.
enum class LogJudgement { None, Right, Wrong, NotJudged, Heard, NotHeard };

const char* LogCheckText(LogCheck check);
const char* LogKindText(LogKind kind);
const char* LogJudgementText(LogJudgement judgement);

// One row as a dialog gives it. Time and run id are added by the log.
struct CheckLogRow {
    LogCheck check = LogCheck::RangeUpper;
    LogKind kind = LogKind::Question;
    std::string frequency; // the test frequency (Hz) or the interval band (Hz)
    std::string played;    // see the helpers below
    std::string answer;    // the answer's text as the list shows it; the age item for the questionnaire
    LogJudgement judgement = LogJudgement::None;
    std::string value; // a result row's value: Hz, cents, or the sound card's limit
};

// What was played, as the log writes it.
// The range check's five slots, "1" for a tone and "0" for a silence: "10110".
std::string RangePatternText(const bool (&slots)[5]);
// The interval check's two tones in playing order: "880 884".
std::string IntervalTonesText(int firstHz, int secondHz);
// A frequency with two decimals, as the sound card check shows its tones: "14000.00".
std::string FrequencyText(double hz);

// One row read back from a log.
struct LoggedRow {
    std::string time, run, check, kind, frequency, played, answer, judgement, value;
};

// Local time with milliseconds and UTC offset: "2026-12-07T11:25:33.120+09:00".
std::string LogTimeText(std::chrono::system_clock::time_point when);
// Milliseconds since 1970 (UTC) of a time written by LogTimeText; nullopt when it is not one.
std::optional<long long> ParseLogTime(std::string_view text);

// The id of this start of the program: its local start time and a random part, "20261207-112533-3f9a".
const std::string& CurrentRunId();

// One row as the log writes it: RFC 4180 fields, CR LF at the end.
std::string FormatLogRow(std::string_view time, std::string_view run, const CheckLogRow& row);

// Parses a whole log. Malformed rows (the wrong number of fields, broken quoting, an unfinished last
// row) are skipped, and counted in `malformedRows` when given; a text whose first line is not our
// header gives no rows.
std::vector<LoggedRow> ParseCheckLog(std::string_view text, std::size_t* malformedRows = nullptr);

// Opens tonvale-log.csv in the directory `directoryFd` for appending, creating it 0600 (and
// flushing the directory) when it is not there; `created` says which. Returns the descriptor, or
// -1. Symbolic links are followed as result.dat's are (CGeneralFile::OpenAt).
int OpenCheckLogAt(int directoryFd, bool& created);

// Reads the log in `directoryFd` (empty when there is none or it cannot be read). A log longer than
// the most that is loaded gives its header and the whole rows of its last part.
std::string ReadCheckLogAt(int directoryFd);

class CCheckLog {
public:
    // `directoryFd` is the folder of result.dat; the log keeps its own copy of the descriptor.
    // Nothing is opened or created until the first row.
    explicit CCheckLog(int directoryFd, std::string runId = CurrentRunId());
    ~CCheckLog();
    CCheckLog(const CCheckLog&) = delete;
    CCheckLog& operator=(const CCheckLog&) = delete;

    // Appends one row with the current time. False when it was not written (now or earlier).
    bool Append(const CheckLogRow& row);
    // A check has ended: its rows go to disk.
    void CheckEnded();
    // True once per run, the first time it is asked after a failure: the caller then shows
    // CHECK_LOG_FAILED_MESSAGE.
    bool TakeFailureNotice();
    bool Failed() const { return m_failed; }

private:
    bool Open();
    void Fail();

    int m_directory = -1;
    int m_file = -1;
    std::string m_runId;
    bool m_failed = false;
    bool m_noticeTaken = false;
};

// The log of this run, for the dialogs to write to; nullptr when there is none.
CCheckLog* CurrentCheckLog();
void SetCurrentCheckLog(CCheckLog* log);

// A check has ended: the run's log goes to disk. True when the caller should now show
// CHECK_LOG_FAILED_MESSAGE (once per run).
bool EndCurrentCheck();

// The questionnaire was sent: one row with the age item chosen, and nothing else from it. True when
// the caller should now show CHECK_LOG_FAILED_MESSAGE (once per run).
bool LogQuestionnaireSent(const std::string& ageItem);
