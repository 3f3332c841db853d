#pragma once

#include <string>

#include "platform/clock.h"
#include "platform/desktop.h"
#include "platform/dialogs.h"
#include "platform/host_system.h"
#include "platform/http_client.h"
#include "platform/main_queue.h"
#include "platform/settings_store.h"
#include "updates/release_feed.h"
#include "weak_handle.h"

namespace lumory::updates {

// Looks for a newer release once a day and offers it: Download, Later, Skip This Version.
class UpdateChecker {
public:
    struct Platform {
        HttpClient& http;
        SettingsStore& settings;
        const Clock& clock;
        const HostSystem& system;
        MainQueue& mainQueue;
        Dialogs& dialogs;
        Desktop& desktop;
    };
    explicit UpdateChecker(Platform platform) : platform_(platform) {}

    // Returns at once; the feed is fetched in the background and a newer release offered later.
    void checkInBackground();
    // The same check against a given feed, for a given current version.
    void checkInBackground(const std::string& feed, const std::string& current);
    // The modal prompt.
    void present(const Release& release, const std::string& current);

private:
    void received(const HttpResponse& response, const std::string& current);

    Platform platform_;
    Lifetime<UpdateChecker> lifetime_{this};
};

}  // namespace lumory::updates
