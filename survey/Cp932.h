#pragma once
// The comment as the survey server reads it: the Japanese code page's bytes (CP932), the code page
// in which the survey's servers have always received them.
#include <cstddef>
#include <string>
#include <string_view>

// Converts UTF-8 text to CP932 one character at a time: every line break ("\n", "\r\n" or a lone
// "\r") becomes CR LF, a character CP932 cannot represent (or a broken UTF-8 sequence) becomes "?",
// and the text stops at a NUL character, as a C string would. The result holds at most `maxBytes`
// bytes and ends on a character boundary: a two-byte character that does not fit is left out whole.
std::string Utf8ToCp932(std::string_view utf8, std::size_t maxBytes);
