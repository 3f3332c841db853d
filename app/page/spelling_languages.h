#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/host_system.h"
#include "platform/settings_store.h"

namespace lumory {

// Turns the spell checker of the page's editable fields off when false; absent or not a
// boolean leaves it on.
constexpr char kSpellCheckingKey[] = "LumorySpellChecking";

// The dictionaries ("en_US", "de") the page's text is checked against, in the user's order of
// preference: the locale's languages (LANGUAGE, then LC_ALL, LC_MESSAGES, LANG), each matched
// to an installed dictionary; English when the locale names none or none is installed for it.
// Empty when no usable dictionary is installed.
std::vector<std::string> spellingLanguages(
    const std::function<std::optional<std::string>(const std::string&)>& environmentValue,
    const std::vector<std::string>& installedDictionaries);

// The same for the running system; empty when the user turned the checker off.
std::vector<std::string> spellCheckingLanguages(const HostSystem& system,
                                                const SettingsStore& settings);

}  // namespace lumory
