// The pieces both hand-written pages draw with: escaping, and axes that hold every value and a
// bounded number of ticks whatever the data.
#include "chart/Axis.h"
#include "chart/Html.h"
#include "chart/Svg.h"

#include <gtest/gtest.h>

#include <cmath>
#include <utility>
#include <vector>

namespace {

TEST(ChartText, EscapingAndTitles)
{
    EXPECT_EQ(HtmlEscape("<a href=\"x\">'&'</a>"), "&lt;a href=&quot;x&quot;&gt;&#39;&amp;&#39;&lt;/a&gt;");
    EXPECT_EQ(HtmlEscape("plain テキスト"), "plain テキスト");
    EXPECT_EQ(SvgTitle("age", "Tom & Jerry's <b>"),
              "<title id=\"age-title\">Tom &amp; Jerry&#39;s &lt;b&gt;</title>");
    EXPECT_EQ(FormatNumber(2.25, 1), "2.2"); // printf's rounding, half to even in binary
    EXPECT_EQ(FormatNumber(-0.04, 1), "-0.0");
    EXPECT_EQ(FormatNumber(1234.5, 0), "1234");
}

TEST(ChartAxis, ValuesBeyondEitherEndSitOnIt)
{
    const ChartAxis linear{0, 200};
    EXPECT_DOUBLE_EQ(linear.Fraction(50), 0.25);
    EXPECT_EQ(linear.Fraction(-1e9), 0.0);
    EXPECT_EQ(linear.Fraction(1e9), 1.0);
    EXPECT_DOUBLE_EQ(linear.Position(50, 100, 500), 200);
    // Drawn upwards: the far end may be the smaller coordinate.
    EXPECT_DOUBLE_EQ(linear.Position(50, 500, 100), 400);

    const ChartAxis log{10, 1000, true};
    EXPECT_DOUBLE_EQ(log.Fraction(100), 0.5);
    // Zero and negative values have no logarithm: they sit at the low end, as a value too large
    // sits at the high one.
    EXPECT_EQ(log.Fraction(0), 0.0);
    EXPECT_EQ(log.Fraction(-5), 0.0);
    EXPECT_EQ(log.Fraction(25000), 1.0);
}

TEST(ChartAxis, TicksAreBounded)
{
    EXPECT_EQ(LinearTicks(0, 20000, 5000), (std::vector<double>{0, 5000, 10000, 15000, 20000}));
    // An end between steps gets no tick of its own.
    EXPECT_EQ(LinearTicks(0, 11.5, 5), (std::vector<double>{0, 5, 10}));
    for (double hi : {13.0, 1000.0, 22050.0, 1e9}) {
        const std::vector<double> ticks = LinearTicks(0, hi, 1);
        ASSERT_GE(ticks.size(), 2u) << hi;
        EXPECT_LE(ticks.size(), static_cast<std::size_t>(MAX_AXIS_TICKS) + 1) << hi;
        EXPECT_LE(ticks.back(), hi);
        EXPECT_GT(ticks.back() + (ticks[1] - ticks[0]), hi) << "the last step is left out: " << hi;
    }

    EXPECT_EQ(AxisTicks(ChartAxis{1, 1000, true}),
              (std::vector<double>{1, 2, 5, 10, 20, 50, 100, 200, 500, 1000}));
    // Labelled in kHz: a tick every 4 kHz over 22 kHz.
    EXPECT_EQ(AxisTicks(ChartAxis{0, 22000, false, "kHz", 1000}),
              (std::vector<double>{0, 4000, 8000, 12000, 16000, 20000}));
    EXPECT_EQ(AxisTicks(ChartAxis{0, 8, false}).size(), 9u);
}

TEST(ChartAxis, DecadeAxisHoldsTheDataWithinTheLargestPossibleValue)
{
    const auto ends = [](const ChartAxis& axis) { return std::pair(axis.lo, axis.hi); };
    EXPECT_EQ(ends(DecadeAxis(3, 450, 1, 22050, "Hz")), std::pair(1.0, 1000.0));
    // Never below the floor's decade, never past the decade of the largest value there can be.
    EXPECT_EQ(ends(DecadeAxis(0.01, 30000, 1, 1200, "cents")), std::pair(1.0, 10000.0));
    EXPECT_EQ(ends(DecadeAxis(5000, 9000, 1, 1200, "cents")), std::pair(1000.0, 10000.0));
    // No data: three decades from the floor.
    EXPECT_EQ(ends(DecadeAxis(INFINITY, 0, 1, 22050, "Hz")), std::pair(1.0, 1000.0));
    // One decade at least, even when all values are equal.
    EXPECT_EQ(ends(DecadeAxis(100, 100, 1, 22050, "Hz")), std::pair(100.0, 1000.0));
    EXPECT_TRUE(DecadeAxis(3, 450, 1, 22050, "Hz").log);
}

} // namespace
