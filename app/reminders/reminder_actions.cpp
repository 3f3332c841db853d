#include "reminders/reminder_actions.h"

#include <glib.h>

#include <algorithm>

#include "json_fields.h"

namespace lumory {

namespace {

constexpr std::string_view kActionPath = "api/reminders/action";
constexpr std::chrono::seconds kActionTimeout{60};
constexpr int kDelivered = 200;

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

ReminderActions::ReminderActions(HttpClient& http, MainQueue& mainQueue,
                                 const ServiceSupervisor& service)
    : http_(http), mainQueue_(mainQueue), service_(service) {}

void ReminderActions::queueReminderAction(const nlohmann::json& reminder,
                                          const std::string& action,
                                          std::optional<int> snoozeMinutes) {
    auto id = stringField(reminder, "id");
    if (!id) return;
    nlohmann::json body = {{"id", *id}, {"action", action}};
    if (auto deliveryId = stringField(reminder, "deliveryId")) body["deliveryId"] = *deliveryId;
    if (snoozeMinutes) body["snoozeMinutes"] = *snoozeMinutes;
    pendingReminderActions.push_back(std::move(body));
    postPendingReminderAction();
}

void ReminderActions::postPendingReminderAction() {
    if (posting_ || pendingReminderActions.empty()) return;
    const auto& serverURL = service_.announcedServerURL();
    if (!serverURL) return;
    auto url = appendingPathComponent(*serverURL, kActionPath);
    if (!url) return;
    retry_.reset();

    HttpRequest request;
    request.method = "POST";
    request.url = *url;
    request.contentType = "application/json";
    request.timeout = kActionTimeout;
    request.followRedirects = false;
    try {
        request.body = pendingReminderActions.front().dump();
    } catch (const nlohmann::json::exception&) {
        // Sent without a body; only a 200 would count it as delivered.
    }
    posting_ = true;
    http_.send(request, [weak = lifetime_.weak()](HttpResponse response) {
        auto* self = weak.get();
        if (!self) return;
        bool delivered = response.status == kDelivered;
        self->mainQueue_.post([weak, delivered] {
            if (auto* self = weak.get()) self->answered(delivered);
        });
    });
}

void ReminderActions::answered(bool delivered) {
    posting_ = false;
    if (delivered) {
        pendingReminderActions.pop_front();
        failuresInARow_ = 0;
        postPendingReminderAction();
        return;
    }
    // 1 s, 2 s, 4 s ... up to a minute between tries while the service does not take it.
    auto pause = kFirstRetry * (1 << std::min(failuresInARow_, 6));
    ++failuresInARow_;
    retry_ = mainQueue_.schedule(std::min<std::chrono::milliseconds>(pause, kLongestRetry),
                                 [this] { postPendingReminderAction(); });
}

}  // namespace lumory
