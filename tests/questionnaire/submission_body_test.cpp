// The request body as the survey server receives it, byte for byte, and the request around it.
#include "questionnaire/SurveyExchange.h"
#include "results/ResultRecord.h"
#include "survey/Cp932.h"
#include "tests/questionnaire/LoopbackHttpServer.h"
#include "tests/questionnaire/SubmissionTestSupport.h"

#include <gtest/gtest.h>

#include <set>
#include <tuple>

namespace {

class SubmissionBody : public ::testing::Test {
protected:
    // Sends `values` to a fresh loopback server and returns the one request it received.
    std::string SendAndCapture(const SurveyValues& values)
    {
        CLoopbackHttpServer server;
        const SurveyExchangeResult result =
            ExchangeSurvey(LoopbackEndpoint(server.Port()), BuildSurveyBody(values));
        EXPECT_TRUE(result.delivered) << result.reason;
        const auto requests = server.Requests();
        EXPECT_EQ(requests.size(), 1u);
        return requests.empty() ? std::string() : requests.front();
    }
    std::string SentBody(const SurveyValues& values) { return ParseRequest(SendAndCapture(values)).body; }

    CNoProxy m_noProxy;
};

// The worked example: range 35 to 15000 Hz, only the 440 Hz interval (8 cents), male, 30 years old,
// less than 10 years, music class, no comment.
SurveyValues WorkedExample()
{
    SurveyValues values = UnansweredValues(SurveyTimeOf(2008, 3, 5, 14, 7, 9));
    values[FIELD_SEX] = SEX_ITEMS[1];
    values[FIELD_AGE] = AgeItemText(27);
    values[FIELD_MIN_FREQ] = MeasurementText(35);
    values[FIELD_MAX_FREQ] = MeasurementText(15000);
    values[FIELD_INTERVAL_FIRST + 3] = MeasurementText(8);
    values[FIELD_INSTRUMENT] = INSTRUMENT_ITEMS[2];
    values[FIELD_SCHOOL] = SCHOOL_ITEMS[2];
    return values;
}

const std::string WORKED_EXAMPLE_BODY =
    "date_time=2008/03/05 14:07:09&sex=male&age=30 years old&min_freq=35&max_freq=15000"
    "&min_interval55=not finished&min_interval110=not finished&min_interval220=not finished"
    "&min_interval440=8&min_interval880=not finished&min_interval1760=not finished"
    "&min_interval3520=not finished&min_interval7040=not finished&instrument=less than 10 years"
    "&school=music class&comment=";

// Everything before "comment=" in the worked example.
const std::string WORKED_EXAMPLE_HEAD = WORKED_EXAMPLE_BODY.substr(0, WORKED_EXAMPLE_BODY.size() - 8);

TEST_F(SubmissionBody, WorkedExampleArrivesByteForByteWithAnEmptyCommentLast)
{
    EXPECT_EQ(SentBody(WorkedExample()), WORKED_EXAMPLE_BODY);
}

TEST_F(SubmissionBody, RequestLineAndHeadersAreThoseOfAMinimalClient)
{
    CLoopbackHttpServer server;
    const std::string body = BuildSurveyBody(WorkedExample());
    ASSERT_TRUE(ExchangeSurvey(LoopbackEndpoint(server.Port()), body).delivered);
    ASSERT_EQ(server.Requests().size(), 1u);
    const ParsedRequest request = ParseRequest(server.Requests().front());

    EXPECT_EQ(request.requestLine, "GET /Questionnaire/TonvaleWrite.asp HTTP/1.1");
    EXPECT_EQ(request.Values("Host"), std::vector<std::string>{"127.0.0.1:" + std::to_string(server.Port())});
    EXPECT_EQ(request.Values("User-Agent"), std::vector<std::string>{"WININET Sample Program"});
    EXPECT_EQ(request.Values("Content-Type"), std::vector<std::string>{"application/x-www-form-urlencoded"});
    EXPECT_EQ(request.Values("Content-Length"), std::vector<std::string>{std::to_string(body.size())});
    // Nothing else: no Accept, no Expect, no Transfer-Encoding, no cookies.
    std::multiset<std::string> names;
    for (const auto& header : request.headers)
        names.insert(header.first);
    EXPECT_EQ(names, (std::multiset<std::string>{"Host", "User-Agent", "Content-Type", "Content-Length"}));
    EXPECT_EQ(request.body, body);
}

TEST_F(SubmissionBody, TwoSendsMakeTwoRequests)
{
    CLoopbackHttpServer server;
    const std::string body = BuildSurveyBody(WorkedExample());
    EXPECT_TRUE(ExchangeSurvey(LoopbackEndpoint(server.Port()), body).delivered);
    EXPECT_TRUE(ExchangeSurvey(LoopbackEndpoint(server.Port()), body).delivered);
    const auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(ParseRequest(requests[0]).body, body);
    EXPECT_EQ(ParseRequest(requests[1]).body, body);
}

TEST_F(SubmissionBody, CommentLongerThan255BytesSendsItsFirst255)
{
    std::string comment;
    for (int i = 0; i < 300; ++i)
        comment += static_cast<char>('a' + i % 26);
    SurveyValues values = WorkedExample();
    values[FIELD_COMMENT] = Utf8ToCp932(comment, SURVEY_FIELD_MAX_BYTES);
    EXPECT_EQ(SentBody(values), WORKED_EXAMPLE_HEAD + "comment=" + comment.substr(0, 255));
}

TEST_F(SubmissionBody, ReservedCharactersSpacesAndLineBreaksGoOutUnchanged)
{
    SurveyValues values = WorkedExample();
    values[FIELD_COMMENT] = Utf8ToCp932("a&b=c%20d e+f\nsecond line\r\nthird", SURVEY_FIELD_MAX_BYTES);
    EXPECT_EQ(SentBody(values), WORKED_EXAMPLE_HEAD + "comment=a&b=c%20d e+f\r\nsecond line\r\nthird");
}

TEST_F(SubmissionBody, JapaneseCommentGoesOutInCp932CutOnACharacterBoundary)
{
    SurveyValues values = WorkedExample();
    // 日本語 ～ (fullwidth tilde) テスト − (minus sign) 〜 (wave dash); the last two are where CP932 and
    // plain Shift_JIS differ. A character CP932 lacks (€, 😀) becomes "?".
    values[FIELD_COMMENT] = Utf8ToCp932("日本語～テスト−〜 €😀", SURVEY_FIELD_MAX_BYTES);
    EXPECT_EQ(SentBody(values),
              WORKED_EXAMPLE_HEAD +
                  "comment=" + "\x93\xfa\x96\x7b\x8c\xea\x81\x60\x83\x65\x83\x58\x83\x67\x81\x7c\x81\x60 ??");

    // 200 × "あ" is 400 bytes: 127 whole characters (254 bytes) fit, half of the 128th does not.
    std::string hiragana;
    std::string expected;
    for (int i = 0; i < 200; ++i)
        hiragana += "あ";
    for (int i = 0; i < 127; ++i)
        expected += "\x82\xa0";
    values[FIELD_COMMENT] = Utf8ToCp932(hiragana, SURVEY_FIELD_MAX_BYTES);
    EXPECT_EQ(SentBody(values), WORKED_EXAMPLE_HEAD + "comment=" + expected);

    // One ASCII byte first: then 127 characters fill exactly 255 bytes.
    values[FIELD_COMMENT] = Utf8ToCp932("x" + hiragana, SURVEY_FIELD_MAX_BYTES);
    EXPECT_EQ(SentBody(values), WORKED_EXAMPLE_HEAD + "comment=x" + expected);
}

TEST_F(SubmissionBody, EveryAnswerAtNoneWithOneMeasurement)
{
    SurveyValues values = UnansweredValues();
    values[FIELD_INTERVAL_FIRST + 7] = MeasurementText(12);
    EXPECT_EQ(SentBody(values),
              "date_time=2008/03/05 14:07:09&sex=none&age=none&min_freq=not finished&max_freq=not finished"
              "&min_interval55=not finished&min_interval110=not finished&min_interval220=not finished"
              "&min_interval440=not finished&min_interval880=not finished&min_interval1760=not finished"
              "&min_interval3520=not finished&min_interval7040=12&instrument=none&school=none&comment=");
}

TEST_F(SubmissionBody, LongestBodiesAre677BytesAnd676ThroughTheDialog)
{
    // The longest texts each control can hold: a 19-byte date, "female", a 12-byte age item, twelve
    // bytes for each measurement, the longest experience and education items, 255 comment bytes.
    SurveyValues values = UnansweredValues("2008/12/31 23:59:59");
    values[FIELD_SEX] = SEX_ITEMS[2];
    values[FIELD_AGE] = AgeItemText(76);
    values[FIELD_INSTRUMENT] = INSTRUMENT_ITEMS[2];
    values[FIELD_SCHOOL] = SCHOOL_ITEMS[4];
    values[FIELD_COMMENT] = Utf8ToCp932(std::string(400, '#'), SURVEY_FIELD_MAX_BYTES);
    const std::string body = SentBody(values);
    EXPECT_EQ(body.size(), 677u);
    EXPECT_EQ(body, BuildSurveyBody(values));

    // The dialog sends only with a measurement present, and the longest it shows is 5 bytes.
    values[FIELD_MIN_FREQ] = MeasurementFieldText(0, INT32_MIN);
    values[FIELD_MAX_FREQ] = MeasurementFieldText(1, 22050);
    EXPECT_EQ(values[FIELD_MIN_FREQ], "not finished");
    EXPECT_EQ(SentBody(values).size(), 670u);
}

TEST_F(SubmissionBody, EveryValueIsCutAt255Bytes)
{
    // The controls never hold more, but the builder keeps the 256-byte field buffers.
    SurveyValues values = UnansweredValues();
    values[FIELD_SEX] = std::string(300, 's');
    values[FIELD_COMMENT] = std::string(300, 'c');
    const std::string body = BuildSurveyBody(values);
    EXPECT_NE(body.find("&sex=" + std::string(255, 's') + "&age=none&"), std::string::npos);
    EXPECT_TRUE(body.ends_with("&comment=" + std::string(255, 'c')));
}

TEST(SurveyTexts, MeasurementsAndDate)
{
    EXPECT_EQ(MeasurementText(-1), "not finished");
    EXPECT_EQ(MeasurementText(0), "0");
    EXPECT_EQ(MeasurementText(-2), "-2");
    EXPECT_EQ(MeasurementText(15000), "15000");
    // What the checks can measure goes out as it is; anything else as not measured.
    for (const auto& [index, value, text] :
         std::vector<std::tuple<int, std::int32_t, std::string>>{{0, 0, "0"},
                                                                 {1, 22050, "22050"},
                                                                 {0, 22051, "not finished"},
                                                                 {1, -2, "not finished"},
                                                                 {2, 1200, "1200"},
                                                                 {9, 0, "0"},
                                                                 {9, 1201, "not finished"},
                                                                 {5, 22050, "not finished"},
                                                                 {3, -1, "not finished"}})
        EXPECT_EQ(MeasurementFieldText(index, value), text) << index << " " << value;

    std::tm when{};
    when.tm_year = 99;
    when.tm_mon = 0;
    when.tm_mday = 2;
    EXPECT_EQ(FormatSurveyTime(when), "1999/01/02 00:00:00");
}

} // namespace
