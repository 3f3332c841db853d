#pragma once

#include "alerts.h"
#include "clock.h"
#include "defaults_store.h"
#include "desktop.h"
#include "host_system.h"
#include "http_client.h"
#include "main_queue.h"
#include "reminders/notification_center.h"
#include "service_process.h"

namespace lumory {

// The platform pieces the delegate works through.
struct AppPlatform {
    Desktop& desktop;
    ServiceLauncher& serviceLauncher;
    MainQueue& mainQueue;
    const HostSystem& system;
    Alerts& alerts;
    NotificationCenter& notificationCenter;
    HttpClient& http;
    DefaultsStore& defaults;
    const Clock& clock;
};

}  // namespace lumory
