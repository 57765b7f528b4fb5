#include "results/CGeneralFile.h"

#include "ui/Message.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace CGeneralFile {

namespace {

testing_hooks::BeforeReplaceHook g_beforeReplace = nullptr;

// Closes the descriptor it holds when it goes out of scope.
class CDescriptor {
public:
    explicit CDescriptor(int fd = -1) : m_fd(fd) {}
    ~CDescriptor()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    CDescriptor(const CDescriptor&) = delete;
    CDescriptor& operator=(const CDescriptor&) = delete;
    CDescriptor& operator=(int fd)
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = fd;
        return *this;
    }

    int Get() const { return m_fd; }
    bool IsOpen() const { return m_fd >= 0; }
    // Closes now: a delayed write error shows up here, so the result counts.
    bool Close()
    {
        int fd = m_fd;
        m_fd = -1;
        return ::close(fd) == 0;
    }

private:
    int m_fd;
};

std::string DirectoryOf(const std::string& path)
{
    std::string::size_type slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return ".";
    if (slash == 0)
        return "/";
    return path.substr(0, slash);
}

std::string NameOf(const std::string& path)
{
    std::string::size_type slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Follows symbolic links from `path` to the name they finally lead to (which need not exist yet),
// so that a save replaces the link's target and leaves the link itself alone. False on a loop.
bool FollowLinks(const std::string& path, std::string& target)
{
    constexpr int MAX_LINK_HOPS = 40; // as the kernel's own limit
    std::string current = path;
    for (int hop = 0; hop <= MAX_LINK_HOPS; ++hop) {
        struct stat st {};
        if (::lstat(current.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) {
            target = current;
            return true;
        }
        std::vector<char> text(static_cast<std::size_t>(st.st_size > 0 ? st.st_size : 255) + 1);
        ssize_t length;
        // The size lstat reports may be 0 (some filesystems) or stale: grow until the text fits.
        while ((length = ::readlink(current.c_str(), text.data(), text.size())) >= 0 &&
               static_cast<std::size_t>(length) == text.size())
            text.resize(text.size() * 2);
        if (length <= 0)
            return false;
        std::string link(text.data(), static_cast<std::size_t>(length));
        current = link.front() == '/' ? link : DirectoryOf(current) + "/" + link;
    }
    return false;
}

bool WriteAll(int fd, const void* buffer, int length)
{
    const char* bytes = static_cast<const char*>(buffer);
    std::size_t left = static_cast<std::size_t>(length);
    while (left > 0) {
        ssize_t written = ::write(fd, bytes, left);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        bytes += written;
        left -= static_cast<std::size_t>(written);
    }
    return true;
}

// A name for the temporary file beside `target` that no other save is likely to pick.
std::string TemporaryName(const std::string& target, unsigned attempt)
{
    static unsigned s_counter = 0;
    auto ticks = static_cast<unsigned long long>(std::chrono::steady_clock::now().time_since_epoch().count());
    char suffix[64];
    std::snprintf(suffix, sizeof suffix, ".%ld.%llx.%x.tmp", static_cast<long>(::getpid()), ticks,
                  ++s_counter + attempt);
    return DirectoryOf(target) + "/." + NameOf(target) + suffix;
}

void SyncDirectory(const std::string& directory)
{
    CDescriptor dir(::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.IsOpen())
        ::fsync(dir.Get()); // best effort: the rename itself has already happened
}

enum class ReplaceResult { Done, WriteFailed, NoTemporary };

// Writes the new content to a temporary file beside `target`, flushes it and renames it over the
// target. `old` describes the existing target (nullptr when there is none); its owner and
// permissions carry over. NoTemporary means nothing was changed and the caller may write in place.
ReplaceResult Replace(const std::string& target, const struct stat* old, const void* buffer, int length)
{
    std::string temporary;
    CDescriptor file;
    for (unsigned attempt = 0; attempt < 100 && !file.IsOpen(); ++attempt) {
        temporary = TemporaryName(target, attempt);
        // 0666 under the umask, as a newly created result file would get.
        file = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOCTTY | O_CLOEXEC, 0666);
        if (!file.IsOpen() && errno != EEXIST)
            return ReplaceResult::NoTemporary;
    }
    if (!file.IsOpen())
        return ReplaceResult::NoTemporary;

    if (old != nullptr) {
        // Owner first: changing it clears the set-id bits that the mode then restores. Someone
        // else's file (in a shared, sticky directory, say) cannot become ours: write it in place.
        bool kept = (old->st_uid == ::geteuid() && old->st_gid == ::getegid()) ||
                    ::fchown(file.Get(), old->st_uid, old->st_gid) == 0;
        kept = kept && ::fchmod(file.Get(), old->st_mode & 07777) == 0;
        if (!kept) {
            ::unlink(temporary.c_str());
            return ReplaceResult::NoTemporary;
        }
    }

    if (!WriteAll(file.Get(), buffer, length) || ::fsync(file.Get()) != 0 || !file.Close()) {
        ::unlink(temporary.c_str());
        return ReplaceResult::WriteFailed;
    }

    if (g_beforeReplace != nullptr)
        g_beforeReplace(temporary);

    // Should the directory still refuse the rename, the target itself is known to be writable.
    if (::rename(temporary.c_str(), target.c_str()) != 0) {
        ::unlink(temporary.c_str());
        return ReplaceResult::NoTemporary;
    }
    SyncDirectory(DirectoryOf(target));
    return ReplaceResult::Done;
}

} // namespace

int Save(const std::string& path, const void* buffer, int length)
{
    if (length < 0)
        length = 0;

    std::string target;
    if (!FollowLinks(path, target)) {
        ReportError(ERROR_OPEN);
        return 0;
    }

    // An existing target must be a regular file that we may open for writing; it is opened (not
    // truncated) here so that a read-only file, a directory or a device stays untouched.
    struct stat old {};
    CDescriptor inPlace;
    bool exists = ::stat(target.c_str(), &old) == 0;
    if (!exists && errno != ENOENT) {
        ReportError(ERROR_OPEN);
        return 0;
    }
    if (exists) {
        if (S_ISREG(old.st_mode))
            inPlace = ::open(target.c_str(), O_WRONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (!inPlace.IsOpen() || ::fstat(inPlace.Get(), &old) != 0 || !S_ISREG(old.st_mode)) {
            ReportError(ERROR_OPEN);
            return 0;
        }
    }

    // A file with several hard links is rewritten in place, so that every name keeps seeing it.
    if (!exists || old.st_nlink == 1) {
        switch (Replace(target, exists ? &old : nullptr, buffer, length)) {
        case ReplaceResult::Done:
            return 1;
        case ReplaceResult::WriteFailed:
            ReportError(ERROR_WRITE);
            return 0;
        case ReplaceResult::NoTemporary:
            break;
        }
    }

    if (!inPlace.IsOpen()) {
        inPlace = ::open(target.c_str(), O_WRONLY | O_CREAT | O_NOCTTY | O_CLOEXEC, 0666);
        if (!inPlace.IsOpen()) {
            ReportError(ERROR_OPEN);
            return 0;
        }
    }
    // Write first and cut the rest afterwards, so that an interrupted save leaves no shortened file.
    if (!WriteAll(inPlace.Get(), buffer, length) || ::ftruncate(inPlace.Get(), length) != 0 ||
        ::fsync(inPlace.Get()) != 0 || !inPlace.Close()) {
        ReportError(ERROR_WRITE);
        return 0;
    }
    return 1;
}

int Load(const std::string& path, void* buffer, int& count)
{
    const int capacity = count > 0 ? count : 0;
    count = 0;

    // Never open anything but a regular file: opening a device or a pipe can block or act.
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
        ReportError(ERROR_OPEN);
        return 0;
    }
    CDescriptor file(::open(path.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (!file.IsOpen()) {
        ReportError(ERROR_OPEN);
        return 0;
    }
    if (::fstat(file.Get(), &st) != 0) {
        ReportError(ERROR_SIZE);
        return 0;
    }
    if (!S_ISREG(st.st_mode)) {
        ReportError(ERROR_OPEN);
        return 0;
    }

    // Read into a scratch buffer so that a read error leaves the caller's block as it was.
    std::vector<unsigned char> data(static_cast<std::size_t>(capacity));
    std::size_t got = 0;
    while (got < data.size()) {
        ssize_t n = ::read(file.Get(), data.data() + got, data.size() - got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            ReportError(ERROR_UNDEFINED);
            return 0;
        }
        if (n == 0)
            break;
        got += static_cast<std::size_t>(n);
    }
    if (got > 0)
        std::memcpy(buffer, data.data(), got);
    count = static_cast<int>(got);
    return 1;
}

int Exists(const std::string& path)
{
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return 0;
    CDescriptor file(::open(path.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    return file.IsOpen() ? 1 : 0;
}

void ReportError(int code)
{
    switch (code) {
    case ERROR_OPEN:
        ShowMessage("CGeneralFile:ファイルをオープンできませんでした。");
        break;
    case ERROR_SIZE:
        ShowMessage("CGeneralFile:ファイルサイズを取得できませんでした。");
        break;
    case ERROR_WRITE:
        ShowMessage("CGeneralFile:ファイルに書き込めませんでした。");
        break;
    default:
        ShowMessage("CGeneralFile:未定義のエラーが発生しました。");
        break;
    }
}

namespace testing_hooks {
void SetBeforeReplaceHook(BeforeReplaceHook hook)
{
    g_beforeReplace = hook;
}
} // namespace testing_hooks

} // namespace CGeneralFile
