#pragma once
// The server's routes. Each handler runs on the connection thread once its request is whole, and
// ends by answering through the connection (or by handing the connection to the bulk thread, from
// which it comes back).
#include <memory>

class CConnection;

// Routes.cpp: picks the route by the request's path and method.
void AnswerRequest(const std::shared_ptr<CConnection>& connection);
// SubmissionRoute.cpp: stores a questionnaire.
void ServeSubmission(const std::shared_ptr<CConnection>& connection);
// PageRoute.cpp: the results page; `head`: its header only.
void ServeResultsPage(const std::shared_ptr<CConnection>& connection, bool head);
// ExportRoute.cpp: the researcher's CSV export, behind the admin token.
void ServeExport(const std::shared_ptr<CConnection>& connection);
