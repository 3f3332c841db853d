// Temporary data members of the in-memory store until the data half provides them; each entry
// is removed as its real definition lands.

#include "memory_event_store.h"

namespace lumory::cal {
namespace {
constexpr const char* kNotAvailable = "not available";
}

std::vector<Calendar> MemoryEventStore::calendars(EntityType) { throw StoreError(kNotAvailable); }
std::optional<Calendar> MemoryEventStore::defaultCalendar(EntityType) {
    throw StoreError(kNotAvailable);
}
std::vector<Event> MemoryEventStore::events(Instant, Instant,
                                            const std::optional<std::vector<std::string>>&) {
    throw StoreError(kNotAvailable);
}
std::optional<Event> MemoryEventStore::event(const std::string&) {
    throw StoreError(kNotAvailable);
}
void MemoryEventStore::saveEvent(Event&) { throw StoreError(kNotAvailable); }
void MemoryEventStore::removeEvent(const Event&) { throw StoreError(kNotAvailable); }
void MemoryEventStore::fetchReminders(const ReminderQuery&, ReminderCompletion completion) {
    completion(std::nullopt);
}
std::optional<Reminder> MemoryEventStore::reminder(const std::string&) {
    throw StoreError(kNotAvailable);
}
void MemoryEventStore::saveReminder(Reminder&) { throw StoreError(kNotAvailable); }
void MemoryEventStore::removeReminder(const Reminder&) { throw StoreError(kNotAvailable); }

}  // namespace lumory::cal
