#pragma once
// The write page's request body: sixteen name=value pairs in a fixed order, values not encoded,
// the comment in CP932 and last. Parsing is by position so that whatever the user typed into the
// comment ("&", "=", "%", line breaks, even "&sex=") can never shift or fake a field.
#include "survey/SurveyFields.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

struct SurveySubmission {
    std::string dateTime; // "YYYY/MM/DD hh:mm:ss" as the client sent it
    std::string sex;      // list item texts, exactly as sent
    std::string age;
    std::string instrument;
    std::string school;
    // Lowest and highest audible frequency (Hz), then the interval per band (cents); empty when the
    // client sent "not finished".
    std::array<std::optional<std::int32_t>, SURVEY_MEASUREMENT_COUNT> measurements;
    std::string commentUtf8;
};

struct SurveyParseResult {
    std::optional<SurveySubmission> submission;
    // Why the body was refused, naming only the field: it goes to the log and the 400 page, so it
    // never quotes what the user sent.
    std::string error;
};

SurveyParseResult ParseSurveyBody(std::string_view body);

// CP932 to UTF-8. An incomplete double-byte character at the very end is dropped: the client cuts
// the comment at 255 bytes, which may split the last character. Anything else that is not CP932,
// and NUL bytes, make it fail.
std::optional<std::string> Cp932ToUtf8(std::string_view text);

// Checks one value against what the client's controls can hold.
bool IsValidDateTime(std::string_view value);
bool IsValidAgeItem(std::string_view value);
// "not finished" sets `measurement` empty; anything else must be the decimal text of an integer
// from 0 to `max`, without a sign or leading zeros. False if the value is neither.
bool ParseMeasurement(std::string_view value, std::int32_t max, std::optional<std::int32_t>& measurement);
