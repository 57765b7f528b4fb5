#include "tests/support/WxTesting.h"

#include <wx/app.h>
#include <wx/evtloop.h>
#include <wx/timer.h>
#include <wx/uiaction.h>
#include <wx/utils.h>

#include <gtk/gtk.h>

#include <chrono>
#include <thread>

#include <algorithm>
#include <vector>

namespace {
int g_realDialogsAllowed = 0;
int g_realMessageBoxesAllowed = 0;
std::vector<wxDialog*> g_scriptedDialogs;
} // namespace

CAllowRealDialogs::CAllowRealDialogs(EWhich which) : m_which(which)
{
    ++g_realDialogsAllowed;
    if (m_which == WITH_MESSAGE_BOXES)
        ++g_realMessageBoxesAllowed;
}

CAllowRealDialogs::~CAllowRealDialogs()
{
    --g_realDialogsAllowed;
    if (m_which == WITH_MESSAGE_BOXES)
        --g_realMessageBoxesAllowed;
}

bool RealDialogAllowed(wxDialog* dialog)
{
    if (dynamic_cast<wxMessageDialog*>(dialog) != nullptr)
        return g_realMessageBoxesAllowed > 0;
    return g_realDialogsAllowed > 0 ||
           std::find(g_scriptedDialogs.begin(), g_scriptedDialogs.end(), dialog) != g_scriptedDialogs.end();
}

int CExpectMessageBox::OnInvoked(wxMessageDialog* box) const
{
    EXPECT_EQ(box->GetMessage().utf8_str().data(), m_text);
    const long style = box->GetMessageDialogStyle();
    EXPECT_TRUE(style & wxOK);
    EXPECT_EQ((style & wxCANCEL) != 0, m_okCancel) << "buttons of \"" << m_text << "\"";
    EXPECT_EQ(box->GetTitle(), "Tonvale");
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

void AfterDelay(int ms, std::function<void()> step)
{
    // The timer deletes itself once it has run its step.
    class COneShot : public wxTimer {
    public:
        explicit COneShot(std::function<void()> step) : m_step(std::move(step)) {}
        void Notify() override
        {
            m_step();
            wxTheApp->CallAfter([this] { delete this; });
        }

    private:
        std::function<void()> m_step;
    };
    (new COneShot(std::move(step)))->StartOnce(ms);
}

int RunModalScript(wxDialog& dialog, std::function<void()> script, int timeoutMs)
{
    wxTimer watchdog;
    watchdog.Bind(wxEVT_TIMER, [&dialog](wxTimerEvent&) {
        if (dialog.IsModal()) {
            ADD_FAILURE() << "dialog \"" << dialog.GetTitle().utf8_str().data()
                          << "\" still open at the timeout";
            dialog.EndModal(wxID_CANCEL);
        }
    });
    watchdog.StartOnce(timeoutMs);
    Later([&dialog, script = std::move(script)] {
        FocusTopLevel(&dialog);
        script();
    });
    g_scriptedDialogs.push_back(&dialog);
    const int result = dialog.ShowModal();
    g_scriptedDialogs.erase(std::find(g_scriptedDialogs.begin(), g_scriptedDialogs.end(), &dialog));
    return result;
}

// A round trip to the X server: what the simulated input made of it has been sent to the program
// by then, however long a busy server took, and the pumping that follows handles it.
static void SyncWithDisplay()
{
    if (GdkDisplay* display = gdk_display_get_default())
        gdk_display_sync(display);
}

void UserClick(wxWindow* window, int button)
{
    ASSERT_NE(window, nullptr);
    wxUIActionSimulator sim;
    const wxRect rect = window->GetScreenRect();
    sim.MouseMove(rect.GetX() + rect.GetWidth() / 2, rect.GetY() + rect.GetHeight() / 2);
    SyncWithDisplay();
    PumpEvents(30);
    sim.MouseClick(button);
    SyncWithDisplay();
    PumpEvents(50);
}

bool FocusIn(const wxWindow* top)
{
    wxWindow* focus = wxWindow::FindFocus();
    return focus != nullptr && wxGetTopLevelParent(focus) == top;
}

void FocusTopLevel(wxWindow* window)
{
    ASSERT_NE(window, nullptr);
    wxWindow* top = wxGetTopLevelParent(window);
    GtkWidget* widget = top->GetHandle();
    // The X server refuses the focus until the window is viewable: ask again until GTK sees it.
    const bool focused = PumpUntil(
        [widget] {
            if (GdkWindow* gdkWindow = gtk_widget_get_window(widget))
                gdk_window_focus(gdkWindow, GDK_CURRENT_TIME);
            PumpEvents(20);
            return GTK_IS_WINDOW(widget) && gtk_window_is_active(GTK_WINDOW(widget));
        },
        5000);
    // GTK takes a moment after the focus arrives before it routes keys to the focused control.
    PumpEvents(300);
    EXPECT_TRUE(focused) << "no keyboard focus for \"" << top->GetLabel().utf8_str().data() << "\"";
}

void UserKey(int keyCode, int modifiers)
{
    wxUIActionSimulator sim;
    sim.Char(keyCode, modifiers);
    SyncWithDisplay();
    PumpEvents(50);
}
