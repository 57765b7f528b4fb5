#pragma once
// Shared by the submission tests and the server's end-to-end test: the environment they need and
// the survey values they send.
#include "questionnaire/SurveyExchange.h"
#include "survey/SurveyRequest.h"

#include <array>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>
#include <utility>

// Sets (or with nullopt removes) an environment variable for its lifetime.
class CEnvVar {
public:
    CEnvVar(const char* name, std::optional<std::string> value) : m_name(name)
    {
        if (const char* old = std::getenv(name))
            m_old = old;
        if (value)
            setenv(name, value->c_str(), 1);
        else
            unsetenv(name);
    }
    ~CEnvVar()
    {
        if (m_old)
            setenv(m_name, m_old->c_str(), 1);
        else
            unsetenv(m_name);
    }
    CEnvVar(const CEnvVar&) = delete;
    CEnvVar& operator=(const CEnvVar&) = delete;

private:
    const char* m_name;
    std::optional<std::string> m_old;
};

// A machine with a proxy configured must still reach the loopback server directly.
struct CNoProxy {
    CEnvVar httpProxy{"http_proxy", std::nullopt};
    CEnvVar allProxy{"all_proxy", std::nullopt};
    CEnvVar noProxy{"no_proxy", "*"};
};

inline SurveyEndpoint LoopbackEndpoint(int port, SurveyTimeouts timeouts = {5000, 10000})
{
    return SurveyEndpoint{"127.0.0.1", port, timeouts};
}

// The date field for a local time given by its parts (month from 1).
inline std::string SurveyTimeOf(int year, int month, int day, int hour, int minute, int second)
{
    std::tm when{};
    when.tm_year = year - 1900;
    when.tm_mon = month - 1;
    when.tm_mday = day;
    when.tm_hour = hour;
    when.tm_min = minute;
    when.tm_sec = second;
    return FormatSurveyTime(when);
}

// The ten measurement fields, in file order (lowest, highest, then the eight bands); a negative
// value is not measured.
inline void SetMeasurements(SurveyValues& values,
                            const std::array<std::int32_t, SURVEY_MEASUREMENT_COUNT>& measured)
{
    for (int m = 0; m < SURVEY_MEASUREMENT_COUNT; ++m)
        values[FIELD_MIN_FREQ + m] = MeasurementText(measured[m]);
}

// Every answer at "none", every measurement missing, an empty comment.
inline SurveyValues UnansweredValues(const std::string& dateTime = "2008/03/05 14:07:09")
{
    SurveyValues values;
    values[FIELD_DATE_TIME] = dateTime;
    values[FIELD_SEX] = SEX_ITEMS[0];
    values[FIELD_AGE] = AgeItemText(0);
    for (int i = FIELD_MIN_FREQ; i < FIELD_INSTRUMENT; ++i)
        values[i] = MeasurementText(-1);
    values[FIELD_INSTRUMENT] = INSTRUMENT_ITEMS[0];
    values[FIELD_SCHOOL] = SCHOOL_ITEMS[0];
    values[FIELD_COMMENT] = "";
    return values;
}

// The endpoint the program sends to, for the length of one test.
class CSurveyServerAt {
public:
    explicit CSurveyServerAt(SurveyEndpoint endpoint) : m_old(SurveyServer())
    {
        SurveyServer() = std::move(endpoint);
    }
    ~CSurveyServerAt() { SurveyServer() = m_old; }
    CSurveyServerAt(const CSurveyServerAt&) = delete;
    CSurveyServerAt& operator=(const CSurveyServerAt&) = delete;

private:
    SurveyEndpoint m_old;
};
