#pragma once
// The body of the request to the questionnaire server, and the texts the questionnaire shows for
// the values that go into it.
#include "survey/SurveyFields.h"

#include <array>
#include <cstdint>
#include <ctime>
#include <string>

// The sixteen values in the order of SURVEY_FIELDS, each as the bytes that go out: the comment
// already in CP932 with CR LF line breaks (Utf8ToCp932), everything else ASCII.
using SurveyValues = std::array<std::string, SURVEY_FIELD_COUNT>;

// name=value pairs in field order joined by '&', nothing escaped, no line end. Each value is cut
// to its first SURVEY_FIELD_MAX_BYTES bytes, as each control is read into 256 bytes;
// the comment must come in already cut on a character boundary.
std::string BuildSurveyBody(const SurveyValues& values);

// The date field: "%04d/%02d/%02d %02d:%02d:%02d" of a local time.
std::string FormatSurveyTime(const std::tm& local);
