#include "help/HelpLookup.h"

#include "res/Version.h"

#include <system_error>

std::vector<std::filesystem::path> DefaultHelpSearchDirs()
{
    std::vector<std::filesystem::path> dirs;
    std::error_code error;
    std::filesystem::path cwd = std::filesystem::current_path(error);
    if (!error)
        dirs.push_back(std::move(cwd));
    const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", error);
    if (!error && exe.has_parent_path())
        dirs.push_back(exe.parent_path());
    dirs.emplace_back(TONVALE_DATA_DIR);
    return dirs;
}

std::filesystem::path ResolveHelpFile(const std::filesystem::path& file,
                                      const std::vector<std::filesystem::path>& dirs,
                                      const std::string& language)
{
    std::error_code error;
    if (file.empty())
        return {};
    if (file.is_absolute())
        return std::filesystem::is_regular_file(file, error) ? file : std::filesystem::path();
    // A translation anywhere beats the English file in an earlier directory: an installed program
    // run from a folder holding an English copy still shows the listener's language.
    if (!language.empty()) {
        for (const auto& dir : dirs) {
            std::filesystem::path candidate = dir / language / file;
            if (std::filesystem::is_regular_file(candidate, error))
                return candidate;
        }
    }
    for (const auto& dir : dirs) {
        std::filesystem::path candidate = dir / file;
        if (std::filesystem::is_regular_file(candidate, error))
            return candidate;
    }
    return {};
}
