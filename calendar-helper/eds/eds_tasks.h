#pragma once

// Reminders as EDS tasks (VTODO) in task lists. Blocking calls; StoreError on a failed write.

#include <libecal/libecal.h>

#include <optional>
#include <string>
#include <vector>

#include "eds_clients.h"
#include "event_store.h"

namespace lumory::cal::eds {

// The reminders the query asks for; nothing when the store is not connected.
std::optional<std::vector<Reminder>> fetchReminders(ESourceRegistry* registry, ClientCache& clients,
                                                    const ReminderQuery& query);
// The reminder with that identifier; nothing when none, or when it names an event.
std::optional<Reminder> storedReminder(ESourceRegistry* registry, ClientCache& clients,
                                       const std::string& identifier);
void saveReminder(ESourceRegistry* registry, ClientCache& clients, Reminder& reminder);
void removeReminder(ESourceRegistry* registry, ClientCache& clients, const Reminder& reminder);

}  // namespace lumory::cal::eds
