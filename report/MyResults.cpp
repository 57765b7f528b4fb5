#include "report/MyResults.h"

#include "questionnaire/QuestionnaireCommands.h"
#include "report/ReportPage.h"
#include "results/ResultRecord.h"
#include "ui/Language.h"
#include "ui/Message.h"

void ShowMyResults(wxWindow* owner, int directoryFd, bool foreignResultFile)
{
    const std::string page =
        WriteReportPage(BuildReportForFolder(ResultRecord, directoryFd, foreignResultFile));
    if (page.empty()) {
        ShowMessage(Translate(MY_RESULTS_FAILED_MESSAGE));
        return;
    }
    OpenInBrowser(FileUrl(page), owner);
}
