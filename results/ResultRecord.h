#pragma once
// The process-wide measurements. Its byte image is the 44-byte result file, so the field order and
// sizes are fixed; only the GUI thread touches it.
#include "survey/SurveyFields.h"

#include <bit>
#include <cstdint>

static_assert(std::endian::native == std::endian::little,
              "result.dat is the little-endian image of ResultRecordData");

constexpr std::int32_t NOT_MEASURED = -1;

struct ResultRecordData {
    std::int32_t m_lowestHz;                           // lowest audible frequency
    std::int32_t m_highestHz;                          // highest audible frequency
    std::int32_t m_intervalCents[INTERVAL_BAND_COUNT]; // smallest discriminable interval per band
    std::int32_t m_sent;                               // 0 = not sent; any other value = sent

    // The ten measurement fields in file order: lowest, highest, then the eight bands.
    std::int32_t Measurement(int index) const;
    bool AnyMeasured() const;
    bool IsSent() const { return m_sent != 0; }
};
static_assert(sizeof(ResultRecordData) == 44);

constexpr int RESULT_RECORD_BYTES = sizeof(ResultRecordData);
static_assert(SURVEY_MEASUREMENT_COUNT == 2 + INTERVAL_BAND_COUNT);

extern ResultRecordData ResultRecord;

// Start-up state: every measurement -1, sent flag 0.
void ResetResultRecord();
