#include "chart/Svg.h"

#include "chart/Html.h"

#include <cstdio>

std::string FormatNumber(double value, int decimals)
{
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

std::string SvgTitle(std::string_view id, std::string_view title)
{
    return "<title id=\"" + std::string(id) + "-title\">" + HtmlEscape(title) + "</title>";
}
