#include "report/ResultReport.h"

#include "chart/Axis.h"
#include "chart/Citations.h"
#include "chart/Html.h"
#include "chart/Svg.h"
#include "res/Version.h"
#include "survey/SurveyFields.h"
#include "ui/Language.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <optional>
#include <utility>

namespace {

// A plain decimal number and nothing else; the log is a file anyone may edit.
std::optional<double> ParseNumber(const std::string& text)
{
    if (text.empty() || text.size() > 24 || text.find_first_not_of("0123456789.-") != std::string::npos)
        return std::nullopt;
    errno = 0;
    char* end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    if (errno != 0 || end != text.c_str() + text.size() || !std::isfinite(value))
        return std::nullopt;
    return value;
}

std::string Number(double value, int decimals = 0)
{
    return FormatNumber(value, decimals);
}

// "2026-12-07T11:25:33.120+09:00" -> "2026-12-07 11:25"
std::string ShortTime(const std::string& logTime)
{
    std::string text = logTime.substr(0, 16);
    if (text.size() > 10)
        text[10] = ' ';
    return text;
}

struct Point {
    long long ms;
    double value;
    std::string time; // as the log wrote it
};

struct Series {
    std::string name;
    std::string cssClass;
    std::vector<Point> points;
};

// A number with its unit: a symbol ("Hz") as it is, a word ("cents") in the listener's language.
std::string Quantity(const std::string& number, const std::string& unit)
{
    if (unit == "cents")
        return TranslateFormat("%s cents", number.c_str());
    return number + " " + unit;
}

std::string TickLabel(double value, const std::string& unit)
{
    if (unit == "Hz" && value >= 1000)
        return Number(value / 1000, std::fmod(value, 1000) == 0 ? 0 : 1) + " kHz";
    return Quantity(Number(value), unit);
}

// The room a legend's name takes at 12px, counted per character rather than per byte: 7.5 for a
// Latin one, which leaves a gap before the next legend, and an em and a half for a wide one
// (Japanese), which fills its full em and keeps a gap as wide.
double LegendWidth(const std::string& name)
{
    double width = 0;
    for (unsigned char c : name)
        if (c < 0x80)
            width += 7.5;
        else if ((c & 0xC0) != 0x80)
            width += 18;
    return width;
}

// Values over time, one line per series, with a label for the first and the last time.
std::string TimeChart(const std::string& id, const std::string& title, const std::vector<Series>& series,
                      const ChartAxis& y, const std::vector<double>& ticks, int width, int height)
{
    const double left = 64, right = 16, top = 24, bottom = 36;
    const double plotW = width - left - right, plotH = height - top - bottom;
    long long first = 0, last = 0;
    const Point* firstPoint = nullptr;
    const Point* lastPoint = nullptr;
    for (const Series& s : series)
        for (const Point& p : s.points) {
            if (firstPoint == nullptr || p.ms < first) {
                first = p.ms;
                firstPoint = &p;
            }
            if (lastPoint == nullptr || p.ms > last) {
                last = p.ms;
                lastPoint = &p;
            }
        }
    auto x = [&](long long ms) {
        return last == first ? left + plotW / 2 : left + plotW * double(ms - first) / double(last - first);
    };
    auto yOf = [&](double v) { return top + plotH * (1 - y.Fraction(v)); };

    std::string svg = "<svg class=\"chart\" id=\"" + id + "\" viewBox=\"0 0 " + std::to_string(width) + " " +
                      std::to_string(height) + "\" role=\"img\" aria-labelledby=\"" + id + "-title\">";
    svg += SvgTitle(id, title);
    for (double tick : ticks) {
        const std::string ty = Number(yOf(tick), 1);
        svg += "<line class=\"grid\" x1=\"" + Number(left) + "\" x2=\"" + Number(left + plotW) + "\" y1=\"" +
               ty + "\" y2=\"" + ty + "\"/>";
        svg += "<text class=\"tick\" x=\"" + Number(left - 6) + "\" y=\"" + ty +
               "\" text-anchor=\"end\" dominant-baseline=\"middle\">" + TickLabel(tick, y.unit) + "</text>";
    }
    svg += "<line class=\"axis\" x1=\"" + Number(left) + "\" x2=\"" + Number(left + plotW) + "\" y1=\"" +
           Number(top + plotH) + "\" y2=\"" + Number(top + plotH) + "\"/>";
    if (firstPoint != nullptr) {
        const std::string ly = Number(top + plotH + 20);
        const bool one = first == last;
        svg += "<text class=\"tick\" x=\"" + Number(x(first), 1) + "\" y=\"" + ly + "\" text-anchor=\"" +
               (one ? "middle" : "start") + "\">" + HtmlEscape(ShortTime(firstPoint->time)) + "</text>";
        if (!one)
            svg += "<text class=\"tick\" x=\"" + Number(x(last), 1) + "\" y=\"" + ly +
                   "\" text-anchor=\"end\">" + HtmlEscape(ShortTime(lastPoint->time)) + "</text>";
    }
    double legendX = left + 4;
    for (const Series& s : series) {
        if (s.points.empty())
            continue;
        if (series.size() > 1) {
            // U+25CF, the legend's dot: a symbol, the same in every language.
            svg += "<text class=\"legend " + s.cssClass + "\" x=\"" + Number(legendX) +
                   "\" y=\"14\">\u25CF " + HtmlEscape(s.name) + "</text>";
            legendX += 14 + LegendWidth(s.name);
        }
        std::vector<Point> points = s.points;
        std::stable_sort(points.begin(), points.end(),
                         [](const Point& a, const Point& b) { return a.ms < b.ms; });
        svg += "<g class=\"series " + s.cssClass + "\">";
        if (points.size() > 1) {
            svg += "<polyline points=\"";
            for (const Point& p : points)
                svg += Number(x(p.ms), 1) + "," + Number(yOf(p.value), 1) + " ";
            svg += "\"/>";
        }
        for (const Point& p : points)
            svg += "<circle cx=\"" + Number(x(p.ms), 1) + "\" cy=\"" + Number(yOf(p.value), 1) +
                   "\" r=\"3.5\"><title>" + HtmlEscape(s.name) + ": " + Quantity(Number(p.value), y.unit) +
                   ", " + HtmlEscape(ShortTime(p.time)) + "</title></circle>";
        svg += "</g>";
    }
    return svg + "</svg>";
}

// One bar per run: the sound card's limit as that run's check found it.
std::string RunBars(const std::vector<Point>& runs)
{
    const int width = 640, height = 240;
    const double left = 64, right = 16, top = 16, bottom = 40;
    const double plotW = width - left - right, plotH = height - top - bottom;
    const ChartAxis y{0, MAX_MEASURED_HZ, false, "Hz"};
    auto yOf = [&](double v) { return top + plotH * (1 - y.Fraction(v)); };
    std::string svg = "<svg class=\"chart\" id=\"soundcard-history\" viewBox=\"0 0 640 240\" role=\"img\" "
                      "aria-labelledby=\"soundcard-history-title\"><title id=\"soundcard-history-title\">" +
                      Translate("The sound card's limit in each run") + "</title>";
    for (double tick : LinearTicks(0, 20000, 5000)) {
        const std::string ty = Number(yOf(tick), 1);
        svg += "<line class=\"grid\" x1=\"" + Number(left) + "\" x2=\"" + Number(left + plotW) + "\" y1=\"" +
               ty + "\" y2=\"" + ty + "\"/><text class=\"tick\" x=\"" + Number(left - 6) + "\" y=\"" + ty +
               "\" text-anchor=\"end\" dominant-baseline=\"middle\">" + TickLabel(tick, "Hz") + "</text>";
    }
    const double slot = plotW / double(runs.size());
    const double barW = std::min(40.0, slot * 0.7);
    // Labels under every bar would overlap beyond a dozen runs.
    const std::size_t labelEvery = runs.size() / 12 + 1;
    for (std::size_t i = 0; i < runs.size(); ++i) {
        const double cx = left + slot * (double(i) + 0.5);
        const double by = yOf(runs[i].value);
        svg += "<rect class=\"bar\" x=\"" + Number(cx - barW / 2, 1) + "\" y=\"" + Number(by, 1) +
               "\" width=\"" + Number(barW, 1) + "\" height=\"" + Number(top + plotH - by, 1) + "\"><title>" +
               HtmlEscape(ShortTime(runs[i].time)) + ": " + Number(runs[i].value, 2) + " Hz</title></rect>";
        if (i % labelEvery == 0)
            svg += "<text class=\"tick\" x=\"" + Number(cx, 1) + "\" y=\"" + Number(top + plotH + 16) +
                   "\" text-anchor=\"middle\">" + HtmlEscape(runs[i].time.substr(5, 5)) + "</text>";
    }
    return svg + "</svg>";
}

// The published reference points for the highest audible frequency, as NORMS gives them.
struct ReferenceMark {
    double hz;
    const char* label;
    bool heard; // a share of the group heard it (else nobody did)
};
struct ReferenceGroup {
    const char* label;
    const char* words;
    std::vector<ReferenceMark> marks;
};

const std::vector<ReferenceGroup>& ReferenceGroups()
{
    static const std::vector<ReferenceGroup> groups = {
        {TR_NOOP("Under 30 years"),
         // A share in percent, no printf conversion: xgettext:no-c-format
         TR_NOOP("every listener heard 16 kHz, and 52.2 % heard 20 kHz."),
         {{16000, TR_NOOP("all heard"), true},
          // xgettext:no-c-format
          {20000, TR_NOOP("52.2 % heard"), true}}},
        {TR_NOOP("31 to 40 years"), TR_NOOP("the decline with age began in this group."), {}},
        {TR_NOOP("51 to 60 years"),
         TR_NOOP("no listener heard 20 kHz."),
         {{20000, TR_NOOP("none heard"), false}}},
        {TR_NOOP("61 to 70 years"),
         TR_NOOP("no listener heard 18 kHz."),
         {{18000, TR_NOOP("none heard"), false}}},
    };
    return groups;
}

// The questionnaire's age item ("30 years old", "under 5", "over 80") in years; -1 for none.
int AgeYears(const std::string& item)
{
    if (item == "under 5")
        return 4;
    if (item == "over 80")
        return 81;
    const std::string suffix = " years old";
    if (item.size() <= suffix.size() || item.compare(item.size() - suffix.size(), suffix.size(), suffix) != 0)
        return -1;
    const auto years = ParseNumber(item.substr(0, item.size() - suffix.size()));
    return years && *years >= 0 && *years < 200 && std::floor(*years) == *years ? int(*years) : -1;
}

// An age item as the listener reads it (the log keeps the questionnaire's English item).
std::string AgeText(const std::string& item)
{
    if (item == "under 5" || item == "over 80")
        return Translate(item);
    const int years = AgeYears(item);
    return years < 0 ? item : TranslateFormat("%d years old", years);
}

// One of the questionnaire's age items other than "none".
bool IsAgeItem(const std::string& text)
{
    for (int item = 1; item < AGE_ITEM_COUNT; ++item)
        if (text == AgeItemText(item))
            return true;
    return false;
}

// The reference group an age falls in, or -1.
int GroupOfAge(int years)
{
    if (years < 0)
        return -1;
    if (years < 30)
        return 0;
    if (years >= 31 && years <= 40)
        return 1;
    if (years >= 51 && years <= 60)
        return 2;
    if (years >= 61 && years <= 70)
        return 3;
    return -1;
}

std::string ReferenceChart(int highestHz, int markedGroup)
{
    const auto& groups = ReferenceGroups();
    const int width = 640, rowH = 40, top = 12;
    const int height = top + rowH * int(groups.size() + 1) + 30;
    const double left = 170, right = 20, plotW = width - left - right;
    const ChartAxis axis{0, MAX_MEASURED_HZ};
    auto x = [&](double hz) { return axis.Position(hz, left, left + plotW); };
    const double axisY = top + rowH * double(groups.size() + 1);

    std::string svg =
        "<svg class=\"chart\" id=\"age-reference\" viewBox=\"0 0 " + std::to_string(width) + " " +
        std::to_string(height) +
        "\" role=\"img\" aria-labelledby=\"age-reference-title\"><title id=\"age-reference-title\">" +
        Translate("Your highest audible frequency beside the reference points by age") + "</title>";
    for (double tick : LinearTicks(0, 20000, 5000)) {
        svg += "<line class=\"grid\" x1=\"" + Number(x(tick), 1) + "\" x2=\"" + Number(x(tick), 1) +
               "\" y1=\"" + std::to_string(top) + "\" y2=\"" + Number(axisY) +
               "\"/><text class=\"tick\" x=\"" + Number(x(tick), 1) + "\" y=\"" + Number(axisY + 18) +
               "\" text-anchor=\"middle\">" + (tick == 0 ? std::string("0") : TickLabel(tick, "Hz")) +
               "</text>";
    }
    // Row 0: the listener.
    double rowMid = top + rowH / 2.0;
    svg += "<text class=\"rowlabel\" x=\"8\" y=\"" + Number(rowMid) + "\" dominant-baseline=\"middle\">" +
           Translate("You") + "</text>";
    if (highestHz != NOT_MEASURED) {
        const std::string yx = Number(x(highestHz), 1);
        svg += "<line class=\"you\" x1=\"" + yx + "\" x2=\"" + yx + "\" y1=\"" + std::to_string(top) +
               "\" y2=\"" + Number(axisY) + "\"/><rect class=\"you\" x=\"" + Number(left) + "\" y=\"" +
               Number(rowMid - 6) + "\" width=\"" + Number(x(highestHz) - left, 1) +
               "\" height=\"12\"><title>" +
               TranslateFormat("Your highest audible frequency: %d Hz", highestHz) + "</title></rect>";
    } else {
        svg += "<text class=\"note\" x=\"" + Number(left + 4) + "\" y=\"" + Number(rowMid) +
               "\" dominant-baseline=\"middle\">" + Translate("not measured") + "</text>";
    }
    for (std::size_t g = 0; g < groups.size(); ++g) {
        rowMid = top + rowH * (double(g) + 1.5);
        const bool marked = int(g) == markedGroup;
        if (marked)
            svg += "<rect class=\"yours\" x=\"2\" y=\"" + Number(rowMid - rowH / 2.0 + 2) + "\" width=\"" +
                   std::to_string(width - 4) + "\" height=\"" + std::to_string(rowH - 4) + "\"/>";
        svg += "<text class=\"rowlabel" + std::string(marked ? " marked" : "") + "\" x=\"8\" y=\"" +
               Number(rowMid) + "\" dominant-baseline=\"middle\">" +
               (marked ? TranslateFormat("%s (you)", Translate(groups[g].label).c_str())
                       : Translate(groups[g].label)) +
               "</text>";
        if (groups[g].marks.empty())
            svg += "<text class=\"note\" x=\"" + Number(left + 4) + "\" y=\"" + Number(rowMid) +
                   "\" dominant-baseline=\"middle\">" + Translate("decline began in this group") + "</text>";
        for (const ReferenceMark& mark : groups[g].marks) {
            const std::string mx = Number(x(mark.hz), 1);
            svg += "<g class=\"reference\">";
            if (mark.heard)
                svg += "<circle class=\"heard\" cx=\"" + mx + "\" cy=\"" + Number(rowMid) + "\" r=\"6\"/>";
            else
                svg += "<path class=\"none\" d=\"M" + Number(x(mark.hz) - 5, 1) + " " + Number(rowMid - 5) +
                       "l10 10m0 -10l-10 10\"/>";
            // Above the mark: two marks of one group lie too close for labels beside them.
            svg += "<text class=\"marklabel\" x=\"" + mx + "\" y=\"" + Number(rowMid - 9) +
                   "\" text-anchor=\"middle\">" + Translate(mark.label) + "</text></g>";
        }
    }
    return svg + "</svg>";
}

constexpr const char* STYLE = R"(
@page { size: A4; margin: 15mm; }
body { font-family: "DejaVu Sans", "IPAPGothic", sans-serif; color: #222; margin: 2em auto; max-width: 180mm;
       line-height: 1.45; font-size: 11pt; }
h1 { font-size: 20pt; margin-bottom: 0.2em; }
h2 { font-size: 14pt; border-bottom: 1px solid #bbb; margin-top: 1.6em; }
h3 { font-size: 11pt; margin: 0.8em 0 0.2em; }
section, figure, table { break-inside: avoid; }
table { border-collapse: collapse; }
td, th { padding: 0.15em 0.8em 0.15em 0; text-align: left; }
td.value { text-align: right; font-variant-numeric: tabular-nums; }
.generated, .citation, .note { color: #555; font-size: 9.5pt; }
svg.chart { width: 100%; height: auto; display: block; }
svg text { font-size: 12px; fill: #222; }
svg .tick { font-size: 11px; fill: #555; }
svg .grid { stroke: #ddd; stroke-width: 1; }
svg .axis { stroke: #888; stroke-width: 1; }
svg .series polyline { fill: none; stroke-width: 2; }
svg .upper, svg .upper polyline { stroke: #b03a2e; fill: #b03a2e; }
svg .lower, svg .lower polyline { stroke: #1f618d; fill: #1f618d; }
svg .band, svg .band polyline { stroke: #7d3c98; fill: #7d3c98; }
svg text.legend.upper { fill: #b03a2e; stroke: none; }
svg text.legend.lower { fill: #1f618d; stroke: none; }
svg .bar { fill: #2e86c1; }
svg rect.you { fill: #f5b041; }
svg line.you { stroke: #d68910; stroke-width: 2; stroke-dasharray: 4 3; }
svg rect.yours { fill: #fdebd0; }
svg .marked { font-weight: bold; }
svg .heard { fill: #27ae60; }
svg .none { stroke: #c0392b; stroke-width: 2.5; fill: none; }
.bands { display: grid; grid-template-columns: 1fr 1fr; gap: 0.5em 1.5em; }
.bands figure { margin: 0; }
.bands figcaption { font-weight: bold; font-size: 10pt; }
li.marked { font-weight: bold; }
svg g.series polyline { fill: none; }
svg .marklabel { font-size: 10px; }
)";

std::string MeasurementCell(std::int32_t value, const char* unit)
{
    return value == NOT_MEASURED ? Translate("not measured") : Quantity(std::to_string(value), unit);
}

// The most points one line of a chart draws: its latest ones, so that years of checks still give
// a readable chart and a page of bounded size.
constexpr std::size_t MAX_CHART_POINTS = 400;

// Keeps the latest MAX_CHART_POINTS of `points`, in time order; true when some were dropped.
bool KeepLatest(std::vector<Point>& points)
{
    std::stable_sort(points.begin(), points.end(),
                     [](const Point& a, const Point& b) { return a.ms < b.ms; });
    if (points.size() <= MAX_CHART_POINTS)
        return false;
    points.erase(points.begin(), points.end() - MAX_CHART_POINTS);
    return true;
}

std::string LatestNote()
{
    return "<p class=\"note\">" +
           TranslateFormat("Each line shows its latest %zu results.", MAX_CHART_POINTS) + "</p>\n";
}

// What moves the numbers, each cause with its explanation. The line breaks are the page's as it
// has always been written.
constexpr std::pair<const char*, const char*> AFFECTS[] = {
    {TR_NOOP("The sound card."),
     TR_NOOP(
         "The range check can go only as high as your sound card plays a clean\ntone; its limit is checked "
         "again in every run (the last chart). A card that adds noise or clicks to a high\ntone makes you "
         "hear the card, not the tone.")},
    {TR_NOOP("Headphones or speakers."),
     TR_NOOP(
         "Many play the highest and the lowest tones weakly or not at all.\nCompare runs made with the same "
         "headphones.")},
    {TR_NOOP("The volume."),
     TR_NOOP(
         "A louder setting lets you hear fainter tones, so the limits move with it. Keep\nthe same setting "
         "between runs, and never raise it to hear a tone you cannot hear.")},
    {TR_NOOP("The room and you."),
     TR_NOOP(
         "Background noise, tiredness and attention change the answers from one\nrun to the next; a single "
         "run is a rough figure.")},
};

bool IsResult(const LoggedRow& row, const char* check)
{
    return row.kind == "result" && row.check == check;
}

} // namespace

std::string LastChosenAge(const std::vector<LoggedRow>& log)
{
    for (auto it = log.rbegin(); it != log.rend(); ++it)
        if (it->kind == "questionnaire" && IsAgeItem(it->answer))
            return it->answer;
    return {};
}

std::string BuildResultReport(const ResultRecordData& record, const std::vector<LoggedRow>& log,
                              std::string_view generatedAt, const ReportSources& sources)
{
    // The page's language is the catalog's; without one it is the English it was written in.
    const std::string language = CatalogLanguage().empty() ? "en" : CatalogLanguage();
    std::string page = "<!DOCTYPE html>\n<html lang=\"" + language +
                       "\">\n<head>\n<meta charset=\"utf-8\">\n"
                       "<meta http-equiv=\"Content-Security-Policy\" content=\"default-src 'none'; "
                       "style-src 'unsafe-inline'\">\n"
                       "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
                       "<title>" +
                       Translate("My Results – Tonvale") + "</title>\n<style>";
    page += STYLE;
    page += "</style>\n</head>\n<body>\n<h1>" + Translate("My Results") + "</h1>\n";
    page +=
        "<p class=\"generated\">" +
        TranslateFormat("Made by Tonvale %s on %s from result.dat and tonvale-log.csv. Nothing on this page "
                        "has been sent anywhere.",
                        TONVALE_VERSION_STRING, HtmlEscape(generatedAt).c_str()) +
        "</p>\n";

    // The ten measurements.
    page += "<section id=\"measurements\">\n<h2>" + Translate("Your measurements") + "</h2>\n<table>\n";
    page += "<tr><th>" + Translate("Lowest frequency you heard") + "</th><td class=\"value\">" +
            MeasurementCell(record.m_lowestHz, "Hz") + "</td></tr>\n";
    page += "<tr><th>" + Translate("Highest frequency you heard") + "</th><td class=\"value\">" +
            MeasurementCell(record.m_highestHz, "Hz") + "</td></tr>\n";
    for (int band = 0; band < INTERVAL_BAND_COUNT; ++band)
        page +=
            "<tr><th>" +
            TranslateFormat("Smallest pitch difference you told apart, %d Hz band", INTERVAL_BAND_HZ[band]) +
            "</th><td class=\"value\">" + MeasurementCell(record.m_intervalCents[band], "cents") +
            "</td></tr>\n";
    page += "</table>\n";
    if (sources.foreignResultFile)
        page += "<p>" +
                Translate("result.dat in this folder is not Tonvale's result file, so it was not read.") +
                "</p>\n";
    page += "<p class=\"note\">" +
            Translate("A cent is a hundredth of a semitone. The smaller the difference, the finer your pitch "
                      "discrimination.") +
            "</p>\n</section>\n";

    // The highest audible frequency beside the age reference points. The checks and the
    // questionnaire are named as their buttons are labelled.
    const std::string age = LastChosenAge(log);
    const int markedGroup = GroupOfAge(AgeYears(age));
    page += "<section id=\"age\">\n<h2>" + Translate("Your highest frequency and age") + "</h2>\n<p>";
    page += record.m_highestHz == NOT_MEASURED
                ? TranslateFormat("Your highest audible frequency has not been measured yet (%s).",
                                  Translate("Check Range").c_str())
                : TranslateFormat("The highest frequency you heard: %s.",
                                  ("<strong>" + std::to_string(record.m_highestHz) + " Hz</strong>").c_str());
    page += "</p>\n";
    page += ReferenceChart(record.m_highestHz, markedGroup);
    page +=
        "<p>" +
        Translate(
            "In one study of 162 healthy adults aged 21 to 70, the highest tones heard differed by age:") +
        "</p>\n<ul>\n";
    const auto& groups = ReferenceGroups();
    for (std::size_t g = 0; g < groups.size(); ++g) {
        const bool marked = int(g) == markedGroup;
        const std::string item = Translate(groups[g].label) + ": " + Translate(groups[g].words);
        page += std::string("<li") + (marked ? " class=\"marked\"" : "") + ">" +
                (marked ? TranslateFormat("%s (your age band)", item.c_str()) : item) + "</li>\n";
    }
    page += "</ul>\n";
    if (!age.empty() && markedGroup < 0)
        page +=
            "<p>" +
            TranslateFormat("The study gives no reference point for the age you chose in the questionnaire "
                            "(%s), so every point is shown alike.",
                            HtmlEscape(AgeText(age)).c_str()) +
            "</p>\n";
    else if (age.empty())
        page +=
            "<p>" +
            TranslateFormat("Choose your age in the questionnaire (%s) and this page marks your age band.",
                            Translate("Send Result").c_str()) +
            "</p>\n";
    page +=
        "<p>" +
        Translate("These points describe groups, not you: your number comes from your own sound card, "
                  "headphones and room, so a difference from them says nothing certain about your ears.") +
        "</p>\n";
    // The citation names the study as published; only its closing summary is translated.
    page += "<p class=\"citation\">" +
            TranslateFormat("Source: %s", Translate(std::string(AGE_NORM_CITATION)).c_str()) +
            "</p>\n</section>\n";

    // The history. The log is a file anyone may edit: a value the program cannot have measured is
    // left out, and counted, so that no damaged row can stretch an axis or hide the others.
    Series upper{Translate("upper limit"), "upper", {}}, lower{Translate("lower limit"), "lower", {}};
    std::map<int, Series> bands;
    std::vector<std::string> runOrder;
    std::map<std::string, Point> cardByRun;
    std::size_t leftOut = sources.malformedRows;
    for (const LoggedRow& row : log) {
        const bool range = IsResult(row, "range upper") || IsResult(row, "range lower");
        const bool interval = IsResult(row, "interval");
        const bool card = IsResult(row, "sound card");
        if (!range && !interval && !card) {
            // An age the questionnaire does not offer is no answer of it.
            if (row.kind == "questionnaire" && row.answer != "none" && !IsAgeItem(row.answer))
                ++leftOut;
            continue;
        }
        const auto ms = ParseLogTime(row.time);
        const auto value = ParseNumber(row.value);
        const double largest = interval ? MAX_MEASURED_CENTS : MAX_MEASURED_HZ;
        int band = 0;
        if (interval)
            for (int hz : INTERVAL_BAND_HZ)
                if (row.frequency == std::to_string(hz))
                    band = hz;
        if (!ms || !value || *value < 0 || *value > largest || (interval && band == 0)) {
            ++leftOut;
            continue;
        }
        const Point point{*ms, *value, row.time};
        if (IsResult(row, "range upper"))
            upper.points.push_back(point);
        else if (range)
            lower.points.push_back(point);
        else if (interval)
            bands[band].points.push_back(point);
        else {
            if (cardByRun.find(row.run) == cardByRun.end())
                runOrder.push_back(row.run);
            cardByRun[row.run] = point; // the run's last check counts
        }
    }
    bool trimmed = KeepLatest(upper.points);
    trimmed = KeepLatest(lower.points) || trimmed;

    page += "<section id=\"history\">\n<h2>" + Translate("How your results changed") + "</h2>\n";
    page += "<h3>" + Translate("Highest and lowest frequency you heard") + "</h3>\n";
    if (upper.points.empty() && lower.points.empty())
        page += "<p class=\"note\">" + Translate("No audible range check in the log yet.") + "</p>\n";
    else
        page += TimeChart("range-history", Translate("Your upper and lower limits over time"), {upper, lower},
                          ChartAxis{10, 25000, true, "Hz"}, {20, 100, 1000, 10000}, 640, 260);
    if (trimmed)
        page += LatestNote();

    page += "<h3>" + Translate("Smallest pitch difference, per band") + "</h3>\n";
    if (bands.empty()) {
        page += "<p class=\"note\">" + Translate("No interval check in the log yet.") + "</p>\n";
    } else {
        page += "<div class=\"bands\">\n";
        for (auto& [hz, series] : bands) {
            const bool bandTrimmed = KeepLatest(series.points);
            double top = 10;
            for (const Point& p : series.points)
                top = std::max(top, p.value * 1.15);
            series.name = TranslateFormat("%d Hz band", hz);
            series.cssClass = "band";
            // At most eight ticks, whatever the values (they are at most an octave).
            const double step = top > 400 ? 200 : top > 100 ? 50 : top > 40 ? 20 : top > 20 ? 10 : 5;
            page +=
                "<figure><figcaption>" + series.name + "</figcaption>" +
                TimeChart("band-" + std::to_string(hz),
                          TranslateFormat("Your smallest pitch difference in the %d Hz band over time", hz),
                          {series}, ChartAxis{0, top, false, "cents"}, LinearTicks(0, top, step), 320, 170) +
                (bandTrimmed ? LatestNote() : std::string()) + "</figure>\n";
        }
        page += "</div>\n";
    }

    page += "<h3>" + Translate("Your sound card's limit in each run") + "</h3>\n";
    if (runOrder.empty()) {
        page += "<p class=\"note\">" + Translate("No sound card check in the log yet.") + "</p>\n";
    } else {
        // The latest runs, so that the bars stay readable.
        constexpr std::size_t MAX_RUNS = 40;
        std::vector<Point> runs;
        for (std::size_t i = runOrder.size() > MAX_RUNS ? runOrder.size() - MAX_RUNS : 0; i < runOrder.size();
             ++i)
            runs.push_back(cardByRun[runOrder[i]]);
        page += RunBars(runs);
        if (runOrder.size() > MAX_RUNS)
            page += "<p class=\"note\">" +
                    TranslateFormat("The last %zu of %zu runs.", MAX_RUNS, runOrder.size()) + "</p>\n";
    }
    if (leftOut > 0)
        page += "<p class=\"note\" id=\"left-out\">" +
                (leftOut == 1
                     ? Translate("1 entry of tonvale-log.csv could not be read or held a value outside "
                                 "what Tonvale can measure, and is left out.")
                     : TranslateFormat("%zu entries of tonvale-log.csv could not be read or held a value "
                                       "outside what Tonvale can measure, and are left out.",
                                       leftOut)) +
                "</p>\n";
    page += "</section>\n";

    page += "<section id=\"affects\">\n<h2>" + Translate("What affects these numbers") + "</h2>\n<ul>\n";
    for (const auto& [cause, explanation] : AFFECTS)
        page += "<li><strong>" + Translate(cause) + "</strong> " + Translate(explanation) + "</li>\n";
    page += "</ul>\n<p><strong>" + Translate("This is not a medical test.") + "</strong> " +
            Translate("Tonvale cannot tell whether your hearing is healthy. If you\nnotice a change in your "
                      "hearing, or it worries you, see a doctor or an audiologist.") +
            "</p>\n</section>\n</body>\n</html>\n";
    return page;
}
