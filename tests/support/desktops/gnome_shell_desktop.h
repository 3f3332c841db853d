#pragma once

#include <gio/gio.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "dbus/notification_test_server.h"
#include "desktops/desktop_session.h"

namespace lumory::testing {

// A window as GNOME Shell sees it (org.gnome.Shell.Introspect).
struct ShellWindow {
    std::uint64_t id = 0;
    std::string title;
    std::string wmClass;
    bool focused = false;
    bool hidden = false;  // minimised, or on another workspace
    int width = 0;
    int height = 0;
};

// GNOME Shell 43 as a headless Wayland compositor with Xwayland, run as the test user with
// private buses, its settings daemon for X11 clients (gsd-xsettings), and its own notification
// server. Hot corners and animations are off, so the pointer and the pictures are predictable;
// it leaves the overview it opens in. Killed with everything it started when the object goes.
class GnomeShellDesktop {
public:
    static constexpr char kName[] = "gnome-shell";

    GnomeShellDesktop(int width, int height);
    ~GnomeShellDesktop();
    GnomeShellDesktop(const GnomeShellDesktop&) = delete;
    GnomeShellDesktop& operator=(const GnomeShellDesktop&) = delete;

    bool started() const { return connection_ != nullptr; }
    // Why it did not start, with the end of GNOME Shell's log.
    const std::string& failure() const { return failure_; }
    // Seconds from launch to "GNOME Shell started", of the start that worked.
    double startSeconds() const { return startSeconds_; }
    int width() const { return width_; }
    int height() const { return height_; }

    DesktopSession& session() { return *session_; }
    // ":N", the Xwayland display X11 clients use.
    const std::string& x11Display() const { return x11Display_; }
    // What an application started in this session gets: both displays, the buses, the desktop.
    std::vector<std::string> clientEnvironment() const;

    // The whole screen as GNOME Shell draws it, banners included, saved as a PNG at `path`.
    bool screenshot(const std::string& path);
    std::vector<ShellWindow> windows();
    std::optional<ShellWindow> window(const std::string& title);
    // Every Notify call GNOME Shell's notification server received so far, in order (read from
    // a monitor of the session bus; ids are not known there and stay 0).
    std::vector<NotificationTestServer::Notification> notifications() const;
    // Every ActionInvoked the server sent: notification id and action key.
    std::vector<std::pair<std::uint32_t, std::string>> actionsInvoked() const;

    // `gsettings set` in the session, as a settings panel would.
    bool setting(const std::string& schema, const std::string& key, const std::string& value);

    // Pointer and keyboard through mutter's remote desktop interface, which GNOME Shell treats
    // as the user's own input. Keys sent in one Input reach the same banner: ending it may let
    // GNOME Shell close an expanded banner.
    class Input {
    public:
        explicit Input(GnomeShellDesktop& desktop);
        ~Input();
        Input(const Input&) = delete;
        Input& operator=(const Input&) = delete;

        bool started() const { return !session_.empty(); }
        void moveTo(int x, int y);
        void click(int x, int y);
        void doubleClick(int x, int y);
        // Presses at (x, y), moves to (toX, toY) in steps, releases.
        void drag(int x, int y, int toX, int toY);
        // Presses the keys in order (X key names: "Super_L", "n", "Return") and releases them in
        // reverse: one chord.
        bool chord(const std::vector<std::string>& keys);

    private:
        bool call(const char* method, GVariant* parameters);
        void button(bool pressed);

        GDBusConnection* connection_;
        std::string session_;
        int x_ = 0;
        int y_ = 0;
    };

    // GDBus's filter on the monitor connection, on its worker thread.
    static GDBusMessage* monitored(GDBusConnection*, GDBusMessage* message, gboolean incoming,
                                   gpointer self);

private:
    bool startOnce();
    bool startMonitor();
    void stop();

    int width_;
    int height_;
    std::optional<DesktopUser> user_;
    std::unique_ptr<DesktopSession> session_;
    GDBusConnection* connection_ = nullptr;
    GDBusConnection* monitor_ = nullptr;
    mutable std::mutex mutex_;
    std::vector<NotificationTestServer::Notification> notifications_;
    std::vector<std::pair<std::uint32_t, std::string>> actionsInvoked_;
    std::string x11Display_;
    std::string xauthority_;
    std::string failure_;
    double startSeconds_ = 0;
    int screenshots_ = 0;
};

}  // namespace lumory::testing
