#include "diagnoses/DiagnosisCommands.h"

#include "diagnoses/CIntervalDlg.h"
#include "diagnoses/CRangeDlg.h"
#include "diagnoses/CSoundCardDlg.h"

// Each dialog lives on the command's stack: constructed with no owner, run modally, destroyed.
void RunSoundCardCheck()
{
    CSoundCardDlg dialog;
    dialog.ShowModal();
}

void RunRangeCheck()
{
    CRangeDlg dialog;
    dialog.ShowModal();
}

void RunIntervalCheck()
{
    CIntervalDlg dialog;
    dialog.ShowModal();
}
