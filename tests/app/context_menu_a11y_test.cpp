// The main window's context menu as a screen reader user meets it: My Results is found and chosen
// through the real accessibility bus (AT-SPI).
#include "app/CMainDlg.h"
#include "questionnaire/QuestionnaireCommands.h"
#include "results/ResultRecord.h"
#include "tests/support/TempDir.h"
#include "tests/support/WxTesting.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <thread>

TEST(ContextMenuAccessibility, MyResultsIsChosenThroughTheBus)
{
    ResetResultRecord();
    CTempDir dir, cache;
    CWorkingDirectory cwd(dir.Path());
    ::setenv("XDG_CACHE_HOME", cache.Path().c_str(), 1);
    std::vector<std::string> opened;
    BrowserLauncher previous =
        SetBrowserLauncher([&](const std::string& url, wxWindow*) { opened.push_back(url); });

    std::atomic<bool> done{false};
    std::string output;
    const std::string command = "timeout 60 " TONVALE_A11Y_PYTHON " " TONVALE_A11Y_SCRIPT " " +
                                std::to_string(getpid()) + " 'My Results' 2>&1; echo \"exit=$?\"";
    // Should the bus never choose the entry, the menu is closed rather than left waiting.
    auto finished = std::make_shared<bool>(false);
    {
        CMainDlg dlg;
        RunModalScript(
            dlg,
            [&] {
                std::thread reader([&] {
                    if (FILE* pipe = popen(command.c_str(), "r")) {
                        char buffer[4096];
                        std::size_t n;
                        while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0)
                            output.append(buffer, n);
                        pclose(pipe);
                    }
                    done = true;
                });
                // The script gives up after 20 s.
                AfterDelay(25000, [finished] {
                    if (!*finished)
                        UserKey(WXK_ESCAPE);
                });
                UserKey(WXK_MENU);
                PumpUntil([&] { return done.load(); }, 70000);
                PumpUntil([&] { return !opened.empty(); }, 5000);
                reader.join();
                *finished = true;
                if (dlg.IsModal())
                    dlg.EndModal(wxID_CANCEL);
            },
            90000);
    }
    SetBrowserLauncher(previous);
    ::unsetenv("XDG_CACHE_HOME");

    EXPECT_NE(output.find("exit=0"), std::string::npos) << output;
    // Both entries are on the bus by name, About first.
    EXPECT_NE(output.find("Tonvale のﾊﾞｰｼﾞｮﾝ情報"), std::string::npos) << output;
    EXPECT_LT(output.find("Tonvale のﾊﾞｰｼﾞｮﾝ情報"), output.find("My Results\n")) << output;
    ASSERT_EQ(opened.size(), 1u) << output;
    EXPECT_NE(opened[0].find("/tonvale/my-results.html"), std::string::npos) << opened[0];
}
