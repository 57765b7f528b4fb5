#include "diagnoses/SoundCardLimit.h"

double SoundCardLimit = SOUND_CARD_UNCHECKED;
