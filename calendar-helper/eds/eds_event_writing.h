#pragma once

// Saving and removing events: a whole event or series, one occurrence of a series, and moves
// between calendars that never leave the event twice. Throws StoreError.

#include <libecal/libecal.h>

#include "eds_clients.h"
#include "event_store.h"

namespace lumory::cal::eds {

void saveEvent(ESourceRegistry* registry, ClientCache& clients, Event& event);
void removeEvent(ESourceRegistry* registry, ClientCache& clients, const Event& event);

}  // namespace lumory::cal::eds
