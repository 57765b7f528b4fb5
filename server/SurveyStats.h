#pragma once
// What the results page needs of each submission, kept compact: the answers that form its groups
// and the ten measurements. The store keeps these rows in memory beside the database, so that
// the page never has to read the whole table.
#include "survey/SurveyBody.h"

#include <array>
#include <cstdint>
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
    std::int8_t ageBand = -1;   // -1 when the age was not given
    std::int8_t instrument = 0;
    std::int8_t school = 0;
    std::array<std::int32_t, SURVEY_MEASUREMENT_COUNT> measurements{}; // STATS_MISSING if none
};

int AgeBandOf(std::string_view ageItem);
StatsRow MakeStatsRow(std::string_view age, std::string_view instrument, std::string_view school,
                      const std::array<std::int32_t, SURVEY_MEASUREMENT_COUNT>& measurements);
StatsRow StatsRowOf(const SurveySubmission& submission);
std::vector<StatsRow> LoadStatsRows(const CSqliteDb& db);
