#pragma once

#include "platform/clock.h"
#include "platform/desktop.h"
#include "platform/dialogs.h"
#include "platform/host_system.h"
#include "platform/http_client.h"
#include "platform/main_queue.h"
#include "platform/notification_center.h"
#include "platform/service_process.h"
#include "platform/settings_store.h"

namespace lumory {

// The platform pieces the shell's features work through, realised on GTK in app/gtk/.
struct ShellPlatform {
    Desktop& desktop;
    ServiceLauncher& serviceLauncher;
    MainQueue& mainQueue;
    const HostSystem& system;
    Dialogs& dialogs;
    NotificationCenter& notificationCenter;
    HttpClient& http;
    SettingsStore& settings;
    const Clock& clock;
};

}  // namespace lumory
