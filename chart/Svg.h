#pragma once
// The pieces every hand-written SVG chart of the program and the survey server is made of.
#include <string>
#include <string_view>

// `value` with `decimals` digits after the point, as printf's "%.*f" writes it (no locale).
std::string FormatNumber(double value, int decimals);

// A chart's accessible name: <title id="ID-title">, which the <svg> names in aria-labelledby.
std::string SvgTitle(std::string_view id, std::string_view title);
