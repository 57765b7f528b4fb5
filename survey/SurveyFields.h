#pragma once
// What a submission to the questionnaire server consists of. The client builds its request from
// these tables and the survey server parses and validates against the same ones, so the two can
// never disagree on a name, an order or a list item.
#include <array>
#include <string>
#include <string_view>

constexpr std::string_view SURVEY_WRITE_PATH = "/Questionnaire/TonvaleWrite.asp";
constexpr std::string_view SURVEY_RESULTS_PATH = "/Questionnaire/TonvaleDisp.asp";
constexpr int SURVEY_PORT = 80;
constexpr std::string_view SURVEY_USER_AGENT = "WININET Sample Program";
constexpr std::string_view SURVEY_CONTENT_TYPE = "Content-Type: application/x-www-form-urlencoded";
constexpr std::string_view NOT_FINISHED_TEXT = "not finished";

// Each field value is read into a 256-byte buffer: at most 255 bytes are sent.
constexpr std::size_t SURVEY_FIELD_MAX_BYTES = 255;

// The interval check's octave bands, in the order the result record and the body hold them.
constexpr int INTERVAL_BAND_COUNT = 8;
constexpr int INTERVAL_BAND_HZ[INTERVAL_BAND_COUNT] = {55, 110, 220, 440, 880, 1760, 3520, 7040};
// The measurements: lowest and highest audible frequency, then one interval per band.
constexpr int SURVEY_MEASUREMENT_COUNT = 2 + INTERVAL_BAND_COUNT;
// Index of each measurement among the ten: lowest, highest, then the eight interval bands.
constexpr int MEASUREMENT_LOWEST_HZ = 0;
constexpr int MEASUREMENT_HIGHEST_HZ = 1;
constexpr int MEASUREMENT_FIRST_INTERVAL = 2;

// The largest value the program can measure: frequencies up to half the 44100 Hz sample rate,
// intervals up to an octave. Anything beyond is damage or forgery, never a measurement.
constexpr int MAX_MEASURED_HZ = 22050;
constexpr int MAX_MEASURED_CENTS = 1200;
constexpr int MaxMeasured(int measurement)
{
    return measurement < MEASUREMENT_FIRST_INTERVAL ? MAX_MEASURED_HZ : MAX_MEASURED_CENTS;
}

struct SurveyField {
    std::string_view name; // with its '=' sign, as it stands in the body
};

constexpr int SURVEY_FIELD_COUNT = 16;
// The body is name=value pairs in exactly this order, joined by '&'; the comment comes last.
constexpr std::array<SurveyField, SURVEY_FIELD_COUNT> SURVEY_FIELDS = {{
    {"date_time="},
    {"sex="},
    {"age="},
    {"min_freq="},
    {"max_freq="},
    {"min_interval55="},
    {"min_interval110="},
    {"min_interval220="},
    {"min_interval440="},
    {"min_interval880="},
    {"min_interval1760="},
    {"min_interval3520="},
    {"min_interval7040="},
    {"instrument="},
    {"school="},
    {"comment="},
}};

// Field indexes, for readers that pick single fields.
enum SurveyFieldIndex {
    FIELD_DATE_TIME,
    FIELD_SEX,
    FIELD_AGE,
    FIELD_MIN_FREQ,
    FIELD_MAX_FREQ,
    FIELD_INTERVAL_FIRST, // seven more interval fields follow, bands 55 … 7040 Hz
    FIELD_INSTRUMENT = 13,
    FIELD_SCHOOL = 14,
    FIELD_COMMENT = 15,
};

// The list items, in list order; the submission sends the item text.
constexpr std::array<std::string_view, 3> SEX_ITEMS = {"none", "male", "female"};
constexpr std::array<std::string_view, 4> INSTRUMENT_ITEMS = {"none", "no", "less than 10 years",
                                                              "over 10 years"};
constexpr std::array<std::string_view, 5> SCHOOL_ITEMS = {
    "none", "no", "music class", "in music university, collage", "graduated from music university, collage"};

// Age: "none", "under 5", "5 years old" … "79 years old", "over 80" (no item for 80 itself).
constexpr int AGE_ITEM_COUNT = 78;
inline std::string AgeItemText(int index)
{
    if (index <= 0)
        return "none";
    if (index == 1)
        return "under 5";
    if (index >= AGE_ITEM_COUNT - 1)
        return "over 80";
    return std::to_string(index + 3) + " years old";
}
