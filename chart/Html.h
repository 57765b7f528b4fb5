#pragma once
// Text into HTML and SVG, for the pages the program and the survey server write by hand.
#include <string>
#include <string_view>

// `text` with & < > " ' as entities: safe in element content and in quoted attributes alike.
std::string HtmlEscape(std::string_view text);
