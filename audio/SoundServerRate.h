#pragma once
// The rate at which the desktop's sound server runs its graph, asked over the PulseAudio protocol
// (PulseAudio itself, and PipeWire's pulse server on a PipeWire desktop). A stream at any other
// rate goes through the server's resampler, whose low-pass takes the highest tones down with it.
// GUI thread; never waits longer than `timeoutMs`.
#include <cstdint>

// The server's default sample rate, or 0 when no server answered in time.
std::uint32_t SoundServerRate(int timeoutMs);
