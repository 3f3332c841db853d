// Temporary members of the EDS store until the data files provide them; each entry is removed
// as its real definition lands.

#include "eds_event_store.h"

namespace lumory::cal {
namespace {
constexpr const char* kNotAvailable = "not available";
}

void EdsEventStore::fetchReminders(const ReminderQuery&, ReminderCompletion completion) {
    completion(std::nullopt);
}
std::optional<Reminder> EdsEventStore::reminder(const std::string&) {
    throw StoreError(kNotAvailable);
}
void EdsEventStore::saveReminder(Reminder&) { throw StoreError(kNotAvailable); }
void EdsEventStore::removeReminder(const Reminder&) { throw StoreError(kNotAvailable); }

}  // namespace lumory::cal
