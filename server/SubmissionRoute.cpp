// Submissions: the questionnaire's form is parsed, counted against its address's rate, and
// stored; the answer waits for the commit (a thank-you page), or says that it failed (503).
//
// Threads: the connection thread; the store's writer commits, and the answer goes out from the
// connection thread again.
#include "server/Connection.h"
#include "server/Routes.h"
#include "server/SurveyStore.h"
#include "survey/SurveyBody.h"

#include <boost/asio/post.hpp>

namespace {

constexpr std::string_view THANK_YOU_PAGE =
    "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\"><title>Thank you</title>"
    "</head><body><p>Your results have been received. Thank you.</p></body></html>\n";

} // namespace

void ServeSubmission(const std::shared_ptr<CConnection>& connection)
{
    SurveyParseResult parsed = ParseSurveyBody(connection->Request().body());
    if (!parsed.submission)
        return connection->RespondError(http::status::bad_request, parsed.error);
    ServerContext& context = connection->Context();
    if (const long wait = context.submissionLimit.Take(connection->Key()); wait > 0)
        return connection->RespondError(http::status::too_many_requests,
                                        "too many submissions from this address", wait);
    auto back = context.Tracked();
    context.submissions.Started();
    context.store.Submit(std::move(*parsed.submission), [connection, back](bool committed) {
        asio::post(back, [connection, committed] {
            connection->Context().submissions.Ended();
            if (committed)
                connection->Respond(http::status::ok, std::string(THANK_YOU_PAGE), "text/html; charset=utf-8",
                                    true);
            else
                connection->RespondError(http::status::service_unavailable,
                                         "the submission could not be stored");
        });
    });
}
