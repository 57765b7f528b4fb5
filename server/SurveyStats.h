#pragma once
// What the results page needs of each submission, kept compact: the answers that form its groups
// and the ten measurements. The store keeps these rows in memory beside the database, so that
// the page never has to read the whole table.
#include "survey/SurveyBody.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string_view>
#include <vector>

class CSqliteDb;

constexpr std::int32_t STATS_MISSING = INT32_MIN;

// Age bands follow the decades of the published reference (21–30, 31–40, …), so that its points
// can be set beside our own groups.
constexpr int AGE_BAND_COUNT = 7;
constexpr std::array<std::string_view, AGE_BAND_COUNT> AGE_BAND_LABELS = {
    "20 and under", "21–30", "31–40", "41–50", "51–60", "61–70", "71 and over"};

// List answers as item indexes (0 = not answered).
struct StatsRow {
    std::int8_t ageBand = -1; // -1 when the age was not given
    std::int8_t instrument = 0;
    std::int8_t school = 0;
    std::array<std::int32_t, SURVEY_MEASUREMENT_COUNT> measurements{}; // STATS_MISSING if none
};

// An unchanging view of the first size() rows of a CStatsLog, however many are added later.
class CStatsRows {
public:
    static constexpr std::size_t BLOCK_ROWS = 4096;
    using Block = std::shared_ptr<StatsRow[]>;

    std::size_t size() const { return m_count; }
    bool empty() const { return m_count == 0; }
    const StatsRow& operator[](std::size_t i) const { return (*m_blocks)[i / BLOCK_ROWS][i % BLOCK_ROWS]; }
    // Visits the rows from `from` on, in order.
    template <class F> void ForEach(std::size_t from, F&& visit) const
    {
        for (std::size_t done = from; done < m_count;) {
            const std::size_t offset = done % BLOCK_ROWS;
            const std::size_t n = std::min(BLOCK_ROWS - offset, m_count - done);
            const StatsRow* rows = (*m_blocks)[done / BLOCK_ROWS].get() + offset;
            for (std::size_t i = 0; i < n; ++i)
                visit(rows[i]);
            done += n;
        }
    }

private:
    friend class CStatsLog;
    std::shared_ptr<const std::vector<Block>> m_blocks = std::make_shared<std::vector<Block>>();
    std::size_t m_count = 0;
};

// The page's rows of every committed submission. One thread appends; a snapshot from any thread
// costs a lock held for two copies, not a copy of the rows: rows are written in blocks that never
// move, beyond the count that any snapshot can see.
class CStatsLog {
public:
    // Appending thread only.
    void Append(const StatsRow& row);
    // Makes what was appended visible to snapshots.
    void Publish();
    CStatsRows Snapshot() const;
    std::size_t Count() const;

private:
    mutable std::mutex m_mutex;
    CStatsRows m_published; // under m_mutex
    std::shared_ptr<std::vector<CStatsRows::Block>> m_blocks =
        std::make_shared<std::vector<CStatsRows::Block>>(); // the appending thread's
    std::size_t m_count = 0;                                // the appending thread's
};

int AgeBandOf(std::string_view ageItem);
StatsRow MakeStatsRow(std::string_view age, std::string_view instrument, std::string_view school,
                      const std::array<std::int32_t, SURVEY_MEASUREMENT_COUNT>& measurements);
StatsRow StatsRowOf(const SurveySubmission& submission);
std::vector<StatsRow> LoadStatsRows(const CSqliteDb& db);
