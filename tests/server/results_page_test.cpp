// The results page: group statistics, hidden small groups, references, escaping.
#include "server/ResultsPage.h"
#include "server/SurveyServer.h"
#include "survey/SurveyFields.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

namespace {

std::array<std::int32_t, SURVEY_MEASUREMENT_COUNT> Measured(std::int32_t lowest, std::int32_t highest,
                                                            std::int32_t cents)
{
    std::array<std::int32_t, SURVEY_MEASUREMENT_COUNT> m;
    m.fill(cents);
    m[MEASUREMENT_LOWEST_HZ] = lowest;
    m[MEASUREMENT_HIGHEST_HZ] = highest;
    return m;
}

std::size_t Occurrences(const std::string& text, const std::string& what)
{
    std::size_t count = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++count;
    return count;
}

std::optional<BoxStats> Summarize(std::initializer_list<std::int32_t> values)
{
    CValueCounts counts(100);
    for (std::int32_t value : values)
        counts.Add(value);
    return ::Summarize(counts);
}

} // namespace

TEST(ResultsPage, Quartiles)
{
    const auto box = Summarize({5, 1, 4, 2, 3});
    ASSERT_TRUE(box);
    EXPECT_EQ(box->count, 5u);
    EXPECT_DOUBLE_EQ(box->q1, 2);
    EXPECT_DOUBLE_EQ(box->median, 3);
    EXPECT_DOUBLE_EQ(box->q3, 4);
    const auto even = Summarize({10, 20, 30, 40, 50, 60});
    ASSERT_TRUE(even);
    EXPECT_DOUBLE_EQ(even->median, 35);
    EXPECT_DOUBLE_EQ(even->q1, 22.5);
    EXPECT_DOUBLE_EQ(even->q3, 47.5);
    // Repeated values count once each.
    const auto repeated = Summarize({9, 7, 7, 100, 7, 7, 100, 7});
    ASSERT_TRUE(repeated);
    EXPECT_EQ(repeated->count, 8u);
    EXPECT_DOUBLE_EQ(repeated->q1, 7);
    EXPECT_DOUBLE_EQ(repeated->median, 7);
    EXPECT_DOUBLE_EQ(repeated->q3, 31.75);
    EXPECT_FALSE(Summarize({1, 2, 3, 4, -1, 101}));
    EXPECT_FALSE(Summarize({}));
}

TEST(ResultsPage, AgeBandsFollowTheReferenceDecades)
{
    EXPECT_EQ(AgeBandOf("none"), -1);
    EXPECT_EQ(AgeBandOf("under 5"), 0);
    EXPECT_EQ(AgeBandOf("20 years old"), 0);
    EXPECT_EQ(AgeBandOf("21 years old"), 1);
    EXPECT_EQ(AgeBandOf("30 years old"), 1);
    EXPECT_EQ(AgeBandOf("31 years old"), 2);
    EXPECT_EQ(AgeBandOf("60 years old"), 4);
    EXPECT_EQ(AgeBandOf("61 years old"), 5);
    EXPECT_EQ(AgeBandOf("70 years old"), 5);
    EXPECT_EQ(AgeBandOf("71 years old"), 6);
    EXPECT_EQ(AgeBandOf("79 years old"), 6);
    EXPECT_EQ(AgeBandOf("over 80"), 6);
    for (int i = 0; i < AGE_ITEM_COUNT; ++i) {
        const int band = AgeBandOf(AgeItemText(i));
        EXPECT_TRUE(i == 0 ? band == -1 : band >= 0 && band < AGE_BAND_COUNT) << AgeItemText(i);
    }
}

TEST(ResultsPage, SmallGroupsAreLeftOut)
{
    std::vector<StatsRow> rows;
    // Four people aged 21–30 (hidden), five aged 31–40 (shown).
    for (int i = 0; i < 4; ++i)
        rows.push_back(MakeStatsRow("25 years old", "no", "no", Measured(20, 18000 + i, 10)));
    for (int i = 0; i < 5; ++i)
        rows.push_back(MakeStatsRow("35 years old", "no", "no", Measured(30, 15000 + 100 * i, 10)));
    const std::string page = RenderResultsPage(rows);

    EXPECT_NE(page.find("9 people have sent their results"), std::string::npos);
    // The 31–40 band shows its median (15200 Hz) and its count.
    EXPECT_NE(page.find("31–40: median 15200"), std::string::npos);
    EXPECT_EQ(page.find("21–30: median"), std::string::npos);
    // None of the four hidden people's values appears anywhere.
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(page.find(std::to_string(18000 + i)), std::string::npos) << i;
    EXPECT_NE(page.find("fewer than 5 people: not shown"), std::string::npos);
    // The age-count bar of the hidden band does not give its size.
    EXPECT_EQ(page.find("21–30: 4 people"), std::string::npos);
    EXPECT_NE(page.find("31–40: 5 people"), std::string::npos);
}

TEST(ResultsPage, IntervalGroupsSplitByEducationAndInstrument)
{
    std::vector<StatsRow> rows;
    for (int i = 0; i < 6; ++i)
        rows.push_back(MakeStatsRow("none", "over 10 years", "graduated from music university, collage",
                                    Measured(20, 16000, 3 + i)));
    for (int i = 0; i < 5; ++i)
        rows.push_back(MakeStatsRow("none", "no", "no", Measured(20, 16000, 40 + i)));
    // Those who did not answer are in no group, however many they are.
    for (int i = 0; i < 7; ++i)
        rows.push_back(MakeStatsRow("none", "none", "none", Measured(20, 16000, 999)));
    const std::string page = RenderResultsPage(rows);
    // Median of 3..8 is 5.5; of 40..44 is 42: once per band for each split.
    EXPECT_EQ(Occurrences(page, "graduated from music university, collage: median 5.5,"), 8u);
    EXPECT_EQ(Occurrences(page, "over 10 years: median 5.5,"), 8u);
    EXPECT_EQ(Occurrences(page, ", no: median 42,"), 16u);
    EXPECT_EQ(page.find("median 999"), std::string::npos);
    EXPECT_NE(page.find("(logarithmic scale)"), std::string::npos);
}

TEST(ResultsPage, ValuesNoProgramCanMeasureStayOffThePage)
{
    std::vector<StatsRow> rows;
    for (int i = 0; i < 5; ++i)
        rows.push_back(MakeStatsRow("35 years old", "no", "no", Measured(30, 12000, 10)));
    const std::size_t plainSize = RenderResultsPage(rows).size();
    // Rows stored before the server checked the range: five of each in a band of their own (where
    // they would set the axis), and one among the real measurements.
    for (std::int32_t extreme : {INT32_MAX, 22051, -5, INT32_MIN + 1}) {
        for (int i = 0; i < 5; ++i)
            rows.push_back(MakeStatsRow("75 years old", "over 10 years", "music class",
                                        Measured(extreme, extreme, extreme)));
    }
    rows.push_back(MakeStatsRow("35 years old", "no", "no", Measured(-5, STATS_MISSING, 1201)));
    const std::string page = RenderResultsPage(rows);
    EXPECT_NE(page.find("26 people have sent"), std::string::npos);
    EXPECT_NE(page.find("31–40: median 12000, quartiles 12000–12000, 5 people"), std::string::npos);
    EXPECT_EQ(page.find("71 and over: median"), std::string::npos);
    EXPECT_EQ(page.find("over 10 years: median"), std::string::npos);
    // The band's people are counted, nothing else of theirs is drawn.
    EXPECT_LT(page.size(), plainSize + 2048);
}

TEST(ResultsPage, ReferencePointsAreMarkedAndCited)
{
    const std::string page = RenderResultsPage(std::vector<StatsRow>{});
    EXPECT_NE(page.find("0 people have sent"), std::string::npos);
    EXPECT_NE(page.find("doi:10.1186/s40463-021-00534-w"), std::string::npos);
    EXPECT_NE(page.find("doi:10.1016/j.heares.2006.05.004"), std::string::npos);
    EXPECT_NE(page.find("52.2 %"), std::string::npos);
    EXPECT_EQ(Occurrences(page, "<g class=\"reference\">"), 4u);
    EXPECT_NE(page.find("more than six times"), std::string::npos);
    EXPECT_NE(page.find("31–40 group [1]"), std::string::npos);
}

TEST(ResultsPage, NoScriptAndEveryChartDrawn)
{
    std::vector<StatsRow> rows;
    for (int i = 0; i < 20; ++i)
        rows.push_back(MakeStatsRow(AgeItemText(10 + 3 * i), INSTRUMENT_ITEMS[1 + i % 3],
                                    SCHOOL_ITEMS[1 + i % 4], Measured(20 + i, 14000 + 100 * i, 5 + i)));
    const std::string page = RenderResultsPage(rows);
    EXPECT_EQ(page.find("<script"), std::string::npos);
    // No event handler attribute (" onload=", " onclick=" ...) either.
    for (std::size_t at = page.find(" on"); at != std::string::npos; at = page.find(" on", at + 1)) {
        std::size_t end = at + 3;
        while (end < page.size() && page[end] >= 'a' && page[end] <= 'z')
            ++end;
        EXPECT_FALSE(end > at + 3 && end < page.size() && page[end] == '=') << page.substr(at, 20);
    }
    EXPECT_EQ(Occurrences(page, "<svg class=\"chart\""), 5u);
    for (const char* id :
         {"age-counts", "highest-frequency", "lowest-frequency", "interval-school", "interval-instrument"})
        EXPECT_NE(page.find("id=\"" + std::string(id) + "\""), std::string::npos) << id;
}

// The page's quartiles come from counts per value; they must be the quartiles of the sorted values
// themselves, in every group of every figure, for data with many repeats, values no program can
// measure and groups too small to show.
TEST(ResultsPage, QuartilesFromCountsAreThoseOfTheSortedValues)
{
    using Figure = CResultsTally::Figure;
    std::mt19937 random(20261207);
    auto pick = [&random](int n) { return static_cast<int>(random() % static_cast<unsigned>(n)); };
    for (const int people : {40, 400, 3000}) {
        SCOPED_TRACE(people);
        std::vector<StatsRow> rows;
        CResultsTally tally;
        for (int i = 0; i < people; ++i) {
            std::array<std::int32_t, SURVEY_MEASUREMENT_COUNT> m;
            for (int k = 0; k < SURVEY_MEASUREMENT_COUNT; ++k) {
                const std::int32_t largest = MaxMeasured(k);
                const int kind = pick(20);
                // A few distinct values, so that quartiles fall on repeats and between them.
                m[k] = kind == 0   ? STATS_MISSING
                       : kind == 1 ? largest + 1
                       : kind == 2 ? -1
                       : kind == 3 ? largest
                                   : largest / 7 * pick(1 + pick(6)) + pick(2);
            }
            rows.push_back(MakeStatsRow(AgeItemText(pick(AGE_ITEM_COUNT)), INSTRUMENT_ITEMS[pick(4)],
                                        SCHOOL_ITEMS[pick(5)], m));
            tally.Add(rows.back());
        }
        auto expected = [&rows](auto inGroup, int measurement) -> std::optional<BoxStats> {
            std::vector<double> values;
            for (const StatsRow& row : rows) {
                const std::int32_t v = row.measurements[measurement];
                if (inGroup(row) && v != STATS_MISSING && v >= 0 && v <= MaxMeasured(measurement))
                    values.push_back(v);
            }
            if (values.size() < SMALLEST_SHOWN_GROUP)
                return std::nullopt;
            std::sort(values.begin(), values.end());
            auto quantile = [&values](double p) {
                const double at = p * static_cast<double>(values.size() - 1);
                const auto i = static_cast<std::size_t>(at);
                return i + 1 < values.size() ? values[i] + (at - i) * (values[i + 1] - values[i]) : values[i];
            };
            return BoxStats{values.size(), quantile(0.25), quantile(0.5), quantile(0.75)};
        };
        int shown = 0, hidden = 0;
        auto compare = [&](std::optional<BoxStats> got, std::optional<BoxStats> want,
                           const std::string& what) {
            ASSERT_EQ(got.has_value(), want.has_value()) << what;
            if (!want) {
                ++hidden;
                return;
            }
            ++shown;
            EXPECT_EQ(got->count, want->count) << what;
            EXPECT_DOUBLE_EQ(got->q1, want->q1) << what;
            EXPECT_DOUBLE_EQ(got->median, want->median) << what;
            EXPECT_DOUBLE_EQ(got->q3, want->q3) << what;
        };
        for (int band = 0; band < AGE_BAND_COUNT; ++band) {
            auto inBand = [band](const StatsRow& row) { return row.ageBand == band; };
            compare(tally.Summary(Figure::HighestHz, band), expected(inBand, MEASUREMENT_HIGHEST_HZ),
                    "highest, age band " + std::to_string(band));
            compare(tally.Summary(Figure::LowestHz, band), expected(inBand, MEASUREMENT_LOWEST_HZ),
                    "lowest, age band " + std::to_string(band));
        }
        for (int band = 0; band < INTERVAL_BAND_COUNT; ++band) {
            for (std::size_t item = 0; item < SCHOOL_ITEMS.size(); ++item)
                compare(tally.Summary(Figure::IntervalBySchool, band, item),
                        expected([item](const StatsRow& row) { return row.school == static_cast<int>(item); },
                                 MEASUREMENT_FIRST_INTERVAL + band),
                        "interval band " + std::to_string(band) + ", school " + std::to_string(item));
            for (std::size_t item = 0; item < INSTRUMENT_ITEMS.size(); ++item)
                compare(
                    tally.Summary(Figure::IntervalByInstrument, band, item),
                    expected([item](const StatsRow& row) { return row.instrument == static_cast<int>(item); },
                             MEASUREMENT_FIRST_INTERVAL + band),
                    "interval band " + std::to_string(band) + ", instrument " + std::to_string(item));
        }
        // The data reach both kinds of group.
        EXPECT_GT(shown, 0);
        if (people == 40) {
            EXPECT_GT(hidden, 0);
        }
    }
}

// The server counts in only the rows since its last page: the page must be the one drawn from
// every row at once.
TEST(ResultsPage, ATallyGoesOnFromWhereItWas)
{
    std::vector<StatsRow> rows;
    CResultsTally tally;
    for (int i = 0; i < 60; ++i) {
        rows.push_back(MakeStatsRow(AgeItemText(10 + i), INSTRUMENT_ITEMS[i % 4], SCHOOL_ITEMS[i % 5],
                                    Measured(20 + i % 7, 12000 + 97 * i, 3 + i % 11)));
        tally.Add(rows.back());
        if (i % 25 == 24) {
            EXPECT_EQ(tally.Render(), RenderResultsPage(rows)) << i;
        }
    }
    EXPECT_EQ(tally.Count(), 60u);
    EXPECT_EQ(tally.Render(), RenderResultsPage(rows));
}

TEST(ClientLimits, AnIpv6ClientIsCountedByItsSlash64)
{
    using boost::asio::ip::make_address;
    EXPECT_EQ(ClientKey(make_address("2001:db8:1:2:aaaa::1")),
              ClientKey(make_address("2001:db8:1:2:ffff:1:2:3")));
    EXPECT_NE(ClientKey(make_address("2001:db8:1:2::1")), ClientKey(make_address("2001:db8:1:3::1")));
    EXPECT_EQ(ClientKey(make_address("::ffff:192.0.2.7")), make_address("192.0.2.7"));
    EXPECT_EQ(ClientKey(make_address("192.0.2.7")), make_address("192.0.2.7"));
    EXPECT_NE(ClientKey(make_address("192.0.2.7")), ClientKey(make_address("192.0.2.8")));
}

TEST(AdminToken, ConstantTimeEquals)
{
    EXPECT_TRUE(ConstantTimeEquals("s3cret-token", "s3cret-token"));
    EXPECT_FALSE(ConstantTimeEquals("s3cret-tokem", "s3cret-token"));
    EXPECT_FALSE(ConstantTimeEquals("s3cret", "s3cret-token"));
    EXPECT_FALSE(ConstantTimeEquals("s3cret-token-longer", "s3cret-token"));
    EXPECT_FALSE(ConstantTimeEquals("", "s3cret-token"));
    EXPECT_FALSE(ConstantTimeEquals(std::string("s3cret-token\0", 13), "s3cret-token"));
}
