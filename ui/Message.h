#pragma once
// The program's one way to show a message box.
//
// Code that has no window (the result file, the sound engine, the submission) reports its fixed
// messages here; the program installs a sink that shows a wxWidgets message box, and tests install
// one that records the texts. Messages are shown on the GUI thread only.
#include "ui/Language.h"

#include <string>

// Button sets, icons and answers, with the values of the classic message-box API.
constexpr unsigned MB_OK = 0x0000;
constexpr unsigned MB_OKCANCEL = 0x0001;
constexpr unsigned MB_ICONSTOP = 0x0010;
constexpr unsigned MB_ICONQUESTION = 0x0020;
constexpr unsigned MB_ICONEXCLAMATION = 0x0030;
constexpr unsigned MB_ICONINFORMATION = 0x0040;
constexpr unsigned MB_ICONMASK = 0x00F0;
constexpr unsigned MB_SYSTEMMODAL = 0x1000;
constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;

class CMessageSink {
public:
    virtual ~CMessageSink();
    // Shows `textUtf8` with the buttons and icon of `type` and returns IDOK or IDCANCEL.
    virtual int Show(const std::string& textUtf8, unsigned type) = 0;
};

// Installs the sink that shows every later message; nullptr restores the fallback, which prints
// the text on standard error and answers IDOK. Returns the previous sink.
CMessageSink* SetMessageSink(CMessageSink* sink);

// Shows a message box. Without an icon in `type`, the exclamation icon is added.
int AppMessageBox(const std::string& textUtf8, unsigned type = MB_OK);

// Shows `textUtf8` with an OK button only.
void ShowMessage(const std::string& textUtf8);

// What the user is told when an engine object cannot be created for want of memory.
constexpr const char* OUT_OF_MEMORY_TEXT = TR_NOOP("メモリが足りません。");
