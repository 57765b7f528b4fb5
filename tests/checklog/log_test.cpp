// tonvale-log.csv: what a row looks like, how rows accumulate over runs, what is never written
// into, and what the reader makes of a damaged file.
#include "checklog/CheckLog.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace fs = std::filesystem;

namespace {

const std::string HEADER = std::string(CHECK_LOG_HEADER) + "\r\n";

CheckLogRow RangeQuestion(const std::string& answer = "3回")
{
    const bool slots[5] = {true, false, true, true, false};
    return {LogCheck::RangeUpper,
            LogKind::Question,
            "15000",
            RangePatternText(slots),
            answer,
            LogJudgement::Right,
            ""};
}

class CheckLogTest : public ::testing::Test {
protected:
    ~CheckLogTest() override { ::close(m_dirFd); }

    fs::path File() const { return m_dir.Path() / CHECK_LOG_NAME; }
    void Write(const std::string& text) const { std::ofstream(File(), std::ios::binary) << text; }
    std::vector<LoggedRow> Rows() const { return ParseCheckLog(ReadCheckLogAt(m_dirFd)); }

    // A log that cannot take its rows says so once, and only once, for the run.
    static void ExpectOneNotice(int dirFd)
    {
        CCheckLog log(dirFd, "run-1");
        EXPECT_FALSE(log.Append(RangeQuestion()));
        log.CheckEnded();
        EXPECT_TRUE(log.TakeFailureNotice());
        EXPECT_FALSE(log.Append(RangeQuestion()));
        EXPECT_FALSE(log.TakeFailureNotice());
    }

    CTempDir m_dir;
    int m_dirFd = ::open(m_dir.Path().c_str(), O_RDONLY | O_DIRECTORY);
};

} // namespace

TEST(CheckLogFormat, QuotesWhatNeedsItAndReadsBackTheSameFields)
{
    const CheckLogRow row{LogCheck::Interval,
                          LogKind::Question,
                          "880",
                          IntervalTonesText(884, 880),
                          "say \"later\", then\r\nnext",
                          LogJudgement::NotJudged,
                          ""};
    const std::string line = FormatLogRow("T", "run-1", row);
    EXPECT_EQ(line,
              "T,run-1,interval,question,880,884 880,\"say \"\"later\"\", then\r\nnext\",not judged,\r\n");

    const CheckLogRow result{LogCheck::SoundCard, LogKind::Result,          "", "", "",
                             LogJudgement::None,  FrequencyText(19998.4375)};
    const auto rows = ParseCheckLog(HEADER + line + FormatLogRow("U", "run-1", result));
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].answer, row.answer);
    EXPECT_EQ(rows[0].judgement, "not judged");
    EXPECT_EQ(rows[1].check, "sound card");
    EXPECT_EQ(rows[1].value, "19998.44");
}

TEST(CheckLogFormat, LocalTimeCarriesMillisecondsAndItsOffset)
{
    const char* old = std::getenv("TZ");
    const std::string saved = old != nullptr ? old : "";
    const auto when = std::chrono::system_clock::time_point(std::chrono::milliseconds(1780000000123LL));
    // POSIX zone strings need no time zone data: nine hours east, and three and a half west.
    for (const auto& [zone, expected] : {std::pair{"XXX-9", "2026-05-29T05:26:40.123+09:00"},
                                         std::pair{"YYY3:30", "2026-05-28T16:56:40.123-03:30"}}) {
        ::setenv("TZ", zone, 1);
        ::tzset();
        EXPECT_EQ(LogTimeText(when), expected);
        EXPECT_EQ(ParseLogTime(expected), 1780000000123LL);
    }
    old != nullptr ? ::setenv("TZ", saved.c_str(), 1) : ::unsetenv("TZ");
    ::tzset();
    EXPECT_FALSE(ParseLogTime("2026-13-29T05:26:40.123+09:00"));
}

TEST_F(CheckLogTest, LaterRunsAppendAfterEarlierOnesUnderOneHeader)
{
    for (const char* run : {"run-1", "run-2"}) {
        CCheckLog log(m_dirFd, run);
        EXPECT_EQ(fs::exists(File()), std::string(run) == "run-2") << "created before anything was logged";
        EXPECT_TRUE(log.Append(RangeQuestion(run)));
        log.CheckEnded();
        EXPECT_FALSE(log.TakeFailureNotice());
    }
    EXPECT_EQ(fs::status(File()).permissions(), fs::perms::owner_read | fs::perms::owner_write);
    const std::string text = ReadWholeFile(File());
    EXPECT_EQ(text.rfind(HEADER, 0), 0u);
    EXPECT_EQ(text.find(HEADER, 1), std::string::npos);
    const auto rows = Rows();
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].run + rows[0].answer + rows[1].run + rows[1].answer, "run-1run-1run-2run-2");
    EXPECT_EQ(rows[0].played, "10110");
    EXPECT_TRUE(ParseLogTime(rows[1].time)) << rows[1].time;
}

TEST_F(CheckLogTest, AFileThatIsNotOursOrCannotBeWrittenIsToldOnceAndLeftAlone)
{
    const std::string foreign = "name,age\r\nalice,30\r\n";
    Write(foreign);
    ExpectOneNotice(m_dirFd);
    EXPECT_EQ(ReadWholeFile(File()), foreign);
    EXPECT_TRUE(Rows().empty());

    // Something no one, root included, can append rows to.
    fs::remove(File());
    fs::create_directory(File());
    ExpectOneNotice(m_dirFd);
}

TEST_F(CheckLogTest, TheReaderSkipsAndCountsDamagedRowsAndTheNextRunStartsAWholeRow)
{
    // A row cut short by a power cut comes last, with no line end.
    Write(HEADER + FormatLogRow("A", "r", RangeQuestion()) + "only,three,fields\r\n" +
          "\"never closed,x\r\n" + FormatLogRow("B", "r", RangeQuestion()) +
          "2026-12-07T11:25:33.120+09:00,r,range upp");
    std::size_t malformed = 0;
    auto rows = ParseCheckLog(ReadCheckLogAt(m_dirFd), &malformed);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].time + rows[1].time, "AB");
    EXPECT_EQ(malformed, 3u);

    // The next run's row is not appended onto the broken one: both would be lost.
    EXPECT_TRUE(CCheckLog(m_dirFd, "run-2").Append(RangeQuestion()));
    rows = ParseCheckLog(ReadCheckLogAt(m_dirFd), &malformed);
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[2].run, "run-2");
    EXPECT_EQ(malformed, 3u);
    EXPECT_NE(ReadWholeFile(File()).find("range upp\r\n2"), std::string::npos);

    // An empty file (a start cut short after creating it) gets its header, and then rows.
    Write("");
    CCheckLog log(m_dirFd, "run-1");
    EXPECT_TRUE(log.Append(RangeQuestion()));
    EXPECT_EQ(Rows().size(), 1u);
}

// The kernel may end a write cut short by SIGKILL at a page boundary: such a row is never read as
// one, and the next run's rows still are.
TEST_F(CheckLogTest, AKilledRunLeavesNoRowThatReadsWrong)
{
    const pid_t child = ::fork();
    if (child == 0) {
        CCheckLog log(m_dirFd, "killed");
        // Long rows make a split more likely.
        for (const CheckLogRow row = RangeQuestion(std::string(1500, 'x'));;)
            log.Append(row);
    }
    for (int i = 0; i < 200 && !(fs::exists(File()) && fs::file_size(File()) > 200000); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);

    const std::string text = ReadWholeFile(File());
    ASSERT_GT(text.size(), 200000u);
    const std::size_t lines = Occurrences(text, "\n");
    const bool cut = text.back() != '\n';
    std::size_t malformed = 0;
    auto rows = ParseCheckLog(text, &malformed);
    EXPECT_EQ(rows.size(), lines - 1);
    EXPECT_EQ(malformed, cut ? 1u : 0u);
    for (const LoggedRow& row : rows)
        ASSERT_EQ(row.answer.size(), 1500u);

    EXPECT_TRUE(CCheckLog(m_dirFd, "next").Append(RangeQuestion()));
    rows = ParseCheckLog(ReadCheckLogAt(m_dirFd), &malformed);
    EXPECT_EQ(rows.back().run, "next");
    EXPECT_EQ(rows.size() + malformed, lines + (cut ? 1 : 0));
}

TEST_F(CheckLogTest, OfALogTooLongToLoadTheLatestRowsAreRead)
{
    const std::string filler = FormatLogRow("T", "filler", RangeQuestion(std::string(4000, 'x')));
    std::string text = HEADER + FormatLogRow("T", "first", RangeQuestion());
    while (text.size() <= MAX_LOG_BYTES)
        text += filler;
    Write(text + FormatLogRow("T", "last", RangeQuestion()));

    std::size_t malformed = 0;
    const auto rows = ParseCheckLog(ReadCheckLogAt(m_dirFd), &malformed);
    ASSERT_GT(rows.size(), MAX_LOG_BYTES / filler.size() - 2);
    EXPECT_EQ(rows.front().run, "filler");
    EXPECT_EQ(rows.back().run, "last");
    // The row the cut falls in is not one of the log's rows, nor a damaged one.
    EXPECT_EQ(malformed, 0u);
}

TEST_F(CheckLogTest, SomeoneElsesLinkInASharedFolderIsNotFollowed)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to give the link to another user";
    const fs::path shared = m_dir.Path() / "shared", target = m_dir.Path() / "elsewhere.csv";
    fs::create_directory(shared);
    ::chmod(shared.c_str(), 01777);
    std::ofstream(target) << "";
    fs::create_symlink(target, shared / CHECK_LOG_NAME);
    ASSERT_EQ(::lchown((shared / CHECK_LOG_NAME).c_str(), 65534, 65534), 0);
    const int sharedFd = ::open(shared.c_str(), O_RDONLY | O_DIRECTORY);
    ExpectOneNotice(sharedFd);
    EXPECT_EQ(fs::file_size(target), 0u);
    // Our own link there is followed.
    ASSERT_EQ(::lchown((shared / CHECK_LOG_NAME).c_str(), 0, 0), 0);
    EXPECT_TRUE(CCheckLog(sharedFd, "run-2").Append(RangeQuestion()));
    EXPECT_GT(fs::file_size(target), 0u);
    ::close(sharedFd);

    // Every hop of a chain goes by the rule: our own link here leads to that one.
    ASSERT_EQ(::lchown((shared / CHECK_LOG_NAME).c_str(), 65534, 65534), 0);
    std::ofstream(target) << "";
    fs::create_symlink(shared / CHECK_LOG_NAME, File());
    ExpectOneNotice(m_dirFd);
    EXPECT_EQ(fs::file_size(target), 0u);
    std::ofstream(target) << HEADER << FormatLogRow("A", "r", RangeQuestion());
    EXPECT_TRUE(Rows().empty());
}
