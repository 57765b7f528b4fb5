#pragma once
// Shows the program's messages as wxWidgets message boxes (see app/Message.h).
#include "ui/Message.h"

#include <wx/string.h>

class CWxMessageSink : public CMessageSink {
public:
    int Show(const std::string& textUtf8, unsigned type) override;
};

// The message boxes' caption: the program's name, as its windows show it.
wxString ApplicationTitle();
