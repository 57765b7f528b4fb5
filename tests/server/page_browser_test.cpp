// The results page as a browser shows it: headless Chromium renders the live page of a server
// seeded through its write page.
#include "survey/SurveyFields.h"
#include "tests/server/ServerProcess.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#ifndef TONVALE_SCREENSHOT_PATH
#error "TONVALE_SCREENSHOT_PATH must say where the screenshot is kept"
#endif

namespace {

std::string Submission(const std::string& age, const std::string& instrument, const std::string& school,
                       int lowest, int highest, int cents, int n)
{
    std::string body = "date_time=2019/07/0" + std::to_string(1 + n % 9) +
                       " 10:00:00&sex=" + std::string(SEX_ITEMS[n % 3]) + "&age=" + age +
                       "&min_freq=" + std::to_string(lowest) + "&max_freq=" + std::to_string(highest);
    for (int band = 0; band < 8; ++band)
        body += "&" + std::string(SURVEY_FIELDS[FIELD_INTERVAL_FIRST + band].name) +
                std::to_string(cents + band * 2 + n % 5);
    return body + "&instrument=" + instrument + "&school=" + school + "&comment=SECRET-COMMENT-" +
           std::to_string(n) + " <b>&amp;";
}

} // namespace

TEST(ResultsPageInBrowser, RendersChartsWithoutConsoleErrorsAndHidesSmallGroups)
{
    if (access(CHROMIUM_PATH, X_OK) != 0)
        GTEST_FAIL() << CHROMIUM_PATH << " is missing: scripts/deps.sh installs it";
    CTempDir dir;
    const std::string db = (dir.Path() / "survey.db").string();
    CServerProcess server;
    ASSERT_TRUE(server.Start(db, (dir.Path() / "server.log").string())) << server.error;

    // 12 people aged 21–30, 8 aged 51–60, 6 aged 61–70, and only 4 aged 31–40.
    struct Group {
        std::string age;
        int count, highest;
    };
    int n = 0;
    for (const Group& group : {Group{"25 years old", 12, 19000}, Group{"55 years old", 8, 14000},
                               Group{"65 years old", 6, 11000}, Group{"35 years old", 4, 17777}}) {
        for (int i = 0; i < group.count; ++i, ++n) {
            CRawConnection connection(server.Port());
            connection.Send(WriteRequest(Submission(group.age, std::string(INSTRUMENT_ITEMS[1 + n % 3]),
                                                    std::string(SCHOOL_ITEMS[1 + n % 2]), 20 + n,
                                                    group.highest + 100 * i, 4 + n % 7, n)));
            ASSERT_EQ(StatusOf(connection.ReadResponse()), 200) << n;
        }
    }
    const std::string url =
        "http://127.0.0.1:" + std::to_string(server.Port()) + std::string(SURVEY_RESULTS_PATH);

    // The console check must be able to fail: a page with a script error is seen.
    const CChildResult bad = RunChromium(dir.Path(), "profile-check", {"--dump-dom"},
                                         "data:text/html,<p>x</p><script>console.error('seen')</script>");
    ASSERT_EQ(bad.exitStatus, 0) << bad.err;
    ASSERT_FALSE(ConsoleLines(bad.err).empty()) << "Chromium's console output is not recognised";

    const CChildResult dom = RunChromium(dir.Path(), "profile-dom", {"--dump-dom"}, url);
    ASSERT_EQ(dom.exitStatus, 0) << dom.err;
    const auto console = ConsoleLines(dom.err);
    EXPECT_TRUE(console.empty()) << console.front();

    // The five charts, drawn.
    EXPECT_EQ(Occurrences(dom.out, "<svg class=\"chart\""), 5u);
    for (const char* id :
         {"age-counts", "highest-frequency", "lowest-frequency", "interval-school", "interval-instrument"})
        EXPECT_NE(dom.out.find("id=\"" + std::string(id) + "\""), std::string::npos) << id;
    EXPECT_GE(Occurrences(dom.out, "<g class=\"box\">"), 3u * 3 + 16);
    EXPECT_EQ(Occurrences(dom.out, "<g class=\"reference\">"), 4u);
    EXPECT_NE(dom.out.find("30 people have sent"), std::string::npos);
    // The group of four is not shown, nor are any of its values; the others are.
    EXPECT_EQ(dom.out.find("31–40: median"), std::string::npos);
    EXPECT_EQ(dom.out.find("31–40: 4 people"), std::string::npos);
    EXPECT_EQ(dom.out.find("17777"), std::string::npos);
    EXPECT_NE(dom.out.find("21–30: median 19550"), std::string::npos);
    EXPECT_NE(dom.out.find("51–60: median"), std::string::npos);
    EXPECT_NE(dom.out.find("61–70: median"), std::string::npos);
    // No comment and no date of anyone.
    EXPECT_EQ(dom.out.find("SECRET"), std::string::npos);
    EXPECT_EQ(dom.out.find("2019/"), std::string::npos);
    EXPECT_EQ(dom.out.find("<script"), std::string::npos);

    const std::string screenshot = TONVALE_SCREENSHOT_PATH;
    std::filesystem::remove(screenshot);
    const CChildResult shot =
        RunChromium(dir.Path(), "profile-shot",
                    {"--window-size=1280,3600", "--hide-scrollbars", "--screenshot=" + screenshot}, url);
    ASSERT_EQ(shot.exitStatus, 0) << shot.err;
    EXPECT_TRUE(ConsoleLines(shot.err).empty());
    ASSERT_TRUE(std::filesystem::exists(screenshot)) << shot.err;
    // A drawn page, not a blank one: its size as asked and many colours (charts, anti-aliased text).
    const CChildResult info =
        RunChild({"/usr/bin/identify", "-format", "%w %h %k", screenshot}, dir.Path(), dir.Path());
    ASSERT_EQ(info.exitStatus, 0) << info.err;
    int width = 0, height = 0, colours = 0;
    std::istringstream(info.out) >> width >> height >> colours;
    EXPECT_EQ(width, 1280);
    EXPECT_EQ(height, 3600);
    EXPECT_GT(colours, 50) << info.out;
    std::printf("screenshot: %s (%s)\n", screenshot.c_str(), info.out.c_str());
    const int status = server.StopWith(SIGTERM);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
        << status << "\n"
        << ReadFile((dir.Path() / "server.log").string());
}
