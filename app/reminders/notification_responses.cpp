#include <glib.h>

#include <cmath>

#include "app_delegate.h"
#include "reminders/reminder_identifiers.h"

namespace lumory {

namespace {

constexpr int kSnoozeMinutes = 10;
constexpr std::string_view kActionPath = "api/reminders/action";
constexpr std::chrono::seconds kActionTimeout{60};
constexpr int kDelivered = 200;

// The user info's `reminder` when it is an object.
const nlohmann::json* reminderOf(const NotificationRequest& notification) {
    const nlohmann::json& info = notification.content.userInfo;
    if (!info.is_object()) return nullptr;
    auto found = info.find("reminder");
    if (found == info.end() || !found->is_object()) return nullptr;
    return &*found;
}

std::optional<std::string> stringMember(const nlohmann::json& object, std::string_view key) {
    if (!object.is_object()) return std::nullopt;
    auto found = object.find(key);
    if (found == object.end() || !found->is_string()) return std::nullopt;
    return found->get<std::string>();
}

// `base` with one more path component, as a file-system-like URL grows one: the query and
// fragment stay where they were.
std::optional<std::string> appendingPathComponent(const std::string& base,
                                                  std::string_view component) {
    g_autoptr(GUri) uri = g_uri_parse(base.c_str(), G_URI_FLAGS_ENCODED, nullptr);
    if (uri == nullptr) return std::nullopt;
    std::string path = g_uri_get_path(uri);
    if (path.empty() || path.back() != '/') path += '/';
    path += component;
    g_autoptr(GUri) joined = g_uri_build(
        G_URI_FLAGS_ENCODED, g_uri_get_scheme(uri), g_uri_get_userinfo(uri), g_uri_get_host(uri),
        g_uri_get_port(uri), path.c_str(), g_uri_get_query(uri), g_uri_get_fragment(uri));
    g_autofree char* text = g_uri_to_string(joined);
    return std::string(text);
}

}  // namespace

bool AppDelegate::willPresent(const NotificationRequest& notification) {
    if (const nlohmann::json* reminder = reminderOf(notification)) {
        sendReminderEvent("lumory-reminder-delivered", *reminder);
    }
    return notification.content.sound;
}

void AppDelegate::didReceive(const NotificationResponse& response,
                             std::function<void()> completion) {
    const nlohmann::json* reminder = reminderOf(response.notification);
    if (response.actionIdentifier == kSnoozeAction && reminder != nullptr) {
        snoozeNativeNotification(response.notification, *reminder, kSnoozeMinutes);
        queueReminderAction(*reminder, "snooze", kSnoozeMinutes);
        completion();
        return;
    }
    if (response.actionIdentifier == kDoneAction && reminder != nullptr) {
        queueReminderAction(*reminder, "complete", std::nullopt);
        completion();
        return;
    }
    // A click on the notification itself, or a button without a reminder behind it.
    pendingReminderPath = stringMember(response.notification.content.userInfo, "path");
    if (reminder != nullptr) {
        pendingReminderEvent = nlohmann::json{{"reminder", *reminder}, {"action", "open"}};
    }
    platform_.mainQueue.post(
        [weak = weakSelf(), token = response.activationToken, completion = std::move(completion)] {
            if (auto self = weak.lock()) {
                AppDelegate& delegate = **self;
                // The token lets the window come forward past focus-stealing prevention.
                delegate.platform_.desktop.activateWithToken(token);
                delegate.window->makeKeyAndOrderFront();
                delegate.deliverPendingReminder();
            }
            completion();
        });
}

void AppDelegate::snoozeNativeNotification(const NotificationRequest& notification,
                                           const nlohmann::json& reminder, int minutes) {
    auto id = stringMember(reminder, "id");
    if (!id) return;
    auto now = platform_.clock.now();
    auto delay = std::chrono::minutes(minutes);
    double at = unixSeconds(now + delay) * 1000.0;
    nlohmann::json copy = reminder;
    copy["at"] = at;
    copy["deliveryId"] = *id + ".native." + std::to_string(static_cast<long long>(std::trunc(at)));
    copy["detail"] = "Snoozed for " + std::to_string(minutes) + " minutes";
    NotificationContent content = notification.content;
    if (!content.userInfo.is_object()) content.userInfo = nlohmann::json::object();
    content.userInfo["reminder"] = copy;
    platform_.notificationCenter.add(
        {copy["deliveryId"].get<std::string>(), std::move(content), now + delay});
}

void AppDelegate::queueReminderAction(const nlohmann::json& reminder, const std::string& action,
                                      std::optional<int> snoozeMinutes) {
    auto id = stringMember(reminder, "id");
    if (!id) return;
    nlohmann::json body = {{"id", *id}, {"action", action}};
    if (auto deliveryId = stringMember(reminder, "deliveryId")) body["deliveryId"] = *deliveryId;
    if (snoozeMinutes) body["snoozeMinutes"] = *snoozeMinutes;
    pendingReminderAction = std::move(body);
    postPendingReminderAction();
}

void AppDelegate::postPendingReminderAction() {
    if (!pendingReminderAction) return;
    if (!serverURL) return;
    auto url = appendingPathComponent(*serverURL, kActionPath);
    if (!url) return;
    nlohmann::json action = std::move(*pendingReminderAction);
    pendingReminderAction.reset();

    HttpRequest request;
    request.method = "POST";
    request.url = *url;
    request.contentType = "application/json";
    request.timeout = kActionTimeout;
    try {
        request.body = action.dump();
    } catch (const nlohmann::json::exception&) {
        // Sent without a body; only a 200 would count it as delivered.
    }
    platform_.http.send(request, [weak = weakSelf(), action](HttpResponse response) {
        if (response.status == kDelivered) return;
        auto self = weak.lock();
        if (!self) return;
        // Put back for the next connection, over whatever is waiting by then.
        (*self)->platform_.mainQueue.post([weak, action] {
            auto self = weak.lock();
            if (!self) return;
            (*self)->pendingReminderAction = action;
        });
    });
}

void AppDelegate::deliverPendingReminder() {
    if (!connected) return;
    std::string url = webView->currentUrl();
    if (url.empty() || !isInternal(url)) return;
    if (pendingReminderEvent) {
        nlohmann::json event = std::move(*pendingReminderEvent);
        pendingReminderEvent.reset();
        pendingReminderPath.reset();
        sendReminderEvent("lumory-reminder-action", event);
        return;
    }
    if (pendingReminderPath) {
        std::string path = std::move(*pendingReminderPath);
        pendingReminderPath.reset();
        std::string json;
        try {
            json = nlohmann::json{{"path", path}}.dump();
        } catch (const nlohmann::json::exception&) {
            return;
        }
        webView->evaluateScript(
            "window.dispatchEvent(new CustomEvent('lumory-open-note',{detail:" + json + "}))",
            nullptr);
    }
}

}  // namespace lumory
