#pragma once

#include <gio/gio.h>

#include "gobject_ptr.h"
#include "platform/notification_server.h"

namespace lumory::gtk {

// A CLOCK_REALTIME timerfd with an absolute expiry, on the default main context. The kernel
// fires such a timer at the wall-clock instant however long the machine slept, and reports a
// change of the system clock (TFD_TIMER_CANCEL_ON_SET) so the owner can look again. logind's
// PrepareForSleep(false) on the system bus wakes the owner after a resume as well.
class TimerfdWallClockAlarm : public WallClockAlarm {
public:
    TimerfdWallClockAlarm();
    ~TimerfdWallClockAlarm() override;
    TimerfdWallClockAlarm(const TimerfdWallClockAlarm&) = delete;
    TimerfdWallClockAlarm& operator=(const TimerfdWallClockAlarm&) = delete;

    void setWakeHandler(std::function<void()> wake) override;
    void arm(std::chrono::system_clock::time_point at) override;
    void disarm() override;

private:
    static gboolean readable(gint fd, GIOCondition condition, gpointer self);
    void watchSleep(GDBusConnection* systemBus);
    void wake();

    int fd_ = -1;
    guint source_ = 0;
    std::function<void()> wake_;
    GObjectPtr<GCancellable> cancellable_;
    GObjectPtr<GDBusConnection> systemBus_;
    guint sleepSubscription_ = 0;
};

}  // namespace lumory::gtk
