// The questionnaire as a screen reader meets it: every field and list read through the real
// accessibility bus (AT-SPI), under the name of the label beside it.
#include "questionnaire/CQuestionnaireDlg.h"
#include "results/ResultRecord.h"
#include "tests/support/WxTesting.h"
#include "ui/DialogResources.h"

#include <gtest/gtest.h>
#include <wx/choice.h>
#include <wx/textctrl.h>

#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <map>
#include <sstream>
#include <thread>

namespace {

struct AccessibleField {
    std::string role;
    std::string text;
    std::string labelledBy;
    std::string items; // a list's items in order, joined by '|'
};

// Runs the reader script on the bus while this thread keeps the dialog's event loop going (the
// bus asks the dialog for its objects through that loop).
bool ReadThroughTheBus(const std::string& title, std::map<std::string, AccessibleField>& fields,
                       std::string& raw)
{
    const std::string command = "timeout 60 " TONVALE_A11Y_PYTHON " " TONVALE_A11Y_SCRIPT " " +
                                std::to_string(getpid()) + " '" + title + "' 2>&1; echo \"exit=$?\"";
    std::atomic<bool> done{false};
    std::string output;
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
    const bool finished = PumpUntil([&] { return done.load(); }, 90000);
    reader.join();
    raw = output;
    if (!finished || output.find("exit=0") == std::string::npos)
        return false;
    std::istringstream lines(output);
    std::string line;
    while (std::getline(lines, line)) {
        std::vector<std::string> parts;
        std::istringstream cells(line);
        std::string cell;
        while (std::getline(cells, cell, '\t'))
            parts.push_back(cell);
        if (parts.size() < 2)
            continue;
        parts.resize(5);
        fields[parts[1]] = {parts[0], parts[2], parts[3], parts[4]};
    }
    return true;
}

} // namespace

TEST(QuestionnaireAccessibility, EveryFieldAndListIsNamedAfterItsLabel)
{
    ResetResultRecord();
    ResultRecord.m_lowestHz = 35;
    ResultRecord.m_highestHz = 15000;
    const std::int32_t cents[8] = {101, 102, 103, 104, 105, 106, 107, -1};
    for (int i = 0; i < 8; ++i)
        ResultRecord.m_intervalCents[i] = cents[i];

    CAllowRealDialogs real;
    CQuestionnaireDlg dlg;
    ControlById<wxChoice>(&dlg, IDC_Q_AGE)->SetSelection(77);
    ControlById<wxChoice>(&dlg, IDC_Q_SCHOOL)->SetSelection(2);
    ControlById<wxTextCtrl>(&dlg, IDC_Q_COMMENT)->ChangeValue("two\nlines");
    const std::string date = ControlById<wxTextCtrl>(&dlg, IDC_Q_DATE)->GetValue().utf8_str().data();

    std::map<std::string, AccessibleField> fields;
    std::string raw;
    bool read = false;
    RunModalScript(
        dlg,
        [&] {
            PumpEvents(300);
            read = ReadThroughTheBus("Questionneiare", fields, raw);
            dlg.EndModal(wxID_CANCEL);
        },
        120000);
    ResetResultRecord();
    ASSERT_TRUE(read) << raw;

    // Name on the bus -> what a screen reader reads there, and the label it is linked to.
    struct Expected {
        std::string name, text, label;
        bool list;
    };
    const std::vector<Expected> expected = {
        {"Date", date, "Date", false},
        {"Sex", "none", "Sex", true},
        {"Age", "over 80", "Age", true},
        {"Inst play", "none", "Inst play", true},
        {"Education", "music class", "Education", true},
        {"Comment", "two\\nlines", "Comment", false},
        {"Range lowest", "35", "Range", false},
        {"Range highest", "15000", "Range", false},
        {"Cent 55", "101", "Cent 55", false},
        {"Cent 110", "102", "Cent 110", false},
        {"Cent 220", "103", "Cent 220", false},
        {"Cent 440", "104", "Cent 440", false},
        {"Cent 880", "105", "Cent 880", false},
        {"Cent 1760", "106", "Cent 1760", false},
        {"Cent 3520", "107", "Cent 3520", false},
        {"Cent 7040", "not finished", "Cent 7040", false},
    };
    for (const Expected& e : expected) {
        SCOPED_TRACE(e.name);
        const auto found = fields.find(e.name);
        ASSERT_NE(found, fields.end()) << "not on the bus under this name; the bus shows:\n" << raw;
        EXPECT_EQ(found->second.text, e.text);
        EXPECT_EQ(found->second.labelledBy, e.label);
        EXPECT_EQ(found->second.role == "combo box", e.list) << found->second.role;
    }
    // The lists' items, as the bus offers them to choose from.
    std::string ages = "none|under 5";
    for (int years = 5; years <= 79; ++years)
        ages += "|" + std::to_string(years) + " years old";
    ages += "|over 80";
    EXPECT_EQ(fields["Sex"].items, "none|male|female");
    EXPECT_EQ(fields["Age"].items, ages);
    EXPECT_EQ(fields["Inst play"].items, "none|no|less than 10 years|over 10 years");
    EXPECT_EQ(fields["Education"].items,
              "none|no|music class|in music university, collage|graduated from music university, collage");

    // Nothing the user can reach is left without a name.
    EXPECT_EQ(fields.count(""), 0u) << raw;
    EXPECT_EQ(fields.size(), expected.size()) << raw;
}
