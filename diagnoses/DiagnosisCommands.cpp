#include "diagnoses/DiagnosisCommands.h"

#include "checklog/CheckLog.h"
#include "diagnoses/CIntervalDlg.h"
#include "diagnoses/CRangeDlg.h"
#include "diagnoses/CSoundCardDlg.h"
#include "ui/Language.h"
#include "ui/Message.h"

namespace {

// Once the dialog is gone, so that nothing plays or ticks behind the message.
void EndCheck()
{
    if (EndCurrentCheck())
        ShowMessage(Translate(CHECK_LOG_FAILED_MESSAGE));
}

} // namespace

// Each dialog lives on the command's stack: constructed with no owner, run modally, destroyed.
void RunSoundCardCheck()
{
    {
        CSoundCardDlg dialog;
        dialog.ShowModal();
    }
    EndCheck();
}

void RunRangeCheck()
{
    {
        CRangeDlg dialog;
        dialog.ShowModal();
    }
    EndCheck();
}

void RunIntervalCheck()
{
    {
        CIntervalDlg dialog;
        dialog.ShowModal();
    }
    EndCheck();
}
