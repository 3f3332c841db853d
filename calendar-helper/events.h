#pragma once

// Events as the peer sees them, and how one event or occurrence is found again.

#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "event_store.h"

namespace lumory::cal {

nlohmann::json encode(const Event& event);
// The same object as compact JSON text.
std::string encodeText(const Event& event);

// Whether an occurrence belongs to the window [start, end): it overlaps it, or, lasting no time
// at all, starts inside it. Both stores list by this rule.
bool eventInWindow(const Event& event, Instant start, Instant end);
bool occursInWindow(Instant eventStart, std::optional<Instant> eventEnd, Instant start, Instant end);

// The first event calendar with that identifier, in the store's order.
std::optional<Calendar> calendarWithId(EventStore& store, const std::string& identifier);

// By identifier alone, or the occurrence within a second of `occurrence`, searched one day
// either side; no fall-back to the identifier once an occurrence is given.
std::optional<Event> findEvent(EventStore& store, const std::string& identifier,
                               std::optional<Instant> occurrence);

}  // namespace lumory::cal
