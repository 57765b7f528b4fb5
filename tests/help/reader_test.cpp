// The compiled help file and how it is found and read, without a window.
#include "help/CChmFile.h"
#include "help/CChmLibrary.h"
#include "help/HelpLookup.h"
#include "tests/support/TempDir.h"

#include "res/Version.h"

#include <chm_lib.h>
#include <gtest/gtest.h>

#include <cctype>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <utility>

namespace {

const char* const TOPICS[] = {"index.htm", "range.htm", "interval.htm", "question.htm", "results.htm"};
const std::string JAPANESE_HELP_FILE = std::string(TONVALE_TEST_PROGRAM_DIR) + "/ja/Tonvale.chm";
// For the English catalog: the English topics with the notices they quote in English too.
const std::string ENGLISH_HELP_FILE = std::string(TONVALE_TEST_PROGRAM_DIR) + "/en/Tonvale.chm";
// The file without a catalog and every translation: each must be a whole help of its own.
const std::string HELP_FILES[] = {TONVALE_TEST_HELP_FILE, JAPANESE_HELP_FILE, ENGLISH_HELP_FILE};

// Every object of a compiled file, read with chmlib itself rather than the program's reader.
std::map<std::string, std::string> ReadAllObjects(const char* path)
{
    std::map<std::string, std::string> objects;
    chmFile* file = chm_open(path);
    if (file == nullptr)
        return objects;
    chm_enumerate(
        file, CHM_ENUMERATE_NORMAL | CHM_ENUMERATE_FILES,
        [](chmFile* h, chmUnitInfo* ui, void* context) -> int {
            std::string bytes(static_cast<size_t>(ui->length), '\0');
            if (ui->length > 0)
                chm_retrieve_object(h, ui, reinterpret_cast<unsigned char*>(bytes.data()), 0,
                                    static_cast<LONGINT64>(ui->length));
            (*static_cast<std::map<std::string, std::string>*>(context))[ui->path] = bytes;
            return CHM_ENUMERATOR_CONTINUE;
        },
        &objects);
    chm_close(file);
    return objects;
}

bool IsValidUtf8(const std::string& text)
{
    size_t i = 0;
    while (i < text.size()) {
        const auto c = static_cast<unsigned char>(text[i]);
        size_t extra = c < 0x80 ? 0 : (c >> 5) == 0x6 ? 1 : (c >> 4) == 0xE ? 2 : (c >> 3) == 0x1E ? 3 : 99;
        if (extra == 99 || i + extra >= text.size())
            return false;
        for (size_t k = 1; k <= extra; ++k)
            if ((static_cast<unsigned char>(text[i + k]) >> 6) != 0x2)
                return false;
        i += extra + 1;
    }
    return true;
}

std::set<std::string> LinkTargets(const std::string& html)
{
    std::set<std::string> targets;
    const std::string marker = "href=\"";
    for (size_t at = html.find(marker); at != std::string::npos; at = html.find(marker, at)) {
        at += marker.size();
        const size_t end = html.find('"', at);
        if (end == std::string::npos)
            break;
        targets.insert(html.substr(at, end - at));
    }
    return targets;
}

// The text of the page's <title>, without surrounding blanks.
std::string Title(const std::string& html)
{
    const size_t open = html.find("<title>");
    const size_t close = html.find("</title>");
    if (open == std::string::npos || close == std::string::npos || close < open)
        return {};
    std::string title = html.substr(open + 7, close - open - 7);
    const size_t first = title.find_first_not_of(" \t\r\n");
    const size_t last = title.find_last_not_of(" \t\r\n");
    return first == std::string::npos ? std::string() : title.substr(first, last - first + 1);
}

// The page's text without its tags: how many characters are Japanese (kana and kanji) and how many
// are Latin letters.
std::pair<size_t, size_t> JapaneseAndLatinLetters(const std::string& html)
{
    size_t japanese = 0;
    size_t latin = 0;
    bool inTag = false;
    for (size_t i = 0; i < html.size(); ++i) {
        const auto c = static_cast<unsigned char>(html[i]);
        if (c == '<' || c == '>') {
            inTag = c == '<';
        } else if (!inTag && std::isalpha(c)) {
            ++latin;
        } else if (!inTag && (c >> 4) == 0xE && i + 2 < html.size()) {
            // Three-byte UTF-8: U+3040..U+30FF (kana) and U+4E00..U+9FFF (kanji).
            const unsigned code = ((c & 0x0Fu) << 12) |
                                  ((static_cast<unsigned char>(html[i + 1]) & 0x3Fu) << 6) |
                                  (static_cast<unsigned char>(html[i + 2]) & 0x3Fu);
            if ((code >= 0x3040 && code <= 0x30FF) || (code >= 0x4E00 && code <= 0x9FFF))
                ++japanese;
            i += 2;
        }
    }
    return {japanese, latin};
}

size_t Count(const std::string& text, const std::string& piece)
{
    size_t count = 0;
    for (size_t at = text.find(piece); at != std::string::npos; at = text.find(piece, at + 1))
        ++count;
    return count;
}

void Touch(const std::filesystem::path& path, const std::string& content = "x")
{
    std::ofstream(path, std::ios::binary) << content;
}

} // namespace

TEST(HelpFile, HoldsTheTopicsAsUtf8HtmlWithTitles)
{
    for (const std::string& file : HELP_FILES) {
        const auto objects = ReadAllObjects(file.c_str());
        ASSERT_FALSE(objects.empty()) << "cannot open " << file;
        for (const char* topic : TOPICS) {
            SCOPED_TRACE(file + ": " + topic);
            const auto it = objects.find(std::string("/") + topic);
            ASSERT_NE(it, objects.end());
            const std::string& html = it->second;
            EXPECT_TRUE(IsValidUtf8(html));
            // wxHtmlWindow reads a page as Latin-1 unless the page names its encoding.
            EXPECT_NE(html.find("charset=utf-8"), std::string::npos);
            EXPECT_FALSE(Title(html).empty());
            EXPECT_NE(html.find("</html>"), std::string::npos) << "cut short";
        }
    }
}

TEST(HelpFile, EveryLinkLeadsToATopicAndEveryTopicIsReachable)
{
    for (const std::string& file : HELP_FILES) {
        const auto objects = ReadAllObjects(file.c_str());
        ASSERT_FALSE(objects.empty()) << "cannot open " << file;
        std::set<std::string> linkedTo;
        for (const char* topic : TOPICS) {
            SCOPED_TRACE(file + ": " + topic);
            const auto it = objects.find(std::string("/") + topic);
            ASSERT_NE(it, objects.end());
            const std::set<std::string> targets = LinkTargets(it->second);
            EXPECT_FALSE(targets.empty());
            for (const std::string& target : targets) {
                const std::string file = target.substr(0, target.find('#'));
                EXPECT_EQ(file.find(':'), std::string::npos) << "link out of the help: " << target;
                EXPECT_EQ(objects.count("/" + file), 1u) << "broken link: " << target;
                linkedTo.insert(file);
            }
            // Each topic leads back to the start page or on to the others.
            if (std::string(topic) != "index.htm") {
                EXPECT_EQ(targets.count("index.htm"), 1u);
            }
        }
        for (const char* topic : TOPICS)
            EXPECT_EQ(linkedTo.count(topic), 1u) << file << ": " << topic << " is linked from no topic";
    }
}

TEST(HelpFile, TheJapaneseTopicsAreTheEnglishOnesInJapanese)
{
    const auto english = ReadAllObjects(TONVALE_TEST_HELP_FILE);
    const auto japanese = ReadAllObjects(JAPANESE_HELP_FILE.c_str());
    ASSERT_FALSE(japanese.empty()) << "cannot open " << JAPANESE_HELP_FILE;
    for (const char* topic : TOPICS) {
        SCOPED_TRACE(topic);
        const auto ja = japanese.find(std::string("/") + topic);
        ASSERT_NE(ja, japanese.end());
        const std::string& en = english.at(std::string("/") + topic);
        const std::string& html = ja->second;
        EXPECT_NE(html.find("<html lang=\"ja\">"), std::string::npos);
        // Japanese text, not an English page with a few Japanese messages quoted (as the English
        // pages have): kana and kanji outnumber the Latin letters (file and column names).
        const auto [kanaAndKanji, latin] = JapaneseAndLatinLetters(html);
        EXPECT_GT(kanaAndKanji, latin);
        EXPECT_GT(kanaAndKanji, 500u);
        // The same links and the same outline as the English topic.
        EXPECT_EQ(LinkTargets(html), LinkTargets(en));
        for (const char* tag : {"<h2>", "<h3>", "<li>", "<tr>"})
            EXPECT_EQ(Count(html, tag), Count(en, tag)) << tag;
    }
}

TEST(HelpFile, TheEnglishCatalogsTopicsHoldNoJapanese)
{
    const auto english = ReadAllObjects(ENGLISH_HELP_FILE.c_str());
    ASSERT_FALSE(english.empty()) << "cannot open " << ENGLISH_HELP_FILE;
    const auto today = ReadAllObjects(TONVALE_TEST_HELP_FILE);
    for (const char* topic : TOPICS) {
        SCOPED_TRACE(topic);
        const std::string& html = english.at(std::string("/") + topic);
        EXPECT_EQ(JapaneseAndLatinLetters(html).first, 0u);
        EXPECT_EQ(LinkTargets(html), LinkTargets(today.at(std::string("/") + topic)));
    }
}

TEST(HelpFile, ProgramReaderReadsWhatChmlibReads)
{
    CChmLibrary library("libchm.so.1");
    const SChmApi* api = library.Api();
    ASSERT_NE(api, nullptr);
    const auto objects = ReadAllObjects(TONVALE_TEST_HELP_FILE);
    const CChmFile chm(*api, TONVALE_TEST_HELP_FILE);
    ASSERT_TRUE(chm.IsOpen());
    for (const char* topic : TOPICS) {
        SCOPED_TRACE(topic);
        const std::optional<std::string> bytes = chm.Read(topic);
        ASSERT_TRUE(bytes.has_value());
        EXPECT_EQ(*bytes, objects.at(std::string("/") + topic));
        // The same object with a leading slash or an anchor.
        EXPECT_EQ(chm.Read(std::string("/") + topic), bytes);
        EXPECT_EQ(chm.Read(std::string(topic) + "#top"), bytes);
        EXPECT_TRUE(chm.Contains(topic));
    }
    EXPECT_FALSE(chm.Contains("missing.htm"));
    EXPECT_FALSE(chm.Read("missing.htm").has_value());
    EXPECT_FALSE(chm.Contains(""));
    EXPECT_FALSE(chm.Contains("/"));
    EXPECT_FALSE(chm.Read("#only-an-anchor").has_value());
}

TEST(HelpFile, ReaderRefusesWhatIsNotACompiledHelpFile)
{
    CChmLibrary library("libchm.so.1");
    const SChmApi* api = library.Api();
    ASSERT_NE(api, nullptr);
    CTempDir dir;
    Touch(dir.Path() / "Tonvale.chm", "<html>not compiled</html>");
    Touch(dir.Path() / "empty.chm", "");
    EXPECT_FALSE(CChmFile(*api, (dir.Path() / "Tonvale.chm").string()).IsOpen());
    EXPECT_FALSE(CChmFile(*api, (dir.Path() / "empty.chm").string()).IsOpen());
    EXPECT_FALSE(CChmFile(*api, (dir.Path() / "absent.chm").string()).IsOpen());
    EXPECT_FALSE(CChmFile(*api, dir.Path().string()).Contains("index.htm"));
}

TEST(HelpReaderLoader, LooksTheLibraryUpOnceAndRemembersAFailure)
{
    CChmLibrary missing("libtonvale-no-such-reader.so.7");
    EXPECT_EQ(missing.Api(), nullptr);
    EXPECT_EQ(missing.Api(), nullptr);
    EXPECT_EQ(missing.Api(), nullptr);
    EXPECT_EQ(missing.LoadAttempts(), 1);

    // A library without the reader's entry points counts as missing too.
    CChmLibrary wrong("libm.so.6");
    EXPECT_EQ(wrong.Api(), nullptr);
    EXPECT_EQ(wrong.Api(), nullptr);
    EXPECT_EQ(wrong.LoadAttempts(), 1);

    CChmLibrary present("libchm.so.1");
    const SChmApi* api = present.Api();
    ASSERT_NE(api, nullptr);
    EXPECT_EQ(present.Api(), api);
    EXPECT_EQ(present.LoadAttempts(), 1);
    EXPECT_NE(api->open, nullptr);
    EXPECT_NE(api->close, nullptr);
    EXPECT_NE(api->resolve, nullptr);
    EXPECT_NE(api->retrieve, nullptr);
}

TEST(HelpLookup, SearchesTheDirectoriesInOrderForARegularFile)
{
    CTempDir root;
    const auto first = root.Path() / "first";
    const auto second = root.Path() / "second";
    const auto third = root.Path() / "third";
    for (const auto& dir : {first, second, third})
        std::filesystem::create_directory(dir);
    const std::vector<std::filesystem::path> dirs = {first, second, third};

    EXPECT_EQ(ResolveHelpFile("Tonvale.chm", dirs), std::filesystem::path());

    Touch(third / "Tonvale.chm");
    EXPECT_EQ(ResolveHelpFile("Tonvale.chm", dirs), third / "Tonvale.chm");
    Touch(second / "Tonvale.chm");
    EXPECT_EQ(ResolveHelpFile("Tonvale.chm", dirs), second / "Tonvale.chm");

    // A directory of that name is no help file: the search goes on past it.
    std::filesystem::create_directory(first / "Tonvale.chm");
    EXPECT_EQ(ResolveHelpFile("Tonvale.chm", dirs), second / "Tonvale.chm");
    std::filesystem::remove(first / "Tonvale.chm");
    Touch(first / "Tonvale.chm");
    EXPECT_EQ(ResolveHelpFile("Tonvale.chm", dirs), first / "Tonvale.chm");

    // An absolute name is taken as it stands; an empty one finds nothing.
    EXPECT_EQ(ResolveHelpFile(third / "Tonvale.chm", {}), third / "Tonvale.chm");
    EXPECT_EQ(ResolveHelpFile(third / "other.chm", dirs), std::filesystem::path());
    EXPECT_EQ(ResolveHelpFile("", dirs), std::filesystem::path());
}

TEST(HelpLookup, PrefersTheCatalogLanguagesTranslationAndFallsBackToEnglish)
{
    CTempDir root;
    const auto first = root.Path() / "first";
    const auto second = root.Path() / "second";
    for (const auto& dir : {first, second})
        std::filesystem::create_directories(dir / "ja");
    const std::vector<std::filesystem::path> dirs = {first, second};

    // No translation: the English file, for every language.
    Touch(first / "Tonvale.chm");
    for (const char* language : {"", "en", "ja"})
        EXPECT_EQ(ResolveHelpFile("Tonvale.chm", dirs, language), first / "Tonvale.chm") << language;

    // A translation in any directory comes before the English file in an earlier one; without a
    // catalog, or with the English one, the English file stays.
    Touch(second / "ja" / "Tonvale.chm");
    EXPECT_EQ(ResolveHelpFile("Tonvale.chm", dirs, "ja"), second / "ja" / "Tonvale.chm");
    Touch(first / "ja" / "Tonvale.chm");
    EXPECT_EQ(ResolveHelpFile("Tonvale.chm", dirs, "ja"), first / "ja" / "Tonvale.chm");
    EXPECT_EQ(ResolveHelpFile("Tonvale.chm", dirs, ""), first / "Tonvale.chm");
    EXPECT_EQ(ResolveHelpFile("Tonvale.chm", dirs, "en"), first / "Tonvale.chm");

    // Only the translation there: a language without one still finds nothing.
    std::filesystem::remove(first / "Tonvale.chm");
    EXPECT_EQ(ResolveHelpFile("Tonvale.chm", dirs, "ja"), first / "ja" / "Tonvale.chm");
    EXPECT_EQ(ResolveHelpFile("Tonvale.chm", dirs, "en"), std::filesystem::path());
}

TEST(HelpLookup, LooksInTheWorkingDirectoryThenBesideTheProgramThenTheDataDirectory)
{
    CTempDir dir;
    CWorkingDirectory cwd(dir.Path());
    const std::vector<std::filesystem::path> dirs = DefaultHelpSearchDirs();
    ASSERT_EQ(dirs.size(), 3u);
    EXPECT_TRUE(std::filesystem::equivalent(dirs[0], dir.Path()));
    EXPECT_TRUE(std::filesystem::equivalent(dirs[1], std::filesystem::path(TONVALE_TEST_PROGRAM_DIR)));
    EXPECT_EQ(dirs[2], std::filesystem::path(TONVALE_DATA_DIR));
    EXPECT_TRUE(dirs[0].is_absolute());
    EXPECT_TRUE(dirs[1].is_absolute());
}
