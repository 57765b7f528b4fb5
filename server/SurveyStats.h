#pragma once
// What the results page needs of each submission: the answers that form its groups and the ten
// measurements. A row lives only until it is counted into the page's tally; nothing per row is
// kept, so the server's memory does not grow with the table.
#include "survey/SurveyBody.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <functional>
#include <string_view>
#include <vector>

class CSqliteDb;

constexpr std::int32_t STATS_MISSING = INT32_MIN;

// Age bands follow the decades of the published reference (21–30, 31–40, …), so that its points
// can be set beside our own groups.
constexpr int AGE_BAND_COUNT = 7;
constexpr std::array<std::string_view, AGE_BAND_COUNT> AGE_BAND_LABELS = {
    "20 and under", "21–30", "31–40", "41–50", "51–60", "61–70", "71 and over"};

// List answers as item indexes (0 = not answered).
struct StatsRow {
    std::int8_t ageBand = -1; // -1 when the age was not given
    std::int8_t instrument = 0;
    std::int8_t school = 0;
    std::array<std::int32_t, SURVEY_MEASUREMENT_COUNT> measurements{}; // STATS_MISSING if none
};

int AgeBandOf(std::string_view ageItem);
StatsRow MakeStatsRow(std::string_view age, std::string_view instrument, std::string_view school,
                      const std::array<std::int32_t, SURVEY_MEASUREMENT_COUNT>& measurements);
StatsRow StatsRowOf(const SurveySubmission& submission);
// Visits the page's row of every stored submission, one at a time, in the table's order.
void ForEachStatsRow(const CSqliteDb& db, const std::function<void(const StatsRow&)>& visit);
