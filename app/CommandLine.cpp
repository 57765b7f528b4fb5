#include "app/CommandLine.h"

#include "report/ReportPage.h"
#include "res/Version.h"
#include "results/ResultFile.h"
#include "results/ResultRecord.h"
#include "ui/Language.h"

#include <ostream>
#include <string_view>

#include <fcntl.h>

namespace {

constexpr const char* USAGE =
    TR_NOOP("Usage: tonvale [--report | --help | --version]\n"
            "Measures the range of frequencies you hear and the smallest pitch difference you can tell,\n"
            "through the computer's own sound card.\n"
            "\n"
            "  --report   write the My Results page (HTML) for result.dat and tonvale-log.csv\n"
            "             of the current folder to standard output\n"
            "  --help     show this help and exit\n"
            "  --version  show the version and exit\n"
            "\n"
            "Without an option the main window opens; it keeps result.dat and tonvale-log.csv\n"
            "in the current folder.\n");

int Report(std::ostream& out, std::ostream& err)
{
    ResultRecordData record{};
    record.m_lowestHz = record.m_highestHz = NOT_MEASURED;
    for (auto& cents : record.m_intervalCents)
        cents = NOT_MEASURED;
    // By the main window's own rules: the same links followed, and a file that is not ours left out.
    const CFileBackedBlock::ELoad loaded = ReadResultFile(AT_FDCWD, record);
    if (loaded == CFileBackedBlock::ELoad::Failed) {
        err << Translate("tonvale: result.dat in the current folder cannot be read\n");
        return 1;
    }
    out << BuildReportForFolder(record, AT_FDCWD, loaded == CFileBackedBlock::ELoad::Foreign) << std::flush;
    if (!out) {
        err << Translate("tonvale: the page could not be written to standard output\n");
        return 1;
    }
    return 0;
}

} // namespace

int HandleCommandLine(int argc, const char* const* argv, std::ostream& out, std::ostream& err)
{
    if (argc <= 1)
        return START_MAIN_WINDOW;
    const std::string_view option = argv[1];
    if (argc == 2 && option == "--report")
        return Report(out, err);
    if (argc == 2 && option == "--help") {
        out << Translate(USAGE);
        return 0;
    }
    if (argc == 2 && option == "--version") {
        out << "tonvale " TONVALE_VERSION_STRING "\n";
        return 0;
    }
    err << Translate(USAGE);
    return 2;
}
