#pragma once

// Instants to and from iCalendar times, in the helper's time zone where a time carries none.

#include <libecal/libecal.h>
#include <libical/ical.h>

#include <chrono>
#include <optional>
#include <string>

#include "event_store.h"

namespace lumory::cal::eds {

// The helper's zone as libical knows it (TZ first, then /etc/localtime); UTC when unknown.
ICalTimezone* localTimezone();

// A time as an instant: dates at their local midnight, floating times in the local zone, zoned
// times through `client`'s time zones (or their own attached zone).
std::optional<Instant> instantOf(ICalTime* time, const char* tzid, ECalClient* client);
// The same for libical's own value, which readers of many components use: libical-glib wraps
// every value it hands out in an object of its own.
std::optional<Instant> instantOf(const icaltimetype& time, const char* tzid, ECalClient* client);
std::optional<Instant> instantOf(ECalComponentDateTime* time, ECalClient* client);

// The zone a stored time is written in: its TZID's (through `client`, else libical's own),
// UTC, or none for dates and floating times.
ICalTimezone* zoneOf(ECalComponentDateTime* time, ECalClient* client);

// Wider than any zone's offset from UTC. Queries reach this far beyond their window, since the
// backend may read dates and floating times in any zone; the exact rule then decides alone.
constexpr std::chrono::hours kZoneMargin{15};

// UTC date-time, and the local calendar day of an instant as a DATE value.
ICalTime* utcTime(Instant instant);
// An instant as iCalendar's UTC text, as queries take it.
std::string utcText(Instant instant);
ICalTime* localDate(Instant instant);
// The same instant expressed in `zone` (null: floating local), as RECURRENCE-ID wants it.
ICalTime* timeInZone(Instant instant, ICalTimezone* zone, bool isDate);

}  // namespace lumory::cal::eds
