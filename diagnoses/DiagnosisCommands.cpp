#include "diagnoses/DiagnosisCommands.h"

// The dialogs arrive with the diagnoses; until then the commands open nothing.
void RunSoundCardCheck() {}
void RunRangeCheck() {}
void RunIntervalCheck() {}
