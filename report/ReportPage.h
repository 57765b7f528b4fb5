#pragma once
// Where "My Results" puts its page, and how the page is made for a folder. No window.
#include "results/ResultRecord.h"

#include <string>

constexpr const char* REPORT_PAGE_NAME = "my-results.html";

// $XDG_CACHE_HOME/tonvale when that is an absolute path, else ~/.cache/tonvale.
std::string ReportCacheDirectory();

// Writes `html` as my-results.html in ReportCacheDirectory(), creating missing folders 0700 and
// replacing an earlier page whole. Returns the page's path, or empty when it could not be written.
std::string WriteReportPage(const std::string& html);

// A file:// URL for an absolute path.
std::string FileUrl(const std::string& path);

// The time a page is made, as it shows it: "2026-12-07 11:25".
std::string ReportTimeNow();

// The page for `record` and the log in `directoryFd` (the folder of result.dat); `foreignResultFile`
// when the result.dat there is not Tonvale's.
std::string BuildReportForFolder(const ResultRecordData& record, int directoryFd,
                                 bool foreignResultFile = false);
