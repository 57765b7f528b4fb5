// What a send makes of every kind of server answer: the message, the sent flag, and the bounds on
// time and memory that a broken or hostile server must not break.
#include "questionnaire/SurveyExchange.h"
#include "results/ResultRecord.h"
#include "tests/questionnaire/LoopbackHttpServer.h"
#include "tests/questionnaire/SubmissionTestSupport.h"
#include "tests/support/CapturingMessageSink.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>

// The largest single allocation made while `g_trackAllocations` is set. Under AddressSanitizer its
// allocator owns malloc and reports a huge allocation by itself.
#if !defined(__SANITIZE_ADDRESS__)
extern "C" {
void* __libc_malloc(std::size_t size);
void* __libc_calloc(std::size_t count, std::size_t size);
void* __libc_realloc(void* pointer, std::size_t size);
}
namespace {
std::atomic<bool> g_trackAllocations{false};
std::atomic<std::size_t> g_largestAllocation{0};
void NoteAllocation(std::size_t size)
{
    if (!g_trackAllocations.load(std::memory_order_relaxed))
        return;
    std::size_t seen = g_largestAllocation.load(std::memory_order_relaxed);
    while (size > seen && !g_largestAllocation.compare_exchange_weak(seen, size)) {}
}
} // namespace
extern "C" {
void* malloc(std::size_t size) noexcept
{
    NoteAllocation(size);
    return __libc_malloc(size);
}
void* calloc(std::size_t count, std::size_t size) noexcept
{
    NoteAllocation(count * size);
    return __libc_calloc(count, size);
}
void* realloc(void* pointer, std::size_t size) noexcept
{
    NoteAllocation(size);
    return __libc_realloc(pointer, size);
}
}
constexpr bool TRACKING_ALLOCATIONS = true;
#else
namespace {
std::atomic<bool> g_trackAllocations{false};
std::atomic<std::size_t> g_largestAllocation{0};
} // namespace
constexpr bool TRACKING_ALLOCATIONS = false;
#endif

namespace {

const std::string FAILED_PREFIX = std::string(SEND_FAILED_TEXT) + "\n";

class SubmissionOutcome : public ::testing::Test {
protected:
    void SetUp() override { ResetResultRecord(); }
    void TearDown() override { ResetResultRecord(); }

    // Sends once to `endpoint` and returns whether SubmitSurvey reported success.
    bool Submit(const SurveyEndpoint& endpoint)
    {
        SurveyValues values = UnansweredValues();
        values[FIELD_MIN_FREQ] = "35";
        return SubmitSurvey(values, endpoint);
    }

    // The failure message and the flag as it was: 0 before, 0 after; and 1 stays 1.
    void ExpectFailure(const std::string& reply, const std::string& reasonFragment = "")
    {
        for (std::int32_t before : {0, 1}) {
            SCOPED_TRACE("sent flag before: " + std::to_string(before));
            ResultRecord.m_sent = before;
            CLoopbackHttpServer server(reply);
            CCapturingMessageSink messages;
            EXPECT_FALSE(Submit(LoopbackEndpoint(server.Port())));
            EXPECT_EQ(ResultRecord.m_sent, before);
            ASSERT_EQ(messages.shown.size(), 1u);
            const std::string& text = messages.shown[0].text;
            EXPECT_TRUE(text.starts_with(FAILED_PREFIX)) << text;
            EXPECT_GT(text.size(), FAILED_PREFIX.size()) << "no reason given";
            EXPECT_EQ(text.find('\n', FAILED_PREFIX.size()), std::string::npos)
                << "the reason is one line: " << text;
            EXPECT_NE(text.find(reasonFragment), std::string::npos) << text;
            EXPECT_EQ(messages.shown[0].type & 0x0F, MB_OK);
            EXPECT_EQ(server.Requests().size(), 1u) << "the request itself went out";
        }
    }

    void ExpectSuccess(const std::string& reply)
    {
        CLoopbackHttpServer server(reply);
        CCapturingMessageSink messages;
        EXPECT_TRUE(Submit(LoopbackEndpoint(server.Port())));
        EXPECT_EQ(ResultRecord.m_sent, 1);
        EXPECT_EQ(messages.Texts(), std::vector<std::string>{"Information has been sent."});
        ASSERT_FALSE(messages.shown.empty());
        EXPECT_EQ(messages.shown[0].type & 0x0F, MB_OK);
        // Exactly one request: a redirect is not followed.
        EXPECT_EQ(server.Requests().size(), 1u);
        EXPECT_EQ(server.Connections(), 1u);
    }

    CNoProxy m_noProxy;
};

TEST_F(SubmissionOutcome, CompleteResponsesBelow400SetTheFlagHoweverTheBodyEnds)
{
    {
        SCOPED_TRACE("200 with Content-Length");
        ExpectSuccess("HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nthank");
    }
    {
        SCOPED_TRACE("200 ended by the server closing the connection");
        ExpectSuccess(
            "HTTP/1.1 200 OK\r\nConnection: close\r\nContent-Type: text/html\r\n\r\n<html>thanks</html>");
    }
    {
        SCOPED_TRACE("HTTP/1.0 200 without Content-Length");
        ResetResultRecord();
        ExpectSuccess("HTTP/1.0 200 OK\r\n\r\nthanks");
    }
    {
        SCOPED_TRACE("chunked 200");
        ResetResultRecord();
        ExpectSuccess(
            "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nthank\r\n3\r\nyou\r\n0\r\n\r\n");
    }
    {
        SCOPED_TRACE("302, not followed");
        ResetResultRecord();
        ExpectSuccess(
            "HTTP/1.1 302 Found\r\nLocation: /Questionnaire/Elsewhere.asp\r\nContent-Length: 0\r\n\r\n");
    }
    {
        SCOPED_TRACE("a large body with its length: drained and discarded");
        ResetResultRecord();
        ExpectSuccess("HTTP/1.1 200 OK\r\nContent-Length: 1000000\r\n\r\n" + std::string(1000000, 'x'));
    }
}

TEST_F(SubmissionOutcome, ErrorStatusesFailWithTheStatusLineAsReason)
{
    {
        SCOPED_TRACE("500");
        ExpectFailure("HTTP/1.1 500 Internal Server Error\r\nContent-Length: 3\r\n\r\nbad",
                      "HTTP/1.1 500 Internal Server Error");
    }
    {
        SCOPED_TRACE("404");
        ExpectFailure("HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n", "404 Not Found");
    }
    {
        SCOPED_TRACE("a status line with bytes that are not text");
        ExpectFailure("HTTP/1.1 400 \xff\xfe\x01"
                      "bad\r\nContent-Length: 0\r\n\r\n",
                      "400 ???bad");
    }
}

TEST_F(SubmissionOutcome, MalformedAndTruncatedResponsesFail)
{
    {
        SCOPED_TRACE("negative Content-Length");
        ExpectFailure("HTTP/1.1 200 OK\r\nContent-Length: -5\r\n\r\nabc");
    }
    {
        SCOPED_TRACE("non-numeric Content-Length");
        ExpectFailure("HTTP/1.1 200 OK\r\nContent-Length: many\r\n\r\nabc");
    }
    {
        SCOPED_TRACE("body shorter than its Content-Length");
        ExpectFailure("HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\nonly this");
    }
    {
        SCOPED_TRACE("chunked body cut short");
        ExpectFailure("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n10\r\nshort");
    }
    {
        SCOPED_TRACE("not HTTP at all");
        ExpectFailure("HELLO THERE\r\n\r\n");
    }
    {
        SCOPED_TRACE("connection closed without a reply");
        ExpectFailure("");
    }
}

TEST_F(SubmissionOutcome, HugeContentLengthNeverDeliveredAllocatesNothingOfThatSize)
{
    g_largestAllocation = 0;
    g_trackAllocations = true;
    ExpectFailure("HTTP/1.1 200 OK\r\nContent-Length: 1099511627776\r\n\r\nsome of it");
    g_trackAllocations = false;
    if (TRACKING_ALLOCATIONS) {
        EXPECT_GT(g_largestAllocation.load(), 0u) << "the allocation hook saw nothing";
        EXPECT_LT(g_largestAllocation.load(), std::size_t{4} << 20) << "largest single allocation";
    }
}

TEST_F(SubmissionOutcome, NothingListeningFails)
{
    CCapturingMessageSink messages;
    EXPECT_FALSE(Submit(LoopbackEndpoint(CLoopbackHttpServer::UnusedPort())));
    EXPECT_EQ(ResultRecord.m_sent, 0);
    ASSERT_EQ(messages.shown.size(), 1u);
    EXPECT_TRUE(messages.shown[0].text.starts_with(FAILED_PREFIX)) << messages.shown[0].text;
    EXPECT_NE(messages.shown[0].text.find("connect"), std::string::npos) << messages.shown[0].text;
}

TEST_F(SubmissionOutcome, ServerThatNeverAnswersTimesOut)
{
    // The program waits 10 s for the connection and 30 s in all; here the same path with shorter limits.
    for (const std::string& partial :
         {std::string(), std::string("HTTP/1.1 200 OK\r\nContent-Length: 1099511627776\r\n\r\nabc")}) {
        SCOPED_TRACE(partial.empty() ? "silent server" : "huge body that never comes");
        CLoopbackHttpServer server(partial, CLoopbackHttpServer::After::Hang);
        CCapturingMessageSink messages;
        const auto start = std::chrono::steady_clock::now();
        EXPECT_FALSE(Submit(LoopbackEndpoint(server.Port(), {1000, 1500})));
        const auto elapsedMs =
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start)
                .count();
        EXPECT_GE(elapsedMs, 1400);
        EXPECT_LT(elapsedMs, 5000);
        EXPECT_EQ(ResultRecord.m_sent, 0);
        ASSERT_EQ(messages.shown.size(), 1u);
        EXPECT_TRUE(messages.shown[0].text.starts_with(FAILED_PREFIX));
        EXPECT_NE(messages.shown[0].text.find("timed out"), std::string::npos) << messages.shown[0].text;
        EXPECT_EQ(server.Requests().size(), 1u);
    }
}

TEST(SurveyEndpoints, TheProgramUsesPort80AndItsTimeoutsAndAProxyFromTheEnvironment)
{
    EXPECT_EQ(SurveyServer().port, 80);
    EXPECT_EQ(SurveyServer().timeouts.connectMs, 10000);
    EXPECT_EQ(SurveyServer().timeouts.totalMs, 30000);
    EXPECT_FALSE(SurveyServer().host.empty());
    EXPECT_EQ(ResultsPageUrl(SurveyEndpoint{"survey.example", 80, {}}),
              "http://survey.example/Questionnaire/TonvaleDisp.asp");
    EXPECT_EQ(ResultsPageUrl(SurveyEndpoint{"::1", 8080, {}}),
              "http://[::1]:8080/Questionnaire/TonvaleDisp.asp");

    // With http_proxy set, the request goes to the proxy, which sees the full URL on port 80.
    CLoopbackHttpServer proxy;
    CEnvVar httpProxy("http_proxy", "http://127.0.0.1:" + std::to_string(proxy.Port()));
    CEnvVar noProxy("no_proxy", std::nullopt);
    CEnvVar upperNoProxy("NO_PROXY", std::nullopt);
    const SurveyExchangeResult result =
        ExchangeSurvey(SurveyEndpoint{"survey.example", 80, {2000, 5000}}, "a=b");
    EXPECT_TRUE(result.delivered) << result.reason;
    ASSERT_EQ(proxy.Requests().size(), 1u);
    const ParsedRequest request = ParseRequest(proxy.Requests().front());
    EXPECT_EQ(request.requestLine, "GET http://survey.example/Questionnaire/TonvaleWrite.asp HTTP/1.1");
    EXPECT_EQ(request.Values("Host"), std::vector<std::string>{"survey.example"});
    EXPECT_EQ(request.body, "a=b");
}

} // namespace
