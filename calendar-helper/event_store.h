#pragma once

// The calendar database as the helper's commands see it. Realised on Evolution Data Server
// (eds/) and in memory (tests). Command logic never knows which one it runs on.
//
// First draft: the frame/access work owns authorization, access requests, reset and change
// notification; the calendar/event/reminder work owns the data members and their value types.
// Extend in place; keep it shaped by what the commands need, not by EDS.

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace lumory::cal {

using Instant = std::chrono::system_clock::time_point;

enum class EntityType { event = 0, reminder = 1 };

// Authorization status as a plain number: 0 notDetermined, 1 restricted, 2 denied,
// 3 fullAccess, 4 writeOnly; anything else reads "unknown".
using AuthorizationStatus = int;

struct Calendar {
    std::string identifier;
    std::string title;
    std::string sourceTitle;
    std::string sourceType;  // "local", "caldav", "exchange", "subscribed", "birthdays", "unknown"
    bool allowsContentModifications = false;
    // sRGB components (red, green, blue[, alpha]) when the calendar has a colour.
    std::optional<std::vector<double>> colorComponents;
};

// Called exactly once, on any thread.
using AccessCompletion =
    std::function<void(bool granted, std::optional<std::string> errorDescription)>;

class EventStore {
public:
    virtual ~EventStore() = default;

    // Read fresh on every call.
    virtual AuthorizationStatus authorizationStatus(EntityType type) = 0;
    virtual void requestFullAccess(EntityType type, AccessCompletion completion) = 0;
    // Drops cached state so that data that has just become readable is fetched anew.
    virtual void reset() = 0;
    // Called (on the main loop) whenever the database changed, by this or another process.
    virtual void setChangeHandler(std::function<void()> handler) = 0;

    // All calendars of a kind, in the store's own order.
    virtual std::vector<Calendar> calendars(EntityType type) = 0;

    // Events, reminders, save and remove: added with the calendar and reminder commands.
};

}  // namespace lumory::cal
