#pragma once
// The public results page: counts and distributions only, drawn as SVG by the server. It never
// shows a comment, a date or one person's values, and it leaves out every group of fewer than
// SMALLEST_SHOWN_GROUP people so that nobody can be picked out.
#include "server/SurveyBody.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class CSqliteDb;

constexpr int SMALLEST_SHOWN_GROUP = 5;
constexpr std::int32_t STATS_MISSING = INT32_MIN;

// Age bands follow the decades of the published reference (21–30, 31–40, …), so that its points
// can be set beside our own groups.
constexpr int AGE_BAND_COUNT = 7;
constexpr std::array<std::string_view, AGE_BAND_COUNT> AGE_BAND_LABELS = {
    "20 and under", "21–30", "31–40", "41–50", "51–60", "61–70", "71 and over"};

// What the page needs of one submission; list answers as item indexes (0 = not answered).
struct StatsRow {
    std::int8_t ageBand = -1;   // -1 when the age was not given
    std::int8_t instrument = 0;
    std::int8_t school = 0;
    std::array<std::int32_t, SURVEY_MEASUREMENT_COUNT> measurements{}; // STATS_MISSING if none
};

int AgeBandOf(std::string_view ageItem);
StatsRow MakeStatsRow(std::string_view age, std::string_view instrument, std::string_view school,
                      const std::array<std::int32_t, SURVEY_MEASUREMENT_COUNT>& measurements);
std::vector<StatsRow> LoadStatsRows(const CSqliteDb& db);

std::string RenderResultsPage(const std::vector<StatsRow>& rows);

std::string HtmlEscape(std::string_view text);

// Median and quartiles (linear interpolation between order statistics) of a group, or nothing
// when the group is smaller than SMALLEST_SHOWN_GROUP.
struct BoxStats {
    std::size_t count = 0;
    double q1 = 0, median = 0, q3 = 0;
};
std::optional<BoxStats> Summarize(std::vector<std::int32_t> values);
