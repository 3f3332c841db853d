#pragma once

// The calendar database as the helper's commands see it: authorization and access requests,
// change notices, and calendars, events, reminder lists and reminders with their value types.
// Realised on Evolution Data Server (eds/) and in memory (tests); command logic never knows
// which one it runs on, so the interface is shaped by what the commands need, not by EDS.

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace lumory::cal {

using Instant = std::chrono::system_clock::time_point;

enum class EntityType { event = 0, reminder = 1 };

// Authorization status as a plain number: 0 notDetermined, 1 restricted, 2 denied,
// 3 fullAccess, 4 writeOnly; anything else reads "unknown".
using AuthorizationStatus = int;

// The kind of account a calendar belongs to; the numbers are the peer-visible order of kinds.
enum class SourceType { local = 0, exchange = 1, caldav = 2, mobileme = 3, subscribed = 4,
                        birthdays = 5, unknown = -1 };

// A calendar of events or a list of reminders.
struct Calendar {
    std::string identifier;
    std::string title;
    std::string sourceTitle;
    SourceType sourceType = SourceType::unknown;
    bool allowsContentModifications = false;
    // sRGB components (red, green, blue[, alpha]) when the calendar has a colour.
    std::optional<std::vector<double>> colorComponents;
};

// Availability numbers as peers send and receive them.
enum Availability : int { kAvailabilityNotSupported = -1, kAvailabilityBusy = 0,
                          kAvailabilityFree = 1, kAvailabilityTentative = 2,
                          kAvailabilityUnavailable = 3 };

struct Attendee {
    std::string name;     // empty when the attendee has no display name
    std::string address;  // absolute URI, e.g. mailto:someone@example.org
};

// One event, or one occurrence of a repeating event.
struct Event {
    std::string identifier;  // empty until saved; shared by every occurrence of a series
    std::optional<std::string> title;
    bool isAllDay = false;
    std::optional<Calendar> calendar;
    // Calendar the store holds the event in now; empty for an event never saved.
    std::string storedCalendarId;
    bool hasRecurrenceRules = false;
    int availability = kAvailabilityBusy;
    std::optional<Instant> startDate;
    std::optional<Instant> endDate;
    // Where this occurrence sits in its series; absent for an event that does not repeat.
    std::optional<Instant> recurrenceDate;
    std::optional<Instant> lastModifiedDate;
    std::optional<std::string> notes;
    std::optional<std::string> url;
    std::optional<std::string> location;
    std::optional<std::vector<Attendee>> attendees;

    std::optional<Instant> occurrenceDate() const {
        return recurrenceDate ? recurrenceDate : startDate;
    }
};

// One occurrence of a listing: its own times; everything else comes from its pattern.
struct Occurrence {
    Instant start;
    std::optional<Instant> end;
    std::optional<Instant> recurrence;
    std::uint32_t pattern = 0;  // index into EventListing::patterns
};

// The occurrences in a window, compact: a series' shared fields are held once however many
// times it repeats (an event every minute is half a million occurrences a year).
struct EventListing {
    std::vector<Event> patterns;
    std::vector<Occurrence> occurrences;

    // A whole event as one record, its pattern in place.
    void add(Event event);
    // The occurrence as an Event of its own.
    Event event(const Occurrence& occurrence) const;
};

// A due date as calendar fields in the helper's time zone; without hour it is date-only.
struct DueDate {
    int year = 0;
    int month = 0;  // 1-12
    int day = 0;    // 1-31
    std::optional<int> hour;
    std::optional<int> minute;
    int second = 0;  // only kept from due dates written by other programs
    bool operator==(const DueDate&) const = default;
};

struct Reminder {
    std::string identifier;  // empty until saved
    std::optional<std::string> title;
    std::optional<Calendar> list;
    std::string storedListId;  // list the store holds the reminder in now; empty when unsaved
    bool isCompleted = false;
    std::optional<Instant> completionDate;
    int priority = 0;  // 0 none, 1 highest ... 9 lowest
    std::optional<DueDate> dueDateComponents;
    std::optional<std::string> notes;
};

// Which reminders a fetch returns: open ones due in [start, end) (no start: any time before
// end), or completed ones whose completion time lies in [start, end).
struct ReminderQuery {
    bool completed = false;
    std::optional<Instant> start;
    Instant end;
    // Lists to search; all reminder lists when absent.
    std::optional<std::vector<std::string>> listIds;
};

// Raised by the store when it refuses or fails a read or write; what() is told to the peer.
struct StoreError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Called exactly once, on any thread; nothing when the fetch failed.
using ReminderCompletion = std::function<void(std::optional<std::vector<Reminder>>)>;

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
    // Where new events or reminders go when the request names no calendar.
    virtual std::optional<Calendar> defaultCalendar(EntityType type) = 0;

    // Occurrences overlapping [start, end) (see eventInWindow), repeating events expanded, in
    // the store's order. No calendars means all event calendars.
    virtual std::vector<Event> events(Instant start, Instant end,
                                      const std::optional<std::vector<std::string>>& calendarIds) = 0;
    // The same occurrences, compact, for listings that may be very long. Stores that expand
    // series themselves should give each series one pattern.
    virtual EventListing eventListing(Instant start, Instant end,
                                      const std::optional<std::vector<std::string>>& calendarIds) {
        EventListing listing;
        for (auto& event : events(start, end, calendarIds)) listing.add(std::move(event));
        return listing;
    }
    // The event with that identifier (the first occurrence of a series), or nothing.
    virtual std::optional<Event> event(const std::string& identifier) = 0;
    // Saves this event or this one occurrence only, committed at once; fills in the identifier
    // and what the store derives. Throws StoreError.
    virtual void saveEvent(Event& event) = 0;
    // Removes this event or this one occurrence only. Throws StoreError.
    virtual void removeEvent(const Event& event) = 0;

    // Runs the fetch off the calling thread and calls completion once.
    virtual void fetchReminders(const ReminderQuery& query, ReminderCompletion completion) = 0;
    // The reminder with that identifier; nothing when none, or when it names an event.
    virtual std::optional<Reminder> reminder(const std::string& identifier) = 0;
    // Saves, committed at once; fills in the identifier. Throws StoreError.
    virtual void saveReminder(Reminder& reminder) = 0;
    virtual void removeReminder(const Reminder& reminder) = 0;
};

}  // namespace lumory::cal
