// Which dictionaries the page's text is checked against: the user's locale matched to what is
// installed, English as the fallback, and the setting that turns the checker off.
#include <gtest/gtest.h>

#include <map>

#include "page/spelling_languages.h"
#include "shell_fixture.h"

namespace lumory {
namespace {

using Languages = std::vector<std::string>;

Languages chosen(const std::map<std::string, std::string>& environment,
                 const Languages& installed) {
    return spellingLanguages(
        [&](const std::string& name) -> std::optional<std::string> {
            auto found = environment.find(name);
            if (found == environment.end()) return std::nullopt;
            return found->second;
        },
        installed);
}

const Languages kInstalled = {"de", "de_AT", "en_GB", "en_US", "fr_FR", "pt_BR"};

TEST(SpellingLanguagesTest, LanguageListComesFirstInItsOwnOrder) {
    EXPECT_EQ(chosen({{"LANGUAGE", "fr_FR:en_GB"}, {"LANG", "de_DE.UTF-8"}}, kInstalled),
              (Languages{"fr_FR", "en_GB"}));
    // Entries without a dictionary, empty ones and C are passed over; duplicates count once.
    EXPECT_EQ(chosen({{"LANGUAGE", "xx_YY::C:en_GB:en_GB.UTF-8"}}, kInstalled),
              (Languages{"en_GB"}));
}

TEST(SpellingLanguagesTest, WithoutLanguageListTheMessagesLocaleDecides) {
    // LC_ALL over LC_MESSAGES over LANG, as the C library reads them.
    EXPECT_EQ(chosen({{"LC_ALL", "fr_FR.UTF-8"}, {"LC_MESSAGES", "en_GB"}, {"LANG", "pt_BR"}},
                     kInstalled),
              (Languages{"fr_FR"}));
    EXPECT_EQ(chosen({{"LC_ALL", ""}, {"LC_MESSAGES", "en_GB.UTF-8"}, {"LANG", "pt_BR"}},
                     kInstalled),
              (Languages{"en_GB"}));
    EXPECT_EQ(chosen({{"LANG", "pt_BR.UTF-8"}}, kInstalled), (Languages{"pt_BR"}));
    // A LANGUAGE that names nothing usable leaves the choice to the locale.
    EXPECT_EQ(chosen({{"LANGUAGE", ""}, {"LANG", "pt_BR"}}, kInstalled), (Languages{"pt_BR"}));
    EXPECT_EQ(chosen({{"LANGUAGE", "C"}, {"LANG", "pt_BR"}}, kInstalled), (Languages{"pt_BR"}));
}

TEST(SpellingLanguagesTest, CodesetsAndModifiersAreDropped) {
    EXPECT_EQ(chosen({{"LANG", "de_AT.UTF-8@euro"}}, kInstalled), (Languages{"de_AT"}));
    EXPECT_EQ(chosen({{"LANG", "de_AT@euro"}}, kInstalled), (Languages{"de_AT"}));
}

TEST(SpellingLanguagesTest, RegionsAndBareLanguagesMatchTheNearestDictionary) {
    // A region without its own dictionary takes the language's general one...
    EXPECT_EQ(chosen({{"LANG", "de_CH.UTF-8"}}, kInstalled), (Languages{"de"}));
    // ...and a bare language takes its general one, else the first regional one.
    EXPECT_EQ(chosen({{"LANGUAGE", "de:pt"}}, kInstalled), (Languages{"de", "pt_BR"}));
    // A region is not swapped for a sibling region: Portugal's spelling is not Brazil's.
    EXPECT_EQ(chosen({{"LANGUAGE", "pt_PT:fr_FR"}}, kInstalled), (Languages{"fr_FR"}));
}

TEST(SpellingLanguagesTest, EnglishWhenTheLocaleNamesNoneOrHasNoDictionary) {
    for (const auto& environment : std::vector<std::map<std::string, std::string>>{
             {},
             {{"LANG", "C.UTF-8"}},
             {{"LC_ALL", "POSIX"}, {"LANG", "fr_FR"}},
             {{"LANG", "ja_JP.UTF-8"}},
             {{"LANGUAGE", "pt_PT"}}}) {
        EXPECT_EQ(chosen(environment, kInstalled), (Languages{"en_US"}))
            << (environment.empty() ? "" : environment.begin()->second);
    }
    // Without American English, any English dictionary.
    EXPECT_EQ(chosen({{"LANG", "ja_JP"}}, {"en_AU", "fr_FR"}), (Languages{"en_AU"}));
    // No dictionary at all: nothing to check against.
    EXPECT_TRUE(chosen({{"LANG", "ja_JP"}}, {"fr_FR"}).empty());
    EXPECT_TRUE(chosen({{"LANG", "en_US"}}, {}).empty());
}

using SpellCheckingShellTest = fakes::ShellTest;

TEST_F(SpellCheckingShellTest, TheShellSetsTheLanguagesBeforeItsFirstView) {
    system.environment["LANG"] = "fr_FR.UTF-8";
    system.dictionaries = {"en_US", "fr"};
    launch();
    ASSERT_TRUE(desktop.spellCheckingLanguages.has_value());
    EXPECT_EQ(*desktop.spellCheckingLanguages, (Languages{"fr"}));
    EXPECT_TRUE(desktop.spellCheckingSetBeforeFirstView);
}

TEST_F(SpellCheckingShellTest, TheSettingTurnsTheCheckerOff) {
    settings.values[kSpellCheckingKey] = "false";
    launch();
    ASSERT_TRUE(desktop.spellCheckingLanguages.has_value());
    EXPECT_TRUE(desktop.spellCheckingLanguages->empty());

    // Anything but a boolean leaves it on.
    for (const char* value : {"true", "off", "0", ""}) {
        settings.values[kSpellCheckingKey] = value;
        EXPECT_EQ(spellCheckingLanguages(system, settings), (Languages{"en_US"})) << value;
    }
}

}  // namespace
}  // namespace lumory
