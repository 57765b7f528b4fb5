// The write page's body parser and field checks.
#include "survey/SurveyBody.h"
#include "survey/SurveyFields.h"

#include <gtest/gtest.h>

namespace {

std::string Body(const std::string& comment, const std::string& sex = "male",
                 const std::string& age = "30 years old", const std::string& school = "music class")
{
    return "date_time=2008/03/05 14:07:09&sex=" + sex + "&age=" + age +
           "&min_freq=35&max_freq=15000&min_interval55=not finished&min_interval110=not finished"
           "&min_interval220=not finished&min_interval440=8&min_interval880=not finished"
           "&min_interval1760=not finished&min_interval3520=not finished"
           "&min_interval7040=not finished&instrument=less than 10 years&school=" +
           school + "&comment=" + comment;
}

// "あいう" in CP932 and in UTF-8.
const std::string AIU_CP932 = "\x82\xa0\x82\xa2\x82\xa4";
const std::string AIU_UTF8 = "あいう";

} // namespace

TEST(SurveyBody, WorkedExample)
{
    const auto result = ParseSurveyBody(
        "date_time=2008/03/05 14:07:09&sex=male&age=30 years old&min_freq=35&max_freq=15000&"
        "min_interval55=not finished&min_interval110=not finished&min_interval220=not finished&"
        "min_interval440=8&min_interval880=not finished&min_interval1760=not finished&"
        "min_interval3520=not finished&min_interval7040=not finished&instrument=less than 10 "
        "years&school=music class&comment=");
    ASSERT_TRUE(result.submission) << result.error;
    const SurveySubmission& s = *result.submission;
    EXPECT_EQ(s.dateTime, "2008/03/05 14:07:09");
    EXPECT_EQ(s.sex, "male");
    EXPECT_EQ(s.age, "30 years old");
    EXPECT_EQ(s.measurements[MEASUREMENT_LOWEST_HZ], 35);
    EXPECT_EQ(s.measurements[MEASUREMENT_HIGHEST_HZ], 15000);
    for (int band = 0; band < 8; ++band) {
        if (band == 3)
            EXPECT_EQ(s.measurements[MEASUREMENT_FIRST_INTERVAL + band], 8);
        else
            EXPECT_FALSE(s.measurements[MEASUREMENT_FIRST_INTERVAL + band]) << band;
    }
    EXPECT_EQ(s.instrument, "less than 10 years");
    EXPECT_EQ(s.school, "music class");
    EXPECT_EQ(s.commentUtf8, "");
}

TEST(SurveyBody, LongestBodyTheClientCanSend)
{
    // 127 two-byte characters and one ASCII byte: a 255-byte comment.
    std::string comment;
    for (int i = 0; i < 127; ++i)
        comment += "\x82\xa0";
    comment += "!";
    std::string body = "date_time=2008/03/05 14:07:09&sex=female&age=79 years old";
    for (int field = FIELD_MIN_FREQ; field < FIELD_INSTRUMENT; ++field)
        body += "&" + std::string(SURVEY_FIELDS[field].name) + "not finished";
    body += "&instrument=less than 10 years&school=graduated from music university, collage"
            "&comment=" +
            comment;
    ASSERT_EQ(body.size(), 677u);
    const auto result = ParseSurveyBody(body);
    ASSERT_TRUE(result.submission) << result.error;
    std::string expected;
    for (int i = 0; i < 127; ++i)
        expected += "あ";
    EXPECT_EQ(result.submission->commentUtf8, expected + "!");
    EXPECT_EQ(result.submission->school, "graduated from music university, collage");
}

TEST(SurveyBody, CommentMayHoldWhatLooksLikeFields)
{
    const std::string tricky = "a&comment=b&sex=female&age=none=%41%%\r\nline two&";
    const auto result = ParseSurveyBody(Body(tricky));
    ASSERT_TRUE(result.submission) << result.error;
    EXPECT_EQ(result.submission->commentUtf8, tricky);
    // The fields before the comment are untouched by what it holds.
    EXPECT_EQ(result.submission->sex, "male");
    EXPECT_EQ(result.submission->age, "30 years old");
}

TEST(SurveyBody, JapaneseCommentBecomesUtf8)
{
    const auto result = ParseSurveyBody(Body(AIU_CP932 + "\r\n\x83\x65\x83\x58\x83\x67"));
    ASSERT_TRUE(result.submission) << result.error;
    EXPECT_EQ(result.submission->commentUtf8, AIU_UTF8 + "\r\nテスト");
    // Half-width katakana are single bytes in CP932.
    const auto kana = ParseSurveyBody(Body("\xb1\xcc\xdf\xd8"));
    ASSERT_TRUE(kana.submission) << kana.error;
    EXPECT_EQ(kana.submission->commentUtf8, "ｱﾌﾟﾘ");
}

TEST(SurveyBody, CommentLength)
{
    EXPECT_TRUE(ParseSurveyBody(Body(std::string(255, 'x'))).submission);
    const auto tooLong = ParseSurveyBody(Body(std::string(256, 'x')));
    EXPECT_FALSE(tooLong.submission);
    EXPECT_EQ(tooLong.error, "comment longer than 255 bytes");
    // The client cuts at 255 bytes, which can split the last double-byte character.
    const auto split = ParseSurveyBody(Body(std::string(254, 'x') + "\x82"));
    ASSERT_TRUE(split.submission) << split.error;
    EXPECT_EQ(split.submission->commentUtf8, std::string(254, 'x'));
}

TEST(SurveyBody, CommentThatIsNotCp932IsRefused)
{
    EXPECT_FALSE(ParseSurveyBody(Body("\x82\x20 broken pair")).submission);
    EXPECT_FALSE(ParseSurveyBody(Body(std::string("nul\0inside", 10))).submission);
    EXPECT_FALSE(ParseSurveyBody(Body("\xff")).submission);
}

TEST(SurveyBody, MissingOrMisplacedFieldsAreRefused)
{
    const std::string good = Body("");
    // Each field left out in turn.
    for (int field = 0; field < SURVEY_FIELD_COUNT; ++field) {
        const std::string name(SURVEY_FIELDS[field].name);
        const std::size_t at = good.find(name);
        ASSERT_NE(at, std::string::npos);
        std::size_t end = good.find('&', at);
        std::string body = good;
        if (field == FIELD_COMMENT)
            body.erase(at - 1);
        else
            body.erase(at, end - at + 1);
        EXPECT_FALSE(ParseSurveyBody(body).submission) << "without " << name;
    }
    // Two fields swapped.
    std::string swapped = good;
    swapped.replace(swapped.find("sex=male&age=30 years old"), 25, "age=30 years old&sex=male");
    EXPECT_FALSE(ParseSurveyBody(swapped).submission);
    // A field added in between.
    std::string extra = good;
    extra.insert(extra.find("&comment="), "&extra=1");
    EXPECT_FALSE(ParseSurveyBody(extra).submission);
    EXPECT_FALSE(ParseSurveyBody("").submission);
    EXPECT_FALSE(ParseSurveyBody("comment=only").submission);
    // Names are case-sensitive, and percent-encoding is not the client's.
    std::string upper = good;
    upper.replace(0, 9, "DATE_TIME");
    EXPECT_FALSE(ParseSurveyBody(upper).submission);
    EXPECT_FALSE(ParseSurveyBody(Body("", "male", "30%20years%20old")).submission);
}

TEST(SurveyBody, ListItems)
{
    for (auto sex : SEX_ITEMS)
        EXPECT_TRUE(ParseSurveyBody(Body("", std::string(sex))).submission) << sex;
    for (auto school : SCHOOL_ITEMS)
        EXPECT_TRUE(ParseSurveyBody(Body("", "male", "none", std::string(school))).submission);
    for (int i = 0; i < AGE_ITEM_COUNT; ++i)
        EXPECT_TRUE(IsValidAgeItem(AgeItemText(i))) << AgeItemText(i);
    for (const char* bad : {"other", "Male", "male ", " male", ""})
        EXPECT_FALSE(ParseSurveyBody(Body("", bad)).submission) << bad;
    for (const char* bad : {"80 years old", "4 years old", "05 years old", "30 years", "over 79", "under 4",
                            "-5 years old", "100 years old", " years old"})
        EXPECT_FALSE(IsValidAgeItem(bad)) << bad;
    EXPECT_FALSE(ParseSurveyBody(Body("", "male", "none", "music school")).submission);
    const auto result = ParseSurveyBody(Body("", "male", "none", "music school"));
    EXPECT_EQ(result.error, "bad value for school");
}

TEST(SurveyBody, MeasurementsAreWhatTheProgramCanMeasure)
{
    std::optional<std::int32_t> value;
    EXPECT_TRUE(ParseMeasurement("not finished", 1200, value));
    EXPECT_FALSE(value);
    EXPECT_TRUE(ParseMeasurement("0", 1200, value));
    EXPECT_EQ(value, 0);
    for (const char* bad : {"", "-", "-1", "-5", "-0", "007", "+5", "5 ", " 5", "12a", "1201", "2147483647",
                            "2147483648", "-2147483648", "not finished ", "Not finished", "1e3", "0x10"})
        EXPECT_FALSE(ParseMeasurement(bad, 1200, value)) << bad;

    // Through the whole body: each field has the limit of its kind, and a value beyond it stores
    // nothing.
    const std::string worked = Body("");
    for (int m = 0; m < SURVEY_MEASUREMENT_COUNT; ++m) {
        const std::string name(SURVEY_FIELDS[FIELD_MIN_FREQ + m].name);
        const std::size_t at = worked.find("&" + name) + 1 + name.size();
        const std::size_t end = worked.find('&', at);
        const std::int32_t max = m < MEASUREMENT_FIRST_INTERVAL ? 22050 : 1200;
        auto with = [&](std::int64_t v) {
            return ParseSurveyBody(worked.substr(0, at) + std::to_string(v) + worked.substr(end));
        };
        const auto top = with(max);
        ASSERT_TRUE(top.submission) << name << top.error;
        EXPECT_EQ(top.submission->measurements[m], max) << name;
        for (std::int64_t bad : {std::int64_t{max} + 1, std::int64_t{-5}, std::int64_t{2147483647}}) {
            const auto refused = with(bad);
            EXPECT_FALSE(refused.submission) << name << "=" << bad;
            EXPECT_EQ(refused.error, "bad value for " + name.substr(0, name.size() - 1));
        }
    }
}

TEST(SurveyBody, DateTime)
{
    EXPECT_TRUE(IsValidDateTime("2008/03/05 14:07:09"));
    EXPECT_TRUE(IsValidDateTime("2008/02/29 00:00:00"));
    EXPECT_TRUE(IsValidDateTime("2026/12/31 23:59:60"));
    for (const char* bad :
         {"2007/02/29 00:00:00", "2008/13/01 00:00:00", "2008/00/10 00:00:00", "2008/04/31 00:00:00",
          "2008/3/05 14:07:09", "2008/03/05 24:00:00", "2008/03/05 14:60:00", "2008-03-05 14:07:09",
          "2008/03/05T14:07:09", "2008/03/05 14:07:09 ", "", "abcd/ef/gh ij:kl:mn"})
        EXPECT_FALSE(IsValidDateTime(bad)) << bad;
}
