#pragma once
// The public results page: counts and distributions only, drawn as SVG by the server. It never
// shows a comment, a date or one person's values, and it leaves out every group of fewer than
// SMALLEST_SHOWN_GROUP people so that nobody can be picked out.
#include "chart/Html.h" // HtmlEscape, for the server's own pages too
#include "server/SurveyStats.h"

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

constexpr int SMALLEST_SHOWN_GROUP = 5;

// How many people gave each value, 0 to a largest one, of one measurement in one group: what the
// page's figures need, in a size that does not grow with the number of people.
class CValueCounts {
public:
    explicit CValueCounts(std::int32_t largest) : m_counts(static_cast<std::size_t>(largest) + 1) {}
    // A value outside 0 to the largest is no measurement and is not counted.
    void Add(std::int32_t value)
    {
        if (value < 0 || static_cast<std::size_t>(value) >= m_counts.size())
            return;
        ++m_counts[static_cast<std::size_t>(value)];
        ++m_total;
    }
    std::size_t size() const { return m_total; }
    std::size_t AtLeast(std::int32_t value) const;
    // The k-th smallest value (from 0); k < size().
    std::int32_t Nth(std::size_t k) const;

private:
    std::vector<std::uint32_t> m_counts;
    std::size_t m_total = 0;
};

// Median and quartiles (linear interpolation between order statistics) of a group, or nothing
// when the group is smaller than SMALLEST_SHOWN_GROUP.
struct BoxStats {
    std::size_t count = 0;
    double q1 = 0, median = 0, q3 = 0;
};

// Everything the page shows, gathered a row at a time; a page is drawn from it at any point.
class CResultsTally {
public:
    CResultsTally();
    ~CResultsTally();
    // A copy is a few hundred kilobytes of counts, whatever the number of rows; assigning into an
    // existing tally reuses its memory.
    CResultsTally(const CResultsTally& other);
    CResultsTally& operator=(const CResultsTally& other);

    void Add(const StatsRow& row);
    std::size_t Count() const { return m_count; }
    std::string Render() const;

    // One group of one figure, as the page summarises it: `band` is the age band for the
    // frequencies and the octave band for the intervals, `item` the answer (school or instrument)
    // that splits an interval band.
    enum class Figure { HighestHz, LowestHz, IntervalBySchool, IntervalByInstrument };
    std::optional<BoxStats> Summary(Figure figure, int band, std::size_t item = 0) const;

    struct Groups; // the page's groups, each value counted

private:
    std::size_t m_count = 0;
    std::unique_ptr<Groups> m_groups;
};

std::string RenderResultsPage(const std::vector<StatsRow>& rows);

std::optional<BoxStats> Summarize(const CValueCounts& values);
