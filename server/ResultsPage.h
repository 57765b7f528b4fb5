#pragma once
// The public results page: counts and distributions only, drawn as SVG by the server. It never
// shows a comment, a date or one person's values, and it leaves out every group of fewer than
// SMALLEST_SHOWN_GROUP people so that nobody can be picked out.
#include "server/SurveyStats.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

constexpr int SMALLEST_SHOWN_GROUP = 5;

std::string RenderResultsPage(const std::vector<StatsRow>& rows);
std::string RenderResultsPage(const CStatsRows& rows);

std::string HtmlEscape(std::string_view text);

// Median and quartiles (linear interpolation between order statistics) of a group, or nothing
// when the group is smaller than SMALLEST_SHOWN_GROUP.
struct BoxStats {
    std::size_t count = 0;
    double q1 = 0, median = 0, q3 = 0;
};
std::optional<BoxStats> Summarize(std::vector<std::int32_t> values);
