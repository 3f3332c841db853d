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

// A date needs no escaping.
void appendDateMember(std::string& out, const char* key, Instant date) {
    out += ",\"";
    out += key;
    out += "\":\"";
    appendDate(out, date);
    out += '"';
}

// The same object as encode(), written straight as compact JSON text; `times`, when given,
// replaces the event's own start, end and place in its series.
void appendEncoded(std::string& out, const Event& pattern, const Occurrence* times = nullptr) {
    Event timed;
    if (times) {
        // Only the times are copied, not the texts.
        timed.startDate = times->start;
        timed.endDate = times->end;
        timed.recurrenceDate = times->recurrence;
    }
    const Event& when = times ? timed : pattern;
    const Event& event = pattern;
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
    if (when.startDate) appendDateMember(out, "start", *when.startDate);
    if (when.endDate) appendDateMember(out, "end", *when.endDate);
    if (auto occurrence = when.occurrenceDate()) appendDateMember(out, "occurrence", *occurrence);
    if (event.lastModifiedDate) appendDateMember(out, "lastModified", *event.lastModifiedDate);
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

void EventListing::add(Event event) {
    if (!event.startDate) return;  // never in a window
    occurrences.push_back({*event.startDate, event.endDate, event.recurrenceDate,
                           static_cast<std::uint32_t>(patterns.size())});
    patterns.push_back(std::move(event));
}

Event EventListing::event(const Occurrence& occurrence) const {
    Event event = patterns[occurrence.pattern];
    event.startDate = occurrence.start;
    event.endDate = occurrence.end;
    event.recurrenceDate = occurrence.recurrence;
    return event;
}

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
    return event.startDate && occursInWindow(*event.startDate, event.endDate, start, end);
}

bool occursInWindow(Instant eventStart, std::optional<Instant> eventEnd, Instant start, Instant end) {
    Instant last = std::max(eventEnd.value_or(eventStart), eventStart);
    if (last == eventStart) return eventStart >= start && eventStart < end;
    return eventStart < end && last > start;
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

    // A year of a busy calendar, or of an event that repeats every minute, is hundreds of
    // thousands of occurrences: held compact, sorted by index, and written out as they are
    // encoded rather than built whole.
    const EventListing listing = context.store.eventListing(*from, *to, calendarIds);
    std::vector<std::uint32_t> order(listing.occurrences.size());
    for (std::uint32_t i = 0; i < order.size(); ++i) order[i] = i;
    std::stable_sort(order.begin(), order.end(), [&](std::uint32_t a, std::uint32_t b) {
        return listing.occurrences[a].start < listing.occurrences[b].start;
    });
    std::string idText;
    if (id) {
        try {
            idText = ",\"id\":" + id->dump(-1, ' ', false, json::error_handler_t::replace);
        } catch (const std::exception&) {
            return;  // an id that cannot be written gets no reply, as with every other reply
        }
    }
    context.emitStreamed([&](const Output::Piece& write) {
        write("{\"events\":[");
        std::string text;
        for (size_t i = 0; i < order.size(); ++i) {
            text.clear();
            if (i > 0) text += ',';
            const Occurrence& occurrence = listing.occurrences[order[i]];
            appendEncoded(text, listing.patterns[occurrence.pattern], &occurrence);
            write(text);
        }
        write("]");
        write(idText);
        write("}");
    });
}

}  // namespace lumory::cal
