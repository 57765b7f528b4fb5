// The real server process on a loopback port, fed by Tonvale's own submission code and by raw
// requests.
#include "questionnaire/SurveyExchange.h"
#include "results/ResultRecord.h"
#include "survey/Cp932.h"
#include "survey/SurveyRequest.h"
#include "tests/questionnaire/SubmissionTestSupport.h"
#include "tests/server/ServerProcess.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>

namespace {

constexpr const char* TOKEN = "tk-4d1f0c9e7a2b5e8f3c9a61"; // 25 characters

// Column positions in the submissions table: id, received_utc, then the sixteen fields.
constexpr int COLUMN_FIRST_FIELD = 2;

class SurveyServerE2E : public testing::Test {
protected:
    void SetUp() override
    {
        // Only loopback is ever used; no proxy may take the requests elsewhere.
        setenv("no_proxy", "*", 1);
        unsetenv("http_proxy");
        m_db = (m_dir.Path() / "survey.db").string();
        m_log = (m_dir.Path() / "server.log").string();
        m_tokenFile = (m_dir.Path() / "token").string();
        WriteTokenFile(std::string(TOKEN) + "\n", 0640);
    }

    void WriteTokenFile(const std::string& contents, mode_t mode)
    {
        std::ofstream(m_tokenFile, std::ios::binary | std::ios::trunc) << contents;
        chmod(m_tokenFile.c_str(), mode);
    }

    // A server that ends with anything but a clean exit (a sanitizer's report, a crash) fails
    // the test that ran it.
    void TearDown() override
    {
        if (!m_server.Running())
            return;
        const int status = m_server.StopWith(SIGTERM);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
            << "server ended with status " << status << "; its log:\n"
            << ReadFile(m_log);
    }

    void StartServer(std::vector<std::string> extra = {})
    {
        std::vector<std::string> args = {"--admin-token-file", m_tokenFile, "--idle-timeout-ms", "1000",
                                         "--io-timeout-ms",    "1000",      "--max-connections", "8"};
        args.insert(args.end(), extra.begin(), extra.end());
        ASSERT_TRUE(m_server.Start(m_db, m_log, args)) << m_server.error;
    }

    SurveyEndpoint Endpoint() const
    {
        SurveyEndpoint endpoint;
        endpoint.host = "127.0.0.1";
        endpoint.port = m_server.Port();
        endpoint.timeouts.totalMs = 10000;
        return endpoint;
    }

    std::string Exchange(const std::string& request)
    {
        CRawConnection connection(m_server.Port());
        EXPECT_TRUE(connection.Connected());
        connection.Send(request);
        return connection.ReadResponse();
    }

    static SurveyValues ClientValues(const std::string& commentUtf8)
    {
        SurveyValues values = UnansweredValues(SurveyTimeOf(2026, 2, 28, 9, 5, 3));
        values[FIELD_SEX] = "female";
        values[FIELD_AGE] = AgeItemText(40);
        SetMeasurements(values, {31, 16543, NOT_MEASURED, 120, 60, NOT_MEASURED, 0, 1200, 15, 9});
        values[FIELD_INSTRUMENT] = "over 10 years";
        values[FIELD_SCHOOL] = "in music university, collage";
        values[FIELD_COMMENT] = Utf8ToCp932(commentUtf8, SURVEY_FIELD_MAX_BYTES);
        return values;
    }

    CTempDir m_dir;
    std::string m_db, m_log, m_tokenFile;
    CServerProcess m_server;
};

// "2026-12-07T05:27:38Z GET /Questionnaire/TonvaleWrite.asp 200 162 1.0ms"
bool IsLogLine(const std::string& line)
{
    std::istringstream in(line);
    std::string when, method, path, status, bytes, time, extra;
    if (!(in >> when >> method >> path >> status >> bytes >> time) || (in >> extra))
        return false;
    auto digits = [](const std::string& text) {
        return !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
    };
    return when.size() == 20 && when[10] == 'T' && when.back() == 'Z' &&
           (method == "GET" || method == "POST" || method == "HEAD" || method == "-") && digits(status) &&
           status.size() == 3 && digits(bytes) && time.ends_with("ms") &&
           time.find_first_not_of("0123456789.") == time.size() - 2;
}

} // namespace

TEST_F(SurveyServerE2E, ClientSubmissionIsStoredAsSent)
{
    StartServer();
    const std::string comment = "感想: 音が &comment=x &sex=male 100% きれい\r\n二行目 ｱﾌﾟﾘ";
    const SurveyValues values = ClientValues(comment);
    const SurveyExchangeResult result = ExchangeSurvey(Endpoint(), BuildSurveyBody(values));
    EXPECT_TRUE(result.delivered) << result.reason;
    EXPECT_EQ(result.status, 200);

    const auto rows = ReadAllRows(m_db);
    ASSERT_EQ(rows.size(), 1u);
    const auto& row = rows[0];
    ASSERT_EQ(row.size(), static_cast<std::size_t>(COLUMN_FIRST_FIELD + SURVEY_FIELD_COUNT));
    EXPECT_EQ(row[COLUMN_FIRST_FIELD + FIELD_DATE_TIME], "2026/02/28 09:05:03");
    EXPECT_EQ(row[COLUMN_FIRST_FIELD + FIELD_SEX], "female");
    EXPECT_EQ(row[COLUMN_FIRST_FIELD + FIELD_AGE], "43 years old");
    for (int m = 0; m < SURVEY_MEASUREMENT_COUNT; ++m) {
        const std::string& sent = values[FIELD_MIN_FREQ + m];
        EXPECT_EQ(row[COLUMN_FIRST_FIELD + FIELD_MIN_FREQ + m], sent == NOT_FINISHED_TEXT ? "NULL" : sent)
            << m;
    }
    EXPECT_EQ(row[COLUMN_FIRST_FIELD + FIELD_INSTRUMENT], "over 10 years");
    EXPECT_EQ(row[COLUMN_FIRST_FIELD + FIELD_SCHOOL], "in music university, collage");
    EXPECT_EQ(row[COLUMN_FIRST_FIELD + FIELD_COMMENT], comment);
}

TEST_F(SurveyServerE2E, LongestClientBodyAndEveryListItem)
{
    StartServer();
    SurveyValues values = ClientValues("");
    values[FIELD_AGE] = "79 years old";
    for (int m = 0; m < SURVEY_MEASUREMENT_COUNT; ++m)
        values[FIELD_MIN_FREQ + m] = MeasurementText(NOT_MEASURED);
    values[FIELD_INSTRUMENT] = "less than 10 years";
    values[FIELD_SCHOOL] = "graduated from music university, collage";
    std::string longComment;
    for (int i = 0; i < 200; ++i)
        longComment += "音";
    values[FIELD_COMMENT] = Utf8ToCp932(longComment, SURVEY_FIELD_MAX_BYTES);
    const std::string body = BuildSurveyBody(values);
    EXPECT_EQ(body.size(), 676u); // 127 whole characters: the client never splits one
    EXPECT_TRUE(ExchangeSurvey(Endpoint(), body).delivered);

    // Every item of every list, as the client sends it, is taken.
    int sent = 1;
    for (int age = 0; age < AGE_ITEM_COUNT; ++age) {
        SurveyValues v = ClientValues("");
        v[FIELD_AGE] = AgeItemText(age);
        v[FIELD_SEX] = SEX_ITEMS[age % SEX_ITEMS.size()];
        v[FIELD_INSTRUMENT] = INSTRUMENT_ITEMS[age % INSTRUMENT_ITEMS.size()];
        v[FIELD_SCHOOL] = SCHOOL_ITEMS[age % SCHOOL_ITEMS.size()];
        EXPECT_TRUE(ExchangeSurvey(Endpoint(), BuildSurveyBody(v)).delivered) << v[FIELD_AGE];
        ++sent;
    }
    const auto rows = ReadAllRows(m_db);
    ASSERT_EQ(rows.size(), static_cast<std::size_t>(sent));
    std::string expected;
    for (int i = 0; i < 127; ++i)
        expected += "音";
    EXPECT_EQ(rows[0][COLUMN_FIRST_FIELD + FIELD_COMMENT], expected);
}

TEST_F(SurveyServerE2E, RefusedSubmissionsStoreNothing)
{
    StartServer();
    // Through the client: a body it could never build.
    SurveyValues values = ClientValues("");
    values[FIELD_SEX] = "other";
    const SurveyExchangeResult refused = ExchangeSurvey(Endpoint(), BuildSurveyBody(values));
    EXPECT_FALSE(refused.delivered);
    EXPECT_EQ(refused.status, 400);

    for (const std::string& body :
         {BodyWithComment(std::string(256, 'x')), std::string("date_time=2008/03/05 14:07:09&sex=male"),
          BodyWithComment("\x82\x20"), std::string(), WorkedExampleBody() + std::string(1, '\0')}) {
        const std::string response = Exchange(WriteRequest(body));
        EXPECT_EQ(StatusOf(response), 400) << body.size();
    }

    // Too large: refused as soon as the header says so, before the body is sent.
    {
        CRawConnection connection(m_server.Port());
        connection.Send("GET /Questionnaire/TonvaleWrite.asp HTTP/1.1\r\nHost: 127.0.0.1\r\n"
                        "Content-Length: 1000000\r\n\r\n" +
                        WorkedExampleBody());
        const std::string response = connection.ReadResponse();
        EXPECT_EQ(StatusOf(response), 413);
        EXPECT_NE(response.find("Connection: close"), std::string::npos);
        EXPECT_TRUE(connection.WaitForClose());
    }
    // Too large in chunks, with no length given up front.
    {
        CRawConnection connection(m_server.Port());
        connection.Send("GET /Questionnaire/TonvaleWrite.asp HTTP/1.1\r\nHost: 127.0.0.1\r\n"
                        "Transfer-Encoding: chunked\r\n\r\n1388\r\n" +
                        std::string(5000, 'a') + "\r\n");
        EXPECT_EQ(StatusOf(connection.ReadResponse()), 413);
    }
    // 4096 bytes are read and parsed (and refused for the long comment), not refused as too large.
    EXPECT_EQ(StatusOf(Exchange(
                  WriteRequest(BodyWithComment(std::string(4096 - WorkedExampleBody().size(), 'c'))))),
              400);
    EXPECT_EQ(CountRows(m_db), 0);
}

TEST_F(SurveyServerE2E, MalformedRequestsAre400AndClosed)
{
    StartServer();
    for (const std::string& request :
         {std::string("GARBAGE\r\n\r\n"), std::string("GET /x HTTP/1.1\r\nBad Header\r\n\r\n"),
          std::string("GET /x HTTP/9.9\r\n\r\n"),
          std::string("GET /x HTTP/1.1\r\nContent-Length: -4\r\n\r\n"),
          std::string("GET /x HTTP/1.1\r\nContent-Length: 5\r\nContent-Length: 6\r\n\r\nhello")}) {
        CRawConnection connection(m_server.Port());
        connection.Send(request);
        const std::string response = connection.ReadResponse();
        EXPECT_EQ(StatusOf(response), 400) << request;
        EXPECT_TRUE(connection.WaitForClose()) << request;
    }
    CRawConnection connection(m_server.Port());
    connection.Send("GET /x HTTP/1.1\r\nX-Big: " + std::string(10000, 'b') + "\r\n\r\n");
    EXPECT_EQ(StatusOf(connection.ReadResponse()), 431);
    EXPECT_EQ(StatusOf(Exchange(GetRequest("/nothing-here"))), 404);
    EXPECT_EQ(CountRows(m_db), 0);
}

TEST_F(SurveyServerE2E, BodiesOnGetKeepTheConnectionInStep)
{
    StartServer();
    // Two submissions and a page request sent back to back on one connection: a server that
    // ignored the bodies of the GETs would read the first body as the next request.
    CRawConnection connection(m_server.Port());
    connection.Send(WriteRequest(WorkedExampleBody()) + WriteRequest(BodyWithComment("second")) +
                    GetRequest(std::string(SURVEY_RESULTS_PATH)));
    EXPECT_EQ(StatusOf(connection.ReadResponse()), 200);
    EXPECT_EQ(StatusOf(connection.ReadResponse()), 200);
    const std::string page = connection.ReadResponse();
    EXPECT_EQ(StatusOf(page), 200);
    EXPECT_NE(page.find("2 people have sent"), std::string::npos);
    EXPECT_NE(page.find("Content-Type: text/html; charset=utf-8"), std::string::npos);
    const auto rows = ReadAllRows(m_db);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[1][COLUMN_FIRST_FIELD + FIELD_COMMENT], "second");
}

TEST_F(SurveyServerE2E, ResultsPageIsCachedWithAValidator)
{
    StartServer();
    EXPECT_EQ(StatusOf(Exchange(WriteRequest(WorkedExampleBody()))), 200);
    const std::string path(SURVEY_RESULTS_PATH);
    auto etagOf = [](const std::string& response) {
        const std::size_t at = response.find("\r\nETag: ");
        return at == std::string::npos ? std::string()
                                       : response.substr(at + 8, response.find("\r\n", at + 2) - at - 8);
    };
    const std::string page = Exchange(GetRequest(path));
    EXPECT_EQ(StatusOf(page), 200);
    EXPECT_NE(page.find("1 person has sent"), std::string::npos);
    EXPECT_NE(page.find("Cache-Control: no-cache\r\n"), std::string::npos);
    const std::string etag = etagOf(page);
    ASSERT_EQ(etag.size(), 18u) << page.substr(0, 400);

    // One connection: HEAD, then revalidations, in step with each other.
    CRawConnection connection(m_server.Port());
    connection.Send("HEAD " + path + " HTTP/1.1\r\nHost: x\r\n\r\n");
    const std::string head = connection.ReadResponse(true);
    EXPECT_EQ(StatusOf(head), 200);
    EXPECT_NE(head.find("Content-Length: " + std::to_string(BodyOf(page).size()) + "\r\n"),
              std::string::npos);
    EXPECT_EQ(etagOf(head), etag);
    for (const std::string& match : {etag, "\"other\", W/" + etag, std::string("*")}) {
        connection.Send(GetRequest(path, "If-None-Match: " + match + "\r\n"));
        const std::string response = connection.ReadResponse(true);
        EXPECT_EQ(StatusOf(response), 304) << match;
        EXPECT_EQ(etagOf(response), etag);
    }
    connection.Send(GetRequest(path, "If-None-Match: \"other\"\r\n"));
    EXPECT_EQ(BodyOf(connection.ReadResponse()), BodyOf(page));
    // The page went out from another thread; the connection goes on as before.
    connection.Send(WriteRequest(WorkedExampleBody()));
    EXPECT_EQ(StatusOf(connection.ReadResponse()), 200);

    // A new submission makes a new page, at the latest a second later.
    EXPECT_EQ(StatusOf(Exchange(WriteRequest(WorkedExampleBody()))), 200);
    std::this_thread::sleep_for(std::chrono::milliseconds(1100));
    const std::string updated = Exchange(GetRequest(path, "If-None-Match: " + etag + "\r\n"));
    EXPECT_EQ(StatusOf(updated), 200);
    EXPECT_NE(updated.find("3 people have sent"), std::string::npos);
    EXPECT_NE(etagOf(updated), etag);
}

// While a submission is being stored, the page goes out from the bulk thread; the connection
// comes back for what it asks next.
TEST_F(SurveyServerE2E, PageAskedWhileASubmissionIsStored)
{
    m_server.UseTestHooks();
    StartServer({"--test-commit-delay-ms", "800"});
    CRawConnection submitter(m_server.Port());
    submitter.Send(WriteRequest(WorkedExampleBody()));
    CRawConnection reader(m_server.Port());
    for (int i = 0; i < 2; ++i) {
        reader.Send(GetRequest(std::string(SURVEY_RESULTS_PATH)));
        const std::string page = reader.ReadResponse();
        EXPECT_EQ(StatusOf(page), 200) << i;
        EXPECT_NE(page.find("0 people have sent"), std::string::npos) << i;
    }
    EXPECT_EQ(StatusOf(submitter.ReadResponse()), 200);
}

TEST_F(SurveyServerE2E, ExportNeedsTheToken)
{
    StartServer();
    EXPECT_EQ(StatusOf(Exchange(WriteRequest(BodyWithComment("=SUM(1,2)")))), 200);
    EXPECT_EQ(StatusOf(Exchange(WriteRequest(BodyWithComment("plain")))), 200);

    auto exportWith = [this](const std::string& headers) {
        CRawConnection connection(m_server.Port());
        connection.Send(GetRequest("/export.csv", headers));
        const std::string response = connection.ReadResponse();
        // A refused token ends the connection: each guess costs a new one.
        EXPECT_TRUE(connection.WaitForClose()) << headers;
        return response;
    };
    const std::string bearer = "Authorization: Bearer ";
    // No token, or another scheme: no guess, so these never slow anyone down.
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(StatusOf(exportWith("")), 403);
        EXPECT_EQ(StatusOf(exportWith("Authorization: Basic " + std::string(TOKEN) + "\r\n")), 403);
    }

    CRawConnection connection(m_server.Port());
    connection.Send(GetRequest("/export.csv", bearer + TOKEN + "\r\nConnection: close\r\n"));
    std::string response;
    EXPECT_TRUE(connection.WaitForClose(&response));
    EXPECT_EQ(StatusOf(response), 200);
    EXPECT_NE(response.find("Transfer-Encoding: chunked"), std::string::npos);
    EXPECT_NE(response.find("text/csv"), std::string::npos);
    EXPECT_NE(response.find("\"'=SUM(1,2)\"\r\n"), std::string::npos);
    EXPECT_NE(response.find(",plain\r\n"), std::string::npos);
    EXPECT_NE(response.find(",male,30 years old,35,15000,not finished,"), std::string::npos);

    // A few wrong tokens are mistakes; after them the address's wrong guesses must wait, but the
    // right token is always taken.
    for (const std::string& wrong : {std::string("wrong"), std::string(TOKEN) + "x", std::string("x")})
        EXPECT_EQ(StatusOf(exportWith(bearer + wrong + "\r\n")), 403) << wrong;
    EXPECT_EQ(StatusOf(exportWith(bearer + "wrong-again\r\n")), 403);
    const std::string locked = exportWith(bearer + "wrong-while-locked\r\n");
    EXPECT_EQ(StatusOf(locked), 429);
    EXPECT_NE(locked.find("Retry-After: 1\r\n"), std::string::npos);
    EXPECT_EQ(StatusOf(exportWith(bearer + TOKEN + "\r\nConnection: close\r\n")), 200);
    // Another address is not locked out by this one; its connection stays open after the
    // export for what it asks next.
    CRawConnection other(m_server.Port(), std::chrono::seconds(5), "127.0.0.2");
    other.Send(GetRequest("/export.csv", bearer + TOKEN + "\r\n"));
    const std::string kept = other.ReadResponse();
    EXPECT_EQ(StatusOf(kept), 200);
    EXPECT_NE(kept.find(",plain\r\n"), std::string::npos);
    other.Send(GetRequest(std::string(SURVEY_RESULTS_PATH)));
    EXPECT_NE(other.ReadResponse().find("2 people have sent"), std::string::npos);
    // Once the wait is over, a wrong token is judged again.
    ASSERT_EQ(StatusOf(exportWith(bearer + "wrong-1\r\n")), 403);
    ASSERT_EQ(StatusOf(exportWith(bearer + "wrong-2\r\n")), 403);
    ASSERT_EQ(StatusOf(exportWith(bearer + "wrong-3\r\n")), 403);
    ASSERT_EQ(StatusOf(exportWith(bearer + "wrong-4\r\n")), 403);
    ASSERT_EQ(StatusOf(exportWith(bearer + "wrong-5\r\n")), 429);
    std::this_thread::sleep_for(std::chrono::milliseconds(1100));
    EXPECT_EQ(StatusOf(exportWith(bearer + "wrong-6\r\n")), 403);
}

// Behind a proxy, or from many addresses, wrong guesses are bounded in total; the right token
// still goes through once the budget is spent.
TEST_F(SurveyServerE2E, WrongTokensFromManyAddressesAreBoundedInTotal)
{
    StartServer({"--wrong-tokens-per-minute", "5"});
    const std::string bearer = "Authorization: Bearer ";
    int judged = 0, refused = 0;
    for (int address = 2; address <= 9; ++address) {
        const std::string from = "127.0.0." + std::to_string(address);
        // Two each: fewer than one address may get wrong before it must wait.
        for (int guess = 0; guess < 2; ++guess) {
            CRawConnection connection(m_server.Port(), std::chrono::seconds(5), from.c_str());
            connection.Send(
                GetRequest("/export.csv", bearer + "guess-" + from + "-" + std::to_string(guess) + "\r\n"));
            const std::string response = connection.ReadResponse();
            const int status = StatusOf(response);
            judged += status == 403 ? 1 : 0;
            if (status == 429) {
                ++refused;
                EXPECT_NE(response.find("Retry-After: "), std::string::npos);
            }
        }
    }
    EXPECT_EQ(judged, 5);
    EXPECT_EQ(refused, 16 - 5);
    for (const char* from : {"127.0.0.9", "127.0.0.10"}) {
        CRawConnection connection(m_server.Port(), std::chrono::seconds(5), from);
        connection.Send(GetRequest("/export.csv", bearer + TOKEN + "\r\nConnection: close\r\n"));
        std::string response;
        EXPECT_TRUE(connection.WaitForClose(&response));
        EXPECT_EQ(StatusOf(response), 200) << from;
    }
}

TEST_F(SurveyServerE2E, UnsafeTokenFilesAreRefusedAtStart)
{
    struct Case {
        std::string contents;
        mode_t mode;
        std::string message;
    };
    const std::string good = std::string(TOKEN) + "\n";
    for (const Case& c :
         {Case{good, 0644, "can be read or written by other users"},
          Case{good, 0602, "can be read or written by other users"},
          Case{"x\n", 0600, "shorter than 16 characters"},
          Case{std::string(TOKEN).substr(0, 15) + "\r\n", 0600, "shorter than 16"},
          Case{good + good, 0600, "printable ASCII"}, Case{"tk 4d1f0c9e7a2b5e8", 0600, "printable ASCII"},
          Case{"tk-4d1f0c9e7a2b5e8\xc3\xa9", 0600, "printable ASCII"}}) {
        WriteTokenFile(c.contents, c.mode);
        const std::string log = (m_dir.Path() / "refused.log").string();
        std::filesystem::remove(log);
        const int status = m_server.RunToExit(m_db, log, {"--admin-token-file", m_tokenFile});
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 2) << c.message << ": " << status;
        EXPECT_NE(ReadFile(log).find(c.message), std::string::npos) << ReadFile(log);
    }
    const std::string missing = (m_dir.Path() / "refused.log").string();
    const int status =
        m_server.RunToExit(m_db, missing, {"--admin-token-file", (m_dir.Path() / "no-such-file").string()});
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 2) << status;
    EXPECT_NE(ReadFile(missing).find("cannot read the admin token file"), std::string::npos);

    // A token that may be guessable starts, with a warning.
    WriteTokenFile(std::string(TOKEN).substr(0, 21), 0600);
    StartServer();
    EXPECT_NE(m_server.startLine.find("warning: the admin token is shorter than 22"), std::string::npos)
        << m_server.startLine;
    ASSERT_EQ(m_server.StopWith(SIGTERM), 0);
    // The package's token file: root or the owner, the server's group, nobody else; no final
    // line break at all is fine too.
    WriteTokenFile(TOKEN, 0640);
    StartServer();
    EXPECT_EQ(m_server.startLine.find("warning"), std::string::npos) << m_server.startLine;
}

TEST_F(SurveyServerE2E, DatabaseIsCreatedForTheServerOnly)
{
    StartServer();
    EXPECT_EQ(StatusOf(Exchange(WriteRequest(WorkedExampleBody()))), 200);
    struct stat created {};
    ASSERT_EQ(stat(m_db.c_str(), &created), 0);
    EXPECT_EQ(created.st_mode & 0777, 0640u);
    EXPECT_EQ(m_server.startLine.find("warning"), std::string::npos) << m_server.startLine;
    ASSERT_EQ(m_server.StopWith(SIGTERM), 0);

    // An existing file keeps its mode; the start-up line says that others can read it.
    chmod(m_db.c_str(), 0644);
    StartServer();
    struct stat kept {};
    ASSERT_EQ(stat(m_db.c_str(), &kept), 0);
    EXPECT_EQ(kept.st_mode & 0777, 0644u);
    EXPECT_NE(m_server.startLine.find("can be read by other users (mode 0644)"), std::string::npos)
        << m_server.startLine;
}

TEST_F(SurveyServerE2E, ExportIsOffWithoutAToken)
{
    ASSERT_TRUE(m_server.Start(m_db, m_log)) << m_server.error;
    EXPECT_EQ(StatusOf(Exchange(GetRequest("/export.csv", "Authorization: Bearer \r\n"))), 404);
    EXPECT_EQ(
        StatusOf(Exchange(GetRequest("/export.csv", "Authorization: Bearer " + std::string(TOKEN) + "\r\n"))),
        404);
}

TEST_F(SurveyServerE2E, IdleAndSlowClientsAreCutOff)
{
    StartServer();
    const auto started = std::chrono::steady_clock::now();
    CRawConnection silent(m_server.Port());
    CRawConnection slowHeader(m_server.Port());
    slowHeader.Send("GET /Questionnaire/TonvaleWrite.asp HTTP/1.1\r\nHost: x\r\n");
    CRawConnection slowBody(m_server.Port());
    slowBody.Send("GET /Questionnaire/TonvaleWrite.asp HTTP/1.1\r\nContent-Length: 400\r\n\r\ndate_time=");
    EXPECT_TRUE(silent.WaitForClose());
    // A request that stalls is told so; a connection that never began one is just closed.
    for (CRawConnection* stalled : {&slowHeader, &slowBody}) {
        std::string rest;
        EXPECT_TRUE(stalled->WaitForClose(&rest));
        EXPECT_EQ(StatusOf(rest), 408) << rest;
    }
    const auto waited = std::chrono::steady_clock::now() - started;
    EXPECT_GE(waited, std::chrono::milliseconds(900));
    EXPECT_LT(waited, std::chrono::seconds(4));
    EXPECT_EQ(CountRows(m_db), 0);
}

TEST_F(SurveyServerE2E, ConnectionsAreBounded)
{
    StartServer({"--idle-timeout-ms", "5000"});
    // Eight connections that are each sending a body fill the server (a header still arriving
    // would make way).
    std::vector<std::unique_ptr<CRawConnection>> held;
    for (int i = 0; i < 8; ++i) {
        held.push_back(std::make_unique<CRawConnection>(m_server.Port()));
        ASSERT_TRUE(held.back()->Connected());
        held.back()->Send("GET /Questionnaire/TonvaleWrite.asp HTTP/1.1\r\nContent-Length: 400\r\n\r\nd");
    }
    // Let the server accept all eight before the ninth arrives.
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const std::string refused = Exchange(WriteRequest(WorkedExampleBody()));
    EXPECT_EQ(StatusOf(refused), 503);
    held.clear();
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(StatusOf(Exchange(WriteRequest(WorkedExampleBody()))), 200);
    EXPECT_EQ(CountRows(m_db), 1);
}

// One address holding connections it sends nothing on must not keep another address out: with
// the per-address limit, and with it off (behind a proxy), when the server is full.
TEST_F(SurveyServerE2E, IdleConnectionsFromOneAddressDoNotLockOthersOut)
{
    // Twelve idle connections: with a limit of 4 per address, each one past the fourth closes the
    // address's oldest, so 8 are closed; with no limit and room for 8, each of the last 4 closes
    // the oldest. Either way the newest stay.
    for (const auto& [perAddress, closedOldest] : {std::pair{"4", 8}, std::pair{"0", 4}}) {
        SCOPED_TRACE(std::string("--max-pending-per-address ") + perAddress);
        StartServer({"--idle-timeout-ms", "10000", "--max-pending-per-address", perAddress});
        std::vector<std::unique_ptr<CRawConnection>> idle;
        for (int i = 0; i < 12; ++i) {
            idle.push_back(std::make_unique<CRawConnection>(m_server.Port(), std::chrono::milliseconds(300)));
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        for (std::size_t i = 0; i < idle.size(); ++i)
            EXPECT_EQ(idle[i]->WaitForClose(), static_cast<int>(i) < closedOldest) << i;
        // The other address is served all the same.
        for (int i = 0; i < 6; ++i) {
            CRawConnection neighbour(m_server.Port(), std::chrono::seconds(5), "127.0.0.2");
            neighbour.Send(WriteRequest(WorkedExampleBody(), false));
            EXPECT_EQ(StatusOf(neighbour.ReadResponse()), 200) << i;
        }
        idle.clear();
        ASSERT_EQ(m_server.StopWith(SIGTERM), 0);
    }
    EXPECT_EQ(CountRows(m_db), 12);
}

// Connections from one address that each get a cheap answer and then trickle the header of
// their next request: they must not hold the server against a second address, and each trickled
// header ends at its deadline with 408.
TEST_F(SurveyServerE2E, TrickledHeadersFromOneAddressDoNotLockOthersOut)
{
    constexpr auto HEADER_DEADLINE = std::chrono::milliseconds(1500);
    StartServer({"--idle-timeout-ms", "10000", "--header-timeout-ms", "1500", "--max-connections", "16"});
    std::vector<std::unique_ptr<CRawConnection>> attackers;
    std::optional<std::chrono::steady_clock::time_point> firstHeaderBegan;
    for (int i = 0; i < 40; ++i) {
        auto connection = std::make_unique<CRawConnection>(m_server.Port(), std::chrono::seconds(8));
        if (!connection->Send(GetRequest("/cheap")) || StatusOf(connection->ReadResponse()) != 404)
            continue; // closed to make room, or refused: the address is at its limit
        if (!firstHeaderBegan)
            firstHeaderBegan = std::chrono::steady_clock::now();
        connection->Send("GET /Questionnaire/TonvaleDisp.asp HTTP/1.1\r\n");
        attackers.push_back(std::move(connection));
    }
    const auto lastHeaderBegan = std::chrono::steady_clock::now();
    std::atomic<bool> stop{false};
    std::thread trickle([&] {
        while (!stop) {
            for (auto& connection : attackers)
                connection->Send("X: y\r\n");
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
    });
    for (int i = 0; i < 6; ++i) {
        CRawConnection neighbour(m_server.Port(), std::chrono::seconds(5), "127.0.0.2");
        neighbour.Send(WriteRequest(WorkedExampleBody(), false));
        EXPECT_EQ(StatusOf(neighbour.ReadResponse()), 200) << i;
    }
    // What is left of the trickling is answered 408 at the deadline, never later.
    int timedOut = 0;
    for (auto& connection : attackers) {
        std::string rest;
        EXPECT_TRUE(connection->WaitForClose(&rest));
        if (StatusOf(rest) == 408) {
            ++timedOut;
            EXPECT_GE(std::chrono::steady_clock::now() - *firstHeaderBegan, HEADER_DEADLINE);
        }
    }
    EXPECT_LT(std::chrono::steady_clock::now() - lastHeaderBegan, HEADER_DEADLINE + std::chrono::seconds(4));
    stop = true;
    trickle.join();
    EXPECT_GT(timedOut, 0);
    EXPECT_EQ(CountRows(m_db), 6);
}

// Thirty browsers behind one address, each holding idle connections for later, each send their
// results on a new one.
TEST_F(SurveyServerE2E, AClassBehindOneAddressIsServed)
{
    StartServer({"--idle-timeout-ms", "10000", "--max-connections", "64", "--max-pending-per-address", "16"});
    std::vector<std::unique_ptr<CRawConnection>> idle;
    for (int i = 0; i < 30 * 3; ++i)
        idle.push_back(std::make_unique<CRawConnection>(m_server.Port(), std::chrono::milliseconds(300)));
    int served = 0;
    for (int browser = 0; browser < 30; ++browser) {
        CRawConnection connection(m_server.Port());
        connection.Send(WriteRequest(WorkedExampleBody(), false));
        served += StatusOf(connection.ReadResponse()) == 200 ? 1 : 0;
    }
    EXPECT_EQ(served, 30);
    EXPECT_EQ(CountRows(m_db), 30);
}

// The header's limit holds however the header is cut into pieces.
TEST_F(SurveyServerE2E, HeaderOverTheLimitSentInPiecesIs431)
{
    StartServer();
    const std::string line = "X-Filler: " + std::string(1012, 'a') + "\r\n"; // 1 KB a write
    // 100 KB of fields; and a start line of 7 KB followed by 7 KB of fields, each part under the
    // limit on its own.
    for (const auto& [start, fields] :
         {std::pair{std::string("GET /Questionnaire/TonvaleDisp.asp HTTP/1.1\r\nHost: x\r\n"), 100},
          std::pair{"GET /Questionnaire/TonvaleDisp.asp?" + std::string(7000, 'q') + " HTTP/1.1\r\n", 7}}) {
        CRawConnection connection(m_server.Port());
        bool sent = connection.Send(start);
        for (int i = 0; i < fields && sent; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
            sent = connection.Send(line);
        }
        if (sent)
            connection.Send("\r\n");
        std::string rest;
        EXPECT_TRUE(connection.WaitForClose(&rest));
        EXPECT_EQ(StatusOf(rest), 431) << start.size() << " + " << fields << " KB: " << rest.substr(0, 200);
    }
    // Just under the limit in pieces is a request like any other.
    CRawConnection under(m_server.Port());
    under.Send("GET /Questionnaire/TonvaleDisp.asp HTTP/1.1\r\n");
    for (int i = 0; i < 7; ++i)
        under.Send(line);
    under.Send("\r\n");
    EXPECT_EQ(StatusOf(under.ReadResponse()), 200);
}

// One address may send a class's worth of results at once, then only so many a second.
TEST_F(SurveyServerE2E, SubmissionsFromOneAddressAreLimited)
{
    for (const bool limited : {true, false}) {
        SCOPED_TRACE(limited ? "limited" : "no limit");
        for (const char* suffix : {"", "-wal", "-shm"})
            std::filesystem::remove(m_db + suffix);
        StartServer({"--submission-burst", limited ? "3" : "0", "--submissions-per-second", "1"});
        int stored = 0, refused = 0;
        for (int i = 0; i < 8; ++i) {
            const std::string response = Exchange(WriteRequest(WorkedExampleBody()));
            if (StatusOf(response) == 200) {
                ++stored;
            } else {
                ++refused;
                EXPECT_EQ(StatusOf(response), 429);
                EXPECT_NE(response.find("Retry-After: 1\r\n"), std::string::npos);
            }
            if (i < 3) {
                EXPECT_EQ(stored, i + 1);
            }
        }
        // Another address has its own allowance.
        CRawConnection other(m_server.Port(), std::chrono::seconds(5), "127.0.0.2");
        other.Send(WriteRequest(WorkedExampleBody()));
        EXPECT_EQ(StatusOf(other.ReadResponse()), 200);
        if (limited) {
            EXPECT_GT(refused, 0);
        } else {
            EXPECT_EQ(refused, 0);
        }
        EXPECT_EQ(CountRows(m_db), stored + 1);
        ASSERT_EQ(m_server.StopWith(SIGTERM), 0);
    }
}

TEST_F(SurveyServerE2E, SigtermAnswersWhatArrivedAndLogsNoPersonalData)
{
    StartServer({"--idle-timeout-ms", "5000", "--io-timeout-ms", "5000"});
    EXPECT_EQ(StatusOf(Exchange(WriteRequest(BodyWithComment("PRIVATE-NOTE \x82\xa0")))), 200);
    EXPECT_EQ(StatusOf(Exchange(GetRequest(std::string(SURVEY_RESULTS_PATH) + "?who=PRIVATE-QUERY"))), 200);
    EXPECT_EQ(StatusOf(Exchange(GetRequest("/PRIVATE-PATH"))), 404);

    // A request whose header has arrived when the signal comes is still answered and stored.
    CRawConnection inFlight(m_server.Port());
    const std::string body = BodyWithComment("in flight");
    const std::string request = WriteRequest(body);
    inFlight.Send(request.substr(0, request.size() - body.size() + 10));
    CRawConnection idle(m_server.Port());
    // Time for the server to read the header (it reads as it arrives; this is ample even in a
    // sanitizer build under load), then for the signal to be handled.
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    kill(m_server.Pid(), SIGTERM);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    inFlight.Send(request.substr(request.size() - body.size() + 10));
    const std::string answer = inFlight.ReadResponse();
    EXPECT_EQ(StatusOf(answer), 200);
    EXPECT_NE(answer.find("Connection: close"), std::string::npos);
    EXPECT_TRUE(idle.WaitForClose());

    const int status = m_server.StopWith(SIGTERM);
    ASSERT_TRUE(WIFEXITED(status)) << status;
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(CountRows(m_db), 2);

    const std::string log = ReadFile(m_log);
    for (const char* personal : {"PRIVATE", "2008/03/05", "127.0.0.1", "male", "in flight"})
        EXPECT_EQ(log.find(personal), std::string::npos) << personal << " in:\n" << log;
    // One line per request, then the stop.
    std::istringstream lines(log);
    std::string text;
    int requests = 0;
    while (std::getline(lines, text)) {
        if (text == "tonvale-survey: stopped")
            continue;
        EXPECT_TRUE(IsLogLine(text)) << text;
        ++requests;
    }
    EXPECT_EQ(requests, 4);
}
