#include "results/ResultRecord.h"

ResultRecordData ResultRecord = {NOT_MEASURED,
                                 NOT_MEASURED,
                                 {NOT_MEASURED, NOT_MEASURED, NOT_MEASURED, NOT_MEASURED, NOT_MEASURED,
                                  NOT_MEASURED, NOT_MEASURED, NOT_MEASURED},
                                 0};

std::int32_t ResultRecordData::Measurement(int index) const
{
    if (index == 0)
        return m_lowestHz;
    if (index == 1)
        return m_highestHz;
    return m_intervalCents[index - 2];
}

bool ResultRecordData::AnyMeasured() const
{
    for (int i = 0; i < SURVEY_MEASUREMENT_COUNT; ++i) {
        if (Measurement(i) != NOT_MEASURED)
            return true;
    }
    return false;
}

void ResetResultRecord()
{
    ResultRecord.m_sent = 0;
    ResultRecord.m_lowestHz = NOT_MEASURED;
    ResultRecord.m_highestHz = NOT_MEASURED;
    for (std::int32_t& cents : ResultRecord.m_intervalCents)
        cents = NOT_MEASURED;
}
