#include "page/spelling_languages.h"

#include <algorithm>

namespace lumory {

namespace {

constexpr char kEnglish[] = "en";
constexpr char kAmericanEnglish[] = "en_US";

// "de_DE.UTF-8@euro" -> "de_DE"; "C" and "POSIX" name no language.
std::optional<std::string> languageOfLocale(std::string locale) {
    locale = locale.substr(0, locale.find_first_of(".@"));
    if (locale.empty() || locale == "C" || locale == "POSIX") return std::nullopt;
    return locale;
}

std::string languagePart(const std::string& tag) {
    return tag.substr(0, tag.find_first_of("_-"));
}

std::vector<std::string> split(const std::string& list, char separator) {
    std::vector<std::string> parts;
    size_t start = 0;
    while (start <= list.size()) {
        size_t end = std::min(list.find(separator, start), list.size());
        parts.push_back(list.substr(start, end - start));
        start = end + 1;
    }
    return parts;
}

// The locale's languages in order of preference. LANGUAGE lists them; without it, the locale
// of messages as the C library chooses it (LC_ALL over LC_MESSAGES over LANG).
std::vector<std::string> localeLanguages(
    const std::function<std::optional<std::string>(const std::string&)>& environmentValue) {
    std::vector<std::string> languages;
    if (auto list = environmentValue("LANGUAGE")) {
        for (const std::string& entry : split(*list, ':')) {
            if (auto language = languageOfLocale(entry)) languages.push_back(*language);
        }
    }
    if (!languages.empty()) return languages;
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        auto value = environmentValue(name);
        if (!value || value->empty()) continue;
        if (auto language = languageOfLocale(*value)) languages.push_back(*language);
        break;
    }
    return languages;
}

// The installed dictionary for `language`: its own ("pt_BR"), else its language's alone
// ("pt"), else, for a bare language ("pt"), the first of that language's regional ones.
std::optional<std::string> dictionaryFor(const std::string& language,
                                         const std::vector<std::string>& installed) {
    auto has = [&](const std::string& tag) {
        return std::find(installed.begin(), installed.end(), tag) != installed.end();
    };
    if (has(language)) return language;
    std::string bare = languagePart(language);
    if (has(bare)) return bare;
    if (bare != language) return std::nullopt;
    auto regional = std::find_if(installed.begin(), installed.end(), [&](const std::string& tag) {
        return languagePart(tag) == bare;
    });
    if (regional == installed.end()) return std::nullopt;
    return *regional;
}

}  // namespace

std::vector<std::string> spellingLanguages(
    const std::function<std::optional<std::string>(const std::string&)>& environmentValue,
    const std::vector<std::string>& installedDictionaries) {
    std::vector<std::string> chosen;
    for (const std::string& language : localeLanguages(environmentValue)) {
        auto dictionary = dictionaryFor(language, installedDictionaries);
        if (dictionary && std::find(chosen.begin(), chosen.end(), *dictionary) == chosen.end()) {
            chosen.push_back(*dictionary);
        }
    }
    if (!chosen.empty()) return chosen;
    for (const char* english : {kAmericanEnglish, kEnglish}) {
        if (auto dictionary = dictionaryFor(english, installedDictionaries)) return {*dictionary};
    }
    return {};
}

std::vector<std::string> spellCheckingLanguages(const HostSystem& system,
                                                const SettingsStore& settings) {
    if (!settings.boolValue(kSpellCheckingKey).value_or(true)) return {};
    return spellingLanguages(
        [&](const std::string& name) { return system.environmentValue(name); },
        system.spellingDictionaries());
}

}  // namespace lumory
