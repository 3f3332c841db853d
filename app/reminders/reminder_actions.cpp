#include "reminders/reminder_actions.h"

#include <glib.h>

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
    pendingReminderAction_ = std::move(body);
    postPendingReminderAction();
}

void ReminderActions::postPendingReminderAction() {
    if (!pendingReminderAction_) return;
    const auto& serverURL = service_.announcedServerURL();
    if (!serverURL) return;
    auto url = appendingPathComponent(*serverURL, kActionPath);
    if (!url) return;
    nlohmann::json action = std::move(*pendingReminderAction_);
    pendingReminderAction_.reset();

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
    http_.send(request, [weak = lifetime_.weak(), action](HttpResponse response) {
        if (response.status == kDelivered) return;
        auto* self = weak.get();
        if (!self) return;
        // Put back for the next connection, over whatever is waiting by then.
        self->mainQueue_.post([weak, action] {
            if (auto* self = weak.get()) self->pendingReminderAction_ = action;
        });
    });
}

}  // namespace lumory
