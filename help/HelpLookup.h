#pragma once
// Where the help file is found. Window-less, so it can be checked without a display.
#include <filesystem>
#include <string>
#include <vector>

// The directories searched for a bare help file name, in this order: the working directory, the
// executable's directory, the installed data directory. A directory that cannot be read is left out.
std::vector<std::filesystem::path> DefaultHelpSearchDirs();

// The first regular file `file` in `dirs` (an absolute `file` is taken as it stands), or an empty path.
// With a catalog `language` ("ja"), that language's translation `<dir>/<language>/<file>` is looked
// for in every directory first, then the English `file` as without one; "" (and "en", which has no
// folder) finds the English file.
std::filesystem::path ResolveHelpFile(const std::filesystem::path& file,
                                      const std::vector<std::filesystem::path>& dirs,
                                      const std::string& language = {});
