#include "server/SurveyStats.h"

#include "server/Sqlite.h"
#include "survey/SurveyFields.h"

#include <algorithm>

namespace {

template <std::size_t N> int IndexOf(std::string_view value, const std::array<std::string_view, N>& items)
{
    const auto it = std::find(items.begin(), items.end(), value);
    return it == items.end() ? 0 : static_cast<int>(it - items.begin());
}

} // namespace

int AgeBandOf(std::string_view ageItem)
{
    if (ageItem == "under 5")
        return 0;
    if (ageItem == "over 80")
        return AGE_BAND_COUNT - 1;
    int years = 0;
    for (char c : ageItem) {
        if (c < '0' || c > '9')
            break;
        years = years * 10 + (c - '0');
    }
    if (years == 0)
        return -1; // "none", or anything that is not an age
    if (years <= 20)
        return 0;
    return std::min((years - 11) / 10, AGE_BAND_COUNT - 1);
}

StatsRow MakeStatsRow(std::string_view age, std::string_view instrument, std::string_view school,
                      const std::array<std::int32_t, SURVEY_MEASUREMENT_COUNT>& measurements)
{
    StatsRow row;
    row.ageBand = static_cast<std::int8_t>(AgeBandOf(age));
    row.instrument = static_cast<std::int8_t>(IndexOf(instrument, INSTRUMENT_ITEMS));
    row.school = static_cast<std::int8_t>(IndexOf(school, SCHOOL_ITEMS));
    row.measurements = measurements;
    return row;
}

void ForEachStatsRow(const CSqliteDb& db, const std::function<void(const StatsRow&)>& visit)
{
    std::string sql = "SELECT age, instrument, school";
    for (int m = 0; m < SURVEY_MEASUREMENT_COUNT; ++m) {
        const std::string_view name = SURVEY_FIELDS[FIELD_MIN_FREQ + m].name;
        // NULL (not measured) comes back as the marker itself: one call a value, not two.
        sql += ", ifnull(" + std::string(name.substr(0, name.size() - 1)) + ", " +
               std::to_string(STATS_MISSING) + ")";
    }
    sql += " FROM submissions";
    CStatement select(db, sql);
    auto text = [&select](int column) {
        const auto* bytes = sqlite3_column_text(select.Handle(), column);
        return std::string_view(reinterpret_cast<const char*>(bytes),
                                static_cast<std::size_t>(sqlite3_column_bytes(select.Handle(), column)));
    };
    while (select.Step() == SQLITE_ROW) {
        std::array<std::int32_t, SURVEY_MEASUREMENT_COUNT> measurements;
        for (int m = 0; m < SURVEY_MEASUREMENT_COUNT; ++m)
            measurements[m] = sqlite3_column_int(select.Handle(), 3 + m);
        visit(MakeStatsRow(text(0), text(1), text(2), measurements));
    }
}

StatsRow StatsRowOf(const SurveySubmission& submission)
{
    std::array<std::int32_t, SURVEY_MEASUREMENT_COUNT> measurements;
    for (int m = 0; m < SURVEY_MEASUREMENT_COUNT; ++m)
        measurements[m] = submission.measurements[m].value_or(STATS_MISSING);
    return MakeStatsRow(submission.age, submission.instrument, submission.school, measurements);
}
