#include "survey/SurveyBody.h"

#include "survey/CIconv.h"
#include "survey/SurveyFields.h"

#include <algorithm>
#include <cerrno>
#include <charconv>

namespace {

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

// Reads exactly `count` digits at `pos` of `text`.
bool ReadDigits(std::string_view text, std::size_t pos, std::size_t count, int& value)
{
    value = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const char c = text[pos + i];
        if (!IsDigit(c))
            return false;
        value = value * 10 + (c - '0');
    }
    return true;
}

int DaysInMonth(int year, int month)
{
    static constexpr int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month == 2 && leap ? 29 : days[month - 1];
}

template <std::size_t N> bool IsOneOf(std::string_view value, const std::array<std::string_view, N>& items)
{
    return std::find(items.begin(), items.end(), value) != items.end();
}

} // namespace

bool IsValidDateTime(std::string_view value)
{
    // "%04d/%02d/%02d %02d:%02d:%02d" of a local time: 19 characters.
    if (value.size() != 19 || value[4] != '/' || value[7] != '/' || value[10] != ' ' || value[13] != ':' ||
        value[16] != ':')
        return false;
    int year, month, day, hour, minute, second;
    if (!ReadDigits(value, 0, 4, year) || !ReadDigits(value, 5, 2, month) || !ReadDigits(value, 8, 2, day) ||
        !ReadDigits(value, 11, 2, hour) || !ReadDigits(value, 14, 2, minute) ||
        !ReadDigits(value, 17, 2, second))
        return false;
    if (month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month))
        return false;
    // A leap second shows as :60 in a broken-down local time.
    return hour <= 23 && minute <= 59 && second <= 60;
}

bool IsValidAgeItem(std::string_view value)
{
    if (value == "none" || value == "under 5" || value == "over 80")
        return true;
    constexpr std::string_view suffix = " years old";
    if (value.size() <= suffix.size() || !value.ends_with(suffix))
        return false;
    const std::string_view number = value.substr(0, value.size() - suffix.size());
    if (number.size() > 2 || number[0] == '0')
        return false;
    int years = 0;
    const auto [end, ec] = std::from_chars(number.data(), number.data() + number.size(), years);
    if (ec != std::errc() || end != number.data() + number.size())
        return false;
    // The items run from 5 to 79 years; there is none for 80.
    return years >= 5 && years <= 79 && AgeItemText(years - 3) == value;
}

bool ParseMeasurement(std::string_view value, std::int32_t max, std::optional<std::int32_t>& measurement)
{
    measurement.reset();
    if (value == NOT_FINISHED_TEXT)
        return true;
    // The client writes the integer in base 10: no sign, no leading zeros.
    if (value.empty() || !std::all_of(value.begin(), value.end(), IsDigit) ||
        (value[0] == '0' && value.size() > 1))
        return false;
    std::int32_t number = 0;
    const auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), number);
    if (ec != std::errc() || end != value.data() + value.size() || number > max)
        return false;
    measurement = number;
    return true;
}

std::optional<std::string> Cp932ToUtf8(std::string_view text)
{
    if (text.find('\0') != std::string_view::npos)
        return std::nullopt;
    thread_local CIconv converter("UTF-8", "CP932");
    if (!converter.IsOpen())
        return std::nullopt;
    converter.Reset();

    // A CP932 byte becomes at most 3 UTF-8 bytes.
    std::string out(text.size() * 3, '\0');
    char* in = const_cast<char*>(text.data());
    std::size_t inLeft = text.size();
    char* outPtr = out.data();
    std::size_t outLeft = out.size();
    while (inLeft > 0) {
        if (converter.Convert(&in, &inLeft, &outPtr, &outLeft) != static_cast<std::size_t>(-1))
            continue;
        // A lead byte with nothing after it: the cut at 255 bytes split the last character.
        if (errno == EINVAL && inLeft == 1)
            break;
        return std::nullopt;
    }
    out.resize(out.size() - outLeft);
    return out;
}

SurveyParseResult ParseSurveyBody(std::string_view body)
{
    std::array<std::string_view, SURVEY_FIELD_COUNT> values;
    std::string_view rest = body;
    for (int i = 0; i < SURVEY_FIELD_COUNT; ++i) {
        const std::string_view name = SURVEY_FIELDS[i].name;
        if (!rest.starts_with(name))
            return {std::nullopt, "expected field " + std::string(name.substr(0, name.size() - 1))};
        rest.remove_prefix(name.size());
        if (i == FIELD_COMMENT) {
            // The comment is everything that follows, whatever it holds.
            values[i] = rest;
            break;
        }
        // No value other than the comment can hold '&', so the first one ends this value.
        const std::size_t end = rest.find('&');
        if (end == std::string_view::npos)
            return {std::nullopt, "missing fields after " + std::string(name.substr(0, name.size() - 1))};
        values[i] = rest.substr(0, end);
        rest.remove_prefix(end + 1);
    }

    auto refuse = [](int field) {
        const std::string_view name = SURVEY_FIELDS[field].name;
        return SurveyParseResult{std::nullopt,
                                 "bad value for " + std::string(name.substr(0, name.size() - 1))};
    };

    SurveySubmission submission;
    if (!IsValidDateTime(values[FIELD_DATE_TIME]))
        return refuse(FIELD_DATE_TIME);
    if (!IsOneOf(values[FIELD_SEX], SEX_ITEMS))
        return refuse(FIELD_SEX);
    if (!IsValidAgeItem(values[FIELD_AGE]))
        return refuse(FIELD_AGE);
    for (int m = 0; m < SURVEY_MEASUREMENT_COUNT; ++m) {
        if (!ParseMeasurement(values[FIELD_MIN_FREQ + m], MaxMeasured(m), submission.measurements[m]))
            return refuse(FIELD_MIN_FREQ + m);
    }
    if (!IsOneOf(values[FIELD_INSTRUMENT], INSTRUMENT_ITEMS))
        return refuse(FIELD_INSTRUMENT);
    if (!IsOneOf(values[FIELD_SCHOOL], SCHOOL_ITEMS))
        return refuse(FIELD_SCHOOL);
    if (values[FIELD_COMMENT].size() > SURVEY_FIELD_MAX_BYTES)
        return {std::nullopt, "comment longer than 255 bytes"};
    auto comment = Cp932ToUtf8(values[FIELD_COMMENT]);
    if (!comment)
        return {std::nullopt, "comment is not CP932 text"};

    submission.dateTime = values[FIELD_DATE_TIME];
    submission.sex = values[FIELD_SEX];
    submission.age = values[FIELD_AGE];
    submission.instrument = values[FIELD_INSTRUMENT];
    submission.school = values[FIELD_SCHOOL];
    submission.commentUtf8 = std::move(*comment);
    return {std::move(submission), {}};
}
