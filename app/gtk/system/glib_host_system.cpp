#include "gtk/system/glib_host_system.h"

#include <enchant.h>
#include <glib.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <memory>

#ifndef LUMORY_RESOURCES_FROM_BIN
#define LUMORY_RESOURCES_FROM_BIN "../lib/lumory"
#endif

namespace lumory::gtk {

std::optional<std::string> GlibHostSystem::environmentValue(const std::string& name) const {
    const char* value = g_getenv(name.c_str());
    if (value == nullptr) return std::nullopt;
    return std::string(value);
}

std::string GlibHostSystem::homeDirectory() const {
    return g_get_home_dir();
}

std::string GlibHostSystem::temporaryDirectory() const {
    return g_get_tmp_dir();
}

long GlibHostSystem::processId() const {
    return static_cast<long>(getpid());
}

// Found from the executable itself, so the installed tree can be moved as a whole.
std::optional<std::string> GlibHostSystem::resourcesDirectory() const {
    std::error_code error;
    auto executable = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error) return std::nullopt;
    auto resources = std::filesystem::weakly_canonical(
        executable.parent_path() / LUMORY_RESOURCES_FROM_BIN, error);
    if (error || !std::filesystem::is_directory(resources, error)) return std::nullopt;
    return resources.string();
}

bool GlibHostSystem::isExecutableFile(const std::string& path) const {
    return g_file_test(path.c_str(), G_FILE_TEST_IS_REGULAR) &&
           g_file_test(path.c_str(), G_FILE_TEST_IS_EXECUTABLE);
}

std::vector<std::string> GlibHostSystem::spellingDictionaries() const {
    std::unique_ptr<EnchantBroker, decltype(&enchant_broker_free)> broker(enchant_broker_init(),
                                                                          enchant_broker_free);
    std::vector<std::string> tags;
    if (!broker) return tags;
    enchant_broker_list_dicts(
        broker.get(),
        [](const char* tag, const char*, const char*, const char*, void* data) {
            static_cast<std::vector<std::string>*>(data)->emplace_back(tag);
        },
        &tags);
    // Providers list the same language each; a stable order makes the choice repeatable.
    std::sort(tags.begin(), tags.end());
    tags.erase(std::unique(tags.begin(), tags.end()), tags.end());
    return tags;
}

}  // namespace lumory::gtk
