// How CGeneralFile replaces a file: what survives a save, what a failed or interrupted save leaves.
#include "results/CGeneralFile.h"
#include "tests/results/ResultFileTestSupport.h"
#include "tests/support/CapturingMessageSink.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <csignal>

#include <grp.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

const Bytes OLD = Image({20, 18000, 1, 2, 3, 4, 5, 6, 7, 8, 1});
const Bytes NEW = Image({30, 15000, -1, -1, -1, -1, -1, -1, -1, -1, 0});

int Save(const fs::path& path, const Bytes& bytes)
{
    return CGeneralFile::Save(path.string(), bytes.data(), static_cast<int>(bytes.size()));
}

unsigned Mode(const fs::path& path)
{
    struct stat st {};
    EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
    return st.st_mode & 07777;
}

class SaveTest : public ::testing::Test {
protected:
    fs::path File() const { return m_dir.Path() / "result.dat"; }

    CTempDir m_dir;
    CCapturingMessageSink m_messages;
};

TEST_F(SaveTest, KeepsTheOldFilesPermissionsAndGivesANewFileTheUmasksOnes)
{
    WriteBytes(File(), OLD);
    fs::permissions(File(), fs::perms(0640));
    ASSERT_EQ(Save(File(), NEW), 1);
    EXPECT_EQ(ReadBytes(File()), NEW);
    EXPECT_EQ(Mode(File()), 0640u);

    fs::permissions(File(), fs::perms(0604));
    ASSERT_EQ(Save(File(), OLD), 1);
    EXPECT_EQ(Mode(File()), 0604u);

    fs::remove(File());
    mode_t previous = ::umask(027);
    int saved = Save(File(), NEW);
    ::umask(previous);
    ASSERT_EQ(saved, 1);
    EXPECT_EQ(Mode(File()), 0640u);
    EXPECT_EQ(Names(m_dir.Path()), std::vector<std::string>{"result.dat"}) << "no temporary file left";
    EXPECT_TRUE(m_messages.shown.empty());
}

TEST_F(SaveTest, WritesThroughSymbolicLinksAndKeepsThem)
{
    fs::create_directory(m_dir.Path() / "data");
    WriteBytes(m_dir.Path() / "data" / "real.dat", OLD);
    fs::permissions(m_dir.Path() / "data" / "real.dat", fs::perms(0600));
    fs::create_symlink("data/real.dat", File());

    ASSERT_EQ(Save(File(), NEW), 1);
    EXPECT_TRUE(fs::is_symlink(File()));
    EXPECT_EQ(fs::read_symlink(File()), "data/real.dat");
    EXPECT_EQ(ReadBytes(m_dir.Path() / "data" / "real.dat"), NEW);
    EXPECT_EQ(Mode(m_dir.Path() / "data" / "real.dat"), 0600u);
    EXPECT_EQ(Names(m_dir.Path() / "data"), std::vector<std::string>{"real.dat"});
    EXPECT_EQ(Names(m_dir.Path()), (std::vector<std::string>{"data", "result.dat"}));

    // A chain of links, the last one absolute and dangling: the file it names is created.
    fs::remove(File());
    fs::create_symlink(m_dir.Path() / "data" / "new.dat", m_dir.Path() / "second");
    fs::create_symlink("second", File());
    ASSERT_EQ(Save(File(), OLD), 1);
    EXPECT_TRUE(fs::is_symlink(File()));
    EXPECT_TRUE(fs::is_symlink(m_dir.Path() / "second"));
    EXPECT_EQ(ReadBytes(m_dir.Path() / "data" / "new.dat"), OLD);
    EXPECT_TRUE(m_messages.shown.empty());
}

TEST_F(SaveTest, LinkLoopGetsTheOpenMessage)
{
    fs::create_symlink("loop", File());
    fs::create_symlink("result.dat", m_dir.Path() / "loop");
    EXPECT_EQ(CGeneralFile::Exists(File().string()), 0);
    EXPECT_EQ(Save(File(), NEW), 0);
    EXPECT_EQ(m_messages.Texts(), std::vector<std::string>{OPEN_FAILED});
    EXPECT_TRUE(fs::is_symlink(File()));
    EXPECT_EQ(Names(m_dir.Path()), (std::vector<std::string>{"loop", "result.dat"}));
}

TEST_F(SaveTest, HardLinkedFileIsRewrittenSoEveryNameSeesIt)
{
    WriteBytes(File(), Bytes(50, 0x55));
    fs::create_hard_link(File(), m_dir.Path() / "copy.dat");
    ASSERT_EQ(Save(File(), NEW), 1);
    EXPECT_EQ(ReadBytes(File()), NEW);
    EXPECT_EQ(ReadBytes(m_dir.Path() / "copy.dat"), NEW);
    EXPECT_EQ(fs::hard_link_count(File()), 2u);
}

TEST_F(SaveTest, PipesAndDevicesCountAsAbsentAndAreNeverWritten)
{
    ASSERT_EQ(::mkfifo(File().c_str(), 0666), 0);
    // Opening a pipe for reading would wait for a writer; the load must not hang.
    EXPECT_EQ(CGeneralFile::Exists(File().string()), 0);
    Bytes buffer(44, 0xAB);
    int count = 44;
    EXPECT_EQ(CGeneralFile::Load(File().string(), buffer.data(), count), 0);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(buffer, Bytes(44, 0xAB));
    EXPECT_EQ(Save(File(), NEW), 0);
    EXPECT_TRUE(fs::is_fifo(File()));

    fs::remove(File());
    fs::create_symlink("/dev/null", File());
    EXPECT_EQ(CGeneralFile::Exists(File().string()), 0);
    EXPECT_EQ(Save(File(), NEW), 0);
    EXPECT_TRUE(fs::is_symlink(File()));
    EXPECT_TRUE(fs::is_character_file("/dev/null"));
    EXPECT_EQ(m_messages.Texts(), std::vector<std::string>(3, OPEN_FAILED));
    EXPECT_EQ(Names(m_dir.Path()), std::vector<std::string>{"result.dat"});
}

// Ends the process the moment the new content is safe in the temporary file.
void KillBeforeReplacing(const std::string&)
{
    ::raise(SIGKILL);
}

TEST_F(SaveTest, SaveKilledAfterWritingTheTemporaryFileLeavesTheOldFileIntact)
{
    WriteBytes(File(), OLD);
    EXPECT_EXIT(
        {
            CGeneralFile::testing_hooks::SetBeforeReplaceHook(KillBeforeReplacing);
            Save(File(), NEW);
            std::_Exit(0); // not reached when the hook ran
        },
        ::testing::KilledBySignal(SIGKILL), "");

    EXPECT_EQ(ReadBytes(File()), OLD);
    // The killed save got as far as a complete temporary file: the old one was never touched.
    std::vector<std::string> names = Names(m_dir.Path());
    ASSERT_EQ(names.size(), 2u);
    EXPECT_EQ(names[1], "result.dat");
    EXPECT_EQ(names[0].rfind(".result.dat.", 0), 0u) << names[0];
    EXPECT_EQ(ReadBytes(m_dir.Path() / names[0]), NEW);

    // The next save is not disturbed by the leftover.
    ASSERT_EQ(Save(File(), NEW), 1);
    EXPECT_EQ(ReadBytes(File()), NEW);
    EXPECT_TRUE(m_messages.shown.empty());
}

// A file size limit makes writes past it fail as a full disk would, after a successful open.
class CFileSizeLimit {
public:
    explicit CFileSizeLimit(rlim_t bytes)
    {
        m_oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        ::getrlimit(RLIMIT_FSIZE, &m_old);
        rlimit limited = m_old;
        limited.rlim_cur = bytes;
        m_set = ::setrlimit(RLIMIT_FSIZE, &limited) == 0;
    }
    ~CFileSizeLimit()
    {
        ::setrlimit(RLIMIT_FSIZE, &m_old);
        std::signal(SIGXFSZ, m_oldHandler);
    }
    bool IsSet() const { return m_set; }

private:
    rlimit m_old{};
    void (*m_oldHandler)(int);
    bool m_set = false;
};

TEST_F(SaveTest, WriteErrorShowsItsMessageAndKeepsTheOldFile)
{
    WriteBytes(File(), OLD);
    int saved;
    {
        CFileSizeLimit limit(10);
        ASSERT_TRUE(limit.IsSet());
        saved = Save(File(), NEW);
    }
    EXPECT_EQ(saved, 0);
    EXPECT_EQ(m_messages.Texts(), std::vector<std::string>{WRITE_FAILED});
    EXPECT_EQ(ReadBytes(File()), OLD);
    EXPECT_EQ(Names(m_dir.Path()), std::vector<std::string>{"result.dat"});

    // With no old file, nothing half-written appears either.
    fs::remove(File());
    {
        CFileSizeLimit limit(10);
        saved = Save(File(), NEW);
    }
    EXPECT_EQ(saved, 0);
    EXPECT_TRUE(Names(m_dir.Path()).empty());
}

TEST_F(SaveTest, ReadErrorAfterOpeningLeavesTheBufferAsItWas)
{
    // A regular file that opens but fails to read: this process's memory at address 0.
    ASSERT_EQ(CGeneralFile::Exists("/proc/self/mem"), 1);
    Bytes buffer(44, 0x5A);
    int count = 44;
    EXPECT_EQ(CGeneralFile::Load("/proc/self/mem", buffer.data(), count), 0);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(buffer, Bytes(44, 0x5A));
    EXPECT_EQ(m_messages.Texts(), std::vector<std::string>{UNDEFINED_ERROR});
}

TEST_F(SaveTest, LoadReadsUpToTheCapacityAndReportsTheCount)
{
    WriteBytes(File(), OLD);
    Bytes buffer(20, 0);
    int count = 20;
    EXPECT_EQ(CGeneralFile::Load(File().string(), buffer.data(), count), 1);
    EXPECT_EQ(count, 20);
    EXPECT_EQ(buffer, Bytes(OLD.begin(), OLD.begin() + 20));

    WriteBytes(File(), {1, 2, 3});
    buffer.assign(20, 0xEE);
    count = 20;
    EXPECT_EQ(CGeneralFile::Load(File().string(), buffer.data(), count), 1);
    EXPECT_EQ(count, 3);
    EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + 4), (Bytes{1, 2, 3, 0xEE}));

    fs::remove(File());
    count = 20;
    EXPECT_EQ(CGeneralFile::Load(File().string(), buffer.data(), count), 0);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(m_messages.Texts(), std::vector<std::string>{OPEN_FAILED});
}

TEST(ReportErrorTest, ShowsTheFixedMessageOfEachCode)
{
    CCapturingMessageSink messages;
    for (int code : {0, 1, 2, 3, -1, 99})
        CGeneralFile::ReportError(code);
    EXPECT_EQ(messages.Texts(),
              (std::vector<std::string>{OPEN_FAILED, SIZE_FAILED, WRITE_FAILED, UNDEFINED_ERROR,
                                        UNDEFINED_ERROR, UNDEFINED_ERROR}));
    ASSERT_FALSE(messages.shown.empty());
    EXPECT_EQ(messages.shown[0].type & MB_ICONMASK, MB_ICONEXCLAMATION);
}

// Root may give a file to anyone, so the cases of someone else's file or link need a second user:
// the save runs in a child process that has given up root. It exits with 0 for a silent save, 2
// for a refusal with the open message, 1 for anything else.
constexpr uid_t NOBODY = 65534;
void SaveAsNobody(const fs::path& file, const Bytes& bytes)
{
    if (::setgroups(0, nullptr) != 0 || ::setgid(NOBODY) != 0 || ::setuid(NOBODY) != 0)
        std::_Exit(3);
    CCapturingMessageSink messages;
    int saved = Save(file, bytes);
    if (saved == 1 && messages.shown.empty())
        std::_Exit(0);
    std::_Exit(saved == 0 && messages.Texts() == std::vector<std::string>{OPEN_FAILED} ? 2 : 1);
}

TEST_F(SaveTest, SomeoneElsesWritableFileIsWrittenInPlaceAndKeepsItsOwner)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to give the file to another user";
    fs::permissions(m_dir.Path(), fs::perms(0755));
    // A directory everyone may write in, where a replacement could be made but would belong to
    // the wrong user; and the same with the sticky bit, which also refuses the rename.
    for (unsigned directoryMode : {0777u, 01777u}) {
        SCOPED_TRACE(directoryMode);
        fs::path shared = m_dir.Path() / "shared";
        fs::create_directory(shared);
        fs::permissions(shared, fs::perms(directoryMode));
        WriteBytes(shared / "result.dat", Bytes(50, 0x77));
        fs::permissions(shared / "result.dat", fs::perms(0666));

        EXPECT_EXIT(SaveAsNobody(shared / "result.dat", NEW), ::testing::ExitedWithCode(0), "");
        EXPECT_EQ(ReadBytes(shared / "result.dat"), NEW);
        EXPECT_EQ(Names(shared), std::vector<std::string>{"result.dat"});
        struct stat st {};
        ASSERT_EQ(::stat((shared / "result.dat").c_str(), &st), 0);
        EXPECT_EQ(st.st_uid, 0u) << "a replacement would belong to nobody";
        EXPECT_EQ(st.st_mode & 07777, 0666u);
        fs::remove_all(shared);
    }
}

// A link in a sticky directory everyone may write in (as /tmp) is followed only when it belongs to
// the user saving or to the directory's owner, at every hop of a chain, whatever the kernel's own
// setting says: a link planted by somebody else must not make our save replace one of our files.
TEST_F(SaveTest, LinksInASharedStickyDirectoryAreFollowedOnlyWhenTrusted)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to act as two other users";
    constexpr uid_t STRANGER = 4242;
    fs::permissions(m_dir.Path(), fs::perms(0755));
    const fs::path shared = m_dir.Path() / "shared"; // root's, like /tmp
    const fs::path mine = m_dir.Path() / "mine";     // nobody's private directory
    fs::create_directory(shared);
    fs::permissions(shared, fs::perms(01777));
    fs::create_directory(mine);
    ASSERT_EQ(::chown(mine.c_str(), NOBODY, NOBODY), 0);
    const Bytes privateBytes(1650, 0x50);

    struct Case {
        std::vector<uid_t> linkOwners; // first the link called result.dat, then the hop it names
        int exitCode;
    };
    for (const Case& c : {Case{{STRANGER}, 2}, Case{{NOBODY, STRANGER}, 2}, Case{{NOBODY}, 0}, Case{{0}, 0},
                          Case{{NOBODY, 0}, 0}}) {
        SCOPED_TRACE(::testing::PrintToString(c.linkOwners));
        WriteBytes(mine / "private.dat", privateBytes);
        ASSERT_EQ(::chown((mine / "private.dat").c_str(), NOBODY, NOBODY), 0);
        std::vector<fs::path> links = {shared / "result.dat"};
        if (c.linkOwners.size() == 2) {
            links.push_back(shared / "hop");
            fs::create_symlink("hop", links[0]);
        }
        fs::create_symlink(mine / "private.dat", links.back());
        for (std::size_t i = 0; i < links.size(); ++i)
            ASSERT_EQ(::lchown(links[i].c_str(), c.linkOwners[i], c.linkOwners[i]), 0);

        EXPECT_EXIT(SaveAsNobody(shared / "result.dat", NEW), ::testing::ExitedWithCode(c.exitCode), "");
        EXPECT_EQ(ReadBytes(mine / "private.dat"), c.exitCode == 0 ? NEW : privateBytes);
        EXPECT_TRUE(fs::is_symlink(shared / "result.dat"));
        EXPECT_EQ(Names(shared).size(), links.size()) << "no temporary file left";
        EXPECT_EQ(Names(mine), std::vector<std::string>{"private.dat"});
        for (const fs::path& link : links)
            fs::remove(link);
    }
}

} // namespace
