// The engine on a machine without a sound server: PortAudio finds no device at all. Start shows one
// message and leaves the engine stopped; a later Start tries again, and plays once the server is
// back. This program points PulseAudio's clients at a socket where nothing listens.
#include "synth/CSynthesizer.h"
#include "tests/support/CapturingMessageSink.h"
#include "tests/support/TempDir.h"
#include "tests/synth/EngineTestSupport.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <optional>
#include <string>

namespace {

using Texts = std::vector<std::string>;

TEST(NoSoundServer, StartShowsOneMessageStaysStoppedAndTriesAgainLater)
{
    const char* server = std::getenv("PULSE_SERVER");
    const std::optional<std::string> realServer = server ? std::optional<std::string>(server) : std::nullopt;
    CTempDir dir;
    // No server at this address, and none started on demand.
    const std::string config = (dir.Path() / "client.conf").string();
    std::ofstream(config) << "autospawn = no\n";
    setenv("PULSE_CLIENTCONFIG", config.c_str(), 1);
    setenv("PULSE_SERVER", ("unix:" + (dir.Path() / "native").string()).c_str(), 1);

    CCapturingMessageSink messages;
    CQueueingOwner owner;
    CSynthesizer synth(&owner, WAVE_MAPPER, 32768, 4, 80, 10);
    ASSERT_TRUE(synth.IsUsable());
    synth.AddVoice();
    synth.SetWaveform(0, WAVEFORM_SINE);
    synth.SetAmplitude(0, 0.5);
    synth.SetGate(0, 0);
    synth.SetFrequency(0, 440);

    synth.Start();
    EXPECT_EQ(Texts{"サポートされていないフォーマットです。"}, messages.Texts());
    EXPECT_FALSE(synth.IsRunning());
    synth.SetGate(0, 1); // voice operations go on working
    EXPECT_EQ(1, synth.Stop());
    messages.shown.clear();

    synth.Start();
    EXPECT_EQ(Texts{"サポートされていないフォーマットです。"}, messages.Texts())
        << "the second Start asks the system again";
    EXPECT_FALSE(synth.IsRunning());
    messages.shown.clear();

    if (!realServer)
        GTEST_SKIP() << "no sound server to come back (run through tests/support/private-desktop.sh)";
    setenv("PULSE_SERVER", realServer->c_str(), 1);
    synth.Start();
    EXPECT_TRUE(synth.IsRunning()) << ::testing::PrintToString(messages.Texts());
    EXPECT_TRUE(messages.shown.empty());
    EXPECT_EQ(1, synth.Stop());
}

} // namespace
