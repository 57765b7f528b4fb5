// CRingCursor and CWaveOutStream::Write: positions, distances and wrapped copies in the engine's
// ring of 4 buffers of 32768 bytes (16384 samples each).
#include "audio/CRingCursor.h"
#include "audio/CVirtualWaveDevice.h"
#include "audio/CWaveOutStream.h"
#include "tests/support/CapturingMessageSink.h"

#include <gtest/gtest.h>

#include <cstring>
#include <numeric>
#include <vector>

namespace {

const WaveFormat g_format; // 16-bit mono, 44100

CRingCursor At(unsigned index, unsigned offset)
{
    CRingCursor cursor(32768, 4, g_format);
    cursor.SetPosition(index * 16384 + offset);
    return cursor;
}

TEST(RingCursor, PositionsMapToBufferAndOffset)
{
    const struct {
        unsigned position, index, offset;
    } table[] = {{0, 0, 0},     {16383, 0, 16383}, {16384, 1, 0},
                 {65536, 0, 0}, {70000, 0, 4464},  {4294967295u, 3, 16383}};
    CRingCursor cursor(32768, 4, g_format);
    for (const auto& row : table) {
        cursor.SetPosition(row.position);
        EXPECT_EQ(row.index, cursor.m_bufferIndex) << row.position;
        EXPECT_EQ(row.offset, cursor.m_sampleOffset) << row.position;
        EXPECT_EQ(row.position, cursor.m_samplePosition);
    }
    // Wrapping of the 32-bit position continues the ring without a jump.
    cursor.SetPosition(4294967295u + 1u);
    EXPECT_EQ(0u, cursor.m_bufferIndex);
    EXPECT_EQ(0u, cursor.m_sampleOffset);
    // The frame size comes from the format: 4-byte frames halve the samples per buffer.
    WaveFormat stereo;
    stereo.nChannels = 2;
    stereo.nBlockAlign = 4;
    CRingCursor wide(32768, 4, stereo);
    wide.SetPosition(8192);
    EXPECT_EQ(1u, wide.m_bufferIndex);
    EXPECT_EQ(0u, wide.m_sampleOffset);
}

TEST(RingCursor, DistancesRunForwardWithinOneRing)
{
    EXPECT_EQ(200, At(0, 100).DistanceTo(At(0, 300)));
    EXPECT_EQ(-200, At(0, 300).DistanceTo(At(0, 100)));
    EXPECT_EQ(884, At(3, 16000).DistanceTo(At(0, 500)));
    EXPECT_EQ(49152, At(1, 0).DistanceTo(At(0, 0)));
    EXPECT_EQ(16384 + 5, At(2, 10).DistanceTo(At(3, 15)));
    // More than a ring ahead counts modulo the ring.
    CRingCursor far(32768, 4, g_format);
    far.SetPosition(65536 + 3969);
    EXPECT_EQ(3969, At(0, 0).DistanceTo(far));
    // An index outside the ring matches no buffer.
    CRingCursor outside = At(0, 0);
    outside.m_bufferIndex = 7;
    EXPECT_EQ(0, At(1, 0).DistanceTo(outside));
}

TEST(RingCursor, AssignTakesThePositionButNotTheGeometry)
{
    CRingCursor small(1024, 2, g_format);
    const CRingCursor source = At(2, 77);
    small.Assign(source);
    EXPECT_EQ(2u, small.m_bufferIndex);
    EXPECT_EQ(77u, small.m_sampleOffset);
    EXPECT_EQ(2u * 16384 + 77, small.m_samplePosition);
    EXPECT_EQ(1024, small.m_bufferBytes);
    EXPECT_EQ(2, small.m_bufferCount);
    small.Assign(small);
    EXPECT_EQ(77u, small.m_sampleOffset);
}

TEST(RingCursor, RingWithoutRoomKeepsEveryPositionAtItsStart)
{
    CRingCursor empty(1, 4, g_format); // less than one frame per buffer
    empty.SetPosition(12345);
    EXPECT_EQ(0u, empty.m_bufferIndex);
    EXPECT_EQ(0u, empty.m_sampleOffset);
    CRingCursor none(32768, 0, g_format);
    none.SetPosition(12345);
    EXPECT_EQ(0u, none.m_bufferIndex);
}

class RingWrite : public ::testing::Test {
protected:
    CCapturingMessageSink messages;
    CWaveOutStream stream{WAVE_MAPPER, g_format, 32768, 4, std::make_shared<CVirtualWaveDevice>()};

    std::int16_t Sample(int buffer, int offset) const
    {
        std::int16_t value;
        std::memcpy(&value, stream.Buffers()->m_data[buffer] + 2 * offset, 2);
        return value;
    }
    int NonZero() const
    {
        int count = 0;
        for (int b = 0; b < 4; ++b)
            for (int i = 0; i < 16384; ++i)
                count += Sample(b, i) != 0;
        return count;
    }
    static std::vector<std::int16_t> Counting(int count)
    {
        std::vector<std::int16_t> samples(static_cast<std::size_t>(count));
        for (int i = 0; i < count; ++i)
            samples[static_cast<std::size_t>(i)] = static_cast<std::int16_t>(i % 30000 + 1);
        return samples;
    }
};

TEST_F(RingWrite, BlockWrapsFromTheLastBufferToTheFirst)
{
    ASSERT_TRUE(stream.Buffers()->IsReady());
    const std::vector<std::int16_t> block = Counting(882);
    stream.Write(3, 16000, block.data(), 882);
    EXPECT_EQ(1, Sample(3, 16000));
    EXPECT_EQ(384, Sample(3, 16383)); // 384 frames at the end of buffer 3
    EXPECT_EQ(385, Sample(0, 0));     // and 498 at the start of buffer 0
    EXPECT_EQ(882, Sample(0, 497));
    EXPECT_EQ(0, Sample(0, 498));
    EXPECT_EQ(882, NonZero());
    EXPECT_TRUE(messages.shown.empty());
}

TEST_F(RingWrite, BlockSpanningWholeBuffersFillsThemInRingOrder)
{
    const std::vector<std::int16_t> block = Counting(2 * 16384 + 100);
    stream.Write(2, 16300, block.data(), static_cast<int>(block.size()));
    EXPECT_EQ(84, Sample(2, 16383));
    EXPECT_EQ(85, Sample(3, 0));
    EXPECT_EQ(84 + 16384, Sample(3, 16383));
    EXPECT_EQ(85 + 16384, Sample(0, 0));
    EXPECT_EQ(block.back(), Sample(1, 15)); // the last 16 frames start buffer 1
    EXPECT_EQ(0, Sample(1, 16));
    EXPECT_EQ(2 * 16384 + 100, NonZero());
}

TEST_F(RingWrite, CountIndexAndOffsetAreClampedToTheRing)
{
    const std::vector<std::int16_t> block = Counting(70000);
    stream.Write(0, 0, block.data(), 70000); // cut to 65536
    EXPECT_EQ(65536, NonZero());
    EXPECT_EQ(block[65535], Sample(3, 16383));
    EXPECT_EQ(1, Sample(0, 0)); // not overwritten by a wrap

    stream.Buffers()->Clear();
    EXPECT_EQ(0, NonZero());
    const std::int16_t two[] = {11, 22};
    stream.Write(7, 20000, two, 2); // index 7 as 3, offset 20000 as 16383
    EXPECT_EQ(11, Sample(3, 16383));
    EXPECT_EQ(22, Sample(0, 0));
    EXPECT_EQ(2, NonZero());
    stream.Write(1, 5, two, 0); // nothing to copy
    stream.Write(1, 5, two, -3);
    EXPECT_EQ(2, NonZero());
}

TEST(WaveBufferSet, RingIsAllocatedZeroedWithOneHeaderPerBuffer)
{
    CCapturingMessageSink messages;
    CWaveBufferSet set(32768, 4);
    ASSERT_EQ(1, set.IsReady());
    for (int i = 0; i < 4; ++i) {
        ASSERT_NE(nullptr, set.m_headers[i]);
        ASSERT_NE(nullptr, set.m_data[i]);
        for (int b = 0; b < 32768; ++b)
            ASSERT_EQ(0, set.m_data[i][b]);
        EXPECT_EQ(0u, set.m_headers[i]->dwFlags.load());
    }
    EXPECT_NE(set.m_data[0], set.m_data[1]);
    std::memset(set.m_data[2], 0x5a, 32768);
    set.Clear();
    EXPECT_EQ(0, set.m_data[2][32767]);
    EXPECT_TRUE(messages.shown.empty());
}

TEST(WaveBufferSet, RingWithoutBuffersIsNotReady)
{
    for (auto [bytes, count] : {std::pair{32768, 0}, std::pair{0, 4}, std::pair{-5, 4}}) {
        CCapturingMessageSink messages;
        CWaveBufferSet set(bytes, count);
        EXPECT_EQ(0, set.IsReady());
        EXPECT_EQ(std::vector<std::string>{"バッファの確保に失敗しました。"}, messages.Texts());
        set.Clear(); // harmless
    }
}

} // namespace
