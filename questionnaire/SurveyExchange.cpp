#include "questionnaire/SurveyExchange.h"

#include "res/Version.h"
#include "results/ResultRecord.h"
#include "ui/Message.h"

#include <curl/curl.h>

#include <memory>
#include <mutex>

namespace {

// A status line longer than this is cut for the message; it is only shown, never parsed.
constexpr std::size_t STATUS_LINE_MAX = 120;

// Server bytes and libcurl's texts go into a message box: keep printable ASCII only, so a strange
// byte can neither break the UTF-8 conversion nor garble the message.
std::string Printable(std::string_view text)
{
    std::string out;
    for (char c : text) {
        if (c == '\r' || c == '\n')
            continue;
        out += (c >= 0x20 && c < 0x7F) ? c : '?';
    }
    while (!out.empty() && out.back() == ' ')
        out.pop_back();
    return out;
}

std::string UrlHost(const std::string& host)
{
    // An IPv6 address needs brackets in a URL.
    if (host.find(':') != std::string::npos && host.front() != '[')
        return "[" + host + "]";
    return host;
}

std::string ServerUrl(const SurveyEndpoint& endpoint, std::string_view path)
{
    std::string url = "http://" + UrlHost(endpoint.host);
    if (endpoint.port != SURVEY_PORT)
        url += ":" + std::to_string(endpoint.port);
    url += path;
    return url;
}

// The response body is not used: take it and forget it. libcurl hands it over in pieces of its own
// fixed buffer size, so a huge or lying Content-Length never reaches an allocation of ours.
std::size_t DiscardBody(char*, std::size_t size, std::size_t count, void*)
{
    return size * count;
}

// Keeps the last status line ("HTTP/1.1 500 Internal Server Error") for the failure message.
std::size_t KeepStatusLine(char* data, std::size_t size, std::size_t count, void* user)
{
    const std::size_t bytes = size * count;
    const std::string_view line(data, bytes);
    if (line.starts_with("HTTP/"))
        *static_cast<std::string*>(user) = Printable(line.substr(0, STATUS_LINE_MAX));
    return bytes;
}

void InitCurlOnce()
{
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

struct CurlEasyDeleter {
    void operator()(CURL* curl) const { curl_easy_cleanup(curl); }
};
struct CurlListDeleter {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};

} // namespace

SurveyEndpoint& SurveyServer()
{
    static SurveyEndpoint endpoint{TONVALE_SURVEY_HOST, SURVEY_PORT, {}};
    return endpoint;
}

std::string ResultsPageUrl(const SurveyEndpoint& endpoint)
{
    return ServerUrl(endpoint, SURVEY_RESULTS_PATH);
}

SurveyExchangeResult ExchangeSurvey(const SurveyEndpoint& endpoint, const std::string& body)
{
    SurveyExchangeResult result;
    InitCurlOnce();
    std::unique_ptr<CURL, CurlEasyDeleter> curl(curl_easy_init());
    if (!curl) {
        result.reason = "The HTTP client could not be started.";
        return result;
    }

    // Our Content-Type replaces libcurl's own; the empty entries remove the headers libcurl would
    // add by itself ("Accept: */*", and "Expect: 100-continue" for a large body).
    const std::string contentType(SURVEY_CONTENT_TYPE);
    curl_slist* headers = nullptr;
    for (const char* header : {contentType.c_str(), "Accept:", "Expect:"}) {
        curl_slist* appended = curl_slist_append(headers, header);
        if (appended == nullptr) {
            curl_slist_free_all(headers);
            result.reason = "Out of memory.";
            return result;
        }
        headers = appended;
    }
    std::unique_ptr<curl_slist, CurlListDeleter> headerList(headers);

    const std::string url = ServerUrl(endpoint, SURVEY_WRITE_PATH);
    const std::string userAgent(SURVEY_USER_AGENT);
    char error[CURL_ERROR_SIZE] = "";
    std::string statusLine;
    CURL* h = curl.get();
    curl_easy_setopt(h, CURLOPT_URL, url.c_str());
    curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http");
    curl_easy_setopt(h, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
    // The server expects a GET that carries a form body.
    curl_easy_setopt(h, CURLOPT_CUSTOMREQUEST, "GET");
    curl_easy_setopt(h, CURLOPT_POSTFIELDS, body.data());
    curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
    curl_easy_setopt(h, CURLOPT_USERAGENT, userAgent.c_str());
    curl_easy_setopt(h, CURLOPT_HTTPHEADER, headerList.get());
    curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, endpoint.timeouts.connectMs);
    curl_easy_setopt(h, CURLOPT_TIMEOUT_MS, endpoint.timeouts.totalMs);
    // No signals: a timeout must not depend on SIGALRM in a GUI program.
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &DiscardBody);
    curl_easy_setopt(h, CURLOPT_HEADERFUNCTION, &KeepStatusLine);
    curl_easy_setopt(h, CURLOPT_HEADERDATA, &statusLine);
    curl_easy_setopt(h, CURLOPT_ERRORBUFFER, error);

    const CURLcode code = curl_easy_perform(h);
    long status = 0;
    curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status);
    result.status = status;
    if (code != CURLE_OK) {
        // libcurl's own text names the step that failed (connection, timeout, a broken response).
        result.reason = Printable(error[0] != '\0' ? error : curl_easy_strerror(code));
        return result;
    }
    if (status < 100) {
        result.reason = Translate("The server sent no valid response.");
        return result;
    }
    if (status >= 400) {
        result.reason = TranslateFormat("The server answered: %s",
                                        (statusLine.empty() ? std::to_string(status) : statusLine).c_str());
        return result;
    }
    result.delivered = true;
    return result;
}

bool SubmitSurvey(const SurveyValues& values, const SurveyEndpoint& endpoint)
{
    const SurveyExchangeResult result = ExchangeSurvey(endpoint, BuildSurveyBody(values));
    if (!result.delivered) {
        ShowMessage(Translate(SEND_FAILED_TEXT) + "\n" + result.reason);
        return false;
    }
    ResultRecord.m_sent = 1;
    ShowMessage(Translate(SEND_DONE_TEXT));
    return true;
}

std::string MeasurementText(std::int32_t value)
{
    if (value == NOT_MEASURED)
        return std::string(NOT_FINISHED_TEXT);
    return std::to_string(value);
}

std::string MeasurementFieldText(int index, std::int32_t value)
{
    return MeasurementText(value < 0 || value > MaxMeasured(index) ? NOT_MEASURED : value);
}
