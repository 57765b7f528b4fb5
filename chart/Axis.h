#pragma once
// A chart's value axis, bounded: a value beyond either end is drawn at that end, so that no value,
// however wrong, can stretch a chart or push a mark off it. Its ticks are bounded as well.
#include <string>
#include <utility>
#include <vector>

// The most tick steps an axis is divided into, whatever its range.
constexpr int MAX_AXIS_TICKS = 12;

struct ChartAxis {
    ChartAxis(double lo, double hi, bool log = false, std::string unit = {}, double labelScale = 1)
        : lo(lo), hi(hi), log(log), unit(std::move(unit)), labelScale(labelScale)
    {
    }

    double lo, hi; // lo > 0 on a logarithmic axis
    bool log;
    std::string unit;
    double labelScale; // tick labels show value / labelScale (Hz labelled in kHz)

    // Where `value` lies between the ends, 0 at lo to 1 at hi.
    double Fraction(double value) const;
    // The same between two coordinates.
    double Position(double value, double from, double to) const
    {
        return from + Fraction(value) * (to - from);
    }
};

// lo, lo + step, ... up to hi; the step doubles until there are at most MAX_AXIS_TICKS of them.
std::vector<double> LinearTicks(double lo, double hi, double step);

// Ticks for an axis that names none: 1, 2 and 5 of every decade on a logarithmic axis; on a linear
// one a step of 1, 2 or 4 labels (of labelScale) as the range grows, within MAX_AXIS_TICKS.
std::vector<double> AxisTicks(const ChartAxis& axis);

// A logarithmic axis of whole decades around `lo` to `hi` (the data's extent; hi <= 0 when there is
// none), starting no lower than the decade of `floorValue` and ending no higher than the decade that
// holds `maxValue`, the largest value there can be.
ChartAxis DecadeAxis(double lo, double hi, double floorValue, double maxValue, std::string unit);
