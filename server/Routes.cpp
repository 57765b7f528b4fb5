// Which route answers a request: by its path, then its method. A known path asked with a method it
// does not take is 405; anything else is 404.
//
// Threads: the connection thread.
#include "server/Routes.h"

#include "server/Connection.h"
#include "survey/SurveyFields.h"

void AnswerRequest(const std::shared_ptr<CConnection>& connection)
{
    const http::verb method = connection->Request().method();
    const std::string& path = connection->Path();
    if (path == SURVEY_WRITE_PATH) {
        // The client sends its form with the verb GET and the body; POST is taken as well.
        if (method != http::verb::get && method != http::verb::post)
            return connection->RespondError(http::status::method_not_allowed, "");
        return ServeSubmission(connection);
    }
    if (path == SURVEY_RESULTS_PATH) {
        if (method != http::verb::get && method != http::verb::head)
            return connection->RespondError(http::status::method_not_allowed, "");
        return ServeResultsPage(connection, method == http::verb::head);
    }
    if (path == EXPORT_PATH) {
        if (method != http::verb::get)
            return connection->RespondError(http::status::method_not_allowed, "");
        return ServeExport(connection);
    }
    connection->RespondError(http::status::not_found, "");
}
