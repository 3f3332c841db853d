#include "gtk/system/keyfile_settings_store.h"

#include <glib.h>

namespace lumory::gtk {

namespace {

constexpr char kGroup[] = "Defaults";

// `usable` is false when a file exists but cannot be read as a key file: rewriting it would
// throw away whatever else the user keeps there.
GKeyFile* load(const std::string& path, bool* usable = nullptr) {
    GKeyFile* file = g_key_file_new();
    g_autoptr(GError) error = nullptr;
    bool loaded = g_key_file_load_from_file(file, path.c_str(), G_KEY_FILE_KEEP_COMMENTS, &error);
    if (usable != nullptr) {
        *usable = loaded || g_error_matches(error, G_FILE_ERROR, G_FILE_ERROR_NOENT);
    }
    return file;
}

void store(GKeyFile* file, const std::string& path) {
    g_autofree char* folder = g_path_get_dirname(path.c_str());
    g_mkdir_with_parents(folder, 0700);
    // g_key_file_save_to_file writes a temporary file and renames it over the old one, so a
    // crash leaves either the old file or the new one.
    g_key_file_save_to_file(file, path.c_str(), nullptr);
}

}  // namespace

std::optional<bool> KeyFileSettingsStore::boolValue(const std::string& key) const {
    g_autoptr(GKeyFile) file = load(path_);
    g_autoptr(GError) error = nullptr;
    gboolean value = g_key_file_get_boolean(file, kGroup, key.c_str(), &error);
    if (error != nullptr) return std::nullopt;
    return value != FALSE;
}

std::optional<double> KeyFileSettingsStore::doubleValue(const std::string& key) const {
    g_autoptr(GKeyFile) file = load(path_);
    g_autoptr(GError) error = nullptr;
    double value = g_key_file_get_double(file, kGroup, key.c_str(), &error);
    if (error != nullptr) return std::nullopt;
    return value;
}

std::optional<std::string> KeyFileSettingsStore::stringValue(const std::string& key) const {
    g_autoptr(GKeyFile) file = load(path_);
    g_autofree char* value = g_key_file_get_string(file, kGroup, key.c_str(), nullptr);
    if (value == nullptr) return std::nullopt;
    return std::string(value);
}

void KeyFileSettingsStore::setDouble(const std::string& key, double value) {
    bool usable = false;
    g_autoptr(GKeyFile) file = load(path_, &usable);
    if (!usable) return;
    g_key_file_set_double(file, kGroup, key.c_str(), value);
    store(file, path_);
}

void KeyFileSettingsStore::setString(const std::string& key, const std::string& value) {
    bool usable = false;
    g_autoptr(GKeyFile) file = load(path_, &usable);
    if (!usable) return;
    g_key_file_set_string(file, kGroup, key.c_str(), value.c_str());
    store(file, path_);
}

}  // namespace lumory::gtk
