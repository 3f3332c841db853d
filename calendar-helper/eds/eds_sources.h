#pragma once

// Calendars and task lists as EDS sources, shared by the data files of the EDS store.

#include <libecal/libecal.h>

#include <optional>
#include <string>
#include <vector>

#include "eds_clients.h"
#include "event_store.h"
#include "gobject_ptr.h"

namespace lumory::cal::eds {

// A source with its open client; the client is null when the source cannot be opened.
struct OpenSource {
    GObjectPtr<ESource> source;
    GObjectPtr<ECalClient> client;
    Calendar calendar;
};

// The enabled calendars (events) or task lists (reminders), in the registry's order; only those
// named in `only` when given, so that a calendar not asked for is not even opened.
std::vector<OpenSource> openSources(
    ESourceRegistry* registry, EntityType type, ClientCache& clients,
    const std::optional<std::vector<std::string>>& only = std::nullopt);
// The one source with that uid, when it is an enabled source of that kind.
std::optional<OpenSource> openSource(ESourceRegistry* registry, EntityType type,
                                     const std::string& uid, ClientCache& clients);
Calendar describe(ESourceRegistry* registry, ESource* source, EntityType type, ECalClient* client);

// Every enabled calendar (events) or task list (reminders), described.
std::vector<Calendar> calendars(ESourceRegistry* registry, EntityType type, ClientCache& clients);
// Where new events or reminders go when a request names no calendar.
std::optional<Calendar> defaultCalendar(ESourceRegistry* registry, EntityType type,
                                        ClientCache& clients);

}  // namespace lumory::cal::eds
