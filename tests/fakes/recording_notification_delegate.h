#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/notification_center.h"

namespace lumory::fakes {

// Records what the notification centre tells the shell; a reminder due while the shell is in
// front asks for its sound when it has one.
class RecordingNotificationDelegate : public NotificationCenterDelegate {
public:
    bool notificationDueWhileActive(const NotificationRequest& notification) override {
        presented.push_back(notification.identifier);
        return notification.content.sound;
    }
    void notificationActivated(const NotificationResponse& response,
                               std::function<void()> completion) override {
        responses.push_back(response);
        completion();
    }

    std::vector<std::string> presented;
    std::vector<NotificationResponse> responses;
};

}  // namespace lumory::fakes
