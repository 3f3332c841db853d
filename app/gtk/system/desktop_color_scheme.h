#pragma once

#include <gio/gio.h>

#include <string>

#include "gobject_ptr.h"
#include "platform/appearance.h"
#include "weak_handle.h"

namespace lumory::gtk {

// The colour preference from the desktop portal's settings on the session bus, and from GNOME's
// own setting where that schema is installed.
//
// The portal is never started for it: a portal started on demand can take seconds to come up.
// Its name is watched instead, so a portal that is running is read at once and one that starts
// later is read when it appears.
class DesktopColorScheme : public ColorSchemeSources {
public:
    // `sessionBus`: the application's connection, null without a session bus (then no portal).
    // `gnomeSchema`: where GNOME keeps color-scheme, replaceable so tests can name a schema
    // that is missing or lacks the key.
    explicit DesktopColorScheme(GDBusConnection* sessionBus,
                                std::string gnomeSchema = "org.gnome.desktop.interface");
    ~DesktopColorScheme() override;
    DesktopColorScheme(const DesktopColorScheme&) = delete;
    DesktopColorScheme& operator=(const DesktopColorScheme&) = delete;

    void follow(ColorSchemeListener& listener) override;

private:
    struct Pending;

    void followGnome();
    void followPortal();
    void portalAppeared();
    void portalVanished();
    void read(const char* method);
    void readFinished(const char* method, GVariant* reply, GError* error);
    void settingChanged(GVariant* parameters);

    std::string gnomeSchema_;
    ColorSchemeListener* listener_ = nullptr;
    GObjectPtr<GDBusConnection> bus_;
    GObjectPtr<GCancellable> cancellable_;
    GObjectPtr<GSettings> gnome_;
    guint watch_ = 0;
    guint subscription_ = 0;
    // A change announced while a read was under way is newer than what the read brings back.
    bool reading_ = false;
    bool changedWhileReading_ = false;
    // Last: answers that come after the object is gone find it expired.
    Lifetime<DesktopColorScheme> lifetime_{this};
};

}  // namespace lumory::gtk
