#pragma once
// The listener's language. Every text a user sees is written in the code as it has always been
// shown (the catalog's msgid) and passes through Translate on its way to the screen; the program
// chooses the catalog once at start-up from LC_MESSAGES and installs it here, as it installs its
// message sink. Without one (the C locale, window-less tests) every text stays as written.
//
// Threads: installed before any other thread starts; Translate from any thread afterwards.
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

// Marks a text for the catalog where it is defined (in a table), to be translated where it is shown.
#define TR_NOOP(text) text

// The catalog for an LC_MESSAGES value: "" for C, POSIX, C.<codeset> or none at all (today's texts
// exactly), the value's language where `available` has a catalog for it ("ja_JP.UTF-8" → "ja"),
// and English ("en") for any other language. Outside the C locale, a LANGUAGE list ("ja:en", as
// gettext reads it) is asked first: its first entry with a catalog wins.
std::string CatalogLanguageFor(const std::string& lcMessages, const std::vector<std::string>& available,
                               const std::string& languageList = "");

// Answers a msgid with its text in the catalog's language, UTF-8.
using TranslationHook = std::function<std::string(const char* msgid)>;
// Installs the catalog's language ("" for none) and its translation (nullptr: texts as written).
void SetTranslation(const std::string& language, TranslationHook hook);
// The language installed: "" without a catalog.
const std::string& CatalogLanguage();

// `msgid` in the listener's language.
std::string Translate(const char* msgid);
inline std::string Translate(const std::string& msgid)
{
    return Translate(msgid.c_str());
}

// A message composed from parts, translated as one whole format string (printf's conversions; a
// catalog may not reorder them).
template <typename... Args> std::string TranslateFormat(const char* msgid, Args... args)
{
    const std::string format = Translate(msgid);
    const int size = std::snprintf(nullptr, 0, format.c_str(), args...);
    if (size <= 0)
        return {};
    std::string text(static_cast<std::size_t>(size) + 1, '\0');
    std::snprintf(text.data(), text.size(), format.c_str(), args...);
    text.resize(static_cast<std::size_t>(size));
    return text;
}
