#pragma once
// The published age reference for the highest audible frequency, cited alike by My Results and
// the survey's results page. HTML: the ampersand is written as an entity.
#include <string_view>

constexpr std::string_view AGE_NORM_CITATION =
    "Wang, M., Ai, Y., Han, Y., Fan, Z., Shi, P., Wang, H. (2021). Extended high-frequency "
    "audiometry in healthy adults with different age groups. Journal of Otolaryngology – Head &amp; "
    "Neck Surgery. doi:10.1186/s40463-021-00534-w. 162 adults aged 21 to 70.";
