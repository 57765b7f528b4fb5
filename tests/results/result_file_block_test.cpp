// The binding of ResultRecord to result.dat, used as the main window uses it: loaded from the
// working directory when created, written back when destroyed.
#include "results/CFileBackedBlock.h"
#include "results/ResultRecord.h"
#include "tests/results/ResultFileTestSupport.h"
#include "tests/support/CapturingMessageSink.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <memory>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

const Bytes NOTHING_MEASURED = Image({-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, 0});

class ResultFileBinding : public ::testing::Test {
protected:
    void SetUp() override { ResetResultRecord(); }

    fs::path File() const { return m_dir.Path() / "result.dat"; }

    CTempDir m_dir;
    CWorkingDirectory m_cwd{m_dir.Path()};
    CCapturingMessageSink m_messages;
};

TEST_F(ResultFileBinding, NoFileAndNothingMeasuredWritesFortyFFAndFourZeros)
{
    BindResultFile().reset();
    Bytes expected(40, 0xFF);
    expected.insert(expected.end(), 4, 0x00);
    EXPECT_EQ(ReadBytes(File()), expected);
    EXPECT_TRUE(m_messages.shown.empty());
}

TEST_F(ResultFileBinding, RangeMeasuredWritesItsTwoFieldsLittleEndian)
{
    auto binding = BindResultFile();
    ResultRecord.m_lowestHz = 30;
    ResultRecord.m_highestHz = 15000;
    binding.reset();

    Bytes expected = {0x1E, 0x00, 0x00, 0x00, 0x98, 0x3A, 0x00, 0x00};
    expected.insert(expected.end(), 32, 0xFF);
    expected.insert(expected.end(), 4, 0x00);
    EXPECT_EQ(ReadBytes(File()), expected);
}

TEST_F(ResultFileBinding, LoadsEveryFieldAndWritesBackWhatChanged)
{
    WriteBytes(File(), Image({25, 17000, 40, 30, 20, 10, 8, 6, 4, 2, 1}));
    auto binding = BindResultFile();
    EXPECT_EQ(ResultRecord.m_lowestHz, 25);
    EXPECT_EQ(ResultRecord.m_highestHz, 17000);
    for (int band = 0; band < INTERVAL_BAND_COUNT; ++band)
        EXPECT_EQ(ResultRecord.m_intervalCents[band], band < 4 ? 40 - 10 * band : 8 - 2 * (band - 4));
    EXPECT_EQ(ResultRecord.m_sent, 1);

    ResultRecord.m_intervalCents[7] = 3;
    binding.reset();
    EXPECT_EQ(ReadBytes(File()), Image({25, 17000, 40, 30, 20, 10, 8, 6, 4, 3, 1}));
    EXPECT_TRUE(m_messages.shown.empty());
}

TEST_F(ResultFileBinding, ShortFileLoadsItsFiveFieldsAndQuitWritesAllFortyFourBytes)
{
    Bytes twenty = Image({30, 15000, 100, 50, 25});
    ASSERT_EQ(twenty.size(), 20u);
    WriteBytes(File(), twenty);

    auto binding = BindResultFile();
    EXPECT_EQ(ResultRecord.m_lowestHz, 30);
    EXPECT_EQ(ResultRecord.m_highestHz, 15000);
    EXPECT_EQ(ResultRecord.m_intervalCents[0], 100);
    EXPECT_EQ(ResultRecord.m_intervalCents[1], 50);
    EXPECT_EQ(ResultRecord.m_intervalCents[2], 25);
    for (int band = 3; band < INTERVAL_BAND_COUNT; ++band)
        EXPECT_EQ(ResultRecord.m_intervalCents[band], NOT_MEASURED) << "band " << band;
    EXPECT_EQ(ResultRecord.m_sent, 0);

    // Measured in this run beyond the file's end: must reach the file.
    ResultRecord.m_intervalCents[6] = 12;
    binding.reset();
    EXPECT_EQ(ReadBytes(File()), Image({30, 15000, 100, 50, 25, -1, -1, -1, 12, -1, 0}));
    EXPECT_TRUE(m_messages.shown.empty());
}

TEST_F(ResultFileBinding, EmptyFileLoadsNothingAndBecomesAFullRecord)
{
    WriteBytes(File(), {});
    auto binding = BindResultFile();
    EXPECT_EQ(ResultRecord.m_lowestHz, NOT_MEASURED);
    EXPECT_EQ(ResultRecord.m_sent, 0);
    binding.reset();
    EXPECT_EQ(ReadBytes(File()), NOTHING_MEASURED);
    EXPECT_TRUE(m_messages.shown.empty());
}

TEST_F(ResultFileBinding, LongerFileIsNotOursAndIsNeitherLoadedNorWritten)
{
    // One byte past a record is already somebody else's file; so is a long one that merely starts
    // like a record.
    Bytes fortyFive = Image({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 1});
    fortyFive.push_back(0xAA);
    Bytes foreign = Image({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 1});
    foreign.resize(1492, 0x41);
    for (const Bytes& content : {fortyFive, foreign}) {
        SCOPED_TRACE(content.size());
        ResetResultRecord();
        m_messages.shown.clear();
        WriteBytes(File(), content);

        auto binding = BindResultFile();
        EXPECT_EQ(m_messages.Texts(), std::vector<std::string>{FOREIGN_NOTICE});
        EXPECT_EQ(ResultRecord.m_lowestHz, NOT_MEASURED);
        EXPECT_EQ(ResultRecord.m_intervalCents[7], NOT_MEASURED);
        EXPECT_EQ(ResultRecord.m_sent, 0);
        ResultRecord.m_lowestHz = 40;
        CloseResultFile(binding);

        EXPECT_EQ(m_messages.Texts(), std::vector<std::string>(2, FOREIGN_NOTICE))
            << "the notice replaces saving";
        EXPECT_EQ(ReadBytes(File()), content);
        EXPECT_EQ(Names(m_dir.Path()), std::vector<std::string>{"result.dat"});
    }
}

TEST_F(ResultFileBinding, DirectoryNamedResultDatCountsAsAbsentAndIsLeftAlone)
{
    fs::create_directory(File());
    WriteBytes(File() / "inside", {1, 2, 3});

    auto binding = BindResultFile();
    EXPECT_TRUE(m_messages.shown.empty()) << "loading shows nothing";
    EXPECT_EQ(ResultRecord.m_lowestHz, NOT_MEASURED);
    ResultRecord.m_lowestHz = 40;
    binding.reset();

    EXPECT_EQ(m_messages.Texts(), std::vector<std::string>{OPEN_FAILED});
    EXPECT_TRUE(fs::is_directory(File()));
    EXPECT_EQ(ReadBytes(File() / "inside"), (Bytes{1, 2, 3}));
    EXPECT_EQ(std::distance(fs::directory_iterator(m_dir.Path()), fs::directory_iterator()), 1)
        << "no temporary file may be left behind";
}

// Removes `name` in `parent` with everything below it, one directory at a time: no path to any of
// it may fit PATH_MAX.
void RemoveTree(int parent, const char* name)
{
    const int fd = ::openat(parent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        ::unlinkat(parent, name, 0);
        return;
    }
    DIR* dir = ::fdopendir(fd);
    while (dirent* entry = ::readdir(dir)) {
        if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
            RemoveTree(fd, entry->d_name);
    }
    ::closedir(dir);
    ::unlinkat(parent, name, AT_REMOVEDIR);
}

TEST_F(ResultFileBinding, WorkingDirectoryLongerThanPathMax)
{
    // 22 levels of 200 characters, made and entered one at a time.
    const std::string level(200, 'd');
    for (int i = 0; i < 22; ++i) {
        ASSERT_EQ(::mkdir(level.c_str(), 0700), 0) << std::strerror(errno);
        ASSERT_EQ(::chdir(level.c_str()), 0) << std::strerror(errno);
    }
    struct Cleanup {
        fs::path top;
        ~Cleanup() { RemoveTree(AT_FDCWD, top.c_str()); }
    } cleanup{m_dir.Path() / level};

    WriteBytes("result.dat", Image({50, 12000}));
    auto binding = BindResultFile();
    EXPECT_EQ(ResultRecord.m_lowestHz, 50);
    EXPECT_EQ(ResultRecord.m_highestHz, 12000);
    ResultRecord.m_intervalCents[0] = 7;
    binding.reset();

    EXPECT_EQ(ReadBytes("result.dat"), Image({50, 12000, 7, -1, -1, -1, -1, -1, -1, -1, 0}));
    EXPECT_EQ(Names("."), std::vector<std::string>{"result.dat"});
    EXPECT_TRUE(m_messages.shown.empty());
}

TEST_F(ResultFileBinding, AbandonedBindingWritesNothing)
{
    WriteBytes(File(), Image({10, 20}));
    auto binding = BindResultFile();
    ResultRecord.m_lowestHz = 11;
    binding->Abandon();
    binding.reset();
    EXPECT_EQ(ReadBytes(File()), Image({10, 20}));

    fs::remove(File());
    binding = BindResultFile();
    binding->Abandon();
    binding.reset();
    EXPECT_FALSE(fs::exists(File()));
}

TEST_F(ResultFileBinding, SentFlagOfOneIsLoaded)
{
    WriteBytes(File(), Image({-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, 1}));
    BindResultFile()->Abandon();
    EXPECT_TRUE(ResultRecord.IsSent());
}

TEST(ResultFileBlock, DefaultsFillTheBlockWhenThereIsNoFile)
{
    CTempDir dir;
    const std::string path = (dir.Path() / "block.bin").string();
    const unsigned char defaults[6] = {9, 8, 7, 6, 5, 4};
    unsigned char block[6] = {};
    {
        CFileBackedBlock binding(path, block, sizeof block, defaults);
        EXPECT_EQ(Bytes(block, block + 6), Bytes(defaults, defaults + 6));
        block[0] = 1;
    }
    EXPECT_EQ(ReadBytes(path), (Bytes{1, 8, 7, 6, 5, 4}));
}

} // namespace
