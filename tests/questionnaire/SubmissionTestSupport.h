#pragma once
// Shared by the submission tests: the environment they need and a few value sets.
#include "questionnaire/SurveyExchange.h"
#include "survey/SurveyRequest.h"

#include <cstdlib>
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
