#include "desktops/sway_desktop.h"

#include <X11/Xlib.h>
#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "process/child_process.h"

namespace fs = std::filesystem;

namespace lumory::testing {

namespace {

using namespace std::chrono_literals;

// A user's configuration reduced to what the tests rely on: one output the size of the test
// display and Xwayland. Everything else (borders, title bars, activation) is sway's default.
constexpr char kConfig[] = R"(output X11-1 resolution @WIDTH@x@HEIGHT@ position 0 0
xwayland enable
)";

std::string readAll(const std::string& path) {
    std::ifstream file(path);
    return std::string((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
}

void collect(const nlohmann::json& node, const std::string& title, const std::string& workspace,
             bool floating, std::optional<SwayWindow>& found) {
    if (found) return;
    std::string type = node.value("type", "");
    std::string inWorkspace = type == "workspace" ? node.value("name", "") : workspace;
    bool view = node.contains("shell") && node["shell"].is_string();
    if (view && node.value("name", "") == title) {
        const auto& rect = node["rect"];
        const auto& inside = node.value("window_rect", nlohmann::json::object());
        SwayWindow window;
        window.title = title;
        window.x = rect.value("x", 0);
        window.y = rect.value("y", 0);
        window.width = rect.value("width", 0);
        window.height = rect.value("height", 0);
        window.contentX = window.x + inside.value("x", 0);
        window.contentY = window.y + inside.value("y", 0);
        window.floating = floating || type == "floating_con";
        window.focused = node.value("focused", false);
        window.urgent = node.value("urgent", false);
        window.sticky = node.value("sticky", false);
        window.visible = node.value("visible", false);
        window.workspace = inWorkspace;
        found = window;
        return;
    }
    for (const char* children : {"nodes", "floating_nodes"}) {
        if (!node.contains(children)) continue;
        for (const auto& child : node[children]) {
            collect(child, title, inWorkspace, std::string(children) == "floating_nodes", found);
        }
    }
}

// Xwayland lets only its own user in; the test, as root, looks at windows and opens one of its
// own there. The user adds root to the server's access list (`xhost +si:localuser:root`).
bool letRootIn(const std::string& display, const DesktopUser& user) {
    pid_t pid = fork();
    if (pid == 0) {
        if (setgroups(0, nullptr) != 0 || setgid(user.gid) != 0 || setuid(user.uid) != 0) {
            _exit(126);
        }
        Display* connection = XOpenDisplay(display.c_str());
        if (connection == nullptr) _exit(1);
        XServerInterpretedAddress root{9, 4, const_cast<char*>("localuser"),
                                       const_cast<char*>("root")};
        XHostAddress host{FamilyServerInterpreted, sizeof root, reinterpret_cast<char*>(&root)};
        XAddHost(connection, &host);
        XSync(connection, False);
        XCloseDisplay(connection);
        _exit(0);
    }
    int status = waitForExit(pid, 10s);
    return status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace

SwayDesktop::SwayDesktop(int width, int height) : screen_(width, height) {
    auto launched = std::chrono::steady_clock::now();
    user_ = desktopTestUser();
    if (!screen_.started() || !user_) {
        failure_ = screen_.started() ? "no test user (creating one needs root)" : "no Xvfb";
        return;
    }
    session_ = std::make_unique<DesktopSession>(*user_, std::vector<std::string>{});
    if (!session_->started()) {
        failure_ = "the private buses did not start";
        return;
    }
    std::string config = kConfig;
    config.replace(config.find("@WIDTH@"), 7, std::to_string(width));
    config.replace(config.find("@HEIGHT@"), 8, std::to_string(height));
    std::string configPath = session_->runtime() + "/sway.conf";
    std::ofstream(configPath) << config;
    pid_t sway =
        session_->spawn({"sway", "--config", configPath},
                        {"DISPLAY=" + screen_.name(), "WLR_BACKENDS=x11", "WLR_X11_OUTPUTS=1",
                         "WLR_RENDERER=pixman", "WLR_LIBINPUT_NO_DEVICES=1"},
                        "sway.log");
    bool listening = eventually(
        [&] {
            for (const auto& entry : fs::directory_iterator(session_->runtime())) {
                std::string name = entry.path().filename().string();
                if (name.rfind("sway-ipc.", 0) == 0) socket_ = entry.path().string();
                if (name.rfind("wayland-", 0) == 0 && name.find('.') == std::string::npos) {
                    waylandDisplay_ = name;
                }
            }
            return (!socket_.empty() && !waylandDisplay_.empty()) || waitForExit(sway, 0ms) != -1;
        },
        60s);
    if (!listening || socket_.empty()) {
        failure_ = "sway did not start:\n" + session_->readLog("sway.log");
        return;
    }
    // sway gives its own children DISPLAY, the Xwayland it starts on demand; one of them says it.
    std::string said = session_->runtime() + "/home/display";
    command("exec echo $DISPLAY > " + said);
    std::string display;
    eventually(
        [&] {
            display = readAll(said);
            return display.find('\n') != std::string::npos;
        },
        20s);
    if (display.size() < 2 || display[0] != ':') {
        failure_ = "sway has no Xwayland:\n" + session_->readLog("sway.log");
        return;
    }
    x11Display_ = display.substr(0, display.find('\n'));
    if (!letRootIn(x11Display_, *user_)) {
        failure_ = "root may not use sway's Xwayland";
        x11Display_.clear();
        return;
    }
    startSeconds_ =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - launched).count();
}

SwayDesktop::~SwayDesktop() = default;

std::vector<std::string> SwayDesktop::clientEnvironment() const {
    return {"DISPLAY=" + x11Display_,
            "WAYLAND_DISPLAY=" + session_->runtime() + "/" + waylandDisplay_,
            "XDG_CURRENT_DESKTOP=sway",
            "XDG_SESSION_TYPE=wayland",
            "DBUS_SESSION_BUS_ADDRESS=" + session_->sessionBus(),
            "DBUS_SYSTEM_BUS_ADDRESS=" + session_->systemBus()};
}

std::string SwayDesktop::swaymsg(const std::vector<std::string>& arguments) {
    std::string line = "timeout 20 swaymsg -s '" + socket_ + "'";
    for (const std::string& argument : arguments) {
        std::string quoted;
        for (char c : argument) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
        line += " '" + quoted + "'";
    }
    FILE* output = popen((line + " 2>/dev/null").c_str(), "r");
    if (output == nullptr) return {};
    std::string text;
    char chunk[4096];
    size_t count;
    while ((count = fread(chunk, 1, sizeof chunk, output)) > 0) text.append(chunk, count);
    pclose(output);
    return text;
}

bool SwayDesktop::command(const std::string& text) {
    auto reply = nlohmann::json::parse(swaymsg({text}), nullptr, false);
    return reply.is_array() && !reply.empty() && reply[0].value("success", false);
}

nlohmann::json SwayDesktop::tree() {
    auto reply = nlohmann::json::parse(swaymsg({"-t", "get_tree"}), nullptr, false);
    return reply.is_discarded() ? nlohmann::json::object() : reply;
}

std::optional<SwayWindow> SwayDesktop::window(const std::string& title) {
    std::optional<SwayWindow> found;
    collect(tree(), title, "", false, found);
    return found;
}

}  // namespace lumory::testing
