#pragma once
// Frequencies and steps as the dialogs and their result messages show them: printf's "%6.2f".
#include <string>

std::string FormatHz(double hz);
