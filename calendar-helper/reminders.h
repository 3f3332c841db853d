#pragma once

// Reminders as the peer sees them, which ones a fetch returns, and lists found by identifier.

#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "event_store.h"

namespace lumory::cal {

nlohmann::json encode(const Reminder& reminder);

// The rule both stores fetch by: the due instant (a date-only due date counts from its local
// midnight) or the completion time lies in [start, end).
bool reminderMatches(const ReminderQuery& query, const Reminder& reminder);

// The first reminder list with that identifier, in the store's order; never an event calendar.
std::optional<Calendar> reminderListWithId(EventStore& store, const std::string& identifier);

}  // namespace lumory::cal
