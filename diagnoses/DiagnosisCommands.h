#pragma once
// The main window's diagnosis commands: each constructs its dialog, runs it modally and destroys
// it. The range check's gate lives in the main window.
void RunSoundCardCheck();
void RunRangeCheck();
void RunIntervalCheck();
