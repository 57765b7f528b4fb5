#include "tests/support/WxTesting.h"

#include "app/WxMessageSink.h"

#include <wx/app.h>
#include <wx/evtloop.h>
#include <wx/timer.h>
#include <wx/uiaction.h>
#include <wx/utils.h>

#include <chrono>
#include <thread>

namespace {
int g_realDialogsAllowed = 0;
}

CAllowRealDialogs::CAllowRealDialogs() { ++g_realDialogsAllowed; }
CAllowRealDialogs::~CAllowRealDialogs() { --g_realDialogsAllowed; }
bool RealDialogsAllowed() { return g_realDialogsAllowed > 0; }

int CExpectMessageBox::OnInvoked(wxMessageDialog* box) const
{
    EXPECT_EQ(box->GetMessage().utf8_str().data(), m_text);
    const long style = box->GetMessageDialogStyle();
    EXPECT_TRUE(style & wxOK);
    EXPECT_EQ((style & wxCANCEL) != 0, m_okCancel) << "buttons of \"" << m_text << "\"";
    EXPECT_EQ(box->GetTitle(), ApplicationTitle());
    return m_answer;
}

int CExpectDialogTitled::OnInvoked(wxDialog* dialog) const
{
    EXPECT_EQ(dialog->GetTitle().utf8_str().data(), m_title);
    if (m_inspect)
        m_inspect(dialog);
    return m_answer;
}

void PumpEvents(int ms)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    do {
        wxTheApp->Yield(true);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    } while (std::chrono::steady_clock::now() < end);
    wxTheApp->Yield(true);
}

bool PumpUntil(const std::function<bool()>& done, int timeoutMs)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done()) {
        if (std::chrono::steady_clock::now() >= end)
            return false;
        wxTheApp->Yield(true);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

void Later(std::function<void()> step)
{
    wxTheApp->CallAfter(std::move(step));
}

int RunModalScript(wxDialog& dialog, std::function<void()> script, int timeoutMs)
{
    wxTimer watchdog;
    watchdog.Bind(wxEVT_TIMER, [&dialog](wxTimerEvent&) {
        if (dialog.IsModal()) {
            ADD_FAILURE() << "dialog \"" << dialog.GetTitle().utf8_str().data() << "\" still open at the timeout";
            dialog.EndModal(wxID_CANCEL);
        }
    });
    watchdog.StartOnce(timeoutMs);
    Later(std::move(script));
    return dialog.ShowModal();
}

void UserClick(wxWindow* window, int button)
{
    ASSERT_NE(window, nullptr);
    wxUIActionSimulator sim;
    const wxRect rect = window->GetScreenRect();
    sim.MouseMove(rect.GetX() + rect.GetWidth() / 2, rect.GetY() + rect.GetHeight() / 2);
    PumpEvents(30);
    sim.MouseClick(button);
    PumpEvents(50);
}

void UserKey(int keyCode, int modifiers)
{
    wxUIActionSimulator sim;
    sim.Char(keyCode, modifiers);
    PumpEvents(50);
}
