#include "ui/Message.h"

#include <cstdio>

CMessageSink::~CMessageSink() = default;

namespace {
CMessageSink* g_sink = nullptr;
}

CMessageSink* SetMessageSink(CMessageSink* sink)
{
    CMessageSink* previous = g_sink;
    g_sink = sink;
    return previous;
}

int AppMessageBox(const std::string& textUtf8, unsigned type)
{
    if ((type & MB_ICONMASK) == 0)
        type |= MB_ICONEXCLAMATION;
    if (g_sink != nullptr)
        return g_sink->Show(textUtf8, type);
    std::fprintf(stderr, "%s\n", textUtf8.c_str());
    return IDOK;
}

void ShowMessage(const std::string& textUtf8)
{
    AppMessageBox(textUtf8, MB_OK);
}
