#pragma once

#include <nlohmann/json.hpp>

#include "event_store.h"

namespace lumory::cal {

// Copies the request's reminder fields onto the reminder, in a fixed order; throws Failure for
// an unknown or read-only "listId". Never saves.
void applyReminder(const nlohmann::json& request, Reminder& reminder, EventStore& store);

// Marks the reminder completed now, or open again; the completion time goes with the state.
void setCompleted(Reminder& reminder, bool completed);

}  // namespace lumory::cal
