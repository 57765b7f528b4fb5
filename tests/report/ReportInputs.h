#pragma once
// The measurements and log rows the My Results tests make their pages from.
#include "checklog/CheckLog.h"
#include "results/ResultRecord.h"

#include <string>
#include <vector>

inline ResultRecordData Record(int lowest, int highest, int cents440)
{
    ResultRecordData record{};
    record.m_lowestHz = lowest;
    record.m_highestHz = highest;
    for (auto& cents : record.m_intervalCents)
        cents = NOT_MEASURED;
    record.m_intervalCents[3] = cents440;
    return record;
}

inline LoggedRow Row(const std::string& day, const std::string& run, const char* check, const char* kind,
                     const std::string& frequency, const std::string& value, const std::string& answer = "")
{
    return {"2026-" + day + "T10:00:00.000+09:00", run, check, kind, frequency, "", answer, "", value};
}

// One run's results as the checks log them; `extraBand` adds a band's result when not 0.
inline void AddRun(std::vector<LoggedRow>& log, const std::string& day, int upper, int lower, int cents,
                   const char* card, int extraBand = 0)
{
    const std::string run = "run-" + day;
    log.push_back(Row(day, run, "sound card", "result", "", card));
    log.push_back(Row(day, run, "range upper", "question", "15000", ""));
    log.push_back(Row(day, run, "range upper", "result", "", std::to_string(upper)));
    log.push_back(Row(day, run, "range lower", "result", "", std::to_string(lower)));
    log.push_back(Row(day, run, "interval", "result", "440", std::to_string(cents)));
    log.push_back(Row(day, run, "interval", "result", "880", std::to_string(cents + 3)));
    if (extraBand != 0)
        log.push_back(
            Row(day, run, "interval", "result", std::to_string(extraBand), std::to_string(cents * 2)));
}

// Three runs, one with a third band, an age chosen (55: the 51 to 60 band) and two rows no chart
// can use.
inline std::vector<LoggedRow> SeveralRuns()
{
    std::vector<LoggedRow> log;
    AddRun(log, "10-01", 16500, 45, 12, "22050.00");
    AddRun(log, "11-01", 16000, 40, 9, "19998.44");
    AddRun(log, "12-01", 15500, 38, 7, "22050.00", 110);
    log.push_back(Row("12-01", "run-12-01", "questionnaire", "questionnaire", "", "", "55 years old"));
    log.push_back(Row("12-02", "x", "range upper", "result", "", "1e9999"));
    log.push_back(Row("12-02", "x", "interval", "result", "441", "5"));
    return log;
}
