#include "report/ReportPage.h"

#include "checklog/CheckLog.h"
#include "report/ResultReport.h"

#include <cerrno>
#include <cstdlib>

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string HomeDirectory()
{
    const char* home = std::getenv("HOME");
    if (home != nullptr && home[0] == '/')
        return home;
    const passwd* entry = ::getpwuid(::geteuid());
    return entry != nullptr && entry->pw_dir != nullptr ? entry->pw_dir : "";
}

// Creates `path` and any missing parent with mode 0700. An existing last folder must be a real
// folder of ours: the page is the listener's own.
bool MakePrivateDirectory(const std::string& path)
{
    for (std::string::size_type slash = path.find('/', 1); slash != std::string::npos;
         slash = path.find('/', slash + 1)) {
        if (::mkdir(path.substr(0, slash).c_str(), 0700) != 0 && errno != EEXIST)
            return false;
    }
    if (::mkdir(path.c_str(), 0700) == 0)
        return true;
    struct stat st {};
    return errno == EEXIST && ::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) &&
           st.st_uid == ::geteuid();
}

bool WriteAll(int fd, const std::string& bytes)
{
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

} // namespace

std::string ReportCacheDirectory()
{
    const char* cache = std::getenv("XDG_CACHE_HOME");
    if (cache != nullptr && cache[0] == '/')
        return std::string(cache) + "/tonvale";
    const std::string home = HomeDirectory();
    return home.empty() ? std::string() : home + "/.cache/tonvale";
}

std::string WriteReportPage(const std::string& html)
{
    const std::string dir = ReportCacheDirectory();
    if (dir.empty() || !MakePrivateDirectory(dir))
        return {};
    // Written beside and renamed over the old page, so a browser never shows half a page.
    std::string temporary = dir + "/." + REPORT_PAGE_NAME + ".XXXXXX";
    const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0)
        return {};
    const bool written = ::fchmod(fd, 0600) == 0 && WriteAll(fd, html);
    if (::close(fd) != 0 || !written) {
        ::unlink(temporary.c_str());
        return {};
    }
    const std::string page = dir + "/" + REPORT_PAGE_NAME;
    if (::rename(temporary.c_str(), page.c_str()) != 0) {
        ::unlink(temporary.c_str());
        return {};
    }
    return page;
}

std::string FileUrl(const std::string& path)
{
    static const char HEX[] = "0123456789ABCDEF";
    std::string url = "file://";
    for (unsigned char c : path) {
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
            std::string_view("/-._~").find(char(c)) != std::string_view::npos) {
            url += char(c);
        } else {
            url += '%';
            url += HEX[c >> 4];
            url += HEX[c & 15];
        }
    }
    return url;
}

std::string ReportTimeNow()
{
    std::string text = LogTimeText(std::chrono::system_clock::now()).substr(0, 16);
    text[10] = ' ';
    return text;
}

std::string BuildReportForFolder(const ResultRecordData& record, int directoryFd, bool foreignResultFile)
{
    ReportSources sources;
    sources.foreignResultFile = foreignResultFile;
    const auto rows = ParseCheckLog(ReadCheckLogAt(directoryFd), &sources.malformedRows);
    return BuildResultReport(record, rows, ReportTimeNow(), sources);
}
