#include "window/window_frame_store.h"

#include <glib.h>

#include <memory>

namespace lumory {

namespace {

constexpr int kLargestSide = 100000;

struct KeyFileDeleter {
    void operator()(GKeyFile* file) const { g_key_file_unref(file); }
};
using KeyFile = std::unique_ptr<GKeyFile, KeyFileDeleter>;

KeyFile readKeyFile(const std::string& path) {
    KeyFile file(g_key_file_new());
    g_key_file_load_from_file(file.get(), path.c_str(), G_KEY_FILE_KEEP_COMMENTS, nullptr);
    return file;
}

std::optional<int> readInteger(GKeyFile* file, const std::string& group, const char* key) {
    g_autoptr(GError) error = nullptr;
    int value = g_key_file_get_integer(file, group.c_str(), key, &error);
    if (error != nullptr) return std::nullopt;
    return value;
}

}  // namespace

std::optional<WindowFrame> WindowFrameStore::load(const std::string& name) const {
    KeyFile file = readKeyFile(path_);
    auto x = readInteger(file.get(), name, "x");
    auto y = readInteger(file.get(), name, "y");
    auto width = readInteger(file.get(), name, "width");
    auto height = readInteger(file.get(), name, "height");
    if (!x || !y || !width || !height) return std::nullopt;
    if (*width <= 0 || *height <= 0 || *width > kLargestSide || *height > kLargestSide) {
        return std::nullopt;
    }
    if (*x < -kLargestSide || *x > kLargestSide || *y < -kLargestSide || *y > kLargestSide) {
        return std::nullopt;
    }
    return WindowFrame{*x, *y, *width, *height};
}

bool WindowFrameStore::save(const std::string& name, const WindowFrame& frame) const {
    KeyFile file = readKeyFile(path_);
    g_key_file_set_integer(file.get(), name.c_str(), "x", frame.x);
    g_key_file_set_integer(file.get(), name.c_str(), "y", frame.y);
    g_key_file_set_integer(file.get(), name.c_str(), "width", frame.width);
    g_key_file_set_integer(file.get(), name.c_str(), "height", frame.height);
    g_autofree gchar* folder = g_path_get_dirname(path_.c_str());
    if (g_mkdir_with_parents(folder, 0700) != 0) return false;
    return g_key_file_save_to_file(file.get(), path_.c_str(), nullptr);
}

}  // namespace lumory
