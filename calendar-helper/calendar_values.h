#pragma once

// How dates, colours and calendars travel between the helper and its peer.

#include <chrono>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "event_store.h"

namespace lumory::cal {

// The member of a request object, or nullptr when absent (or when the request is no object).
const nlohmann::json* field(const nlohmann::json& request, const char* key);
// The member when it is a string, else nullptr.
const std::string* stringField(const nlohmann::json& request, const char* key);

// A request date: an internet date-time with a zone, the same with fractional seconds, or a
// "yyyy-MM-dd" day meaning its local midnight. Anything else, numbers included, is no date.
std::optional<Instant> parseDate(const nlohmann::json* value);
// The reply form: UTC, whole seconds, e.g. 2025-03-01T14:30:00Z.
std::string formatDate(Instant date);
// The same text appended to `out`.
void appendDate(std::string& out, Instant date);

// "#RRGGBB" from sRGB components; nothing without three finite components.
std::optional<std::string> hexColor(const std::optional<std::vector<double>>& components);
std::string sourceName(SourceType type);
nlohmann::json encode(const Calendar& calendar);

// Plain, locale-independent text order: Unicode scalar values after canonical composition.
bool textLess(std::string_view a, std::string_view b);
// Stable order by (source title, title), as calendars and reminder lists are listed.
void sortCalendars(std::vector<Calendar>& calendars);

// A C time as an instant; nothing outside the years an instant can hold (about 1678 to 2261).
std::optional<Instant> instantFromTime(std::time_t time);
// The instant moved by `offset`, or nothing when that lies outside the same years: date
// arithmetic never wraps around.
std::optional<Instant> shifted(Instant instant, std::chrono::seconds offset);
// The whole seconds from `from` to `to`, counted without overflow.
std::chrono::seconds secondsBetween(Instant from, Instant to);

// Calendar fields in the helper's time zone (TZ honoured) and back.
Instant localMidnight(int year, int month, int day);
std::optional<Instant> instantOf(const DueDate& due);
DueDate localComponents(Instant date, bool withTime);

}  // namespace lumory::cal
