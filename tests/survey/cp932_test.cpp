// The comment's conversion to the code page the server reads: line breaks, limits and broken input.
#include "survey/Cp932.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(Cp932Comment, LineBreaksNulAndBrokenInput)
{
    // Every kind of line break becomes CR LF.
    EXPECT_EQ(Utf8ToCp932("a\nb\rc\r\nd\n\ne", 255), "a\r\nb\r\nc\r\nd\r\n\r\ne");
    // A line break at the limit may keep its CR alone; nothing goes past the limit.
    EXPECT_EQ(Utf8ToCp932("abcd\nef", 5), "abcd\r");
    EXPECT_EQ(Utf8ToCp932("abcd\nef", 4), "abcd");
    // The text ends at a NUL, as a C string does.
    EXPECT_EQ(Utf8ToCp932(std::string("ab\0cd", 5), 255), "ab");
    // Broken UTF-8 (a lone continuation byte, a cut sequence, an overlong form, a surrogate) is "?";
    // the text after it still comes through.
    EXPECT_EQ(Utf8ToCp932("a\x80z", 255), "a?z");
    EXPECT_EQ(Utf8ToCp932("a\xe3\x81", 255), "a??");
    EXPECT_EQ(Utf8ToCp932("\xc0\xaf!", 255), "?"
                                             "?!");
    EXPECT_EQ(Utf8ToCp932("\xed\xa0\x80.", 255), "???.");
    // Half-width katakana and the yen sign's byte: one byte each.
    EXPECT_EQ(Utf8ToCp932("ｱ\\~", 255), "\xb1\\~");
    EXPECT_EQ(Utf8ToCp932("", 255), "");
}

} // namespace
