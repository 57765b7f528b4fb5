// The cases where the file or its directory may not be written. They run as an ordinary user
// (see run-unprivileged.sh): root would write them anyway.
#include "results/CFileBackedBlock.h"
#include "results/CGeneralFile.h"
#include "results/ResultRecord.h"
#include "tests/results/ResultFileTestSupport.h"
#include "tests/support/CapturingMessageSink.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

const Bytes OLD = Image({20, 18000, 1, 2, 3, 4, 5, 6, 7, 8, 1});

class Unprivileged : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_NE(::geteuid(), 0u) << "run through run-unprivileged.sh: root may write read-only files";
        ResetResultRecord();
    }
    void TearDown() override
    {
        // Let CTempDir remove everything again.
        fs::permissions(m_dir.Path(), fs::perms(0700));
    }

    fs::path File() const { return m_dir.Path() / "result.dat"; }

    CTempDir m_dir;
    CWorkingDirectory m_cwd{m_dir.Path()};
    CCapturingMessageSink m_messages;
};

TEST_F(Unprivileged, ReadOnlyFileLoadsButKeepsItsContentAtQuit)
{
    WriteBytes(File(), OLD);
    fs::permissions(File(), fs::perms(0444));

    auto binding = BindResultFile();
    EXPECT_EQ(ResultRecord.m_lowestHz, 20);
    EXPECT_EQ(ResultRecord.m_intervalCents[7], 8);
    EXPECT_EQ(ResultRecord.m_sent, 1);
    EXPECT_TRUE(m_messages.shown.empty());
    ResultRecord.m_lowestHz = 33;
    binding.reset();

    EXPECT_EQ(m_messages.Texts(), std::vector<std::string>{OPEN_FAILED});
    EXPECT_EQ(ReadBytes(File()), OLD);
    EXPECT_EQ(fs::status(File()).permissions(), fs::perms(0444));
    EXPECT_EQ(Names(m_dir.Path()), std::vector<std::string>{"result.dat"});
}

TEST_F(Unprivileged, ReadOnlyDirectoryWithAWritableFileIsWrittenInPlace)
{
    WriteBytes(File(), OLD);
    fs::permissions(m_dir.Path(), fs::perms(0500));

    auto binding = BindResultFile();
    ResultRecord.m_highestHz = 16000;
    binding.reset();

    EXPECT_TRUE(m_messages.shown.empty());
    EXPECT_EQ(ReadBytes(File()), Image({20, 16000, 1, 2, 3, 4, 5, 6, 7, 8, 1}));
}

TEST_F(Unprivileged, ReadOnlyDirectoryWithoutAFileGetsTheOpenMessage)
{
    fs::permissions(m_dir.Path(), fs::perms(0500));
    BindResultFile().reset();
    EXPECT_EQ(m_messages.Texts(), std::vector<std::string>{OPEN_FAILED});
    EXPECT_TRUE(Names(m_dir.Path()).empty());
}

TEST_F(Unprivileged, UnreadableFileCountsAsAbsentAndIsReplacedWithItsPermissions)
{
    WriteBytes(File(), OLD);
    fs::permissions(File(), fs::perms(0200));
    ASSERT_EQ(CGeneralFile::Exists(File().string()), 0);

    auto binding = BindResultFile();
    EXPECT_EQ(ResultRecord.m_lowestHz, NOT_MEASURED);
    EXPECT_EQ(ResultRecord.m_sent, 0);
    binding.reset();

    EXPECT_TRUE(m_messages.shown.empty());
    EXPECT_EQ(fs::status(File()).permissions(), fs::perms(0200));
    fs::permissions(File(), fs::perms(0600));
    EXPECT_EQ(ReadBytes(File()), Image({-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, 0}));
}

TEST_F(Unprivileged, ReadOnlyTargetBehindASymbolicLinkKeepsItsContent)
{
    fs::create_directory(m_dir.Path() / "data");
    WriteBytes(m_dir.Path() / "data" / "real.dat", OLD);
    fs::permissions(m_dir.Path() / "data" / "real.dat", fs::perms(0444));
    fs::create_symlink("data/real.dat", File());

    BindResultFile().reset();
    EXPECT_EQ(m_messages.Texts(), std::vector<std::string>{OPEN_FAILED});
    EXPECT_EQ(ReadBytes(m_dir.Path() / "data" / "real.dat"), OLD);
    EXPECT_EQ(Names(m_dir.Path() / "data"), std::vector<std::string>{"real.dat"});
}

} // namespace
