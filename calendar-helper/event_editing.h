#pragma once

#include <nlohmann/json.hpp>

#include "event_store.h"

namespace lumory::cal {

// Copies the request's event fields onto the event, in a fixed order; throws Failure for an
// unknown or read-only "calendarId" (fields applied before stay changed, nothing is saved).
void apply(const nlohmann::json& request, Event& event, EventStore& store);

}  // namespace lumory::cal
