#include "results/MyResults.h"

#include "results/QuestionnaireCommands.h"
#include "results/ReportPage.h"
#include "results/ResultRecord.h"
#include "ui/Message.h"

void ShowMyResults(wxWindow* owner, int directoryFd)
{
    const std::string page = WriteReportPage(BuildReportForFolder(ResultRecord, directoryFd));
    if (page.empty()) {
        ShowMessage(MY_RESULTS_FAILED_MESSAGE);
        return;
    }
    OpenInBrowser(FileUrl(page), owner);
}
