#include "results/CGeneralFile.h"

#include "ui/Language.h"
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

// A directory descriptor we may or may not own: the caller's (or AT_FDCWD) until a lookup moves on.
class CDirectory {
public:
    explicit CDirectory(int borrowed) : m_fd(borrowed) {}
    int Get() const { return m_fd; }
    void Own(int fd)
    {
        m_owned = fd;
        m_fd = m_owned.Get();
    }

private:
    int m_fd;
    CDescriptor m_owned;
};

std::vector<std::string> Components(const std::string& path)
{
    std::vector<std::string> parts;
    std::string::size_type begin = 0;
    while (begin <= path.size()) {
        std::string::size_type slash = path.find('/', begin);
        if (slash == std::string::npos)
            slash = path.size();
        std::string part = path.substr(begin, slash - begin);
        if (!part.empty() && part != ".")
            parts.push_back(std::move(part));
        begin = slash + 1;
    }
    return parts;
}

} // namespace

bool MayFollow(int directory, const struct stat& link)
{
    struct stat dir {};
    if (::fstatat(directory, "", &dir, AT_EMPTY_PATH) != 0)
        return false;
    const bool shared = (dir.st_mode & S_ISVTX) != 0 && (dir.st_mode & S_IWOTH) != 0;
    return !shared || link.st_uid == ::geteuid() || link.st_uid == dir.st_uid;
}

namespace {

bool ReadLink(int directory, const std::string& name, const struct stat& link, std::string& text)
{
    // The size fstatat reports may be 0 (some filesystems) or stale: grow until the text fits.
    std::vector<char> buffer(static_cast<std::size_t>(link.st_size > 0 ? link.st_size : 255) + 1);
    ssize_t length;
    while ((length = ::readlinkat(directory, name.c_str(), buffer.data(), buffer.size())) >= 0 &&
           static_cast<std::size_t>(length) == buffer.size())
        buffer.resize(buffer.size() * 2);
    if (length <= 0)
        return false;
    text.assign(buffer.data(), static_cast<std::size_t>(length));
    return true;
}

// Walks `path` from `directory` one name at a time, following symbolic links ourselves, so that no
// path ever has to fit PATH_MAX and every link passes MayFollow. On success `directory` holds the
// directory of the final name and `name` that name, which is not a link and need not exist yet.
// False for a loop, a refused link or a directory on the way that cannot be entered.
bool Resolve(const std::string& path, CDirectory& directory, std::string& name)
{
    constexpr int MAX_LINK_HOPS = 40; // as the kernel's own limit
    int hops = 0;
    std::vector<std::string> rest = Components(path);
    if (!path.empty() && path.front() == '/')
        directory.Own(::open("/", O_PATH | O_DIRECTORY | O_CLOEXEC));
    while (!rest.empty()) {
        if (directory.Get() < 0 && directory.Get() != AT_FDCWD)
            return false;
        std::string part = std::move(rest.front());
        rest.erase(rest.begin());
        struct stat st {};
        if (::fstatat(directory.Get(), part.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
            if (errno != ENOENT || !rest.empty())
                return false;
            name = part;
            return true;
        }
        if (S_ISLNK(st.st_mode)) {
            std::string text;
            if (++hops > MAX_LINK_HOPS || !MayFollow(directory.Get(), st) ||
                !ReadLink(directory.Get(), part, st, text))
                return false;
            std::vector<std::string> target = Components(text);
            rest.insert(rest.begin(), target.begin(), target.end());
            if (text.front() == '/')
                directory.Own(::open("/", O_PATH | O_DIRECTORY | O_CLOEXEC));
            if (rest.empty()) { // a link to "/" or "."
                name = ".";
                return true;
            }
            continue;
        }
        if (rest.empty()) {
            name = part;
            return true;
        }
        directory.Own(::openat(directory.Get(), part.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    }
    if (directory.Get() < 0 && directory.Get() != AT_FDCWD)
        return false;
    name = "."; // the path names a directory itself
    return true;
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

// A name for the temporary file beside `name` that no other save is likely to pick.
std::string TemporaryName(const std::string& name, unsigned attempt)
{
    static unsigned s_counter = 0;
    auto ticks = static_cast<unsigned long long>(std::chrono::steady_clock::now().time_since_epoch().count());
    char suffix[64];
    std::snprintf(suffix, sizeof suffix, ".%ld.%llx.%x.tmp", static_cast<long>(::getpid()), ticks,
                  ++s_counter + attempt);
    return "." + name + suffix;
}

void SyncDirectory(int directory)
{
    CDescriptor dir(::openat(directory, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.IsOpen())
        ::fsync(dir.Get()); // best effort: the rename itself has already happened
}

enum class ReplaceResult { Done, WriteFailed, NoTemporary };

// Writes the new content to a temporary file beside `name` in `directory`, flushes it and renames
// it over the target. `old` describes the existing target (nullptr when there is none); its owner
// and permissions carry over. NoTemporary means nothing was changed and the caller may write in
// place.
ReplaceResult Replace(int directory, const std::string& name, const struct stat* old, const void* buffer,
                      int length)
{
    std::string temporary;
    CDescriptor file;
    for (unsigned attempt = 0; attempt < 100 && !file.IsOpen(); ++attempt) {
        temporary = TemporaryName(name, attempt);
        // 0666 under the umask, as a newly created result file would get.
        file = ::openat(directory, temporary.c_str(),
                        O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC, 0666);
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
            ::unlinkat(directory, temporary.c_str(), 0);
            return ReplaceResult::NoTemporary;
        }
    }

    if (!WriteAll(file.Get(), buffer, length) || ::fsync(file.Get()) != 0 || !file.Close()) {
        ::unlinkat(directory, temporary.c_str(), 0);
        return ReplaceResult::WriteFailed;
    }

    if (g_beforeReplace != nullptr)
        g_beforeReplace(temporary);

    // Should the directory still refuse the rename, the target itself is known to be writable.
    if (::renameat(directory, temporary.c_str(), directory, name.c_str()) != 0) {
        ::unlinkat(directory, temporary.c_str(), 0);
        return ReplaceResult::NoTemporary;
    }
    SyncDirectory(directory);
    return ReplaceResult::Done;
}

// Opens the regular file `path` leads to for reading; -1 for anything else (no message).
int OpenForReading(int start, const std::string& path)
{
    CDirectory directory(start);
    std::string name;
    struct stat st {};
    // Never open anything but a regular file: opening a device or a pipe can block or act.
    if (!Resolve(path, directory, name) ||
        ::fstatat(directory.Get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode))
        return -1;
    return ::openat(directory.Get(), name.c_str(), O_RDONLY | O_NOFOLLOW | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
}

} // namespace

int OpenAt(int directory, const std::string& path, int flags, unsigned mode)
{
    CDirectory dir(directory);
    std::string name;
    errno = 0;
    if (!Resolve(path, dir, name)) {
        if (errno == 0) // a link refused, or too many
            errno = EACCES;
        return -1;
    }
    const int fd =
        ::openat(dir.Get(), name.c_str(), flags | O_NOFOLLOW | O_CLOEXEC, static_cast<mode_t>(mode));
    if (fd >= 0 && (flags & (O_CREAT | O_EXCL)) == (O_CREAT | O_EXCL))
        SyncDirectory(dir.Get());
    return fd;
}

int Save(int directory, const std::string& path, const void* buffer, int length)
{
    if (length < 0)
        length = 0;

    CDirectory dir(directory);
    std::string name;
    if (!Resolve(path, dir, name)) {
        ReportError(ERROR_OPEN);
        return 0;
    }

    // An existing target must be a regular file that we may open for writing; it is opened (not
    // truncated) here so that a read-only file, a directory or a device stays untouched.
    struct stat old {};
    CDescriptor inPlace;
    bool exists = ::fstatat(dir.Get(), name.c_str(), &old, AT_SYMLINK_NOFOLLOW) == 0;
    if (!exists && errno != ENOENT) {
        ReportError(ERROR_OPEN);
        return 0;
    }
    if (exists) {
        if (S_ISREG(old.st_mode))
            inPlace =
                ::openat(dir.Get(), name.c_str(), O_WRONLY | O_NOFOLLOW | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (!inPlace.IsOpen() || ::fstat(inPlace.Get(), &old) != 0 || !S_ISREG(old.st_mode)) {
            ReportError(ERROR_OPEN);
            return 0;
        }
    }

    // A file with several hard links is rewritten in place, so that every name keeps seeing it.
    if (!exists || old.st_nlink == 1) {
        switch (Replace(dir.Get(), name, exists ? &old : nullptr, buffer, length)) {
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
        inPlace =
            ::openat(dir.Get(), name.c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC, 0666);
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

int Load(int directory, const std::string& path, void* buffer, int& count)
{
    const int capacity = count > 0 ? count : 0;
    count = 0;

    CDescriptor file(OpenForReading(directory, path));
    if (!file.IsOpen()) {
        ReportError(ERROR_OPEN);
        return 0;
    }
    struct stat st {};
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

int Exists(int directory, const std::string& path)
{
    CDescriptor file(OpenForReading(directory, path));
    return file.IsOpen() ? 1 : 0;
}

int Save(const std::string& path, const void* buffer, int length)
{
    return Save(AT_FDCWD, path, buffer, length);
}

int Load(const std::string& path, void* buffer, int& count)
{
    return Load(AT_FDCWD, path, buffer, count);
}

int Exists(const std::string& path)
{
    return Exists(AT_FDCWD, path);
}

void ReportError(int code)
{
    switch (code) {
    case ERROR_OPEN:
        ShowMessage(Translate("CGeneralFile:ファイルをオープンできませんでした。"));
        break;
    case ERROR_SIZE:
        ShowMessage(Translate("CGeneralFile:ファイルサイズを取得できませんでした。"));
        break;
    case ERROR_WRITE:
        ShowMessage(Translate("CGeneralFile:ファイルに書き込めませんでした。"));
        break;
    default:
        ShowMessage(Translate("CGeneralFile:未定義のエラーが発生しました。"));
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
