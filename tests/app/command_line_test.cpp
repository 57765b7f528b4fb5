// The program's options, run as a user runs them: the real program, with no display at all.
#include "report/ReportPage.h"
#include "report/ResultReport.h"
#include "res/Version.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>

#include <sys/stat.h>

#ifndef TONVALE_EXE
#error "TONVALE_EXE must name the program"
#endif

namespace {

const std::vector<std::string> NO_DISPLAY = {"DISPLAY", "WAYLAND_DISPLAY"};

class CommandLine : public ::testing::Test {
protected:
    CChildResult Run(std::vector<std::string> args)
    {
        args.insert(args.begin(), TONVALE_EXE);
        return RunChild(args, m_dir.Path(), m_scratch.Path(), NO_DISPLAY, std::chrono::seconds(30));
    }

    CTempDir m_dir, m_scratch;
};

// The page with the minute it was made taken out.
std::string WithoutItsDate(std::string page)
{
    const std::size_t line = page.find("<p class=\"generated\">");
    const std::size_t on = page.find(" on ", line);
    const std::size_t from = page.find(" from ", on);
    if (line == std::string::npos || on == std::string::npos || from == std::string::npos)
        return page;
    return page.erase(on, from - on);
}

} // namespace

TEST_F(CommandLine, ReportPrintsThePageForTheFilesOfTheCurrentFolder)
{
    ResultRecordData record{};
    std::fill(std::begin(record.m_intervalCents), std::end(record.m_intervalCents), NOT_MEASURED);
    record.m_lowestHz = 30;
    record.m_highestHz = 15000;
    std::ofstream(m_dir.Path() / "result.dat", std::ios::binary)
        .write(reinterpret_cast<const char*>(&record), sizeof record);
    std::ofstream(m_dir.Path() / CHECK_LOG_NAME, std::ios::binary)
        << CHECK_LOG_HEADER << "\r\n"
        << FormatLogRow("2026-12-01T10:00:00.000+09:00", "r1",
                        {LogCheck::RangeUpper, LogKind::Result, "", "", "", LogJudgement::None, "15000"})
        // A damaged value that once made the page ask for more memory than there is.
        << FormatLogRow("2026-12-01T10:00:00.000+09:00", "r1",
                        {LogCheck::Interval, LogKind::Result, "440", "", "", LogJudgement::None,
                         "100000000000000000000"});

    const CChildResult run = Run({"--report"});
    ASSERT_EQ(run.exitStatus, 0) << run.err;
    EXPECT_NE(run.out.find("<td class=\"value\">15000 Hz</td>"), std::string::npos);
    EXPECT_NE(run.out.find("id=\"range-history\""), std::string::npos);
    EXPECT_NE(run.out.find(">1 entry of tonvale-log.csv"), std::string::npos);
    const int dirFd = ::open(m_dir.Path().c_str(), O_RDONLY | O_DIRECTORY);
    EXPECT_EQ(WithoutItsDate(run.out), WithoutItsDate(BuildReportForFolder(record, dirFd)));
    ::close(dirFd);
}

// result.dat goes by the main window's rules: a longer file is somebody else's, and a link in a
// shared folder is followed only when it is ours or the folder owner's.
TEST_F(CommandLine, ReportReadsResultDatAsTheMainWindowDoes)
{
    ResultRecordData record{};
    std::fill(std::begin(record.m_intervalCents), std::end(record.m_intervalCents), 30);
    record.m_lowestHz = 30;
    record.m_highestHz = 15000;
    std::string bytes(reinterpret_cast<const char*>(&record), sizeof record);
    const auto measured = [](const CChildResult& run) {
        return 10 - Occurrences(run.out, "<td class=\"value\">not measured</td>");
    };
    const char* const foreignSentence = "result.dat in this folder is not Tonvale's result file";

    std::ofstream(m_dir.Path() / "result.dat", std::ios::binary) << bytes + std::string(1492 - 44, 'A');
    CChildResult run = Run({"--report"});
    ASSERT_EQ(run.exitStatus, 0) << run.err;
    EXPECT_EQ(measured(run), 0u);
    EXPECT_NE(run.out.find(foreignSentence), std::string::npos);

    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to give the link to another user";
    const auto shared = m_dir.Path() / "shared";
    std::filesystem::create_directory(shared);
    ::chmod(shared.c_str(), 01777);
    std::ofstream(m_dir.Path() / "result.dat", std::ios::binary) << bytes;
    std::filesystem::create_symlink(m_dir.Path() / "result.dat", shared / "result.dat");
    ASSERT_EQ(::lchown((shared / "result.dat").c_str(), 65534, 65534), 0);
    run = RunChild({TONVALE_EXE, "--report"}, shared, m_scratch.Path(), NO_DISPLAY);
    ASSERT_EQ(run.exitStatus, 0) << run.err;
    EXPECT_EQ(measured(run), 0u);
    ASSERT_EQ(::lchown((shared / "result.dat").c_str(), 0, 0), 0);
    run = RunChild({TONVALE_EXE, "--report"}, shared, m_scratch.Path(), NO_DISPLAY);
    EXPECT_EQ(measured(run), 10u);
    EXPECT_EQ(run.out.find(foreignSentence), std::string::npos);
}

TEST_F(CommandLine, HelpVersionAndUnknownOptions)
{
    const CChildResult help = Run({"--help"});
    EXPECT_EQ(help.exitStatus, 0);
    EXPECT_EQ(help.out.rfind("Usage: tonvale", 0), 0u) << help.out;
    EXPECT_NE(help.out.find("--report"), std::string::npos);

    const CChildResult version = Run({"--version"});
    EXPECT_EQ(version.exitStatus, 0);
    EXPECT_EQ(version.out, "tonvale " TONVALE_VERSION_STRING "\n");

    for (const auto& args :
         std::vector<std::vector<std::string>>{{"--bogus"}, {"-x"}, {"--report", "--help"}}) {
        const CChildResult bad = Run(args);
        EXPECT_EQ(bad.exitStatus, 2) << args[0];
        EXPECT_TRUE(bad.out.empty()) << bad.out;
        EXPECT_EQ(bad.err.rfind("Usage: tonvale", 0), 0u) << bad.err;
    }
}
