#include "desktops/gnome_shell_desktop.h"

#include <X11/Xlib.h>
#include <X11/keysym.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string_view>
#include <thread>

#include "process/child_process.h"

namespace fs = std::filesystem;

namespace lumory::testing {

namespace {

using namespace std::chrono_literals;

constexpr char kLog[] = "gnome-shell.log";
constexpr char kWaylandDisplay[] = "lumory-wayland";
constexpr char kRemoteDesktop[] = "org.gnome.Mutter.RemoteDesktop";
constexpr char kSessionInterface[] = "org.gnome.Mutter.RemoteDesktop.Session";
constexpr int kLeftButton = 0x110;  // BTN_LEFT
// Under llvmpipe on a loaded machine GNOME Shell takes from ten seconds to over a minute.
constexpr auto kStartTimeout = 150s;

GVariant* callSync(GDBusConnection* connection, const char* name, const char* path,
                   const char* interface, const char* method, GVariant* parameters,
                   const char* replyType = nullptr, int timeoutMs = 20000) {
    return g_dbus_connection_call_sync(connection, name, path, interface, method, parameters,
                                       replyType ? G_VARIANT_TYPE(replyType) : nullptr,
                                       G_DBUS_CALL_FLAGS_NONE, timeoutMs, nullptr, nullptr);
}

bool ownName(GDBusConnection* connection, const char* name) {
    g_autoptr(GVariant) reply =
        callSync(connection, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                 "org.freedesktop.DBus", "RequestName", g_variant_new("(su)", name, 4u), "(u)");
    return reply != nullptr;
}

// The text after `prefix` up to the end of its line, in `log`.
std::string after(const std::string& log, const std::string& prefix) {
    size_t at = log.find(prefix);
    if (at == std::string::npos) return {};
    at += prefix.size();
    return log.substr(at, log.find_first_of(", \n", at) - at);
}

}  // namespace

GnomeShellDesktop::GnomeShellDesktop(int width, int height) : width_(width), height_(height) {
    user_ = desktopTestUser();
    if (!user_) {
        failure_ = "no test user (creating one needs root)";
        return;
    }
    // A start that dies (its logind call timing out under load) is tried once more.
    if (!startOnce()) {
        std::string first = failure_;
        stop();
        if (!startOnce()) failure_ = "twice: " + first + "\n---\n" + failure_;
    }
}

GnomeShellDesktop::~GnomeShellDesktop() {
    stop();
}

void GnomeShellDesktop::stop() {
    if (monitor_ != nullptr) {
        g_dbus_connection_close_sync(monitor_, nullptr, nullptr);
        g_object_unref(monitor_);
        monitor_ = nullptr;
    }
    if (connection_ != nullptr) {
        g_dbus_connection_close_sync(connection_, nullptr, nullptr);
        g_object_unref(connection_);
        connection_ = nullptr;
    }
    session_.reset();
}

bool GnomeShellDesktop::startOnce() {
    auto launched = std::chrono::steady_clock::now();
    session_ = std::make_unique<DesktopSession>(
        *user_, std::vector<std::string>{"org.gnome.Shell.Notifications.service",
                                         "ca.desrt.dconf.service"});
    if (!session_->started()) {
        failure_ = "the private buses did not start";
        return false;
    }
    std::string home = session_->runtime() + "/home";
    // The warning that the screen cannot lock without GDM would stand in front of every banner.
    std::ofstream(home + "/.local/share/gnome-shell/lock-warning-shown");
    for (auto [key, value] :
         {std::pair{"enable-hot-corners", "false"}, std::pair{"enable-animations", "false"}}) {
        setting("org.gnome.desktop.interface", key, value);
    }
    pid_t shell = session_->spawn({"gnome-shell", "--headless", "--wayland", "--virtual-monitor",
                                   std::to_string(width_) + "x" + std::to_string(height_),
                                   "--wayland-display", kWaylandDisplay},
                                  {"XDG_SESSION_TYPE=wayland", "XDG_CURRENT_DESKTOP=GNOME"}, kLog);
    std::string log;
    bool ready = eventually(
        [&] {
            log = session_->readLog(kLog);
            return log.find("GNOME Shell started") != std::string::npos ||
                   waitForExit(shell, 0ms) != -1;
        },
        kStartTimeout);
    auto tail = [&] { return log.size() > 3000 ? log.substr(log.size() - 3000) : log; };
    if (!ready || log.find("GNOME Shell started") == std::string::npos) {
        failure_ = std::string(ready ? "GNOME Shell ended during its start" : "still starting") +
                   ":\n" + tail();
        return false;
    }
    startSeconds_ =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - launched).count();
    x11Display_ = after(log, "Using public X11 display ");
    for (const auto& entry : fs::directory_iterator(session_->runtime())) {
        if (entry.path().filename().string().rfind(".mutter-Xwaylandauth.", 0) == 0) {
            xauthority_ = entry.path().string();
        }
    }
    if (x11Display_.empty() || xauthority_.empty()) {
        failure_ = "no Xwayland display:\n" + tail();
        return false;
    }
    // The test's own X11 connections (window geometry, stacking) go to Xwayland too.
    setenv("XAUTHORITY", xauthority_.c_str(), 1);

    connection_ = g_dbus_connection_new_for_address_sync(
        session_->sessionBus().c_str(),
        GDBusConnectionFlags(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                             G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, nullptr, nullptr);
    // GNOME Shell answers screenshots and window lists only to names it trusts.
    if (connection_ == nullptr || !ownName(connection_, "org.gnome.Screenshot") ||
        !ownName(connection_, "org.freedesktop.impl.portal.desktop.gtk")) {
        failure_ = "no connection to the session bus";
        return false;
    }
    if (!startMonitor()) {
        failure_ = "could not monitor the session bus";
        return false;
    }
    // What gnome-session starts next to GNOME Shell for X11 clients: the XSETTINGS that carry
    // GNOME's settings (the title-bar button layout among them) to GTK.
    if (fs::exists("/usr/libexec/gsd-xsettings")) {
        session_->spawn({"/usr/libexec/gsd-xsettings"}, clientEnvironment(), "gsd-xsettings.log");
    }
    Input input(*this);
    input.chord({"Escape"});  // out of the overview it opens in
    std::this_thread::sleep_for(1s);
    return true;
}

bool GnomeShellDesktop::startMonitor() {
    monitor_ = g_dbus_connection_new_for_address_sync(
        session_->sessionBus().c_str(),
        GDBusConnectionFlags(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                             G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, nullptr, nullptr);
    if (monitor_ == nullptr) return false;
    g_dbus_connection_add_filter(monitor_, &GnomeShellDesktop::monitored, this, nullptr);
    const char* rules[] = {"interface='org.freedesktop.Notifications'", nullptr};
    g_autoptr(GVariant) reply = callSync(monitor_, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                         "org.freedesktop.DBus.Monitoring", "BecomeMonitor",
                                         g_variant_new("(^asu)", rules, 0u));
    return reply != nullptr;
}

GDBusMessage* GnomeShellDesktop::monitored(GDBusConnection*, GDBusMessage* message,
                                           gboolean incoming, gpointer data) {
    auto* self = static_cast<GnomeShellDesktop*>(data);
    if (!incoming) return message;
    GVariant* body = g_dbus_message_get_body(message);
    const char* name = g_dbus_message_get_member(message);
    std::string_view member = name != nullptr ? name : "";
    auto type = g_dbus_message_get_message_type(message);
    if (type == G_DBUS_MESSAGE_TYPE_METHOD_CALL && member == "Notify" && body != nullptr &&
        g_variant_is_of_type(body, G_VARIANT_TYPE("(susssasa{sv}i)"))) {
        NotificationTestServer::Notification seen;
        const char *appName, *appIcon, *summary, *text;
        g_autoptr(GVariantIter) actions = nullptr;
        g_autoptr(GVariantIter) hints = nullptr;
        g_variant_get(body, "(&su&s&s&sasa{sv}i)", &appName, &seen.replacesId, &appIcon, &summary,
                      &text, &actions, &hints, &seen.expireTimeout);
        seen.appName = appName;
        seen.appIcon = appIcon;
        seen.summary = summary;
        seen.body = text;
        const char* action = nullptr;
        while (g_variant_iter_next(actions, "&s", &action)) seen.actions.emplace_back(action);
        const char* key = nullptr;
        GVariant* value = nullptr;
        while (g_variant_iter_loop(hints, "{&sv}", &key, &value)) {
            g_autofree char* printed = g_variant_print(value, FALSE);
            seen.hints[key] = printed;
        }
        std::lock_guard lock(self->mutex_);
        self->notifications_.push_back(std::move(seen));
    } else if (type == G_DBUS_MESSAGE_TYPE_SIGNAL && member == "ActionInvoked" && body != nullptr &&
               g_variant_is_of_type(body, G_VARIANT_TYPE("(us)"))) {
        guint32 id = 0;
        const char* action = nullptr;
        g_variant_get(body, "(u&s)", &id, &action);
        std::lock_guard lock(self->mutex_);
        self->actionsInvoked_.emplace_back(id, action);
    }
    // Only the bus's own replies are for this connection. Anything else let through would be
    // answered ("unknown method"), and a monitor that sends is thrown off the bus.
    if (g_strcmp0(g_dbus_message_get_sender(message), "org.freedesktop.DBus") == 0) return message;
    g_object_unref(message);
    return nullptr;
}

std::vector<NotificationTestServer::Notification> GnomeShellDesktop::notifications() const {
    std::lock_guard lock(mutex_);
    return notifications_;
}

std::vector<std::pair<std::uint32_t, std::string>> GnomeShellDesktop::actionsInvoked() const {
    std::lock_guard lock(mutex_);
    return actionsInvoked_;
}

std::vector<std::string> GnomeShellDesktop::clientEnvironment() const {
    return {"DISPLAY=" + x11Display_,
            "XAUTHORITY=" + xauthority_,
            "WAYLAND_DISPLAY=" + session_->runtime() + "/" + kWaylandDisplay,
            "XDG_CURRENT_DESKTOP=GNOME",
            "XDG_SESSION_TYPE=wayland",
            "DBUS_SESSION_BUS_ADDRESS=" + session_->sessionBus(),
            "DBUS_SYSTEM_BUS_ADDRESS=" + session_->systemBus()};
}

bool GnomeShellDesktop::screenshot(const std::string& path) {
    if (connection_ == nullptr) return false;
    // GNOME Shell writes the file as the desktop's user.
    std::string own =
        session_->runtime() + "/home/screenshot-" + std::to_string(++screenshots_) + ".png";
    g_autoptr(GVariant) reply =
        callSync(connection_, "org.gnome.Shell.Screenshot", "/org/gnome/Shell/Screenshot",
                 "org.gnome.Shell.Screenshot", "Screenshot",
                 g_variant_new("(bbs)", FALSE, FALSE, own.c_str()), "(bs)", 30000);
    if (reply == nullptr) return false;
    std::error_code error;
    fs::copy_file(own, path, fs::copy_options::overwrite_existing, error);
    fs::remove(own, error);
    return !error;
}

std::vector<ShellWindow> GnomeShellDesktop::windows() {
    std::vector<ShellWindow> found;
    if (connection_ == nullptr) return found;
    g_autoptr(GVariant) reply =
        callSync(connection_, "org.gnome.Shell", "/org/gnome/Shell/Introspect",
                 "org.gnome.Shell.Introspect", "GetWindows", nullptr, "(a{ta{sv}})");
    if (reply == nullptr) return found;
    g_autoptr(GVariantIter) iter = nullptr;
    g_variant_get(reply, "(a{ta{sv}})", &iter);
    guint64 id = 0;
    GVariant* properties = nullptr;
    while (g_variant_iter_loop(iter, "{t@a{sv}}", &id, &properties)) {
        ShellWindow window;
        window.id = id;
        const char* text = nullptr;
        if (g_variant_lookup(properties, "title", "&s", &text)) window.title = text;
        if (g_variant_lookup(properties, "wm-class", "&s", &text)) window.wmClass = text;
        gboolean flag = FALSE;
        if (g_variant_lookup(properties, "has-focus", "b", &flag)) window.focused = flag;
        if (g_variant_lookup(properties, "is-hidden", "b", &flag)) window.hidden = flag;
        guint32 size = 0;
        if (g_variant_lookup(properties, "width", "u", &size))
            window.width = static_cast<int>(size);
        if (g_variant_lookup(properties, "height", "u", &size)) {
            window.height = static_cast<int>(size);
        }
        found.push_back(window);
    }
    return found;
}

std::optional<ShellWindow> GnomeShellDesktop::window(const std::string& title) {
    for (const ShellWindow& window : windows()) {
        if (window.title == title) return window;
    }
    return std::nullopt;
}

bool GnomeShellDesktop::setting(const std::string& schema, const std::string& key,
                                const std::string& value) {
    return session_->run({"gsettings", "set", schema, key, value}, {}, 20s);
}

GnomeShellDesktop::Input::Input(GnomeShellDesktop& desktop) : connection_(desktop.connection_) {
    if (connection_ == nullptr) return;
    g_autoptr(GVariant) created =
        callSync(connection_, kRemoteDesktop, "/org/gnome/Mutter/RemoteDesktop", kRemoteDesktop,
                 "CreateSession", nullptr, "(o)");
    if (created == nullptr) return;
    const char* path = nullptr;
    g_variant_get(created, "(&o)", &path);
    session_ = path;
    if (!call("Start", nullptr)) {
        session_.clear();
        return;
    }
    // Mutter adds the session's virtual devices to the seat a moment after Start, and a
    // device's first event can still be lost: each gets a harmless one first (a lone Shift).
    std::this_thread::sleep_for(400ms);
    call("NotifyKeyboardKeysym", g_variant_new("(ub)", static_cast<guint32>(XK_Shift_L), TRUE));
    call("NotifyKeyboardKeysym", g_variant_new("(ub)", static_cast<guint32>(XK_Shift_L), FALSE));
    // Relative motion is all a session without a screen cast has: pushed against the top left
    // corner (no hot corner there) the pointer is at a known place.
    for (int push = 0; push < 2; ++push) {
        call("NotifyPointerMotionRelative", g_variant_new("(dd)", -20000.0, -20000.0));
        std::this_thread::sleep_for(100ms);
    }
}

GnomeShellDesktop::Input::~Input() {
    if (!session_.empty()) call("Stop", nullptr);
}

bool GnomeShellDesktop::Input::call(const char* method, GVariant* parameters) {
    if (session_.empty()) {
        if (parameters != nullptr) g_variant_unref(g_variant_ref_sink(parameters));
        return false;
    }
    g_autoptr(GVariant) reply = callSync(connection_, kRemoteDesktop, session_.c_str(),
                                         kSessionInterface, method, parameters);
    // Each event is its own frame, as a device's would be.
    std::this_thread::sleep_for(15ms);
    return reply != nullptr;
}

void GnomeShellDesktop::Input::moveTo(int x, int y) {
    call("NotifyPointerMotionRelative",
         g_variant_new("(dd)", static_cast<double>(x - x_), static_cast<double>(y - y_)));
    x_ = x;
    y_ = y;
}

void GnomeShellDesktop::Input::button(bool pressed) {
    call("NotifyPointerButton", g_variant_new("(ib)", kLeftButton, pressed ? TRUE : FALSE));
}

void GnomeShellDesktop::Input::click(int x, int y) {
    moveTo(x, y);
    button(true);
    button(false);
}

void GnomeShellDesktop::Input::doubleClick(int x, int y) {
    moveTo(x, y);
    // Sent without waiting for each answer: on a loaded machine the round trips alone would
    // take the clicks apart by more than the double-click time.
    for (gboolean pressed : {gboolean(TRUE), gboolean(FALSE), gboolean(TRUE), gboolean(FALSE)}) {
        g_dbus_connection_call(connection_, kRemoteDesktop, session_.c_str(), kSessionInterface,
                               "NotifyPointerButton", g_variant_new("(ib)", kLeftButton, pressed),
                               nullptr, G_DBUS_CALL_FLAGS_NONE, -1, nullptr, nullptr, nullptr);
    }
    g_dbus_connection_flush_sync(connection_, nullptr, nullptr);
    std::this_thread::sleep_for(100ms);
}

void GnomeShellDesktop::Input::drag(int x, int y, int toX, int toY) {
    moveTo(x, y);
    button(true);
    // Past the first steps the application asks mutter to move the window; mutter must hold the
    // pointer before the rest of the way and the release, which takes a while on a loaded machine.
    constexpr int kSteps = 12;
    for (int step = 1; step <= kSteps; ++step) {
        moveTo(x + (toX - x) * step / kSteps, y + (toY - y) * step / kSteps);
        if (step == 3) std::this_thread::sleep_for(500ms);
    }
    std::this_thread::sleep_for(500ms);
    button(false);
}

bool GnomeShellDesktop::Input::chord(const std::vector<std::string>& keys) {
    std::vector<KeySym> symbols;
    for (const std::string& key : keys) {
        KeySym symbol = XStringToKeysym(key.c_str());
        if (symbol == NoSymbol) return false;
        symbols.push_back(symbol);
    }
    bool sent = true;
    for (KeySym symbol : symbols) {
        sent &=
            call("NotifyKeyboardKeysym", g_variant_new("(ub)", static_cast<guint32>(symbol), TRUE));
    }
    for (auto symbol = symbols.rbegin(); symbol != symbols.rend(); ++symbol) {
        sent &= call("NotifyKeyboardKeysym",
                     g_variant_new("(ub)", static_cast<guint32>(*symbol), FALSE));
    }
    return sent;
}

}  // namespace lumory::testing
