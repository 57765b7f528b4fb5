#include "ui/Catalog.h"

#include "res/Version.h"
#include "ui/Language.h"

#include <wx/arrstr.h>
#include <wx/translation.h>

#include <algorithm>
#include <clocale>
#include <cstdlib>
#include <system_error>
#include <utility>

namespace {

constexpr const char* DOMAIN_NAME = "tonvale";

std::filesystem::path CatalogFile(const std::filesystem::path& dir, const std::string& language)
{
    return dir / language / "LC_MESSAGES" / (std::string(DOMAIN_NAME) + ".mo");
}

std::vector<std::string> AvailableLanguages(const std::vector<std::filesystem::path>& dirs)
{
    std::vector<std::string> languages;
    for (const auto& dir : dirs) {
        std::error_code error;
        for (const auto& entry : std::filesystem::directory_iterator(dir, error)) {
            const std::string language = entry.path().filename().string();
            std::error_code missing;
            if (std::filesystem::is_regular_file(CatalogFile(dir, language), missing) &&
                std::find(languages.begin(), languages.end(), language) == languages.end())
                languages.push_back(language);
        }
    }
    return languages;
}

// Finds catalogs in our folders only: wxWidgets' own loader asks the application for its paths,
// and there is no application yet while --help is answered.
class CCatalogLoader : public wxTranslationsLoader {
public:
    explicit CCatalogLoader(std::vector<std::filesystem::path> dirs) : m_dirs(std::move(dirs)) {}

    wxMsgCatalog* LoadCatalog(const wxString& domain, const wxString& lang) override
    {
        for (const auto& dir : m_dirs) {
            const std::filesystem::path file = CatalogFile(dir, lang.utf8_string());
            std::error_code error;
            if (domain == DOMAIN_NAME && std::filesystem::is_regular_file(file, error))
                return wxMsgCatalog::CreateFromFile(wxString::FromUTF8(file.string()), domain);
        }
        return nullptr;
    }

    wxArrayString GetAvailableTranslations(const wxString&) const override
    {
        wxArrayString languages;
        for (const std::string& language : AvailableLanguages(m_dirs))
            languages.Add(wxString::FromUTF8(language));
        return languages;
    }

private:
    std::vector<std::filesystem::path> m_dirs;
};

} // namespace

std::vector<std::filesystem::path> DefaultCatalogDirs()
{
    std::vector<std::filesystem::path> dirs;
    std::error_code error;
    const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", error);
    if (!error && exe.has_parent_path())
        dirs.push_back(exe.parent_path().parent_path() / "locale");
    dirs.emplace_back(TONVALE_LOCALE_DIR);
    return dirs;
}

std::string InstallCatalog(const std::string& lcMessages, const std::string& languageList,
                           const std::vector<std::filesystem::path>& dirs)
{
    const std::string language = CatalogLanguageFor(lcMessages, AvailableLanguages(dirs), languageList);
    SetTranslation("", nullptr);
    wxTranslations::Set(nullptr);
    if (language.empty())
        return {};
    auto* translations = new wxTranslations;
    translations->SetLoader(new CCatalogLoader(dirs));
    translations->SetLanguage(wxString::FromUTF8(language));
    // The msgids are in no one language (Japanese and English mixed): unknown, so that the
    // catalog is loaded for every language, English and Japanese included.
    if (!translations->AddCatalog(DOMAIN_NAME, wxLANGUAGE_UNKNOWN)) {
        delete translations;
        return {};
    }
    wxTranslations::Set(translations);
    SetTranslation(language, [](const char* msgid) {
        return std::string(wxGetTranslation(wxString::FromUTF8(msgid)).utf8_str());
    });
    return language;
}

std::string UseEnvironmentLanguage()
{
    const char* locale = std::setlocale(LC_MESSAGES, "");
    std::string messages = locale != nullptr ? locale : "";
    if (locale == nullptr) {
        // The locale is not installed on this system: the language is still the one asked for.
        for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
            const char* value = std::getenv(name);
            if (value != nullptr && *value != '\0') {
                messages = value;
                break;
            }
        }
    }
    const char* list = std::getenv("LANGUAGE");
    return InstallCatalog(messages, list != nullptr ? list : "");
}
