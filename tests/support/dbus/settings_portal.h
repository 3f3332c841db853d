#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "dbus/bus_service_thread.h"

namespace lumory::testing {

// A stand-in for the desktop portal's settings (org.freedesktop.portal.Settings at
// org.freedesktop.portal.Desktop) on a private bus, served from a thread of its own. It publishes
// org.freedesktop.appearance color-scheme and announces changes with SettingChanged.
class SettingsPortal {
public:
    enum class Answers {
        readOne,       // a current portal: ReadOne and Read
        readOnly,      // an older portal: Read alone, its value a variant in a variant
        notPublished,  // a portal whose desktop does not publish the setting
        never,         // a portal that takes calls and never answers them
    };

    SettingsPortal(const std::string& busAddress, std::uint32_t colorScheme,
                   Answers answers = Answers::readOne);
    ~SettingsPortal();
    SettingsPortal(const SettingsPortal&) = delete;
    SettingsPortal& operator=(const SettingsPortal&) = delete;

    // True once it owns its name on the bus.
    bool started() const { return service_.started(); }

    // Publishes a new color-scheme and announces it.
    void setColorScheme(std::uint32_t value);
    // Announces any setting, as a portal does for every namespace it knows.
    void announce(const std::string& nameSpace, const std::string& key, std::uint32_t value);

    // The methods called so far, in order ("ReadOne", "Read").
    std::vector<std::string> calls() const;
    bool waitForCalls(size_t count, std::chrono::milliseconds timeout) const;

    // GDBus's entry point for the portal's methods.
    static void methodCalled(GDBusConnection*, const gchar* sender, const gchar* path,
                             const gchar* interface, const gchar* method, GVariant* parameters,
                             GDBusMethodInvocation* invocation, gpointer self);

private:
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::uint32_t colorScheme_;
    Answers answers_;
    std::vector<std::string> calls_;
    std::vector<GDBusMethodInvocation*> unanswered_;
    // Last: it stops answering before the state its calls use goes.
    BusServiceThread service_;
};

}  // namespace lumory::testing
