#pragma once
// Icon 128: the program's icon in 32 × 32 and 16 × 16 pixels.
#include <wx/iconbndl.h>

class wxBitmap;

wxBitmap TonvaleBitmap(int size);
wxIconBundle TonvaleIcons();
