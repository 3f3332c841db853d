#include "gtk/notifications/timerfd_wall_clock_alarm.h"

#include <glib-unix.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

namespace lumory::gtk {

TimerfdWallClockAlarm::TimerfdWallClockAlarm() : cancellable_(g_cancellable_new()) {
    fd_ = timerfd_create(CLOCK_REALTIME, TFD_NONBLOCK | TFD_CLOEXEC);
    if (fd_ >= 0) source_ = g_unix_fd_add(fd_, G_IO_IN, &TimerfdWallClockAlarm::readable, this);
    // Without a system bus (containers, tests) resumes are still caught by the timer itself.
    g_bus_get(
        G_BUS_TYPE_SYSTEM, cancellable_.get(),
        +[](GObject*, GAsyncResult* result, gpointer data) {
            GError* error = nullptr;
            GDBusConnection* bus = g_bus_get_finish(result, &error);
            if (bus == nullptr) {
                g_error_free(error);
                return;
            }
            // Only reached while the alarm lives: destroying it cancels the request.
            static_cast<TimerfdWallClockAlarm*>(data)->watchSleep(bus);
            g_object_unref(bus);
        },
        this);
}

TimerfdWallClockAlarm::~TimerfdWallClockAlarm() {
    g_cancellable_cancel(cancellable_.get());
    if (sleepSubscription_ != 0) {
        g_dbus_connection_signal_unsubscribe(systemBus_.get(), sleepSubscription_);
    }
    if (source_ != 0) g_source_remove(source_);
    if (fd_ >= 0) ::close(fd_);
}

void TimerfdWallClockAlarm::watchSleep(GDBusConnection* systemBus) {
    systemBus_ = GObjectPtr<GDBusConnection>::retain(systemBus);
    sleepSubscription_ = g_dbus_connection_signal_subscribe(
        systemBus, "org.freedesktop.login1", "org.freedesktop.login1.Manager", "PrepareForSleep",
        "/org/freedesktop/login1", nullptr, G_DBUS_SIGNAL_FLAGS_NONE,
        +[](GDBusConnection*, const char*, const char*, const char*, const char*,
            GVariant* parameters, gpointer self) {
            if (!g_variant_is_of_type(parameters, G_VARIANT_TYPE("(b)"))) return;
            gboolean goingToSleep = TRUE;
            g_variant_get(parameters, "(b)", &goingToSleep);
            if (!goingToSleep) static_cast<TimerfdWallClockAlarm*>(self)->wake();
        },
        this, nullptr);
}

void TimerfdWallClockAlarm::setWakeHandler(std::function<void()> wake) {
    wake_ = std::move(wake);
}

void TimerfdWallClockAlarm::arm(std::chrono::system_clock::time_point at) {
    if (fd_ < 0) return;
    auto since = at.time_since_epoch();
    auto seconds = std::chrono::duration_cast<std::chrono::seconds>(since);
    auto nanoseconds = std::chrono::duration_cast<std::chrono::nanoseconds>(since - seconds);
    itimerspec spec{};
    spec.it_value.tv_sec = static_cast<time_t>(seconds.count());
    spec.it_value.tv_nsec = static_cast<long>(nanoseconds.count());
    // An all-zero value would disarm; an instant at or before 1970 is simply past.
    if (spec.it_value.tv_sec < 0 || (spec.it_value.tv_sec == 0 && spec.it_value.tv_nsec <= 0)) {
        spec.it_value = {0, 1};
    }
    timerfd_settime(fd_, TFD_TIMER_ABSTIME | TFD_TIMER_CANCEL_ON_SET, &spec, nullptr);
}

void TimerfdWallClockAlarm::disarm() {
    if (fd_ < 0) return;
    itimerspec spec{};
    timerfd_settime(fd_, 0, &spec, nullptr);
}

gboolean TimerfdWallClockAlarm::readable(gint fd, GIOCondition, gpointer data) {
    std::uint64_t expirations = 0;
    ssize_t count = ::read(fd, &expirations, sizeof expirations);
    // ECANCELED: the system clock was set; the timer must be armed again from the wall clock.
    if (count == sizeof expirations || (count < 0 && errno == ECANCELED)) {
        static_cast<TimerfdWallClockAlarm*>(data)->wake();
    }
    return G_SOURCE_CONTINUE;
}

void TimerfdWallClockAlarm::wake() {
    if (wake_) wake_();
}

}  // namespace lumory::gtk
