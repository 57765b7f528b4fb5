#include "survey/SurveyRequest.h"

#include <cstdio>

std::string BuildSurveyBody(const SurveyValues& values)
{
    std::string body;
    body.reserve(1024);
    for (int i = 0; i < SURVEY_FIELD_COUNT; ++i) {
        body += SURVEY_FIELDS[i].name;
        body.append(values[i], 0, SURVEY_FIELD_MAX_BYTES);
        if (i + 1 < SURVEY_FIELD_COUNT)
            body += '&';
    }
    return body;
}

std::string FormatSurveyTime(const std::tm& local)
{
    // Wide enough for any int fields, so a strange tm never truncates silently.
    char text[80];
    std::snprintf(text, sizeof text, "%04d/%02d/%02d %02d:%02d:%02d", local.tm_year + 1900, local.tm_mon + 1,
                  local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
    return text;
}
