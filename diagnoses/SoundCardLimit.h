#pragma once
// Highest test frequency (Hz) that the sound card check found usable; -1.0 until a check in this
// run stores a result. Never saved. Written only by the sound card check; GUI thread only.
constexpr double SOUND_CARD_UNCHECKED = -1.0;
constexpr double SOUND_CARD_FULL_RANGE = 22050.0;

extern double SoundCardLimit;
