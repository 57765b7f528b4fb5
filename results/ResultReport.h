#pragma once
// "My Results": one self-contained HTML page (inline SVG, no scripts, nothing fetched, A4 when
// printed) with the current measurements, the highest audible frequency beside published age
// reference points, and the history kept in tonvale-log.csv.
#include "results/CheckLog.h"
#include "results/ResultRecord.h"

#include <string>
#include <string_view>
#include <vector>

// The page. `generatedAt` is the time shown as the page's date; everything taken from `log` is
// escaped.
std::string BuildResultReport(const ResultRecordData& record, const std::vector<LoggedRow>& log,
                              std::string_view generatedAt);

// Reads result.dat in `directoryFd` as the program loads it (a short file replaces only its leading
// fields), without message boxes: `record` keeps its start-up values when there is no file.
// False when a file is there but cannot be read.
bool ReadResultRecordAt(int directoryFd, ResultRecordData& record);

// The age item the listener last chose in the questionnaire ("30 years old"), or empty.
std::string LastChosenAge(const std::vector<LoggedRow>& log);
