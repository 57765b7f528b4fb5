#include "chart/Axis.h"

#include <algorithm>
#include <cmath>

double ChartAxis::Fraction(double value) const
{
    value = std::clamp(value, lo, hi);
    return log ? (std::log10(value) - std::log10(lo)) / (std::log10(hi) - std::log10(lo))
               : (value - lo) / (hi - lo);
}

std::vector<double> LinearTicks(double lo, double hi, double step)
{
    while ((hi - lo) / step > MAX_AXIS_TICKS)
        step *= 2;
    std::vector<double> ticks;
    for (double v = lo; v <= hi; v += step)
        ticks.push_back(v);
    return ticks;
}

std::vector<double> AxisTicks(const ChartAxis& axis)
{
    if (!axis.log) {
        const double span = (axis.hi - axis.lo) / axis.labelScale;
        return LinearTicks(axis.lo, axis.hi, (span > 20 ? 4 : span > 10 ? 2 : 1) * axis.labelScale);
    }
    std::vector<double> ticks;
    for (double decade = axis.lo; decade <= axis.hi * 1.0001; decade *= 10) {
        for (double m : {1.0, 2.0, 5.0}) {
            if (decade * m <= axis.hi * 1.0001)
                ticks.push_back(decade * m);
        }
    }
    return ticks;
}

ChartAxis DecadeAxis(double lo, double hi, double floorValue, double maxValue, std::string unit)
{
    if (hi <= 0) {
        lo = floorValue;
        hi = floorValue * 1000;
    }
    lo = std::pow(10, std::floor(std::log10(std::max(lo, floorValue))));
    hi = std::pow(10, std::ceil(std::log10(std::max(hi, lo * 10))));
    const double ceiling = std::pow(10, std::ceil(std::log10(maxValue)));
    hi = std::min(hi, ceiling);
    lo = std::min(lo, ceiling / 10);
    if (hi < lo * 10)
        hi = lo * 10;
    return ChartAxis{lo, hi, true, std::move(unit)};
}
