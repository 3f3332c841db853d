#include "events.h"

#include <algorithm>
#include <set>

#include "calendar_values.h"
#include "commands.h"

namespace lumory::cal {

using nlohmann::json;
using namespace std::chrono_literals;

namespace {
const char* const kEventsNeedDates = "events needs `from` and `to`";

// A "calendars" member that selects calendars: an array of strings only.
std::optional<std::set<std::string>> chosenIds(const json* value) {
    if (!value || !value->is_array()) return std::nullopt;
    std::set<std::string> ids;
    for (const auto& item : *value) {
        if (!item.is_string()) return std::nullopt;
        ids.insert(item.get<std::string>());
    }
    return ids;
}
}  // namespace

json encode(const Event& event) {
    json object = {
        {"id", event.identifier},
        {"title", event.title.value_or("")},
        {"isAllDay", event.isAllDay},
        {"calendarId", event.calendar ? event.calendar->identifier : ""},
        {"calendar", event.calendar ? event.calendar->title : ""},
        {"isRecurring", event.hasRecurrenceRules},
        {"writable", event.calendar && event.calendar->allowsContentModifications},
        {"availability", event.availability},
    };
    if (event.startDate) object["start"] = formatDate(*event.startDate);
    if (event.endDate) object["end"] = formatDate(*event.endDate);
    if (auto occurrence = event.occurrenceDate()) object["occurrence"] = formatDate(*occurrence);
    if (event.lastModifiedDate) object["lastModified"] = formatDate(*event.lastModifiedDate);
    if (event.notes) object["notes"] = *event.notes;
    if (event.url) object["url"] = *event.url;
    if (event.location) object["location"] = *event.location;
    if (event.calendar) {
        if (auto color = hexColor(event.calendar->colorComponents)) object["color"] = *color;
    }
    if (event.attendees) {
        json attendees = json::array();
        for (const auto& attendee : *event.attendees)
            attendees.push_back(attendee.name.empty() ? attendee.address : attendee.name);
        object["attendees"] = std::move(attendees);
    }
    return object;
}

bool eventInWindow(const Event& event, Instant start, Instant end) {
    if (!event.startDate) return false;
    Instant eventEnd = std::max(event.endDate.value_or(*event.startDate), *event.startDate);
    if (eventEnd == *event.startDate) return *event.startDate >= start && *event.startDate < end;
    return *event.startDate < end && eventEnd > start;
}

std::optional<Calendar> calendarWithId(EventStore& store, const std::string& identifier) {
    for (auto& calendar : store.calendars(EntityType::event))
        if (calendar.identifier == identifier) return calendar;
    return std::nullopt;
}

std::optional<Event> findEvent(EventStore& store, const std::string& identifier,
                               std::optional<Instant> occurrence) {
    if (!occurrence) return store.event(identifier);
    for (auto& event : store.events(*occurrence - 24h, *occurrence + 24h, std::nullopt)) {
        if (event.identifier.empty() || event.identifier != identifier) continue;
        auto date = event.occurrenceDate();
        if (date && (*date > *occurrence ? *date - *occurrence : *occurrence - *date) < 1s)
            return std::move(event);
    }
    return std::nullopt;
}

void listEvents(CommandContext& context, const RequestId& id, const json& request) {
    if (!requireAccess(context, id)) return;
    auto from = parseDate(field(request, "from"));
    if (!from) return context.fail(id, kEventsNeedDates);
    auto to = parseDate(field(request, "to"));
    if (!to) return context.fail(id, kEventsNeedDates);

    std::optional<std::vector<std::string>> calendarIds;
    if (auto wanted = chosenIds(field(request, "calendars"))) {
        calendarIds.emplace();
        for (auto& calendar : context.store.calendars(EntityType::event))
            if (wanted->count(calendar.identifier)) calendarIds->push_back(calendar.identifier);
        if (calendarIds->empty()) return context.reply(id, {{"events", json::array()}});
    }

    auto events = context.store.events(*from, *to, calendarIds);
    std::stable_sort(events.begin(), events.end(), [](const Event& a, const Event& b) {
        return a.startDate.value_or(Instant::min()) < b.startDate.value_or(Instant::min());
    });
    json encoded = json::array();
    for (const auto& event : events) encoded.push_back(encode(event));
    context.reply(id, {{"events", std::move(encoded)}});
}

}  // namespace lumory::cal
