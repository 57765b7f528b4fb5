#pragma once
// The program's options, handled before the toolkit starts, so that they work without a display.
#include <iosfwd>

// HandleCommandLine's answer when no option was given and the main window should open.
constexpr int START_MAIN_WINDOW = -1;

// --report, --help, --version; anything else prints the usage on `err` and gives 2.
// Returns the exit status, or START_MAIN_WINDOW.
int HandleCommandLine(int argc, const char* const* argv, std::ostream& out, std::ostream& err);
