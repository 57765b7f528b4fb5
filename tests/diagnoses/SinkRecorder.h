#pragma once
// Records what the program plays: parec on the monitor of the test's own null sink
// ($TONVALE_TEST_SINK), as 16-bit stereo samples at the sink's own rate ($TONVALE_TEST_RATE) in a file
// that grows while the test runs, read back as the left channel; plus the measurements the listeners
// and checks make on it.
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

// The sink's rate: $TONVALE_TEST_RATE, 44100 when unset.
int SinkRate();
constexpr int SINK_CHANNELS = 2;

class CSinkRecorder {
public:
    // Starts recording; Ok() tells whether the recorder runs and delivers samples.
    CSinkRecorder();
    ~CSinkRecorder();
    CSinkRecorder(const CSinkRecorder&) = delete;
    CSinkRecorder& operator=(const CSinkRecorder&) = delete;

    bool Ok() const { return m_ok; }
    const std::string& Error() const { return m_error; }

    // Samples recorded so far.
    std::int64_t Samples() const;
    // Samples [from, to) as floats in [-1, 1].
    std::vector<float> Read(std::int64_t from, std::int64_t to) const;
    // Keeps a stretch of the recording as a WAV file beside the test, for a person to listen to.
    void SaveWav(const std::filesystem::path& path, std::int64_t from, std::int64_t to) const;

private:
    std::filesystem::path m_file;
    int m_pid = -1;
    bool m_ok = false;
    std::string m_error;
};

// Level (peak amplitude, 1.0 = full scale) of the component at `hz`, measured by Goertzel in
// windows of at least 10 ms and four periods, one value every 10 ms.
std::vector<double> LevelsAt(const std::vector<float>& samples, double hz);
// Peak amplitude per 10 ms window, whatever the frequency.
std::vector<double> PeakLevels(const std::vector<float>& samples);

// A stretch of 10 ms windows whose level is above a threshold.
struct Burst {
    int firstWindow;
    int endWindow; // one past the last
    double DurationMs() const { return (endWindow - firstWindow) * 10.0; }
    double StartMs() const { return firstWindow * 10.0; }
};
// Bursts of `levels` above `threshold`, joining gaps up to `gapWindows` and dropping bursts shorter
// than `minWindows`.
std::vector<Burst> FindBursts(const std::vector<double>& levels, double threshold, int gapWindows = 8,
                              int minWindows = 5);

// The median of `levels` over `burst`, leaving out two windows at each end (attack and decay).
double MedianLevel(const std::vector<double>& levels, const Burst& burst);

// The frequency of the tone inside `burst`: the median of estimates from upward zero crossings
// where the tone is loud.
double MeasureFrequency(const std::vector<float>& samples, const Burst& burst);
