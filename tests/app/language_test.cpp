// Which language the program speaks, from the environment as a desktop sets it, and what never
// follows the language: numbers keep the C locale's decimal point. The locales are made by
// tests/support/locales.sh in a folder of their own (LOCPATH).
#include "app/CommandLine.h"
#include "diagnoses/FormatHz.h"
#include "tests/support/ShowsJapanese.h"
#include "ui/Catalog.h"
#include "ui/Language.h"
#include "ui/Message.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <sstream>
#include <string>

#ifndef TONVALE_LOCALES_SCRIPT
#error "TONVALE_LOCALES_SCRIPT must name tests/support/locales.sh"
#endif

namespace {

std::string TestLocales()
{
    std::unique_ptr<FILE, int (*)(FILE*)> script(popen(TONVALE_LOCALES_SCRIPT, "r"), pclose);
    char line[4096] = {};
    if (script == nullptr || std::fgets(line, sizeof line, script.get()) == nullptr)
        return {};
    std::string dir = line;
    while (!dir.empty() && dir.back() == '\n')
        dir.pop_back();
    return dir;
}

TEST(CatalogLanguage, FromLcMessagesAndTheLanguageList)
{
    const std::vector<std::string> both = {"ja", "en"};
    for (const char* c : {"", "C", "POSIX", "C.UTF-8", "C.utf8"})
        EXPECT_EQ(CatalogLanguageFor(c, both, "ja:en"), "") << c;
    EXPECT_EQ(CatalogLanguageFor("ja_JP.UTF-8", both), "ja");
    EXPECT_EQ(CatalogLanguageFor("ja_JP.eucJP", both), "ja");
    EXPECT_EQ(CatalogLanguageFor("en_GB.UTF-8", both), "en");
    EXPECT_EQ(CatalogLanguageFor("de_DE.UTF-8", both), "en") << "a language without a catalog";
    EXPECT_EQ(CatalogLanguageFor("sr_RS.UTF-8@latin", both), "en");
    EXPECT_EQ(CatalogLanguageFor("de_DE.UTF-8", both, "fr:ja:en"), "ja") << "the list's first with a catalog";
    EXPECT_EQ(CatalogLanguageFor("ja_JP.UTF-8", {"en"}), "en") << "no Japanese catalog installed";
}

struct Desktop {
    const char* lang;
    const char* language; // the catalog chosen
};

class EnvironmentLanguage : public ::testing::TestWithParam<Desktop> {
protected:
    void SetUp() override
    {
        const std::string locales = TestLocales();
        ASSERT_FALSE(locales.empty()) << "the test locales could not be made";
        setenv("LOCPATH", locales.c_str(), 1);
        for (const char* name : {"LC_ALL", "LC_MESSAGES", "LC_NUMERIC", "LANGUAGE"})
            unsetenv(name);
        setenv("LANG", GetParam().lang, 1);
    }
    void TearDown() override
    {
        std::setlocale(LC_ALL, "C");
        InstallCatalog("C");
    }
};

TEST_P(EnvironmentLanguage, OnlyTheMessagesFollowTheDesktop)
{
    const Desktop desktop = GetParam();
    std::ostringstream todaysHelp, errors;
    const char* argv[] = {"tonvale", "--help"};
    ASSERT_EQ(HandleCommandLine(2, argv, todaysHelp, errors), 0);

    EXPECT_EQ(UseEnvironmentLanguage(), desktop.language);
    EXPECT_EQ(CatalogLanguage(), desktop.language);
    if (std::string(desktop.lang) != "C") {
        EXPECT_STREQ(std::setlocale(LC_MESSAGES, nullptr), desktop.lang) << "the locale was not there";
    }
    EXPECT_STREQ(std::setlocale(LC_NUMERIC, nullptr), "C");
    EXPECT_STREQ(std::setlocale(LC_TIME, nullptr), "C");

    // The fields and the log print and read numbers as they always did.
    EXPECT_EQ(FormatHz(880.0), "880.00");
    EXPECT_EQ(std::strtod("880.25", nullptr), 880.25);

    const std::string memory = Translate(OUT_OF_MEMORY_TEXT);
    std::ostringstream help;
    EXPECT_EQ(HandleCommandLine(2, argv, help, errors), 0);
    if (*desktop.language == '\0' || std::string(desktop.language) == "ja") {
        EXPECT_EQ(memory, OUT_OF_MEMORY_TEXT) << "today's text, byte for byte";
        EXPECT_EQ(help.str(), todaysHelp.str());
    } else {
        EXPECT_EQ(memory, "Out of memory.");
        EXPECT_FALSE(ShowsJapanese(help.str()));
    }
}

INSTANTIATE_TEST_SUITE_P(Desktops, EnvironmentLanguage,
                         ::testing::Values(Desktop{"C", ""}, Desktop{"ja_JP.UTF-8", "ja"},
                                           Desktop{"en_US.UTF-8", "en"}, Desktop{"de_DE.UTF-8", "en"}),
                         [](const auto& info) {
                             return std::string(info.param.language[0] ? info.param.language : "C") + "_" +
                                    std::to_string(info.index);
                         });

} // namespace
