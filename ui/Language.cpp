#include "ui/Language.h"

#include <algorithm>
#include <utility>

namespace {
std::string g_language;
TranslationHook g_hook;
} // namespace

namespace {
// "ll_CC.codeset@modifier": the language is what precedes the first of '_', '.' and '@'.
std::string LanguageOf(const std::string& locale)
{
    return locale.substr(0, locale.find_first_of("_.@"));
}
} // namespace

std::string CatalogLanguageFor(const std::string& lcMessages, const std::vector<std::string>& available,
                               const std::string& languageList)
{
    const std::string language = LanguageOf(lcMessages);
    if (language.empty() || language == "C" || language == "POSIX")
        return {};
    const auto has = [&](const std::string& l) {
        return !l.empty() && std::find(available.begin(), available.end(), l) != available.end();
    };
    for (std::size_t from = 0; from <= languageList.size();) {
        const std::size_t end = std::min(languageList.find(':', from), languageList.size());
        const std::string preferred = LanguageOf(languageList.substr(from, end - from));
        if (has(preferred))
            return preferred;
        from = end + 1;
    }
    return has(language) ? language : "en";
}

void SetTranslation(const std::string& language, TranslationHook hook)
{
    g_language = language;
    g_hook = std::move(hook);
}

const std::string& CatalogLanguage()
{
    return g_language;
}

std::string Translate(const char* msgid)
{
    if (msgid == nullptr)
        return {};
    if (!g_hook || *msgid == '\0')
        return msgid;
    return g_hook(msgid);
}
