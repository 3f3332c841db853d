#pragma once

// The event store in memory, for unit tests: statuses, access answers and change notices are
// set by the test; calendars, events and reminders are kept in plain containers.

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

#include "event_store.h"

namespace lumory::cal {

class MemoryEventStore final : public EventStore {
public:
    ~MemoryEventStore() override;

    // The data as the test sets it up: calendars of each kind in store order, the defaults,
    // events (one record per single event or per occurrence) and reminders.
    void addCalendar(EntityType type, Calendar calendar);
    void setDefaultCalendar(EntityType type, std::optional<std::string> identifier);
    void addEvent(Event event);
    void addReminder(Reminder reminder);
    std::vector<Event> storedEvents();
    std::vector<Reminder> storedReminders();
    // The next save or removal fails with this message.
    void failNextWrite(std::string message);
    int fetchCount();
    // Waits for every reminder fetch to have called its completion.
    void finishFetches();

    // How the next access requests are answered.
    struct AccessAnswer {
        bool granted = true;
        std::optional<std::string> error;
        // Status of the entity type once answered (nothing: unchanged).
        std::optional<AuthorizationStatus> statusAfter = 3;
    };

    void setStatus(EntityType type, AuthorizationStatus status);
    void setAccessAnswer(AccessAnswer answer);
    // While held, access requests wait until releaseAccessRequests() answers them (in order,
    // on the releasing thread).
    void holdAccessRequests(bool hold);
    std::size_t heldAccessRequests();
    void releaseAccessRequests();
    // Waits (at most `limit`) until `count` requests are held.
    bool waitForHeldAccessRequests(std::size_t count, std::chrono::milliseconds limit);
    int resetCount();
    int accessRequestCount();
    // Reports a change as the database would.
    void simulateChange();

    AuthorizationStatus authorizationStatus(EntityType type) override;
    void requestFullAccess(EntityType type, AccessCompletion completion) override;
    void reset() override;
    void setChangeHandler(std::function<void()> handler) override;

    std::vector<Calendar> calendars(EntityType type) override;
    std::optional<Calendar> defaultCalendar(EntityType type) override;
    std::vector<Event> events(Instant start, Instant end,
                              const std::optional<std::vector<std::string>>& calendarIds) override;
    std::optional<Event> event(const std::string& identifier) override;
    void saveEvent(Event& event) override;
    void removeEvent(const Event& event) override;
    void fetchReminders(const ReminderQuery& query, ReminderCompletion completion) override;
    std::optional<Reminder> reminder(const std::string& identifier) override;
    void saveReminder(Reminder& reminder) override;
    void removeReminder(const Reminder& reminder) override;

private:
    struct HeldRequest {
        EntityType type;
        AccessCompletion completion;
    };
    void answer(EntityType type, const AccessCompletion& completion);

    std::mutex lock;
    std::condition_variable heldChanged;
    AuthorizationStatus statuses[2] = {0, 0};
    AccessAnswer accessAnswer;
    bool holding = false;
    std::deque<HeldRequest> held;
    int resets = 0;
    int accessRequests = 0;
    std::function<void()> changeHandler;

    std::optional<Calendar> calendarNamed(EntityType type, const std::string& identifier);
    void takeWriteFailure();
    std::vector<Calendar> calendarLists[2];
    std::optional<std::string> defaults[2];
    std::vector<Event> eventRecords;
    std::vector<Reminder> reminderRecords;
    std::optional<std::string> writeFailure;
    int nextIdentifier = 1;
    int fetches = 0;
    std::vector<std::thread> fetchThreads;
};

}  // namespace lumory::cal
