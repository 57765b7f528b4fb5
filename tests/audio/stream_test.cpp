// CWaveOutStream over the virtual device: its life cycle, the queue it keeps on the device, and
// every row of its failure table.
#include "audio/CVirtualWaveDevice.h"
#include "audio/CWaveOutStream.h"
#include "tests/support/CapturingMessageSink.h"
#include "tests/synth/EngineTestSupport.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

using namespace std::chrono_literals;

namespace {

const WaveFormat g_format;
using Texts = std::vector<std::string>;

class Stream : public ::testing::Test {
protected:
    CCapturingMessageSink messages;
    CQueueingOwner owner;
    std::shared_ptr<CVirtualWaveDevice> device = std::make_shared<CVirtualWaveDevice>();
    CWaveOutStream stream{WAVE_MAPPER, g_format, 32768, 4, device};

    WaveHeader* Header(int i) const { return stream.Buffers()->m_headers[i]; }
    std::uint32_t Flags(int i) const { return Header(i)->dwFlags.load(); }

    // Open, prime and play until buffer 0 has played and been announced.
    WaveHeader* PlayFirstBuffer()
    {
        EXPECT_EQ(1, stream.QueryFormat());
        EXPECT_EQ(1, stream.Open(&owner));
        EXPECT_EQ(1, stream.Prime());
        stream.Restart();
        device->Advance(16384);
        WaveHeader* done = owner.TakeBufferDone(2000ms);
        EXPECT_EQ(Header(0), done);
        return done;
    }

    int DeviceCalls() const
    {
        int calls = 0;
        for (int op = 0; op < static_cast<int>(EWaveDeviceOp::Count); ++op)
            calls += device->CallCount(static_cast<EWaveDeviceOp>(op));
        return calls;
    }
};

TEST_F(Stream, PrimeQueuesTheClearedRingOnAPausedDeviceInIndexOrder)
{
    ASSERT_EQ(1, stream.Open(&owner));
    std::memset(stream.Buffers()->m_data[1], 0x11, 32768);
    ASSERT_EQ(1, stream.Prime());
    EXPECT_TRUE(device->IsPaused());
    EXPECT_EQ(4, device->QueuedBuffers());
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(WHDR_PREPARED | WHDR_INQUEUE, Flags(i)) << i;
        EXPECT_EQ(stream.Buffers()->m_data[i], Header(i)->lpData);
        EXPECT_EQ(32768u, Header(i)->dwBufferLength);
    }
    device->Advance(1000); // paused: nothing is taken
    EXPECT_EQ(0u, stream.GetPosition());

    // The device plays the buffers in queue order once restarted.
    const std::int16_t marks[] = {100, 101, 102, 103};
    for (unsigned b = 0; b < 4; ++b)
        stream.Write(b, 0, &marks[b], 1);
    stream.Restart();
    device->Advance(4 * 16384);
    EXPECT_EQ(65536u, stream.GetPosition());
    const std::vector<std::int16_t> played = device->PlayedFrames();
    ASSERT_EQ(65536u, played.size());
    for (int b = 0; b < 4; ++b)
        EXPECT_EQ(marks[b], played[static_cast<std::size_t>(b) * 16384]);
    EXPECT_EQ(0, played[16383]); // cleared by Prime
    for (int b = 0; b < 4; ++b)
        EXPECT_EQ(Header(b), owner.TakeBufferDone(2000ms)) << "announced in order";
    EXPECT_TRUE(messages.shown.empty());
}

TEST_F(Stream, RequeueSendsAPlayedBufferToTheEndOfTheQueue)
{
    WaveHeader* done = PlayFirstBuffer();
    ASSERT_NE(nullptr, done);
    EXPECT_EQ(WHDR_PREPARED | WHDR_DONE, done->dwFlags.load());
    EXPECT_EQ(1, stream.Requeue(done));
    EXPECT_EQ(WHDR_PREPARED | WHDR_INQUEUE, done->dwFlags.load());
    EXPECT_EQ(4, device->QueuedBuffers());
    const std::int16_t mark = 555;
    stream.Write(0, 0, &mark, 1);
    device->Advance(3 * 16384 + 1);
    EXPECT_EQ(555, device->PlayedFrames().back()) << "buffer 0 plays again after buffer 3";
    EXPECT_TRUE(messages.shown.empty());
}

TEST_F(Stream, RequeueRefusesHeadersThatAreNotPreparedAndDone)
{
    ASSERT_EQ(1, stream.Open(&owner));
    ASSERT_EQ(1, stream.Prime());
    const int calls = DeviceCalls();
    EXPECT_EQ(0, stream.Requeue(Header(1))); // prepared, queued, not done
    WaveHeader loose;
    loose.dwFlags = WHDR_DONE; // done, not prepared
    EXPECT_EQ(0, stream.Requeue(&loose));
    loose.dwFlags = WHDR_PREPARED;
    EXPECT_EQ(0, stream.Requeue(&loose));
    EXPECT_EQ(0, stream.Requeue(nullptr));
    EXPECT_EQ(calls, DeviceCalls());
    EXPECT_TRUE(messages.shown.empty());
}

TEST_F(Stream, OpenTwiceKeepsTheDeviceOpenAndClosingAClosedStreamSucceeds)
{
    EXPECT_EQ(0u, stream.GetPosition());
    EXPECT_EQ(1, stream.Close());
    EXPECT_EQ(0, device->CallCount(EWaveDeviceOp::Close));
    ASSERT_EQ(1, stream.Open(&owner));
    EXPECT_EQ(0, stream.Open(&owner));
    EXPECT_EQ(Texts{"再生デバイスはオープン済みです。"}, messages.Texts());
    EXPECT_TRUE(stream.IsOpen());
    EXPECT_TRUE(device->IsOpen());
    EXPECT_EQ(1, device->CallCount(EWaveDeviceOp::Open));
    EXPECT_EQ(1, stream.Close());
    EXPECT_FALSE(device->IsOpen());
}

TEST_F(Stream, ResetReturnsEveryBufferUnpreparedAndThePositionToZero)
{
    PlayFirstBuffer();
    device->Advance(100);
    EXPECT_EQ(16484u, stream.GetPosition());
    stream.Reset();
    EXPECT_EQ(0u, stream.GetPosition());
    EXPECT_EQ(0, device->QueuedBuffers());
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(WHDR_DONE, Flags(i)) << i;
    EXPECT_EQ(1, stream.Close());
    std::this_thread::sleep_for(20ms);
    // Buffers 1 to 3 were dropped without a notice; only buffer 0's came.
    EXPECT_EQ(1u, owner.DoneCount());
    EXPECT_TRUE(messages.shown.empty());
}

TEST_F(Stream, DestroyingAStreamWithQueuedBuffersClosesItsDeviceFirst)
{
    auto other = std::make_shared<CVirtualWaveDevice>();
    {
        CWaveOutStream playing(WAVE_MAPPER, g_format, 32768, 4, other);
        ASSERT_EQ(1, playing.Open(&owner));
        ASSERT_EQ(1, playing.Prime());
        playing.Restart();
        other->Advance(100);
    }
    // The device no longer refers to the freed ring (the sanitizers would see the use).
    EXPECT_FALSE(other->IsOpen());
    EXPECT_EQ(0, other->QueuedBuffers());
    other->Advance(100);
    EXPECT_EQ(100u, other->PlayedFrames().size());
    EXPECT_TRUE(messages.shown.empty());
}

TEST_F(Stream, PrimeWithoutAnOpenDeviceOrReadyRingFailsSilently)
{
    EXPECT_EQ(0, stream.Prime());
    CWaveOutStream broken(WAVE_MAPPER, g_format, 32768, 0, device);
    EXPECT_EQ(Texts{"バッファの確保に失敗しました。"}, messages.Texts());
    messages.shown.clear();
    ASSERT_EQ(1, broken.Open(&owner));
    EXPECT_EQ(0, broken.Prime());
    broken.Reset();
    EXPECT_EQ(1, broken.Close());
    EXPECT_TRUE(messages.shown.empty());
}

TEST_F(Stream, FailureTableOfOpeningPrimingAndClosing)
{
    device->FailNext(EWaveDeviceOp::QueryFormat);
    EXPECT_EQ(0, stream.QueryFormat());
    EXPECT_EQ(Texts{"サポートされていないフォーマットです。"}, messages.Texts());
    messages.shown.clear();

    WaveFormat twentyFourBit;
    twentyFourBit.wBitsPerSample = 24;
    twentyFourBit.nBlockAlign = 3;
    CWaveOutStream odd(WAVE_MAPPER, twentyFourBit, 32768, 4, device);
    EXPECT_EQ(0, odd.QueryFormat());
    EXPECT_EQ(Texts{"サポートされていないフォーマットです。"}, messages.Texts());
    messages.shown.clear();

    device->FailNext(EWaveDeviceOp::Open);
    EXPECT_EQ(0, stream.Open(&owner));
    EXPECT_EQ(Texts{"再生デバイスのオープンに失敗しました。"}, messages.Texts());
    EXPECT_FALSE(stream.IsOpen());
    messages.shown.clear();

    ASSERT_EQ(1, stream.Open(&owner));
    device->FailNext(EWaveDeviceOp::Prepare);
    EXPECT_EQ(0, stream.Prime());
    EXPECT_EQ(Texts{"バッファが再生用に準備できませんでした。"}, messages.Texts());
    EXPECT_EQ(0, device->QueuedBuffers());
    messages.shown.clear();
    stream.Reset();

    device->FailNext(EWaveDeviceOp::Close);
    EXPECT_EQ(0, stream.Close());
    EXPECT_EQ(Texts{"再生デバイスのクローズに失敗しました。"}, messages.Texts());
    EXPECT_FALSE(stream.IsOpen());
    EXPECT_FALSE(device->IsOpen());
}

TEST_F(Stream, PrimeStopsAtTheBufferTheDeviceRefuses)
{
    // A device that takes two buffers and refuses the third.
    class CRefusesThird : public CVirtualWaveDevice {
    public:
        int Write(WaveHeader* header) override
        {
            return ++m_writes == 3 ? MMSYSERR_NOMEM : CVirtualWaveDevice::Write(header);
        }
        int m_writes = 0;
    };
    auto refusing = std::make_shared<CRefusesThird>();
    CWaveOutStream s(WAVE_MAPPER, g_format, 32768, 4, refusing);
    ASSERT_EQ(1, s.Open(&owner));
    EXPECT_EQ(0, s.Prime());
    EXPECT_EQ(Texts{"バッファを再生キューに登録できませんでした。"}, messages.Texts());
    EXPECT_EQ(2, refusing->QueuedBuffers());
    EXPECT_EQ(WHDR_PREPARED, s.Buffers()->m_headers[2]->dwFlags.load());
    EXPECT_EQ(0u, s.Buffers()->m_headers[3]->dwFlags.load());
    s.Reset();
    EXPECT_EQ(1, s.Close());
}

TEST_F(Stream, FailureTableOfRequeue)
{
    WaveHeader* done = PlayFirstBuffer();
    ASSERT_NE(nullptr, done);

    // Unprepare fails: reported, and the buffer still goes back.
    device->FailNext(EWaveDeviceOp::Unprepare);
    EXPECT_EQ(1, stream.Requeue(done));
    EXPECT_EQ(Texts{"再生用バッファの開放に失敗しました。"}, messages.Texts());
    EXPECT_EQ(4, device->QueuedBuffers());
    messages.shown.clear();

    device->Advance(16384);
    done = owner.TakeBufferDone(2000ms);
    ASSERT_EQ(Header(1), done);
    // Prepare fails: reported (with を, unlike Prime's が), and it goes on to the write.
    device->FailNext(EWaveDeviceOp::Prepare);
    EXPECT_EQ(0, stream.Requeue(done)); // the device refuses an unprepared buffer
    EXPECT_EQ(
        (Texts{"バッファを再生用に準備できませんでした。", "バッファを再生キューに登録できませんでした。"}),
        messages.Texts());
    messages.shown.clear();

    // Write fails alone.
    done->dwFlags = WHDR_PREPARED | WHDR_DONE;
    device->FailNext(EWaveDeviceOp::Write);
    EXPECT_EQ(0, stream.Requeue(done));
    EXPECT_EQ(Texts{"バッファを再生キューに登録できませんでした。"}, messages.Texts());
}

} // namespace
