#pragma once
// The main window's "My Results" entry.
#include "ui/Language.h"

class wxWindow;

constexpr const char* MY_RESULTS_FAILED_MESSAGE = TR_NOOP("結果のページを書き出せませんでした。");

// Writes the page for the current measurements and the log in `directoryFd` (the folder of
// result.dat) to the cache folder and opens it in the browser, as Show Result opens its page.
// `foreignResultFile`: the result.dat there is not Tonvale's, and the page says so.
void ShowMyResults(wxWindow* owner, int directoryFd, bool foreignResultFile);
