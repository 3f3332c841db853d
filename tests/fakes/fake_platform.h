#pragma once

// Fakes of the smaller platform pieces: dialogs, HTTP, settings, the wall clock and the
// notification centre. Each records what it was asked and answers when the test says so.
#include <map>
#include <string>
#include <vector>

#include "platform/dialogs.h"
#include "platform/clock.h"
#include "platform/settings_store.h"
#include "platform/http_client.h"
#include "platform/notification_center.h"
#include "platform/notification_server.h"

namespace lumory::fakes {

class FakeDialogs : public Dialogs {
public:
    struct Sheet {
        MessageDialogSpec spec;
        std::function<void(DialogResponse)> done;
    };
    struct OpenPanel {
        FileChooserOptions options;
        std::function<void(std::optional<std::vector<std::string>>)> done;
    };

    void showMessageDialog(const MessageDialogSpec& spec, std::function<void(DialogResponse)> done) override {
        sheets.push_back({spec, std::move(done)});
    }
    void chooseFiles(
        const FileChooserOptions& options,
        std::function<void(std::optional<std::vector<std::string>>)> done) override {
        openPanels.push_back({options, std::move(done)});
    }

    // Answers the oldest open sheet.
    void answer(int button, std::string text = {}) {
        Sheet sheet = std::move(sheets.front());
        sheets.erase(sheets.begin());
        sheet.done(DialogResponse{button, std::move(text)});
    }

    std::vector<Sheet> sheets;
    std::vector<OpenPanel> openPanels;
};

class FakeHttpClient : public HttpClient {
public:
    struct Sent {
        HttpRequest request;
        std::function<void(HttpResponse)> done;
    };
    void send(const HttpRequest& request, std::function<void(HttpResponse)> done) override {
        sent.push_back({request, std::move(done)});
    }
    // Answers the oldest request still waiting.
    void respond(HttpResponse response) {
        Sent request = std::move(sent.front());
        sent.erase(sent.begin());
        ++answered;
        request.done(std::move(response));
    }

    std::vector<Sent> sent;
    int answered = 0;
};

// Values are kept as strings, as the key file keeps them, so a wrongly typed value can be set.
class FakeSettingsStore : public SettingsStore {
public:
    std::optional<bool> boolValue(const std::string& key) const override {
        auto value = raw(key);
        if (value == "true") return true;
        if (value == "false") return false;
        return std::nullopt;
    }
    std::optional<double> doubleValue(const std::string& key) const override {
        auto value = raw(key);
        if (!value) return std::nullopt;
        try {
            size_t used = 0;
            double number = std::stod(*value, &used);
            if (used == value->size()) return number;
        } catch (const std::exception&) {
        }
        return std::nullopt;
    }
    std::optional<std::string> stringValue(const std::string& key) const override {
        return raw(key);
    }
    void setDouble(const std::string& key, double value) override {
        values[key] = std::to_string(value);
    }
    void setString(const std::string& key, const std::string& value) override {
        values[key] = value;
    }

    std::optional<std::string> raw(const std::string& key) const {
        auto found = values.find(key);
        if (found == values.end()) return std::nullopt;
        return found->second;
    }

    std::map<std::string, std::string> values;
};

class FakeClock : public Clock {
public:
    std::chrono::system_clock::time_point now() const override { return current; }
    void advance(std::chrono::milliseconds by) { current += by; }

    // 2026-12-08 12:00:00 UTC.
    std::chrono::system_clock::time_point current{std::chrono::seconds(1796731200)};
};

class FakeNotificationCenter : public NotificationCenter {
public:
    void setDelegate(NotificationCenterDelegate* value) override { delegate = value; }
    void setCategories(const std::vector<NotificationCategory>& value) override {
        categories = value;
    }
    void pendingIdentifiers(std::function<void(std::vector<std::string>)> done) override {
        pendingQueries.push_back(std::move(done));
    }
    void removePending(const std::vector<std::string>& identifiers) override {
        removals.push_back(identifiers);
        for (const std::string& identifier : identifiers) {
            std::erase_if(pending, [&](const NotificationRequest& request) {
                return request.identifier == identifier;
            });
        }
    }
    void add(NotificationRequest request) override {
        added.push_back(request);
        std::erase_if(pending, [&](const NotificationRequest& existing) {
            return existing.identifier == request.identifier;
        });
        pending.push_back(request);
    }
    void permission(std::function<void(PermissionStatus)> done) override {
        statusQueries.push_back(std::move(done));
    }
    void requestPermission(std::function<void(std::optional<std::string>)> done) override {
        authorizationRequests.push_back(std::move(done));
    }
    bool openSettings() override {
        ++settingsOpened;
        return settingsOpen;
    }

    // Answers every waiting pending-request query with the current pending list.
    void answerPendingQueries() {
        auto queries = std::move(pendingQueries);
        pendingQueries.clear();
        std::vector<std::string> identifiers;
        for (const NotificationRequest& request : pending)
            identifiers.push_back(request.identifier);
        for (auto& query : queries) query(identifiers);
    }

    NotificationCenterDelegate* delegate = nullptr;
    std::vector<NotificationCategory> categories;
    std::vector<NotificationRequest> pending;
    std::vector<NotificationRequest> added;
    std::vector<std::vector<std::string>> removals;
    std::vector<std::function<void(std::vector<std::string>)>> pendingQueries;
    std::vector<std::function<void(PermissionStatus)>> statusQueries;
    std::vector<std::function<void(std::optional<std::string>)>> authorizationRequests;
    int settingsOpened = 0;
    bool settingsOpen = true;
};

// A notification server that answers at once and records what it was asked.
class FakeNotificationServer : public NotificationServer {
public:
    void setListener(NotificationServerListener* value) override { listener = value; }
    void capabilities(std::function<void(std::vector<std::string>)> done) override {
        done(present ? serverCapabilities : std::vector<std::string>{});
    }
    void notify(const DesktopNotification& notification,
                std::function<void(std::optional<std::uint32_t>)> done) override {
        if (!present) {
            done(std::nullopt);
            return;
        }
        shown.push_back(notification);
        std::uint32_t id = notification.replacesId != 0 ? notification.replacesId : nextId++;
        if (deferReplies) {
            replies.push_back([done = std::move(done), id] { done(id); });
        } else {
            done(id);
        }
    }
    // Delivers the Notify replies held back while `deferReplies` was set.
    void reply() {
        auto waiting = std::move(replies);
        replies.clear();
        for (auto& answer : waiting) answer();
    }
    void close(std::uint32_t id) override { closed.push_back(id); }
    void isAvailable(std::function<void(bool)> done) override { done(present || activatable); }

    // The server's side: a button or the notification itself was pressed.
    void invoke(std::uint32_t id, const std::string& key, const std::string& token = {}) {
        if (!token.empty()) listener->activationToken(id, token);
        listener->actionInvoked(id, key);
    }
    void restart(bool nowPresent) {
        present = nowPresent;
        listener->serverChanged(nowPresent);
    }

    NotificationServerListener* listener = nullptr;
    bool present = true;
    bool activatable = false;
    std::vector<std::string> serverCapabilities = {"actions", "body", "sound"};
    std::vector<DesktopNotification> shown;
    std::vector<std::uint32_t> closed;
    std::uint32_t nextId = 1;
    bool deferReplies = false;
    std::vector<std::function<void()>> replies;
};

// An alarm that wakes its owner only when the test says the instant came (or the machine
// woke up, or the clock was set).
class FakeWallClockAlarm : public WallClockAlarm {
public:
    void setWakeHandler(std::function<void()> value) override { wake = std::move(value); }
    void arm(std::chrono::system_clock::time_point at) override { armedAt = at; }
    void disarm() override { armedAt.reset(); }

    // Moves `clock` to the armed instant and wakes the owner, as the timer would.
    bool fire(FakeClock& clock) {
        if (!armedAt) return false;
        if (clock.current < *armedAt) clock.current = *armedAt;
        wake();
        return true;
    }

    std::function<void()> wake;
    std::optional<std::chrono::system_clock::time_point> armedAt;
};

}  // namespace lumory::fakes
