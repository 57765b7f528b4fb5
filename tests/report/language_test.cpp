// My Results in the listener's language, with the catalogs the build compiles: without a catalog
// the page is byte for byte the English page it has always been and the English catalog changes
// nothing; under Japanese the page says lang="ja", its headings, labels and notes are Japanese, and
// it still renders whole.
#include "report/ResultReport.h"
#include "res/Version.h"
#include "tests/report/ReportInputs.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/ScopedCatalog.h"
#include "tests/support/ShowsJapanese.h"
#include "tests/support/TempDir.h"
#include "ui/Catalog.h"
#include "ui/Language.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstdint>
#include <cstdio>

#ifndef TONVALE_SCREENSHOT_DIR
#error "TONVALE_SCREENSHOT_DIR must say where the screenshots are kept"
#endif

namespace {

// The page in each shape it takes, in the language installed: nothing measured and no log yet; a
// foreign result.dat with three runs, an age band and rows left out; an age the study has no point
// for and one left-out row; years of runs, more than the charts draw.
std::vector<std::pair<std::string, std::string>> Pages()
{
    ReportSources foreign;
    foreign.foreignResultFile = true;
    foreign.malformedRows = 3;
    std::vector<LoggedRow> over80;
    AddRun(over80, "11-01", 16000, 40, 9, "22050.00");
    over80.push_back(Row("12-04", "r", "questionnaire", "questionnaire", "", "", "over 80"));
    over80.push_back(Row("12-04", "r", "questionnaire", "questionnaire", "", "", "bogus"));
    std::vector<LoggedRow> years;
    for (int i = 0; i < 450; ++i) {
        char time[64];
        std::snprintf(time, sizeof time, "%d-%02d-%02dT10:00:00.000+09:00", 2000 + i / 336, 1 + i / 28 % 12,
                      1 + i % 28);
        const std::string run = "run" + std::to_string(i);
        years.push_back({time, run, "sound card", "result", "", "", "", "", "22050.00"});
        years.push_back({time, run, "range upper", "result", "", "", "", "", std::to_string(15000 + i)});
        years.push_back({time, run, "interval", "result", "440", "", "", "", std::to_string(5 + i % 9)});
    }
    const ResultRecordData measured = Record(35, 15000, 8);
    return {{"empty", BuildResultReport(measured, {}, "2026-12-07 11:25")},
            {"foreign", BuildResultReport(Record(NOT_MEASURED, NOT_MEASURED, NOT_MEASURED), SeveralRuns(),
                                          "2026-12-07 <b>", foreign)},
            {"over-80", BuildResultReport(measured, over80, "x")},
            {"years", BuildResultReport(measured, years, "x")}};
}

// FNV-1a of the page with the program's version left out, which changes with every release.
std::uint64_t Fingerprint(std::string page)
{
    const std::string version = TONVALE_VERSION_STRING;
    for (auto at = page.find(version); at != std::string::npos; at = page.find(version, at))
        page.replace(at, version.size(), "VERSION");
    std::uint64_t hash = 0xcbf29ce484222325;
    for (unsigned char c : page)
        hash = (hash ^ c) * 0x100000001b3;
    return hash;
}

// The texts a reader sees (element contents, tooltips included), without the style sheet, the
// study's citation (its title stays as published) and character references.
std::vector<std::string> VisibleTexts(std::string page)
{
    const auto cut = [&page](const std::string& open, const std::string& close) {
        for (auto at = page.find(open); at != std::string::npos; at = page.find(open, at)) {
            const auto end = page.find(close, at);
            page.erase(at, end == std::string::npos ? std::string::npos : end + close.size() - at);
        }
    };
    cut("<style>", "</style>");
    cut("<p class=\"citation\">", "</p>");
    // Character references (&amp;, &#8211;): short, unlike a stray ampersand's distance to a ';'.
    for (auto at = page.find('&'); at != std::string::npos; at = page.find('&', at + 1)) {
        const auto end = page.find(';', at);
        if (end != std::string::npos && end - at <= 8)
            page.erase(at, end + 1 - at);
    }
    std::vector<std::string> texts;
    for (auto at = page.find('>'); at != std::string::npos; at = page.find('>', at + 1)) {
        const auto end = page.find('<', at);
        if (end != std::string::npos && end > at + 1)
            texts.push_back(page.substr(at + 1, end - at - 1));
    }
    return texts;
}

// Whether `text` holds a word of two Latin letters or more.
bool HasLatinWord(const std::string& text)
{
    int run = 0;
    for (char c : text) {
        run = std::isalpha(static_cast<unsigned char>(c)) != 0 ? run + 1 : 0;
        if (run >= 2)
            return true;
    }
    return false;
}

} // namespace

TEST(ReportLanguage, WithoutACatalogOrInEnglishThePageIsTheOneItHasAlwaysBeen)
{
    // The pages as they were before they had catalogs: a change of the English page changes these.
    const std::map<std::string, std::uint64_t> before = {{"empty", 0xafa35fbaa890ded2},
                                                         {"foreign", 0x7ad62a788c5df619},
                                                         {"over-80", 0xc66d8ac094c7fb70},
                                                         {"years", 0x29b5156f0b09e6db}};
    ASSERT_EQ(CatalogLanguage(), "");
    const auto pages = Pages();
    for (const auto& [name, page] : pages)
        EXPECT_EQ(Fingerprint(page), before.at(name)) << name;

    const SCatalog english("en_US.UTF-8");
    ASSERT_EQ(english.language, "en");
    const auto englishPages = Pages();
    for (std::size_t i = 0; i < pages.size(); ++i) {
        EXPECT_TRUE(englishPages[i].second == pages[i].second) << pages[i].first;
        EXPECT_FALSE(ShowsJapanese(englishPages[i].second)) << pages[i].first;
    }
}

TEST(ReportLanguage, InJapaneseEveryHeadingLabelAndNoteIsJapanese)
{
    const SCatalog japanese("ja_JP.UTF-8");
    ASSERT_EQ(japanese.language, "ja");
    // Names, units and numbers stay; so do the main window's buttons and the questionnaire's age
    // items, as the catalog names them there.
    const std::vector<std::string> kept = {"Tonvale",
                                           "result.dat",
                                           "tonvale-log.csv",
                                           "kHz",
                                           "Hz",
                                           Translate("Check Range"),
                                           Translate("Send Result"),
                                           Translate("over 80")};
    const auto pages = Pages();
    for (const auto& [name, page] : pages) {
        EXPECT_NE(page.find("<html lang=\"ja\">"), std::string::npos) << name;
        for (std::string text : VisibleTexts(page)) {
            for (const std::string& word : kept)
                for (auto at = text.find(word); at != std::string::npos; at = text.find(word, at))
                    text.erase(at, word.size());
            EXPECT_FALSE(HasLatinWord(text)) << name << ": " << text;
        }
    }
    const std::string& measured = pages[0].second;
    EXPECT_NE(measured.find("<h1>自分の測定結果</h1>"), std::string::npos);
    EXPECT_NE(measured.find("（440 Hz 帯域）</th><td class=\"value\">8 セント</td>"), std::string::npos);
    const std::string& foreign = pages[1].second;
    EXPECT_NE(foreign.find(">51〜60 歳: 20 kHz を聞き取れた人はいなかった。（あなたの年齢層）</li>"),
              std::string::npos);
    EXPECT_NE(foreign.find("\u25CF 上限</text>"), std::string::npos);
    EXPECT_NE(foreign.find("対象は 21〜70 歳の成人 162 人。</p>"), std::string::npos);
    EXPECT_NE(foreign.find("tonvale-log.csv の記録 5 件は"), std::string::npos);
}

TEST(ReportLanguage, TheJapanesePageRendersWhole)
{
    CTempDir dir;
    const SCatalog japanese("ja_JP.UTF-8");
    const std::filesystem::path page = dir.Path() / "my-results.html";
    std::ofstream(page) << BuildResultReport(Record(35, 15000, 8), SeveralRuns(), "2026-12-07 11:25");
    const std::string url = "file://" + page.string();

    const CChildResult dom = RunChromium(dir.Path(), "profile-dom", {"--dump-dom"}, url);
    ASSERT_EQ(dom.exitStatus, 0) << dom.err;
    const auto console = ConsoleLines(dom.err);
    EXPECT_TRUE(console.empty()) << console.front();
    EXPECT_EQ(Occurrences(dom.out, "<svg class=\"chart\""), 6u);
    EXPECT_EQ(Occurrences(dom.out, "<g class=\"reference\">"), 4u);

    // For a person to look at: the Japanese labels in the charts' room.
    const std::string screenshot = std::string(TONVALE_SCREENSHOT_DIR) + "/report-several-runs-ja.png";
    const CChildResult shot =
        RunChromium(dir.Path(), "profile-shot",
                    {"--window-size=900,2600", "--hide-scrollbars", "--screenshot=" + screenshot}, url);
    ASSERT_EQ(shot.exitStatus, 0) << shot.err;
    std::printf("screenshot: %s\n", screenshot.c_str());
}
