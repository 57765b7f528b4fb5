// Real-time requests as the window's thread meets them: queued and made on a thread of their own,
// over one bus connection, once per new thread, whether RealtimeKit (a stand-in on a private bus)
// answers, answers late, never answers or is not there. Runs as an ordinary user: a privileged
// process makes its threads real-time without asking.
#include "audio/CVirtualWaveDevice.h"
#include "audio/RealtimeScheduling.h"
#include "synth/CSynthesizer.h"
#include "tests/support/CapturingMessageSink.h"
#include "tests/support/RealtimeKitStandIn.h"
#include "tests/synth/EngineTestSupport.h"

#include <gtest/gtest.h>

#include <sys/resource.h>

#include <chrono>
#include <memory>
#include <set>
#include <thread>

using namespace std::chrono_literals;
using EBehaviour = CRealtimeKitStandIn::EBehaviour;

namespace {

struct Case {
    const char* name;
    EBehaviour behaviour;
};

class RealtimeRequests : public ::testing::TestWithParam<Case> {
protected:
    void SetUp() override
    {
        // Without RLIMIT_RTPRIO every request goes to RealtimeKit, as on a desktop.
        const rlimit none{0, 0};
        ::setrlimit(RLIMIT_RTPRIO, &none);
        if (MayScheduleRealtime())
            GTEST_SKIP() << "privileged: run it through tests/results/run-unprivileged.sh";
        ASSERT_FALSE(m_standIn.Address().empty()) << "no private bus";
        ASSERT_EQ(m_standIn.Serving(), GetParam().behaviour != EBehaviour::Absent);
        realtime_testing::UseBus(m_standIn.Address());
    }
    void TearDown() override
    {
        realtime_testing::UseBus("");
        WaitForRealtimeRequests(5s);
    }

    CRealtimeKitStandIn m_standIn{GetParam().behaviour};
};

} // namespace

TEST_P(RealtimeRequests, StartNeverWaitsForTheBusAndEachNewThreadIsAskedForOnce)
{
    CCapturingMessageSink messages;
    CQueueingOwner owner;
    // A device that plays nothing by itself: the render thread runs, and nothing else matters here.
    auto device = std::make_shared<CVirtualWaveDevice>(CVirtualWaveDevice::EClock::Manual);
    CSynthesizer synth(&owner, device, 32768, 4, 80, 10);
    synth.AddVoice();
    const RealtimeRequestCounts before = RealtimeRequestsSoFar();
    for (int question = 0; question < 2; ++question) { // each start has a new render thread
        const std::size_t answered = m_standIn.Answered();
        const auto start = std::chrono::steady_clock::now();
        synth.Start();
        const auto took = std::chrono::steady_clock::now() - start;
        ASSERT_TRUE(synth.IsRunning());
        // Two calls that time out after half a second each took a second when Start made them
        // itself; a request answered late was answered before Start returned.
        EXPECT_LT(took, 500ms) << "question " << question;
        if (GetParam().behaviour == EBehaviour::AnswersLate) {
            EXPECT_EQ(m_standIn.Answered(), answered) << "question " << question;
        }
        ASSERT_TRUE(WaitForRealtimeRequests(5s));
        synth.Stop();
    }
    // Asked for twice, a thread is asked for once.
    pid_t twice = 0;
    std::thread([&] {
        twice = CurrentThreadId();
        RequestThreadRealtime(twice, 1);
        RequestThreadRealtime(twice, 1);
        WaitForRealtimeRequests(5s);
    }).join();
    ASSERT_TRUE(WaitForRealtimeRequests(5s));
    EXPECT_TRUE(messages.shown.empty());

    const RealtimeRequestCounts after = RealtimeRequestsSoFar();
    const auto requests = m_standIn.Requests();
    EXPECT_EQ(after.direct, before.direct);
    if (GetParam().behaviour == EBehaviour::NeverAnswers || GetParam().behaviour == EBehaviour::Absent) {
        // Its limits unknown, RealtimeKit is not asked.
        EXPECT_EQ(after.asked, before.asked);
        EXPECT_TRUE(requests.empty());
        return;
    }
    EXPECT_EQ(after.asked - before.asked, 3u);
    EXPECT_EQ(after.granted - before.granted, 3u);
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_NE(requests[0].tid, requests[1].tid);
    EXPECT_EQ(requests[0].priority, unsigned(RENDER_RT_PRIORITY));
    EXPECT_EQ(requests[1].priority, unsigned(RENDER_RT_PRIORITY));
    EXPECT_EQ(requests[2].tid, std::uint64_t(twice));
    EXPECT_EQ(requests[2].priority, 1u);
    // One connection for all of them.
    EXPECT_EQ(requests[0].sender, requests[2].sender);
    EXPECT_EQ(requests[1].sender, requests[2].sender);
}

INSTANTIATE_TEST_SUITE_P(RealtimeKit, RealtimeRequests,
                         ::testing::Values(Case{"Answers", EBehaviour::Answers},
                                           Case{"AnswersLate", EBehaviour::AnswersLate},
                                           Case{"NeverAnswers", EBehaviour::NeverAnswers},
                                           Case{"Absent", EBehaviour::Absent}),
                         [](const auto& info) { return std::string(info.param.name); });
