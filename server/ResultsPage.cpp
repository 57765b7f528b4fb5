#include "server/ResultsPage.h"

#include "chart/Axis.h"
#include "chart/Citations.h"
#include "chart/Html.h"
#include "chart/Svg.h"
#include "survey/SurveyFields.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

// The values of every group the page shows. A value outside what the program can measure (a
// negative one, 2^31 - 1, stored before the server checked the range) is no measurement, so it
// is left out of every figure.
struct CResultsTally::Groups {
    // Per age band, and per octave band and answer.
    using Split = std::vector<CValueCounts>;
    using BandSplit = std::vector<Split>;

    std::array<std::size_t, AGE_BAND_COUNT> people{};
    Split highest = Split(AGE_BAND_COUNT, CValueCounts(MAX_MEASURED_HZ));
    Split lowest = Split(AGE_BAND_COUNT, CValueCounts(MAX_MEASURED_HZ));
    BandSplit bySchool =
        BandSplit(INTERVAL_BAND_COUNT, Split(SCHOOL_ITEMS.size(), CValueCounts(MAX_MEASURED_CENTS)));
    BandSplit byInstrument =
        BandSplit(INTERVAL_BAND_COUNT, Split(INSTRUMENT_ITEMS.size(), CValueCounts(MAX_MEASURED_CENTS)));

    void Add(const StatsRow& row)
    {
        auto measured = [&row](int m) {
            const std::int32_t value = row.measurements[m];
            return value != STATS_MISSING && value >= 0 && value <= MaxMeasured(m);
        };
        if (row.ageBand >= 0) {
            ++people[row.ageBand];
            if (measured(MEASUREMENT_HIGHEST_HZ))
                highest[row.ageBand].Add(row.measurements[MEASUREMENT_HIGHEST_HZ]);
            if (measured(MEASUREMENT_LOWEST_HZ))
                lowest[row.ageBand].Add(row.measurements[MEASUREMENT_LOWEST_HZ]);
        }
        for (int band = 0; band < INTERVAL_BAND_COUNT; ++band) {
            if (!measured(MEASUREMENT_FIRST_INTERVAL + band))
                continue;
            const std::int32_t cents = row.measurements[MEASUREMENT_FIRST_INTERVAL + band];
            bySchool[band][static_cast<std::size_t>(row.school)].Add(cents);
            byInstrument[band][static_cast<std::size_t>(row.instrument)].Add(cents);
        }
    }
};

namespace {

constexpr std::array<std::string_view, 5> GROUP_COLOURS = {"#0072b2", "#d55e00", "#009e73", "#cc79a7",
                                                           "#e69f00"};
constexpr std::string_view HIDDEN_TEXT = "fewer than 5 people: not shown";
constexpr int MAX_HZ_BANDS_KHZ[] = {16, 18, 20};

std::string Format(const char* format, double value)
{
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

std::string Num(double value)
{
    return FormatNumber(value, 1);
}

// Value formatting for tables: whole numbers where the value is whole.
std::string Value(double value)
{
    return std::floor(value) == value ? Format("%.0f", value) : Format("%.1f", value);
}

// --- Charts ---------------------------------------------------------------------------------

struct Series {
    std::string label;
    std::optional<BoxStats> box;
};

struct Row {
    std::string label;
    std::vector<Series> series;
};

// A published reference point drawn on a row, with its citation number.
struct Mark {
    std::size_t row;
    double value;
    std::string text;
    int citation; // number in the page's list of references
};

constexpr double CHART_WIDTH = 860;
constexpr double PLOT_LEFT = 130;
constexpr double PLOT_RIGHT = 600;
constexpr double SERIES_HEIGHT = 16;
constexpr double ROW_GAP = 12;

// Horizontal box chart: one box (quartiles) with a median line per series, a row per group.
std::string BoxChart(const std::string& id, const std::string& title, const std::vector<Row>& rows,
                     const ChartAxis& axis, const std::vector<Mark>& marks = {})
{
    double height = 20;
    std::vector<double> rowTops;
    for (const Row& row : rows) {
        rowTops.push_back(height);
        height += static_cast<double>(row.series.size()) * SERIES_HEIGHT + ROW_GAP;
    }
    const double plotBottom = height;
    height += 40;

    std::string svg = "<svg class=\"chart\" id=\"" + id + "\" role=\"img\" aria-labelledby=\"" + id +
                      "-title\" width=\"" + Num(CHART_WIDTH) + "\" height=\"" + Num(height) +
                      "\" viewBox=\"0 0 " + Num(CHART_WIDTH) + " " + Num(height) +
                      "\" xmlns=\"http://www.w3.org/2000/svg\">";
    svg += SvgTitle(id, title);

    // Grid and axis.
    for (double tick : AxisTicks(axis)) {
        const double x = axis.Position(tick, PLOT_LEFT, PLOT_RIGHT);
        svg += "<line class=\"grid\" x1=\"" + Num(x) + "\" y1=\"14\" x2=\"" + Num(x) + "\" y2=\"" +
               Num(plotBottom) + "\"/>";
        svg += "<text class=\"tick\" x=\"" + Num(x) + "\" y=\"" + Num(plotBottom + 14) +
               "\" text-anchor=\"middle\">" + HtmlEscape(Value(tick / axis.labelScale)) + "</text>";
    }
    svg += "<text class=\"unit\" x=\"" + Num((PLOT_LEFT + PLOT_RIGHT) / 2) + "\" y=\"" +
           Num(plotBottom + 32) + "\" text-anchor=\"middle\">" + HtmlEscape(axis.unit) +
           (axis.log ? " (logarithmic scale)" : "") + "</text>";

    for (std::size_t r = 0; r < rows.size(); ++r) {
        const Row& row = rows[r];
        const double top = rowTops[r];
        const double rowHeight = static_cast<double>(row.series.size()) * SERIES_HEIGHT;
        svg += "<text class=\"label\" x=\"" + Num(PLOT_LEFT - 8) + "\" y=\"" + Num(top + rowHeight / 2 + 4) +
               "\" text-anchor=\"end\">" + HtmlEscape(row.label) + "</text>";
        for (std::size_t s = 0; s < row.series.size(); ++s) {
            const Series& series = row.series[s];
            const double y = top + static_cast<double>(s) * SERIES_HEIGHT;
            const std::string_view colour = GROUP_COLOURS[s % GROUP_COLOURS.size()];
            if (!series.box) {
                // Within a row of several groups the legend's colour names the group.
                svg += "<text class=\"hidden\" x=\"" + Num(PLOT_LEFT + 4) + "\" y=\"" +
                       Num(y + SERIES_HEIGHT - 4) + "\"" +
                       (series.label.empty() ? ">" + std::string(HIDDEN_TEXT)
                                             : " fill=\"" + std::string(colour) + "\"><title>" +
                                                   HtmlEscape(series.label) + "</title>fewer than 5") +
                       "</text>";
                continue;
            }
            const BoxStats& box = *series.box;
            const double x1 = axis.Position(box.q1, PLOT_LEFT, PLOT_RIGHT);
            const double x3 = axis.Position(box.q3, PLOT_LEFT, PLOT_RIGHT);
            const double xm = axis.Position(box.median, PLOT_LEFT, PLOT_RIGHT);
            svg += "<g class=\"box\"><title>" + HtmlEscape(row.label) +
                   (series.label.empty() ? "" : ", " + HtmlEscape(series.label)) + ": median " +
                   HtmlEscape(Value(box.median)) + ", quartiles " + HtmlEscape(Value(box.q1)) + "–" +
                   HtmlEscape(Value(box.q3)) + ", " + std::to_string(box.count) + " people</title>";
            svg += "<rect x=\"" + Num(x1) + "\" y=\"" + Num(y + 2) + "\" width=\"" +
                   Num(std::max(x3 - x1, 1.0)) + "\" height=\"" + Num(SERIES_HEIGHT - 4) + "\" fill=\"" +
                   std::string(colour) + "\" fill-opacity=\"0.35\" stroke=\"" + std::string(colour) + "\"/>";
            svg += "<line class=\"median\" x1=\"" + Num(xm) + "\" y1=\"" + Num(y + 1) + "\" x2=\"" + Num(xm) +
                   "\" y2=\"" + Num(y + SERIES_HEIGHT - 1) + "\" stroke=\"" + std::string(colour) +
                   "\"/></g>";
            svg += "<text class=\"count\" x=\"" + Num(PLOT_RIGHT + 8) + "\" y=\"" +
                   Num(y + SERIES_HEIGHT - 4) + "\">n = " + std::to_string(box.count) + "</text>";
        }
    }

    for (const Mark& mark : marks) {
        const double top = rowTops[mark.row];
        const double bottom = top + static_cast<double>(rows[mark.row].series.size()) * SERIES_HEIGHT;
        const double x = axis.Position(mark.value, PLOT_LEFT, PLOT_RIGHT);
        svg += "<g class=\"reference\"><line x1=\"" + Num(x) + "\" y1=\"" + Num(top - 3) + "\" x2=\"" +
               Num(x) + "\" y2=\"" + Num(bottom + 3) + "\"/>";
        svg += "<path d=\"M" + Num(x - 5) + " " + Num(top - 8) + " L" + Num(x + 5) + " " + Num(top - 8) +
               " L" + Num(x) + " " + Num(top - 2) + " Z\"/>";
        svg += "<text class=\"cite\" x=\"" + Num(x + 7) + "\" y=\"" + Num(top - 1) + "\">[" +
               std::to_string(mark.citation) + "]</text></g>";
    }
    svg += "</svg>";

    // The marks' texts go beside the chart, in a list a screen reader can read too.
    if (!marks.empty()) {
        svg += "<ul class=\"marks\">";
        for (const Mark& mark : marks) {
            svg += "<li><span class=\"mark\">▼</span> " + HtmlEscape(rows[mark.row].label) + ": " +
                   HtmlEscape(mark.text) + "</li>";
        }
        svg += "</ul>";
    }
    return svg;
}

// Vertical bars: how many people in each age band.
std::string CountChart(const std::string& id, const std::string& title,
                       const std::vector<std::pair<std::string, std::size_t>>& groups)
{
    std::size_t largest = 1;
    for (const auto& group : groups)
        largest = std::max(largest, group.second);
    const double barWidth = 60, gap = 20, plotTop = 20, plotHeight = 140;
    const double width = 40 + static_cast<double>(groups.size()) * (barWidth + gap);
    const double height = plotTop + plotHeight + 40;
    std::string svg = "<svg class=\"chart\" id=\"" + id + "\" role=\"img\" aria-labelledby=\"" + id +
                      "-title\" width=\"" + Num(width) + "\" height=\"" + Num(height) + "\" viewBox=\"0 0 " +
                      Num(width) + " " + Num(height) + "\" xmlns=\"http://www.w3.org/2000/svg\">";
    svg += SvgTitle(id, title);
    const double baseline = plotTop + plotHeight;
    svg += "<line class=\"axis\" x1=\"20\" y1=\"" + Num(baseline) + "\" x2=\"" + Num(width - 10) +
           "\" y2=\"" + Num(baseline) + "\"/>";
    for (std::size_t i = 0; i < groups.size(); ++i) {
        const double x = 30 + static_cast<double>(i) * (barWidth + gap);
        const std::size_t count = groups[i].second;
        svg += "<text class=\"label\" x=\"" + Num(x + barWidth / 2) + "\" y=\"" + Num(baseline + 16) +
               "\" text-anchor=\"middle\">" + HtmlEscape(groups[i].first) + "</text>";
        if (count < SMALLEST_SHOWN_GROUP) {
            svg += "<text class=\"hidden\" x=\"" + Num(x + barWidth / 2) + "\" y=\"" + Num(baseline - 6) +
                   "\" text-anchor=\"middle\">–</text>";
            continue;
        }
        const double h = plotHeight * static_cast<double>(count) / static_cast<double>(largest);
        svg += "<rect class=\"bar\" x=\"" + Num(x) + "\" y=\"" + Num(baseline - h) + "\" width=\"" +
               Num(barWidth) + "\" height=\"" + Num(h) + "\"><title>" + HtmlEscape(groups[i].first) + ": " +
               std::to_string(count) + " people</title></rect>";
        svg += "<text class=\"count\" x=\"" + Num(x + barWidth / 2) + "\" y=\"" + Num(baseline - h - 4) +
               "\" text-anchor=\"middle\">" + std::to_string(count) + "</text>";
    }
    return svg + "</svg>";
}

// A log axis of whole decades around what the shown boxes hold.
ChartAxis LogAxisFor(const std::vector<Row>& rows, std::string unit, double floorValue, double maxValue)
{
    double lo = INFINITY, hi = 0;
    for (const Row& row : rows) {
        for (const Series& series : row.series) {
            if (series.box) {
                lo = std::min(lo, series.box->q1);
                hi = std::max(hi, series.box->q3);
            }
        }
    }
    return DecadeAxis(lo, hi, floorValue, maxValue, std::move(unit));
}

std::string StatsTable(const std::string& caption, const std::vector<Row>& rows, const std::string& unit)
{
    std::string html = "<table><caption>" + HtmlEscape(caption) +
                       "</caption><thead><tr><th>Group</th><th>People</th><th>Lower quartile</th>"
                       "<th>Median</th><th>Upper quartile</th></tr></thead><tbody>";
    for (const Row& row : rows) {
        for (const Series& series : row.series) {
            const std::string label = row.label + (series.label.empty() ? "" : ", " + series.label);
            html += "<tr><th scope=\"row\">" + HtmlEscape(label) + "</th>";
            if (series.box) {
                html += "<td>" + std::to_string(series.box->count) + "</td><td>" +
                        HtmlEscape(Value(series.box->q1)) + " " + unit + "</td><td>" +
                        HtmlEscape(Value(series.box->median)) + " " + unit + "</td><td>" +
                        HtmlEscape(Value(series.box->q3)) + " " + unit + "</td>";
            } else {
                html += "<td colspan=\"4\" class=\"hidden\">" + std::string(HIDDEN_TEXT) + "</td>";
            }
            html += "</tr>";
        }
    }
    return html + "</tbody></table>";
}

using Groups = CResultsTally::Groups;
using Values = CValueCounts;

std::vector<Row> AgeRows(const Groups::Split& values)
{
    std::vector<Row> result;
    for (int band = 0; band < AGE_BAND_COUNT; ++band)
        result.push_back({std::string(AGE_BAND_LABELS[band]), {{"", Summarize(values[band])}}});
    return result;
}

template <std::size_t N>
std::vector<Row> IntervalRows(const Groups::BandSplit& values, const std::array<std::string_view, N>& items)
{
    std::vector<Row> result;
    for (int band = 0; band < INTERVAL_BAND_COUNT; ++band) {
        Row row{Format("%.0f Hz", static_cast<double>(INTERVAL_BAND_HZ[band])), {}};
        // Item 0 is "none": those who did not answer belong to no group of this split.
        for (std::size_t item = 1; item < N; ++item)
            row.series.push_back({std::string(items[item]), Summarize(values[band][item])});
        result.push_back(std::move(row));
    }
    return result;
}

template <std::size_t N> std::string Legend(const std::array<std::string_view, N>& items)
{
    std::string html = "<ul class=\"legend\">";
    for (std::size_t item = 1; item < N; ++item) {
        html += "<li><span class=\"swatch\" style=\"background:" +
                std::string(GROUP_COLOURS[(item - 1) % GROUP_COLOURS.size()]) + "\"></span>" +
                HtmlEscape(items[item]) + "</li>";
    }
    return html + "</ul>";
}

std::string ShareTable(const Groups::Split& highest)
{
    std::string html = "<table><caption>Share of each age band whose highest audible frequency "
                       "reached 16, 18 and 20 kHz</caption><thead><tr><th>Age</th><th>People</th>";
    for (int khz : MAX_HZ_BANDS_KHZ)
        html += "<th>" + std::to_string(khz) + " kHz or higher</th>";
    html += "</tr></thead><tbody>";
    for (int band = 0; band < AGE_BAND_COUNT; ++band) {
        const Values& values = highest[band];
        html += "<tr><th scope=\"row\">" + HtmlEscape(AGE_BAND_LABELS[band]) + "</th>";
        if (values.size() < SMALLEST_SHOWN_GROUP) {
            html += "<td colspan=\"4\" class=\"hidden\">" + std::string(HIDDEN_TEXT) + "</td></tr>";
            continue;
        }
        html += "<td>" + std::to_string(values.size()) + "</td>";
        for (int khz : MAX_HZ_BANDS_KHZ) {
            const std::size_t reached = values.AtLeast(khz * 1000);
            html +=
                "<td>" +
                Format("%.1f", 100.0 * static_cast<double>(reached) / static_cast<double>(values.size())) +
                " %</td>";
        }
        html += "</tr>";
    }
    return html + "</tbody></table>";
}

constexpr std::string_view PAGE_STYLE =
    "body{font-family:sans-serif;margin:2em auto;max-width:60em;padding:0 1em;color:#222}"
    "h1{font-size:1.6em}h2{font-size:1.25em;margin-top:2em;border-bottom:1px solid #ccc}"
    "svg.chart{display:block;margin:1em 0;max-width:100%;height:auto;font-size:12px}"
    ".grid{stroke:#ddd}.axis{stroke:#444}.tick,.unit{fill:#444}.label{fill:#222}"
    ".count{fill:#444}.hidden{fill:#888;color:#888;font-style:italic}"
    ".bar{fill:#0072b2;fill-opacity:.6}.reference line,.reference path{stroke:#000;fill:#000}"
    ".cite{font-size:10px;fill:#000}"
    ".median{stroke-width:3}"
    "table{border-collapse:collapse;margin:1em 0;font-size:.9em}"
    "th,td{border:1px solid #ccc;padding:.2em .6em;text-align:right}"
    "caption{text-align:left;font-weight:bold;padding:.3em 0}"
    "ul.legend{list-style:none;padding:0}ul.legend li{display:inline-block;margin-right:1.5em}"
    ".swatch{display:inline-block;width:1em;height:1em;margin-right:.4em;vertical-align:middle;"
    "opacity:.7}"
    ".mark{font-size:.8em}.ref{font-size:.9em}footer{margin-top:3em;font-size:.85em;color:#555}";

constexpr std::string_view MICHEYL_2006 =
    "Micheyl, C., Delhommeau, K., Perrot, X., Oxenham, A. J. (2006). Influence of musical and "
    "psychoacoustical training on pitch discrimination. Hearing Research 219(1–2):36–47. "
    "doi:10.1016/j.heares.2006.05.004. 30 classical musicians and 30 non-musicians.";

} // namespace

std::size_t CValueCounts::AtLeast(std::int32_t value) const
{
    std::size_t below = 0;
    for (std::size_t v = 0; v < m_counts.size() && v < static_cast<std::size_t>(std::max(value, 0)); ++v)
        below += m_counts[v];
    return m_total - below;
}

std::int32_t CValueCounts::Nth(std::size_t k) const
{
    std::size_t seen = 0;
    for (std::size_t v = 0; v < m_counts.size(); ++v) {
        seen += m_counts[v];
        if (seen > k)
            return static_cast<std::int32_t>(v);
    }
    return static_cast<std::int32_t>(m_counts.size() - 1);
}

std::optional<BoxStats> Summarize(const CValueCounts& values)
{
    if (values.size() < SMALLEST_SHOWN_GROUP)
        return std::nullopt;
    auto quantile = [&values](double p) {
        const double position = p * static_cast<double>(values.size() - 1);
        const auto below = static_cast<std::size_t>(std::floor(position));
        const double fraction = position - static_cast<double>(below);
        const double low = values.Nth(below);
        if (fraction == 0)
            return low;
        return low + fraction * (values.Nth(below + 1) - low);
    };
    const double q1 = quantile(0.25), median = quantile(0.5), q3 = quantile(0.75);
    return BoxStats{values.size(), q1, median, q3};
}

CResultsTally::CResultsTally() : m_groups(std::make_unique<Groups>())
{
}

CResultsTally::~CResultsTally() = default;

CResultsTally::CResultsTally(const CResultsTally& other)
    : m_count(other.m_count), m_groups(std::make_unique<Groups>(*other.m_groups))
{
}

CResultsTally& CResultsTally::operator=(const CResultsTally& other)
{
    *m_groups = *other.m_groups;
    m_count = other.m_count;
    return *this;
}

std::optional<BoxStats> CResultsTally::Summary(Figure figure, int band, std::size_t item) const
{
    switch (figure) {
    case Figure::HighestHz:
        return ::Summarize(m_groups->highest.at(static_cast<std::size_t>(band)));
    case Figure::LowestHz:
        return ::Summarize(m_groups->lowest.at(static_cast<std::size_t>(band)));
    case Figure::IntervalBySchool:
        return ::Summarize(m_groups->bySchool.at(static_cast<std::size_t>(band)).at(item));
    case Figure::IntervalByInstrument:
        return ::Summarize(m_groups->byInstrument.at(static_cast<std::size_t>(band)).at(item));
    }
    return std::nullopt;
}

void CResultsTally::Add(const StatsRow& row)
{
    m_groups->Add(row);
    ++m_count;
}

namespace {
std::string RenderPage(std::size_t people, const Groups& groups);
} // namespace

std::string CResultsTally::Render() const
{
    return RenderPage(m_count, *m_groups);
}

std::string RenderResultsPage(const std::vector<StatsRow>& rows)
{
    CResultsTally tally;
    for (const StatsRow& row : rows)
        tally.Add(row);
    return tally.Render();
}

namespace {

std::string RenderPage(std::size_t people, const Groups& groups)
{
    std::string html;
    html.reserve(64 * 1024);
    html += "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
            "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">"
            "<link rel=\"icon\" href=\"data:,\">"
            "<title>Tonvale survey results</title><style>";
    html += PAGE_STYLE;
    html += "</style></head><body><h1>Tonvale hearing survey: results</h1>";

    html += "<p id=\"participants\">" + std::to_string(people) +
            (people == 1 ? " person has" : " people have") +
            " sent their results so far.</p>"
            "<p>Every figure below describes a group. A group of fewer than five people is not "
            "shown, and no single answer, comment or date is ever published.</p>";

    // Participants by age band.
    std::vector<std::pair<std::string, std::size_t>> ageCounts;
    for (int band = 0; band < AGE_BAND_COUNT; ++band)
        ageCounts.emplace_back(std::string(AGE_BAND_LABELS[band]), groups.people[band]);
    html += "<h2>Who took part</h2>";
    html += CountChart("age-counts", "People by age band", ageCounts);

    // Highest audible frequency, with the published points.
    const std::string shares = ShareTable(groups.highest);
    const auto highest = AgeRows(groups.highest);
    double highestTop = 22000;
    for (const Row& row : highest) {
        if (row.series[0].box)
            highestTop = std::max(highestTop, std::ceil(row.series[0].box->q3 / 2000) * 2000);
    }
    highestTop = std::min(highestTop, std::ceil(MAX_MEASURED_HZ / 2000.0) * 2000);
    const std::vector<Mark> marks = {
        {1, 16000, "every listener under 30 responded up to 16 kHz [1]", 1},
        {1, 20000, "52.2 % of the listeners under 30 responded at 20 kHz [1]", 1},
        {4, 20000, "no listener aged 51 to 60 responded at 20 kHz [1]", 1},
        {5, 18000, "no listener aged 61 to 70 responded at 18 kHz [1]", 1},
    };
    html += "<h2>Highest audible frequency by age</h2>"
            "<p>Boxes span the middle half of each age band (lower to upper quartile); the thick "
            "line is the median. Triangles mark the published reference points.</p>";
    html += BoxChart("highest-frequency", "Highest audible frequency by age band", highest,
                     ChartAxis{0, highestTop, false, "kHz", 1000}, marks);
    html += "<p class=\"ref\">In the reference study the decline began in the 31–40 group [1].</p>";
    html += shares;
    html += StatsTable("Highest audible frequency by age band", highest, "Hz");

    // Lowest audible frequency.
    const auto lowest = AgeRows(groups.lowest);
    html += "<h2>Lowest audible frequency by age</h2>";
    html += BoxChart("lowest-frequency", "Lowest audible frequency by age band", lowest,
                     LogAxisFor(lowest, "Hz", 1, MAX_MEASURED_HZ));
    html += StatsTable("Lowest audible frequency by age band", lowest, "Hz");

    // Interval thresholds, split by music education and by instrument experience.
    const auto bySchool = IntervalRows(groups.bySchool, SCHOOL_ITEMS);
    html += "<h2>Smallest interval told apart, by music education</h2>"
            "<p>For each octave band, the smallest pitch difference in cents that listeners could "
            "tell, split by their music education. Listeners who did not answer the question "
            "are in no group.</p>";
    html += Legend(SCHOOL_ITEMS);
    html += BoxChart("interval-school", "Smallest interval told apart by music education", bySchool,
                     LogAxisFor(bySchool, "cents", 1, MAX_MEASURED_CENTS));
    html += StatsTable("Smallest interval told apart by music education", bySchool, "cents");

    const auto byInstrument = IntervalRows(groups.byInstrument, INSTRUMENT_ITEMS);
    html += "<h2>Smallest interval told apart, by instrument experience</h2>";
    html += Legend(INSTRUMENT_ITEMS);
    html += BoxChart("interval-instrument", "Smallest interval told apart by instrument experience",
                     byInstrument, LogAxisFor(byInstrument, "cents", 1, MAX_MEASURED_CENTS));
    html += StatsTable("Smallest interval told apart by instrument experience", byInstrument, "cents");
    html += "<p class=\"ref\">For comparison: in the reference study the non-musicians' mean pitch "
            "discrimination thresholds were more than six times those of the musicians at first, "
            "and still about four times after 2 h of training; the musicians' thresholds were "
            "close to those of highly trained listeners [2].</p>";

    html += "<footer><h2>References</h2><ol>";
    html += "<li id=\"ref-1\">" + std::string(AGE_NORM_CITATION) + "</li>";
    html += "<li id=\"ref-2\">" + std::string(MICHEYL_2006) + "</li>";
    html += "</ol></footer></body></html>\n";
    return html;
}

} // namespace
