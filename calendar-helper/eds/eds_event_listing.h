#pragma once

// Events as the store reads them: the occurrences in a window, repeating events expanded here,
// and one event by its identifier.

#include <libecal/libecal.h>

#include <optional>
#include <string>
#include <vector>

#include "eds_clients.h"
#include "event_store.h"

namespace lumory::cal::eds {

// Occurrences overlapping [start, end) in the calendars named (all event calendars when none).
EventListing eventListing(ESourceRegistry* registry, ClientCache& clients, Instant start,
                          Instant end, const std::optional<std::vector<std::string>>& calendarIds);
// The event with that identifier (a series as its first occurrence), or nothing.
std::optional<Event> storedEvent(ESourceRegistry* registry, ClientCache& clients,
                                 const std::string& identifier);

}  // namespace lumory::cal::eds
