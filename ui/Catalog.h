#pragma once
// Loading the listener's catalog: the compiled po/<language>.po, found as
// <dir>/<language>/LC_MESSAGES/tonvale.mo. Installed once for wxWidgets (wxTranslations: the
// dialog templates' texts and every _() in the windows) and for Translate (the folders without
// windows). Works before the toolkit starts, so that --help speaks the same language.
#include <filesystem>
#include <string>
#include <vector>

// The catalog folders: the build tree's (beside bin/, when run from the checkout), then the
// installed one.
std::vector<std::filesystem::path> DefaultCatalogDirs();

// Chooses the catalog for `lcMessages` (see CatalogLanguageFor) among those in `dirs` and installs
// it; for C, POSIX or a missing catalog file it removes any catalog, so that every text stays as
// written. Returns the language installed, "" for none.
std::string InstallCatalog(const std::string& lcMessages, const std::string& languageList = "",
                           const std::vector<std::filesystem::path>& dirs = DefaultCatalogDirs());

// The program's start: LC_MESSAGES alone follows the environment (numbers, the fields and the log
// keep the C locale's decimal point), and its catalog is installed. Returns the language.
std::string UseEnvironmentLanguage();
