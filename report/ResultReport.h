#pragma once
// "My Results": one self-contained HTML page (inline SVG, no scripts, nothing fetched, A4 when
// printed) with the current measurements, the highest audible frequency beside published age
// reference points, and the history kept in tonvale-log.csv.
#include "checklog/CheckLog.h"
#include "results/ResultRecord.h"

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// What the page says about its sources besides their contents.
struct ReportSources {
    // result.dat is not Tonvale's: the measurements show as not measured, and the page says why.
    bool foreignResultFile = false;
    // Rows of the log its reader could not read (ParseCheckLog's count).
    std::size_t malformedRows = 0;
};

// The page. `generatedAt` is the time shown as the page's date; everything taken from `log` is
// escaped. Values the program cannot have measured are left out, and the page says how many
// entries of the log it left out.
std::string BuildResultReport(const ResultRecordData& record, const std::vector<LoggedRow>& log,
                              std::string_view generatedAt, const ReportSources& sources = {});

// The age item the listener last chose in the questionnaire ("30 years old"), or empty.
std::string LastChosenAge(const std::vector<LoggedRow>& log);
