#include "diagnoses/FormatHz.h"

#include <cstdio>

std::string FormatHz(double hz)
{
    // A double's integer part has at most 309 digits; 400 bytes hold any value "%6.2f" prints.
    char text[400];
    std::snprintf(text, sizeof text, "%6.2f", hz);
    return text;
}
