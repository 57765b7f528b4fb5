#pragma once
// Highest test frequency (Hz) that the sound card check found usable; -1.0 until a check in this
// run stores a result, MAX_MEASURED_HZ for a card good over the whole range. Never saved. Written
// only by the sound card check; GUI thread only.
#include "survey/SurveyFields.h"

constexpr double SOUND_CARD_UNCHECKED = -1.0;

extern double SoundCardLimit;
