// The "My Results" page: what it says for the measurements and the age band, that nothing from
// the log reaches it unescaped, and how headless Chromium renders it for no, one and several runs.
#include "report/ReportPage.h"
#include "report/ResultReport.h"
#include "tests/report/ReportInputs.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#ifndef TONVALE_SCREENSHOT_DIR
#error "TONVALE_SCREENSHOT_DIR must say where the screenshots are kept"
#endif

namespace {

struct History {
    const char* name;
    std::vector<LoggedRow> log;
    std::size_t charts; // the age chart, and one per history chart with something to show
};

std::vector<History> Histories()
{
    History one{"one-run", {}, 5};
    AddRun(one.log, "11-01", 16000, 40, 9, "22050.00");
    return {{"empty", {}, 1}, one, {"several-runs", SeveralRuns(), 6}};
}

class ReportInBrowser : public ::testing::TestWithParam<History> {
protected:
    CTempDir m_dir;
};

} // namespace

TEST(ResultReport, ShowsEachMeasurementOrNotMeasured)
{
    const std::string page = BuildResultReport(Record(35, 15000, 8), {}, "2026-12-07 11:25");
    EXPECT_EQ(Occurrences(page, "<td class=\"value\">not measured</td>"), 7u);
    EXPECT_NE(page.find("<td class=\"value\">35 Hz</td>"), std::string::npos);
    EXPECT_NE(page.find("<td class=\"value\">15000 Hz</td>"), std::string::npos);
    EXPECT_NE(page.find("440 Hz band</th><td class=\"value\">8 cents</td>"), std::string::npos);
    EXPECT_NE(page.find("doi:10.1186/s40463-021-00534-w"), std::string::npos);
    EXPECT_NE(page.find("not a medical test"), std::string::npos);
    // Nothing runs, nothing is fetched.
    EXPECT_EQ(page.find("<script"), std::string::npos);
    EXPECT_EQ(page.find("://"), std::string::npos);
    EXPECT_EQ(page.find(" src="), std::string::npos);
}

TEST(ResultReport, MarksTheAgeBandLastChosenAndEscapesTheLog)
{
    const ResultRecordData record = Record(35, 15000, 8);
    EXPECT_EQ(BuildResultReport(record, {}, "").find("(your age band)"), std::string::npos);

    auto Age = [](const std::string& day, const std::string& item) {
        return Row(day, "<script>alert(1)</script>", "questionnaire", "questionnaire", "", "", item);
    };
    std::vector<LoggedRow> log = {Age("11-01", "25 years old"), Age("12-01", "55 years old"),
                                  Age("12-02", "none")};
    std::string page = BuildResultReport(record, log, "");
    EXPECT_EQ(Occurrences(page, "(your age band)"), 1u);
    EXPECT_NE(page.find("51 to 60 years: no listener heard 20 kHz. (your age band)"), std::string::npos);

    // An age the questionnaire does not offer is left out and counted; nothing from the log is markup.
    log.push_back(Age("12-03", "<img src=x onerror=alert(1)> years old"));
    page = BuildResultReport(record, log, "<b>now</b>");
    EXPECT_NE(page.find("51 to 60 years: no listener heard 20 kHz. (your age band)"), std::string::npos);
    EXPECT_NE(page.find(">1 entry of tonvale-log.csv could not be read"), std::string::npos);
    EXPECT_EQ(page.find("<script"), std::string::npos);
    EXPECT_EQ(page.find("<img"), std::string::npos);
    EXPECT_EQ(page.find("<b>now"), std::string::npos);

    // An age the study has no point for marks none, and says so.
    log.push_back(Age("12-04", "over 80"));
    page = BuildResultReport(record, log, "");
    EXPECT_EQ(page.find("(your age band)"), std::string::npos);
    EXPECT_NE(page.find("the age you chose in the questionnaire (over 80)"), std::string::npos);
}

// A damaged log (a disk error, a sync tool, a hand edit) gives a page of bounded size that draws
// what can be drawn and counts the rest.
TEST(ResultReport, ADamagedLogIsLeftOutAndCountedOnAPageOfBoundedSize)
{
    CTempDir dir;
    const auto result = [](const char* check, const std::string& frequency, const std::string& value) {
        return FormatLogRow("2026-12-01T10:00:00.000+09:00", "r",
                            {check == std::string("interval")      ? LogCheck::Interval
                             : check == std::string("sound card")  ? LogCheck::SoundCard
                             : check == std::string("range lower") ? LogCheck::RangeLower
                                                                   : LogCheck::RangeUpper,
                             LogKind::Result, frequency, "", "", LogJudgement::None, value});
    };
    std::string log = std::string(CHECK_LOG_HEADER) + "\r\n" + result("range upper", "", "16000") +
                      result("interval", "440", "9") + result("sound card", "", "22050.00");
    // Left out: ten entries.
    for (const char* value : {"100000000000000000000", "1000000000", "1201", "-5", "abc", "inf", "nan"})
        log += result("interval", "440", value);
    log += result("range upper", "", "22051");
    log += FormatLogRow("2026-12-01T10:00:00.000+09:00", "r",
                        {LogCheck::Questionnaire, LogKind::Questionnaire, "", "",
                         std::string(10'000'000, '9'), LogJudgement::None, ""});
    log += std::string(10'000'000, 'x') + "\r\n";
    // Years of checks: only the latest results are drawn.
    for (int i = 0; i < 1000; ++i)
        log += result("range lower", "", std::to_string(20 + i % 50));
    log += "2026-12-01T10:00:00.000+09:00,r,interval,result,440,,,,1000000"; // cut short
    std::ofstream(dir.Path() / CHECK_LOG_NAME, std::ios::binary) << log;

    const int dirFd = ::open(dir.Path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    const std::string page = BuildReportForFolder(Record(35, 15000, 8), dirFd);
    ::close(dirFd);
    EXPECT_LT(page.size(), 200'000u);
    EXPECT_NE(page.find(">11 entries of tonvale-log.csv could not be read"), std::string::npos);
    EXPECT_NE(page.find("id=\"range-history\""), std::string::npos);
    EXPECT_NE(page.find("id=\"band-440\""), std::string::npos);
    EXPECT_NE(page.find("id=\"soundcard-history\""), std::string::npos);
    EXPECT_NE(page.find("Each line shows its latest 400 results."), std::string::npos);
    EXPECT_EQ(Occurrences(page, "r=\"3.5\""), 400u + 1u + 1u);
    EXPECT_LE(Occurrences(page, "class=\"tick\""), 60u);
}

TEST(ResultReport, BrowserConsoleErrorsAreSeen)
{
    // The console check below must be able to fail.
    CTempDir dir;
    const CChildResult bad = RunChromium(dir.Path(), "profile", {"--dump-dom"},
                                         "data:text/html,<p>x</p><script>console.error('seen')</script>");
    ASSERT_EQ(bad.exitStatus, 0) << bad.err;
    EXPECT_FALSE(ConsoleLines(bad.err).empty()) << "Chromium's console output is not recognised";
}

TEST_P(ReportInBrowser, RendersItsChartsWithoutConsoleErrors)
{
    const History& history = GetParam();
    const std::filesystem::path page = m_dir.Path() / "my-results.html";
    std::ofstream(page) << BuildResultReport(Record(35, 15000, 8), history.log, "2026-12-07 11:25");
    const std::string url = "file://" + page.string();

    const CChildResult dom = RunChromium(m_dir.Path(), "profile-dom", {"--dump-dom"}, url);
    ASSERT_EQ(dom.exitStatus, 0) << dom.err;
    const auto console = ConsoleLines(dom.err);
    EXPECT_TRUE(console.empty()) << console.front();
    EXPECT_EQ(Occurrences(dom.out, "<svg class=\"chart\""), history.charts);
    EXPECT_EQ(Occurrences(dom.out, "<g class=\"reference\">"), 4u);
    EXPECT_EQ(Occurrences(dom.out, "in the log yet"), 3u - std::min<std::size_t>(3, history.charts - 1));

    const std::string screenshot = std::string(TONVALE_SCREENSHOT_DIR) + "/report-" + history.name + ".png";
    std::filesystem::remove(screenshot);
    const CChildResult shot =
        RunChromium(m_dir.Path(), "profile-shot",
                    {"--window-size=900,2600", "--hide-scrollbars", "--screenshot=" + screenshot}, url);
    ASSERT_EQ(shot.exitStatus, 0) << shot.err;
    EXPECT_TRUE(ConsoleLines(shot.err).empty());
    // A drawn page, not a blank one: its size as asked and many colours.
    const CChildResult info =
        RunChild({"/usr/bin/identify", "-format", "%w %h %k", screenshot}, m_dir.Path(), m_dir.Path());
    ASSERT_EQ(info.exitStatus, 0) << info.err;
    int width = 0, height = 0, colours = 0;
    std::istringstream(info.out) >> width >> height >> colours;
    EXPECT_EQ(width, 900);
    EXPECT_EQ(height, 2600);
    EXPECT_GT(colours, 50) << info.out;
    std::printf("screenshot: %s (%s)\n", screenshot.c_str(), info.out.c_str());
}

INSTANTIATE_TEST_SUITE_P(Histories, ReportInBrowser, ::testing::ValuesIn(Histories()), [](const auto& info) {
    std::string name = info.param.name;
    std::replace(name.begin(), name.end(), '-', '_');
    return name;
});
