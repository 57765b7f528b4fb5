#pragma once
// The main window's diagnosis commands: each constructs its dialog, runs it modally and destroys
// it. The range check's gate lives in the main window. Once the dialog is gone the run's log is
// flushed, and a log that could not be written is told (once per run).
void RunSoundCardCheck();
void RunRangeCheck();
void RunIntervalCheck();
