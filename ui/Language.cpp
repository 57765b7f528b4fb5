#include "ui/Language.h"

#include <algorithm>
#include <utility>

namespace {
std::string g_language;
TranslationHook g_hook;
} // namespace

std::string CatalogLanguageFor(const std::string& lcMessages, const std::vector<std::string>& available)
{
    // "ll_CC.codeset@modifier": the language is what precedes the first of '_', '.' and '@'.
    const std::string language = lcMessages.substr(0, lcMessages.find_first_of("_.@"));
    if (language.empty() || language == "C" || language == "POSIX")
        return {};
    if (std::find(available.begin(), available.end(), language) != available.end())
        return language;
    return "en";
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
