#pragma once
// The one HTTP exchange with the questionnaire server, and what the program makes of its outcome.
// Synchronous, on the GUI thread, bounded by its timeouts.
#include "survey/SurveyRequest.h"
#include "ui/Language.h"

#include <cstdint>
#include <string>

struct SurveyTimeouts {
    long connectMs = 10000; // until the connection stands
    long totalMs = 30000;   // for the whole exchange, connection included
};

// Where the survey goes. The program always uses SurveyServer(): the build-time host on port 80.
struct SurveyEndpoint {
    std::string host;
    int port = SURVEY_PORT;
    SurveyTimeouts timeouts;
};

// The program's endpoint. Tests point it at a loopback server; the program never changes it.
SurveyEndpoint& SurveyServer();

struct SurveyExchangeResult {
    bool delivered = false; // a complete response with a status below 400 arrived
    long status = 0;        // the response's status code, 0 when none arrived
    std::string reason;     // why it failed, printable ASCII; empty on success
};

// Sends `body` to the write page with the verb GET, the program's User-Agent and Content-Type,
// and nothing a minimal HTTP/1.1 client would not send. Proxies come from the environment
// (http_proxy, no_proxy). Redirects are not followed; the response body is read and discarded
// in fixed-size pieces, whatever its Content-Length claims.
SurveyExchangeResult ExchangeSurvey(const SurveyEndpoint& endpoint, const std::string& body);

// A measurement as the questionnaire shows and sends it: "not finished" for NOT_MEASURED, else the
// decimal value with its minus sign.
std::string MeasurementText(std::int32_t value);

// Measurement `index` of ResultRecord (0 lowest, 1 highest, then the eight bands) as the
// questionnaire shows and sends it. A value no check could have produced (from a damaged or
// foreign file) goes out as "not finished": the server would refuse the whole send.
std::string MeasurementFieldText(int index, std::int32_t value);

// Sends the values and reports the outcome: on success sets the sent flag of ResultRecord to 1
// and shows "Information has been sent."; on failure leaves the flag and shows the failure with
// its reason in a second line. Returns whether the server took the answers.
bool SubmitSurvey(const SurveyValues& values, const SurveyEndpoint& endpoint = SurveyServer());

// The results page: "http://" + host + "/Questionnaire/TonvaleDisp.asp" (with the port when it is
// not 80).
std::string ResultsPageUrl(const SurveyEndpoint& endpoint = SurveyServer());

constexpr const char* SEND_FAILED_TEXT = TR_NOOP("結果を送信できませんでした。");
constexpr const char* SEND_DONE_TEXT = TR_NOOP("Information has been sent.");
