// Every read-only value field of the dialogs shows its longest value whole, in the fonts the build
// installs: the text's extent in the field's own font fits the width GTK leaves for text.
#include "ui/DialogResources.h"

#include "tests/support/WxTesting.h"

#include <gtest/gtest.h>
#include <wx/dialog.h>
#include <wx/textctrl.h>

#include <gtk/gtk.h>

#include <string>
#include <vector>

namespace {

struct ValueField {
    const char* dialog;
    int id;
    const char* longest;
};

// The longest text each field can show: "not finished" for a missing measurement, 22050 Hz for a
// frequency, 1200 cents for an interval, "%6.2f" of the interval check's highest band and of the
// sound card check's highest test frequency.
std::vector<ValueField> Fields()
{
    std::vector<ValueField> fields = {
        {"IDD_QUESTIONNAIRE", 1014, "2008/12/31 23:59:59"},
        {"IDD_QUESTIONNAIRE", 1015, "22050"},
        {"IDD_QUESTIONNAIRE", 1024, "1200"},
        {"IDD_INTERVAL", 1008, "7040.00"},
        {"IDD_INTERVAL", 1010, "1200"},
        {"IDD_RANGE", 1004, "22050"},
        {"IDD_RANGE", 1005, "22050"},
        {"IDD_RANGE", 1006, "22050"},
        {"IDD_SOUNDCARD", 1006, "20000.00"},
        {"IDD_SOUNDCARD", 1007, "20000.00"},
    };
    for (int id = 1015; id <= 1024; ++id)
        fields.push_back({"IDD_QUESTIONNAIRE", id, "not finished"});
    return fields;
}

TEST(ValueFields, LongestValuesFitTheirFields)
{
    std::string dialogName;
    wxDialog* dialog = nullptr;
    for (const ValueField& field : Fields()) {
        SCOPED_TRACE(std::string(field.dialog) + " " + std::to_string(field.id) + " \"" + field.longest +
                     "\"");
        if (dialogName != field.dialog) {
            if (dialog != nullptr)
                dialog->Destroy();
            dialog = new wxDialog;
            dialogName = field.dialog;
            ASSERT_TRUE(LoadDialogResource(dialog, nullptr, field.dialog));
            dialog->Show();
            PumpEvents(150);
        }
        auto* edit = ControlById<wxTextCtrl>(dialog, field.id);
        ASSERT_NE(edit, nullptr);
        edit->Show();
        edit->ChangeValue(field.longest);
        PumpEvents(30);
        GdkRectangle area{};
        gtk_entry_get_text_area(GTK_ENTRY(edit->GetHandle()), &area);
        const int extent = edit->GetTextExtent(field.longest).x;
        EXPECT_GT(area.width, 0);
        EXPECT_LE(extent, area.width)
            << "font " << edit->GetFont().GetNativeFontInfoUserDesc().utf8_str().data();
    }
    if (dialog != nullptr)
        dialog->Destroy();
    PumpEvents(50);
}

} // namespace
