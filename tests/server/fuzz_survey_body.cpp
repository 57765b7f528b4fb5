// libFuzzer target for the write page's body parser. Built with clang++ by run-fuzz.sh, outside
// the g++ build. Beyond not crashing, an accepted body must be exactly what its parsed fields say.
#include "survey/SurveyBody.h"
#include "survey/SurveyFields.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace {

bool IsUtf8(const std::string& text)
{
    std::size_t i = 0;
    while (i < text.size()) {
        const auto c = static_cast<unsigned char>(text[i]);
        const std::size_t length = c < 0x80         ? 1
                                   : (c >> 5) == 6  ? 2
                                   : (c >> 4) == 14 ? 3
                                   : (c >> 3) == 30 ? 4
                                                    : 0;
        if (length == 0 || i + length > text.size())
            return false;
        for (std::size_t k = 1; k < length; ++k) {
            if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80)
                return false;
        }
        i += length;
    }
    return true;
}

void Check(bool condition)
{
    if (!condition)
        __builtin_trap();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view body(reinterpret_cast<const char*>(data), size);
    const SurveyParseResult result = ParseSurveyBody(body);
    if (!result.submission) {
        Check(!result.error.empty());
        return 0;
    }
    const SurveySubmission& s = *result.submission;
    Check(result.error.empty());
    // The fields before the comment, written out again, give back the body up to the comment.
    std::string prefix = "date_time=" + s.dateTime + "&sex=" + s.sex + "&age=" + s.age;
    for (int m = 0; m < SURVEY_MEASUREMENT_COUNT; ++m) {
        // Nothing the program could not have measured is ever taken.
        Check(!s.measurements[m] || (*s.measurements[m] >= 0 && *s.measurements[m] <= MaxMeasured(m)));
        prefix += "&" + std::string(SURVEY_FIELDS[FIELD_MIN_FREQ + m].name) +
                  (s.measurements[m] ? std::to_string(*s.measurements[m]) : std::string(NOT_FINISHED_TEXT));
    }
    prefix += "&instrument=" + s.instrument + "&school=" + s.school + "&comment=";
    Check(body.substr(0, prefix.size()) == prefix);
    Check(body.size() - prefix.size() <= SURVEY_FIELD_MAX_BYTES);
    Check(IsValidDateTime(s.dateTime) && IsValidAgeItem(s.age));
    Check(IsUtf8(s.commentUtf8));
    Check(s.commentUtf8.find('\0') == std::string::npos);
    return 0;
}
