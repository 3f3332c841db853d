#include "notifications/desktop_notification_center.h"

#include <algorithm>

namespace lumory {

namespace {

bool has(const std::vector<std::string>& capabilities, std::string_view wanted) {
    return std::find(capabilities.begin(), capabilities.end(), wanted) != capabilities.end();
}

// Servers that announce body markup read "<", ">" and "&" as markup.
std::string escapeMarkup(std::string_view text) {
    std::string escaped;
    escaped.reserve(text.size());
    for (char c : text) {
        switch (c) {
            case '&':
                escaped += "&amp;";
                break;
            case '<':
                escaped += "&lt;";
                break;
            case '>':
                escaped += "&gt;";
                break;
            default:
                escaped += c;
        }
    }
    return escaped;
}

}  // namespace

DesktopNotificationCenter::DesktopNotificationCenter(NotificationServer& server,
                                                     WallClockAlarm& alarm, const Clock& clock,
                                                     MainQueue& mainQueue,
                                                     NotificationCenterHooks hooks)
    : server_(server),
      alarm_(alarm),
      clock_(clock),
      mainQueue_(mainQueue),
      hooks_(std::move(hooks)) {
    server_.setListener(this);
    alarm_.setWakeHandler([this] { deliverDue(); });
}

DesktopNotificationCenter::~DesktopNotificationCenter() {
    alarm_.disarm();
    alarm_.setWakeHandler(nullptr);
    server_.setListener(nullptr);
}

void DesktopNotificationCenter::setDelegate(NotificationCenterDelegate* delegate) {
    delegate_ = delegate;
}

void DesktopNotificationCenter::setCategories(const std::vector<NotificationCategory>& categories) {
    categories_.clear();
    for (const NotificationCategory& category : categories) {
        categories_[category.identifier] = category.actions;
    }
}

void DesktopNotificationCenter::pendingIdentifiers(
    std::function<void(std::vector<std::string>)> done) {
    // Answered from the main queue, as a server would answer: the list is what is pending then.
    mainQueue_.post([weak = lifetime_.weak(), done = std::move(done)] {
        auto* self = weak.get();
        if (!self) return;
        DesktopNotificationCenter& center = *self;
        std::vector<std::string> identifiers;
        identifiers.reserve(center.order_.size() + center.waitingForServer_.size());
        for (const auto& [order, identifier] : center.order_) identifiers.push_back(identifier);
        // Due while no server ran: still the page's to see and to withdraw.
        for (const auto& [identifier, request] : center.waitingForServer_) {
            identifiers.push_back(identifier);
        }
        done(std::move(identifiers));
    });
}

void DesktopNotificationCenter::removePending(const std::vector<std::string>& identifiers) {
    for (const std::string& identifier : identifiers) {
        erasePending(identifier);
        waitingForServer_.erase(identifier);
    }
    rearm();
}

void DesktopNotificationCenter::add(NotificationRequest request) {
    erasePending(request.identifier);
    waitingForServer_.erase(request.identifier);
    std::uint64_t order = nextOrder_++;
    std::string identifier = request.identifier;
    order_.emplace(order, identifier);
    due_.emplace(DueKey{request.due, order}, identifier);
    auto entry = pending_.emplace(std::move(identifier), Pending{std::move(request), order}).first;
    rearm();
    if (hooks_.requestAdded) hooks_.requestAdded(entry->second.request);
}

void DesktopNotificationCenter::permission(
    std::function<void(PermissionStatus)> done) {
    server_.isAvailable([done = std::move(done)](bool available) {
        done(available ? PermissionStatus::Authorized : PermissionStatus::Denied);
    });
}

void DesktopNotificationCenter::requestPermission(
    std::function<void(std::optional<std::string>)> done) {
    // There is nobody to ask: a present server is the permission. Asking checks again.
    server_.isAvailable([done = std::move(done)](bool) { done(std::nullopt); });
}

bool DesktopNotificationCenter::openSettings() {
    return hooks_.openSettings ? hooks_.openSettings() : false;
}

void DesktopNotificationCenter::erasePending(const std::string& identifier) {
    auto found = pending_.find(identifier);
    if (found == pending_.end()) return;
    order_.erase(found->second.order);
    due_.erase(DueKey{found->second.request.due, found->second.order});
    pending_.erase(found);
}

void DesktopNotificationCenter::rearm() {
    if (due_.empty()) {
        if (armedAt_) alarm_.disarm();
        armedAt_.reset();
        return;
    }
    auto next = due_.begin()->first.first;
    if (armedAt_ == next) return;
    armedAt_ = next;
    alarm_.arm(next);
}

void DesktopNotificationCenter::deliverDue() {
    auto now = clock_.now();
    std::vector<NotificationRequest> due;
    while (!due_.empty() && due_.begin()->first.first <= now) {
        std::string identifier = due_.begin()->second;
        due.push_back(std::move(pending_.at(identifier).request));
        erasePending(identifier);
    }
    // The alarm may have been spent or cancelled by a clock change: arm it afresh.
    armedAt_.reset();
    if (due_.empty()) alarm_.disarm();
    rearm();
    auto weak = lifetime_.weak();
    for (const NotificationRequest& request : due) {
        if (weak.expired()) return;
        present(request);
    }
}

void DesktopNotificationCenter::present(const NotificationRequest& request) {
    bool active = hooks_.applicationIsActive && hooks_.applicationIsActive();
    if (active && delegate_ != nullptr) {
        // The page is told instead of a banner; only the sound, if any, reaches the desktop.
        if (delegate_->notificationDueWhileActive(request) && hooks_.playEventSound) hooks_.playEventSound();
        return;
    }
    show(request);
}

void DesktopNotificationCenter::show(const NotificationRequest& request) {
    server_.capabilities([weak = lifetime_.weak(),
                          request](const std::vector<std::string>& capabilities) {
        auto* self = weak.get();
        if (!self) return;
        DesktopNotificationCenter& center = *self;
        DesktopNotification notification = center.notificationFor(request.content, capabilities);
        // A request shown again under the same identifier replaces its earlier banner.
        auto earlier = center.shownByIdentifier_.find(request.identifier);
        if (earlier != center.shownByIdentifier_.end()) notification.replacesId = earlier->second;
        ++center.notifiesInFlight_;
        center.server_.notify(notification, [weak, request](std::optional<std::uint32_t> id) {
            if (auto* self = weak.get()) self->shown(request, id);
        });
    });
}

void DesktopNotificationCenter::shown(const NotificationRequest& request,
                                      std::optional<std::uint32_t> id) {
    --notifiesInFlight_;
    std::optional<Early> early;
    if (id) {
        if (auto found = early_.find(*id); found != early_.end()) {
            early = std::move(found->second);
            early_.erase(found);
        }
    }
    if (notifiesInFlight_ == 0) early_.clear();
    if (!id) {
        waitingForServer_[request.identifier] = request;
        return;
    }
    auto previous = shownByIdentifier_.find(request.identifier);
    if (previous != shownByIdentifier_.end() && previous->second != *id) {
        shown_.erase(previous->second);
    }
    shown_[*id] = Shown{request, {}};
    shownByIdentifier_[request.identifier] = *id;
    // What the server said about this id before its reply arrived.
    if (!early) return;
    if (!early->token.empty()) activationToken(*id, early->token);
    if (early->action) {
        actionInvoked(*id, *early->action);
    } else if (early->closed) {
        notificationClosed(*id);
    }
}

DesktopNotification DesktopNotificationCenter::notificationFor(
    const NotificationContent& content, const std::vector<std::string>& capabilities) const {
    DesktopNotification notification;
    notification.appName = kNotificationAppName;
    notification.appIcon = kNotificationDesktopEntry;
    notification.desktopEntry = kNotificationDesktopEntry;
    notification.summary = content.title;
    // No subtitle line on this desktop: it heads the body.
    std::string body = content.subtitle;
    if (!body.empty() && !content.body.empty()) body += '\n';
    body += content.body;
    notification.body = has(capabilities, "body-markup") ? escapeMarkup(body) : body;
    if (has(capabilities, "actions")) {
        notification.actions.push_back(
            {std::string(kDefaultActionIdentifier), std::string(kNotificationOpenLabel)});
        auto category = categories_.find(content.categoryIdentifier);
        if (category != categories_.end()) {
            for (const NotificationAction& action : category->second) {
                notification.actions.push_back(action);
            }
        }
    }
    if (content.sound) {
        notification.soundName = kNotificationSoundName;
    } else {
        notification.suppressSound = true;
    }
    return notification;
}

void DesktopNotificationCenter::actionInvoked(std::uint32_t id, const std::string& actionKey) {
    auto found = shown_.find(id);
    if (found == shown_.end()) {
        // A server may send signals before the client has read Notify's reply with the id.
        if (notifiesInFlight_ > 0) early_[id].action = actionKey;
        return;
    }
    Shown answered = std::move(found->second);
    forgetShown(id, answered.request.identifier);
    NotificationResponse response{std::move(answered.request), actionKey,
                                  std::move(answered.activationToken)};
    // Answered: a server that keeps notifications after an action (resident ones) drops it.
    server_.close(id);
    if (delegate_ != nullptr) delegate_->notificationActivated(response, [] {});
}

void DesktopNotificationCenter::activationToken(std::uint32_t id, const std::string& token) {
    auto found = shown_.find(id);
    if (found != shown_.end()) {
        found->second.activationToken = token;
    } else if (notifiesInFlight_ > 0) {
        early_[id].token = token;
    }
}

void DesktopNotificationCenter::notificationClosed(std::uint32_t id) {
    if (!shown_.contains(id) && notifiesInFlight_ > 0) early_[id].closed = true;
    forgetShown(id);
}

void DesktopNotificationCenter::forgetShown(std::uint32_t id) {
    auto found = shown_.find(id);
    if (found == shown_.end()) return;
    forgetShown(id, found->second.request.identifier);
}

void DesktopNotificationCenter::forgetShown(std::uint32_t id, const std::string& identifier) {
    auto byIdentifier = shownByIdentifier_.find(identifier);
    if (byIdentifier != shownByIdentifier_.end() && byIdentifier->second == id) {
        shownByIdentifier_.erase(byIdentifier);
    }
    shown_.erase(id);
}

void DesktopNotificationCenter::serverChanged(bool present) {
    // The ids belonged to the server that went away; its banners went with it.
    shown_.clear();
    shownByIdentifier_.clear();
    if (!present || waitingForServer_.empty()) return;
    auto waiting = std::move(waitingForServer_);
    waitingForServer_.clear();
    for (const auto& [identifier, request] : waiting) show(request);
}

}  // namespace lumory
