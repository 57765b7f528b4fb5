#include "app/CAboutDlg.h"

#include "res/TonvaleIcon.h"
#include "res/Version.h"
#include "ui/DialogResources.h"
#include "ui/Language.h"

#include <wx/statbmp.h>
#include <wx/stattext.h>
#include <wx/xrc/xmlres.h>

CAboutDlg::CAboutDlg()
{
    if (!LoadDialogResource(this, nullptr, "IDD_ABOUTBOX")) {
        ReportMissingTemplate(this, nullptr, "IDD_ABOUTBOX");
        return;
    }
    if (auto* icon = ControlById<wxStaticBitmap>(this, XRCID("IDC_ABOUT_ICON")))
        icon->SetBitmap(TonvaleBitmap(32));
    if (auto* second = ControlById<wxStaticText>(this, XRCID("IDC_ABOUT_SECOND")))
        second->SetLabelText(U8(TranslateFormat("聴力診断ツール %s", TONVALE_VERSION_STRING)));
    SetEscapeId(wxID_OK);
}
