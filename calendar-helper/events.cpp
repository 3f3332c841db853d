#include "events.h"

#include <algorithm>
#include <set>

#include <glib.h>

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
// A JSON string; text that needs no escaping (the usual case) is copied as it stands, which
// keeps long listings cheap.
void appendString(std::string& out, const std::string& text) {
    bool plain = g_utf8_validate_len(text.data(), text.size(), nullptr);
    for (unsigned char c : text) plain = plain && c >= 0x20 && c != '"' && c != '\\';
    if (!plain) {
        out += json(text).dump(-1, ' ', false, json::error_handler_t::replace);
        return;
    }
    out += '"';
    out += text;
    out += '"';
}

void appendMember(std::string& out, const char* key, const std::string& value) {
    out += ",\"";
    out += key;
    out += "\":";
    appendString(out, value);
}

// The same object as encode(), written straight as compact JSON text.
void appendEncoded(std::string& out, const Event& event) {
    out += "{\"id\":";
    appendString(out, event.identifier);
    appendMember(out, "title", event.title.value_or(""));
    out += event.isAllDay ? ",\"isAllDay\":true" : ",\"isAllDay\":false";
    appendMember(out, "calendarId", event.calendar ? event.calendar->identifier : "");
    appendMember(out, "calendar", event.calendar ? event.calendar->title : "");
    out += event.hasRecurrenceRules ? ",\"isRecurring\":true" : ",\"isRecurring\":false";
    bool writable = event.calendar && event.calendar->allowsContentModifications;
    out += writable ? ",\"writable\":true" : ",\"writable\":false";
    out += ",\"availability\":" + std::to_string(event.availability);
    if (event.startDate) appendMember(out, "start", formatDate(*event.startDate));
    if (event.endDate) appendMember(out, "end", formatDate(*event.endDate));
    if (auto occurrence = event.occurrenceDate())
        appendMember(out, "occurrence", formatDate(*occurrence));
    if (event.lastModifiedDate)
        appendMember(out, "lastModified", formatDate(*event.lastModifiedDate));
    if (event.notes) appendMember(out, "notes", *event.notes);
    if (event.url) appendMember(out, "url", *event.url);
    if (event.location) appendMember(out, "location", *event.location);
    if (event.calendar) {
        if (auto color = hexColor(event.calendar->colorComponents))
            appendMember(out, "color", *color);
    }
    if (event.attendees) {
        out += ",\"attendees\":[";
        for (size_t i = 0; i < event.attendees->size(); ++i) {
            const auto& attendee = (*event.attendees)[i];
            if (i > 0) out += ',';
            appendString(out, attendee.name.empty() ? attendee.address : attendee.name);
        }
        out += ']';
    }
    out += '}';
}

}  // namespace

std::string encodeText(const Event& event) {
    std::string text;
    appendEncoded(text, event);
    return text;
}

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
    std::vector<const Event*> sorted;
    sorted.reserve(events.size());
    for (const auto& event : events) sorted.push_back(&event);
    std::stable_sort(sorted.begin(), sorted.end(), [](const Event* a, const Event* b) {
        return a->startDate.value_or(Instant::min()) < b->startDate.value_or(Instant::min());
    });

    // A year of a busy calendar is thousands of events: written as text, not built as a tree.
    std::string text = "{\"events\":[";
    for (size_t i = 0; i < sorted.size(); ++i) {
        if (i > 0) text += ',';
        appendEncoded(text, *sorted[i]);
    }
    text += ']';
    if (id) {
        try {
            text += ",\"id\":" + id->dump(-1, ' ', false, json::error_handler_t::replace);
        } catch (const std::exception&) {
            return;  // an id that cannot be written gets no reply, as with every other reply
        }
    }
    text += '}';
    context.emitText(std::move(text));
}

}  // namespace lumory::cal
