#pragma once
#include "ui/Language.h"
// The main window's questionnaire commands.
#include <functional>
#include <string>

class wxWindow;

// "Send Result": runs the questionnaire dialog modally.
void RunQuestionnaire();

// "Show Result": opens the results page when the results were sent, else shows the notice.
void ShowResultPage(wxWindow* owner);

// The quit-time offer: asks, when something is measured and nothing was sent, and runs the
// questionnaire if the user agrees. Quitting goes on whatever happens here.
void OfferQuestionnaireAtQuit();

// Opens a URL in the desktop's web browser. The program uses the desktop's launcher; tests put
// in their own to see the URL without starting a browser. Returns the previous launcher.
using BrowserLauncher = std::function<void(const std::string& url, wxWindow* owner)>;
BrowserLauncher SetBrowserLauncher(BrowserLauncher launcher);
// Opens `url` through the current launcher; a failure is not reported.
void OpenInBrowser(const std::string& url, wxWindow* owner);

constexpr const char* SHOW_RESULT_NOTICE =
    TR_NOOP("アンケートに回答すると、このボタンが使えるようになります。");
// The quit-time question: two lines.
constexpr const char* QUIT_OFFER_TEXT =
    TR_NOOP("結果についてのアンケートをお願いしています。\nアンケートに答えて、あ"
            "なたの結果をサーバーに送信しますか？");
