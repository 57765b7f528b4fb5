// What My Results costs for a long history: reading, parsing and drawing a log of 100,000 rows
// (about two thousand runs of every check), as the main window and `tonvale --report` do.
//
//   build/<dir>/bin/report_bench
#include "checklog/CheckLog.h"
#include "report/ReportPage.h"

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

constexpr int ROWS = 100000;

// One run's rows as the checks write them: the sound card, both range searches and one interval
// band, questions first and each check's result after them (48 rows).
std::string RunRows(int run)
{
    char time[40];
    std::snprintf(time, sizeof time, "20%02d-%02d-%02dT10:%02d:00.000+09:00", 10 + run / 336,
                  1 + run / 28 % 12, 1 + run % 28, run % 60);
    const std::string id = "run-" + std::to_string(run);
    const bool slots[5] = {true, false, true, true, false};
    std::string rows = FormatLogRow(time, id,
                                    {LogCheck::SoundCard, LogKind::Question, "20000.00", "20000.00",
                                     "heard no sound", LogJudgement::NotHeard, ""});
    rows += FormatLogRow(time, id,
                         {LogCheck::SoundCard, LogKind::Result, "", "", "", LogJudgement::None, "22050.00"});
    for (LogCheck check : {LogCheck::RangeUpper, LogCheck::RangeLower}) {
        for (int q = 0; q < 14; ++q)
            rows += FormatLogRow(time, id,
                                 {check, LogKind::Question, std::to_string(11245 + q),
                                  RangePatternText(slots), "3回", LogJudgement::Right, ""});
        rows +=
            FormatLogRow(time, id,
                         {check, LogKind::Result, "", "", "", LogJudgement::None,
                          std::to_string(check == LogCheck::RangeUpper ? 15000 + run % 900 : 30 + run % 20)});
    }
    const int band = INTERVAL_BAND_HZ[run % INTERVAL_BAND_COUNT];
    for (int q = 0; q < 15; ++q)
        rows += FormatLogRow(time, id,
                             {LogCheck::Interval, LogKind::Question, std::to_string(band),
                              IntervalTonesText(band, band + q), "Former sound", LogJudgement::Wrong, ""});
    rows += FormatLogRow(time, id,
                         {LogCheck::Interval, LogKind::Result, std::to_string(band), "", "",
                          LogJudgement::None, std::to_string(5 + run % 30)});
    return rows;
}

void BM_MyResultsFor100000Rows(benchmark::State& state)
{
    char pattern[] = "/tmp/tonvale-report-bench.XXXXXX";
    const char* dir = ::mkdtemp(pattern);
    if (dir == nullptr) {
        state.SkipWithError("no temporary folder");
        return;
    }
    std::string log = std::string(CHECK_LOG_HEADER) + "\r\n";
    int rows = 0;
    for (int run = 0; rows < ROWS; ++run) {
        const std::string more = RunRows(run);
        for (std::size_t at = more.find("\r\n"); at != std::string::npos && rows < ROWS;
             at = more.find("\r\n", at + 2))
            ++rows;
        log += more;
    }
    std::ofstream(std::filesystem::path(dir) / CHECK_LOG_NAME, std::ios::binary) << log;
    const int dirFd = ::open(dir, O_RDONLY | O_DIRECTORY | O_CLOEXEC);

    ResultRecordData record{};
    record.m_lowestHz = 30;
    record.m_highestHz = 15000;
    for (auto& cents : record.m_intervalCents)
        cents = NOT_MEASURED;
    std::size_t pageBytes = 0;
    for (auto _ : state) {
        const std::string page = BuildReportForFolder(record, dirFd);
        pageBytes = page.size();
        benchmark::DoNotOptimize(page.data());
    }
    ::close(dirFd);
    std::filesystem::remove_all(dir);
    state.counters["log_rows"] = rows;
    state.counters["log_MB"] = double(log.size()) / 1e6;
    state.counters["page_kB"] = double(pageBytes) / 1e3;
}
BENCHMARK(BM_MyResultsFor100000Rows)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
