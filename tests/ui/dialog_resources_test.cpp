// Every dialog template opens with the client area its template gives in dialog units, measured in
// the template's own font.
#include "ui/DialogResources.h"

#include "tests/support/WxTesting.h"

#include <wx/dialog.h>
#include <wx/log.h>

#include <gtest/gtest.h>

#include <ostream>

namespace {

struct TemplateSize {
    const char* name;
    int width;
    int height;
};

void PrintTo(const TemplateSize& t, std::ostream* os)
{
    *os << t.name;
}

class DialogTemplateSize : public testing::TestWithParam<TemplateSize> {};

TEST_P(DialogTemplateSize, ClientAreaIsTheTemplatesInItsFont)
{
    const TemplateSize& t = GetParam();
    wxDialog dlg;
    ASSERT_TRUE(LoadDialogResource(&dlg, nullptr, t.name));
    EXPECT_EQ(dlg.GetClientSize(), dlg.ConvertDialogToPixels(wxSize(t.width, t.height)));
    dlg.Destroy();
}

INSTANTIATE_TEST_SUITE_P(
    Templates, DialogTemplateSize,
    testing::Values(TemplateSize{"IDD_ABOUTBOX", 235, 55}, TemplateSize{"IDD_MAIN", 151, 314},
                    TemplateSize{"IDD_RANGE", 187, 163}, TemplateSize{"IDD_INTERVAL", 187, 163},
                    TemplateSize{"IDD_QUESTIONNAIRE", 319, 290}, TemplateSize{"IDD_SOUNDCARD", 246, 229}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(DialogTemplate, MissingTemplateIsReportedAndLeavesAWindowToClose)
{
    wxLogNull quiet; // the loader's own complaint would open a log window
    wxDialog dlg;
    EXPECT_FALSE(LoadDialogResource(&dlg, nullptr, "IDD_NO_SUCH_DIALOG"));
    wxTEST_DIALOG(ReportMissingTemplate(&dlg, nullptr, "IDD_NO_SUCH_DIALOG"),
                  CExpectMessageBox("ダイアログ IDD_NO_SUCH_DIALOG が見つかりません。"));
    EXPECT_NE(dlg.GetHandle(), nullptr);
    dlg.Destroy();
}

} // namespace
