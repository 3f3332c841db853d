// The data half of the in-memory store: plain containers, searched by the same rules as the
// EDS store applies.

#include <algorithm>

#include "events.h"
#include "memory_event_store.h"
#include "reminders.h"

namespace lumory::cal {

namespace {
std::size_t slot(EntityType type) {
    return type == EntityType::event ? 0 : 1;
}
}  // namespace

MemoryEventStore::~MemoryEventStore() {
    finishFetches();
}

void MemoryEventStore::finishFetches() {
    std::vector<std::thread> running;
    {
        std::lock_guard guard(lock);
        running.swap(fetchThreads);
    }
    for (auto& thread : running) thread.join();
}

void MemoryEventStore::addCalendar(EntityType type, Calendar calendar) {
    std::lock_guard guard(lock);
    calendarLists[slot(type)].push_back(std::move(calendar));
}

void MemoryEventStore::setDefaultCalendar(EntityType type, std::optional<std::string> identifier) {
    std::lock_guard guard(lock);
    defaults[slot(type)] = std::move(identifier);
}

void MemoryEventStore::addEvent(Event event) {
    std::lock_guard guard(lock);
    if (event.calendar) event.storedCalendarId = event.calendar->identifier;
    eventRecords.push_back(std::move(event));
}

void MemoryEventStore::addReminder(Reminder reminder) {
    std::lock_guard guard(lock);
    if (reminder.list) reminder.storedListId = reminder.list->identifier;
    reminderRecords.push_back(std::move(reminder));
}

std::vector<Event> MemoryEventStore::storedEvents() {
    std::lock_guard guard(lock);
    return eventRecords;
}

std::vector<Reminder> MemoryEventStore::storedReminders() {
    std::lock_guard guard(lock);
    return reminderRecords;
}

void MemoryEventStore::failNextWrite(std::string message) {
    std::lock_guard guard(lock);
    writeFailure = std::move(message);
}

int MemoryEventStore::fetchCount() {
    std::lock_guard guard(lock);
    return fetches;
}

std::optional<Calendar> MemoryEventStore::calendarNamed(EntityType type,
                                                        const std::string& identifier) {
    for (const auto& calendar : calendarLists[slot(type)])
        if (calendar.identifier == identifier) return calendar;
    return std::nullopt;
}

void MemoryEventStore::takeWriteFailure() {
    if (!writeFailure) return;
    std::string message = std::move(*writeFailure);
    writeFailure.reset();
    throw StoreError(message);
}

std::vector<Calendar> MemoryEventStore::calendars(EntityType type) {
    std::lock_guard guard(lock);
    return calendarLists[slot(type)];
}

std::optional<Calendar> MemoryEventStore::defaultCalendar(EntityType type) {
    std::lock_guard guard(lock);
    if (!defaults[slot(type)]) return std::nullopt;
    return calendarNamed(type, *defaults[slot(type)]);
}

std::vector<Event> MemoryEventStore::events(
    Instant start, Instant end, const std::optional<std::vector<std::string>>& calendarIds) {
    std::lock_guard guard(lock);
    std::vector<Event> found;
    for (const auto& record : eventRecords) {
        if (calendarIds && std::find(calendarIds->begin(), calendarIds->end(),
                                     record.storedCalendarId) == calendarIds->end())
            continue;
        if (eventInWindow(record, start, end)) found.push_back(record);
    }
    return found;
}

std::optional<Event> MemoryEventStore::event(const std::string& identifier) {
    std::lock_guard guard(lock);
    const Event* first = nullptr;
    for (const auto& record : eventRecords) {
        if (record.identifier != identifier) continue;
        if (!first || record.occurrenceDate() < first->occurrenceDate()) first = &record;
    }
    if (!first) return std::nullopt;
    return *first;
}

void MemoryEventStore::saveEvent(Event& event) {
    std::lock_guard guard(lock);
    takeWriteFailure();
    if (!event.calendar || !calendarNamed(EntityType::event, event.calendar->identifier))
        throw StoreError("no such calendar");
    if (event.identifier.empty()) {
        event.identifier = "event-" + std::to_string(nextIdentifier++);
    } else {
        auto same = [&](const Event& record) {
            return record.identifier == event.identifier &&
                   record.recurrenceDate == event.recurrenceDate;
        };
        auto found = std::find_if(eventRecords.begin(), eventRecords.end(), same);
        if (found == eventRecords.end()) throw StoreError("no such event");
        eventRecords.erase(found);
    }
    event.storedCalendarId = event.calendar->identifier;
    eventRecords.push_back(event);
}

void MemoryEventStore::removeEvent(const Event& event) {
    std::lock_guard guard(lock);
    takeWriteFailure();
    auto found = std::find_if(eventRecords.begin(), eventRecords.end(), [&](const Event& record) {
        return record.identifier == event.identifier &&
               record.recurrenceDate == event.recurrenceDate;
    });
    if (found == eventRecords.end()) throw StoreError("no such event");
    eventRecords.erase(found);
}

void MemoryEventStore::fetchReminders(const ReminderQuery& query, ReminderCompletion completion) {
    bool crowded = false;
    {
        std::lock_guard guard(lock);
        crowded = fetchThreads.size() >= 32;
    }
    // Long runs of listings (the fuzzer's) must not pile up threads.
    if (crowded) finishFetches();
    std::lock_guard guard(lock);
    ++fetches;
    std::vector<Reminder> found;
    for (const auto& record : reminderRecords)
        if (reminderMatches(query, record)) found.push_back(record);
    // Answers from another thread, as a real store does.
    fetchThreads.emplace_back(
        [found = std::move(found), completion = std::move(completion)] { completion(found); });
}

std::optional<Reminder> MemoryEventStore::reminder(const std::string& identifier) {
    std::lock_guard guard(lock);
    for (const auto& record : reminderRecords)
        if (record.identifier == identifier) return record;
    return std::nullopt;
}

void MemoryEventStore::saveReminder(Reminder& reminder) {
    std::lock_guard guard(lock);
    takeWriteFailure();
    if (!reminder.list || !calendarNamed(EntityType::reminder, reminder.list->identifier))
        throw StoreError("no such list");
    if (reminder.identifier.empty()) {
        reminder.identifier = "reminder-" + std::to_string(nextIdentifier++);
    } else {
        auto found = std::find_if(
            reminderRecords.begin(), reminderRecords.end(),
            [&](const Reminder& record) { return record.identifier == reminder.identifier; });
        if (found == reminderRecords.end()) throw StoreError("no such reminder");
        reminderRecords.erase(found);
    }
    reminder.storedListId = reminder.list->identifier;
    reminderRecords.push_back(reminder);
}

void MemoryEventStore::removeReminder(const Reminder& reminder) {
    std::lock_guard guard(lock);
    takeWriteFailure();
    auto found = std::find_if(
        reminderRecords.begin(), reminderRecords.end(),
        [&](const Reminder& record) { return record.identifier == reminder.identifier; });
    if (found == reminderRecords.end()) throw StoreError("no such reminder");
    reminderRecords.erase(found);
}

}  // namespace lumory::cal
