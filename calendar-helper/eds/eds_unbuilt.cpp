// Temporary members of the EDS store until the data files provide them; each entry is removed
// as its real definition lands.

#include "eds_event_store.h"

namespace lumory::cal {
namespace {
constexpr const char* kNotAvailable = "not available";
}

std::vector<Calendar> EdsEventStore::calendars(EntityType) { throw StoreError(kNotAvailable); }
std::optional<Calendar> EdsEventStore::defaultCalendar(EntityType) {
    throw StoreError(kNotAvailable);
}
std::vector<Event> EdsEventStore::events(Instant, Instant,
                                         const std::optional<std::vector<std::string>>&) {
    throw StoreError(kNotAvailable);
}
std::optional<Event> EdsEventStore::event(const std::string&) { throw StoreError(kNotAvailable); }
void EdsEventStore::saveEvent(Event&) { throw StoreError(kNotAvailable); }
void EdsEventStore::removeEvent(const Event&) { throw StoreError(kNotAvailable); }
void EdsEventStore::fetchReminders(const ReminderQuery&, ReminderCompletion completion) {
    completion(std::nullopt);
}
std::optional<Reminder> EdsEventStore::reminder(const std::string&) {
    throw StoreError(kNotAvailable);
}
void EdsEventStore::saveReminder(Reminder&) { throw StoreError(kNotAvailable); }
void EdsEventStore::removeReminder(const Reminder&) { throw StoreError(kNotAvailable); }

}  // namespace lumory::cal
